#include "view/win32/icon_file.hpp"

#include <cstdint>
#include <cstring>
#include <vector>

namespace pasotune::win32view {

namespace {

std::uint32_t Get16(std::string_view b, std::size_t at) {
  return static_cast<std::uint8_t>(b[at]) | static_cast<std::uint8_t>(b[at + 1]) << 8;
}

std::uint32_t Get32(std::string_view b, std::size_t at) {
  return Get16(b, at) | Get16(b, at + 2) << 16;
}

void Put16(std::vector<BYTE>& out, std::uint32_t v) {
  out.push_back(static_cast<BYTE>(v & 0xff));
  out.push_back(static_cast<BYTE>((v >> 8) & 0xff));
}

void Put32(std::vector<BYTE>& out, std::uint32_t v) {
  Put16(out, v & 0xffff);
  Put16(out, v >> 16);
}

struct Entry {
  std::uint32_t width, height, bitCount, size, offset;
};

// An image is a PNG, or a bitmap header with its colour and mask rows; the
// system decoder is handed only images whose rows lie inside the file.
bool Plausible(std::string_view image) {
  static constexpr char kPng[] = "\x89PNG\r\n\x1a\n";
  if (image.size() >= 8 && std::memcmp(image.data(), kPng, 8) == 0) return true;
  if (image.size() < 40 || Get32(image, 0) < 40) return false;
  const std::uint32_t headerSize = Get32(image, 0);
  const auto width = static_cast<std::int32_t>(Get32(image, 4));
  const auto height = static_cast<std::int32_t>(Get32(image, 8));
  const std::uint32_t planes = Get16(image, 12), bits = Get16(image, 14);
  const std::uint32_t compression = Get32(image, 16);
  if (width <= 0 || width > 1024 || height <= 0 || height > 2048 || planes != 1 ||
      compression != BI_RGB)
    return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
  std::uint64_t colours = bits <= 8 ? Get32(image, 32) : 0;
  if (bits <= 8 && colours == 0) colours = 1u << bits;
  const std::uint64_t rows = static_cast<std::uint64_t>(height) / 2;
  const std::uint64_t colourStride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
  const std::uint64_t maskStride = (static_cast<std::uint64_t>(width) + 31) / 32 * 4;
  const std::uint64_t need = headerSize + colours * 4 + (colourStride + maskStride) * rows;
  return need <= image.size();
}

}  // namespace

HICON IconFromFile(std::string_view bytes, int size) {
  // ICONDIR: reserved 0, type 1, count, then 16-byte entries.
  if (bytes.size() < 6 || Get16(bytes, 0) != 0 || Get16(bytes, 2) != 1) return nullptr;
  const std::uint32_t count = Get16(bytes, 4);
  if (count == 0 || bytes.size() < 6 + 16 * static_cast<std::size_t>(count)) return nullptr;

  // The resource form of the directory (14-byte entries ending in an id)
  // is what the system's chooser reads; ids are entry numbers plus one.
  std::vector<Entry> entries;
  std::vector<BYTE> directory;
  Put16(directory, 0);
  Put16(directory, 1);
  Put16(directory, 0);  // count, set below
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = 6 + 16 * static_cast<std::size_t>(i);
    Entry e{static_cast<std::uint8_t>(bytes[at]), static_cast<std::uint8_t>(bytes[at + 1]),
            Get16(bytes, at + 6), Get32(bytes, at + 8), Get32(bytes, at + 12)};
    if (e.width == 0) e.width = 256;
    if (e.height == 0) e.height = 256;
    if (e.size == 0 || e.offset > bytes.size() || e.size > bytes.size() - e.offset) continue;
    if (!Plausible(bytes.substr(e.offset, e.size))) continue;
    directory.insert(directory.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                     bytes.begin() + static_cast<std::ptrdiff_t>(at) + 8);
    Put32(directory, e.size);
    entries.push_back(e);
    Put16(directory, static_cast<std::uint32_t>(entries.size()));
  }
  if (entries.empty()) return nullptr;
  directory[4] = static_cast<BYTE>(entries.size() & 0xff);
  directory[5] = static_cast<BYTE>(entries.size() >> 8);

  const int id = ::LookupIconIdFromDirectoryEx(directory.data(), TRUE, size, size, LR_DEFAULTCOLOR);
  if (id <= 0 || static_cast<std::size_t>(id) > entries.size()) return nullptr;
  const Entry& e = entries[static_cast<std::size_t>(id) - 1];
  // The bytes are copied: the system may write to the image it is given.
  std::vector<BYTE> image(bytes.begin() + e.offset, bytes.begin() + e.offset + e.size);
  return ::CreateIconFromResourceEx(image.data(), e.size, TRUE, 0x00030000,
                                    static_cast<int>(e.width), static_cast<int>(e.height),
                                    LR_DEFAULTCOLOR);
}

}  // namespace pasotune::win32view

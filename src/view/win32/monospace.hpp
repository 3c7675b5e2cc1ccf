// The window's four monospaced fonts: Consolas where it is installed;
// elsewhere the monospaced family that keeps every caption inside its
// control, narrowed where none does.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "view/win32/windows_api.hpp"

namespace pasotune::win32view {

enum class Face { kSmall, kSmallBold, kLarge, kLargeBold };

inline constexpr double kSmallPoints = 9.75;
inline constexpr double kLargePoints = 12;

// A text a control shows, and the pixels its control leaves for it.
struct FitSample {
  std::wstring text;
  Face face;
  int width;
};

class MonospaceFonts {
 public:
  MonospaceFonts(int dpi, const std::vector<FitSample>& samples);
  ~MonospaceFonts();
  MonospaceFonts(const MonospaceFonts&) = delete;
  MonospaceFonts& operator=(const MonospaceFonts&) = delete;

  HFONT Get(Face face) const { return fonts_[static_cast<std::size_t>(face)]; }
  const std::wstring& Family() const { return family_; }

  // Installed families with this exact name.
  static bool Installed(const std::wstring& family);
  // The families to try, best first: Consolas alone where installed.
  static std::vector<std::wstring> Candidates();
  // The largest ratio of a sample's extent to its room (at most 1 fits).
  static double Overflow(const std::array<HFONT, 4>& fonts, const std::vector<FitSample>& samples);

 private:
  std::array<HFONT, 4> Create(const std::wstring& family, int dpi,
                              const std::array<int, 4>& widths) const;
  void Release(std::array<HFONT, 4>& fonts) const;

  std::wstring family_;
  std::array<HFONT, 4> fonts_{};
};

}  // namespace pasotune::win32view

// Any config.txt: the load never crashes, chooses only items the boxes hold,
// reads no further than its limit, and what the close writes reads back to
// the same choices.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim_world.hpp"

namespace {

constexpr char kRuta[] = "/programa/config.txt";

bool ChoiceIsAnItem(const pasotune::DropDown& box) {
  const auto& items = box.Items();
  return box.ListIndex() == -1 || std::find(items.begin(), items.end(), box.Text()) != items.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string file(reinterpret_cast<const char*>(data), size);
  // A leading DEL stands for a huge file: the rest repeated past the limit.
  if (!file.empty() && file[0] == '\x7F' && file.size() > 1) {
    const std::string unit = file.substr(1);
    while (file.size() <= pasotune::kMaxConfigBytes + unit.size()) file += unit;
  }

  pasotune::fuzz::SimWorld w;
  w.files.files[kRuta] = file;
  w.app.Load();
  const pasotune::Form1& f = w.app.form;

  FUZZ_CHECK(ChoiceIsAnItem(f.HPORT) && ChoiceIsAnItem(f.ComboST));
  FUZZ_CHECK(f.Command3.Caption() == "CTCSS " + f.ComboST.Text());
  // Loading never writes, and says something only about a file too large.
  FUZZ_CHECK(w.files.files[kRuta] == file);
  FUZZ_CHECK(f.List1.ListCount() == (file.size() > pasotune::kMaxConfigBytes ? 1u : 0u));

  w.app.settings.GuardarConfiguracion();
  const std::string written = w.files.files[kRuta];
  FUZZ_CHECK(written == "Puerto=" + f.HPORT.Text() + "\r\nCTCSS=" + f.ComboST.Text() + "\r\n");

  pasotune::fuzz::SimWorld again;
  again.files.files[kRuta] = written;
  again.app.Load();
  FUZZ_CHECK(again.app.form.HPORT.Text() == f.HPORT.Text());
  FUZZ_CHECK(again.app.form.ComboST.Text() == f.ComboST.Text());
  return 0;
}

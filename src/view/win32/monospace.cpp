#include "view/win32/monospace.hpp"

#include <algorithm>
#include <cmath>

namespace pasotune::win32view {

namespace {

constexpr wchar_t kConsolas[] = L"Consolas";

struct DeviceContext {
  HDC dc = ::CreateCompatibleDC(nullptr);
  ~DeviceContext() { ::DeleteDC(dc); }
};

double Points(Face face) {
  return face == Face::kSmall || face == Face::kSmallBold ? kSmallPoints : kLargePoints;
}

bool Bold(Face face) {
  return face == Face::kSmallBold || face == Face::kLargeBold;
}

int CALLBACK Found(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

int CALLBACK Collect(const LOGFONTW* font, const TEXTMETRICW* metrics, DWORD type, LPARAM out) {
  auto& names = *reinterpret_cast<std::vector<std::wstring>*>(out);
  const std::wstring name = font->lfFaceName;
  // Scalable, fixed pitch (the TMPF_FIXED_PITCH bit set means variable),
  // and not the vertical variant of a family.
  const bool fixed = (metrics->tmPitchAndFamily & TMPF_FIXED_PITCH) == 0;
  if (fixed && (type & RASTER_FONTTYPE) == 0 && !name.empty() && name[0] != L'@' &&
      std::find(names.begin(), names.end(), name) == names.end()) {
    names.push_back(name);
  }
  return 1;
}

}  // namespace

bool MonospaceFonts::Installed(const std::wstring& family) {
  DeviceContext dc;
  LOGFONTW font{};
  font.lfCharSet = DEFAULT_CHARSET;
  family.copy(font.lfFaceName, LF_FACESIZE - 1);
  bool found = false;
  ::EnumFontFamiliesExW(dc.dc, &font, Found, reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

std::vector<std::wstring> MonospaceFonts::Candidates() {
  if (Installed(kConsolas)) return {kConsolas};
  std::vector<std::wstring> names;
  // Inconsolata was drawn after Consolas and keeps its widths.
  for (const wchar_t* preferred : {L"Inconsolata", L"Lucida Console", L"Courier New"}) {
    if (Installed(preferred)) names.emplace_back(preferred);
  }
  DeviceContext dc;
  LOGFONTW all{};
  all.lfCharSet = DEFAULT_CHARSET;
  ::EnumFontFamiliesExW(dc.dc, &all, Collect, reinterpret_cast<LPARAM>(&names), 0);
  return names;
}

std::array<HFONT, 4> MonospaceFonts::Create(const std::wstring& family, int dpi,
                                            const std::array<int, 4>& widths) const {
  std::array<HFONT, 4> fonts{};
  for (Face face : {Face::kSmall, Face::kSmallBold, Face::kLarge, Face::kLargeBold}) {
    LOGFONTW font{};
    font.lfHeight = -static_cast<LONG>(std::lround(Points(face) * dpi / 72.0));
    font.lfWidth = widths[static_cast<std::size_t>(face)];
    font.lfWeight = Bold(face) ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfOutPrecision = OUT_TT_PRECIS;
    font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    family.copy(font.lfFaceName, LF_FACESIZE - 1);
    fonts[static_cast<std::size_t>(face)] = ::CreateFontIndirectW(&font);
  }
  return fonts;
}

void MonospaceFonts::Release(std::array<HFONT, 4>& fonts) const {
  for (HFONT& f : fonts) {
    if (f != nullptr) ::DeleteObject(f);
    f = nullptr;
  }
}

double MonospaceFonts::Overflow(const std::array<HFONT, 4>& fonts,
                                const std::vector<FitSample>& samples) {
  DeviceContext dc;
  const HGDIOBJ old = ::GetCurrentObject(dc.dc, OBJ_FONT);
  double worst = 0;
  for (const FitSample& s : samples) {
    ::SelectObject(dc.dc, fonts[static_cast<std::size_t>(s.face)]);
    SIZE extent{};
    ::GetTextExtentPoint32W(dc.dc, s.text.c_str(), static_cast<int>(s.text.size()), &extent);
    worst = std::max(worst, static_cast<double>(extent.cx) / std::max(1, s.width));
  }
  ::SelectObject(dc.dc, old);
  return worst;
}

MonospaceFonts::MonospaceFonts(int dpi, const std::vector<FitSample>& samples) {
  const std::vector<std::wstring> candidates = Candidates();
  const std::array<int, 4> natural{};
  if (candidates.empty() || candidates.front() == kConsolas) {
    // The design font is taken as it is; with no monospaced family at all
    // the system maps the request to what it has.
    family_ = candidates.empty() ? kConsolas : candidates.front();
    fonts_ = Create(family_, dpi, natural);
    return;
  }
  double best = 0;
  std::wstring bestFamily;
  for (const std::wstring& family : candidates) {
    std::array<HFONT, 4> fonts = Create(family, dpi, natural);
    const double overflow = Overflow(fonts, samples);
    if (overflow <= 1) {
      family_ = family;
      fonts_ = fonts;
      return;
    }
    Release(fonts);
    if (bestFamily.empty() || overflow < best) {
      best = overflow;
      bestFamily = family;
    }
  }
  // No family fits at its own width: the one that comes nearest, its
  // characters narrowed until everything fits, at the same heights.
  family_ = bestFamily;
  std::array<int, 4> widths{};
  {
    std::array<HFONT, 4> fonts = Create(family_, dpi, natural);
    DeviceContext dc;
    for (std::size_t i = 0; i < fonts.size(); ++i) {
      const HGDIOBJ old = ::SelectObject(dc.dc, fonts[i]);
      TEXTMETRICW metrics{};
      ::GetTextMetricsW(dc.dc, &metrics);
      ::SelectObject(dc.dc, old);
      widths[i] = std::max(1, static_cast<int>(std::floor(metrics.tmAveCharWidth / best)));
    }
    Release(fonts);
  }
  for (;;) {
    fonts_ = Create(family_, dpi, widths);
    if (Overflow(fonts_, samples) <= 1 || *std::max_element(widths.begin(), widths.end()) <= 1) {
      return;
    }
    Release(fonts_);
    for (int& w : widths) w = std::max(1, w - 1);
  }
}

MonospaceFonts::~MonospaceFonts() {
  Release(fonts_);
}

}  // namespace pasotune::win32view

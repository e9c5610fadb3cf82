#include "app/interface_font_win.h"

#include <windows.h>
#include <objidl.h>  // GDI+ needs PROPID, which the lean Windows header leaves out
#include <gdiplus.h>

#include <cwchar>

namespace tessary {

namespace {

bool familyAvailable(const wchar_t* name) {
  if (name == nullptr || name[0] == L'\0') return false;
  Gdiplus::FontFamily family(name);
  return family.GetLastStatus() == Gdiplus::Ok && family.IsAvailable() != FALSE;
}

std::wstring messageFontFamily() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return std::wstring();
  return metrics.lfMessageFont.lfFaceName;
}

// The TrueType face that GDI's font mapping picks for `name`. The mapping always
// yields an installed face, also where neither the name nor the message font's
// name is one (the message font may itself be a substitute name, which GDI+ does
// not resolve).
std::wstring gdiMappedFace(const wchar_t* name) {
  LOGFONTW request{};
  request.lfHeight = -14;
  request.lfWeight = FW_NORMAL;
  request.lfCharSet = DEFAULT_CHARSET;
  request.lfOutPrecision = OUT_TT_ONLY_PRECIS;  // GDI+ draws only outline fonts
  wcsncpy_s(request.lfFaceName, LF_FACESIZE, name, _TRUNCATE);
  HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) return std::wstring();
  std::wstring face;
  if (HFONT font = CreateFontIndirectW(&request)) {
    HGDIOBJ previous = SelectObject(dc, font);
    wchar_t chosen[LF_FACESIZE] = L"";
    if (previous != nullptr && GetTextFaceW(dc, LF_FACESIZE, chosen) > 0) face = chosen;
    if (previous != nullptr) SelectObject(dc, previous);
    DeleteObject(font);
  }
  DeleteDC(dc);
  return face;
}

std::wstring genericSansSerif() {
  const Gdiplus::FontFamily* generic = Gdiplus::FontFamily::GenericSansSerif();
  wchar_t name[LF_FACESIZE] = L"";
  if (generic == nullptr || generic->GetFamilyName(name) != Gdiplus::Ok) return std::wstring();
  return name;
}

}  // namespace

std::wstring interfaceFontFamily(const wchar_t* preferred) { return interfaceFontFamily(preferred, messageFontFamily()); }

std::wstring interfaceFontFamily(const wchar_t* preferred, const std::wstring& message) {
  if (familyAvailable(preferred)) return preferred;
  if (familyAvailable(message.c_str())) return message;
  const std::wstring mapped = preferred != nullptr ? gdiMappedFace(preferred) : std::wstring();
  if (familyAvailable(mapped.c_str())) return mapped;
  const std::wstring generic = genericSansSerif();
  if (familyAvailable(generic.c_str())) return generic;
  return preferred;  // no family GDI+ can draw in: the painter draws its texts through GDI
}

}  // namespace tessary

#include "app/interface_font_win.h"

#include <windows.h>
#include <objidl.h>  // GDI+ needs PROPID, which the lean Windows header leaves out
#include <gdiplus.h>

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

std::wstring genericSansSerif() {
  const Gdiplus::FontFamily* generic = Gdiplus::FontFamily::GenericSansSerif();
  wchar_t name[LF_FACESIZE] = L"";
  if (generic == nullptr || generic->GetFamilyName(name) != Gdiplus::Ok) return std::wstring();
  return name;
}

}  // namespace

std::wstring interfaceFontFamily(const wchar_t* preferred) {
  if (familyAvailable(preferred)) return preferred;
  const std::wstring message = messageFontFamily();
  if (familyAvailable(message.c_str())) return message;
  const std::wstring generic = genericSansSerif();
  if (familyAvailable(generic.c_str())) return generic;
  return preferred;  // nothing better: the system's own font mapping decides
}

}  // namespace tessary

#pragma once
// The family of the interface font, chosen once at start-up.
#include <string>

namespace tessary {

inline constexpr wchar_t kPreferredFontFamily[] = L"Segoe UI";

// `preferred` when the system has that family; otherwise the family of the
// system's message font; otherwise the generic sans-serif family. Text drawn in a
// family the system lacks would not appear at all. Needs GDI+ started.
std::wstring interfaceFontFamily(const wchar_t* preferred = kPreferredFontFamily);

}  // namespace tessary

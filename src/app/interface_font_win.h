#pragma once
// The family of the interface font, chosen once at start-up.
#include <string>

namespace tessary {

inline constexpr wchar_t kPreferredFontFamily[] = L"Segoe UI";

// `preferred` when the system has that family; otherwise the family of the
// system's message font; otherwise the TrueType face GDI maps `preferred` to;
// otherwise the generic sans-serif family; all as GDI+ can create them. When none
// of them is, `preferred` itself: the painter then draws its texts through GDI.
// Needs GDI+ started.
std::wstring interfaceFontFamily(const wchar_t* preferred = kPreferredFontFamily);

// The same choice with the system's message font family given (empty when the
// system names none).
std::wstring interfaceFontFamily(const wchar_t* preferred, const std::wstring& messageFamily);

}  // namespace tessary

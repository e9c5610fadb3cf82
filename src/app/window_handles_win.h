#pragma once
// Small helpers between the session's platform-neutral handles and Win32.
#include <windows.h>

#include <string>

#include "app/session_state.h"

namespace tessary {

inline HWND mainWindowOf(const Session& session) { return static_cast<HWND>(session.mainWindow); }

// The child control with that id, or null before the controls exist.
inline HWND controlWindow(const Session& session, int controlId) {
  const auto found = session.controls.find(controlId);
  return found == session.controls.end() ? nullptr : static_cast<HWND>(found->second);
}

// wchar_t is 16 bits on Windows, so the conversions only change the type.
inline std::wstring toWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string fromWide(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

// The whole window text of a window.
inline std::u16string windowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return std::u16string();
  std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, buffer.data(), length + 1);
  buffer.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return fromWide(buffer);
}

}  // namespace tessary

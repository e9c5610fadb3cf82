#include "app/desk_view_win.h"

#include <windows.h>

#include <string>

#include "app/window_handles_win.h"

namespace tessary {

void WindowDeskView::invalidate() {
  if (HWND window = mainWindowOf(session_)) InvalidateRect(window, nullptr, FALSE);
}

void WindowDeskView::setControlEnabled(int controlId, bool enabled) {
  if (HWND control = controlWindow(session_, controlId)) EnableWindow(control, enabled ? TRUE : FALSE);
}

void WindowDeskView::setControlText(int controlId, const std::u16string& text) {
  if (HWND control = controlWindow(session_, controlId)) SetWindowTextW(control, toWide(text).c_str());
}

std::u16string WindowDeskView::controlText(int controlId) {
  HWND control = controlWindow(session_, controlId);
  return control ? windowText(control) : std::u16string();
}

void WindowDeskView::focusControl(int controlId) {
  HWND target = controlId == 0 ? mainWindowOf(session_) : controlWindow(session_, controlId);
  if (target) SetFocus(target);
}

bool WindowDeskView::windowVisible() {
  HWND window = mainWindowOf(session_);
  return window && IsWindowVisible(window);
}

void WindowDeskView::keepKeyboard() {
  HWND window = mainWindowOf(session_);
  if (!window || !IsWindowVisible(window)) return;
  // Disabling the control that has the focus leaves the thread with no focus at
  // all; keys then reach nothing that acts on them. Only the active window of this
  // thread takes the keyboard back, so another program's focus is never taken.
  if (GetFocus() == nullptr && GetActiveWindow() == window) SetFocus(window);
}

}  // namespace tessary

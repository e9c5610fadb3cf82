#pragma once
// The main window's procedure and the keyboard pre-filter of the message loop.
#include <windows.h>

namespace tessary {

struct Session;

inline constexpr wchar_t kDeskWindowClass[] = L"TessaryDesk";
inline constexpr UINT_PTR kDeskTimerId = 1;
inline constexpr UINT kDeskTimerMilliseconds = 400;

// Window procedure of the class "TessaryDesk"; works on appSession().
LRESULT CALLBACK deskWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What the message loop does with a WM_KEYDOWN after the pre-filter has seen it.
enum class KeyRoute {
  Consumed,        // handled here; neither translated nor dispatched
  DispatchDirect,  // TranslateMessage and DispatchMessageW, without dialog navigation
  Continue,        // the ordinary route: IsDialogMessageW, then translate and dispatch
};

// The keyboard shortcuts, applied to a WM_KEYDOWN taken from the queue; they work
// whichever control has the focus.
KeyRoute keyboardPreFilter(Session& session, const MSG& message);

// Shows the new window normally (never minimised or maximised by the launcher's
// start-up information) and paints it.
void showDeskFirstTime(HWND window);

// Runs the message loop with the pre-filter until WM_QUIT or an error.
void runMessageLoop(Session& session);

}  // namespace tessary

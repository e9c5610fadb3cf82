#include "app/window_proc_win.h"

#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <string>

#include "app/app_session_win.h"
#include "app/control_ids.h"
#include "app/controls_win.h"
#include "app/keyboard_rules.h"
#include "app/list_selection.h"
#include "app/mouse_rules.h"
#include "app/status_and_controls.h"
#include "app/tray_and_edit_win.h"
#include "app/window_handles_win.h"
#include "app/window_placement.h"
#include "exports/crop_geometry.h"
#include "imaging/background_job_win.h"
#include "imaging/image_loading_win.h"
#include "observations/marker_editing.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"
#include "viewer/canvas_painter_win.h"
#include "viewer/view_transform.h"

namespace tessary {

namespace {

constexpr LONG kMinTrackWidth = 1120;
constexpr LONG kMinTrackHeight = 780;
constexpr int kClockStripHeight = 39;
constexpr COLORREF kEditText = RGB(242, 238, 228);
constexpr COLORREF kEditBackground = RGB(34, 40, 63);

// Set while the window is shown for the first time: a show command taken from the
// process's start-up information must not minimise (and so hide) the new desk.
bool showingFirstTime = false;

void invalidateAll(HWND window) { InvalidateRect(window, nullptr, FALSE); }

// A handler that an exception interrupted (out of memory) may have changed part of
// the state and not the rest: the controls are laid out, shown and enabled again
// from the session, the mode buttons and the whole window (status line included)
// are repainted from it, so that nothing stays half done on screen.
void refreshAfterInterruption(Session& session) noexcept {
  try {
    layoutControls(session);
    refreshModeButtons(session);
  } catch (...) {
    try {
      updateControlStates(session);
    } catch (...) {
      // Nothing more can be done without memory; the next message tries again.
    }
  }
  if (HWND window = mainWindowOf(session)) invalidateAll(window);
}

// Messages whose handling only draws: an interrupted one is not followed by a
// refresh, which would ask for the same drawing again and again.
bool drawingMessage(UINT message) {
  return message == WM_PAINT || message == WM_ERASEBKGND || message == WM_DRAWITEM ||
         message == WM_CTLCOLOREDIT || message == WM_CTLCOLORSTATIC || message == WM_NCHITTEST;
}

// The control that had the keyboard focus when the desk was last deactivated.
HWND focusAtDeactivation = nullptr;

// WM_ACTIVATE, as dialog windows handle it: the control that had the keyboard focus
// when the desk lost the activation gets it back when the desk is activated again
// (the default handling gives it to the window itself, so that the next letters
// meant for a note would run shortcuts). Only the activation of the desk itself
// moves the focus, never another program's. True when handled.
bool onActivate(HWND window, WPARAM wParam) {
  if (LOWORD(wParam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    focusAtDeactivation = focus != nullptr && IsChild(window, focus) ? focus : nullptr;
    return false;
  }
  HWND control = focusAtDeactivation;
  if (HIWORD(wParam) != 0 || control == nullptr || !IsChild(window, control) || !IsWindowVisible(control) ||
      !IsWindowEnabled(control)) {
    return false;  // minimised, or nothing to give back: the window takes the focus
  }
  SetFocus(control);
  return true;
}

FocusKind focusKind(const Session& session, HWND focus) {
  if (!focus) return FocusKind::Other;
  if (focus == controlWindow(session, ID_PATH_EDIT)) return FocusKind::PathBox;
  if (focus == controlWindow(session, ID_NOTE_EDIT)) return FocusKind::NoteBox;
  if (focus == controlWindow(session, ID_GUIDE_TEXT)) return FocusKind::GuideText;
  if ((static_cast<DWORD>(GetWindowLongW(focus, GWL_STYLE)) & kOwnerDrawnStyleBits) != 0) {
    return FocusKind::OwnerDrawnButton;
  }
  return FocusKind::Other;
}

void onCreate(Session& session, HWND window) {
  session.mainWindow = window;
  createControls(session);
  addTrayIcon(session);
  DragAcceptFiles(window, TRUE);
  SetTimer(window, kDeskTimerId, kDeskTimerMilliseconds, nullptr);
}

void onDestroy(Session& session, HWND window) {
  KillTimer(window, kDeskTimerId);
  removeTrayIcon(session);
  PostQuitMessage(0);
}

void onSize(Session& session, WPARAM kind, LPARAM size) {
  if (kind == SIZE_MINIMIZED) {
    if (!showingFirstTime) hideToTray(session);
    return;
  }
  session.clientWidth = LOWORD(size);
  session.clientHeight = HIWORD(size);
  layoutControls(session);
}

void onPaint(Session& session, HWND window) {
  // EndPaint on every path, so that a failed paint is not asked for again and again.
  struct Paint {
    HWND window;
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window, &paint);
    ~Paint() { EndPaint(window, &paint); }
  } scope{window};
  if (scope.dc) paintWindow(session, scope.dc);
}

void onTimer(Session& session, HWND window) {
  autosaveTick(session);
  // The clock shows minutes: repaint its strip when the minute changes, and not at
  // all while the window is hidden.
  if (!IsWindowVisible(window)) return;
  const std::int64_t minute = session.unixNow() / 60;
  if (minute == session.lastClockMinute) return;
  session.lastClockMinute = minute;
  const RECT strip{0, session.clientHeight - kClockStripHeight, session.clientWidth, session.clientHeight};
  InvalidateRect(window, &strip, FALSE);
}

void onCommand(Session& session, WPARAM wParam) {
  const int controlId = LOWORD(wParam);
  const int code = HIWORD(wParam);
  if (controlId == ID_NOTE_EDIT) {
    if (code == EN_CHANGE) {
      const std::u16string text = session.view ? session.view->controlText(ID_NOTE_EDIT) : std::u16string();
      onNoteEdited(session, text);
    }
    return;
  }
  // Owner-drawn buttons report the second click of a quick pair as a double click;
  // it is a click like the first.
  if (code == BN_CLICKED || (code == BN_DOUBLECLICKED && controlId != ID_PATH_EDIT && controlId != ID_GUIDE_TEXT)) {
    runCommand(session, controlId);
  }
}

// WM_NEXTDLGCTL, sent by a multi-line edit box for Tab: the focus moves on through
// the tab order (or to the window named in wParam when lParam says so).
void onNextControl(HWND window, WPARAM wParam, LPARAM lParam) {
  HWND target = nullptr;
  if (LOWORD(lParam) != 0) {
    target = reinterpret_cast<HWND>(wParam);
  } else {
    HWND focus = GetFocus();
    if (focus != window && !IsChild(window, focus)) focus = nullptr;
    target = GetNextDlgTabItem(window, focus == window ? nullptr : focus, wParam != 0 ? TRUE : FALSE);
  }
  if (!target || !IsChild(window, target)) return;
  // An edit box reached by Tab has its whole text selected, as in dialogs.
  if ((SendMessageW(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) != 0) SendMessageW(target, EM_SETSEL, 0, -1);
  SetFocus(target);
}

// The painted title band is the window's caption: dragging it moves the window, a
// double click maximises or restores it, and the system menu belongs to it.
LRESULT onHitTest(Session& session, HWND window, WPARAM wParam, LPARAM lParam) {
  const LRESULT area = DefWindowProcW(window, WM_NCHITTEST, wParam, lParam);
  if (area != HTCLIENT) return area;
  POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  ScreenToClient(window, &point);
  return inTitleBand(point.x, point.y, session.clientWidth) ? HTCAPTION : HTCLIENT;
}

void onLeftButtonDown(Session& session, HWND window, LPARAM lParam) {
  const int x = GET_X_LPARAM(lParam);
  const int y = GET_Y_LPARAM(lParam);
  const PressDecision press = decidePress(session, x, y);
  // A press in the canvas takes the keyboard focus from the controls, so that the
  // single-key shortcuts work after clicking the image.
  if (press.focusMainWindow) SetFocus(window);
  switch (press.action) {
    case PressAction::Ignore:
      break;
    case PressAction::SelectListRow:
      selectListRow(session, press.listIndex);
      break;
    case PressAction::AddMarker:
      addMarkerAt(session, press.imageX, press.imageY);
      break;
    case PressAction::SelectMarker:
      saveSheet(session);
      selectMarker(session, press.markerId, false);
      break;
    case PressAction::StartDrag:
      session.cropStartX = press.imageX;
      session.cropStartY = press.imageY;
      session.lastMouseX = x;
      session.lastMouseY = y;
      session.dragging = true;
      SetCapture(window);
      if (session.interactionMode == InteractionMode::Crop) session.cropRect = CropRect{};
      break;
  }
}

void onMouseMove(Session& session, HWND window, LPARAM lParam) {
  if (!session.dragging || !session.currentImage) return;
  const int x = GET_X_LPARAM(lParam);
  const int y = GET_Y_LPARAM(lParam);
  if (session.interactionMode == InteractionMode::Pan) {
    // The image follows the pointer pixel for pixel, as the arrow keys move it.
    panView(session, x - session.lastMouseX, y - session.lastMouseY);
  } else {
    const Point image = screenToImage(session, x, y);
    session.cropRect = cropFromPoints(session.cropStartX, session.cropStartY, image.x, image.y,
                                      session.currentImage->width, session.currentImage->height);
    invalidateAll(window);
  }
  session.lastMouseX = x;
  session.lastMouseY = y;
}

void onLeftButtonUp(Session& session) {
  if (!session.dragging) return;
  session.dragging = false;
  ReleaseCapture();
}

void onMouseWheel(Session& session, HWND window, WPARAM wParam, LPARAM lParam) {
  POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  ScreenToClient(window, &point);
  const int delta = GET_WHEEL_DELTA_WPARAM(wParam);
  switch (wheelTarget(session, point.x, point.y)) {
    case WheelTarget::List:
      scrollList(session, delta);
      break;
    case WheelTarget::Canvas:
      zoomAbout(session, wheelZoom(session.zoom, delta), point.x - 20.0, point.y - 178.0);
      break;
    case WheelTarget::None:
      break;
  }
}

void onDropFiles(Session& session, HDROP drop) {
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  if (count != 1) {
    DragFinish(drop);
    showStatus(session, 53, true);
    return;
  }
  const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
  std::wstring path(static_cast<std::size_t>(length) + 1, L'\0');
  const UINT copied = DragQueryFileW(drop, 0, path.data(), length + 1);
  path.resize(std::min<std::size_t>(copied, length));
  DragFinish(drop);
  // A path that could not be read is no path: it must not load the plate.
  if (!dropLoads(count, path.size())) {
    showStatus(session, 53, true);
    return;
  }
  startImageLoad(session, fromWide(path));
}

void onTrayNotify(Session& session, LPARAM lParam) {
  switch (static_cast<UINT>(lParam)) {
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
      restoreFromTray(session);
      break;
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU:
      showTrayMenu(session);
      break;
    default:
      break;
  }
}

LRESULT handleDeskMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Broadcast by the shell when the taskbar (re)starts; the icon has to be added again.
  static const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  Session& session = appSession();
  if (taskbarCreated != 0 && message == taskbarCreated) {
    addTrayIcon(session);
    return 0;
  }
  switch (message) {
    case WM_CREATE:
      onCreate(session, window);
      return 0;
    case WM_DESTROY:
      onDestroy(session, window);
      return 0;
    case WM_SIZE:
      onSize(session, wParam, lParam);
      return 0;
    case WM_CLOSE:
      // A close request never destroys the window; only Quit does.
      hideToTray(session);
      return 0;
    case WM_PAINT:
      onPaint(session, window);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the painter covers the whole client area
    case WM_QUERYENDSESSION:
      return saveSheet(session) ? TRUE : FALSE;
    case WM_GETMINMAXINFO: {
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      limits->ptMinTrackSize = POINT{kMinTrackWidth, kMinTrackHeight};
      return 0;
    }
    case WM_DRAWITEM:
      drawOwnerButton(session, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_SYSCHAR:
      return 0;  // no menu, no beep
    case WM_SYSCOMMAND:
      // Alt or F10 alone opens nothing; Alt+Space opens the window's system menu.
      if ((wParam & 0xFFF0) == SC_KEYMENU && lParam != L' ') return 0;
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_ACTIVATE:
      if (onActivate(window, wParam)) return 0;
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_NCHITTEST:
      return onHitTest(session, window, wParam, lParam);
    case WM_NEXTDLGCTL:
      onNextControl(window, wParam, lParam);
      return 0;
    case WM_COMMAND:
      onCommand(session, wParam);
      return 0;
    case WM_TIMER:
      onTimer(session, window);
      return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kEditText);
      SetBkColor(dc, kEditBackground);
      return reinterpret_cast<LRESULT>(session.panelBrush);
    }
    case WM_MOUSEMOVE:
      onMouseMove(session, window, lParam);
      return 0;
    case WM_LBUTTONDOWN:
      onLeftButtonDown(session, window, lParam);
      return 0;
    case WM_LBUTTONUP:
      onLeftButtonUp(session);
      return 0;
    case WM_MOUSEWHEEL:
      onMouseWheel(session, window, wParam, lParam);
      return 0;
    case WM_CAPTURECHANGED:
      session.dragging = false;
      return 0;
    case WM_DROPFILES:
      onDropFiles(session, reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_JOB_DONE:
      onJobDone(session);
      return 0;
    case WM_TRAY_NOTIFY:
      onTrayNotify(session, lParam);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

LRESULT CALLBACK deskWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // No exception leaves a window procedure. Every operation a person starts reports
  // its own failures; what is left (out of memory) ends the message's handling.
  try {
    return handleDeskMessage(window, message, wParam, lParam);
  } catch (...) {
    if (!drawingMessage(message)) refreshAfterInterruption(appSession());
    return 0;
  }
}

namespace {

KeyRoute filterKey(Session& session, const MSG& message) {
  KeyContext context = keyContextOf(session);
  context.keyCode = static_cast<std::uint32_t>(message.wParam);
  context.controlDown = GetKeyState(VK_CONTROL) < 0;
  context.shiftDown = GetKeyState(VK_SHIFT) < 0;
  context.focus = focusKind(session, GetFocus());

  const KeyDecision decision = decideKey(context);
  switch (decision.action) {
    case KeyAction::Save:
      saveSheet(session);
      return KeyRoute::Consumed;
    case KeyAction::CloseGuide:
      session.guideVisible = false;
      layoutControls(session);
      return KeyRoute::Consumed;
    case KeyAction::LeaveMode:
      session.interactionMode = InteractionMode::Pan;
      session.cropRect = CropRect{};
      refreshModeButtons(session);
      if (session.view) session.view->invalidate();
      return KeyRoute::Consumed;
    case KeyAction::HideToTray:
      hideToTray(session);
      return KeyRoute::Consumed;
    case KeyAction::OpenPath:
      runCommand(session, ID_OPEN_IMAGE);
      return KeyRoute::Consumed;
    case KeyAction::ClickButton:
      SendMessageW(GetFocus(), BM_CLICK, 0, 0);
      return KeyRoute::Consumed;
    case KeyAction::NothingConsumed:
      return KeyRoute::Consumed;
    case KeyAction::RunCommand:
      runCommand(session, decision.commandId);
      return KeyRoute::Consumed;
    case KeyAction::PanView:
      // Only invalidates: the repeats of a held arrow key that arrive during a paint
      // are all applied before the next one, which shows them at once, so the view
      // never lags behind the keyboard's repeat rate and stops with the key.
      panView(session, decision.panX, decision.panY);
      return KeyRoute::Consumed;
    case KeyAction::SelectListRow:
      selectListRow(session, decision.listIndex);
      return KeyRoute::Consumed;
    case KeyAction::DispatchDirect:
      return KeyRoute::DispatchDirect;
    case KeyAction::PassOn:
      return KeyRoute::Continue;
  }
  return KeyRoute::Continue;
}

// One message of the loop: the pre-filter for key presses, then the dialog
// navigation, translation and dispatch.
void routeMessage(Session& session, MSG& message) {
  if (message.message == WM_KEYDOWN) {
    const KeyRoute route = keyboardPreFilter(session, message);
    if (route == KeyRoute::Consumed) return;
    if (route == KeyRoute::DispatchDirect) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
      return;
    }
  }
  // Alt with a letter would open a menu that does not exist and beep; Alt+Space
  // opens the system menu of the window, whatever control has the focus.
  if (message.message == WM_SYSCHAR) {
    if (message.wParam == L' ') SendMessageW(mainWindowOf(session), WM_SYSCOMMAND, SC_KEYMENU, L' ');
    return;
  }
  // Characters bypass the dialog navigation: it would take an "&" in a button's
  // label for a mnemonic, so that a key press (Space for "Guide & credits")
  // clicked that button. Labels are text, never keys.
  if (message.message != WM_CHAR && IsDialogMessageW(mainWindowOf(session), &message)) return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

}  // namespace

KeyRoute keyboardPreFilter(Session& session, const MSG& message) {
  // The shortcuts run the same commands as the window procedure, and like it no
  // exception leaves here: an interrupted command leaves the desk refreshed.
  try {
    return filterKey(session, message);
  } catch (...) {
    refreshAfterInterruption(session);
    return KeyRoute::Consumed;
  }
}

void runMessageLoop(Session& session) {
  MSG message{};
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    // No exception ends the program: a message whose routing failed is dropped and
    // the desk refreshed.
    try {
      routeMessage(session, message);
    } catch (...) {
      refreshAfterInterruption(session);
    }
  }
}

void showDeskFirstTime(HWND window) {
  showingFirstTime = true;
  ShowWindow(window, SW_SHOW);
  // The first ShowWindow of a process may take the show command its launcher gave
  // (a shortcut set to run minimised or maximised); the desk opens normally anyway.
  if (!IsWindowVisible(window) || IsIconic(window) || IsZoomed(window)) ShowWindow(window, SW_SHOWNORMAL);
  showingFirstTime = false;
  UpdateWindow(window);
}

}  // namespace tessary

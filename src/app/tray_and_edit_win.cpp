#include "app/tray_and_edit_win.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cwchar>
#include <map>
#include <string>

#include "app/app_session_win.h"
#include "app/clipboard_block.h"
#include "app/status_and_controls.h"
#include "app/typed_units.h"
#include "app/window_handles_win.h"
#include "imaging/image_loading_win.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"
#include "text/text_rules.h"
#include "text/ui_strings.h"

namespace tessary {

namespace {

// The icon's record lives for the whole run so that the same record removes it.
NOTIFYICONDATAW trayRecord{};
static_assert(sizeof(NOTIFYICONDATAW) == 976, "the full record of Windows Vista and later");

constexpr wchar_t kTrayTip[] = L"Tessary";
constexpr int kMenuOffset = 12;  // keyboard-opened context menu: from the box's top-left corner

// Closes the popup menu it was given on every path.
class PopupMenu {
 public:
  PopupMenu() : menu_(CreatePopupMenu()) {}
  ~PopupMenu() {
    if (menu_) DestroyMenu(menu_);
  }
  PopupMenu(const PopupMenu&) = delete;
  PopupMenu& operator=(const PopupMenu&) = delete;
  HMENU get() const { return menu_; }
  void add(UINT command, const std::u16string& label) {
    if (menu_) AppendMenuW(menu_, MF_STRING, command, toWide(label).c_str());
  }

 private:
  HMENU menu_;
};

// The clipboard's text block, opened for reading and locked, released on every
// path. Its text is read only within the block: text without a terminating zero
// inside the block is not text this program accepts.
class ClipboardText {
 public:
  explicit ClipboardText(HWND owner) : open_(OpenClipboard(owner) != FALSE) {
    if (!open_) return;
    data_ = GetClipboardData(CF_UNICODETEXT);
    if (!data_) return;
    locked_ = static_cast<const char16_t*>(GlobalLock(data_));
    if (locked_) units_ = GlobalSize(data_) / sizeof(char16_t);
  }
  ~ClipboardText() {
    if (locked_) GlobalUnlock(data_);
    if (open_) CloseClipboard();
  }
  ClipboardText(const ClipboardText&) = delete;
  ClipboardText& operator=(const ClipboardText&) = delete;
  // False when the clipboard could not be opened or holds no readable text; the
  // edit control's own paste then decides.
  bool readable() const { return locked_ != nullptr; }
  const char16_t* block() const { return locked_; }
  std::size_t units() const { return units_; }

 private:
  bool open_;
  HANDLE data_ = nullptr;
  const char16_t* locked_ = nullptr;
  std::size_t units_ = 0;
};

// The pairing state of each edit box's typed surrogate units.
std::map<HWND, SurrogateJoiner>& joiners() {
  static std::map<HWND, SurrogateJoiner> byBox;
  return byBox;
}

bool isReadOnly(HWND box) { return (GetWindowLongW(box, GWL_STYLE) & ES_READONLY) != 0; }
bool isSingleLine(HWND box) { return (GetWindowLongW(box, GWL_STYLE) & ES_MULTILINE) == 0; }

struct Selection {
  DWORD start = 0;
  DWORD end = 0;
};

Selection selectionOf(HWND box) {
  Selection selection;
  SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&selection.start), reinterpret_cast<LPARAM>(&selection.end));
  return selection;
}

std::size_t textLimit(HWND box) { return static_cast<std::size_t>(SendMessageW(box, EM_GETLIMITTEXT, 0, 0)); }

std::size_t textLength(HWND box) {
  const int length = GetWindowTextLengthW(box);
  return length > 0 ? static_cast<std::size_t>(length) : 0;
}

// Length of the box's text after replacing the selection by `inserted` units.
std::size_t lengthAfterInsert(HWND box, const Selection& selection, std::size_t inserted) {
  const std::size_t selected = selection.end >= selection.start ? selection.end - selection.start : 0;
  const std::size_t length = textLength(box);
  return (length >= selected ? length - selected : 0) + inserted;
}

void refuseText() { showStatus(appSession(), 28, true); }

// WM_CHAR. Returns true when the default procedure should see the character.
bool acceptCharacter(HWND box, WPARAM character) {
  const bool readOnly = isReadOnly(box);
  if (readOnly) {
    // Only Select all (Ctrl+A) and Copy (Ctrl+C) work in the read-only box.
    if (character != 1 && character != 3) return false;
  } else {
    if (character < 32) {
      const bool passes = character == 1 || character == 3 || character == 8 || character == 13 ||
                          character == 22 || character == 24 ||
                          (character == 26 && SendMessageW(box, EM_CANUNDO, 0, 0) != 0);
      if (!passes) return false;  // Tab and the other control characters
    }
    if (isSingleLine(box) && (character == 9 || character == 13)) return false;
    if (character >= 32) {
      const std::u16string one(1, static_cast<char16_t>(character));
      if (!isEnabledScript(one)) {
        refuseText();
        return false;
      }
    }
  }
  const Selection selection = selectionOf(box);
  if (character == 8) {
    // Backspace with the caret at the very start would only beep.
    return !(selection.start == 0 && selection.end == 0);
  }
  if (character < 32 && character != 13) return true;  // Ctrl+A, C, V, X, Z
  // A printable character adds one unit, Enter two (the box stores CR LF).
  const std::size_t added = character == 13 ? 2 : 1;
  return lengthAfterInsert(box, selection, added) <= textLimit(box);
}

// WM_PASTE in an editable box. Returns true when the default procedure should paste.
bool acceptPaste(HWND box) {
  bool accepted = true;
  {
    ClipboardText clipboard(box);
    // Without readable clipboard text the edit control's own paste decides.
    if (!clipboard.readable()) return true;
    const Selection selection = selectionOf(box);
    const std::size_t selected = selection.end >= selection.start ? selection.end - selection.start : 0;
    accepted = pasteAccepted(clipboard.block(), clipboard.units(), textLength(box), selected, textLimit(box));
  }
  if (!accepted) {
    // A paste that is refused inserts nothing at all: it is never truncated.
    refuseText();
    return false;
  }
  return true;
}

// A character typed as a surrogate pair: checked and inserted as one character of
// two units, so that the box never holds half of it.
void insertPair(HWND box, const std::u16string& pair) {
  if (!isEnabledScript(pair)) {
    refuseText();
    return;
  }
  if (lengthAfterInsert(box, selectionOf(box), pair.size()) > textLimit(box)) return;  // dropped silently
  const std::wstring text = toWide(pair);
  SendMessageW(box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

// WM_CHAR in an editable box, unit by unit. Returns true when the ordinary
// character rule should see the unit.
bool joinSurrogates(HWND box, WPARAM unit) {
  if (unit > 0xFFFF) return true;
  const UnitDecision decision = joiners()[box].feed(static_cast<char16_t>(unit));
  switch (decision.step) {
    case UnitStep::Pass:
      return true;
    case UnitStep::Insert:
      insertPair(box, decision.pair);
      return false;
    case UnitStep::Hold:
    case UnitStep::Drop:
      return false;
  }
  return true;
}

bool keyDown(int virtualKey) { return GetKeyState(virtualKey) < 0; }

void showEditMenu(HWND box, LPARAM lParam) {
  Session& session = appSession();
  const bool readOnly = isReadOnly(box);
  PopupMenu menu;
  menu.add(kEditCopy, uiText(session.language, 45));
  if (!readOnly) {
    menu.add(kEditCut, uiText(session.language, 46));
    menu.add(kEditPaste, uiText(session.language, 47));
  }
  menu.add(kEditSelectAll, uiText(session.language, 48));

  POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  if (at.x == -1) {
    // Asked for from the keyboard: open near the box's top-left corner.
    RECT frame{};
    GetWindowRect(box, &frame);
    at = POINT{frame.left + kMenuOffset, frame.top + kMenuOffset};
  }
  const UINT command = static_cast<UINT>(
      TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, box, nullptr));
  switch (command) {
    case kEditCopy: SendMessageW(box, WM_COPY, 0, 0); break;
    case kEditCut: SendMessageW(box, WM_CUT, 0, 0); break;
    case kEditPaste: SendMessageW(box, WM_PASTE, 0, 0); break;
    case kEditSelectAll: SendMessageW(box, EM_SETSEL, 0, -1); break;
    default: break;
  }
}

}  // namespace

void addTrayIcon(Session& session) {
  trayRecord = NOTIFYICONDATAW{};
  trayRecord.cbSize = sizeof(NOTIFYICONDATAW);
  trayRecord.hWnd = mainWindowOf(session);
  trayRecord.uID = kTrayIconId;
  trayRecord.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  trayRecord.uCallbackMessage = WM_TRAY_NOTIFY;
  trayRecord.hIcon = static_cast<HICON>(session.appIcon);
  wcsncpy_s(trayRecord.szTip, std::size(trayRecord.szTip), kTrayTip, _TRUNCATE);
  bool present = Shell_NotifyIconW(NIM_ADD, &trayRecord) != FALSE;
  if (!present) {
    // "TaskbarCreated" also arrives while our icon still exists (the shell sends it
    // on more than a restart); adding then fails only because the icon is there.
    // Updating it tells the two cases apart, so hiding keeps working.
    present = Shell_NotifyIconW(NIM_MODIFY, &trayRecord) != FALSE;
  }
  session.trayIconAdded = present;
}

void removeTrayIcon(Session& session) {
  if (!session.trayIconAdded) return;
  Shell_NotifyIconW(NIM_DELETE, &trayRecord);
  session.trayIconAdded = false;
}

void hideToTray(Session& session) {
  if (!saveSheet(session)) return;  // the save shows why; the window stays
  HWND window = mainWindowOf(session);
  if (!session.trayIconAdded) {
    ShowWindow(window, SW_MINIMIZE);
    return;
  }
  ShowWindow(window, SW_HIDE);
  // The decoded pixels are freed while hidden; path, title, sheet and view stay so
  // that restoring can decode the same image again.
  session.currentImage.reset();
}

void restoreFromTray(Session& session) {
  HWND window = mainWindowOf(session);
  // Only a minimised window is restored; a hidden one comes back as it was, so a
  // maximised desk stays maximised.
  ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(window);
  returnReleasedImage(session);
}

void showTrayMenu(Session& session) {
  HWND window = mainWindowOf(session);
  UINT command = 0;
  {
    PopupMenu menu;
    menu.add(kTrayOpen, uiText(session.language, 18));
    menu.add(kTrayQuit, uiText(session.language, 17));
    POINT cursor{};
    GetCursorPos(&cursor);
    // The menu closes when the user clicks elsewhere only if the window is in front.
    SetForegroundWindow(window);
    command = static_cast<UINT>(
        TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr));
  }
  if (command == kTrayOpen) {
    restoreFromTray(session);
  } else if (command == kTrayQuit) {
    if (saveSheet(session)) DestroyWindow(window);
  }
  // Lets the notification-area menu close properly.
  if (IsWindow(window)) PostMessageW(window, WM_NULL, 0, 0);
}

namespace {

LRESULT handleEditMessage(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR subclassId) {
  switch (message) {
    case WM_SYSCHAR:
      return 0;  // no beep
    case WM_CUT:
    case WM_UNDO:
      if (isReadOnly(box)) return 0;
      break;
    case WM_PASTE:
      if (isReadOnly(box) || !acceptPaste(box)) return 0;
      break;
    case WM_KEYDOWN:
      if (isReadOnly(box) && (wParam == VK_DELETE || wParam == VK_BACK)) return 0;
      if (wParam == VK_TAB && !isSingleLine(box)) {
        // A multi-line box keeps no Tab: the key moves on through the tab order.
        SendMessageW(GetParent(box), WM_NEXTDLGCTL, keyDown(VK_SHIFT) ? 1 : 0, 0);
        return 0;
      }
      if (wParam == VK_INSERT && keyDown(VK_SHIFT)) {
        // The edit control pastes on Insert whenever Shift is down, with Ctrl too:
        // such a paste goes through the same filter as Ctrl+V and the menu's Paste.
        SendMessageW(box, WM_PASTE, 0, 0);
        return 0;
      }
      break;
    case WM_CHAR:
      if (!isReadOnly(box) && !joinSurrogates(box, wParam)) return 0;
      if (!acceptCharacter(box, wParam)) return 0;
      break;
    case WM_KILLFOCUS:
      joiners()[box].reset();
      break;
    case WM_CONTEXTMENU:
      showEditMenu(box, lParam);
      return 0;
    case WM_NCDESTROY:
      // The subclass goes with the box.
      RemoveWindowSubclass(box, editSubclassProc, subclassId);
      joiners().erase(box);
      break;
    default:
      break;
  }
  return DefSubclassProc(box, message, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK editSubclassProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR subclassId,
                                  DWORD_PTR) {
  // No exception leaves a window procedure: a message whose handling failed (out
  // of memory) has no effect; a paste or a character is then dropped.
  try {
    return handleEditMessage(box, message, wParam, lParam, subclassId);
  } catch (...) {
    return 0;
  }
}

}  // namespace tessary

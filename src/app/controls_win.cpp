#include "app/controls_win.h"

#include <windows.h>
#include <commctrl.h>

#include <string_view>

#include "app/control_ids.h"
#include "app/layout.h"
#include "app/status_and_controls.h"
#include "app/tray_and_edit_win.h"
#include "app/window_handles_win.h"
#include "exports/crop_export_win.h"
#include "exports/export_folder_win.h"
#include "exports/notes_export.h"
#include "imaging/image_loading_win.h"
#include "imaging/image_path.h"
#include "observations/marker_editing.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"
#include "text/text_rules.h"
#include "text/ui_strings.h"
#include "viewer/view_transform.h"

namespace tessary {

namespace {

constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW;  // 0x5001000B
constexpr DWORD kPathStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;  // 0x50010080
constexpr DWORD kNoteStyle =
    WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_WANTRETURN | ES_AUTOVSCROLL | ES_MULTILINE;  // 0x50211044
constexpr DWORD kGuideStyle =
    WS_CHILD | WS_VSCROLL | WS_TABSTOP | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE;  // 0x40210844, hidden

constexpr WPARAM kPathLimit = 16000;
constexpr WPARAM kNoteLimit = 2400;
constexpr WPARAM kGuideLimit = 50000;
constexpr int kEditMargin = 10;

constexpr int kTextCredits = 320;
constexpr int kTextLicence = 321;

constexpr std::u16string_view kParagraphBreak = u"\r\n\r\n";

// The label of a push button: an interface string, or the zoom buttons' signs.
std::u16string buttonLabel(const Session& session, int controlId) {
  switch (controlId) {
    case ID_PLATE: return uiText(session.language, 1);
    case ID_OPEN_IMAGE: return uiText(session.language, 2);
    case ID_GUIDE: return uiText(session.language, 4);
    case ID_CLOSE: return uiText(session.language, 16);
    case ID_QUIT: return uiText(session.language, 17);
    case ID_FIT: return uiText(session.language, 5);
    case ID_ACTUAL_PIXELS: return uiText(session.language, 6);
    case ID_PAN: return uiText(session.language, 7);
    case ID_ADD_MARKER: return uiText(session.language, 8);
    case ID_SELECT_CROP: return uiText(session.language, 9);
    case ID_EXPORT_CROP: return uiText(session.language, 10);
    case ID_EXPORT_NOTES: return uiText(session.language, 11);
    case ID_SAVE_NOTE: return uiText(session.language, 13);
    case ID_REMOVE_MARKER: return uiText(session.language, 14);
    case ID_UNDO_REMOVAL: return uiText(session.language, 15);
    case ID_EXPORT_FOLDER: return uiText(session.language, 12);
    case ID_GUIDE_CLOSE: return uiText(session.language, 16);
    case ID_ZOOM_OUT: return u"\u2212";
    case ID_ZOOM_IN: return u"+";
    default: return std::u16string();
  }
}

struct EditSetup {
  DWORD style;
  WPARAM limit;
};

EditSetup editSetup(int controlId) {
  switch (controlId) {
    case ID_PATH_EDIT: return {kPathStyle, kPathLimit};
    case ID_NOTE_EDIT: return {kNoteStyle, kNoteLimit};
    default: return {kGuideStyle, kGuideLimit};
  }
}

bool isEditBox(int controlId) {
  return controlId == ID_PATH_EDIT || controlId == ID_NOTE_EDIT || controlId == ID_GUIDE_TEXT;
}

HWND createControl(Session& session, int controlId) {
  HWND parent = mainWindowOf(session);
  HINSTANCE instance = static_cast<HINSTANCE>(session.instance);
  // The child id travels in the menu parameter of a child window.
  HMENU childId = reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId));
  // Each control is born in its true enabled state, so that no moment shows a tool
  // that cannot act yet.
  const DWORD disabled = controlEnabled(session, controlId) ? 0 : WS_DISABLED;
  if (isEditBox(controlId)) {
    return CreateWindowExW(0, L"EDIT", L"", editSetup(controlId).style | disabled, 0, 0, 1, 1, parent, childId,
                           instance, nullptr);
  }
  return CreateWindowExW(0, L"BUTTON", toWide(buttonLabel(session, controlId)).c_str(), kButtonStyle | disabled, 0,
                         0, 1, 1, parent, childId, instance, nullptr);
}

void setUpEditBox(Session& session, int controlId, HWND box) {
  SendMessageW(box, EM_SETLIMITTEXT, editSetup(controlId).limit, 0);
  SendMessageW(box, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(kEditMargin, kEditMargin));
  SetWindowSubclass(box, editSubclassProc, kEditSubclassId, 0);
  if (controlId == ID_PATH_EDIT) {
    // Shown also while the box has the focus (wParam TRUE).
    const std::wstring cue = toWide(uiText(session.language, 3));
    SendMessageW(box, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(cue.c_str()));
  }
}

// The three mode buttons and their modes, in id order.
constexpr int kModeButtons[] = {ID_PAN, ID_ADD_MARKER, ID_SELECT_CROP};

void setMode(Session& session, int controlId) {
  static constexpr int kModeHints[] = {23, 30, 31};
  const int index = controlId - ID_PAN;
  session.interactionMode = static_cast<InteractionMode>(index);
  showStatus(session, kModeHints[index], false);
  refreshModeButtons(session);
  if (session.view) session.view->invalidate();
}

void openTypedPath(Session& session) {
  const std::u16string typed = session.view ? session.view->controlText(ID_PATH_EDIT) : std::u16string();
  const std::u16string path = cleanPathBoxText(typed);
  if (path.empty()) {
    showStatus(session, 53, true);
    return;
  }
  startImageLoad(session, path);
}

void quit(Session& session) {
  if (!saveSheet(session)) return;
  if (HWND window = mainWindowOf(session)) DestroyWindow(window);
}

}  // namespace

void createControls(Session& session) {
  for (int controlId : kControlCreationOrder) {
    HWND control = createControl(session, controlId);
    if (!control) continue;
    session.controls[controlId] = control;
    if (isEditBox(controlId)) setUpEditBox(session, controlId, control);
  }
  for (const auto& [controlId, handle] : session.controls) {
    SendMessageW(static_cast<HWND>(handle), WM_SETFONT, reinterpret_cast<WPARAM>(session.uiFont), TRUE);
  }
  setControlTextQuietly(session, ID_GUIDE_TEXT, guideText(session));
  // The controls show their true state from the first paint: no tool acts before
  // there is an image.
  updateControlStates(session);
}

void layoutControls(Session& session) {
  for (const ControlRect& place : layoutControlRects(session.clientWidth, session.clientHeight)) {
    if (HWND control = controlWindow(session, place.id)) {
      MoveWindow(control, place.x, place.y, place.width, place.height, TRUE);
    }
  }
  // `controls` is ordered by id, so this runs in ascending id order.
  for (const auto& [controlId, handle] : session.controls) {
    ShowWindow(static_cast<HWND>(handle), controlShown(controlId, session.guideVisible) ? SW_SHOW : SW_HIDE);
  }
  updateControlStates(session);
  if (session.view) session.view->invalidate();
}

void runCommand(Session& session, int controlId) {
  switch (controlId) {
    case ID_PLATE:
      startImageLoad(session, std::u16string());
      break;
    case ID_OPEN_IMAGE:
      openTypedPath(session);
      break;
    case ID_GUIDE:
    case ID_GUIDE_CLOSE:
      session.guideVisible = !session.guideVisible;
      layoutControls(session);
      break;
    case ID_CLOSE:
      hideToTray(session);
      break;
    case ID_FIT:
      fitView(session);
      break;
    case ID_ACTUAL_PIXELS: {
      const Point centre = canvasCentre(session);
      zoomAbout(session, 1.0, centre.x, centre.y);
      break;
    }
    case ID_ZOOM_OUT: {
      const Point centre = canvasCentre(session);
      zoomAbout(session, session.zoom * kButtonOut, centre.x, centre.y);
      break;
    }
    case ID_ZOOM_IN: {
      const Point centre = canvasCentre(session);
      zoomAbout(session, session.zoom * kButtonIn, centre.x, centre.y);
      break;
    }
    case ID_PAN:
    case ID_ADD_MARKER:
    case ID_SELECT_CROP:
      setMode(session, controlId);
      break;
    case ID_EXPORT_CROP:
      startCropExport(session);
      break;
    case ID_EXPORT_NOTES:
      exportNotes(session);
      break;
    case ID_SAVE_NOTE:
      saveSheet(session);
      break;
    case ID_REMOVE_MARKER:
      removeSelectedMarker(session);
      break;
    case ID_UNDO_REMOVAL:
      undoRemoval(session);
      break;
    case ID_EXPORT_FOLDER:
      openExportFolder(session);
      break;
    case ID_QUIT:
      quit(session);
      break;
    default:
      break;
  }
}

std::u16string loadTextResource(Session& session, int resourceId) {
  HMODULE module = static_cast<HMODULE>(session.instance);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resourceId), RT_RCDATA);
  if (!found) return std::u16string();
  const DWORD size = SizeofResource(module, found);
  HGLOBAL loaded = LoadResource(module, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes || size == 0) return std::u16string();
  try {
    return toEditText(std::string_view(static_cast<const char*>(bytes), size));
  } catch (const std::exception&) {
    // Text that is not valid UTF-8 is left out rather than shown garbled.
    return std::u16string();
  }
}

std::u16string guideText(Session& session) {
  std::u16string text = uiText(session.language, 43);
  text += kParagraphBreak;
  text += uiText(session.language, 44);
  text += kParagraphBreak;
  text += loadTextResource(session, kTextCredits);
  text += kParagraphBreak;
  text += loadTextResource(session, kTextLicence);
  return text;
}

void refreshModeButtons(Session& session) {
  for (int controlId : kModeButtons) {
    if (HWND button = controlWindow(session, controlId)) InvalidateRect(button, nullptr, FALSE);
  }
}

}  // namespace tessary

#pragma once
// The notification-area icon (adding, hiding to it, restoring from it, its menu)
// and the subclass procedure shared by the three edit boxes.
#include <windows.h>

namespace tessary {

struct Session;

// Posted to the main window by the notification-area icon and by a second start
// of the program (lParam WM_LBUTTONUP).
inline constexpr UINT WM_TRAY_NOTIFY = WM_APP + 2;
inline constexpr UINT kTrayIconId = 1;
inline constexpr UINT_PTR kEditSubclassId = 1;

// Tray menu commands and edit-box context menu commands.
inline constexpr UINT kTrayOpen = 1;
inline constexpr UINT kTrayQuit = 2;
inline constexpr UINT kEditCopy = 1;
inline constexpr UINT kEditCut = 2;
inline constexpr UINT kEditPaste = 3;
inline constexpr UINT kEditSelectAll = 4;

// Adds the icon; `trayIconAdded` records whether that worked.
void addTrayIcon(Session& session);
// Removes the icon with the same record, if it was added.
void removeTrayIcon(Session& session);
// Saves, then hides the window to the icon and frees the decoded image (or only
// minimises it when there is no icon). A failed save leaves the window as it is.
void hideToTray(Session& session);
// Shows the window again and reloads the image released by hiding.
void restoreFromTray(Session& session);
// The icon's two-item menu at the cursor: Open or Quit.
void showTrayMenu(Session& session);

// Subclass procedure of the path box, the note box and the guide text box.
LRESULT CALLBACK editSubclassProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR subclassId,
                                  DWORD_PTR referenceData);

}  // namespace tessary

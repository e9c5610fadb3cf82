#include "exports/export_folder_win.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>

#include "app/session_state.h"
#include "app/status_and_controls.h"
#include "exports/export_naming.h"

namespace tessary {

void openExportFolder(Session& session) {
  try {
    // The command works on the folder even when start-up found storage
    // unavailable: the user may have fixed the cause since.
    const std::filesystem::path folder = exportFolder(session);
    std::filesystem::create_directories(folder);
    if (!std::filesystem::is_directory(folder)) {
      // A file standing where the folder belongs is no folder to open.
      throw std::runtime_error("Open failed");
    }
    const HINSTANCE shown = ShellExecuteW(static_cast<HWND>(session.mainWindow), L"open", folder.c_str(),
                                          nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(shown) <= 32) {
      throw std::runtime_error("Open failed");
    }
  } catch (...) {
    showStatus(session, 33, true);
  }
}

}  // namespace tessary

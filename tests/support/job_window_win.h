#pragma once
// A real window-thread setting for tests of the background job: COM and GDI+
// started as the program starts them, a message-only window whose procedure hands
// WM_JOB_DONE to onJobDone, a session over a temporary data folder with a window
// side that records what it was asked, and a message pump that runs until the job
// is done.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/session_state.h"
#include "imaging/background_job_win.h"
#include "imaging/com_support_win.h"
#include "imaging/image_loading_win.h"
#include "support/rules_session.h"

namespace tessary::testing {

// The recording window side, with a visibility that the test sets.
class JobView : public RecordingView {
 public:
  bool windowVisible() override { return visible; }
  bool visible = true;
};

inline LRESULT CALLBACK jobTestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_JOB_DONE) {
    auto* session = reinterpret_cast<Session*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (session != nullptr) {
      ++*reinterpret_cast<int*>(GetPropW(window, L"TessaryJobDoneCount"));
      onJobDone(*session);
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

struct JobWindowSession {
  JobWindowSession() {
    std::filesystem::create_directories(folder.path() / "observations");
    std::filesystem::create_directories(folder.path() / "exports");
    session.dataFolder = folder.path();
    session.storageAvailable = true;
    session.view = &view;
    for (int id = ID_PLATE; id <= ID_QUIT; ++id) {
      session.controls[id] = reinterpret_cast<NativeHandle>(static_cast<std::uintptr_t>(id));
    }
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = jobTestWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TessaryJobTestWindow";
    RegisterClassW(&windowClass);  // fails harmlessly when already registered
    window = CreateWindowExW(0, L"TessaryJobTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&session));
    SetPropW(window, L"TessaryJobDoneCount", reinterpret_cast<HANDLE>(&jobDoneMessages));
    session.mainWindow = window;
  }
  ~JobWindowSession() {
    finishBackgroundJob(session);
    RemovePropW(window, L"TessaryJobDoneCount");
    DestroyWindow(window);
  }
  JobWindowSession(const JobWindowSession&) = delete;
  JobWindowSession& operator=(const JobWindowSession&) = delete;

  // Dispatches messages until no job runs (or the time runs out); true when idle.
  bool pumpUntilIdle(std::chrono::milliseconds limit = std::chrono::seconds(120)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (session.jobRunning) {
      if (std::chrono::steady_clock::now() > end) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
    return true;
  }

  // Dispatches whatever is queued now, waiting up to `wait` for more.
  void pumpFor(std::chrono::milliseconds wait) {
    const auto end = std::chrono::steady_clock::now() + wait;
    do {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    } while (std::chrono::steady_clock::now() < end);
  }

  ScopedCoInitialize com{COINIT_APARTMENTTHREADED};
  ScopedGdiplus gdiplus;
  TempFolder folder;
  JobView view;
  Session session;
  HWND window = nullptr;
  int jobDoneMessages = 0;
};

// A 24-bit BMP file (bottom-up rows padded to 4 bytes) whose pixel (x, y) has
// blue x * 7, green y * 11 and red `red`; a declared size may differ from the rows
// written (for headers that break the pixel limits).
inline std::string bmpBytes(std::int32_t width, std::int32_t height, std::uint8_t red) {
  const std::uint32_t rowBytes = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
  const std::uint32_t pixelBytes = rowBytes * static_cast<std::uint32_t>(height);
  std::string bytes(54 + pixelBytes, '\0');
  auto put16 = [&](std::size_t at, std::uint16_t v) {
    bytes[at] = static_cast<char>(v & 0xFF);
    bytes[at + 1] = static_cast<char>(v >> 8);
  };
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put32(2, static_cast<std::uint32_t>(bytes.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(height));
  put16(26, 1);
  put16(28, 24);
  put32(34, pixelBytes);
  for (std::int32_t row = 0; row < height; ++row) {
    const std::int32_t y = height - 1 - row;
    for (std::int32_t x = 0; x < width; ++x) {
      const std::size_t at = 54 + static_cast<std::size_t>(row) * rowBytes + static_cast<std::size_t>(x) * 3;
      bytes[at] = static_cast<char>((x * 7) & 0xFF);
      bytes[at + 1] = static_cast<char>((y * 11) & 0xFF);
      bytes[at + 2] = static_cast<char>(red);
    }
  }
  return bytes;
}

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A path as the desk's text functions take it.
inline std::u16string u16(const std::filesystem::path& path) {
  const std::wstring w = path.wstring();
  return std::u16string(w.begin(), w.end());
}

}  // namespace tessary::testing

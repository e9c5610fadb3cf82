#pragma once
// Drives the real Tessary.exe from outside, the way a user's desktop sees it: the
// program runs as a child process, its window is found by class, its controls are
// read by id, clicks arrive as WM_COMMAND and keys and characters as posted
// messages, and the data folder is looked at on disk.
//
// Every test that starts the program holds DeskTestLock for its whole run: the
// program is a single instance per mode, so two such tests must never overlap.
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace tessary::testing {

inline constexpr wchar_t kDeskClass[] = L"TessaryDesk";
inline constexpr wchar_t kDeskTestLockName[] = L"Local\\Tessary-Window-Tests";
inline constexpr UINT kTrayNotify = WM_APP + 2;

// Waits for `condition` to hold, checking every 50 ms, for at most `timeout`.
inline bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// Serialises the tests that start the program, across test processes.
class DeskTestLock {
 public:
  DeskTestLock() : mutex_(CreateMutexW(nullptr, FALSE, kDeskTestLockName)) {
    if (mutex_) {
      const DWORD waited = WaitForSingleObject(mutex_, INFINITE);
      owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
  }
  ~DeskTestLock() {
    if (owned_) ReleaseMutex(mutex_);
    if (mutex_) CloseHandle(mutex_);
  }
  DeskTestLock(const DeskTestLock&) = delete;
  DeskTestLock& operator=(const DeskTestLock&) = delete;

 private:
  HANDLE mutex_;
  bool owned_ = false;
};

// Tessary.exe of the same build: the test programs live in <build>/tests and the
// program in <build>/bin.
inline std::filesystem::path tessaryExe() {
  std::wstring buffer(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(length);
  return std::filesystem::path(buffer).parent_path().parent_path() / "bin" / "Tessary.exe";
}

inline std::filesystem::path localAppData() {
  PWSTR known = nullptr;
  std::filesystem::path result;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known))) result = known;
  if (known) CoTaskMemFree(known);
  return result;
}

inline std::filesystem::path uiTestDataFolder() { return localAppData() / "Tessary-UI-Test"; }

inline void removeTree(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::remove_all(path, error);
}

inline std::wstring windowClass(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

// The text of a window of the program. GetWindowTextW does not ask a window of
// another process for its text (an edit box's text would read as empty), so the
// messages are sent; the system carries the text across processes.
inline std::wstring windowText(HWND window) {
  const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied = SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(length + 1),
                                      reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

// Every top-level window of the desk class, with the process that owns it.
struct DeskWindow {
  HWND window;
  DWORD processId;
};

inline std::vector<DeskWindow> deskWindows() {
  std::vector<DeskWindow> found;
  EnumWindows(
      [](HWND window, LPARAM list) -> BOOL {
        if (windowClass(window) == kDeskClass) {
          DWORD processId = 0;
          GetWindowThreadProcessId(window, &processId);
          reinterpret_cast<std::vector<DeskWindow>*>(list)->push_back({window, processId});
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// One run of Tessary.exe with the given arguments; a run still alive when the test
// ends is ended here (it is this test's own child).
class DeskProcess {
 public:
  // `showCommand` other than -1 is handed over as the start-up show command, as a
  // shortcut set to "minimised" or "maximised" does.
  explicit DeskProcess(const std::wstring& arguments, int showCommand = -1) {
    const std::filesystem::path exe = tessaryExe();
    std::wstring commandLine = L"\"" + exe.wstring() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (showCommand >= 0) {
      startup.dwFlags = STARTF_USESHOWWINDOW;
      startup.wShowWindow = static_cast<WORD>(showCommand);
    }
    started_ = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process_) != FALSE;
  }
  ~DeskProcess() {
    if (!started_) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, 10000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  DeskProcess(const DeskProcess&) = delete;
  DeskProcess& operator=(const DeskProcess&) = delete;

  bool started() const { return started_; }
  DWORD processId() const { return process_.dwProcessId; }

  // The desk window of this process once it is on screen: created, its controls
  // laid out and enabled by the state, and shown.
  HWND waitForWindow(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    HWND result = nullptr;
    waitFor(
        [&] {
          for (const DeskWindow& desk : deskWindows()) {
            if (desk.processId == process_.dwProcessId && IsWindowVisible(desk.window)) {
              result = desk.window;
              return true;
            }
          }
          return !running();
        },
        timeout);
    return result;
  }

  bool running() const { return started_ && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

  // The exit code, or nothing when the process is still running after `timeout`.
  std::optional<DWORD> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    if (!started_) return std::nullopt;
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
      return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION process_{};
  bool started_ = false;
};

// A button click as the button itself reports it to its parent.
inline void clickButton(HWND desk, int controlId) {
  PostMessageW(desk, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(desk, controlId)));
}

// Keys and characters go through the program's message loop, so the keyboard
// pre-filter sees them as it sees real typing.
inline void pressKey(HWND target, WPARAM virtualKey) {
  PostMessageW(target, WM_KEYDOWN, virtualKey, 1);
  PostMessageW(target, WM_KEYUP, virtualKey, static_cast<LPARAM>(0xC0000001u));
}

inline void typeCharacters(HWND target, const std::wstring& text) {
  for (wchar_t c : text) PostMessageW(target, WM_CHAR, static_cast<WPARAM>(c), 1);
}

// Gives the program time to handle what was posted to it. Sent messages overtake
// posted ones, so a sent message alone proves nothing; the pause lets the queue
// drain and the sent message then shows that the window thread is responsive.
// Tests that can observe an outcome wait for it instead.
inline void settle(HWND desk) {
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(desk, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

// The plate is decoded and shown: the tool row is enabled only then.
inline bool waitUntilReady(HWND desk, std::chrono::milliseconds timeout = std::chrono::seconds(90)) {
  return waitFor([&] { return IsWindowEnabled(GetDlgItem(desk, 105)) != FALSE; }, timeout);
}

// Client rectangle of a child in its parent's client coordinates.
inline RECT childRect(HWND parent, HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// The control that has the keyboard focus in the program's window thread.
inline HWND focusedWindow(HWND desk) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(desk, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// Puts Unicode text on the clipboard for the program to paste.
inline bool putClipboardText(const std::wstring& text) {
  if (!OpenClipboard(nullptr)) return false;
  EmptyClipboard();
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  bool ok = false;
  if (memory) {
    if (void* target = GlobalLock(memory)) {
      std::memcpy(target, text.c_str(), bytes);
      GlobalUnlock(memory);
      ok = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    }
    if (!ok) GlobalFree(memory);  // the clipboard owns it only after success
  }
  CloseClipboard();
  return ok;
}

// Adds one marker in the middle of the canvas of a ready window (Add marker, then
// a click) and returns the sheet file it was saved to; empty on failure.
inline std::filesystem::path addMarkerInCanvasCentre(HWND desk) {
  PostMessageW(desk, WM_COMMAND, MAKEWPARAM(110, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(desk, 110)));
  RECT client{};
  GetClientRect(desk, &client);
  const int x = 20 + (client.right - 370) / 2;
  const int y = 178 + (client.bottom - 257) / 2;
  PostMessageW(desk, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  PostMessageW(desk, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  // The new marker is selected, so the note box opens for it.
  HWND noteBox = GetDlgItem(desk, 114);
  if (!waitFor([&] { return IsWindowEnabled(noteBox) != FALSE; }, std::chrono::seconds(10))) return {};
  std::filesystem::path sheet;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(uiTestDataFolder() / "observations", error)) {
    if (entry.path().extension() == ".json") sheet = entry.path();
  }
  return sheet;
}

}  // namespace tessary::testing

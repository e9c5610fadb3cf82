// A small console program that the end-to-end scenarios run beside the desk to
// observe it from the outside, as a person could see it: where the window is, the
// texts, enabled and visible states and screen rectangles of its controls, which
// control has the keyboard focus, whether the window is shown at all, and when the
// screen changes. It never changes anything in the desk; input comes from real
// mouse and keyboard events.
// Like a person copying text elsewhere, it can put text on the clipboard.
//
//   desk_driver window                      found, visible, title, client origin and size
//   desk_driver control <id>                text, enabled, visible, screen rectangle of a child
//   desk_driver controls                    one line per child control id 100-121
//   desk_driver focus                       id of the child with the keyboard focus (0: the window)
//   desk_driver wait-window <ms> [shown]    waits for the window (and for it to be shown)
//   desk_driver wait-hidden <ms>            waits until the window exists but is hidden
//   desk_driver wait-gone <ms>              waits until no desk window exists
//   desk_driver wait-enabled <id> <0|1> <ms> waits for a control's enabled state
//   desk_driver wait-shown <id> <0|1> <ms> waits for a control to be shown (or hidden)
//   desk_driver wait-text <id> <ms> <text>  waits until a control's text equals the UTF-8 text
//   desk_driver local-appdata               the local application-data folder
//   desk_driver pid                         process id of the desk
//   desk_driver windows                     class, title and visibility of every top-level window
//   desk_driver type-units <text>           posts the text's UTF-16 units as WM_CHAR messages
//                                           to the control with the focus, one by one, as the
//                                           Windows emoji panel and input methods send
//                                           characters beyond U+FFFF (X key events under
//                                           Wine cannot carry them)
//   desk_driver watch-screen <ms> <x> <y> <w> <h>
//                                           looks at a rectangle of the screen as often as it
//                                           can for <ms> milliseconds: prints "ready" once it
//                                           has its first look, "change <t>" whenever the
//                                           rectangle differs from the look before (t: Unix
//                                           time in milliseconds), and "looks <n>" at the end
//   desk_driver clipboard <how> <text>      puts Unicode text on the clipboard; <how> is
//                                           terminated, unterminated (no zero inside the
//                                           memory block) or repeat:<n> (the text n times)
// Output is UTF-8 with LF line ends. Exit code 0 on success, 1 when the condition
// was not met, 2 for a usage error.
#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kDeskClass[] = L"TessaryDesk";

std::string toUtf8(const std::wstring& text) {
  if (text.empty()) {
    return {};
  }
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length, nullptr,
                        nullptr);
  }
  return out;
}

// Writes bytes as they are (no CR LF translation).
void out(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Line breaks and tabs inside texts are shown as \\r, \\n and \\t so that one value stays
// on one line; everything else is written as it is.
std::string oneLine(const std::string& text) {
  std::string result;
  for (const char c : text) {
    if (c == '\n') {
      result += "\\n";
    } else if (c == '\r') {
      result += "\\r";
    } else if (c == '\t') {
      result += "\\t";
    } else {
      result += c;
    }
  }
  return result;
}

HWND desk() { return FindWindowW(kDeskClass, nullptr); }

// The text of a window of another process: WM_GETTEXT is marshalled across
// processes, while GetWindowTextW would only return a stored caption.
std::wstring windowText(HWND window) {
  DWORD_PTR length = 0;
  if (SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length) == 0) {
    return {};
  }
  std::vector<wchar_t> buffer(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                          SMTO_ABORTIFHUNG, 2000, &copied) == 0) {
    return {};
  }
  return std::wstring(buffer.data(), copied);
}

std::string describeControl(HWND window, int id) {
  HWND child = GetDlgItem(window, id);
  if (child == nullptr) {
    return "missing";
  }
  RECT r{};
  GetWindowRect(child, &r);
  char head[160];
  std::snprintf(head, sizeof head, "enabled %d visible %d rect %ld %ld %ld %ld text ",
                IsWindowEnabled(child) ? 1 : 0, IsWindowVisible(child) ? 1 : 0, r.left, r.top, r.right, r.bottom);
  return head + oneLine(toUtf8(windowText(child)));
}

int focusedId(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  if (!GetGUIThreadInfo(thread, &info) || info.hwndFocus == nullptr) {
    return -1;
  }
  if (info.hwndFocus == window) {
    return 0;
  }
  return GetDlgCtrlID(info.hwndFocus);
}

template <typename Condition>
bool waitFor(DWORD milliseconds, Condition condition) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  for (;;) {
    if (condition()) {
      return true;
    }
    if (GetTickCount64() >= end) {
      return false;
    }
    Sleep(50);
  }
}

// The memory block holds exactly the text's units, plus the terminating zero
// only when asked for.
bool putClipboard(const std::wstring& text, bool terminated) {
  const std::size_t bytes = (text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes == 0 ? 1 : bytes);
  if (memory == nullptr) {
    return false;
  }
  void* target = GlobalLock(memory);
  if (target == nullptr) {
    GlobalFree(memory);
    return false;
  }
  std::memcpy(target, text.c_str(), bytes);
  GlobalUnlock(memory);
  bool done = false;
  for (int attempt = 0; attempt < 20 && !done; ++attempt) {
    if (OpenClipboard(nullptr)) {
      EmptyClipboard();
      done = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
      CloseClipboard();
    } else {
      Sleep(50);
    }
  }
  if (!done) {
    GlobalFree(memory);  // the clipboard owns the block only after success
  }
  return done;
}

int usage() {
  out("usage: desk_driver window | control <id> | controls | focus | wait-window <ms> [shown] | "
      "wait-hidden <ms> | wait-gone <ms> | wait-enabled <id> <0|1> <ms> | wait-shown <id> <0|1> <ms> | wait-text <id> <ms> <text> | "
      "local-appdata | pid | windows | type-units <text> | clipboard <terminated|unterminated|repeat:N> <text> | "
      "watch-screen <ms> <x> <y> <w> <h>\n");
  return 2;
}

std::int64_t unixMilliseconds() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  ULARGE_INTEGER units{};
  units.LowPart = now.dwLowDateTime;
  units.HighPart = now.dwHighDateTime;
  constexpr ULONGLONG kUnixEpochUnits = 116444736000000000ULL;  // 1601 to 1970 in 100 ns units
  return static_cast<std::int64_t>((units.QuadPart - kUnixEpochUnits) / 10000);
}

// Copies a rectangle of the screen, as shown, into 32-bit pixels.
class ScreenLook {
 public:
  ScreenLook(int x, int y, int width, int height) : x_(x), y_(y), width_(width), height_(height) {
    screen_ = GetDC(nullptr);
    memory_ = CreateCompatibleDC(screen_);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bitmap_ = CreateDIBSection(memory_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (bitmap_ != nullptr) old_ = SelectObject(memory_, bitmap_);
  }
  ~ScreenLook() {
    if (old_ != nullptr) SelectObject(memory_, old_);
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    if (memory_ != nullptr) DeleteDC(memory_);
    if (screen_ != nullptr) ReleaseDC(nullptr, screen_);
  }
  ScreenLook(const ScreenLook&) = delete;
  ScreenLook& operator=(const ScreenLook&) = delete;

  bool take(std::vector<unsigned char>& pixels) {
    if (bits_ == nullptr || !BitBlt(memory_, 0, 0, width_, height_, screen_, x_, y_, SRCCOPY)) return false;
    GdiFlush();
    const auto* bytes = static_cast<const unsigned char*>(bits_);
    pixels.assign(bytes, bytes + static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4);
    return true;
  }

 private:
  int x_, y_, width_, height_;
  HDC screen_ = nullptr;
  HDC memory_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  void* bits_ = nullptr;
};

int watchScreen(DWORD milliseconds, int x, int y, int width, int height) {
  if (width <= 0 || height <= 0) return usage();
  ScreenLook look(x, y, width, height);
  std::vector<unsigned char> before;
  std::vector<unsigned char> now;
  if (!look.take(before)) return 1;
  out("ready\n");
  long looks = 1;
  const ULONGLONG end = GetTickCount64() + milliseconds;
  while (GetTickCount64() < end) {
    if (!look.take(now)) return 1;
    ++looks;
    if (now != before) {
      out("change " + std::to_string(unixMilliseconds()) + "\n");
      before.swap(now);
    }
    Sleep(1);
  }
  out("looks " + std::to_string(looks) + "\n");
  return 0;
}


}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    return usage();
  }
  const std::wstring command = argv[1];

  if (command == L"window") {
    HWND window = desk();
    if (window == nullptr) {
      out("found 0\n");
      return 1;
    }
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    RECT client{};
    GetClientRect(window, &client);
    RECT outer{};
    GetWindowRect(window, &outer);
    char line[256];
    std::snprintf(line, sizeof line,
                  "found 1\nvisible %d\nclient %ld %ld %ld %ld\nouter %ld %ld %ld %ld\nzoomed %d\niconic %d\n",
                  IsWindowVisible(window) ? 1 : 0, origin.x, origin.y, client.right - client.left,
                  client.bottom - client.top, outer.left, outer.top, outer.right, outer.bottom,
                  IsZoomed(window) ? 1 : 0, IsIconic(window) ? 1 : 0);
    out(line);
    out("title " + oneLine(toUtf8(windowText(window))) + "\n");
    return 0;
  }
  if (command == L"control" && argc >= 3) {
    HWND window = desk();
    if (window == nullptr) {
      return 1;
    }
    const std::string description = describeControl(window, _wtoi(argv[2]));
    out(description + "\n");
    return description == "missing" ? 1 : 0;
  }
  if (command == L"controls") {
    HWND window = desk();
    if (window == nullptr) {
      return 1;
    }
    for (int id = 100; id <= 121; ++id) {
      out(std::to_string(id) + " " + describeControl(window, id) + "\n");
    }
    return 0;
  }
  if (command == L"focus") {
    HWND window = desk();
    if (window == nullptr) {
      return 1;
    }
    out(std::to_string(focusedId(window)) + "\n");
    return 0;
  }
  if (command == L"wait-window" && argc >= 3) {
    const bool shown = argc >= 4 && std::wstring(argv[3]) == L"shown";
    return waitFor(static_cast<DWORD>(_wtoi(argv[2])),
                   [&] {
                     HWND window = desk();
                     return window != nullptr && (!shown || IsWindowVisible(window));
                   })
               ? 0
               : 1;
  }
  if (command == L"wait-hidden" && argc >= 3) {
    return waitFor(static_cast<DWORD>(_wtoi(argv[2])),
                   [] {
                     HWND window = desk();
                     return window != nullptr && !IsWindowVisible(window);
                   })
               ? 0
               : 1;
  }
  if (command == L"wait-gone" && argc >= 3) {
    return waitFor(static_cast<DWORD>(_wtoi(argv[2])), [] { return desk() == nullptr; }) ? 0 : 1;
  }
  if (command == L"wait-enabled" && argc >= 5) {
    const int id = _wtoi(argv[2]);
    const bool wanted = _wtoi(argv[3]) != 0;
    return waitFor(static_cast<DWORD>(_wtoi(argv[4])),
                   [&] {
                     HWND window = desk();
                     HWND child = window != nullptr ? GetDlgItem(window, id) : nullptr;
                     return child != nullptr && (IsWindowEnabled(child) != FALSE) == wanted;
                   })
               ? 0
               : 1;
  }
  if (command == L"wait-shown" && argc >= 5) {
    const int id = _wtoi(argv[2]);
    const bool wanted = _wtoi(argv[3]) != 0;
    return waitFor(static_cast<DWORD>(_wtoi(argv[4])),
                   [&] {
                     HWND window = desk();
                     HWND child = window != nullptr ? GetDlgItem(window, id) : nullptr;
                     return child != nullptr && (IsWindowVisible(child) != FALSE) == wanted;
                   })
               ? 0
               : 1;
  }
  if (command == L"wait-text" && argc >= 5) {
    const int id = _wtoi(argv[2]);
    const std::wstring wanted = argv[4];
    return waitFor(static_cast<DWORD>(_wtoi(argv[3])),
                   [&] {
                     HWND window = desk();
                     HWND child = window != nullptr ? GetDlgItem(window, id) : nullptr;
                     return child != nullptr && windowText(child) == wanted;
                   })
               ? 0
               : 1;
  }
  if (command == L"local-appdata") {
    PWSTR folder = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder))) {
      return 1;
    }
    const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(folder, &CoTaskMemFree);
    out(toUtf8(folder) + "\n");
    return 0;
  }
  if (command == L"windows") {
    EnumWindows(
        [](HWND window, LPARAM) -> BOOL {
          wchar_t className[256] = L"";
          GetClassNameW(window, className, 256);
          DWORD process = 0;
          GetWindowThreadProcessId(window, &process);
          out(toUtf8(className) + " process " + std::to_string(process) + " visible " +
              std::to_string(IsWindowVisible(window) ? 1 : 0) + " title " + oneLine(toUtf8(windowText(window))) + "\n");
          return TRUE;
        },
        0);
    return 0;
  }
  if (command == L"type-units" && argc >= 3) {
    HWND window = desk();
    if (window == nullptr) {
      return 1;
    }
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) || info.hwndFocus == nullptr) {
      return 1;
    }
    for (const wchar_t* unit = argv[2]; *unit != L'\0'; ++unit) {
      PostMessageW(info.hwndFocus, WM_CHAR, static_cast<WPARAM>(*unit), 1);
      Sleep(40);
    }
    return 0;
  }
  if (command == L"clipboard" && argc >= 4) {
    const std::wstring how = argv[2];
    std::wstring text = argv[3];
    bool terminated = true;
    if (how == L"unterminated") {
      terminated = false;
    } else if (how.rfind(L"repeat:", 0) == 0) {
      const int count = _wtoi(how.c_str() + 7);
      std::wstring repeated;
      for (int i = 0; i < count; ++i) repeated += text;
      text = repeated;
    } else if (how != L"terminated") {
      return usage();
    }
    return putClipboard(text, terminated) ? 0 : 1;
  }
  if (command == L"watch-screen" && argc >= 7) {
    return watchScreen(static_cast<DWORD>(_wtoi(argv[2])), _wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]),
                       _wtoi(argv[6]));
  }
  if (command == L"pid") {
    HWND window = desk();
    if (window == nullptr) {
      return 1;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    out(std::to_string(process) + "\n");
    return 0;
  }
  return usage();
}

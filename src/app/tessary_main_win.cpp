// Process entry of Tessary.exe: start-up in a fixed order (library search, DPI
// awareness, COM, GDI+, command line, self-test or single interactive instance,
// data folder, window, plate load), the message loop, and the orderly exit.
#include <windows.h>
#include <commctrl.h>
#include <objidl.h>  // GDI+ needs PROPID, which the lean Windows header leaves out
#include <gdiplus.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/app_session_win.h"
#include "app/desk_view_win.h"
#include "app/interface_font_win.h"
#include "app/tray_and_edit_win.h"
#include "app/window_handles_win.h"
#include "app/window_placement.h"
#include "app/window_proc_win.h"
#include "imaging/background_job_win.h"
#include "imaging/image_loading_win.h"
#include "imaging/plate_decoder_win.h"
#include "selftest/self_test_win.h"
#include "text/ui_language_win.h"

namespace {

using namespace tessary;

constexpr std::wstring_view kSelfTestSwitch = L"--self-test";
constexpr std::wstring_view kUiTestPrefix = L"--ui-test";
constexpr std::wstring_view kUiTestSpanish = L"--ui-test-es";
constexpr std::wstring_view kUiTestGerman = L"--ui-test-de";

constexpr wchar_t kMutexName[] = L"Local\\Tessary-1";
constexpr wchar_t kUiTestMutexName[] = L"Local\\Tessary-UI-Test-1";
constexpr wchar_t kDataFolderName[] = L"Tessary";
constexpr wchar_t kUiTestDataFolderName[] = L"Tessary-UI-Test";
constexpr wchar_t kWindowTitle[] = L"Tessary";
constexpr int kWindowWidth = 1320;
constexpr int kWindowHeight = 900;
constexpr int kAppIconId = 101;
constexpr LPARAM kHandOverCode = WM_LBUTTONUP;  // 514: as a left click on the icon

// The command-line arguments after the program name.
std::vector<std::wstring> commandArguments() {
  std::vector<std::wstring> arguments;
  int count = 0;
  LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!list) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(list[i]);
  LocalFree(list);
  return arguments;
}

struct Mode {
  bool selfTest = false;
  bool uiTest = false;
};

Mode scanMode(const std::vector<std::wstring>& arguments) {
  Mode mode;
  for (const std::wstring& argument : arguments) {
    if (argument == kSelfTestSwitch) mode.selfTest = true;
    if (argument.starts_with(kUiTestPrefix)) mode.uiTest = true;  // case-sensitive
  }
  return mode;
}

// Among the language switches the last one on the line wins.
void applyLanguageSwitches(Session& session, const std::vector<std::wstring>& arguments) {
  for (const std::wstring& argument : arguments) {
    if (argument == kUiTestSpanish) session.language = Language::Spanish;
    if (argument == kUiTestGerman) session.language = Language::German;
  }
}

std::filesystem::path moduleFolder(HINSTANCE instance) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(instance, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::filesystem::path();
    if (length < buffer.size()) {
      buffer.resize(length);
      return std::filesystem::path(buffer).parent_path();
    }
    buffer.resize(buffer.size() * 2);  // a long path did not fit
  }
}

// The data folder with its "observations" and "exports" folders. Any failure
// leaves the program running without storage.
void prepareDataFolder(Session& session, bool uiTest) {
  PWSTR known = nullptr;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known))) {
    if (known) CoTaskMemFree(known);
    session.storageAvailable = false;
    return;
  }
  session.dataFolder = std::filesystem::path(known) / (uiTest ? kUiTestDataFolderName : kDataFolderName);
  CoTaskMemFree(known);
  for (const wchar_t* sub : {L"observations", L"exports"}) {
    std::error_code error;
    std::filesystem::create_directories(session.dataFolder / sub, error);
    if (error) {
      session.storageAvailable = false;
      return;
    }
  }
}

// Called by a second instance: wake the first one as a click on its icon would.
// The first instance may then bring its window to the front: this process, which
// the user just started, holds that right and passes it on.
void handOverToFirstInstance() {
  HWND first = FindWindowW(kDeskWindowClass, nullptr);
  if (!first) return;
  DWORD firstProcess = 0;
  GetWindowThreadProcessId(first, &firstProcess);
  if (firstProcess != 0) AllowSetForegroundWindow(firstProcess);
  PostMessageW(first, WM_TRAY_NOTIFY, 0, kHandOverCode);
}

// Centred on the work area of the monitor that holds the pointer.
WindowOrigin deskOrigin(int width, int height) {
  POINT pointer{};
  GetCursorPos(&pointer);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ScreenArea work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (GetMonitorInfoW(MonitorFromPoint(pointer, MONITOR_DEFAULTTONEAREST), &monitor)) {
    work = ScreenArea{monitor.rcWork.left, monitor.rcWork.top, monitor.rcWork.right, monitor.rcWork.bottom};
  }
  return centredOrigin(work, width, height);
}

void registerDeskClass(Session& session) {
  WNDCLASSEXW deskClass{};
  deskClass.cbSize = sizeof(deskClass);
  deskClass.style = CS_HREDRAW | CS_VREDRAW;
  deskClass.lpfnWndProc = deskWindowProc;
  deskClass.hInstance = static_cast<HINSTANCE>(session.instance);
  deskClass.hIcon = static_cast<HICON>(session.appIcon);
  deskClass.hIconSm = static_cast<HICON>(session.appIcon);
  deskClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  deskClass.hbrBackground = nullptr;  // the window paints its whole client area
  deskClass.lpszClassName = kDeskWindowClass;
  RegisterClassExW(&deskClass);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // No system error box, ever: an empty card reader or optical drive answers a
  // load with an error instead of a "no disk" box that would block the job.
  SetErrorMode(SEM_FAILCRITICALERRORS);
  // Libraries load from the system folder only; the current folder is not searched.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryW(L"");
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  Gdiplus::GdiplusStartupInput gdiplusInput;  // version 1, no callback, nothing suppressed
  ULONG_PTR gdiplusToken = 0;
  if (Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr) != Gdiplus::Ok) return 1;

  const std::vector<std::wstring> arguments = commandArguments();
  const Mode mode = scanMode(arguments);
  if (mode.selfTest) {
    const int code = runTests(instance, moduleFolder(instance));
    Gdiplus::GdiplusShutdown(gdiplusToken);
    CoUninitialize();
    return code;
  }

  Session& session = appSession();
  session.tickNow = [] { return static_cast<std::uint64_t>(GetTickCount64()); };
  session.instance = instance;
  session.language = pickLanguage();
  applyLanguageSwitches(session, arguments);

  // Created already owned; held until the exit (the system frees it if we die).
  HANDLE instanceLock = CreateMutexW(nullptr, TRUE, mode.uiTest ? kUiTestMutexName : kMutexName);
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    handOverToFirstInstance();
    if (instanceLock) CloseHandle(instanceLock);
    Gdiplus::GdiplusShutdown(gdiplusToken);
    CoUninitialize();
    return 0;
  }

  // The plate, shown first at every start, is decoded while the window is made and
  // first shown; the first load takes it.
  startOwnPlateDecodeAhead();

  prepareDataFolder(session, mode.uiTest);

  INITCOMMONCONTROLSEX commonControls{sizeof(commonControls), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&commonControls);

  session.uiFontFamily = fromWide(interfaceFontFamily());
  session.uiFont = CreateFontW(-14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                               toWide(session.uiFontFamily).c_str());
  session.panelBrush = CreateSolidBrush(RGB(34, 40, 63));
  session.appIcon = LoadIconW(instance, MAKEINTRESOURCEW(kAppIconId));
  registerDeskClass(session);

  // The controls report to the real window from its creation on.
  WindowDeskView deskView(session);
  session.view = &deskView;

  // The system menu style draws nothing on a window without a caption; it gives the
  // painted title band its menu (Alt+Space).
  const WindowOrigin origin = deskOrigin(kWindowWidth, kWindowHeight);
  HWND window = CreateWindowExW(0, kDeskWindowClass, kWindowTitle,
                                WS_POPUP | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_SYSMENU, origin.x,
                                origin.y, kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
  if (!window) {
    // The plate decoded ahead is dropped (its drawing bitmaps with it) before the
    // graphics library shuts down.
    session.view = nullptr;
    finishOwnPlateDecodeAhead();
    if (instanceLock) {
      ReleaseMutex(instanceLock);
      CloseHandle(instanceLock);
    }
    Gdiplus::GdiplusShutdown(gdiplusToken);
    CoUninitialize();
    return 1;
  }

  // The window opens normally whatever show command the process was started with.
  showDeskFirstTime(window);
  startImageLoad(session, std::u16string());

  runMessageLoop(session);

  // No job may outlive the image and the result slot it uses.
  finishBackgroundJob(session);
  finishOwnPlateDecodeAhead();
  session.currentImage.reset();
  session.view = nullptr;
  DeleteObject(static_cast<HFONT>(session.uiFont));
  DeleteObject(static_cast<HBRUSH>(session.panelBrush));
  session.uiFont = nullptr;
  session.panelBrush = nullptr;
  if (instanceLock) {
    ReleaseMutex(instanceLock);
    CloseHandle(instanceLock);
  }
  Gdiplus::GdiplusShutdown(gdiplusToken);
  CoUninitialize();
  return 0;
}

// Start-up of the real program: data folders, the window and its controls, the
// single instance and its hand-over, the UI-test mode, and a plain Quit.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>
#include <string>

#include "app/control_ids.h"
#include "app/layout.h"
#include "imaging/plate_identity.h"
#include "support/desk_process_win.h"
#include "text/ui_strings.h"

namespace tessary::testing {
namespace {

std::wstring wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

class DeskStartup : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(tessaryExe())) << "build the Tessary target first: " << tessaryExe();
    ASSERT_TRUE(deskWindows().empty()) << "another Tessary window is open";
  }
  DeskTestLock lock;
};

TEST_F(DeskStartup, CreatesTheDataFoldersAndTheWindowThenQuitsWithZero) {
  removeTree(uiTestDataFolder());
  DeskProcess desk(L"--ui-test");
  ASSERT_TRUE(desk.started());
  HWND window = desk.waitForWindow();
  ASSERT_NE(window, nullptr);

  EXPECT_TRUE(std::filesystem::is_directory(uiTestDataFolder() / "observations"));
  EXPECT_TRUE(std::filesystem::is_directory(uiTestDataFolder() / "exports"));

  EXPECT_EQ(windowText(window), L"Tessary");
  EXPECT_TRUE(IsWindowVisible(window));
  const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  const DWORD frame = WS_POPUP | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  EXPECT_EQ(style & frame, frame);
  EXPECT_EQ(style & WS_CAPTION, 0u) << "the program draws its own title band";
  // No extended style of its own; the frame adds the window edge, and accepting
  // dropped files sets WS_EX_ACCEPTFILES.
  const DWORD extended = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
  EXPECT_NE(extended & WS_EX_ACCEPTFILES, 0u);
  EXPECT_EQ(extended & ~static_cast<DWORD>(WS_EX_WINDOWEDGE | WS_EX_ACCEPTFILES), 0u);
  RECT outer{};
  GetWindowRect(window, &outer);
  EXPECT_EQ(outer.right - outer.left, 1320);
  EXPECT_EQ(outer.bottom - outer.top, 900);
  // Centred on the work area of the monitor that holds the pointer.
  POINT pointer{};
  GetCursorPos(&pointer);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromPoint(pointer, MONITOR_DEFAULTTONEAREST), &monitor));
  const RECT& work = monitor.rcWork;
  EXPECT_EQ(outer.left, std::max(work.left, work.left + (work.right - work.left - 1320) / 2));
  EXPECT_EQ(outer.top, std::max(work.top, work.top + (work.bottom - work.top - 900) / 2));

  clickButton(window, ID_QUIT);
  const auto code = desk.waitForExit();
  ASSERT_TRUE(code.has_value()) << "Quit did not end the program";
  EXPECT_EQ(*code, 0u);
  EXPECT_TRUE(deskWindows().empty());
}

TEST_F(DeskStartup, ControlsFollowCreationOrderStylesLimitsAndLayout) {
  DeskProcess desk(L"--ui-test --ui-test-de");
  HWND window = desk.waitForWindow();
  ASSERT_NE(window, nullptr);

  // Child windows are listed in creation order, which is the Tab order.
  std::vector<int> order;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    order.push_back(GetDlgCtrlID(child));
  }
  EXPECT_EQ(order, std::vector<int>(kControlCreationOrder.begin(), kControlCreationOrder.end()));

  struct Expected {
    int id;
    const wchar_t* className;
    DWORD style;  // without WS_DISABLED, which follows the state
    std::u16string label;
  };
  const Language de = Language::German;
  const Expected expected[] = {
      {ID_PLATE, L"Button", 0x5001000B, uiText(de, 1)},
      {ID_OPEN_IMAGE, L"Button", 0x5001000B, uiText(de, 2)},
      {ID_GUIDE, L"Button", 0x5001000B, uiText(de, 4)},
      {ID_CLOSE, L"Button", 0x5001000B, uiText(de, 16)},
      {ID_QUIT, L"Button", 0x5001000B, uiText(de, 17)},
      {ID_FIT, L"Button", 0x5001000B, uiText(de, 5)},
      {ID_ACTUAL_PIXELS, L"Button", 0x5001000B, uiText(de, 6)},
      {ID_ZOOM_OUT, L"Button", 0x5001000B, u"\u2212"},
      {ID_ZOOM_IN, L"Button", 0x5001000B, u"+"},
      {ID_PAN, L"Button", 0x5001000B, uiText(de, 7)},
      {ID_ADD_MARKER, L"Button", 0x5001000B, uiText(de, 8)},
      {ID_SELECT_CROP, L"Button", 0x5001000B, uiText(de, 9)},
      {ID_EXPORT_CROP, L"Button", 0x5001000B, uiText(de, 10)},
      {ID_EXPORT_NOTES, L"Button", 0x5001000B, uiText(de, 11)},
      {ID_SAVE_NOTE, L"Button", 0x5001000B, uiText(de, 13)},
      {ID_REMOVE_MARKER, L"Button", 0x5001000B, uiText(de, 14)},
      {ID_UNDO_REMOVAL, L"Button", 0x5001000B, uiText(de, 15)},
      {ID_EXPORT_FOLDER, L"Button", 0x5001000B, uiText(de, 12)},
      {ID_GUIDE_CLOSE, L"Button", 0x4001000B, uiText(de, 16)},  // hidden with the guide
      {ID_PATH_EDIT, L"Edit", 0x50010080, u""},
      {ID_NOTE_EDIT, L"Edit", 0x50211044, u""},
      {ID_GUIDE_TEXT, L"Edit", 0x40210844, {}},  // hidden; its text is checked below
  };
  for (const Expected& e : expected) {
    HWND control = GetDlgItem(window, e.id);
    ASSERT_NE(control, nullptr) << "control " << e.id;
    EXPECT_EQ(_wcsicmp(windowClass(control).c_str(), e.className), 0) << "control " << e.id;
    const DWORD style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE)) & ~static_cast<DWORD>(WS_DISABLED);
    EXPECT_EQ(style, e.style) << "control " << e.id << std::hex << " style " << style;
    if (e.id != ID_GUIDE_TEXT) {
      EXPECT_EQ(windowText(control), wide(e.label)) << "control " << e.id;
    }
  }

  struct Limit {
    int id;
    LRESULT limit;
  };
  for (const Limit& l : {Limit{ID_PATH_EDIT, 16000}, Limit{ID_NOTE_EDIT, 2400}, Limit{ID_GUIDE_TEXT, 50000}}) {
    HWND box = GetDlgItem(window, l.id);
    EXPECT_EQ(SendMessageW(box, EM_GETLIMITTEXT, 0, 0), l.limit) << "box " << l.id;
    const LRESULT margins = SendMessageW(box, EM_GETMARGINS, 0, 0);
    EXPECT_EQ(LOWORD(margins), 10) << "box " << l.id;
    EXPECT_EQ(HIWORD(margins), 10) << "box " << l.id;
  }

  // The guide: strings 43 and 44, then the credits and the JSON library's licence.
  const std::wstring guide = windowText(GetDlgItem(window, ID_GUIDE_TEXT));
  const std::wstring opening = wide(uiText(de, 43)) + L"\r\n\r\n" + wide(uiText(de, 44)) + L"\r\n\r\n";
  EXPECT_EQ(guide.substr(0, opening.size()), opening);
  EXPECT_NE(guide.find(L"JSON for Modern C++"), std::wstring::npos);
  EXPECT_NE(guide.find(L"Copyright (c) 2013-2022 Niels Lohmann"), std::wstring::npos);
  EXPECT_NE(guide.find(L"Permission is hereby granted, free of charge"), std::wstring::npos);
  const std::string description = kPlateDescription;  // ASCII
  EXPECT_NE(guide.find(std::wstring(description.begin(), description.end())), std::wstring::npos);
  EXPECT_EQ(guide.find(L"\n\n"), std::wstring::npos) << "every line break is CR LF";

  // Every control sits where the layout puts it for the real client size.
  RECT client{};
  GetClientRect(window, &client);
  for (const ControlRect& place : layoutControlRects(client.right, client.bottom)) {
    const RECT actual = childRect(window, GetDlgItem(window, place.id));
    EXPECT_EQ(actual.left, place.x) << "control " << place.id;
    EXPECT_EQ(actual.top, place.y) << "control " << place.id;
    EXPECT_EQ(actual.right - actual.left, place.width) << "control " << place.id;
    EXPECT_EQ(actual.bottom - actual.top, place.height) << "control " << place.id;
    EXPECT_EQ(IsWindowVisible(GetDlgItem(window, place.id)) != FALSE, controlShown(place.id, false))
        << "control " << place.id;
  }
  clickButton(window, ID_QUIT);
  EXPECT_EQ(desk.waitForExit().value_or(999), 0u);
}

TEST_F(DeskStartup, TheLastLanguageSwitchWins) {
  struct Case {
    const wchar_t* arguments;
    Language language;
  };
  for (const Case& c : {Case{L"--ui-test-de --ui-test-es", Language::Spanish},
                        Case{L"--ui-test-es --ui-test-de", Language::German}}) {
    DeskProcess desk(c.arguments);
    HWND window = desk.waitForWindow();
    ASSERT_NE(window, nullptr) << c.arguments;
    EXPECT_EQ(windowText(GetDlgItem(window, ID_QUIT)), wide(uiText(c.language, 17))) << c.arguments;
    clickButton(window, ID_QUIT);
    EXPECT_EQ(desk.waitForExit().value_or(999), 0u) << c.arguments;
  }
}

TEST_F(DeskStartup, OpensNormallyWhenLaunchedMinimisedOrMaximised) {
  for (int show : {SW_SHOWMINIMIZED, SW_SHOWMINNOACTIVE, SW_SHOWMAXIMIZED, SW_HIDE, SW_MINIMIZE}) {
    DeskProcess desk(L"--ui-test", show);
    HWND window = desk.waitForWindow();
    ASSERT_NE(window, nullptr) << "show command " << show;
    settle(window);
    EXPECT_TRUE(IsWindowVisible(window)) << "show command " << show;
    EXPECT_FALSE(IsIconic(window)) << "show command " << show;
    EXPECT_FALSE(IsZoomed(window)) << "show command " << show;
    clickButton(window, ID_QUIT);
    EXPECT_EQ(desk.waitForExit().value_or(999), 0u) << "show command " << show;
  }
}

TEST_F(DeskStartup, SecondInstanceHandsOverToTheHiddenFirstAndExitsWithoutWindow) {
  DeskProcess first(L"--ui-test");
  HWND window = first.waitForWindow();
  ASSERT_NE(window, nullptr);

  // Close hides the window to the notification area.
  clickButton(window, ID_CLOSE);
  ASSERT_TRUE(waitFor([&] { return !IsWindowVisible(window); }, std::chrono::seconds(10)));

  // The second instance must not touch the data folder either.
  removeTree(uiTestDataFolder() / "exports");
  // "--ui-testing" is UI-test mode too (prefix rule), so it meets the same lock.
  DeskProcess second(L"--ui-testing");
  ASSERT_TRUE(second.started());
  const auto code = second.waitForExit(std::chrono::seconds(30));
  ASSERT_TRUE(code.has_value()) << "the second instance kept running";
  EXPECT_EQ(*code, 0u);

  EXPECT_TRUE(waitFor([&] { return IsWindowVisible(window) != FALSE; }, std::chrono::seconds(10)))
      << "the hand-over did not restore the first window";
  const auto windows = deskWindows();
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].processId, first.processId());
  EXPECT_FALSE(std::filesystem::exists(uiTestDataFolder() / "exports"));

  clickButton(window, ID_QUIT);
  EXPECT_EQ(first.waitForExit().value_or(999), 0u);
}

TEST_F(DeskStartup, UiTestModeHasItsOwnLockBesideANormalInstance) {
  DeskProcess uiTest(L"--ui-test");
  HWND uiWindow = uiTest.waitForWindow();
  ASSERT_NE(uiWindow, nullptr);

  // A normal start is not a second instance of the UI-test one; the capitalised
  // switch is not the switch (comparisons are case-sensitive).
  DeskProcess normal(L"--UI-TEST");
  HWND normalWindow = normal.waitForWindow();
  ASSERT_NE(normalWindow, nullptr) << "the normal instance handed over to the UI-test one";
  EXPECT_NE(normalWindow, uiWindow);
  EXPECT_TRUE(std::filesystem::is_directory(localAppData() / "Tessary" / "observations"));
  EXPECT_TRUE(std::filesystem::is_directory(localAppData() / "Tessary" / "exports"));

  clickButton(normalWindow, ID_QUIT);
  EXPECT_EQ(normal.waitForExit().value_or(999), 0u);
  clickButton(uiWindow, ID_QUIT);
  EXPECT_EQ(uiTest.waitForExit().value_or(999), 0u);
}

TEST_F(DeskStartup, ToolsAreNeverEnabledBeforeThereIsAnImage) {
  // The controls' birth and first drawing are watched inside the creating thread
  // (ControlCreation); here the real program is watched from its first showing on:
  // while the plate decodes the tool row is disabled, and it comes on once, with
  // the image.
  DeskProcess desk(L"--ui-test");
  HWND window = desk.waitForWindow();
  ASSERT_NE(window, nullptr);
  // Sampled every 50 ms until the plate is shown. While the decode runs the plate
  // button is disabled (a job runs); the tool row must be disabled with it. (The
  // decode started ahead may have ended before the first sample: then the samples
  // see the tool row enabled only.)
  std::vector<int> seen;
  int enabledDuringJob = 0;
  auto sample = [&] {
    const bool fit = IsWindowEnabled(GetDlgItem(window, ID_FIT)) != FALSE;
    const bool idle = IsWindowEnabled(GetDlgItem(window, ID_PLATE)) != FALSE;
    if (seen.empty() || seen.back() != (fit ? 1 : 0)) seen.push_back(fit ? 1 : 0);
    if (fit && !idle) ++enabledDuringJob;
    return fit && idle;
  };
  ASSERT_TRUE(waitFor(sample, std::chrono::seconds(90))) << "the plate was never shown";
  EXPECT_TRUE(seen == (std::vector<int>{0, 1}) || seen == (std::vector<int>{1}))
      << "the tool row was enabled before the plate was shown, or disabled after it";
  EXPECT_EQ(enabledDuringJob, 0) << "the tool row was enabled while the plate decoded";
  clickButton(window, ID_QUIT);
  EXPECT_EQ(desk.waitForExit().value_or(999), 0u);
}

}  // namespace
}  // namespace tessary::testing

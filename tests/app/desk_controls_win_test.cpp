// The controls of the real window: typing and pasting rules of the edit boxes,
// the guide panel, Escape, the icon's restore, and Tab order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "support/desk_process_win.h"
#include "text/text_rules.h"

namespace tessary::testing {
namespace {

// A character outside the enabled scripts, for the refusal cases.
constexpr wchar_t kRefused = L'\u0416';  // Cyrillic

class DeskControls : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(tessaryExe())) << "build the Tessary target first: " << tessaryExe();
    ASSERT_TRUE(deskWindows().empty()) << "another Tessary window is open";
    ASSERT_FALSE(isEnabledScript(std::u16string(1, static_cast<char16_t>(kRefused))));
    removeTree(uiTestDataFolder());
    desk.emplace(L"--ui-test");
    window = desk->waitForWindow();
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override {
    if (window && desk && desk->running()) {
      clickButton(window, ID_QUIT);
      EXPECT_EQ(desk->waitForExit().value_or(999), 0u);
    }
  }

  HWND control(int id) const { return GetDlgItem(window, id); }
  void setText(HWND box, const std::wstring& text) {
    SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  void selectRange(HWND box, int start, int end) { SendMessageW(box, EM_SETSEL, start, end); }
  // Text after everything posted so far was handled.
  std::wstring settledText(HWND box) {
    settle(window);
    return windowText(box);
  }

  DeskTestLock lock;
  std::optional<DeskProcess> desk;
  HWND window = nullptr;
};

TEST_F(DeskControls, PathBoxDropsTabEnterAndRefusedCharactersAndSilentBackspace) {
  ASSERT_TRUE(waitUntilReady(window));
  HWND path = control(ID_PATH_EDIT);
  typeCharacters(path, std::wstring(L"a\tb\rc") + kRefused + L"d");
  EXPECT_EQ(settledText(path), L"abcd");

  // Backspace at the very start with nothing selected changes nothing.
  selectRange(path, 0, 0);
  typeCharacters(path, L"\b");
  EXPECT_EQ(settledText(path), L"abcd");
  // Elsewhere it deletes as usual.
  selectRange(path, 4, 4);
  typeCharacters(path, L"\b");
  EXPECT_EQ(settledText(path), L"abc");
}

// A 2 x 2 24-bit BMP, rows bottom-up, each padded to four bytes.
std::string tinyBmp() {
  std::string bmp = {'B', 'M'};
  const auto put32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp.push_back(static_cast<char>(v >> (8 * i)));
  };
  const auto put16 = [&](std::uint16_t v) {
    bmp.push_back(static_cast<char>(v));
    bmp.push_back(static_cast<char>(v >> 8));
  };
  put32(54 + 16);  // file size
  put32(0);
  put32(54);  // pixel offset
  put32(40);  // header size
  put32(2);
  put32(2);
  put16(1);
  put16(24);
  put32(0);  // no compression
  put32(16);
  put32(2835);
  put32(2835);
  put32(0);
  put32(0);
  for (int row = 0; row < 2; ++row) bmp += std::string("\x10\x20\x30\x40\x50\x60\0\0", 8);
  return bmp;
}

TEST_F(DeskControls, EnterInThePathBoxOpensTheTypedPath) {
  ASSERT_TRUE(waitUntilReady(window));
  wchar_t temp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::filesystem::path folder = std::filesystem::path(temp) / "tessary-window-test";
  std::filesystem::create_directories(folder);
  const std::filesystem::path image = folder / "tiny.bmp";
  {
    std::ofstream out(image, std::ios::binary | std::ios::trunc);
    out << tinyBmp();
  }
  HWND path = control(ID_PATH_EDIT);
  // Pasted paths often come quoted; one enclosing pair is removed.
  setText(path, L"\"" + image.wstring() + L"\"");
  // A click puts the focus into the box, where a user's Enter then goes; the
  // program's message loop sees the key first.
  PostMessageW(path, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  PostMessageW(path, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  ASSERT_TRUE(waitFor([&] { return focusedWindow(window) == path; }, std::chrono::seconds(5)));
  pressKey(path, VK_RETURN);
  // The load shows the loaded path, without the quotes, and the image is ready.
  std::wstring shown;
  EXPECT_TRUE(waitFor(
      [&] {
        shown = windowText(path);
        return shown == image.wstring();
      },
      std::chrono::seconds(30)))
      << "path box holds: " << std::string(shown.begin(), shown.end());
  EXPECT_TRUE(waitUntilReady(window));
  removeTree(folder);
}

TEST_F(DeskControls, PasteIsRefusedWholeForRefusedTextOrOverTheLimit) {
  ASSERT_TRUE(waitUntilReady(window));
  HWND path = control(ID_PATH_EDIT);
  setText(path, L"abc");
  selectRange(path, 3, 3);
  ASSERT_TRUE(putClipboardText(L"xy"));
  SendMessageW(path, WM_PASTE, 0, 0);
  EXPECT_EQ(windowText(path), L"abcxy");

  ASSERT_TRUE(putClipboardText(std::wstring(L"ok") + kRefused));
  SendMessageW(path, WM_PASTE, 0, 0);
  EXPECT_EQ(windowText(path), L"abcxy");

  // 15,999 of 16,000 units: two more are refused whole, one more fits.
  setText(path, std::wstring(15999, L'a'));
  selectRange(path, 15999, 15999);
  ASSERT_TRUE(putClipboardText(L"bb"));
  SendMessageW(path, WM_PASTE, 0, 0);
  EXPECT_EQ(windowText(path).size(), 15999u);
  ASSERT_TRUE(putClipboardText(L"b"));
  SendMessageW(path, WM_PASTE, 0, 0);
  EXPECT_EQ(windowText(path), std::wstring(15999, L'a') + L"b");
}

TEST_F(DeskControls, NoteBoxLimitCountsEnterAsTwoUnits) {
  ASSERT_TRUE(waitUntilReady(window));
  ASSERT_FALSE(addMarkerInCanvasCentre(window).empty());
  HWND note = control(ID_NOTE_EDIT);
  setText(note, std::wstring(2399, L'n'));
  selectRange(note, 2399, 2399);
  typeCharacters(note, L"\r");
  EXPECT_EQ(settledText(note).size(), 2399u) << "Enter needs two units";
  typeCharacters(note, L"z");
  EXPECT_EQ(settledText(note), std::wstring(2399, L'n') + L"z");
  typeCharacters(note, L"q");
  EXPECT_EQ(settledText(note).size(), 2400u);

  // A multi-line box keeps Enter as a line break, but Tab is dropped.
  setText(note, L"");
  typeCharacters(note, L"a\rb\tc");
  EXPECT_EQ(settledText(note), L"a\r\nbc");
}

TEST_F(DeskControls, GuideTextIsReadOnlyAndEscapeClosesTheGuide) {
  clickButton(window, ID_GUIDE);
  HWND guide = control(ID_GUIDE_TEXT);
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(guide) != FALSE; }, std::chrono::seconds(5)));
  EXPECT_TRUE(IsWindowVisible(control(ID_GUIDE_CLOSE)));
  for (int id = ID_FIT; id <= ID_UNDO_REMOVAL; ++id) EXPECT_FALSE(IsWindowVisible(control(id))) << id;
  for (int id : {ID_PLATE, ID_OPEN_IMAGE, ID_PATH_EDIT, ID_GUIDE, ID_CLOSE, ID_EXPORT_FOLDER, ID_QUIT}) {
    EXPECT_TRUE(IsWindowVisible(control(id))) << id;
  }

  const std::wstring original = windowText(guide);
  ASSERT_FALSE(original.empty());
  selectRange(guide, 0, 5);
  typeCharacters(guide, L"x\b\r");
  pressKey(guide, VK_DELETE);
  pressKey(guide, VK_BACK);
  ASSERT_TRUE(putClipboardText(L"pasted"));
  SendMessageW(guide, WM_PASTE, 0, 0);
  SendMessageW(guide, WM_CUT, 0, 0);
  SendMessageW(guide, WM_UNDO, 0, 0);
  EXPECT_EQ(settledText(guide), original);

  // Escape closes the guide whatever has the focus, and the tools come back.
  pressKey(window, VK_ESCAPE);
  EXPECT_TRUE(waitFor([&] { return IsWindowVisible(guide) == FALSE; }, std::chrono::seconds(5)));
  EXPECT_FALSE(IsWindowVisible(control(ID_GUIDE_CLOSE)));
  for (int id = ID_FIT; id <= ID_UNDO_REMOVAL; ++id) EXPECT_TRUE(IsWindowVisible(control(id))) << id;
  EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(DeskControls, EscapePeelsGuideThenModeThenHidesAndTheIconRestores) {
  clickButton(window, ID_SELECT_CROP);
  clickButton(window, ID_GUIDE);
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(control(ID_GUIDE_TEXT)) != FALSE; }, std::chrono::seconds(5)));

  pressKey(window, VK_ESCAPE);  // closes the guide
  settle(window);
  EXPECT_FALSE(IsWindowVisible(control(ID_GUIDE_TEXT)));
  EXPECT_TRUE(IsWindowVisible(window));
  pressKey(window, VK_ESCAPE);  // leaves Crop mode
  settle(window);
  EXPECT_TRUE(IsWindowVisible(window));
  pressKey(window, VK_ESCAPE);  // hides to the notification area
  EXPECT_TRUE(waitFor([&] { return IsWindowVisible(window) == FALSE; }, std::chrono::seconds(5)));
  EXPECT_TRUE(desk->running());

  // A left click on the icon shows the window again; so does a double click.
  PostMessageW(window, kTrayNotify, 0, WM_LBUTTONUP);
  EXPECT_TRUE(waitFor([&] { return IsWindowVisible(window) != FALSE; }, std::chrono::seconds(5)));
  clickButton(window, ID_CLOSE);
  EXPECT_TRUE(waitFor([&] { return IsWindowVisible(window) == FALSE; }, std::chrono::seconds(5)));
  PostMessageW(window, kTrayNotify, 0, WM_MOUSEMOVE);  // other callback codes do nothing
  settle(window);
  EXPECT_FALSE(IsWindowVisible(window));
  PostMessageW(window, kTrayNotify, 0, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(waitFor([&] { return IsWindowVisible(window) != FALSE; }, std::chrono::seconds(5)));
  // The image released by hiding is decoded again.
  EXPECT_TRUE(waitUntilReady(window));

  // Alt+F4 is a close request: it hides the window too.
  PostMessageW(window, WM_SYSKEYDOWN, VK_F4, static_cast<LPARAM>(0x20000001));
  EXPECT_TRUE(waitFor([&] { return IsWindowVisible(window) == FALSE; }, std::chrono::seconds(5)));
  EXPECT_TRUE(desk->running());
  PostMessageW(window, kTrayNotify, 0, WM_LBUTTONUP);
  EXPECT_TRUE(waitFor([&] { return IsWindowVisible(window) != FALSE; }, std::chrono::seconds(5)));
}

TEST_F(DeskControls, TaskbarRestartKeepsTheIconSoCloseStillHides) {
  // The shell's broadcast after a taskbar restart; the program adds its icon again
  // (or finds it still there) and hiding keeps working.
  const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  ASSERT_NE(taskbarCreated, 0u);
  PostMessageW(window, taskbarCreated, 0, 0);
  settle(window);
  clickButton(window, ID_CLOSE);
  EXPECT_TRUE(waitFor([&] { return IsWindowVisible(window) == FALSE; }, std::chrono::seconds(5)))
      << "Close minimised or kept the window instead of hiding it to the icon";
  EXPECT_FALSE(IsIconic(window));
  PostMessageW(window, kTrayNotify, 0, WM_LBUTTONUP);
  EXPECT_TRUE(waitFor([&] { return IsWindowVisible(window) != FALSE; }, std::chrono::seconds(5)));
}

TEST_F(DeskControls, TabMovesThroughVisibleEnabledControlsInCreationOrder) {
  ASSERT_TRUE(waitUntilReady(window));
  // Ready, no marker, guide closed: the enabled and visible controls in creation order.
  const std::vector<int> cycle = {ID_PLATE,       ID_OPEN_IMAGE,   ID_GUIDE,     ID_CLOSE,        ID_QUIT,
                                  ID_FIT,         ID_ACTUAL_PIXELS, ID_PAN,      ID_ADD_MARKER,   ID_SELECT_CROP,
                                  ID_EXPORT_CROP, ID_EXPORT_NOTES, ID_EXPORT_FOLDER, ID_ZOOM_OUT, ID_ZOOM_IN,
                                  ID_PATH_EDIT};
  std::vector<int> visited;
  for (std::size_t step = 0; step < cycle.size() + 2; ++step) {
    HWND focus = focusedWindow(window);
    ASSERT_NE(focus, nullptr);
    pressKey(focus, VK_TAB);
    settle(window);
    visited.push_back(GetDlgCtrlID(focusedWindow(window)));
  }
  const auto first = std::find(cycle.begin(), cycle.end(), visited.front());
  ASSERT_NE(first, cycle.end()) << "Tab went to control " << visited.front();
  std::size_t at = static_cast<std::size_t>(first - cycle.begin());
  for (int id : visited) {
    EXPECT_EQ(id, cycle[at % cycle.size()]);
    ++at;
  }
}

}  // namespace
}  // namespace tessary::testing

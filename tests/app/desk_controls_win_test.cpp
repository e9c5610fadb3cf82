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

std::string fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(DeskControls, NoteBoxTakesACharacterTypedAsTwoUnits) {
  ASSERT_TRUE(waitUntilReady(window));
  const std::filesystem::path sheet = addMarkerInCanvasCentre(window);
  ASSERT_FALSE(sheet.empty());
  HWND note = control(ID_NOTE_EDIT);
  // U+1F52D TELESCOPE arrives as the keyboard sends it: two WM_CHAR units.
  const std::wstring telescope = L"\xD83D\xDD2D";
  typeCharacters(note, L"a" + telescope + L"b");
  EXPECT_EQ(settledText(note), L"a" + telescope + L"b");
  // A lone unit of either kind never reaches the box, and costs nothing else.
  typeCharacters(note, std::wstring(1, telescope[1]) + L"c" + std::wstring(1, telescope[0]) + L"d");
  EXPECT_EQ(settledText(note), L"a" + telescope + L"bcd");
  // The sheet holds the character as one four-byte UTF-8 sequence.
  EXPECT_TRUE(waitFor([&] { return fileBytes(sheet).find("\"a\xF0\x9F\x94\xAD" "bcd\"") != std::string::npos; },
                      std::chrono::seconds(10)))
      << fileBytes(sheet);

  // The pair counts two units against the limit of 2,400.
  setText(note, std::wstring(2399, L'n'));
  selectRange(note, 2399, 2399);
  typeCharacters(note, telescope);
  EXPECT_EQ(settledText(note), std::wstring(2399, L'n')) << "a pair does not fit in one unit";
  setText(note, std::wstring(2398, L'n'));
  selectRange(note, 2398, 2398);
  typeCharacters(note, telescope);
  EXPECT_EQ(settledText(note), std::wstring(2398, L'n') + telescope);
}

TEST_F(DeskControls, ShownAgainDuringALoadThatFailsTheImageComesBack) {
  ASSERT_TRUE(waitUntilReady(window));
  wchar_t temp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::filesystem::path folder = std::filesystem::path(temp) / "tessary-failing-load";
  std::filesystem::create_directories(folder);
  const std::filesystem::path text = folder / "notes.txt";
  {
    std::ofstream out(text, std::ios::binary | std::ios::trunc);
    out << "not an image\n";
  }
  setText(control(ID_PATH_EDIT), text.wstring());
  // In one go, before the load can end: open the file, hide the window (which
  // releases the plate) and show it again while the load still runs.
  clickButton(window, ID_OPEN_IMAGE);
  pressKey(window, VK_ESCAPE);
  PostMessageW(window, kTrayNotify, 0, WM_LBUTTONUP);
  settle(window);
  EXPECT_TRUE(IsWindowVisible(window));
  // The file is refused; the plate that was on screen is decoded again.
  EXPECT_TRUE(waitUntilReady(window)) << "the desk was left without an image";
  settle(window);
  EXPECT_TRUE(IsWindowEnabled(control(ID_FIT))) << "the image came back only for a moment";
  // The return of the plate does not write over the path the user typed.
  EXPECT_EQ(windowText(control(ID_PATH_EDIT)), text.wstring());
  removeTree(folder);
}

TEST_F(DeskControls, HidingAndRestoringKeepsAMaximisedWindowMaximised) {
  PostMessageW(window, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  ASSERT_TRUE(waitFor([&] { return IsZoomed(window) != FALSE; }, std::chrono::seconds(5)));
  clickButton(window, ID_CLOSE);
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(window) == FALSE; }, std::chrono::seconds(5)));
  PostMessageW(window, kTrayNotify, 0, WM_LBUTTONUP);
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(window) != FALSE; }, std::chrono::seconds(5)));
  settle(window);
  EXPECT_TRUE(IsZoomed(window)) << "the icon's restore un-maximised the window";

  // Minimising hides to the icon too; the restore brings back the maximised window.
  PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(window) == FALSE; }, std::chrono::seconds(5)));
  PostMessageW(window, kTrayNotify, 0, WM_LBUTTONDBLCLK);
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(window) != FALSE; }, std::chrono::seconds(5)));
  settle(window);
  EXPECT_FALSE(IsIconic(window));
  EXPECT_TRUE(IsZoomed(window));

  // A normal window stays normal.
  PostMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
  ASSERT_TRUE(waitFor([&] { return IsZoomed(window) == FALSE; }, std::chrono::seconds(5)));
  clickButton(window, ID_CLOSE);
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(window) == FALSE; }, std::chrono::seconds(5)));
  PostMessageW(window, kTrayNotify, 0, WM_LBUTTONUP);
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(window) != FALSE; }, std::chrono::seconds(5)));
  settle(window);
  EXPECT_FALSE(IsZoomed(window));
  EXPECT_FALSE(IsIconic(window));
}

TEST_F(DeskControls, ADoubleClickNotificationFromAButtonIsAClick) {
  // The guide toggles on the double-click notification as on a click.
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(ID_GUIDE, BN_DOUBLECLICKED),
               reinterpret_cast<LPARAM>(control(ID_GUIDE)));
  EXPECT_TRUE(waitFor([&] { return IsWindowVisible(control(ID_GUIDE_TEXT)) != FALSE; }, std::chrono::seconds(5)));
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(ID_GUIDE_CLOSE, BN_DOUBLECLICKED),
               reinterpret_cast<LPARAM>(control(ID_GUIDE_CLOSE)));
  EXPECT_TRUE(waitFor([&] { return IsWindowVisible(control(ID_GUIDE_TEXT)) == FALSE; }, std::chrono::seconds(5)));
}

}  // namespace
}  // namespace tessary::testing

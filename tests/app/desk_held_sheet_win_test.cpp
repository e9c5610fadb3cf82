// The real program meets its sheet held open by another program (this test holds
// it without sharing, as a backup tool or a virus scanner may): the plate opens
// without its notes and no marker can be added, nothing is recovered or written;
// once the file is released the desk's timer reads it, the marker is there with its
// note, and work goes on in the same sheet.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "app/control_ids.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"
#include "support/desk_process_win.h"
#include "support/held_file_win.h"

namespace tessary::testing {
namespace {

std::set<std::wstring> namesIn(const std::filesystem::path& folder) {
  std::set<std::wstring> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    names.insert(entry.path().filename().wstring());
  }
  return names;
}

// The middle of the canvas of a ready window, where addMarkerInCanvasCentre clicks.
POINT canvasCentre(HWND desk) {
  RECT client{};
  GetClientRect(desk, &client);
  return POINT{20 + (client.right - 370) / 2, 178 + (client.bottom - 257) / 2};
}

void clickAt(HWND desk, POINT point) {
  PostMessageW(desk, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(point.x, point.y));
  PostMessageW(desk, WM_LBUTTONUP, 0, MAKELPARAM(point.x, point.y));
}

class DeskHeldSheet : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(tessaryExe())) << "build the Tessary target first: " << tessaryExe();
    ASSERT_TRUE(deskWindows().empty()) << "another Tessary window is open";
    removeTree(uiTestDataFolder());
  }
  void TearDown() override { removeTree(uiTestDataFolder()); }

  DeskTestLock lock;
};

TEST_F(DeskHeldSheet, PlateOpensWithoutNotesWhileHeldAndShowsThemOnceReleased) {
  // A first run leaves the plate's sheet with one marker and its note.
  std::filesystem::path sheet;
  {
    DeskProcess desk(L"--ui-test");
    const HWND window = desk.waitForWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitUntilReady(window));
    sheet = addMarkerInCanvasCentre(window);
    ASSERT_FALSE(sheet.empty());
    typeCharacters(GetDlgItem(window, ID_NOTE_EDIT), L"kept");
    clickButton(window, ID_QUIT);
    ASSERT_EQ(desk.waitForExit().value_or(999), 0u);
  }
  ASSERT_EQ(readSheetFile(sheet).marks.size(), 1u);
  const std::filesystem::path folder = sheet.parent_path();
  const std::set<std::wstring> before = namesIn(folder);

  HeldFile held(sheet, 0);
  ASSERT_TRUE(held.held());
  DeskProcess desk(L"--ui-test");
  const HWND window = desk.waitForWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(waitUntilReady(window));
  const HWND noteBox = GetDlgItem(window, ID_NOTE_EDIT);

  // The marker is not there to select, and Add marker adds none.
  clickAt(window, canvasCentre(window));
  clickButton(window, ID_ADD_MARKER);
  clickAt(window, canvasCentre(window));
  settle(window);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a few timer ticks, the file still held
  settle(window);
  EXPECT_FALSE(IsWindowEnabled(noteBox)) << "a marker was selected or added while the sheet was held";
  EXPECT_EQ(namesIn(folder), before) << "something was written, copied or recovered";

  // Released: the timer reads the sheet; the marker can be selected with its note.
  held.release();
  clickButton(window, ID_PAN);
  settle(window);
  const bool selected = waitFor(
      [&] {
        clickAt(window, canvasCentre(window));
        settle(window);
        return IsWindowEnabled(noteBox) != FALSE;
      },
      std::chrono::seconds(10));
  ASSERT_TRUE(selected) << "the marker did not appear once the sheet could be read";
  EXPECT_EQ(windowText(noteBox), L"kept");

  // Work goes on in the same sheet.
  SendMessageW(noteBox, EM_SETSEL, 4, 4);
  typeCharacters(noteBox, L" and more");
  clickButton(window, ID_QUIT);
  EXPECT_EQ(desk.waitForExit().value_or(999), 0u);
  const ObservationSheet stored = readSheetFile(sheet);
  ASSERT_EQ(stored.marks.size(), 1u);
  EXPECT_EQ(stored.marks.front().note, "kept and more");
  std::set<std::wstring> after = before;
  after.insert(sheet.filename().wstring() + L".bak");
  EXPECT_EQ(namesIn(folder), after);
}

}  // namespace
}  // namespace tessary::testing

// The save gate of the real program: Quit and the session-end query save pending
// notes first, and a save that fails keeps the window where it is and the program
// running.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "app/control_ids.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"
#include "support/desk_process_win.h"

namespace tessary::testing {
namespace {

class DeskSaveGate : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(tessaryExe())) << "build the Tessary target first: " << tessaryExe();
    ASSERT_TRUE(deskWindows().empty()) << "another Tessary window is open";
    // The plate's sheet of an earlier run would start with markers.
    removeTree(uiTestDataFolder());
    desk.emplace(L"--ui-test");
  }

  // Starts the program, waits for the plate, adds one marker in the middle of the
  // canvas and returns the sheet file the marker was saved to.
  std::filesystem::path startWithOneMarker() {
    window = desk->waitForWindow();
    if (!window) {
      ADD_FAILURE() << "no window";
      return {};
    }
    if (!waitUntilReady(window)) {
      ADD_FAILURE() << "the plate did not load";
      return {};
    }
    noteBox = GetDlgItem(window, ID_NOTE_EDIT);
    const std::filesystem::path sheet = addMarkerInCanvasCentre(window);
    if (sheet.empty()) ADD_FAILURE() << "no marker was added and saved";
    return sheet;
  }

  static std::string noteInFile(const std::filesystem::path& sheet) {
    const ObservationSheet stored = readSheetFile(sheet);
    return stored.marks.empty() ? std::string("<no marker>") : stored.marks.front().note;
  }

  DeskTestLock lock;
  std::optional<DeskProcess> desk;
  HWND window = nullptr;
  HWND noteBox = nullptr;
};

TEST_F(DeskSaveGate, QuitSavesThePendingNoteAndEndsWithZero) {
  const std::filesystem::path sheet = startWithOneMarker();
  ASSERT_FALSE(sheet.empty());
  EXPECT_EQ(noteInFile(sheet), "");

  // Quit right after typing, long before the autosave would run.
  typeCharacters(noteBox, L"Quit keeps this");
  clickButton(window, ID_QUIT);
  const auto code = desk->waitForExit();
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0u);
  EXPECT_EQ(noteInFile(sheet), "Quit keeps this");
}

TEST_F(DeskSaveGate, AFailedSaveBlocksHidingQuittingAndTheSessionEnd) {
  const std::filesystem::path sheet = startWithOneMarker();
  ASSERT_FALSE(sheet.empty());

  // A folder where the temporary file must go makes every save fail.
  std::filesystem::path blocker = sheet;
  blocker += ".tmp";
  ASSERT_TRUE(std::filesystem::create_directory(blocker));

  typeCharacters(noteBox, L"Blocked note");
  // Let the one autosave attempt run and fail.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(noteInFile(sheet), "");

  clickButton(window, ID_CLOSE);
  PostMessageW(window, WM_CLOSE, 0, 0);
  pressKey(window, VK_ESCAPE);  // leaves Mark mode
  pressKey(window, VK_ESCAPE);  // in Pan mode Escape hides
  clickButton(window, ID_QUIT);
  settle(window);
  EXPECT_TRUE(desk->running()) << "Quit ended the program although the save failed";
  EXPECT_TRUE(IsWindowVisible(window)) << "the window was hidden although the save failed";

  // A minimise whose save fails stays a minimised window rather than hiding.
  PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(waitFor([&] { return IsIconic(window) != FALSE; }, std::chrono::seconds(5)));
  settle(window);
  EXPECT_TRUE(IsWindowVisible(window));
  PostMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
  EXPECT_TRUE(waitFor([&] { return IsIconic(window) == FALSE; }, std::chrono::seconds(5)));

  // The system may not end the session while the note cannot be saved.
  DWORD_PTR answer = 99;
  ASSERT_NE(SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 10000, &answer), 0);
  EXPECT_EQ(answer, 0u);
  EXPECT_EQ(noteInFile(sheet), "");

  // Once saving works again, the query saves and agrees.
  std::filesystem::remove(blocker);
  ASSERT_NE(SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 10000, &answer), 0);
  EXPECT_EQ(answer, 1u);
  EXPECT_EQ(noteInFile(sheet), "Blocked note");

  clickButton(window, ID_QUIT);
  EXPECT_EQ(desk->waitForExit().value_or(999), 0u);
}

}  // namespace
}  // namespace tessary::testing

// Sheet files held open by another program (a virus scanner, a backup tool) while
// the desk reads or preserves them.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>

#include "app/session_state.h"
#include "observations/observation_sheet.h"
#include "observations/sheet_store.h"
#include "observations/sheet_test_files.h"
#include "support/held_file_win.h"
#include "support/rules_session.h"
#include "text/ui_strings.h"

namespace tessary {
namespace {

using testing::namesIn;
using testing::readBytes;
using testing::RulesSession;
using testing::withSuffix;
using testing::HeldFile;
using testing::writeFile;

ObservationSheet sheetFor(const Session& session, int markers) {
  ObservationSheet sheet;
  sheet.imageSHA256 = session.currentImage->sha256;
  sheet.width = session.currentImage->width;
  sheet.height = session.currentImage->height;
  sheet.nextId = markers + 1;
  for (int id = 1; id <= markers; ++id) sheet.marks.push_back({id, 1.5 * id, 2.5 * id, "note", 1700000000 + id});
  return sheet;
}

TEST(SheetStoreWindows, SheetHeldBrieflyWithoutSharingIsReadAfterAPause) {
  RulesSession rules;
  Session& session = rules.session;
  const std::string text = printSheet(sheetFor(session, 3));
  writeFile(session.sheetPath, text);
  const std::filesystem::path sheet = session.sheetPath;

  HeldFile held(sheet, 0);
  ASSERT_TRUE(held.held());
  std::thread releaser([&] {
    Sleep(40);
    held.release();
  });
  session.statusText = u"string 25";
  loadSheetForImage(session);
  releaser.join();
  EXPECT_EQ(session.statusText, u"string 25") << "a recovery ran";
  EXPECT_EQ(session.sheetPath, sheet);
  EXPECT_EQ(printSheet(session.sheet), text);
  EXPECT_EQ(namesIn(sheet.parent_path()), std::set<std::string>{sheet.filename().string()});
}

struct DamagedRecoverySheet {
  explicit DamagedRecoverySheet(RulesSession& rules) {
    folder = rules.folder.path() / "observations";
    main = rules.session.sheetPath;
    recovery = withSuffix(main, ".recovery.json");
    copy = withSuffix(recovery, ".damaged-" + std::to_string(rules.seconds));
    writeFile(main, "not a sheet");
    writeFile(recovery, damaged);
    backup = printSheet(sheetFor(rules.session, 2));
    writeFile(withSuffix(recovery, ".bak"), backup);
  }
  std::filesystem::path folder, main, recovery, copy;
  std::string damaged = "{\"format\": \"Tessary\", \"version\"";
  std::string backup;
};

// Held with delete sharing only: the file cannot be read or copied, but it can be
// renamed, so it is moved aside before the recovered backup is saved.
TEST(SheetStoreWindows, DamagedRecoverySheetThatCannotBeCopiedIsMovedAside) {
  RulesSession rules;
  DamagedRecoverySheet files(rules);
  Session& session = rules.session;
  HeldFile held(files.recovery, FILE_SHARE_DELETE);
  ASSERT_TRUE(held.held());
  loadSheetForImage(session);
  EXPECT_EQ(session.statusText, uiText(Language::English, 40));
  EXPECT_FALSE(session.dirty);
  held.release();
  EXPECT_EQ(readBytes(files.copy), files.damaged);
  EXPECT_EQ(readBytes(files.recovery), files.backup);
  EXPECT_EQ(readBytes(withSuffix(files.recovery, ".bak")), files.backup);
}

// Held without any sharing: neither copied nor moved. The recovered backup stays in
// memory, every save shows "Could not save", and the damaged file keeps its bytes
// until it can be kept aside.
TEST(SheetStoreWindows, DamagedRecoverySheetThatCannotBeKeptAsideIsNeverWrittenOver) {
  RulesSession rules;
  DamagedRecoverySheet files(rules);
  Session& session = rules.session;
  HeldFile held(files.recovery, 0);
  ASSERT_TRUE(held.held());
  loadSheetForImage(session);
  EXPECT_EQ(printSheet(session.sheet), files.backup);
  EXPECT_EQ(session.statusText, uiText(Language::English, 27));
  EXPECT_TRUE(session.statusIsError);
  EXPECT_TRUE(session.dirty);
  session.sheet.marks.push_back({session.sheet.nextId, 3.0, 4.0, "more", 1700000000});
  session.sheet.nextId += 1;
  EXPECT_FALSE(saveSheet(session));
  EXPECT_TRUE(session.dirty);
  EXPECT_EQ(readBytes(withSuffix(files.recovery, ".bak")), files.backup);
  EXPECT_FALSE(std::filesystem::exists(files.copy));

  held.release();
  EXPECT_EQ(readBytes(files.recovery), files.damaged);
  ASSERT_TRUE(saveSheet(session));
  EXPECT_EQ(readBytes(files.copy), files.damaged);
  EXPECT_EQ(readBytes(files.recovery), printSheet(session.sheet));
}

}  // namespace
}  // namespace tessary

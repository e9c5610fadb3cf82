#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "observations/atomic_file.h"
#include "observations/atomic_file_win.h"
#include "observations/sheet_test_files.h"
#include "support/held_file_win.h"
#include "support/rules_session.h"

namespace tessary {
namespace {

using testing::namesIn;
using testing::readBytes;
using testing::TempFolder;
using testing::withSuffix;
using testing::HeldFile;
using testing::writeFile;
using Names = std::set<std::string>;

// The files a failed replacement can leave behind, and what settling them must
// leave: the target always present, with the old bytes where they survived, else
// with the new ones; no temporary file.
TEST(AtomicFileWindows, FailedReplacementIsSettledWithTheTargetPresent) {
  struct Case {
    const char* name;
    bool targetPresent;   // "old" at the target
    bool backupPresent;   // the backup name holds `backupBytes`
    std::string backupBytes;
    bool backupAsked;
    std::string expectedTarget;
    Names expectedNames;
  };
  const std::vector<Case> cases = {
      // ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: the old file already moved to the backup name.
      {"old file left under the backup name", false, true, "old", true, "old", {"state.json"}},
      // ERROR_UNABLE_TO_MOVE_REPLACEMENT without a backup: the old file is gone.
      {"old file removed, no backup asked", false, false, "", false, "new", {"state.json"}},
      {"old file removed, backup asked but absent", false, false, "", true, "new", {"state.json"}},
      {"target untouched, with backup", true, true, "older", true, "old", {"state.json", "state.json.bak"}},
      {"target untouched, without backup", true, false, "", false, "old", {"state.json"}},
      {"target untouched, stale backup not asked for", true, true, "older", false, "old",
       {"state.json", "state.json.bak"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const auto target = folder.path() / "state.json";
    if (c.targetPresent) writeFile(target, "old");
    if (c.backupPresent) writeFile(withSuffix(target, ".bak"), c.backupBytes);
    writeFile(withSuffix(target, ".tmp"), "new");

    atomic_file_detail::settleFailedReplacement(target.native(), withSuffix(target, ".tmp").native(),
                                                c.backupAsked ? withSuffix(target, ".bak").native() : L"");
    EXPECT_EQ(readBytes(target), c.expectedTarget);
    EXPECT_EQ(namesIn(folder.path()), c.expectedNames);
    if (c.targetPresent && c.backupPresent) {
      EXPECT_EQ(readBytes(withSuffix(target, ".bak")), c.backupBytes);
    }
  }
}

TEST(AtomicFileWindows, BackupThatCannotBeMovedBackIsCopiedBack) {
  TempFolder folder;
  const auto target = folder.path() / "state.json";
  writeFile(withSuffix(target, ".bak"), "old");
  writeFile(withSuffix(target, ".tmp"), "new");
  {
    // A reader that does not allow deletion keeps the backup from being renamed.
    HeldFile reader(withSuffix(target, ".bak"), FILE_SHARE_READ);
    ASSERT_TRUE(reader.held());
    atomic_file_detail::settleFailedReplacement(target.native(), withSuffix(target, ".tmp").native(),
                                                withSuffix(target, ".bak").native());
  }
  EXPECT_EQ(readBytes(target), "old");
  EXPECT_EQ(readBytes(withSuffix(target, ".bak")), "old");
  EXPECT_EQ(namesIn(folder.path()), (Names{"state.json", "state.json.bak"}));
}

TEST(AtomicFileWindows, BriefSharingConflictIsWaitedOut) {
  TempFolder folder;
  const auto target = folder.path() / "state.json";
  ASSERT_TRUE(writeFileAtomically(target, "old", true));
  HeldFile scanner(target, FILE_SHARE_READ);
  ASSERT_TRUE(scanner.held());
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    scanner.release();
  });
  const bool written = writeFileAtomically(target, "new", true);
  release.join();
  EXPECT_TRUE(written);
  EXPECT_EQ(readBytes(target), "new");
  EXPECT_EQ(readBytes(withSuffix(target, ".bak")), "old");
  EXPECT_EQ(namesIn(folder.path()), (Names{"state.json", "state.json.bak"}));
}

TEST(AtomicFileWindows, LastingSharingConflictFailsAndKeepsTheFiles) {
  TempFolder folder;
  const auto target = folder.path() / "state.json";
  ASSERT_TRUE(writeFileAtomically(target, "old", true));
  ASSERT_TRUE(writeFileAtomically(target, "current", true));
  {
    HeldFile holder(target, FILE_SHARE_READ);
    ASSERT_TRUE(holder.held());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(writeFileAtomically(target, "new", true));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("gave up on a held sheet after %lld ms\n", static_cast<long long>(waited.count()));
  }
  {
    // A backup held without delete sharing cannot be overwritten either.
    HeldFile holder(withSuffix(target, ".bak"), FILE_SHARE_READ);
    ASSERT_TRUE(holder.held());
    EXPECT_FALSE(writeFileAtomically(target, "new", true));
  }
  EXPECT_EQ(readBytes(target), "current");
  EXPECT_EQ(readBytes(withSuffix(target, ".bak")), "old");
  EXPECT_EQ(namesIn(folder.path()), (Names{"state.json", "state.json.bak"}));
}

}  // namespace
}  // namespace tessary

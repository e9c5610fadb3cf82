#include "observations/atomic_file.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "observations/observation_sheet.h"
#include "observations/sheet_test_files.h"
#include "support/rules_session.h"

namespace tessary {
namespace {

using testing::namesIn;
using testing::readBytes;
using testing::TempFolder;
using testing::withSuffix;
using testing::writeFile;
using Names = std::set<std::string>;

std::string sheetWithMarkers(int count) {
  ObservationSheet sheet;
  sheet.imageSHA256 = std::string(64, 'c');
  sheet.width = 640;
  sheet.height = 480;
  sheet.nextId = 3;
  for (int id = 1; id <= count; ++id) sheet.marks.push_back({id, 10.0 * id, 5.5, "note " + std::to_string(id), 1700000000});
  return printSheet(sheet);
}

TEST(AtomicFile, FirstWriteCreatesTheFileWithoutBackup) {
  TempFolder folder;
  const auto target = folder.path() / "state.json";
  const std::string two = sheetWithMarkers(2);
  ASSERT_TRUE(writeFileAtomically(target, two, true));
  EXPECT_EQ(readBytes(target), two);
  EXPECT_EQ(namesIn(folder.path()), (Names{"state.json"}));
}

TEST(AtomicFile, ReplacementKeepsThePreviousVersionAsBackup) {
  TempFolder folder;
  const auto target = folder.path() / "state.json";
  const std::string two = sheetWithMarkers(2);
  const std::string one = sheetWithMarkers(1);
  ASSERT_TRUE(writeFileAtomically(target, two, true));
  ASSERT_TRUE(writeFileAtomically(target, one, true));
  EXPECT_EQ(readBytes(target), one);
  EXPECT_EQ(readBytes(withSuffix(target, ".bak")), two);
  EXPECT_EQ(namesIn(folder.path()), (Names{"state.json", "state.json.bak"}));

  // A later replacement overwrites the older backup.
  const std::string zero = sheetWithMarkers(0);
  ASSERT_TRUE(writeFileAtomically(target, zero, true));
  EXPECT_EQ(readBytes(target), zero);
  EXPECT_EQ(readBytes(withSuffix(target, ".bak")), one);
  EXPECT_EQ(namesIn(folder.path()), (Names{"state.json", "state.json.bak"}));
}

TEST(AtomicFile, ReplacementWithoutBackupLeavesNoBackupAndKeepsAnExistingOne) {
  TempFolder folder;
  const auto target = folder.path() / "notes.csv";
  ASSERT_TRUE(writeFileAtomically(target, "first", false));
  ASSERT_TRUE(writeFileAtomically(target, "second", false));
  EXPECT_EQ(readBytes(target), "second");
  EXPECT_EQ(namesIn(folder.path()), (Names{"notes.csv"}));

  writeFile(withSuffix(target, ".bak"), "older backup");
  ASSERT_TRUE(writeFileAtomically(target, "third", false));
  EXPECT_EQ(readBytes(target), "third");
  EXPECT_EQ(readBytes(withSuffix(target, ".bak")), "older backup");
}

TEST(AtomicFile, FolderInPlaceOfTheTemporaryFileFailsAndKeepsTheTarget) {
  TempFolder folder;
  const auto target = folder.path() / "state.json";
  const std::string two = sheetWithMarkers(2);
  ASSERT_TRUE(writeFileAtomically(target, two, true));
  std::filesystem::create_directory(withSuffix(target, ".tmp"));

  EXPECT_FALSE(writeFileAtomically(target, "invalid", true));
  EXPECT_EQ(readBytes(target), two);
  EXPECT_TRUE(std::filesystem::is_directory(withSuffix(target, ".tmp")));
  EXPECT_EQ(namesIn(folder.path()), (Names{"state.json", "state.json.tmp"}));

  // The same on a first write: nothing appears.
  const auto fresh = folder.path() / "fresh.json";
  std::filesystem::create_directory(withSuffix(fresh, ".tmp"));
  EXPECT_FALSE(writeFileAtomically(fresh, "invalid", true));
  EXPECT_FALSE(std::filesystem::exists(fresh));
}

TEST(AtomicFile, ReadOnlyTargetIsNotReplaced) {
  TempFolder folder;
  const auto target = folder.path() / "state.json";
  const std::string two = sheetWithMarkers(2);
  ASSERT_TRUE(writeFileAtomically(target, two, true));
  ASSERT_TRUE(writeFileAtomically(target, two, true));  // leaves a backup
  writeFile(withSuffix(target, ".bak"), "backup bytes");
  {
    const testing::ReadOnlyFile readOnly(target);
    EXPECT_FALSE(writeFileAtomically(target, sheetWithMarkers(1), true));
    EXPECT_FALSE(writeFileAtomically(target, sheetWithMarkers(1), false));
  }
  EXPECT_EQ(readBytes(target), two);
  EXPECT_EQ(readBytes(withSuffix(target, ".bak")), "backup bytes");
  EXPECT_EQ(namesIn(folder.path()), (Names{"state.json", "state.json.bak"}));
}

TEST(AtomicFile, FolderAtTheTargetIsNotReplaced) {
  TempFolder folder;
  const auto target = folder.path() / "state.json";
  std::filesystem::create_directory(target);
  writeFile(target / "inside.txt", "kept");
  EXPECT_FALSE(writeFileAtomically(target, "new", true));
  EXPECT_FALSE(writeFileAtomically(target, "new", false));
  EXPECT_EQ(readBytes(target / "inside.txt"), "kept");
  EXPECT_EQ(namesIn(folder.path()), (Names{"state.json"}));
}

TEST(AtomicFile, MissingFolderFailsWithoutCreatingAnything) {
  TempFolder folder;
  EXPECT_FALSE(writeFileAtomically(folder.path() / "absent" / "state.json", "new", true));
  EXPECT_TRUE(namesIn(folder.path()).empty());
}

TEST(AtomicFile, LeftoverTemporaryFileIsReplacedAndRemoved) {
  TempFolder folder;
  const auto target = folder.path() / "state.json";
  ASSERT_TRUE(writeFileAtomically(target, "old", true));
  // A crash during an earlier write left a partial temporary file behind.
  writeFile(withSuffix(target, ".tmp"), std::string(100000, 'x'));
  ASSERT_TRUE(writeFileAtomically(target, "new", true));
  EXPECT_EQ(readBytes(target), "new");
  EXPECT_EQ(readBytes(withSuffix(target, ".bak")), "old");
  EXPECT_EQ(namesIn(folder.path()), (Names{"state.json", "state.json.bak"}));
}

TEST(AtomicFile, LargeBinaryContentAndNonAsciiNamesSurviveUnchanged) {
  TempFolder folder;
  const std::filesystem::path sub = folder.path() / std::u8string(u8"Beobachtungen-\u00fc\u00f1-\u03b1");
  std::filesystem::create_directory(sub);
  const auto target = sub / std::u8string(u8"\u00e9t\u00e9.json");
  std::string bytes(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) % 251);
  ASSERT_TRUE(writeFileAtomically(target, bytes, true));
  ASSERT_TRUE(writeFileAtomically(target, "", true));
  EXPECT_EQ(readBytes(target), "");
  EXPECT_EQ(readBytes(withSuffix(target, ".bak")), bytes);
  EXPECT_EQ(namesIn(sub).size(), 2u);
}

}  // namespace
}  // namespace tessary

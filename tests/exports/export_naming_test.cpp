#include "exports/export_naming.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/session_state.h"
#include "support/rules_session.h"

namespace tessary {
namespace {

using testing::TempFolder;

TEST(ExportStem, Table) {
  struct Case {
    std::int64_t seconds;
    std::uint64_t ticks;
    const char* stem;
  };
  const Case cases[] = {
      {1720000000, 123456789, "Tessary-1720000000-123456789"},
      {0, 0, "Tessary-0-0"},
      {-5, 7, "Tessary--5-7"},
      {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::uint64_t>::max(),
       "Tessary-9223372036854775807-18446744073709551615"},
  };
  for (const Case& c : cases) EXPECT_EQ(exportStem(c.seconds, c.ticks), c.stem);
}

struct ExportNamingFixture : ::testing::Test {
  ExportNamingFixture() {
    session.dataFolder = folder.path();
    session.tickNow = [this] {
      calls.push_back("tick");
      return tick;
    };
    session.unixNow = [this] {
      calls.push_back("clock");
      return seconds;
    };
  }
  TempFolder folder;
  Session session;
  std::uint64_t tick = 5551234;
  std::int64_t seconds = 1720000123;
  std::vector<std::string> calls;
};

TEST_F(ExportNamingFixture, CreatesTheFolderAndJoinsTheStem) {
  const std::filesystem::path base = exportBasePath(session);
  EXPECT_EQ(base, folder.path() / "exports" / "Tessary-1720000123-5551234");
  EXPECT_FALSE(base.has_extension());
  EXPECT_TRUE(std::filesystem::is_directory(folder.path() / "exports"));
  EXPECT_FALSE(std::filesystem::exists(base));  // nothing is written here
  EXPECT_EQ(calls, (std::vector<std::string>{"tick", "clock"}));
}

TEST_F(ExportNamingFixture, RecreatesAMissingFolderWithParents) {
  session.dataFolder = folder.path() / "gone" / "Tessary";
  const std::filesystem::path base = exportBasePath(session);
  EXPECT_TRUE(std::filesystem::is_directory(folder.path() / "gone" / "Tessary" / "exports"));
  std::filesystem::remove_all(folder.path() / "gone");
  EXPECT_EQ(exportBasePath(session), base);
  EXPECT_TRUE(std::filesystem::is_directory(folder.path() / "gone" / "Tessary" / "exports"));
}

TEST_F(ExportNamingFixture, StorageUnavailable) {
  session.storageAvailable = false;
  try {
    exportBasePath(session);
    FAIL() << "no error";
  } catch (const std::filesystem::filesystem_error&) {
    FAIL() << "wrong error kind";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Storage unavailable");
  }
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "exports"));
  EXPECT_TRUE(calls.empty());
}

TEST_F(ExportNamingFixture, FileInTheWayNamesTheOperation) {
  std::ofstream(folder.path() / "exports") << "not a folder";
  try {
    exportBasePath(session);
    FAIL() << "no error";
  } catch (const std::filesystem::filesystem_error& error) {
    EXPECT_NE(std::string(error.what()).find("create_directories"), std::string::npos) << error.what();
    EXPECT_EQ(error.path1(), folder.path() / "exports");
  }
  EXPECT_TRUE(calls.empty());
}

TEST_F(ExportNamingFixture, LaterTickGivesAnotherStem) {
  const std::filesystem::path first = exportBasePath(session);
  tick += 16;
  const std::filesystem::path second = exportBasePath(session);
  EXPECT_NE(first, second);
  EXPECT_EQ(second.filename(), "Tessary-1720000123-5551250");
}

}  // namespace
}  // namespace tessary

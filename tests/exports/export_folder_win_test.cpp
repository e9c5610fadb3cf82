// The Export folder command: creating the folder and reporting a failure.
#include <gtest/gtest.h>

#include <filesystem>

#include "exports/export_folder_win.h"
#include "support/job_window_win.h"
#include "text/ui_strings.h"

namespace tessary {
namespace {

using testing::JobWindowSession;

TEST(ExportFolder, FolderThatCannotBeCreatedShows33) {
  JobWindowSession f;
  // A file stands where the data folder should be.
  const std::filesystem::path blocker = f.folder.path() / "not-a-folder";
  testing::writeBytes(blocker, "x");
  f.session.dataFolder = blocker;
  openExportFolder(f.session);
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 33));
  EXPECT_TRUE(f.session.statusIsError);

  // The same when the exports name itself is taken by a file.
  JobWindowSession g;
  std::filesystem::remove_all(g.folder.path() / "exports");
  testing::writeBytes(g.folder.path() / "exports", "x");
  openExportFolder(g.session);
  EXPECT_EQ(g.session.statusText, uiText(Language::English, 33));
}

}  // namespace
}  // namespace tessary

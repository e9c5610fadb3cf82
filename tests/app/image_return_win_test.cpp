// The return of the image released by hiding the desk, on a real message-only
// window whose procedure hands WM_JOB_DONE to the job-completion handler: real
// files, real decoding on the job thread, hiding and showing through the tray
// functions.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/control_ids.h"
#include "app/tray_and_edit_win.h"
#include "exports/crop_export_win.h"
#include "imaging/image_loading_win.h"
#include "support/job_window_win.h"
#include "text/ui_strings.h"

namespace tessary {
namespace {

using testing::bmpBytes;
using testing::JobWindowSession;
using testing::u16;
using testing::writeBytes;

struct ReturnFixture : JobWindowSession {
  ReturnFixture() {
    session.trayIconAdded = true;
    image = folder.path() / "moon.bmp";
    writeBytes(image, bmpBytes(40, 30, 170));
  }
  void load(const std::filesystem::path& path) {
    startImageLoad(session, u16(path));
    ASSERT_TRUE(pumpUntilIdle());
  }
  // Close, as the Close button does it; the window side reports it hidden.
  void hide() {
    hideToTray(session);
    view.visible = false;
  }
  // A click on the icon (a double click sends two such notifications).
  void restore() {
    view.visible = true;
    restoreFromTray(session);
  }
  std::u16string pathBox() { return view.texts[ID_PATH_EDIT]; }

  std::filesystem::path image;
};

TEST(ImageReturn, AFailedLoadHiddenByHidingAndShowingStaysReportedAndKeepsTheTypedPath) {
  ReturnFixture f;
  f.load(f.image);
  ASSERT_NE(f.session.currentImage, nullptr);
  const std::filesystem::path text = f.folder.path() / "notes.txt";
  writeBytes(text, "not an image\n");
  // The user types the text file's path and opens it; before the load ends the
  // desk is hidden (releasing the image) and shown again.
  f.view.texts[ID_PATH_EDIT] = u16(text);
  startImageLoad(f.session, u16(text));
  f.hide();
  ASSERT_EQ(f.session.currentImage, nullptr);
  f.restore();
  ASSERT_TRUE(f.pumpUntilIdle());
  f.pumpFor(std::chrono::milliseconds(200));

  // The image that was shown is back, and the refusal is what the status line says.
  ASSERT_NE(f.session.currentImage, nullptr) << "the released image did not come back";
  EXPECT_EQ(f.session.currentImage->width, 40u);
  EXPECT_EQ(f.session.currentPath, u16(f.image));
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 26));
  EXPECT_TRUE(f.session.statusIsError);
  EXPECT_EQ(f.pathBox(), u16(text)) << "the typed path was replaced";
  EXPECT_EQ(f.jobDoneMessages, 3) << "the load, the refused file and one return";
  EXPECT_FALSE(f.session.jobRunning);
}

TEST(ImageReturn, AReturnThatFailsReportsItsOwnFailure) {
  ReturnFixture f;
  f.load(f.image);
  const std::filesystem::path text = f.folder.path() / "notes.txt";
  writeBytes(text, "not an image\n");
  startImageLoad(f.session, u16(text));
  f.hide();
  // The image file itself goes away while the desk is hidden.
  std::filesystem::remove(f.image);
  f.restore();
  ASSERT_TRUE(f.pumpUntilIdle());
  EXPECT_EQ(f.session.currentImage, nullptr);
  EXPECT_EQ(f.session.currentPath, u16(f.image));
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 26));
  EXPECT_TRUE(f.session.statusIsError);
  EXPECT_EQ(f.jobDoneMessages, 3);
}

TEST(ImageReturn, ADoubleClickOnTheIconStartsOneReturnEvenWhenItFails) {
  ReturnFixture f;
  f.load(f.image);
  f.hide();
  std::filesystem::remove(f.image);
  // The two notifications of a double click arrive before the return can end.
  f.restore();
  ASSERT_TRUE(f.session.jobRunning);
  f.restore();
  ASSERT_TRUE(f.pumpUntilIdle());
  f.pumpFor(std::chrono::milliseconds(200));
  EXPECT_EQ(f.jobDoneMessages, 2) << "the load and one return, not a second one";
  EXPECT_EQ(f.session.currentImage, nullptr);
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 26));
  EXPECT_TRUE(f.session.statusIsError);
}

TEST(ImageReturn, ShownAgainDuringACropExportTheImageComesBackAndTheExportStaysReported) {
  ReturnFixture f;
  f.load(f.image);
  f.view.texts[ID_PATH_EDIT] = u"typed during the export";
  f.session.cropRect = CropRect{0, 0, 8, 8};
  startCropExport(f.session);
  ASSERT_TRUE(f.session.jobRunning);
  f.hide();
  f.restore();
  ASSERT_TRUE(f.pumpUntilIdle());
  f.pumpFor(std::chrono::milliseconds(200));
  ASSERT_NE(f.session.currentImage, nullptr) << "the released image did not come back";
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 32));
  EXPECT_FALSE(f.session.statusIsError);
  EXPECT_EQ(f.pathBox(), u"typed during the export");
  EXPECT_EQ(f.jobDoneMessages, 3) << "the load, the export and one return";
}

// The person's job: a load of a file that is no image, or a crop export that fails
// or completes. Each leaves its outcome on the status line (and the path box as the
// person left it), which the return of the released image must not replace,
// whichever way the desk was hidden and shown around the job's end.
enum class Job { RefusedLoad, FailedExport, CompletedExport };
enum class Order { EndsHiddenThenShow, ShowThenEnds, ShowHideEndsShow };

TEST(ImageReturn, TheLastJobsOutcomeStaysHoweverTheDeskWasHiddenAndShownAroundItsEnd) {
  struct Case {
    Job job;
    int status;
    bool error;
  };
  const Case jobs[] = {{Job::RefusedLoad, 26, true}, {Job::FailedExport, 33, true}, {Job::CompletedExport, 32, false}};
  for (const Case& c : jobs) {
    for (Order order : {Order::EndsHiddenThenShow, Order::ShowThenEnds, Order::ShowHideEndsShow}) {
      SCOPED_TRACE(::testing::Message() << "job " << static_cast<int>(c.job) << ", order " << static_cast<int>(order));
      ReturnFixture f;
      f.session.tickNow = [] { return std::uint64_t{5000}; };
      f.session.unixNow = [] { return std::int64_t{1700000000}; };
      f.load(f.image);
      ASSERT_NE(f.session.currentImage, nullptr);
      const std::u16string typed = u16(f.folder.path() / "notes.txt");
      writeBytes(f.folder.path() / "notes.txt", "not an image\n");
      f.view.texts[ID_PATH_EDIT] = typed;
      if (c.job == Job::RefusedLoad) {
        startImageLoad(f.session, typed);
      } else {
        if (c.job == Job::FailedExport) {
          // A folder where the export's temporary file belongs makes its write fail.
          std::filesystem::create_directories(f.folder.path() / "exports" / "Tessary-1700000000-5000.png.tmp");
        }
        f.session.cropRect = CropRect{0, 0, 8, 8};
        startCropExport(f.session);
      }
      ASSERT_TRUE(f.session.jobRunning);
      // The job's WM_JOB_DONE is handled only when the messages are pumped: each
      // order below is the order in which the desk sees the events.
      f.hide();
      if (order == Order::EndsHiddenThenShow) {
        ASSERT_TRUE(f.pumpUntilIdle());
        EXPECT_EQ(f.session.currentImage, nullptr) << "the image stays released while hidden";
        f.restore();
        ASSERT_TRUE(f.session.jobRunning) << "showing the desk starts the return";
        EXPECT_EQ(f.session.statusText, uiText(Language::English, c.status)) << "replaced while the image returns";
      } else if (order == Order::ShowThenEnds) {
        f.restore();
      } else {
        f.restore();
        f.hide();
        ASSERT_TRUE(f.pumpUntilIdle());
        EXPECT_EQ(f.session.currentImage, nullptr) << "hidden again: no return until the next show";
        f.restore();
        ASSERT_TRUE(f.session.jobRunning);
        EXPECT_EQ(f.session.statusText, uiText(Language::English, c.status));
      }
      ASSERT_TRUE(f.pumpUntilIdle());

      ASSERT_NE(f.session.currentImage, nullptr) << "the released image did not come back";
      EXPECT_EQ(f.session.currentImage->width, 40u);
      EXPECT_EQ(f.session.currentPath, u16(f.image));
      EXPECT_EQ(f.session.statusText, uiText(Language::English, c.status));
      EXPECT_EQ(f.session.statusIsError, c.error);
      EXPECT_EQ(f.pathBox(), typed) << "the path box was replaced";
      EXPECT_EQ(f.jobDoneMessages, 3) << "the load, the person's job and one return";
    }
  }
}

TEST(ImageReturn, AShowWithoutAJobReturnsTheImageAsALoadDoes) {
  ReturnFixture f;
  f.load(f.image);
  f.view.texts[ID_PATH_EDIT] = u"typed but not opened";
  f.hide();
  f.restore();
  ASSERT_TRUE(f.pumpUntilIdle());
  ASSERT_NE(f.session.currentImage, nullptr);
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 25));
  EXPECT_FALSE(f.session.statusIsError);
  EXPECT_EQ(f.pathBox(), u16(f.image));
  EXPECT_EQ(f.jobDoneMessages, 2);
}

}  // namespace
}  // namespace tessary

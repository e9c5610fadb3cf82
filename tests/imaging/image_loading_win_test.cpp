// The image load job and its hand-over to the window thread, on a real message-only
// window: the job posts WM_JOB_DONE and the window procedure runs onJobDone.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/control_ids.h"
#include "imaging/background_job_win.h"
#include "imaging/image_loading_win.h"
#include "imaging/plate_identity.h"
#include "imaging/sha256_win.h"
#include "observations/observation_sheet.h"
#include "app/sheet_session.h"
#include "png_writer.h"
#include "observations/sheet_store.h"
#include "support/job_window_win.h"
#include "text/ui_strings.h"
#include "viewer/view_transform.h"

namespace tessary {
namespace {

using testing::bmpBytes;
using testing::JobWindowSession;
using testing::u16;
using testing::writeBytes;

// Loads `path` and waits for the hand-over; fails the test if it does not finish.
void loadAndWait(JobWindowSession& f, const std::filesystem::path& path) {
  startImageLoad(f.session, u16(path));
  ASSERT_TRUE(f.pumpUntilIdle());
}

TEST(ImageLoading, SuccessfulLoadSwitchesImageTitleSheetViewAndPathBox) {
  JobWindowSession f;
  const std::filesystem::path file = f.folder.path() / "moon.bmp";
  const std::string bytes = bmpBytes(40, 30, 170);
  writeBytes(file, bytes);
  // A sheet already saved for these bytes comes back with its markers.
  const std::string hash = sha256Hex(bytes.data(), bytes.size());
  ObservationSheet saved;
  saved.imageSHA256 = hash;
  saved.width = 40;
  saved.height = 30;
  saved.nextId = 3;
  saved.marks = {Marker{1, 5.5, 6.5, "first", 1700000000}, Marker{2, 30, 20, "second", 1700000001}};
  writeBytes(f.folder.path() / "observations" / (hash + ".json"), printSheet(saved));
  f.session.selectedId = 7;
  f.session.cropRect = CropRect{1, 1, 2, 2};

  startImageLoad(f.session, u16(file));
  EXPECT_TRUE(f.session.jobRunning);
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 24));
  EXPECT_FALSE(f.session.statusIsError);
  EXPECT_FALSE(f.view.enabledStates.at(ID_OPEN_IMAGE));
  ASSERT_TRUE(f.pumpUntilIdle());

  EXPECT_EQ(f.jobDoneMessages, 1);
  EXPECT_FALSE(f.session.jobRunning);
  ASSERT_NE(f.session.currentImage, nullptr);
  EXPECT_EQ(f.session.currentImage->width, 40u);
  EXPECT_EQ(f.session.currentImage->height, 30u);
  EXPECT_EQ(f.session.currentImage->sha256, hash);
  EXPECT_EQ(f.session.currentPath, u16(file));
  EXPECT_EQ(f.session.imageTitle, u"moon.bmp");
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 25));
  EXPECT_FALSE(f.session.statusIsError);
  ASSERT_EQ(f.session.sheet.marks.size(), 2u);
  EXPECT_EQ(f.session.sheet.marks[1].note, "second");
  EXPECT_EQ(f.session.sheetPath, f.folder.path() / "observations" / (hash + ".json"));
  EXPECT_EQ(f.session.selectedId, 0);
  EXPECT_EQ(f.session.cropRect, CropRect{});
  // A small image is fitted at 100 %, centred in the canvas.
  EXPECT_DOUBLE_EQ(f.session.zoom, 1.0);
  EXPECT_DOUBLE_EQ(f.session.offsetX, (1300 - 370 - 40) * 0.5);
  EXPECT_DOUBLE_EQ(f.session.offsetY, (850 - 257 - 30) * 0.5);
  EXPECT_EQ(f.view.texts.at(ID_PATH_EDIT), u16(file));
  EXPECT_TRUE(f.view.enabledStates.at(ID_OPEN_IMAGE));
  EXPECT_TRUE(f.view.enabledStates.at(ID_FIT));
  // The decoded pixels are the file's: pixel (3, 2) has blue 21, green 22, red 170.
  const auto& px = f.session.currentImage->bgra;
  const std::size_t at = (2 * 40 + 3) * 4;
  EXPECT_EQ(px[at], 21);
  EXPECT_EQ(px[at + 1], 22);
  EXPECT_EQ(px[at + 2], 170);
  EXPECT_EQ(px[at + 3], 255);
}

TEST(ImageLoading, LargeImageGetsDisplayLevelsWithBitmaps) {
  JobWindowSession f;
  const std::filesystem::path file = f.folder.path() / "wide.bmp";
  writeBytes(file, bmpBytes(1000, 600, 10));
  loadAndWait(f, file);
  ASSERT_NE(f.session.currentImage, nullptr);
  const auto& levels = f.session.currentImage->displayLevels;
  ASSERT_FALSE(levels.empty());
  EXPECT_LE(levels.front().width, 500u + 1);
  for (const DisplayLevel& level : levels) {
    EXPECT_EQ(level.bgra.size(), static_cast<std::size_t>(level.width) * level.height * 4);
    EXPECT_NE(level.bitmap, nullptr);
  }
}

struct FailingLoad {
  const char* name;
  std::string bytes;  // empty: the file does not exist
};

TEST(ImageLoading, FailingLoadKeepsPreviousImageMarkersAndViewAndShows26) {
  // A 6.8 MB PNG whose zTXt inflates to 1 GiB, refused before the decoder.
  auto textOfOneGiB = imagetest::zeroPng(16, 12, 8, 2);
  {
    std::vector<std::uint8_t> data = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
    const auto stream = imagetest::zlibOfZeros(std::uint64_t{1} << 30);
    data.insert(data.end(), stream.begin(), stream.end());
    std::vector<std::uint8_t> chunk;
    imagetest::appendPngChunk(chunk, "zTXt", data);
    textOfOneGiB.insert(textOfOneGiB.begin() + 33, chunk.begin(), chunk.end());
  }
  const FailingLoad cases[] = {
      {"not-an-image.png", std::string("not an image")},
      {"missing.png", std::string()},
      {"too-wide.bmp", bmpBytes(20001, 1, 0)},
      {"text-of-one-gib.png", std::string(textOfOneGiB.begin(), textOfOneGiB.end())},
  };
  for (const FailingLoad& c : cases) {
    SCOPED_TRACE(c.name);
    JobWindowSession f;
    const std::filesystem::path good = f.folder.path() / "good.bmp";
    writeBytes(good, bmpBytes(64, 48, 90));
    loadAndWait(f, good);
    ASSERT_NE(f.session.currentImage, nullptr);
    // State a user builds up: markers, a selection, a crop and a view of their own.
    f.session.sheet.marks = {Marker{1, 10, 10, "kept", 1700000000}};
    f.session.sheet.nextId = 2;
    f.session.selectedId = 1;
    f.session.cropRect = CropRect{2, 3, 10, 12};
    f.session.zoom = 2.5;
    f.session.offsetX = -17.25;
    f.session.offsetY = 33.5;
    f.view.texts[ID_PATH_EDIT] = u"typed by the user";
    const auto before = f.session.currentImage;
    const ObservationSheet sheetBefore = f.session.sheet;
    const auto sheetPathBefore = f.session.sheetPath;

    const std::filesystem::path bad = f.folder.path() / c.name;
    if (!c.bytes.empty()) writeBytes(bad, c.bytes);
    loadAndWait(f, bad);

    EXPECT_EQ(f.session.currentImage, before);
    EXPECT_EQ(f.session.currentPath, u16(good));
    EXPECT_EQ(f.session.imageTitle, u"good.bmp");
    EXPECT_EQ(f.session.sheet.marks.size(), 1u);
    EXPECT_EQ(f.session.sheet.marks[0].note, "kept");
    EXPECT_EQ(f.session.sheetPath, sheetPathBefore);
    EXPECT_EQ(f.session.selectedId, 1);
    EXPECT_EQ(f.session.cropRect, (CropRect{2, 3, 10, 12}));
    EXPECT_DOUBLE_EQ(f.session.zoom, 2.5);
    EXPECT_DOUBLE_EQ(f.session.offsetX, -17.25);
    EXPECT_DOUBLE_EQ(f.session.offsetY, 33.5);
    EXPECT_EQ(f.view.texts.at(ID_PATH_EDIT), u"typed by the user");
    EXPECT_EQ(f.session.statusText, uiText(Language::English, 26));
    EXPECT_TRUE(f.session.statusIsError);
    EXPECT_FALSE(f.session.jobRunning);
    EXPECT_TRUE(f.view.enabledStates.at(ID_OPEN_IMAGE));
  }
}

TEST(ImageLoading, PlateWithoutItsResourceFailsLikeAnyLoad) {
  // This test program carries no plate resource: the load fails inside the job and
  // the window thread shows 26.
  JobWindowSession f;
  startImageLoad(f.session, u"");
  ASSERT_TRUE(f.pumpUntilIdle());
  EXPECT_EQ(f.session.currentImage, nullptr);
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 26));
  EXPECT_TRUE(f.session.statusIsError);
}

TEST(ImageLoading, SecondStartWhileAJobRunsDoesNothing) {
  JobWindowSession f;
  const std::filesystem::path first = f.folder.path() / "first.bmp";
  const std::filesystem::path second = f.folder.path() / "second.bmp";
  writeBytes(first, bmpBytes(20, 10, 1));
  writeBytes(second, bmpBytes(30, 20, 2));
  startImageLoad(f.session, u16(first));
  ASSERT_TRUE(f.session.jobRunning);
  const std::thread::id job = f.session.jobThread.get_id();
  f.session.statusText = u"marker";
  startImageLoad(f.session, u16(second));
  EXPECT_EQ(f.session.jobThread.get_id(), job);
  EXPECT_EQ(f.session.statusText, u"marker");
  ASSERT_TRUE(f.pumpUntilIdle());
  f.pumpFor(std::chrono::milliseconds(200));
  EXPECT_EQ(f.jobDoneMessages, 1);
  ASSERT_NE(f.session.currentImage, nullptr);
  EXPECT_EQ(f.session.currentImage->width, 20u);
  EXPECT_EQ(f.session.imageTitle, u"first.bmp");
}

TEST(ImageLoading, LoadDoesNotStartWhenTheSheetCannotBeSaved) {
  JobWindowSession f;
  f.session.dirty = true;
  f.session.storageAvailable = false;
  startImageLoad(f.session, u"C:\\anything.png");
  EXPECT_FALSE(f.session.jobRunning);
  EXPECT_FALSE(f.session.jobThread.joinable());
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 27));
}

TEST(ImageLoading, ResultPostedButNeverTakenIsReleasedAtExit) {
  std::weak_ptr<const Pixels> image;
  {
    JobWindowSession f;
    const std::filesystem::path file = f.folder.path() / "never-taken.bmp";
    writeBytes(file, bmpBytes(16, 16, 3));
    startImageLoad(f.session, u16(file));
    // Wait for the job to publish, without dispatching its message.
    for (int i = 0; i < 2400; ++i) {
      {
        std::lock_guard<std::mutex> lock(f.session.resultMutex);
        if (f.session.pendingResult) {
          image = f.session.pendingResult->image;
          break;
        }
      }
      Sleep(50);
    }
    ASSERT_FALSE(image.expired());
    finishBackgroundJob(f.session);
    EXPECT_FALSE(f.session.jobThread.joinable());
    EXPECT_EQ(f.session.pendingResult, nullptr);
    EXPECT_TRUE(image.expired());
  }
}

TEST(ImageLoading, LoadWhileHiddenReleasesTheImageButKeepsItsPlace) {
  JobWindowSession f;
  const std::filesystem::path file = f.folder.path() / "hidden.bmp";
  writeBytes(file, bmpBytes(12, 8, 4));
  f.view.visible = false;
  loadAndWait(f, file);
  EXPECT_EQ(f.session.currentImage, nullptr);
  EXPECT_EQ(f.session.currentPath, u16(file));
  EXPECT_EQ(f.session.imageTitle, u"hidden.bmp");
  EXPECT_EQ(f.session.sheet.width, 12u);
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 25));
}

TEST(ImageLoading, NameOutsideTheEnabledScriptsGetsString42AndAnEmptyPathBox) {
  JobWindowSession f;
  f.session.language = Language::German;
  const std::filesystem::path file = f.folder.path() / L"\x043B\x0443\x043D\x0430.bmp";
  writeBytes(file, bmpBytes(8, 8, 5));
  f.view.texts[ID_PATH_EDIT] = u"old";
  loadAndWait(f, file);
  ASSERT_NE(f.session.currentImage, nullptr);
  EXPECT_EQ(f.session.imageTitle, uiText(Language::German, 42));
  EXPECT_EQ(f.view.texts.at(ID_PATH_EDIT), u"");
}

TEST(ImageLoading, TitleIsTheTextAfterTheLastSeparator) {
  Session session;
  EXPECT_EQ(imageTitleFor(session, u"C:\\pics\\moon.png"), u"moon.png");
  EXPECT_EQ(imageTitleFor(session, u"C:/pics/sub\\star.tif"), u"star.tif");
  EXPECT_EQ(imageTitleFor(session, u"D:\\a.jpg"), u"a.jpg");
  const std::string plate = kPlateTitle;
  EXPECT_EQ(imageTitleFor(session, u""), std::u16string(plate.begin(), plate.end()));
  EXPECT_FALSE(plate.empty());
}

}  // namespace
}  // namespace tessary

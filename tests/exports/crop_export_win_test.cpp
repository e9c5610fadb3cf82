// Crop export through the Windows Imaging Component: the PNG of the original
// pixels, the record beside it, and the job that writes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <windows.h>
#include <wincodec.h>

#include "exports/crop_export_win.h"
#include "exports/crop_png.h"
#include "exports/crop_record.h"
#include "imaging/com_support_win.h"
#include "imaging/image_decoder_win.h"
#include "imaging/plate_identity.h"
#include "imaging/sha256_win.h"
#include "support/job_window_win.h"
#include "text/ui_strings.h"

namespace tessary {
namespace {

using testing::JobWindowSession;
using testing::readBytes;

// The 8 x 6 image whose pixel (px, py) is B = 20 px, G = 30 py, R = 170, A = 255.
std::shared_ptr<Pixels> gradient() {
  auto image = std::make_shared<Pixels>();
  image->width = 8;
  image->height = 6;
  image->sha256 = std::string(64, 'c');
  image->bgra.resize(8 * 6 * 4);
  for (std::uint32_t py = 0; py < 6; ++py) {
    for (std::uint32_t px = 0; px < 8; ++px) {
      std::uint8_t* p = &image->bgra[(py * 8 + px) * 4];
      p[0] = static_cast<std::uint8_t>(20 * px);
      p[1] = static_cast<std::uint8_t>(30 * py);
      p[2] = 170;
      p[3] = 255;
    }
  }
  return image;
}

std::string messageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(EncodeCropPng, CropDecodesBackToTheSourcePixelsByteForByte) {
  JobWindowSession f;  // COM and GDI+ as the program has them
  auto image = gradient();
  // A transparent and a half-transparent pixel inside the crop keep their alpha.
  image->bgra[(2 * 8 + 3) * 4 + 3] = 0;
  image->bgra[(3 * 8 + 4) * 4 + 3] = 128;
  const PixelBytes sourceBefore = image->bgra;
  const CropRect crop{2, 1, 3, 4};
  const std::filesystem::path path = f.folder.path() / "crop.png";

  encodeCropPng(*image, crop, path);

  EXPECT_EQ(image->bgra, sourceBefore);
  EXPECT_FALSE(std::filesystem::exists(f.folder.path() / "crop.png.tmp"));
  const std::string png = readBytes(path);
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
  const std::shared_ptr<Pixels> back = decodeImage(reinterpret_cast<const std::uint8_t*>(png.data()), png.size());
  ASSERT_EQ(back->width, 3u);
  ASSERT_EQ(back->height, 4u);
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 3; ++col) {
      for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(back->bgra[(row * 3 + col) * 4 + c], sourceBefore[((1 + row) * 8 + 2 + col) * 4 + c])
            << "row " << row << " col " << col << " channel " << c;
      }
    }
  }
}

// Pixels that deflate cannot shrink (a fixed pseudo-random sequence, alpha too),
// with a smooth band at the top that it can.
std::shared_ptr<Pixels> noise(std::uint32_t width, std::uint32_t height) {
  auto image = std::make_shared<Pixels>();
  image->width = width;
  image->height = height;
  image->sha256 = std::string(64, 'd');
  image->bgra.resize(static_cast<std::size_t>(width) * height * 4);
  std::uint32_t state = 2463534242u;
  for (std::size_t i = 0; i < image->bgra.size(); ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const std::size_t pixel = i / 4;
    const bool smooth = pixel / width < height / 4;
    image->bgra[i] = smooth ? static_cast<std::uint8_t>(pixel % width + i % 4) : static_cast<std::uint8_t>(state >> 24);
  }
  return image;
}

std::uint32_t be32(const std::string& bytes, std::size_t at) {
  return (std::uint32_t{static_cast<std::uint8_t>(bytes[at])} << 24) |
         (std::uint32_t{static_cast<std::uint8_t>(bytes[at + 1])} << 16) |
         (std::uint32_t{static_cast<std::uint8_t>(bytes[at + 2])} << 8) | static_cast<std::uint8_t>(bytes[at + 3]);
}

// The chunk types of a PNG file in order, consecutive IDAT chunks as one.
std::string chunkTypes(const std::string& png) {
  std::string types;
  for (std::size_t at = 8; at + 12 <= png.size(); at += 12 + be32(png, at)) {
    const std::string type = png.substr(at + 4, 4);
    if (type == "IDAT" && types.size() >= 4 && types.substr(types.size() - 4) == "IDAT") continue;
    types += (types.empty() ? "" : " ") + type;
  }
  return types;
}

TEST(EncodeCropPng, WritesTheProgramsRgbaPngThatTheImagingComponentDecodesExactly) {
  // The file is the program's own writer's PNG of the crop (rows taken from the
  // image, segments deflated on every core), 8-bit RGBA with only the chunks the
  // platform's encoder writes, and the platform's decoder gives back the crop's
  // bytes. Cases: one pixel, a crop of one segment, and crops of many segments
  // (smooth rows above noise, alpha varied throughout).
  JobWindowSession f;
  struct Case {
    const char* name;
    std::shared_ptr<Pixels> image;
    CropRect crop;
  };
  const Case cases[] = {
      {"one pixel", gradient(), CropRect{7, 5, 1, 1}},
      {"gradient", gradient(), CropRect{2, 1, 3, 4}},
      {"one row", noise(700, 301), CropRect{5, 9, 690, 1}},
      {"noise", noise(700, 301), CropRect{3, 2, 613, 297}},
      {"many segments", noise(1900, 1500), CropRect{17, 11, 1801, 1433}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PixelBytes before = c.image->bgra;
    const std::filesystem::path path = f.folder.path() / (std::string(c.name) + ".png");
    encodeCropPng(*c.image, c.crop, path);
    EXPECT_EQ(c.image->bgra, before);
    const std::string written = readBytes(path);
    EXPECT_TRUE(written == cropPngBytes(*c.image, c.crop, 3).view());
    ASSERT_GT(written.size(), 33u);
    EXPECT_EQ(chunkTypes(written), "IHDR IDAT IEND");
    EXPECT_EQ(written[24], 8);  // bits per channel
    EXPECT_EQ(written[25], 6);  // RGBA
    if (c.crop.width * c.crop.height > 1000000) {
      std::size_t idat = 0;
      for (std::size_t at = 8; at + 12 <= written.size(); at += 12 + be32(written, at)) {
        idat += written.compare(at + 4, 4, "IDAT") == 0;
      }
      EXPECT_GT(idat, 4u);  // deflated in segments
    }

    const std::shared_ptr<Pixels> back =
        decodeImage(reinterpret_cast<const std::uint8_t*>(written.data()), written.size());
    ASSERT_EQ(back->width, static_cast<std::uint32_t>(c.crop.width));
    ASSERT_EQ(back->height, static_cast<std::uint32_t>(c.crop.height));
    std::size_t differing = 0;
    for (std::int32_t row = 0; row < c.crop.height; ++row) {
      const std::size_t source = (static_cast<std::size_t>(c.crop.y + row) * c.image->width + c.crop.x) * 4;
      const std::size_t width = static_cast<std::size_t>(c.crop.width) * 4;
      differing += std::memcmp(back->bgra.data() + row * width, before.data() + source, width) != 0;
    }
    EXPECT_EQ(differing, 0u) << "rows that differ";
  }
}

TEST(EncodeCropPng, RefusedCropsAndFailedWritesLeaveNoFile) {
  JobWindowSession f;
  auto image = gradient();
  const std::filesystem::path path = f.folder.path() / "refused.png";
  for (const CropRect crop : {CropRect{6, 0, 3, 1}, CropRect{0, 0, 0, 2}, CropRect{-1, 0, 2, 2}}) {
    EXPECT_EQ(messageOf([&] { encodeCropPng(*image, crop, path); }), "Crop limit");
  }
  EXPECT_FALSE(std::filesystem::exists(path));

  // A folder standing where the temporary file belongs makes the write fail.
  std::filesystem::create_directories(f.folder.path() / "blocked.png.tmp");
  EXPECT_EQ(messageOf([&] { encodeCropPng(*image, CropRect{0, 0, 8, 6}, f.folder.path() / "blocked.png"); }),
            "Export write failed");
  EXPECT_FALSE(std::filesystem::exists(f.folder.path() / "blocked.png"));
}

// A session holding `image` (as the plate when `path` is empty) with a crop set.
void holdImage(JobWindowSession& f, std::shared_ptr<Pixels> image, std::u16string path, CropRect crop) {
  f.session.currentImage = std::move(image);
  f.session.currentPath = std::move(path);
  f.session.cropRect = crop;
  f.session.tickNow = [] { return std::uint64_t{5000}; };
  f.session.unixNow = [] { return std::int64_t{1700000000}; };
}

TEST(CropExport, ExportWritesThePngAndTheRecordOnTheJobThread) {
  JobWindowSession f;
  auto image = gradient();
  holdImage(f, image, u"C:\\pics\\gradient.png", CropRect{2, 1, 3, 4});

  startCropExport(f.session);
  EXPECT_TRUE(f.session.jobRunning);
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 24));
  EXPECT_FALSE(f.view.enabledStates.at(ID_EXPORT_CROP));
  ASSERT_TRUE(f.pumpUntilIdle());

  EXPECT_EQ(f.session.statusText, uiText(Language::English, 32));
  EXPECT_FALSE(f.session.statusIsError);
  EXPECT_TRUE(f.view.enabledStates.at(ID_EXPORT_CROP));
  EXPECT_EQ(f.session.cropRect, (CropRect{2, 1, 3, 4}));
  const std::filesystem::path base = f.folder.path() / "exports" / "Tessary-1700000000-5000";
  const auto files = filesIn(f.folder.path() / "exports");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0], std::filesystem::path(base.native() + L".json"));
  EXPECT_EQ(files[1], std::filesystem::path(base.native() + L".png"));

  const nlohmann::json record = nlohmann::json::parse(readBytes(files[0]));
  EXPECT_EQ(record.at("credit"), "User-provided local image");
  EXPECT_EQ(record.at("format"), "Tessary crop");
  EXPECT_EQ(record.at("sourceSHA256"), image->sha256);
  EXPECT_EQ(record.at("sourceWidth"), 8);
  EXPECT_EQ(record.at("sourceHeight"), 6);
  EXPECT_EQ(record.at("crop").at("x"), 2);
  EXPECT_EQ(record.at("crop").at("height"), 4);
  EXPECT_EQ(record.at("version"), 1);
  EXPECT_GT(record.at("createdUTC").get<std::int64_t>(), 1600000000);

  const std::string png = readBytes(files[1]);
  const auto back = decodeImage(reinterpret_cast<const std::uint8_t*>(png.data()), png.size());
  EXPECT_EQ(back->width, 3u);
  EXPECT_EQ(back->height, 4u);
}

TEST(CropExport, PlateCropCarriesThePlateCredit) {
  JobWindowSession f;
  holdImage(f, gradient(), u"", CropRect{0, 0, 8, 6});
  startCropExport(f.session);
  ASSERT_TRUE(f.pumpUntilIdle());
  const nlohmann::json record =
      nlohmann::json::parse(readBytes(f.folder.path() / "exports" / "Tessary-1700000000-5000.json"));
  EXPECT_EQ(record.at("credit"), kPlateCredit);
}

TEST(CropExport, TwoExportsOfOneCropGiveTwoFilePairs) {
  JobWindowSession f;
  holdImage(f, gradient(), u"C:\\g.png", CropRect{1, 1, 2, 2});
  std::uint64_t tick = 7000;
  f.session.tickNow = [&tick] { return tick; };
  startCropExport(f.session);
  ASSERT_TRUE(f.pumpUntilIdle());
  tick += 16;
  startCropExport(f.session);
  ASSERT_TRUE(f.pumpUntilIdle());
  const auto files = filesIn(f.folder.path() / "exports");
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0].filename(), "Tessary-1700000000-7000.json");
  EXPECT_EQ(files[1].filename(), "Tessary-1700000000-7000.png");
  EXPECT_EQ(files[2].filename(), "Tessary-1700000000-7016.json");
  EXPECT_EQ(files[3].filename(), "Tessary-1700000000-7016.png");
  EXPECT_EQ(readBytes(files[1]), readBytes(files[3]));
}

TEST(CropExport, FailedPngWriteLeavesNoRecordAndShows33) {
  JobWindowSession f;
  holdImage(f, gradient(), u"C:\\g.png", CropRect{0, 0, 4, 4});
  std::filesystem::create_directories(f.folder.path() / "exports" / "Tessary-1700000000-5000.png.tmp");
  startCropExport(f.session);
  ASSERT_TRUE(f.pumpUntilIdle());
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 33));
  EXPECT_TRUE(f.session.statusIsError);
  EXPECT_FALSE(std::filesystem::exists(f.folder.path() / "exports" / "Tessary-1700000000-5000.png"));
  EXPECT_FALSE(std::filesystem::exists(f.folder.path() / "exports" / "Tessary-1700000000-5000.json"));
}

TEST(CropExport, FailedRecordWriteKeepsThePngAndShows33) {
  JobWindowSession f;
  holdImage(f, gradient(), u"C:\\g.png", CropRect{0, 0, 4, 4});
  std::filesystem::create_directories(f.folder.path() / "exports" / "Tessary-1700000000-5000.json.tmp");
  startCropExport(f.session);
  ASSERT_TRUE(f.pumpUntilIdle());
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 33));
  EXPECT_TRUE(std::filesystem::exists(f.folder.path() / "exports" / "Tessary-1700000000-5000.png"));
  EXPECT_FALSE(std::filesystem::exists(f.folder.path() / "exports" / "Tessary-1700000000-5000.json"));
}

TEST(CropExport, CommandRefusesWithoutStartingAJob) {
  struct Case {
    const char* name;
    CropRect crop;
    bool storage;
    int status;
  };
  const Case cases[] = {
      {"no crop", CropRect{}, true, 34},
      {"zero height", CropRect{1, 1, 3, 0}, true, 34},
      {"outside the image", CropRect{6, 0, 3, 2}, true, 35},
      {"storage unavailable", CropRect{0, 0, 2, 2}, false, 33},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobWindowSession f;
    holdImage(f, gradient(), u"C:\\g.png", c.crop);
    f.session.storageAvailable = c.storage;
    startCropExport(f.session);
    EXPECT_FALSE(f.session.jobRunning);
    EXPECT_FALSE(f.session.jobThread.joinable());
    EXPECT_EQ(f.session.statusText, uiText(Language::English, c.status));
    EXPECT_TRUE(f.session.statusIsError);
    EXPECT_TRUE(filesIn(f.folder.path() / "exports").empty());
  }
}

TEST(CropExport, NothingHappensWithoutAnImageOrWhileAJobRuns) {
  JobWindowSession f;
  f.session.cropRect = CropRect{0, 0, 2, 2};
  startCropExport(f.session);
  EXPECT_FALSE(f.session.jobRunning);
  EXPECT_TRUE(f.session.statusText.empty());

  holdImage(f, gradient(), u"C:\\g.png", CropRect{0, 0, 2, 2});
  f.session.jobRunning = true;
  startCropExport(f.session);
  EXPECT_FALSE(f.session.jobThread.joinable());
  EXPECT_TRUE(f.session.statusText.empty());
  f.session.jobRunning = false;
}

TEST(CropExport, ImageReleasedDuringTheExportIsReloadedWhenTheWindowIsShown) {
  JobWindowSession f;
  const std::filesystem::path file = f.folder.path() / "source.bmp";
  testing::writeBytes(file, testing::bmpBytes(10, 10, 9));
  startImageLoad(f.session, std::u16string(file.u16string()));
  ASSERT_TRUE(f.pumpUntilIdle());
  ASSERT_NE(f.session.currentImage, nullptr);
  f.session.cropRect = CropRect{0, 0, 5, 5};
  startCropExport(f.session);
  ASSERT_TRUE(f.session.jobRunning);
  // Hidden to the tray and shown again while the export runs: the image is gone.
  f.session.currentImage.reset();
  ASSERT_TRUE(f.pumpUntilIdle());
  // The export finished and a reload of the same file started and finished; the
  // export's outcome is what the status line keeps.
  ASSERT_NE(f.session.currentImage, nullptr);
  EXPECT_EQ(f.session.currentImage->width, 10u);
  EXPECT_EQ(f.session.statusText, uiText(Language::English, 32));
  EXPECT_EQ(filesIn(f.folder.path() / "exports").size(), 2u);
}

}  // namespace
}  // namespace tessary

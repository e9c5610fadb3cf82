// Pixel limits are enforced from the image header before any pixel memory exists:
// hand-made PNG, BMP, TIFF and JPEG headers that declare too many pixels are refused
// with "Pixel limit", and a fresh process that decodes one of them never holds
// anything near the buffer the header asks for.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../tools/test_images/test_image_bytes.h"
#include "imaging/image_decoder_win.h"
#include "imaging_test_support_win.h"
#include "png_writer.h"

namespace tessary {
namespace {

using imagetest::imageErrorOf;

// IHDR and IEND only: no image data at all.
std::vector<std::uint8_t> pngHeader(std::uint32_t width, std::uint32_t height) {
  auto png = imagetest::pngSignature();
  imagetest::appendPngChunk(png, "IHDR", imagetest::pngHeaderChunkData(width, height, 8, 2));
  imagetest::appendPngChunk(png, "IEND", {});
  return png;
}

// BITMAPFILEHEADER and BITMAPINFOHEADER of a 24-bit image, no pixel data.
std::vector<std::uint8_t> bmpHeader(std::uint32_t width, std::uint32_t height) {
  auto bmp = testimages::encodeBmp24(testimages::gradientImage(1, 1));
  bmp.resize(54);
  for (int i = 0; i < 4; ++i) {
    bmp[18 + i] = static_cast<std::uint8_t>(width >> (8 * i));
    bmp[22 + i] = static_cast<std::uint8_t>(height >> (8 * i));
  }
  return bmp;
}

// One TIFF directory whose strip lies beyond the end of the data.
std::vector<std::uint8_t> tiffHeader(std::uint32_t width, std::uint32_t height) {
  return testimages::encodeTiffRgb({testimages::RgbImage{width, height, {}}});
}

// A real 16 x 12 baseline JPEG whose frame header is rewritten to the given size.
std::vector<std::uint8_t> jpegHeader(std::uint32_t width, std::uint32_t height) {
  auto jpeg = testimages::encodeBaselineJpeg(testimages::gradientImage(), 90);
  for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
      jpeg[i + 6] = static_cast<std::uint8_t>(height);
      jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
      jpeg[i + 8] = static_cast<std::uint8_t>(width);
      return jpeg;
    }
  }
  ADD_FAILURE() << "no frame header";
  return jpeg;
}

struct HeaderMaker {
  const char* name;
  std::vector<std::uint8_t> (*make)(std::uint32_t, std::uint32_t);
};

const HeaderMaker kMakers[] = {
    {"PNG", pngHeader}, {"BMP", bmpHeader}, {"TIFF", tiffHeader}, {"JPEG", jpegHeader}};

struct Size {
  std::uint32_t width, height;
};

const Size kOverLimit[] = {{20'001, 1}, {1, 20'001}, {20'000, 20'000}, {12'248, 12'248}, {20'000, 7'501}};

std::string decodeError(const std::vector<std::uint8_t>& bytes) {
  return imageErrorOf([&] { decodeImage(bytes.data(), bytes.size()); });
}

TEST(PixelLimitHeaders, HeadersOverTheLimitsAreRefused) {
  for (const HeaderMaker& maker : kMakers) {
    for (const Size& size : kOverLimit) {
      EXPECT_EQ(decodeError(maker.make(size.width, size.height)), "Pixel limit")
          << maker.name << " " << size.width << " x " << size.height;
    }
  }
}

TEST(PixelLimitHeaders, HeadersAtTheLimitsPassTheCheck) {
  // These sizes are allowed; the headers then fail for want of pixel data (or, for
  // a JPEG, decode as grey), never with "Pixel limit". PNG, BMP and TIFF only: a
  // JPEG decoder may fill a whole 150-megapixel image first.
  const Size allowed[] = {{20'000, 7'500}, {12'247, 12'247}, {20'000, 1}, {1, 20'000}};
  for (const HeaderMaker& maker : kMakers) {
    if (std::string(maker.name) == "JPEG") continue;
    for (const Size& size : allowed) {
      EXPECT_NE(decodeError(maker.make(size.width, size.height)), "Pixel limit")
          << maker.name << " " << size.width << " x " << size.height;
    }
  }
  EXPECT_NE(decodeError(jpegHeader(20'000, 1)), "Pixel limit");
  EXPECT_NE(decodeError(jpegHeader(1, 20'000)), "Pixel limit");
}

// Runs in a child process: decodes the bytes, then exits 1 when the error differs
// from `expectedError`, 2 when the process came to hold more than `allowedGrowth`
// bytes beyond what it held before, and 0 otherwise.
void decodeInFreshProcessAndExit(const std::vector<std::uint8_t>& bytes, const char* expectedError,
                                 std::size_t allowedGrowth) {
  const imagetest::MemoryFigures before = imagetest::memoryFigures();
  const std::string error = decodeError(bytes);
  const imagetest::MemoryFigures after = imagetest::memoryFigures();
  if (error != expectedError) {
    std::fprintf(stderr, "error: %s\n", error.c_str());
    std::_Exit(1);
  }
  const std::size_t baseline = std::max(before.workingSet, before.commit);
  const std::size_t peak = std::max(after.peakWorkingSet, after.peakCommit);
  if (peak > baseline + allowedGrowth) {
    std::fprintf(stderr, "peak %zu MB over a baseline of %zu MB\n", peak >> 20, baseline >> 20);
    std::_Exit(2);
  }
  std::_Exit(0);
}

TEST(PixelLimitHeadersDeathTest, NoLargeAllocationBeforeTheRefusal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The would-be pixel buffers are 1,600,000,000 and 600,080,000 bytes; the whole
  // process may grow by 64 MiB at most.
  constexpr std::size_t kAllowedGrowth = 64u << 20;
  const Size huge[] = {{20'000, 20'000}, {12'248, 12'248}};
  for (const HeaderMaker& maker : kMakers) {
    for (const Size& size : huge) {
      const auto bytes = maker.make(size.width, size.height);
      EXPECT_EXIT(decodeInFreshProcessAndExit(bytes, "Pixel limit", kAllowedGrowth),
                  ::testing::ExitedWithCode(0), "")
          << maker.name << " " << size.width << " x " << size.height;
    }
  }
  // Control: a header just inside the limits gets its 600 MB buffer before it fails
  // for want of data, and the measurement sees it.
  EXPECT_EXIT(decodeInFreshProcessAndExit(bmpHeader(12'247, 12'247), "Image operation failed",
                                          kAllowedGrowth),
              ::testing::ExitedWithCode(2), "peak");
}

}  // namespace
}  // namespace tessary

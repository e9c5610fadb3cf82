// Pixel limits are enforced from the image header before any pixel memory exists:
// hand-made PNG, BMP, TIFF and JPEG headers that declare too many pixels are refused
// with "Pixel limit", and a fresh process that decodes one of them never holds
// anything near the buffer the header asks for. So are hostile headers and TIFF
// directories that the decoders would read past, crash on or fill memory from, and
// PNGs whose compressed text or profile would inflate past the cap. 16-bit images
// within the limits decode.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "../tools/test_images/test_image_bytes.h"
#include "imaging/image_decoder_win.h"
#include "imaging/png_metadata.h"
#include "imaging_test_support_win.h"
#include "png_writer.h"
#include "tiff_writer.h"

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

// A run-length (8-bit) BMP's headers and palette, with no image data after them.
std::vector<std::uint8_t> rleBmpHeader(std::uint32_t width, std::uint32_t height) {
  auto bmp = bmpHeader(width, height);
  bmp[30] = 1;  // BI_RLE8
  bmp[28] = 8;  // bits per pixel
  bmp.resize(54 + 1024, 0x40);
  bmp[10] = 0x36;  // pixel offset 54 + 1024 = 0x436
  bmp[11] = 0x04;
  return bmp;
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
  // Control: a run-length BMP header just inside the limits gets its 600 MB buffer
  // before it fails for want of data, and the measurement sees it.
  EXPECT_EXIT(decodeInFreshProcessAndExit(rleBmpHeader(12'247, 12'247), "Image operation failed",
                                          kAllowedGrowth),
              ::testing::ExitedWithCode(2), "peak");
}

// The real 16 x 12 baseline JPEG (tables, frame, scan) with `between` put in just
// before its frame header and the frame's size rewritten: a file the decoder decodes
// whole, at the declared size.
std::vector<std::uint8_t> jpegWithFrameAfter(const std::vector<std::uint8_t>& between, std::uint32_t width,
                                             std::uint32_t height) {
  auto jpeg = jpegHeader(width, height);
  for (std::size_t i = 2; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(i), between.begin(), between.end());
      break;
    }
  }
  return jpeg;
}

// A 16 x 12 RGB PNG of zeros with one chunk of `type` after its header chunk whose
// text (or profile) is a zlib stream of `size` zero bytes.
std::vector<std::uint8_t> pngWithCompressedChunk(const char* type, std::uint64_t size) {
  std::vector<std::uint8_t> data = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0};
  if (std::string(type) == "iTXt") {
    data.insert(data.end(), {1, 0, 0, 0});  // compressed, deflate, no language, no translation
  } else {
    data.push_back(0);  // deflate
  }
  const auto stream = imagetest::zlibOfZeros(size);
  data.insert(data.end(), stream.begin(), stream.end());
  auto png = imagetest::zeroPng(16, 12, 8, 2);
  std::vector<std::uint8_t> chunk;
  imagetest::appendPngChunk(chunk, type, data);
  png.insert(png.begin() + 33, chunk.begin(), chunk.end());
  return png;
}

// Headers the decoders read past tolerantly (a stray byte, FF 00, a segment length
// below 2), headers whose size cannot be found, an uncompressed BMP whose pixel
// array is not in the file, and PNGs whose compressed text or profile inflates past
// kMaxInflatedPngMetadataBytes: all refused before a decoder is created, in a fresh
// process that never grows by more than 64 MiB (the 40,000 x 40,000 JPEG behind a
// stray byte ended the process inside the decoder before; the decoder inflated the
// 1 GiB text whole, growing the process by more than 1 GB).
TEST(PixelLimitHeadersDeathTest, HostileHeadersAreRefusedBeforeTheDecoder) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  constexpr std::size_t kAllowedGrowth = 64u << 20;
  auto pngWithoutHeaderFirst = imagetest::pngSignature();
  imagetest::appendPngChunk(pngWithoutHeaderFirst, "tEXt", {'a', 0, 'b'});
  imagetest::appendPngChunk(pngWithoutHeaderFirst, "IHDR", imagetest::pngHeaderChunkData(20'000, 20'000, 8, 2));
  imagetest::appendPngChunk(pngWithoutHeaderFirst, "IEND", {});
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"JPEG 40,000 square behind a stray byte", jpegWithFrameAfter({0x5A}, 40'000, 40'000), "Pixel limit"},
      {"JPEG 20,000 square behind a stray byte", jpegWithFrameAfter({0x00}, 20'000, 20'000), "Pixel limit"},
      {"JPEG 20,001 wide behind FF 00", jpegWithFrameAfter({0xFF, 0x00}, 20'001, 1), "Pixel limit"},
      {"JPEG 12,248 square behind a segment of length 0",
       jpegWithFrameAfter({0xFF, 0xE1, 0x00, 0x00}, 12'248, 12'248), "Pixel limit"},
      {"JPEG 12,248 square behind a segment of length 1 and fill bytes",
       jpegWithFrameAfter({0xFF, 0xFE, 0x00, 0x01, 0xFF, 0xFF}, 12'248, 12'248), "Pixel limit"},
      {"JPEG scan before any frame header", jpegWithFrameAfter({0xFF, 0xDA, 0x00, 0x02}, 20'000, 20'000),
       "Image operation failed"},
      {"JPEG whose walk runs off the end", {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46}, "Image operation failed"},
      {"PNG whose first chunk is not the header", pngWithoutHeaderFirst, "Image operation failed"},
      {"BMP headers alone, 12,247 square", bmpHeader(12'247, 12'247), "Image operation failed"},
      {"PNG whose zTXt inflates to 1 GiB (6.8 MB)", pngWithCompressedChunk("zTXt", std::uint64_t{1} << 30),
       "Pixel limit"},
      {"PNG whose compressed iTXt inflates to 100 MB", pngWithCompressedChunk("iTXt", 100'000'000), "Pixel limit"},
      {"PNG whose iCCP inflates one byte past the cap",
       pngWithCompressedChunk("iCCP", kMaxInflatedPngMetadataBytes + 1), "Pixel limit"},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT(decodeInFreshProcessAndExit(c.bytes, c.error, kAllowedGrowth), ::testing::ExitedWithCode(0), "")
        << c.name;
  }
}

// Hostile TIFF directories, each refused before the decoder in a fresh process that
// never grows by more than 64 MiB. Without the walk the first two end the process
// inside the decoder (a tile buffer whose size wraps around to almost nothing), the
// fourth takes the 600 MB pixel buffer for a strip that is not there, and the third
// is a reduced-resolution copy shown by Wine 8 whose next directory (the tiles of
// 65,536 square) a decoder that passes over such copies would meet.
TEST(PixelLimitHeadersDeathTest, HostileTiffsAreRefusedBeforeTheDecoder) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  constexpr std::size_t kAllowedGrowth = 64u << 20;
  using imagetest::kTiffLong;
  using imagetest::rgbTiff;
  const auto hugeTiles = [](bool bigEndian) {
    auto tiff = rgbTiff(16, 16, 16, 16, bigEndian);
    tiff.set(322, kTiffLong, {65'536}).set(323, kTiffLong, {65'536});
    return tiff.bytes();
  };
  // A reduced-resolution copy first, then the 65,536-square tiles.
  auto reducedFirst = rgbTiff(16, 16, 0, 16);
  reducedFirst.set(254, kTiffLong, {1});
  auto hugeTilesSecond = rgbTiff(16, 16, 16, 16);
  hugeTilesSecond.set(322, kTiffLong, {65'536}).set(323, kTiffLong, {65'536});
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"16 x 16 RGB in tiles of 65,536 square (920 bytes)", hugeTiles(false), "Image operation failed"},
      {"the same, big-endian", hugeTiles(true), "Image operation failed"},
      {"the same behind a reduced-resolution copy", reducedFirst.bytes(&hugeTilesSecond), "Image operation failed"},
      {"12,247 square whose strip lies past the end", tiffHeader(12'247, 12'247), "Image operation failed"},
  };
  ASSERT_EQ(cases[0].bytes.size(), 920u);
  for (const Case& c : cases) {
    EXPECT_EXIT(decodeInFreshProcessAndExit(c.bytes, c.error, kAllowedGrowth), ::testing::ExitedWithCode(0), "")
        << c.name;
  }
}

// A tile list shorter than the layout is read as libtiff reads it: the tiles left out
// are empty. 900 bytes that declare 12,247 square in tiles of 16 with one tile listed
// decode to 150 megapixels of zeros, within what a load is promised (the file, the
// 600 MB of pixels and one tile), never more.
TEST(PixelLimitHeadersDeathTest, ShortTileListsDecodeWithinThePromise) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  using imagetest::kTiffLong;
  imagetest::TiffFile tilesCountedShort;
  tilesCountedShort.pieces = {std::vector<std::uint8_t>(768, 0)};
  tilesCountedShort.set(256, kTiffLong, {12'247}).set(257, kTiffLong, {12'247});
  tilesCountedShort.set(258, imagetest::kTiffShort, {8, 8, 8}).set(259, imagetest::kTiffShort, {1});
  tilesCountedShort.set(262, imagetest::kTiffShort, {2}).set(277, imagetest::kTiffShort, {3});
  tilesCountedShort.set(322, kTiffLong, {16}).set(323, kTiffLong, {16});
  tilesCountedShort.set(324, kTiffLong, {imagetest::kTiffPiece}).set(325, kTiffLong, {768});
  const auto bytes = tilesCountedShort.bytes();
  ASSERT_LT(bytes.size(), 1000u);
  constexpr std::size_t kPixels = std::size_t{12'247} * 12'247 * 4;
  EXPECT_EXIT(decodeInFreshProcessAndExit(bytes, "no error", kPixels + (64u << 20)), ::testing::ExitedWithCode(0), "");
}

// Images that were refused once and are within the limits: 16-bit RGBA of 8,661
// square (75 megapixels, 600 MB of decoder copy: one pixel row past the old bound) as a
// PNG and as one TIFF strip, and a PNG whose text inflates to exactly the cap.
TEST(PixelLimitHeaders, SixteenBitImagesAndTextAtTheCapDecode) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::uint32_t side;
  };
  const Case cases[] = {
      {"PNG of 8,661 square 16-bit RGBA", imagetest::zeroPng(8'661, 8'661, 16, 6), 8'661},
      {"TIFF of 8,661 square 16-bit RGBA in one strip", imagetest::zeroStripTiff(8'661, 16, 4).bytes(), 8'661},
      {"PNG whose zTXt inflates to the cap", pngWithCompressedChunk("zTXt", kMaxInflatedPngMetadataBytes), 0},
  };
  for (const Case& c : cases) {
    std::shared_ptr<Pixels> pixels;
    ASSERT_NO_THROW(pixels = decodeImage(c.bytes.data(), c.bytes.size())) << c.name << ": " << decodeError(c.bytes);
    const std::uint32_t width = c.side != 0 ? c.side : 16, height = c.side != 0 ? c.side : 12;
    EXPECT_EQ(pixels->width, width) << c.name;
    EXPECT_EQ(pixels->height, height) << c.name;
    // Zero samples: black, and transparent where the image has alpha.
    const int alpha = c.side != 0 ? 0 : 255;
    for (const auto& [x, y] : {std::pair{0u, 0u}, std::pair{width - 1, height - 1}}) {
      const imagetest::Bgra p = imagetest::pixelAt(*pixels, x, y);
      EXPECT_EQ(p.r + p.g + p.b, 0) << c.name;
      EXPECT_EQ(p.a, alpha) << c.name;
    }
  }
}

// The same files at their own size decode: the walk lets through what it understands.
TEST(PixelLimitHeaders, TolerantMarkerWalksOfSmallFramesDecode) {
  const std::vector<std::uint8_t> betweens[] = {
      {0x5A}, {0xFF, 0x00}, {0xFF, 0xE1, 0x00, 0x00}, {0xFF, 0xFE, 0x00, 0x01, 0xFF, 0xFF}};
  for (const auto& between : betweens) {
    const auto jpeg = jpegWithFrameAfter(between, 16, 12);
    EXPECT_EQ(decodeError(jpeg), "no error") << between.size() << " bytes before the frame";
    const std::shared_ptr<Pixels> pixels = decodeImage(jpeg.data(), jpeg.size());
    EXPECT_EQ(pixels->width, 16u);
    EXPECT_EQ(pixels->height, 12u);
  }
}

}  // namespace
}  // namespace tessary

// The walk of a TIFF's first directory, made before the platform's TIFF decoder sees
// the data: what it lets through, and why it refuses the rest.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../tools/test_images/test_image_bytes.h"
#include "imaging/image_format.h"
#include "imaging/pixels.h"
#include "imaging/tiff_directory.h"
#include "tiff_writer.h"

namespace tessary {
namespace {

using imagetest::kTiffLong;
using imagetest::kTiffPiece;
using imagetest::kTiffShort;
using imagetest::rgbTiff;
using imagetest::TiffFile;

std::string outcome(const std::vector<std::uint8_t>& data) {
  const TiffDirectoryWalk walk = walkTiffFirstDirectory(data.data(), data.size());
  if (walk.refusal != TiffRefusal::None) return tiffRefusalName(walk.refusal);
  return std::to_string(walk.layout.width) + "x" + std::to_string(walk.layout.height);
}

std::string headerCheck(const std::vector<std::uint8_t>& data) {
  try {
    requireDeclaredSizeWithinLimits(data.data(), data.size(), ImageFormat::Tiff);
    return "accepted";
  } catch (const ImageError& error) {
    return error.what();
  }
}

TEST(TiffDirectory, WellFormedStripsAndTilesInBothByteOrders) {
  for (bool bigEndian : {false, true}) {
    struct Case {
      const char* name;
      TiffFile tiff;
      const char* size;
    };
    const std::vector<Case> cases = {
        {"one strip", rgbTiff(16, 12, 0, 12, bigEndian), "16x12"},
        {"strips of 5 rows", rgbTiff(16, 12, 0, 5, bigEndian), "16x12"},
        {"rows per strip past the height", rgbTiff(16, 12, 0, 1000, bigEndian), "16x12"},
        {"one tile larger than the image", rgbTiff(20, 12, 32, 16, bigEndian), "20x12"},
        {"tiles of 16 x 16", rgbTiff(40, 33, 16, 16, bigEndian), "40x33"},
        {"tile 12,240 wide on a 16 x 16 image", rgbTiff(16, 16, 12'240, 16, bigEndian), "16x16"},
    };
    for (const Case& c : cases) {
      const auto data = c.tiff.bytes();
      EXPECT_EQ(outcome(data), c.size) << c.name << (bigEndian ? " MM" : " II");
      EXPECT_EQ(headerCheck(data), "accepted") << c.name;
    }
    // The self-test's own TIFF, written by another writer.
    EXPECT_EQ(outcome(testimages::encodeTiffRgb({testimages::gradientImage()}, bigEndian)), "16x12");
  }
  const auto tiled = rgbTiff(40, 33, 16, 16).bytes();
  const TiffDirectoryWalk walk = walkTiffFirstDirectory(tiled.data(), tiled.size());
  EXPECT_TRUE(walk.layout.tiled);
  EXPECT_EQ(walk.layout.pieceWidth, 16u);
  EXPECT_EQ(walk.layout.pieceRows, 16u);
  EXPECT_EQ(walk.layout.pieceCount, 9u);  // 3 across, 3 down
}

TEST(TiffDirectory, DefaultsAndFieldFormsLibtiffAlsoReads) {
  // Absent SamplesPerPixel, BitsPerSample, PlanarConfiguration and RowsPerStrip take
  // TIFF 6.0's defaults (1, 1, chunky, the whole image in one strip).
  TiffFile grey;
  grey.pieces = {std::vector<std::uint8_t>(16 * 12 / 8, 0)};
  grey.set(256, kTiffShort, {16}).set(257, kTiffShort, {12}).set(262, kTiffShort, {1});
  grey.set(273, kTiffShort, {kTiffPiece}).set(279, kTiffShort, {16 * 12 / 8});
  EXPECT_EQ(outcome(grey.bytes()), "16x12");
  // The first of two entries of one tag counts, as in libtiff.
  TiffFile twice = rgbTiff(16, 12, 0, 12);
  twice.entries.push_back({256, kTiffLong, {20'001}, std::nullopt});
  EXPECT_EQ(outcome(twice.bytes()), "16x12");
  // A page of a multi-page file, a full-resolution image the old way, and a mask: shown.
  EXPECT_EQ(outcome(rgbTiff(16, 12, 0, 12).set(254, kTiffLong, {2}).bytes()), "16x12");
  EXPECT_EQ(outcome(rgbTiff(16, 12, 0, 12).set(255, kTiffShort, {1}).bytes()), "16x12");
  EXPECT_EQ(outcome(rgbTiff(16, 12, 0, 12).set(254, kTiffShort, {4}).bytes()), "16x12");
  // Entries out of order are read all the same.
  TiffFile unsorted = rgbTiff(16, 12, 0, 12);
  std::reverse(unsorted.entries.begin(), unsorted.entries.end());
  EXPECT_EQ(outcome(unsorted.bytes()), "16x12");
  // Separate planes: one strip list per sample.
  TiffFile planes = rgbTiff(16, 12, 0, 12);
  planes.pieces = {std::vector<std::uint8_t>(192, 1), std::vector<std::uint8_t>(192, 2),
                   std::vector<std::uint8_t>(192, 3)};
  planes.set(273, kTiffLong, {kTiffPiece, kTiffPiece + 1, kTiffPiece + 2}).set(279, kTiffLong, {192, 192, 192});
  planes.set(284, kTiffShort, {2});
  EXPECT_EQ(outcome(planes.bytes()), "16x12");
  // Chunky: one strip, so two of the three listed are more than the layout has;
  // libtiff reads the first and leaves the rest, and so does the walk.
  planes.set(284, kTiffShort, {1});
  EXPECT_EQ(outcome(planes.bytes()), "16x12");
}

TEST(TiffDirectory, WhatLibtiffReadsIsLeftToTheDecoder) {
  // Each of these was refused once; libtiff reads them all, and the decoder neither
  // crashes on them, nor reads outside the data, nor holds more than the frame.
  const auto tiles = [](auto change) {
    TiffFile tiff = rgbTiff(40, 33, 16, 16);
    change(tiff);
    return tiff.bytes();
  };
  const auto strips = [](auto change) {
    TiffFile tiff = rgbTiff(16, 12, 0, 5);
    change(tiff);
    return tiff.bytes();
  };
  struct Case {
    const char* name;
    std::vector<std::uint8_t> data;
    const char* size;
  };
  const std::vector<Case> cases = {
      {"tiles of 24 x 24", rgbTiff(40, 33, 24, 24).bytes(), "40x33"},
      {"tiles of 24 x 40, big-endian", rgbTiff(40, 33, 24, 40, true).bytes(), "40x33"},
      {"tile width 65,536 (3 MB a tile)", tiles([](TiffFile& t) { t.set(322, kTiffLong, {65'536}); }), "40x33"},
      {"tile width 20,016", tiles([](TiffFile& t) { t.set(322, kTiffLong, {20'016}); }), "40x33"},
      {"one tile offset short", tiles([](TiffFile& t) { t.find(324)->values.pop_back(); }), "40x33"},
      {"one tile byte count too many", tiles([](TiffFile& t) { t.find(325)->values.push_back(768); }), "40x33"},
      {"strips counted for 6 rows each", strips([](TiffFile& t) { t.set(278, kTiffLong, {6}); }), "16x12"},
      {"strip of no bytes", strips([](TiffFile& t) { t.find(279)->values[1] = 0; }), "16x12"},
      {"strip offsets counted far past the layout",
       strips([](TiffFile& t) { t.find(273)->count = 0x00FFFFFF; }), "16x12"},
      {"one strip without byte counts", rgbTiff(16, 12, 0, 12).remove(279).bytes(), "16x12"},
      {"one tile without byte counts", rgbTiff(16, 12, 16, 16).remove(325).bytes(), "16x12"},
      {"a reduced-resolution copy alone", strips([](TiffFile& t) { t.set(254, kTiffLong, {1}); }), "16x12"},
      {"a reduced copy, the old way", strips([](TiffFile& t) { t.set(255, kTiffShort, {2}); }), "16x12"},
      {"a subfile type as two values", strips([](TiffFile& t) { t.set(254, kTiffLong, {0, 0}); }), "16x12"},
      {"a reduced copy before the full image",
       rgbTiff(8, 6, 0, 6).set(254, kTiffLong, {1}).bytes(&static_cast<const TiffFile&>(rgbTiff(16, 12, 0, 5))),
       "8x6"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome(c.data), c.size) << c.name;
    EXPECT_EQ(headerCheck(c.data), "accepted") << c.name;
  }
}

TEST(TiffDirectory, TheTileThatEndedTheDeskIsRefused) {
  // The reported file: 16 x 16 RGB whose tiles claim 65,536 x 65,536 pixels.
  TiffFile tiff = rgbTiff(16, 16, 16, 16);
  tiff.set(322, kTiffLong, {65'536}).set(323, kTiffLong, {65'536});
  const auto data = tiff.bytes();
  EXPECT_LT(data.size(), 1000u);
  EXPECT_EQ(outcome(data), "TileShape");
  EXPECT_EQ(headerCheck(data), "Image operation failed");
}

TEST(TiffDirectory, RefusalsAndTheirReasons) {
  const auto make = [](auto change) {
    TiffFile tiff = rgbTiff(40, 33, 16, 16);
    change(tiff);
    return tiff.bytes();
  };
  const auto strips = [](auto change) {
    TiffFile tiff = rgbTiff(16, 12, 0, 5);
    change(tiff);
    return tiff.bytes();
  };
  auto directoryPastTheEnd = rgbTiff(16, 12, 0, 12).bytes();
  directoryPastTheEnd[4] = 0xF0;  // directory offset 0x000000F0 + ...
  directoryPastTheEnd[5] = 0xFF;
  auto entriesCutShort = rgbTiff(16, 12, 0, 12).bytes();
  entriesCutShort.resize(8 + 2 + 12 * 3);
  auto noEntries = rgbTiff(16, 12, 0, 12).bytes();
  noEntries[8] = 0;
  noEntries[9] = 0;
  auto tooManyEntries = rgbTiff(16, 12, 0, 12).bytes();
  tooManyEntries[8] = 0x01;  // 4,097
  tooManyEntries[9] = 0x10;
  auto bigTiff = rgbTiff(16, 12, 0, 12).bytes();
  bigTiff[2] = 43;
  const std::uint32_t nowhere = 0x00FFFFFF;
  // Grey strips of 4 rows: the two lists of three LONGs lie after the directory.
  TiffFile grey;
  grey.pieces = {std::vector<std::uint8_t>(64, 0), std::vector<std::uint8_t>(64, 0), std::vector<std::uint8_t>(64, 0)};
  grey.set(256, kTiffLong, {16}).set(257, kTiffLong, {12}).set(258, kTiffShort, {8}).set(262, kTiffShort, {1});
  grey.set(273, kTiffLong, {kTiffPiece, kTiffPiece + 1, kTiffPiece + 2}).set(278, kTiffLong, {4});
  grey.set(279, kTiffLong, {64, 64, 64});
  auto listsCutOff = grey.bytes();
  ASSERT_EQ(outcome(listsCutOff), "16x12");
  listsCutOff.resize(8 + 2 + 12 * 7 + 4);
  TiffFile reducedCopy = rgbTiff(8, 6, 0, 6);
  reducedCopy.set(254, kTiffLong, {1});
  TiffFile hugeTiles = rgbTiff(16, 16, 16, 16);
  hugeTiles.set(322, kTiffLong, {65'536}).set(323, kTiffLong, {65'536});
  const auto reducedBeforeHugeTiles = reducedCopy.bytes(&hugeTiles);
  TiffFile hugeImage = rgbTiff(16, 12, 0, 12);
  hugeImage.set(256, kTiffLong, {20'001});
  const auto reducedBeforeHugeImage = reducedCopy.bytes(&hugeImage);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> data;
    const char* reason;
    const char* check;  // the check before the decoder
  };
  const std::vector<Case> cases = {
      {"header alone", {'I', 'I', 42, 0, 8, 0, 0, 0}, "DirectoryOutsideData", "Image operation failed"},
      {"directory past the end", directoryPastTheEnd, "DirectoryOutsideData", "Image operation failed"},
      {"entries cut short", entriesCutShort, "DirectoryOutsideData", "Image operation failed"},
      {"no entries", noEntries, "DirectoryEntryCount", "Image operation failed"},
      {"4,097 entries", tooManyEntries, "DirectoryEntryCount", "Image operation failed"},
      {"BigTIFF", bigTiff, "BigTiff", "Image operation failed"},
      {"no width", strips([](TiffFile& t) { t.remove(256); }), "SizeField", "Image operation failed"},
      {"width as two values", strips([](TiffFile& t) { t.set(256, kTiffLong, {16, 16}); }), "SizeField",
       "Image operation failed"},
      {"height as a byte", strips([](TiffFile& t) { t.set(257, 1, {12}); }), "SizeField", "Image operation failed"},
      {"20,001 wide", strips([](TiffFile& t) { t.set(256, kTiffLong, {20'001}); }), "PixelLimits", "Pixel limit"},
      {"12,248 square", strips([](TiffFile& t) { t.set(256, kTiffLong, {12'248}).set(257, kTiffLong, {12'248}); }),
       "PixelLimits", "Pixel limit"},
      {"no height", strips([](TiffFile& t) { t.set(257, kTiffLong, {0}); }), "PixelLimits", "Pixel limit"},
      {"no samples", strips([](TiffFile& t) { t.set(277, kTiffShort, {0}); }), "LayoutField",
       "Image operation failed"},
      {"bits for two of three samples", strips([](TiffFile& t) { t.set(258, kTiffShort, {8, 8}); }),
       "LayoutField", "Image operation failed"},
      {"bits of 0", strips([](TiffFile& t) { t.set(258, kTiffShort, {8, 0, 8}); }), "LayoutField",
       "Image operation failed"},
      {"bits outside the data", strips([](TiffFile& t) { t.find(258)->values = {8, 8, 8, 8, 8, 8}; t.find(258)->count = 0x00FFFFFF; }),
       "LayoutField", "Image operation failed"},
      {"planar configuration 3", strips([](TiffFile& t) { t.set(284, kTiffShort, {3}); }), "LayoutField",
       "Image operation failed"},
      {"0 rows per strip", strips([](TiffFile& t) { t.set(278, kTiffLong, {0}); }), "LayoutField",
       "Image operation failed"},
      {"no strip offsets", strips([](TiffFile& t) { t.remove(273); }), "PieceFields", "Image operation failed"},
      {"no strip byte counts", strips([](TiffFile& t) { t.remove(279); }), "PieceFields", "Image operation failed"},
      {"tile width alone", make([](TiffFile& t) { t.remove(323); }), "PieceFields", "Image operation failed"},
      {"tiles described by strip fields",
       make([](TiffFile& t) {
         t.set(273, kTiffLong, t.find(324)->values).set(279, kTiffLong, t.find(325)->values);
         t.remove(324).remove(325);
       }),
       "PieceFields", "Image operation failed"},
      {"strips with tile offsets too", strips([](TiffFile& t) { t.set(324, kTiffLong, {8}); }), "PieceFields",
       "Image operation failed"},
      {"tile length 0", make([](TiffFile& t) { t.set(323, kTiffLong, {0}); }), "TileShape", "Image operation failed"},
      {"tile width 0", make([](TiffFile& t) { t.set(322, kTiffLong, {0}); }), "TileShape", "Image operation failed"},
      {"tile whose 32-bit row wraps", make([](TiffFile& t) { t.set(322, kTiffLong, {0xFFFFFFF0u}); }), "TileShape",
       "Image operation failed"},
      {"tile of 20,000 x 20,000 on 40 x 33 (1.2 GB)",
       make([](TiffFile& t) { t.set(322, kTiffLong, {20'000}).set(323, kTiffLong, {20'000}); }), "PieceMemory",
       "Pixel limit"},
      {"no tile byte counts for nine tiles", make([](TiffFile& t) { t.remove(325); }), "PieceFields",
       "Image operation failed"},
      {"samples as a LONG past 65,535", strips([](TiffFile& t) { t.set(277, kTiffLong, {65'536}); }), "LayoutField",
       "Image operation failed"},
      {"tile past the end", make([](TiffFile& t) { t.find(324)->values[4] = nowhere; }), "PieceOutsideData",
       "Image operation failed"},
      {"tile running past the end", make([](TiffFile& t) { t.find(325)->values[8] = 769; }), "PieceOutsideData",
       "Image operation failed"},
      {"strip of no bytes past the end", strips([](TiffFile& t) { t.find(279)->values[1] = 0; t.find(273)->values[1] = nowhere; }),
       "PieceOutsideData", "Image operation failed"},
      {"strip offset wraps around", strips([](TiffFile& t) { t.find(273)->values[0] = 0xFFFFFFF0u; }),
       "PieceOutsideData", "Image operation failed"},
      {"a reduced copy before tiles of 65,536 square", reducedBeforeHugeTiles, "ReducedImage",
       "Image operation failed"},
      {"a reduced copy before an image past the limits", reducedBeforeHugeImage, "PixelLimits", "Pixel limit"},
      {"strip lists cut off", listsCutOff, "PieceOutsideData", "Image operation failed"},
      {"strip offsets as bytes", strips([](TiffFile& t) { t.find(273)->type = 1; }), "LayoutField",
       "Image operation failed"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome(c.data), c.reason) << c.name;
    EXPECT_EQ(headerCheck(c.data), c.check) << c.name;
  }
}

TEST(TiffDirectory, AStripOrTileIsHeldToTheFrameItBelongsTo) {
  // One uncompressed strip of 12,247 x 12,247 pixels of four 16-bit samples decodes
  // to 1.2 GB: the frame itself at its stored depth, within what a load is promised.
  const auto oneStrip = [](std::uint32_t side, std::vector<std::uint32_t> bits, std::uint32_t rows) {
    TiffFile tiff = rgbTiff(16, 12, 0, 12);
    tiff.set(256, kTiffLong, {side}).set(257, kTiffLong, {side}).set(258, kTiffShort, bits);
    tiff.set(277, kTiffShort, {static_cast<std::uint32_t>(bits.size())}).set(278, kTiffLong, {rows});
    const std::uint32_t strips = (side + rows - 1) / rows;
    std::vector<std::uint32_t> offsets(strips, kTiffPiece), counts(strips, 576);
    tiff.set(273, kTiffLong, offsets).set(279, kTiffLong, counts);
    tiff.pieces = {std::vector<std::uint8_t>(576, 0)};
    return tiff.bytes();
  };
  EXPECT_EQ(outcome(oneStrip(12'247, {16, 16, 16, 16}, 12'247)), "12247x12247");
  EXPECT_EQ(headerCheck(oneStrip(12'247, {16, 16, 16, 16}, 12'247)), "accepted");
  EXPECT_EQ(outcome(oneStrip(10'000, {16, 16, 16}, 10'000)), "10000x10000");
  EXPECT_EQ(outcome(oneStrip(12'247, {16, 16, 16, 16}, 64)), "12247x12247");
  // Four 32-bit samples (2.4 GB) are the widest frame a decoder holds; five are more.
  EXPECT_EQ(outcome(oneStrip(12'247, {32, 32, 32, 32}, 12'247)), "12247x12247");
  EXPECT_EQ(outcome(oneStrip(12'247, {32, 32, 32, 32, 32}, 12'247)), "PieceMemory");
  EXPECT_EQ(headerCheck(oneStrip(12'247, {32, 32, 32, 32, 32}, 12'247)), "Pixel limit");
  // A tile overhanging a small image may hold the allowance, not more.
  const auto tiledRgba16 = [](std::uint32_t tile) {
    TiffFile tiff = rgbTiff(40, 33, 16, 16);
    tiff.set(258, kTiffShort, {16, 16, 16, 16}).set(277, kTiffShort, {4});
    tiff.set(322, kTiffLong, {tile}).set(323, kTiffLong, {tile});
    tiff.set(324, kTiffLong, {kTiffPiece}).set(325, kTiffLong, {768});
    tiff.pieces.resize(1);
    return tiff.bytes();
  };
  EXPECT_EQ(outcome(tiledRgba16(2'048)), "40x33");  // 32 MiB
  EXPECT_EQ(outcome(tiledRgba16(4'096)), "PieceMemory");  // 128 MiB
  // A SamplesPerPixel that the format keeps in 16 bits, written as a LONG of 2^31 with
  // 32,768-bit samples: 16,384 x 32,768 x 2^31 bits a row, 2^57 bytes, and 128 rows
  // make 2^64 bytes, which wrapped around to 0 and passed the memory check.
  TiffFile wraps = rgbTiff(16, 12, 0, 12);
  wraps.set(256, kTiffLong, {16'384}).set(257, kTiffLong, {128}).set(278, kTiffLong, {128});
  wraps.set(258, kTiffShort, {32'768}).set(277, kTiffLong, {0x80000000u});
  wraps.set(279, kTiffLong, {1});
  EXPECT_EQ(outcome(wraps.bytes()), "LayoutField");
  EXPECT_EQ(headerCheck(wraps.bytes()), "Image operation failed");

  TiffLayout layout;
  layout.samplesPerPixel = 2;
  layout.bitsPerSample = 8;
  layout.pieceWidth = 10;
  layout.pieceRows = 3;
  EXPECT_EQ(tiffDecodedPieceBytes(layout), 120u);  // grey with alpha widened to four channels
  layout.samplesPerPixel = 1;
  layout.bitsPerSample = 1;
  EXPECT_EQ(tiffDecodedPieceBytes(layout), 30u);   // samples below 8 bits widened to 8
  layout.samplesPerPixel = 3;
  layout.bitsPerSample = 16;
  layout.separatePlanes = true;
  EXPECT_EQ(tiffDecodedPieceBytes(layout), 360u);  // and a second buffer for the planes
}

TEST(TiffDirectory, AnyBytesAtAll) {
  // Every cut of a valid file, and every single byte changed to 0xFF, is walked
  // without reading outside the data (the sanitizers watch) and mostly refused.
  const auto whole = rgbTiff(40, 33, 16, 16, true).bytes();
  for (std::size_t length = 0; length <= whole.size(); ++length) {
    const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    const std::string result = outcome(cut);
    if (length < whole.size()) {
      EXPECT_NE(result, "40x33") << length;
    }
  }
  for (std::size_t i = 0; i < 8 + 2 + 12 * 12; ++i) {
    auto changed = whole;
    changed[i] = 0xFF;
    (void)outcome(changed);
  }
  EXPECT_EQ(outcome(whole), "40x33");
  EXPECT_EQ(tiffRefusalName(walkTiffFirstDirectory(nullptr, 0).refusal), std::string("NotTiff"));
}

}  // namespace
}  // namespace tessary

// The platform-free rules of image intake: the leading-byte format table, the size
// gate, the pixel limits and the path rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../tools/test_images/test_image_bytes.h"
#include "imaging/image_format.h"
#include "imaging/image_path.h"
#include "imaging/pixels.h"
#include "png_writer.h"

namespace tessary {
namespace {

std::vector<std::uint8_t> bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

std::vector<std::uint8_t> bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::string formatName(const std::vector<std::uint8_t>& data) {
  const auto format = imageFormatOf(data.data(), data.size());
  if (!format) return "none";
  switch (*format) {
    case ImageFormat::Png: return "PNG";
    case ImageFormat::Jpeg: return "JPEG";
    case ImageFormat::Tiff: return "TIFF";
    case ImageFormat::Bmp: return "BMP";
  }
  return "?";
}

TEST(ImageFormatTable, LeadingBytesNameTheFormat) {
  struct Case {
    std::vector<std::uint8_t> data;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}), "PNG"},
      {bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0}), "PNG"},
      {bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A}), "none"},        // 7 bytes
      {bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0B}), "none"},
      {bytes({0xFF, 0xD8, 0xFF}), "JPEG"},
      {bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00}), "JPEG"},
      {bytes({0xFF, 0xD8}), "none"},
      {bytes({0xFF, 0xD8, 0xFE}), "none"},
      {bytes({0x49, 0x49, 0x2A, 0x00}), "TIFF"},
      {bytes({0x4D, 0x4D, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08}), "TIFF"},
      {bytes({0x49, 0x49, 0x2A}), "none"},                                 // 3 bytes
      {bytes({0x49, 0x49, 0x2A, 0x01}), "none"},
      {bytes({0x49, 0x49, 0x00, 0x2A}), "none"},                           // mixed order
      {bytes({0x4D, 0x4D, 0x2A, 0x00}), "none"},
      {bytes("IIII"), "none"},
      {bytes("MMMM"), "none"},
      {bytes({0x42, 0x4D}), "BMP"},
      {bytes("BM and more"), "BMP"},
      {bytes("B"), "none"},
      {bytes("GIF89a\x01\x00\x01\x00"), "none"},
      {bytes("GIF87a"), "none"},
      {bytes("RIFF\x1a\x00\x00\x00WEBPVP8L"), "none"},
      {bytes({0x00, 0x00, 0x01, 0x00, 0x01, 0x00}), "none"},               // ICO
      {bytes({0x00, 0x00, 0x00, 0x18, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c'}), "none"},
      {bytes({0x49, 0x49, 0xBC, 0x01}), "none"},                           // JPEG XR
      {bytes("not an image"), "none"},
      {bytes(""), "none"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(formatName(c.data), c.expected) << "case of " << c.data.size() << " bytes";
  }
}

TEST(ImageFormatTable, UnknownBytesAreRefusedWithTheFixedText) {
  const auto notAnImage = bytes("not an image");
  try {
    requireImageFormat(notAnImage.data(), notAnImage.size());
    FAIL() << "no error";
  } catch (const ImageError& error) {
    EXPECT_STREQ(error.what(), "Unsupported image format");
  }
  const auto tiff = bytes({0x49, 0x49, 0x2A, 0x00});
  EXPECT_EQ(requireImageFormat(tiff.data(), tiff.size()), ImageFormat::Tiff);
  EXPECT_THROW(requireImageFormat(nullptr, 0), ImageError);
}

TEST(ImageFormatTable, SizeGateKeepsOneTo200MiB) {
  EXPECT_THROW(requireDecodableSize(0), ImageError);
  EXPECT_NO_THROW(requireDecodableSize(1));
  EXPECT_NO_THROW(requireDecodableSize(209'715'200));
  try {
    requireDecodableSize(209'715'201);
    FAIL() << "no error";
  } catch (const ImageError& error) {
    EXPECT_STREQ(error.what(), "File size limit");
  }
}

TEST(PixelLimits, InclusiveLimitsOnSidesAndProduct) {
  struct Case {
    std::uint32_t width, height;
    bool accepted;
  };
  const Case cases[] = {
      {1, 1, true},
      {0, 1, false},
      {1, 0, false},
      {20'000, 1, true},
      {1, 20'000, true},
      {20'001, 1, false},
      {1, 20'001, false},
      {20'000, 7'500, true},   // exactly 150,000,000
      {7'500, 20'000, true},
      {20'000, 7'501, false},
      {12'247, 12'247, true},  // 149,989,009
      {12'248, 12'248, false}, // 150,013,504
      {20'000, 20'000, false},
      {0xFFFFFFFFu, 0xFFFFFFFFu, false},
      {65'536, 65'536, false},  // the product would wrap in 32 bits
      {14'575, 8'441, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(withinPixelLimits(c.width, c.height), c.accepted) << c.width << " x " << c.height;
    if (c.accepted) {
      EXPECT_NO_THROW(requirePixelLimits(c.width, c.height));
    } else {
      try {
        requirePixelLimits(c.width, c.height);
        ADD_FAILURE() << "no error for " << c.width << " x " << c.height;
      } catch (const ImageError& error) {
        EXPECT_STREQ(error.what(), "Pixel limit");
      }
    }
  }
}

std::string declared(const std::vector<std::uint8_t>& data, ImageFormat format) {
  const auto size = declaredImageSize(data.data(), data.size(), format);
  return size ? std::to_string(size->width) + "x" + std::to_string(size->height) : "none";
}

std::vector<std::uint8_t> pngWithHeader(std::uint32_t width, std::uint32_t height) {
  auto png = bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'});
  for (std::uint32_t v : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<std::uint8_t>(v >> shift));
  }
  png.insert(png.end(), {8, 2, 0, 0, 0, 0, 0, 0, 0});  // depth, colour type, methods, CRC
  return png;
}

TEST(DeclaredSize, PngHeaderChunk) {
  EXPECT_EQ(declared(pngWithHeader(16, 12), ImageFormat::Png), "16x12");
  EXPECT_EQ(declared(pngWithHeader(20'001, 1), ImageFormat::Png), "20001x1");
  EXPECT_EQ(declared(pngWithHeader(0xFFFFFFFFu, 2), ImageFormat::Png), "4294967295x2");
  EXPECT_EQ(declared(pngWithHeader(0, 5), ImageFormat::Png), "0x5");  // as written
  auto cut = pngWithHeader(16, 12);
  cut.resize(32);  // the header chunk's CRC cut short
  EXPECT_EQ(declared(cut, ImageFormat::Png), "none");
  auto otherChunk = pngWithHeader(16, 12);
  otherChunk[12] = 'i';
  EXPECT_EQ(declared(otherChunk, ImageFormat::Png), "none");
  auto longerChunk = pngWithHeader(16, 12);
  longerChunk[11] = 14;
  EXPECT_EQ(declared(longerChunk, ImageFormat::Png), "none");
  EXPECT_EQ(declared(bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}), ImageFormat::Png), "none");
}

// The frame header of a 1 x 20,001 image (SOF marker code given), as found after
// FF D8 in every case below.
std::vector<std::uint8_t> frameHeader(int code) {
  return bytes({0xFF, code, 0x00, 0x0B, 0x08, 0x4E, 0x21, 0x00, 0x01, 0x01, 0x01, 0x11, 0x00});
}

std::vector<std::uint8_t> jpegOf(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out = {0xFF, 0xD8};
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

TEST(DeclaredSize, JpegMarkersAreWalkedAsTheDecoderWalksThem) {
  const auto app0 = bytes({0xFF, 0xE0, 0x00, 0x04, 0xAA, 0xBB});
  const auto scan = bytes({0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
  struct Case {
    const char* name;
    std::vector<std::uint8_t> data;
    const char* size;
  };
  const std::vector<Case> cases = {
      {"baseline frame first", jpegOf({frameHeader(0xC0), scan}), "1x20001"},
      {"extended sequential", jpegOf({app0, frameHeader(0xC1), scan}), "1x20001"},
      {"progressive", jpegOf({app0, frameHeader(0xC2)}), "1x20001"},
      {"arithmetic sequential", jpegOf({frameHeader(0xC9)}), "1x20001"},
      {"arithmetic progressive", jpegOf({frameHeader(0xCA)}), "1x20001"},
      {"fill bytes before a marker", jpegOf({bytes({0xFF, 0xFF, 0xFF}), app0, frameHeader(0xC0)}), "1x20001"},
      {"one stray byte before the frame", jpegOf({app0, bytes({0x00}), frameHeader(0xC0)}), "1x20001"},
      {"stray bytes before the first marker", jpegOf({bytes({0x12, 0x34, 0x56}), frameHeader(0xC0)}), "1x20001"},
      {"FF 00 before the frame", jpegOf({app0, bytes({0xFF, 0x00}), frameHeader(0xC0)}), "1x20001"},
      {"FF FF 00 before the frame", jpegOf({bytes({0xFF, 0xFF, 0x00, 0x17}), frameHeader(0xC0)}), "1x20001"},
      {"segment length 0", jpegOf({bytes({0xFF, 0xE1, 0x00, 0x00}), frameHeader(0xC0)}), "1x20001"},
      {"segment length 1", jpegOf({bytes({0xFF, 0xFE, 0x00, 0x01}), frameHeader(0xC0)}), "1x20001"},
      {"segment length 2", jpegOf({bytes({0xFF, 0xEF, 0x00, 0x02}), frameHeader(0xC0)}), "1x20001"},
      // The frame header inside a segment's data is skipped with the segment.
      {"frame inside a comment", jpegOf({bytes({0xFF, 0xFE, 0x00, 0x0F}), frameHeader(0xC0), frameHeader(0xC0)}), "1x20001"},
      {"tables and restart interval first",
       jpegOf({bytes({0xFF, 0xC4, 0x00, 0x02, 0xFF, 0xDB, 0x00, 0x02, 0xFF, 0xDD, 0x00, 0x04, 0x00, 0x00,
                      0xFF, 0xCC, 0x00, 0x02, 0xFF, 0xDC, 0x00, 0x04, 0x00, 0x10}),
               frameHeader(0xC0)}),
       "1x20001"},
      {"parameterless markers first", jpegOf({bytes({0xFF, 0xD0, 0xFF, 0xD7, 0xFF, 0x01}), frameHeader(0xC0)}), "1x20001"},
      {"height zero as written", jpegOf({bytes({0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x00, 0x00, 0x10})}), "16x0"},
      {"frame length ignored", jpegOf({bytes({0xFF, 0xC0, 0x00, 0x00, 0x08, 0x00, 0x0C, 0x00, 0x10})}), "16x12"},
      // Refused: nothing the decoder would decode, or nothing the walk can be sure of.
      {"start of scan before the frame", jpegOf({app0, scan, frameHeader(0xC0)}), "none"},
      {"end of image before the frame", jpegOf({bytes({0xFF, 0xD9}), frameHeader(0xC0)}), "none"},
      {"second start of image", jpegOf({bytes({0xFF, 0xD8}), frameHeader(0xC0)}), "none"},
      {"lossless frame", jpegOf({frameHeader(0xC3)}), "none"},
      {"hierarchical frame", jpegOf({frameHeader(0xC5)}), "none"},
      {"JPG marker", jpegOf({frameHeader(0xC8)}), "none"},
      {"arithmetic lossless frame", jpegOf({frameHeader(0xCB)}), "none"},
      {"unknown marker", jpegOf({bytes({0xFF, 0x02, 0x00, 0x02}), frameHeader(0xC0)}), "none"},
      {"JPEG-LS marker", jpegOf({bytes({0xFF, 0xF7, 0x00, 0x02}), frameHeader(0xC0)}), "none"},
      {"expand marker", jpegOf({bytes({0xFF, 0xDF, 0x00, 0x02}), frameHeader(0xC0)}), "none"},
      {"leading bytes alone", bytes({0xFF, 0xD8, 0xFF}), "none"},
      {"only fill bytes", bytes({0xFF, 0xD8, 0xFF, 0xFF, 0xFF}), "none"},
      {"stray bytes to the end", jpegOf({app0, bytes({0x01, 0x02, 0x03})}), "none"},
      {"FF 00 to the end", jpegOf({bytes({0xFF, 0x00, 0xFF, 0x00})}), "none"},
      {"length field cut short", jpegOf({bytes({0xFF, 0xE0, 0x00})}), "none"},
      {"segment past the end", jpegOf({bytes({0xFF, 0xE0, 0xFF, 0xF0, 0x00}), frameHeader(0xC0)}), "none"},
      {"frame header cut short", jpegOf({bytes({0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00})}), "none"},
      {"frame header one byte short", jpegOf({bytes({0xFF, 0xC0, 0x00, 0x11, 0x08, 0x4E, 0x21, 0x00})}), "none"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(declared(c.data, ImageFormat::Jpeg), c.size) << c.name;
  }
  const auto jpeg = testimages::encodeBaselineJpeg(testimages::gradientImage(), 90);
  EXPECT_EQ(declared(jpeg, ImageFormat::Jpeg), "16x12");
}

TEST(DeclaredSize, OnlyPngAndJpegHeadersAreRead) {
  const auto bmp = testimages::encodeBmp24(testimages::gradientImage());
  EXPECT_EQ(declared(bmp, ImageFormat::Bmp), "none");
  EXPECT_EQ(declared(testimages::encodeTiffRgb({testimages::gradientImage()}), ImageFormat::Tiff), "none");
}

std::string headerCheck(const std::vector<std::uint8_t>& data) {
  try {
    requireDeclaredSizeWithinLimits(data.data(), data.size(), requireImageFormat(data.data(), data.size()));
    return "accepted";
  } catch (const ImageError& error) {
    return error.what();
  }
}

TEST(DeclaredSize, HeadersAreCheckedBeforeAnyDecoder) {
  auto jpeg = testimages::encodeBaselineJpeg(testimages::gradientImage(), 90);
  auto wideJpeg = jpeg;
  for (std::size_t i = 2; i + 8 < wideJpeg.size(); ++i) {
    if (wideJpeg[i] == 0xFF && wideJpeg[i + 1] == 0xC0) {
      wideJpeg[i + 7] = 0x4E;  // width 20,001 (0x4E21)
      wideJpeg[i + 8] = 0x21;
      break;
    }
  }
  // 40,000 x 40,000 behind one stray byte after the application segment.
  auto strayByte = jpegOf({bytes({0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00, 0x5A}),
                           bytes({0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x9C, 0x40, 0x9C, 0x40, 0x01, 0x01, 0x11, 0x00})});
  struct Case {
    const char* name;
    std::vector<std::uint8_t> data;
    const char* outcome;
  };
  const std::vector<Case> cases = {
      {"PNG at the limit", pngWithHeader(20'000, 7'500), "accepted"},
      {"PNG one row over", pngWithHeader(20'000, 7'501), "Pixel limit"},
      {"PNG square over", pngWithHeader(12'248, 12'248), "Pixel limit"},
      {"PNG of no pixels", pngWithHeader(0, 0), "Pixel limit"},
      {"PNG signature alone", bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}), "Image operation failed"},
      {"PNG without its header chunk", bytes("\x89PNG\r\n\x1a\n not a header chunk here"), "Image operation failed"},
      {"JPEG", jpeg, "accepted"},
      {"JPEG one column over", wideJpeg, "Pixel limit"},
      {"JPEG behind a stray byte", strayByte, "Pixel limit"},
      {"JPEG with no frame before the scan",
       jpegOf({bytes({0xFF, 0xDA, 0x00, 0x02}), frameHeader(0xC0)}), "Image operation failed"},
      {"JPEG leading bytes alone", bytes({0xFF, 0xD8, 0xFF}), "Image operation failed"},
      {"TIFF", testimages::encodeTiffRgb({testimages::gradientImage()}), "accepted"},
      {"BMP", testimages::encodeBmp24(testimages::gradientImage()), "accepted"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(headerCheck(c.data), c.outcome) << c.name;
  }
}

// A PNG header of the given depth and colour type, with a tRNS chunk before (or after)
// its one empty IDAT when asked.
std::vector<std::uint8_t> pngOf(std::uint32_t width, std::uint32_t height, std::uint8_t depth,
                                std::uint8_t colourType, const char* transparency = "") {
  auto png = imagetest::pngSignature();
  imagetest::appendPngChunk(png, "IHDR", imagetest::pngHeaderChunkData(width, height, depth, colourType));
  const std::string where = transparency;
  if (where == "before") imagetest::appendPngChunk(png, "tRNS", {0, 1, 0, 2, 0, 3});
  imagetest::appendPngChunk(png, "IDAT", {});
  if (where == "after") imagetest::appendPngChunk(png, "tRNS", {0, 1, 0, 2, 0, 3});
  imagetest::appendPngChunk(png, "IEND", {});
  return png;
}

TEST(DecoderCopy, PngsOfEveryLayoutWithinThePixelLimitsAreAccepted) {
  // The decoder keeps 16-bit samples; grey with alpha, and RGB or 16-bit grey with a
  // colour key, become four channels. Its copy of the frame at that depth is part of
  // what a load is promised (up to 8 bytes a pixel, 1.2 GB at the limits): 16-bit
  // images within the pixel limits are accepted whatever their copy.
  struct Case {
    const char* name;
    std::vector<std::uint8_t> data;
    std::uint64_t copy;
    const char* outcome;
  };
  const std::vector<Case> cases = {
      {"RGBA 16, 8,660 square", pngOf(8'660, 8'660, 16, 6), 599'964'800, "accepted"},
      {"RGBA 16, 8,661 square", pngOf(8'661, 8'661, 16, 6), 600'103'368, "accepted"},
      {"RGBA 16 at the limits", pngOf(12'247, 12'247, 16, 6), 1'199'912'072, "accepted"},
      {"RGBA 16, 20,000 x 7,500", pngOf(20'000, 7'500, 16, 6), 1'200'000'000, "accepted"},
      {"RGB 16, 10,000 square", pngOf(10'000, 10'000, 16, 2), 600'000'000, "accepted"},
      {"RGB 16, one row more", pngOf(10'000, 10'001, 16, 2), 600'060'000, "accepted"},
      {"RGB 16 with a colour key", pngOf(10'000, 10'000, 16, 2, "before"), 800'000'000, "accepted"},
      {"RGB 16 with a tRNS after the image data", pngOf(10'000, 10'000, 16, 2, "after"), 600'000'000, "accepted"},
      {"grey 16 at the limits", pngOf(12'247, 12'247, 16, 0), 299'978'018, "accepted"},
      {"grey 16 with a colour key", pngOf(12'247, 12'247, 16, 0, "before"), 1'199'912'072, "accepted"},
      {"grey and alpha 16", pngOf(12'247, 12'247, 16, 4), 1'199'912'072, "accepted"},
      {"grey and alpha 8", pngOf(12'247, 12'247, 8, 4), 599'956'036, "accepted"},
      {"RGBA 8 at the limits", pngOf(12'247, 12'247, 8, 6), 599'956'036, "accepted"},
      {"RGB 8 with a colour key", pngOf(12'247, 12'247, 8, 2, "before"), 599'956'036, "accepted"},
      {"palette of 1 bit, 17 x 3", pngOf(17, 3, 1, 3), 9, "accepted"},
      {"RGBA 16 one row past the limits", pngOf(20'000, 7'501, 16, 6), 1'200'160'000, "Pixel limit"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pngDecoderCopyBytes(c.data.data(), c.data.size()), c.copy) << c.name;
    EXPECT_EQ(headerCheck(c.data), c.outcome) << c.name;
  }
  EXPECT_EQ(pngDecoderCopyBytes(imagetest::pngSignature().data(), 8), std::nullopt);
}

// A 24-bit BMP of the given header size, sides and compression, with `pixelBytes`
// bytes after the headers.
std::vector<std::uint8_t> bmpWith(std::uint32_t infoSize, std::int32_t width, std::int32_t height,
                                  std::uint16_t bits, std::uint32_t compression, std::size_t pixelBytes) {
  std::vector<std::uint8_t> bmp(14 + infoSize + pixelBytes, 0);
  const auto put = [&](std::size_t at, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bmp[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put(2, bmp.size(), 4);
  put(10, 14 + infoSize, 4);
  put(14, infoSize, 4);
  if (infoSize == 12) {
    put(18, static_cast<std::uint16_t>(width), 2);
    put(20, static_cast<std::uint16_t>(height), 2);
    put(22, 1, 2);
    put(24, bits, 2);
  } else {
    put(18, static_cast<std::uint32_t>(width), 4);
    put(22, static_cast<std::uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, bits, 2);
    put(30, compression, 4);
  }
  return bmp;
}

std::vector<std::uint8_t> withPixelOffset(std::vector<std::uint8_t> bmp, std::uint32_t offset) {
  for (int i = 0; i < 4; ++i) bmp[10 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
  return bmp;
}

TEST(BmpPixelArray, UncompressedArraysLargerThanTheFileAreRefused) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> data;
    bool exceeds;
    const char* outcome = nullptr;  // of the check before the decoder, when not the usual one
  };
  // 16 x 12 at 24 bits: rows of 48 bytes, 576 in all. 5 x 3 at 24 bits: rows of 16
  // (15 padded to four), 48 in all. 33 x 2 at 1 bit: rows of 8 (5 bytes padded), 16.
  const std::vector<Case> cases = {
      {"complete", bmpWith(40, 16, 12, 24, 0, 576), false},
      {"one byte short", bmpWith(40, 16, 12, 24, 0, 575), true},
      {"headers alone, 12,247 square", bmpWith(40, 12'247, 12'247, 24, 0, 0), true},
      {"padded rows complete", bmpWith(40, 5, 3, 24, 0, 48), false},
      {"padding of the last row missing", bmpWith(40, 5, 3, 24, 0, 47), true},
      {"one bit per pixel", bmpWith(40, 33, 2, 1, 0, 16), false},
      {"one bit per pixel short", bmpWith(40, 33, 2, 1, 0, 15), true},
      {"top-down rows", bmpWith(40, 16, -12, 24, 0, 576), false},
      {"top-down rows short", bmpWith(40, 16, -12, 24, 0, 575), true},
      {"most negative height", bmpWith(40, 16, INT32_MIN, 24, 0, 576), true, "Pixel limit"},
      {"bit fields", bmpWith(40, 16, 12, 32, 3, 768), false},
      {"bit fields short", bmpWith(40, 16, 12, 32, 3, 767), true},
      {"alpha bit fields short", bmpWith(40, 16, 12, 32, 6, 100), true},
      {"version 5 header short", bmpWith(124, 16, 12, 24, 0, 100), true},
      {"version 5 header complete", bmpWith(124, 16, 12, 24, 0, 576), false},
      // The decoder reads the pixels where the file header says, even inside the
      // information header: 130 within a 124-byte header that ends at 138.
      {"pixels inside the version 5 header", withPixelOffset(bmpWith(124, 16, 12, 24, 0, 568), 130), false},
      {"pixels inside the version 5 header, short", withPixelOffset(bmpWith(124, 16, 12, 24, 0, 567), 130), true},
      {"pixels from the very start", withPixelOffset(bmpWith(40, 16, 12, 24, 0, 576), 0), false},
      {"pixel offset past the end", withPixelOffset(bmpWith(40, 16, 12, 24, 0, 576), 0x00FFFFFF), true},
      {"pixel offset near 4 GiB", withPixelOffset(bmpWith(40, 16, 12, 24, 0, 576), 0xFFFFFFF0u), true},
      {"core header complete", bmpWith(12, 16, 12, 24, 0, 576), false},
      {"core header short", bmpWith(12, 16, 12, 24, 0, 575), true},
      {"widest and tallest sides", bmpWith(40, INT32_MAX, INT32_MAX, 0xFFFF, 0, 10), true, "Pixel limit"},
      {"one column over the limit", bmpWith(40, 20'001, 1, 24, 0, 0), true, "Pixel limit"},
      {"one column over the limit, complete", bmpWith(12, 20'001, 1, 24, 0, 60'004), false, "Pixel limit"},
      // Left to the decoder: compressed data, sides it refuses itself, short headers.
      {"run-length 8 bits", bmpWith(40, 12'247, 12'247, 8, 1, 2), false},
      {"run-length 4 bits", bmpWith(40, 12'247, 12'247, 4, 2, 2), false},
      {"embedded JPEG", bmpWith(40, 12'247, 12'247, 0, 4, 2), false},
      {"zero width", bmpWith(40, 0, 12, 24, 0, 0), false},
      {"negative width", bmpWith(40, -16, 12, 24, 0, 0), false},
      {"zero height", bmpWith(40, 16, 0, 24, 0, 0), false},
      {"zero bits", bmpWith(40, 16, 12, 0, 0, 0), false},
      {"header cut short", bytes({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 16, 0}), false},
      {"BM alone", bytes({'B', 'M'}), false},
      {"not a BMP", pngWithHeader(16, 12), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bmpPixelArrayExceedsData(c.data.data(), c.data.size()), c.exceeds) << c.name;
    EXPECT_EQ(headerCheck(c.data), c.outcome ? c.outcome : c.exceeds ? "Image operation failed" : "accepted") << c.name;
  }
  const auto real = testimages::encodeBmp24(testimages::gradientImage());
  EXPECT_FALSE(bmpPixelArrayExceedsData(real.data(), real.size()));
  EXPECT_TRUE(bmpPixelArrayExceedsData(real.data(), real.size() - 1));
}

// The self-test images carry the gradient in their stored bytes.
TEST(SelfTestImages, BmpAndTiffHoldTheGradientBytes) {
  const auto gradient = testimages::gradientImage();
  const auto bmp = testimages::encodeBmp24(gradient);
  ASSERT_EQ(bmp.size(), 54u + 16u * 12u * 3u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  // Bottom-up rows: row 5 is stored sixth from the end; pixel 7 in blue, green, red.
  const std::size_t at = 54 + (11 - 5) * 48 + 7 * 3;
  EXPECT_EQ(bmp[at], 180);
  EXPECT_EQ(bmp[at + 1], 85);
  EXPECT_EQ(bmp[at + 2], 91);

  const auto tiff = testimages::encodeTiffRgb({gradient});
  ASSERT_GE(tiff.size(), 576u);
  EXPECT_EQ(tiff[0], 'I');
  EXPECT_EQ(tiff[2], 0x2A);
  EXPECT_EQ(tiff[3], 0x00);
  // The single strip is the last 576 bytes, red-green-blue, top-down.
  const std::size_t strip = tiff.size() - 576;
  EXPECT_EQ(tiff[strip + (5 * 16 + 7) * 3], 91);
  EXPECT_EQ(tiff[strip + (5 * 16 + 7) * 3 + 1], 85);
  EXPECT_EQ(tiff[strip + (5 * 16 + 7) * 3 + 2], 180);

  const auto jpeg = testimages::encodeBaselineJpeg(gradient, 90);
  EXPECT_EQ(formatName(jpeg), "JPEG");
  EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
  EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);
  EXPECT_EQ(formatName(bmp), "BMP");
  EXPECT_EQ(formatName(tiff), "TIFF");
}

TEST(PathBoxText, OneEnclosingPairOfQuotesIsRemoved) {
  struct Case {
    std::u16string text;
    std::u16string cleaned;
  };
  const Case cases[] = {
      {u"C:\\photos\\a.png", u"C:\\photos\\a.png"},
      {u"\"C:\\photos\\a.png\"", u"C:\\photos\\a.png"},
      {u"\"\"", u""},                                   // empty: no load, string 53
      {u"", u""},
      {u"\"", u"\""},                                   // a lone quote stays
      {u"\"C:\\a.png", u"\"C:\\a.png"},
      {u"C:\\a.png\"", u"C:\\a.png\""},
      {u"\"\"C:\\a.png\"\"", u"\"C:\\a.png\""},         // only one pair
      {u" \"C:\\a.png\"", u" \"C:\\a.png\""},           // a blank before the quote
      {u"\"C:\\a.png\" ", u"\"C:\\a.png\" "},
      {u"\" C:\\a.png \"", u" C:\\a.png "},             // inner blanks stay
      {u" C:\\a.png", u" C:\\a.png"},                   // no trimming
      {u"\"C:\\my \"best\" photo.png\"", u"C:\\my \"best\" photo.png"},
      {u"\"\"\"", u"\""},
      {u"\"\u00e9\u6f22\"", u"\u00e9\u6f22"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cleanPathBoxText(c.text), c.cleaned);
  }
}

TEST(PathRules, AbsolutenessFollowsWindowsPathRules) {
  struct Case {
    std::u16string path;
    bool absolute;
  };
  const Case cases[] = {
      {u"C:\\a.png", true},
      {u"c:/a.png", true},
      {u"Z:\\", true},
      {u"C:\\\\a.png", true},
      {u"C:", false},
      {u"C:a.png", false},
      {u"C:photos\\a.png", false},
      {u"sample.png", false},
      {u"photos\\a.png", false},
      {u"\\a.png", false},          // rooted on the current drive, no root name
      {u"/a.png", false},
      {u".\\a.png", false},
      {u"..\\a.png", false},
      {u" C:\\a.png", false},       // a leading blank
      {u"1:\\a.png", false},
      {u"\u00c4:\\a.png", false},   // only ASCII letters name drives
      {u"\\\\server\\share\\a.png", true},
      {u"//server/share/a.png", true},
      {u"\\/server\\share\\a.png", true},
      {u"/\\server/share/a.png", true},
      {u"\\\\?\\C:\\a.png", true},
      {u"\\\\.\\C:\\a.png", true},
      {u"\\??\\C:\\a.png", true},
      {u"\\\\", false},             // two separators and nothing after
      {u"\\\\\\server", false},     // three separators
      {u"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isAbsoluteWindowsPath(c.path), c.absolute)
        << std::string(c.path.begin(), c.path.end());
  }
}

TEST(PathRules, ServerAndDevicePrefixesAreTwoSeparateTwoCharacterTests) {
  EXPECT_TRUE(hasServerOrDevicePrefix(u"\\\\server\\share\\a.png"));
  EXPECT_TRUE(hasServerOrDevicePrefix(u"//server/share/a.png"));
  EXPECT_TRUE(hasServerOrDevicePrefix(u"\\\\?\\C:\\a.png"));
  EXPECT_TRUE(hasServerOrDevicePrefix(u"\\\\.\\C:\\a.png"));
  EXPECT_TRUE(hasServerOrDevicePrefix(u"//?/C:/a.png"));
  EXPECT_FALSE(hasServerOrDevicePrefix(u"\\/server/share/a.png"));
  EXPECT_FALSE(hasServerOrDevicePrefix(u"/\\server/share/a.png"));
  EXPECT_FALSE(hasServerOrDevicePrefix(u"C:\\a.png"));
  EXPECT_FALSE(hasServerOrDevicePrefix(u"\\"));
  EXPECT_FALSE(hasServerOrDevicePrefix(u""));
}

TEST(PathRules, LocalAbsoluteFormCombinesStepsOneAndTwo) {
  const std::u16string refused[] = {
      u"sample.png",
      u"C:a.png",
      u"C:",
      u"\\\\server\\share\\image.png",
      u"//server/share/image.png",
      u"\\\\?\\C:\\a.png",
      u"\\\\.\\C:\\a.png",
      u" C:\\a.png",
      u"",
  };
  for (const auto& path : refused) {
    try {
      requireLocalAbsolutePathForm(path);
      ADD_FAILURE() << "accepted " << std::string(path.begin(), path.end());
    } catch (const ImageError& error) {
      EXPECT_STREQ(error.what(), "Local absolute path required");
    }
  }
  EXPECT_NO_THROW(requireLocalAbsolutePathForm(u"C:\\a.png"));
  EXPECT_NO_THROW(requireLocalAbsolutePathForm(u"c:/a.png"));
  // A mixed pair of separators passes here; the drive-type step refuses it.
  EXPECT_NO_THROW(requireLocalAbsolutePathForm(u"\\/server/share/a.png"));
}

TEST(PathRules, RootIsTheRootNameWithTheSeparatorsAfterIt) {
  struct Case {
    std::u16string path;
    std::u16string root;
  };
  const Case cases[] = {
      {u"D:\\photos\\a.png", u"D:\\"},
      {u"d:/photos/a.png", u"d:/"},
      {u"C:\\\\\\a.png", u"C:\\\\\\"},
      {u"C:\\", u"C:\\"},
      {u"C:a.png", u"C:"},
      {u"\\\\server\\share\\a.png", u"\\\\server\\"},
      {u"\\/server/share/a.png", u"\\/server/"},
      {u"\\\\?\\C:\\a.png", u"\\\\?\\"},
      {u"\\??\\C:\\a.png", u"\\??\\"},
      {u"sample.png", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pathRoot(c.path), c.root) << std::string(c.path.begin(), c.path.end());
  }
}

}  // namespace
}  // namespace tessary

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
  EXPECT_EQ(declared(pngWithHeader(0, 5), ImageFormat::Png), "none");  // left to the decoder
  auto cut = pngWithHeader(16, 12);
  cut.resize(23);
  EXPECT_EQ(declared(cut, ImageFormat::Png), "none");
  auto otherChunk = pngWithHeader(16, 12);
  otherChunk[12] = 'i';
  EXPECT_EQ(declared(otherChunk, ImageFormat::Png), "none");
  EXPECT_EQ(declared(bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}), ImageFormat::Png), "none");
}

TEST(DeclaredSize, JpegFrameHeaderAfterOtherSegments) {
  const auto jpeg = testimages::encodeBaselineJpeg(testimages::gradientImage(), 90);
  EXPECT_EQ(declared(jpeg, ImageFormat::Jpeg), "16x12");
  // Progressive frame header behind an application segment and fill bytes.
  const auto progressive = bytes({0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x04, 0xAA, 0xBB, 0xFF, 0xFF,
                                  0xC2, 0x00, 0x11, 0x08, 0x4E, 0x21, 0x00, 0x01});
  EXPECT_EQ(declared(progressive, ImageFormat::Jpeg), "1x20001");
  // DHT (C4) is no frame header; a scan before any frame header ends the search.
  EXPECT_EQ(declared(bytes({0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x02, 0xFF, 0xDA, 0x00, 0x02}),
                     ImageFormat::Jpeg),
            "none");
  // A height of zero is defined later in the data: left to the decoder.
  EXPECT_EQ(declared(bytes({0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x00, 0x00, 0x10}),
                     ImageFormat::Jpeg),
            "none");
  // Cut short inside the frame header, a bad segment length, a missing marker.
  EXPECT_EQ(declared(bytes({0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00}), ImageFormat::Jpeg), "none");
  EXPECT_EQ(declared(bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xC0}), ImageFormat::Jpeg), "none");
  EXPECT_EQ(declared(bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0x12, 0x34}), ImageFormat::Jpeg), "none");
  EXPECT_EQ(declared(bytes({0xFF, 0xD8, 0xFF}), ImageFormat::Jpeg), "none");
  // A segment length running past the end is not followed.
  EXPECT_EQ(declared(bytes({0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xF0, 0x00}), ImageFormat::Jpeg), "none");
}

TEST(DeclaredSize, OnlyPngAndJpegHeadersAreRead) {
  const auto bmp = testimages::encodeBmp24(testimages::gradientImage());
  EXPECT_EQ(declared(bmp, ImageFormat::Bmp), "none");
  EXPECT_EQ(declared(testimages::encodeTiffRgb({testimages::gradientImage()}), ImageFormat::Tiff), "none");
}

TEST(DeclaredSize, OversizedHeadersAreRefusedBeforeDecoding) {
  const auto check = [](const std::vector<std::uint8_t>& data, ImageFormat format) {
    try {
      requireDeclaredSizeWithinLimits(data.data(), data.size(), format);
      return std::string("accepted");
    } catch (const ImageError& error) {
      return std::string(error.what());
    }
  };
  EXPECT_EQ(check(pngWithHeader(20'000, 7'500), ImageFormat::Png), "accepted");
  EXPECT_EQ(check(pngWithHeader(20'000, 7'501), ImageFormat::Png), "Pixel limit");
  EXPECT_EQ(check(pngWithHeader(12'248, 12'248), ImageFormat::Png), "Pixel limit");
  EXPECT_EQ(check(pngWithHeader(0, 0), ImageFormat::Png), "accepted");
  EXPECT_EQ(check(bytes("not a header"), ImageFormat::Png), "accepted");
  auto jpeg = testimages::encodeBaselineJpeg(testimages::gradientImage(), 90);
  EXPECT_EQ(check(jpeg, ImageFormat::Jpeg), "accepted");
  for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 7] = 0x4E;  // width 20,001 (0x4E21)
      jpeg[i + 8] = 0x21;
      break;
    }
  }
  EXPECT_EQ(check(jpeg, ImageFormat::Jpeg), "Pixel limit");
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

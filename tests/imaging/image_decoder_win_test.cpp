// Decoding real image bytes through the Windows Imaging Component: the self-test
// images, PNG layouts, TIFF pages and byte orders, refused formats and damaged data,
// the drawing bitmap over the pixel memory, and the source-size gate.
#include <gtest/gtest.h>

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "../tools/test_images/test_image_bytes.h"
#include "imaging/com_support_win.h"
#include "imaging/image_decoder_win.h"
#include "imaging/sha256_win.h"
#include "imaging_test_support_win.h"
#include "magick_fixtures.h"
#include "png_writer.h"
#include "tiff_writer.h"

namespace tessary {
namespace {

using testimages::RgbImage;
using imagetest::Bgra;
using imagetest::bytesOf;
using imagetest::imageErrorOf;
using imagetest::pixelAt;

std::shared_ptr<Pixels> decode(const std::vector<std::uint8_t>& bytes) {
  return decodeImage(bytes.data(), bytes.size());
}

std::string decodeError(const std::vector<std::uint8_t>& bytes) {
  return imageErrorOf([&] { decode(bytes); });
}

// Every pixel equals the gradient exactly, alpha 255.
void expectExactGradient(const Pixels& pixels) {
  ASSERT_EQ(pixels.width, 16u);
  ASSERT_EQ(pixels.height, 12u);
  ASSERT_EQ(pixels.bgra.size(), 768u);
  for (std::uint32_t y = 0; y < 12; ++y) {
    for (std::uint32_t x = 0; x < 16; ++x) {
      const Bgra p = pixelAt(pixels, x, y);
      ASSERT_EQ(p.b, 180) << x << "," << y;
      ASSERT_EQ(p.g, static_cast<int>(17 * y)) << x << "," << y;
      ASSERT_EQ(p.r, static_cast<int>(13 * x)) << x << "," << y;
      ASSERT_EQ(p.a, 255) << x << "," << y;
    }
  }
}

void expectRecordInvariants(const std::vector<std::uint8_t>& source, const Pixels& pixels) {
  EXPECT_EQ(pixels.bgra.size(), std::size_t{pixels.width} * pixels.height * 4);
  EXPECT_EQ(pixels.sha256, sha256Hex(source.data(), source.size()));
  ASSERT_NE(drawingBitmap(pixels.bitmap), nullptr);
  EXPECT_EQ(drawingBitmap(pixels.bitmap)->GetWidth(), pixels.width);
  EXPECT_EQ(drawingBitmap(pixels.bitmap)->GetHeight(), pixels.height);
}

TEST(DecodeImage, SelfTestImagesDecodeToTheGradient) {
  const RgbImage gradient = testimages::gradientImage(16, 12);
  const auto bmp = testimages::encodeBmp24(gradient);
  const auto tiff = testimages::encodeTiffRgb({gradient}, false);
  const auto jpeg = testimages::encodeBaselineJpeg(gradient, 90);

  const auto fromBmp = decode(bmp);
  expectExactGradient(*fromBmp);
  expectRecordInvariants(bmp, *fromBmp);

  const auto fromTiff = decode(tiff);
  expectExactGradient(*fromTiff);
  expectRecordInvariants(tiff, *fromTiff);

  const auto fromJpeg = decode(jpeg);
  ASSERT_EQ(fromJpeg->width, 16u);
  ASSERT_EQ(fromJpeg->height, 12u);
  ASSERT_EQ(fromJpeg->bgra.size(), 768u);
  expectRecordInvariants(jpeg, *fromJpeg);
  // The self-test reads bytes 348 to 351: pixel 87, column 7, row 5.
  const std::uint8_t* p = &fromJpeg->bgra[348];
  EXPECT_LT(std::abs(p[0] - 180), 12);
  EXPECT_LT(std::abs(p[1] - 85), 12);
  EXPECT_LT(std::abs(p[2] - 91), 12);
  EXPECT_EQ(p[3], 255);
  // The whole lossy image stays close to the gradient.
  for (std::uint32_t y = 0; y < 12; ++y) {
    for (std::uint32_t x = 0; x < 16; ++x) {
      const Bgra q = pixelAt(*fromJpeg, x, y);
      EXPECT_LE(std::abs(q.b - 180), 11) << x << "," << y;
      EXPECT_LE(std::abs(q.g - static_cast<int>(17 * y)), 11) << x << "," << y;
      EXPECT_LE(std::abs(q.r - static_cast<int>(13 * x)), 11) << x << "," << y;
      EXPECT_EQ(q.a, 255);
    }
  }
}

TEST(DecodeImage, PngWrittenByAnotherEncoderDecodesExactly) {
  const auto pixels = decode(imagetest::kMagickGradientPng);
  expectExactGradient(*pixels);
  expectRecordInvariants(imagetest::kMagickGradientPng, *pixels);
}

TEST(DecodeImage, BigEndianTiffDecodesExactly) {
  const auto tiff = testimages::encodeTiffRgb({testimages::gradientImage()}, true);
  ASSERT_EQ(tiff[0], 'M');
  expectExactGradient(*decode(tiff));
}

// Every pixel (x, y) is red 13x, green 17y, blue 180 (bytes wrap), alpha 255.
void expectGradientOf(const Pixels& pixels, std::uint32_t width, std::uint32_t height) {
  ASSERT_EQ(pixels.width, width);
  ASSERT_EQ(pixels.height, height);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const Bgra p = pixelAt(pixels, x, y);
      ASSERT_EQ(p.r, static_cast<std::uint8_t>(13 * x)) << x << "," << y;
      ASSERT_EQ(p.g, static_cast<std::uint8_t>(17 * y)) << x << "," << y;
      ASSERT_EQ(p.b, 180) << x << "," << y;
      ASSERT_EQ(p.a, 255) << x << "," << y;
    }
  }
}

// What the walk of the first directory lets through, the decoder decodes: strips and
// tiles (edge tiles reaching past the image included), in both byte orders.
TEST(DecodeImage, TiledAndStripedTiffsDecode) {
  for (bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "MM" : "II");
    expectGradientOf(*decode(imagetest::rgbTiff(40, 33, 16, 16, bigEndian).bytes()), 40, 33);
    expectGradientOf(*decode(imagetest::rgbTiff(20, 12, 32, 16, bigEndian).bytes()), 20, 12);
    expectGradientOf(*decode(imagetest::rgbTiff(40, 33, 0, 5, bigEndian).bytes()), 40, 33);
    expectGradientOf(*decode(imagetest::rgbTiff(40, 33, 0, 1000, bigEndian).bytes()), 40, 33);
  }
}

// The decoder reads an uncompressed BMP's pixels where its file header says, even when
// that is inside the information header: pixels at 130 under a 124-byte header (which
// ends at 138) are read, the first eight pixel bytes doubling as the header's last
// eight (its colour profile fields, unused here).
TEST(DecodeImage, BmpWhosePixelsBeginInsideItsHeaderDecodes) {
  const auto plain = testimages::encodeBmp24(testimages::gradientImage());
  const std::vector<std::uint8_t> pixelBytes(plain.begin() + 54, plain.end());
  std::vector<std::uint8_t> bmp(130, 0);
  const auto put = [&](std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bmp[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put(2, 130 + static_cast<std::uint32_t>(pixelBytes.size()), 4);
  put(10, 130, 4);   // pixel offset
  put(14, 124, 4);   // BITMAPV5HEADER
  put(18, 16, 4);
  put(22, 12, 4);
  put(26, 1, 2);
  put(28, 24, 2);    // bits per pixel, no compression
  bmp.insert(bmp.end(), pixelBytes.begin(), pixelBytes.end());
  ASSERT_EQ(bmp.size(), 706u);
  const auto pixels = decode(bmp);
  expectExactGradient(*pixels);
  expectRecordInvariants(bmp, *pixels);
}

TEST(DecodeImage, MultiPageTiffGivesItsFirstPage) {
  RgbImage second{16, 12, std::vector<std::uint8_t>(16 * 12 * 3, 0)};
  for (std::size_t i = 0; i < second.rgb.size(); i += 3) second.rgb[i] = 255;  // red
  RgbImage third{5, 7, std::vector<std::uint8_t>(5 * 7 * 3, 40)};
  const auto tiff = testimages::encodeTiffRgb({testimages::gradientImage(), second, third});
  expectExactGradient(*decode(tiff));
  // The same pages in another order: the first is still the one shown.
  const auto pixels = decode(testimages::encodeTiffRgb({third, testimages::gradientImage()}));
  EXPECT_EQ(pixels->width, 5u);
  EXPECT_EQ(pixels->height, 7u);
  const Bgra p = pixelAt(*pixels, 4, 6);
  EXPECT_EQ(p.r, 40);
  EXPECT_EQ(p.g, 40);
  EXPECT_EQ(p.b, 40);
  EXPECT_EQ(p.a, 255);
}

TEST(DecodeImage, SemiTransparentPngKeepsStraightAlpha) {
  imagetest::PngSpec spec;
  spec.width = 4;
  spec.height = 1;
  spec.colorType = 6;
  spec.rows = {200, 100, 50, 128,   // half transparent
               255, 255, 255, 1,    // almost transparent white
               10, 20, 30, 0,       // transparent, colour kept
               90, 60, 30, 255};
  const auto pixels = decode(imagetest::encodePng(spec));
  ASSERT_EQ(pixels->width, 4u);
  const Bgra expected[] = {{50, 100, 200, 128}, {255, 255, 255, 1}, {30, 20, 10, 0}, {30, 60, 90, 255}};
  for (std::uint32_t x = 0; x < 4; ++x) {
    const Bgra p = pixelAt(*pixels, x, 0);
    EXPECT_EQ(p.b, expected[x].b) << x;
    EXPECT_EQ(p.g, expected[x].g) << x;
    EXPECT_EQ(p.r, expected[x].r) << x;
    EXPECT_EQ(p.a, expected[x].a) << x;
  }
}

TEST(DecodeImage, PngLayoutsConvertToEightBitBgra) {
  struct Case {
    const char* name;
    imagetest::PngSpec spec;
    std::vector<Bgra> expected;  // pixels of the single row
  };
  std::vector<Case> cases;
  {
    imagetest::PngSpec s{3, 1, 8, 3, {0, 1, 2}, {255, 0, 0, 0, 128, 0, 10, 20, 30}, {255, 255, 64}};
    cases.push_back({"palette with transparency", s, {{0, 0, 255, 255}, {0, 128, 0, 255}, {30, 20, 10, 64}}});
  }
  {
    // Four-bit palette indices 2, 0, 1 packed high nibble first.
    imagetest::PngSpec s{3, 1, 4, 3, {0x20, 0x10}, {1, 2, 3, 40, 50, 60, 200, 100, 0}, {}};
    cases.push_back({"4-bit palette", s, {{0, 100, 200, 255}, {3, 2, 1, 255}, {60, 50, 40, 255}}});
  }
  {
    imagetest::PngSpec s{3, 1, 8, 0, {0, 77, 255}, {}, {}};
    cases.push_back({"8-bit grey", s, {{0, 0, 0, 255}, {77, 77, 77, 255}, {255, 255, 255, 255}}});
  }
  {
    // 16-bit samples whose two bytes are equal, so any rounding gives the same 8 bits.
    imagetest::PngSpec s{2, 1, 16, 0, {0x33, 0x33, 0xCC, 0xCC}, {}, {}};
    cases.push_back({"16-bit grey", s, {{0x33, 0x33, 0x33, 255}, {0xCC, 0xCC, 0xCC, 255}}});
  }
  {
    imagetest::PngSpec s{2, 1, 16, 2, {0x11, 0x11, 0x80, 0x80, 0xFE, 0xFE, 0, 0, 0xFF, 0xFF, 0x44, 0x44}, {}, {}};
    cases.push_back({"16-bit RGB", s, {{0xFE, 0x80, 0x11, 255}, {0x44, 0xFF, 0x00, 255}}});
  }
  {
    imagetest::PngSpec s{1, 1, 16, 6, {0x10, 0x10, 0x20, 0x20, 0x30, 0x30, 0x80, 0x80}, {}, {}};
    cases.push_back({"16-bit RGBA", s, {{0x30, 0x20, 0x10, 0x80}}});
  }
  {
    imagetest::PngSpec s{2, 1, 8, 4, {90, 255, 200, 7}, {}, {}};
    cases.push_back({"grey with alpha", s, {{90, 90, 90, 255}, {200, 200, 200, 7}}});
  }
  {
    imagetest::PngSpec s{8, 1, 1, 0, {0xA5}, {}, {}};
    cases.push_back({"1-bit grey", s,
                     {{255, 255, 255, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255},
                      {0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto pixels = decode(imagetest::encodePng(c.spec));
    ASSERT_EQ(pixels->width, c.expected.size());
    ASSERT_EQ(pixels->height, 1u);
    ASSERT_EQ(pixels->bgra.size(), c.expected.size() * 4);
    for (std::uint32_t x = 0; x < c.expected.size(); ++x) {
      const Bgra p = pixelAt(*pixels, x, 0);
      EXPECT_EQ(p.b, c.expected[x].b) << x;
      EXPECT_EQ(p.g, c.expected[x].g) << x;
      EXPECT_EQ(p.r, c.expected[x].r) << x;
      EXPECT_EQ(p.a, c.expected[x].a) << x;
    }
  }
}

TEST(DecodeImage, OddWidthsHaveNoRowGaps) {
  // Seven pixels of three bytes need row padding in a BMP; the result has none.
  RgbImage image{7, 3, {}};
  for (std::uint32_t i = 0; i < 7 * 3; ++i) {
    image.rgb.insert(image.rgb.end(), {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(2 * i),
                                       static_cast<std::uint8_t>(3 * i)});
  }
  for (const auto& bytes : {testimages::encodeBmp24(image), testimages::encodeTiffRgb({image})}) {
    const auto pixels = decode(bytes);
    ASSERT_EQ(pixels->bgra.size(), 7u * 3u * 4u);
    for (std::uint32_t i = 0; i < 21; ++i) {
      EXPECT_EQ(pixels->bgra[i * 4 + 0], static_cast<std::uint8_t>(3 * i));
      EXPECT_EQ(pixels->bgra[i * 4 + 1], static_cast<std::uint8_t>(2 * i));
      EXPECT_EQ(pixels->bgra[i * 4 + 2], static_cast<std::uint8_t>(i));
      EXPECT_EQ(pixels->bgra[i * 4 + 3], 255);
    }
  }
}

TEST(DecodeImage, UnknownFormatsAreRefusedByTheirLeadingBytes) {
  std::vector<std::uint8_t> largeGif = imagetest::kMagickRedGif;
  largeGif.resize(3 * 1024 * 1024, 0);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  const std::vector<Case> cases = {
      {"GIF", imagetest::kMagickRedGif},
      {"large GIF", largeGif},
      {"WebP", imagetest::kMagickRedWebp},
      {"text", bytesOf("not an image")},
      {"ICO", {0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x10, 0x10}},
      {"one byte", {0x42}},
      {"three TIFF bytes", {0x49, 0x49, 0x2A}},
      {"I without a TIFF header", bytesOf("II*\x01 and more")},
      {"I then anything", bytesOf("Image")},
      {"M without a TIFF header", bytesOf("MM\x2A\x00 and more")},
      {"JPEG XR", {0x49, 0x49, 0xBC, 0x01, 0x08, 0x00}},
      {"two JPEG bytes", {0xFF, 0xD8}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decodeError(c.bytes), "Unsupported image format") << c.name;
  }
}

TEST(DecodeImage, DamagedDataFailsInTheChosenDecoder) {
  const auto gradientPng = imagetest::kMagickGradientPng;
  std::vector<std::uint8_t> truncatedPng(gradientPng.begin(), gradientPng.begin() + 40);
  std::vector<std::uint8_t> pngBehindJpegBytes = {0xFF, 0xD8, 0xFF};
  pngBehindJpegBytes.insert(pngBehindJpegBytes.end(), gradientPng.begin(), gradientPng.end());
  std::vector<std::uint8_t> pngBehindBmpBytes = {'B', 'M'};
  pngBehindBmpBytes.insert(pngBehindBmpBytes.end(), gradientPng.begin(), gradientPng.end());
  const auto tiff = testimages::encodeTiffRgb({testimages::gradientImage()});
  const std::vector<std::uint8_t> tiffHeaderOnly(tiff.begin(), tiff.begin() + 8);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  const std::vector<Case> cases = {
      {"truncated PNG", truncatedPng},
      {"PNG bytes after BMP leading bytes", pngBehindBmpBytes},
      {"BM alone", {'B', 'M'}},
      {"TIFF header alone", tiffHeaderOnly},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decodeError(c.bytes), "Image operation failed") << c.name;
  }
  // PNG and JPEG data whose size cannot be found never reaches its decoder; it fails
  // with the text the decoder's own failure would carry.
  const std::vector<Case> unreadable = {
      {"PNG signature alone", imagetest::pngSignature()},
      {"PNG bytes after JPEG leading bytes", pngBehindJpegBytes},
      {"JPEG leading bytes alone", {0xFF, 0xD8, 0xFF}},
  };
  for (const Case& c : unreadable) {
    EXPECT_EQ(decodeError(c.bytes), "Image operation failed") << c.name;
  }
}

TEST(DecodeImage, SourceSizeGate) {
  const std::uint8_t byte = 0x42;
  EXPECT_EQ(imageErrorOf([&] { decodeImage(&byte, 0); }), "File size limit");
  std::vector<std::uint8_t> tooLarge(209'715'201, 0);
  tooLarge[0] = 'B';
  tooLarge[1] = 'M';
  EXPECT_EQ(decodeError(tooLarge), "File size limit");
}

TEST(DecodeImage, DrawingBitmapWrapsThePixelMemory) {
  const auto pixels = decode(testimages::encodeBmp24(testimages::gradientImage()));
  Gdiplus::Bitmap* bitmap = drawingBitmap(pixels->bitmap);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap->GetPixelFormat(), PixelFormat32bppARGB);
  Gdiplus::Color color;
  ASSERT_EQ(bitmap->GetPixel(7, 5, &color), Gdiplus::Ok);
  EXPECT_EQ(color.GetBlue(), 180);
  EXPECT_EQ(color.GetGreen(), 85);
  EXPECT_EQ(color.GetRed(), 91);
  EXPECT_EQ(color.GetAlpha(), 255);
  // A change to the bytes shows through the bitmap: it holds no copy of its own.
  std::uint8_t* p = &pixels->bgra[(5 * 16 + 7) * 4];
  p[0] = 1;
  p[1] = 2;
  p[2] = 3;
  p[3] = 200;
  ASSERT_EQ(bitmap->GetPixel(7, 5, &color), Gdiplus::Ok);
  EXPECT_EQ(color.GetBlue(), 1);
  EXPECT_EQ(color.GetGreen(), 2);
  EXPECT_EQ(color.GetRed(), 3);
  EXPECT_EQ(color.GetAlpha(), 200);
}

TEST(DecodeImage, WorksOnAMultithreadedWorkerThread) {
  const auto jpeg = testimages::encodeBaselineJpeg(testimages::gradientImage(), 90);
  std::shared_ptr<const Pixels> result;
  std::string error = "not run";
  std::thread worker([&] {
    ScopedCoInitialize com(COINIT_MULTITHREADED);
    error = imageErrorOf([&] { result = decode(jpeg); });
  });
  worker.join();
  EXPECT_EQ(error, "no error");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->width, 16u);
  EXPECT_EQ(result->sha256, sha256Hex(jpeg.data(), jpeg.size()));
}

TEST(DecodeImage, SameBytesGiveTheSameHashAndOneChangedByteAnother) {
  const auto bmp = testimages::encodeBmp24(testimages::gradientImage());
  auto changed = bmp;
  changed.back() ^= 0x01;  // one pixel byte
  const auto a = decode(bmp);
  const auto b = decode(bmp);
  const auto c = decode(changed);
  EXPECT_EQ(a->sha256, b->sha256);
  EXPECT_NE(a->sha256, c->sha256);
  EXPECT_EQ(a->sha256.size(), 64u);
}

TEST(DecodeImage, ConversionInBandsPutsEveryRowInItsPlace) {
  // Wide images are converted in several bands of rows; the last band is shorter.
  // Every pixel tells its own row and column, so a band written at the wrong
  // offset, a row left out or a row written twice shows.
  struct Case {
    std::uint32_t width;
    std::uint8_t colorType;  // 2 RGB, 6 RGBA
  };
  for (const Case c : {Case{20000, 2}, Case{9001, 6}}) {
    SCOPED_TRACE(std::to_string(c.width) + " wide, colour type " + std::to_string(c.colorType));
    const std::uint32_t bandRows = conversionBandRows(c.width);
    ASSERT_GE(bandRows, 1u);
    ASSERT_LE(std::size_t{bandRows} * c.width * 4, kConversionBandBytes);
    const std::uint32_t height = 2 * bandRows + bandRows / 3 + 1;
    const std::uint32_t channels = c.colorType == 6 ? 4 : 3;
    imagetest::PngSpec spec;
    spec.width = c.width;
    spec.height = height;
    spec.colorType = c.colorType;
    spec.rows.reserve(std::size_t{c.width} * height * channels);
    auto expected = [&](std::uint32_t x, std::uint32_t y) {
      return Bgra{static_cast<int>((x >> 8) ^ (y * 7)) & 0xFF, static_cast<int>(x & 0xFF),
                  static_cast<int>(y & 0xFF), c.colorType == 6 ? static_cast<int>((x + 3 * y) & 0xFF) : 255};
    };
    for (std::uint32_t y = 0; y < height; ++y) {
      for (std::uint32_t x = 0; x < c.width; ++x) {
        const Bgra p = expected(x, y);
        spec.rows.insert(spec.rows.end(), {static_cast<std::uint8_t>(p.r), static_cast<std::uint8_t>(p.g),
                                           static_cast<std::uint8_t>(p.b)});
        if (channels == 4) spec.rows.push_back(static_cast<std::uint8_t>(p.a));
      }
    }
    const auto png = imagetest::encodePng(spec);
    const auto pixels = decode(png);
    ASSERT_EQ(pixels->width, c.width);
    ASSERT_EQ(pixels->height, height);
    ASSERT_EQ(pixels->bgra.size(), std::size_t{c.width} * height * 4);
    std::size_t wrong = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
      for (std::uint32_t x = 0; x < c.width; ++x) {
        const Bgra want = expected(x, y);
        const Bgra got = pixelAt(*pixels, x, y);
        if (got.b != want.b || got.g != want.g || got.r != want.r || got.a != want.a) {
          if (++wrong <= 3) ADD_FAILURE() << "pixel " << x << "," << y;
        }
      }
    }
    EXPECT_EQ(wrong, 0u);
    expectRecordInvariants(png, *pixels);
  }
}

}  // namespace
}  // namespace tessary

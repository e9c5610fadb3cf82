// The program's PNG writer against libpng, a reader independent of it: random
// images of every kind the writer is given (RGB and BGRA rows, any stride) under
// random settings (filter, deflate strategy and level, segment count, restart
// marker, text, threads) decode to exactly the pixels written, every chunk's CRC
// checks, the image data is one IDAT chunk a segment, and the bytes do not depend on
// the number of threads. Runs natively under AddressSanitizer and
// UndefinedBehaviorSanitizer, so a write outside the writer's buffers fails too.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "imaging/libpng_reference.h"
#include "imaging/segmented_png_writer.h"

namespace tessary {
namespace {

std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

struct Chunks {
  std::vector<std::string> types;
  std::vector<std::vector<std::uint8_t>> data;
};

// The chunks in order; a chunk whose CRC does not check or that overruns the file
// fails the test.
Chunks chunksOf(const PngBytes& png) {
  Chunks chunks;
  const std::uint8_t* p = png.data();
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    const std::uint32_t length = be32(p + at);
    if (at + 12 + length > png.size()) {
      ADD_FAILURE() << "chunk overruns the file";
      break;
    }
    const auto crc = static_cast<std::uint32_t>(crc32(0L, p + at + 4, length + 4));
    EXPECT_EQ(crc, be32(p + at + 8 + length)) << "CRC of chunk " << chunks.types.size();
    chunks.types.emplace_back(reinterpret_cast<const char*>(p + at + 4), 4);
    chunks.data.emplace_back(p + at + 8, p + at + 8 + length);
    at += 12 + length;
  }
  EXPECT_EQ(at, png.size());
  return chunks;
}

enum class Content { Noise, Flat, Gradient, Runs, Mixed };

TEST(SegmentedPngWriter, RandomImagesAndSettingsRoundTripThroughLibpng) {
  std::mt19937 random(20261211u);
  auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 400; ++round) {
    PngWriterSettings s;
    s.width = 1 + pick(round % 10 == 0 ? 900 : 90);
    s.height = 1 + pick(round % 7 == 0 ? 300 : 70);
    s.pixels = pick(2) ? PngSourcePixels::Bgra8 : PngSourcePixels::Rgb8;
    s.filter = static_cast<PngFilter>(pick(6));
    s.strategy = static_cast<PngDeflateStrategy>(pick(4));
    s.level = 1 + pick(9);
    s.memoryLevel = 8 + pick(2);
    s.segments = 1 + pick(pick(4) == 0 ? 400 : 70);
    s.restartMarker = pick(2) != 0;
    s.threads = 1 + pick(4);
    if (pick(4) == 0) s.text = {{"Title", std::string(pick(40), 'x')}, {"Software", "test"}};
    const auto content = static_cast<Content>(pick(5));
    const std::size_t bpp = s.pixels == PngSourcePixels::Bgra8 ? 4 : 3;
    const std::size_t rowBytes = s.width * bpp;
    const std::size_t stride = rowBytes + pick(3) * bpp;  // rows of a wider image
    SCOPED_TRACE("round " + std::to_string(round) + ": " + std::to_string(s.width) + " x " +
                 std::to_string(s.height) + ", bpp " + std::to_string(bpp) + ", filter " +
                 std::to_string(static_cast<int>(s.filter)) + ", strategy " +
                 std::to_string(static_cast<int>(s.strategy)) + ", level " + std::to_string(s.level) +
                 ", segments " + std::to_string(s.segments) + ", content " + std::to_string(static_cast<int>(content)));

    std::vector<std::uint8_t> pixels(stride * s.height);
    for (std::size_t y = 0; y < s.height; ++y) {
      for (std::size_t i = 0; i < stride; ++i) {
        std::uint8_t v = 0;
        switch (content) {
          case Content::Noise: v = static_cast<std::uint8_t>(random()); break;
          case Content::Flat: v = 77; break;
          case Content::Gradient: v = static_cast<std::uint8_t>(i + 3 * y); break;
          case Content::Runs: v = static_cast<std::uint8_t>((i / 17 + y / 5) * 40); break;
          case Content::Mixed: v = (y / 3) % 2 ? static_cast<std::uint8_t>(random()) : static_cast<std::uint8_t>(i * y); break;
        }
        pixels[y * stride + i] = v;
      }
    }
    std::size_t calls = 0;
    const PngSegmentRows rows = [&](std::uint32_t y0, std::uint32_t y1, std::vector<std::uint8_t>& storage,
                                    std::size_t& rowStride) -> const std::uint8_t* {
      EXPECT_LT(y0, y1);
      EXPECT_LE(y1, s.height);
      ++calls;
      // Every other segment rendered into the worker's storage, the others read in place.
      if (y0 % 2) {
        storage.assign(pixels.begin() + y0 * stride, pixels.begin() + y1 * stride);
        rowStride = stride;
        return storage.data();
      }
      rowStride = stride;
      return pixels.data() + y0 * stride;
    };
    const PngBytes png = encodeSegmentedPng(s, rows);
    const std::uint32_t segments = pngSegmentCount(s.height, s.segments);
    EXPECT_EQ(calls, segments);

    const auto decoded = imagetest::libpngBgra(png.data(), png.size());
    ASSERT_TRUE(decoded.has_value()) << "libpng refused the file";
    ASSERT_EQ(decoded->width, s.width);
    ASSERT_EQ(decoded->height, s.height);
    std::size_t differing = 0;
    for (std::size_t y = 0; y < s.height; ++y) {
      for (std::size_t x = 0; x < s.width; ++x) {
        const std::uint8_t* in = &pixels[y * stride + x * bpp];
        const std::uint8_t* out = &decoded->bgra[(y * s.width + x) * 4];
        const bool same = bpp == 4 ? (out[0] == in[0] && out[1] == in[1] && out[2] == in[2] && out[3] == in[3])
                                   : (out[0] == in[2] && out[1] == in[1] && out[2] == in[0] && out[3] == 255);
        differing += !same;
      }
    }
    EXPECT_EQ(differing, 0u) << "pixels that differ";

    const Chunks chunks = chunksOf(png);
    ASSERT_GE(chunks.types.size(), 3u);
    EXPECT_EQ(chunks.types.front(), "IHDR");
    EXPECT_EQ(chunks.types.back(), "IEND");
    EXPECT_EQ(chunks.data.front()[9], bpp == 4 ? 6 : 2);
    std::size_t idat = 0;
    std::size_t marks = 0;
    std::size_t texts = 0;
    for (std::size_t i = 0; i < chunks.types.size(); ++i) {
      if (chunks.types[i] == "IDAT") {
        ++idat;
      } else if (chunks.types[i] == "mARK") {
        ++marks;
        EXPECT_EQ(idat, 0u) << "mARK after image data";
        ASSERT_EQ(chunks.data[i].size(), 6u);
        EXPECT_EQ(chunks.data[i][0], 0);
        EXPECT_EQ(chunks.data[i][1], 1);
        EXPECT_EQ(be32(&chunks.data[i][2]), segments);
      } else if (chunks.types[i] == "tEXt") {
        ++texts;
      }
    }
    EXPECT_EQ(idat, segments);
    EXPECT_EQ(marks, s.restartMarker && s.height >= 2 ? 1u : 0u);
    EXPECT_EQ(texts, s.text.size());
    EXPECT_EQ(chunks.types.size(), 2 + idat + marks + texts);

    PngWriterSettings single = s;
    single.threads = 1;
    const PngBytes again = encodeSegmentedPng(single, rows);
    EXPECT_TRUE(again.view() == png.view()) << "bytes depend on the thread count";
    if (HasFailure()) break;
  }
}

TEST(SegmentedPngWriter, SegmentsOfRandomBytesFitTheRoomTheyAreGiven) {
  // Segments of random bytes, which deflate cannot shrink, the case that takes the
  // most room, under every strategy and both block sizes. Segments of over a
  // megabyte: with 32 Ki symbols a block, now and then a block has left the window
  // when it ends and cannot fall back to being stored.
  const std::uint32_t width = 1000;
  const std::uint32_t height = 600;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
  std::mt19937 random(7);
  for (std::uint8_t& v : pixels) v = static_cast<std::uint8_t>(random());
  const PngSegmentRows rows = [&](std::uint32_t y0, std::uint32_t, std::vector<std::uint8_t>&,
                                  std::size_t& stride) -> const std::uint8_t* {
    stride = static_cast<std::size_t>(width) * 4;
    return pixels.data() + y0 * stride;
  };
  for (const PngDeflateStrategy strategy : {PngDeflateStrategy::Default, PngDeflateStrategy::Filtered,
                                            PngDeflateStrategy::RunLength, PngDeflateStrategy::HuffmanOnly}) {
    for (const int memoryLevel : {8, 9}) {
      for (const PngFilter filter : {PngFilter::None, PngFilter::Up}) {
        SCOPED_TRACE("strategy " + std::to_string(static_cast<int>(strategy)) + ", memLevel " +
                     std::to_string(memoryLevel) + ", filter " + std::to_string(static_cast<int>(filter)));
        PngWriterSettings s;
        s.width = width;
        s.height = height;
        s.pixels = PngSourcePixels::Bgra8;
        s.filter = filter;
        s.strategy = strategy;
        s.level = 1;
        s.memoryLevel = memoryLevel;
        s.segments = 2;
        s.threads = 2;
        const PngBytes png = encodeSegmentedPng(s, rows);
        const auto decoded = imagetest::libpngBgra(png.data(), png.size());
        ASSERT_TRUE(decoded.has_value());
        EXPECT_TRUE(decoded->bgra == pixels);
      }
    }
  }
}

TEST(SegmentedPngWriter, RefusesEmptyImagesAndSettingsOutOfRange) {
  const std::vector<std::uint8_t> pixels(64, 1);
  const PngSegmentRows rows = [&](std::uint32_t, std::uint32_t, std::vector<std::uint8_t>&,
                                  std::size_t& stride) -> const std::uint8_t* {
    stride = 12;
    return pixels.data();
  };
  struct Case {
    const char* name;
    std::uint32_t width, height, segments;
    int level, memoryLevel;
  };
  const Case cases[] = {{"no width", 0, 4, 1, 6, 9},   {"no height", 4, 0, 1, 6, 9}, {"no segments", 4, 4, 0, 6, 9},
                        {"level 0", 4, 4, 1, 0, 9},    {"level 10", 4, 4, 1, 10, 9}, {"memLevel 7", 4, 4, 1, 6, 7},
                        {"segment of 2 GiB", 0x7FFFFFFF, 3, 1, 6, 9}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PngWriterSettings s;
    s.width = c.width;
    s.height = c.height;
    s.segments = c.segments;
    s.level = c.level;
    s.memoryLevel = c.memoryLevel;
    EXPECT_THROW((void)encodeSegmentedPng(s, rows), std::invalid_argument);
  }
}

TEST(SegmentedPngWriter, AnErrorOfTheRowSourceReachesTheCaller) {
  PngWriterSettings s;
  s.width = 10;
  s.height = 100;
  s.segments = 10;
  s.threads = 3;
  const std::vector<std::uint8_t> pixels(30 * 100, 5);
  const PngSegmentRows rows = [&](std::uint32_t y0, std::uint32_t, std::vector<std::uint8_t>&,
                                  std::size_t& stride) -> const std::uint8_t* {
    if (y0 >= 50) throw std::length_error("row source");
    stride = 30;
    return pixels.data() + y0 * 30;
  };
  EXPECT_THROW((void)encodeSegmentedPng(s, rows), std::length_error);
}

}  // namespace
}  // namespace tessary

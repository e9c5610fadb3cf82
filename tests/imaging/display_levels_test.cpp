// Reduced display copies of an image: their sizes, the box filter (odd edges,
// alpha, rounding), the chain from level to level, and which level a zoom draws.
#include "imaging/display_levels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

namespace tessary {
namespace {

using Bgra = std::array<std::uint8_t, 4>;

Pixels makeImage(std::uint32_t width, std::uint32_t height, const std::function<Bgra(std::uint32_t, std::uint32_t)>& at) {
  Pixels image;
  image.width = width;
  image.height = height;
  image.bgra.resize(static_cast<std::size_t>(width) * height * 4);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const Bgra p = at(x, y);
      for (int c = 0; c < 4; ++c) image.bgra[(static_cast<std::size_t>(y) * width + x) * 4 + c] = p[c];
    }
  }
  image.sha256 = std::string(64, 'a');
  return image;
}

template <typename Bytes>
Bgra pixelOf(const Bytes& bgra, std::uint32_t width, std::uint32_t x, std::uint32_t y) {
  const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 4;
  return {bgra[at], bgra[at + 1], bgra[at + 2], bgra[at + 3]};
}

// Halves a row of 1 to 4 pixels laid out as `width` x `height` and returns the one result pixel.
Bgra halveOne(const std::vector<Bgra>& pixels, std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> in;
  for (const Bgra& p : pixels) in.insert(in.end(), p.begin(), p.end());
  std::vector<std::uint8_t> out(4);
  halvePixels(in.data(), width, height, out.data());
  return {out[0], out[1], out[2], out[3]};
}

struct SizeCase {
  std::uint32_t width, height, minimumWidth, minimumHeight;
  std::vector<LevelSize> expected;
};

TEST(DisplayLevelSizes, EachIsHalfTheLastRoundedUpUntilBothSidesFallBelowTheMinimum) {
  const SizeCase cases[] = {
      {14575, 8441, 64, 64,
       {{7288, 4221}, {3644, 2111}, {1822, 1056}, {911, 528}, {456, 264}, {228, 132}, {114, 66}}},
      // With a canvas-sized minimum the list ends at the last level larger than the canvas.
      {14575, 8441, 1300, 850, {{7288, 4221}, {3644, 2111}, {1822, 1056}}},
      {1000, 600, 64, 64, {{500, 300}, {250, 150}, {125, 75}}},
      {5, 3, 1, 1, {{3, 2}, {2, 1}, {1, 1}}},
      {2, 1, 1, 1, {{1, 1}}},
      {1, 1, 1, 1, {}},
      {1, 1, 0, 0, {}},
      {100, 100, 64, 64, {}},
      // A long strip keeps being reduced along its long side.
      {20000, 3, 64, 64,
       {{10000, 2}, {5000, 1}, {2500, 1}, {1250, 1}, {625, 1}, {313, 1}, {157, 1}, {79, 1}}},
      {3, 20000, 64, 64,
       {{2, 10000}, {1, 5000}, {1, 2500}, {1, 1250}, {1, 625}, {1, 313}, {1, 157}, {1, 79}}},
  };
  for (const SizeCase& c : cases) {
    EXPECT_EQ(displayLevelSizes(c.width, c.height, c.minimumWidth, c.minimumHeight), c.expected)
        << c.width << " x " << c.height << " down to " << c.minimumWidth << " x " << c.minimumHeight;
  }
  EXPECT_EQ(displayLevelSizes(14575, 8441), displayLevelSizes(14575, 8441, 64, 64));
}

TEST(DisplayLevelFilter, AveragesTwoByTwoBlocksAndTheOddLastColumnAndRow) {
  // Blue rises by 10 a column and 40 a row, green falls alike, red is constant:
  // each mean is exact, so every result is known.
  const Pixels image = makeImage(3, 3, [](std::uint32_t x, std::uint32_t y) {
    const auto b = static_cast<std::uint8_t>(10 * x + 40 * y);
    return Bgra{b, static_cast<std::uint8_t>(200 - b), 7, 255};
  });
  std::vector<std::uint8_t> out(2 * 2 * 4);
  halvePixels(image.bgra.data(), 3, 3, out.data());
  EXPECT_EQ(pixelOf(out, 2, 0, 0), (Bgra{25, 175, 7, 255}));   // (0,0) (1,0) (0,1) (1,1)
  EXPECT_EQ(pixelOf(out, 2, 1, 0), (Bgra{40, 160, 7, 255}));   // last column: (2,0) (2,1)
  EXPECT_EQ(pixelOf(out, 2, 0, 1), (Bgra{85, 115, 7, 255}));   // last row: (0,2) (1,2)
  EXPECT_EQ(pixelOf(out, 2, 1, 1), (Bgra{100, 100, 7, 255}));  // corner: (2,2) alone
}

TEST(DisplayLevelFilter, MeansRoundHalfUp) {
  struct Case {
    std::vector<std::uint8_t> values;  // one channel of 2 or 4 opaque pixels
    std::uint8_t expected;
  };
  const Case cases[] = {
      {{0, 1}, 1}, {{0, 0, 0, 1}, 0}, {{0, 0, 1, 1}, 1}, {{0, 0, 0, 2}, 1}, {{255, 255, 255, 254}, 255},
      {{254, 255}, 255}, {{3, 4, 4, 4}, 4}, {{1, 1, 1, 2}, 1},
  };
  for (const Case& c : cases) {
    std::vector<Bgra> pixels;
    for (std::uint8_t v : c.values) pixels.push_back({v, v, v, 255});
    const std::uint32_t width = 2;
    const std::uint32_t height = static_cast<std::uint32_t>(c.values.size() / 2);
    EXPECT_EQ(halveOne(pixels, width, height), (Bgra{c.expected, c.expected, c.expected, 255}))
        << "from " << c.values.size() << " values starting " << int(c.values[0]);
  }
}

TEST(DisplayLevelFilter, TransparentPixelsLendNoColour) {
  // One opaque red pixel among transparent white ones stays red, a quarter covered.
  const Bgra red{0, 0, 255, 255};
  const Bgra clearWhite{255, 255, 255, 0};
  EXPECT_EQ(halveOne({red, clearWhite, clearWhite, clearWhite}, 2, 2), (Bgra{0, 0, 255, 64}));
  EXPECT_EQ(halveOne({clearWhite, red}, 2, 1), (Bgra{0, 0, 255, 128}));
  // Colours are weighted by alpha: blue (200 * 255 + 100 * 128 + 191) / 383 = 167.
  EXPECT_EQ(halveOne({{200, 0, 0, 255}, {100, 0, 0, 128}}, 2, 1), (Bgra{167, 0, 0, 192}));
  // Wholly transparent blocks keep the plain mean of their colours.
  EXPECT_EQ(halveOne({{10, 20, 30, 0}, {20, 40, 60, 0}, {30, 60, 90, 0}, {40, 80, 120, 0}}, 2, 2),
            (Bgra{25, 50, 75, 0}));
  // The odd last column and row weigh alpha the same way.
  std::vector<std::uint8_t> in = {0, 0, 255, 255, 9, 9, 9, 9, 255, 255, 255, 0,  // row 0: red, grey, clear
                                  0, 0, 255, 255, 9, 9, 9, 9, 0, 255, 0, 255};   // row 1: red, grey, green
  std::vector<std::uint8_t> out(2 * 4);
  halvePixels(in.data(), 3, 2, out.data());
  EXPECT_EQ(pixelOf(out, 2, 1, 0), (Bgra{0, 255, 0, 128}));
}

// The filter's definition, pixel by pixel: the mean of the block's pixels, colours
// weighted by alpha (plain when the block is wholly transparent), rounded half up.
Bgra referenceMean(const Pixels& image, std::uint32_t x, std::uint32_t y) {
  std::uint32_t n = 0, alpha = 0, weighted[3] = {0, 0, 0}, plain[3] = {0, 0, 0};
  for (std::uint32_t yy = 2 * y; yy < std::min(2 * y + 2, image.height); ++yy) {
    for (std::uint32_t xx = 2 * x; xx < std::min(2 * x + 2, image.width); ++xx) {
      const Bgra p = pixelOf(image.bgra, image.width, xx, yy);
      ++n;
      alpha += p[3];
      for (int c = 0; c < 3; ++c) {
        weighted[c] += p[c] * p[3];
        plain[c] += p[c];
      }
    }
  }
  Bgra out{};
  for (int c = 0; c < 3; ++c) {
    out[c] = static_cast<std::uint8_t>(alpha == 0 ? (plain[c] + n / 2) / n : (weighted[c] + alpha / 2) / alpha);
  }
  out[3] = static_cast<std::uint8_t>((alpha + n / 2) / n);
  return out;
}

TEST(DisplayLevelFilter, AgreesWithItsDefinitionOnOpaqueAndTranslucentRows) {
  std::uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(state >> 24);
  };
  for (const auto& [width, height] : {std::pair<std::uint32_t, std::uint32_t>{17, 11}, {16, 10}, {1, 9}, {9, 1}}) {
    // Rows 4 and 5 carry some translucent and transparent pixels; the others are opaque.
    const Pixels image = makeImage(width, height, [&](std::uint32_t x, std::uint32_t y) {
      const std::uint8_t alpha = (y == 4 || y == 5) ? (x % 3 == 0 ? 0 : next()) : 255;
      return Bgra{next(), next(), next(), alpha};
    });
    std::vector<std::uint8_t> out(static_cast<std::size_t>((width + 1) / 2) * ((height + 1) / 2) * 4);
    halvePixels(image.bgra.data(), width, height, out.data());
    for (std::uint32_t y = 0; y < (height + 1) / 2; ++y) {
      for (std::uint32_t x = 0; x < (width + 1) / 2; ++x) {
        ASSERT_EQ(pixelOf(out, (width + 1) / 2, x, y), referenceMean(image, x, y))
            << width << "x" << height << " at " << x << "," << y;
      }
    }
  }
}

TEST(DisplayLevels, BuildsEveryLevelFromTheOneBeforeAndLeavesTheOriginalAlone) {
  Pixels image = makeImage(13, 7, [](std::uint32_t x, std::uint32_t y) {
    return Bgra{static_cast<std::uint8_t>(x * 19 + y * 7), static_cast<std::uint8_t>(x * y * 5),
                static_cast<std::uint8_t>(250 - x * 3), static_cast<std::uint8_t>(x == 4 ? 0 : 255 - y * 20)};
  });
  const PixelBytes original = image.bgra;
  buildDisplayLevels(image, 1, 1);
  ASSERT_EQ(image.displayLevels.size(), 4u);  // 7x4, 4x2, 2x1, 1x1
  const std::uint8_t* source = image.bgra.data();
  std::uint32_t width = image.width;
  std::uint32_t height = image.height;
  for (const DisplayLevel& level : image.displayLevels) {
    EXPECT_EQ(level.width, (width + 1) / 2);
    EXPECT_EQ(level.height, (height + 1) / 2);
    ASSERT_EQ(level.bgra.size(), static_cast<std::size_t>(level.width) * level.height * 4);
    PixelBytes expected(level.bgra.size());
    halvePixels(source, width, height, expected.data());
    EXPECT_EQ(level.bgra, expected);
    EXPECT_EQ(level.bitmap, nullptr);
    source = level.bgra.data();
    width = level.width;
    height = level.height;
  }
  EXPECT_EQ(image.bgra, original);
  EXPECT_EQ(image.sha256, std::string(64, 'a'));

  // Building again replaces the levels; a larger minimum gives fewer.
  buildDisplayLevels(image, 4, 4);
  ASSERT_EQ(image.displayLevels.size(), 2u);  // 7x4, 4x2
  EXPECT_EQ(image.displayLevels.back().width, 4u);

  // An image too small for any level gets none.
  Pixels small = makeImage(40, 30, [](std::uint32_t, std::uint32_t) { return Bgra{1, 2, 3, 255}; });
  buildDisplayLevels(small);
  EXPECT_TRUE(small.displayLevels.empty());
}

TEST(DisplayLevelChoice, TakesTheSmallestLevelStillAsLargeAsTheZoomAsks) {
  const std::vector<LevelSize> levels = displayLevelSizes(14575, 8441);
  ASSERT_EQ(levels.size(), 7u);
  struct Case {
    double zoom;
    int expected;
  };
  const Case cases[] = {
      {8.0, -1},
      {1.0, -1},
      {0.75, -1},
      {0.5001, -1},          // 7288.2 columns asked for: more than the first level has
      {0.5, 0},              // 7287.5 x 4220.5 fit into 7288 x 4221
      {0.3, 0},
      {0.25, 1},             // 3643.75 x 2110.25
      {0.1, 2},              // 1457.5 x 844.1: 1822 x 1056 is the smallest that holds it
      {0.0638, 2},           // fitted into a 930-pixel canvas: 911 columns would be too few
      {718.0 / 14575.0, 3},  // fitted into a 1,120 x 780 window: 718 x 415.8
      {0.03, 4},
      {0.002, 6},            // the smallest zoom still draws from a level, 114 x 66
      {0.0001, 6},
      {0.0, -1},
      {-0.5, -1},
      {std::numeric_limits<double>::quiet_NaN(), -1},
      {std::numeric_limits<double>::infinity(), -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(displayLevelIndexForZoom(14575, 8441, levels, c.zoom), c.expected) << "zoom " << c.zoom;
  }
  EXPECT_EQ(displayLevelIndexForZoom(14575, 8441, {}, 0.1), -1);
}

TEST(DisplayLevelChoice, NeverReducesAChosenSourceByMoreThanTwo) {
  for (const auto& [width, height] : {std::pair<std::uint32_t, std::uint32_t>{14575, 8441}, {20000, 7}, {999, 1001}}) {
    const std::vector<LevelSize> levels = displayLevelSizes(width, height);
    for (double zoom = 0.002; zoom < 1.0; zoom *= 1.01) {
      const int index = displayLevelIndexForZoom(width, height, levels, zoom);
      const double neededWidth = width * zoom;
      const double neededHeight = height * zoom;
      if (index < 0) {
        // The original is drawn: it is reduced by less than two.
        ASSERT_TRUE(levels.empty() || levels[0].width < neededWidth || levels[0].height < neededHeight) << zoom;
        continue;
      }
      const LevelSize chosen = levels[static_cast<std::size_t>(index)];
      ASSERT_GE(chosen.width, neededWidth) << zoom;
      ASSERT_GE(chosen.height, neededHeight) << zoom;
      if (static_cast<std::size_t>(index) + 1 < levels.size()) {
        const LevelSize next = levels[static_cast<std::size_t>(index) + 1];
        ASSERT_TRUE(next.width < neededWidth || next.height < neededHeight) << zoom;
      }
    }
  }
}

TEST(DisplayLevels, BandsOnManyWorkersGiveTheSameBytesAsOneWorker) {
  // Large enough to be shared out (more than kDisplayLevelParallelPixels halved
  // pixels), odd on both sides, with translucent rows across band edges.
  std::uint32_t state = 777;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(state >> 24);
  };
  const std::uint32_t width = 1203, height = 1001;
  const Pixels image = makeImage(width, height, [&](std::uint32_t x, std::uint32_t y) {
    const std::uint8_t alpha = (y % 64 == 63 || y % 64 == 0) ? next() : 255;
    return Bgra{next(), static_cast<std::uint8_t>(x + y), next(), static_cast<std::uint8_t>(x % 9 == 0 ? 0 : alpha)};
  });
  ASSERT_GE(static_cast<std::uint64_t>((width + 1) / 2) * ((height + 1) / 2), kDisplayLevelParallelPixels);
  const std::size_t outBytes = static_cast<std::size_t>((width + 1) / 2) * ((height + 1) / 2) * 4;
  std::vector<std::uint8_t> expected(outBytes);
  halvePixels(image.bgra.data(), width, height, expected.data());
  for (unsigned workers : {1u, 2u, 3u, 7u, kMaxDisplayLevelWorkers}) {
    PixelBytes out(outBytes);
    halvePixelsInBands(image.bgra.data(), width, height, out.data(), workers);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), expected.begin(), expected.end())) << workers << " workers";
  }
  // Bands asked for one by one, the last one past the end, give the same rows.
  PixelBytes banded(outBytes);
  for (std::uint32_t first = 0; first < (height + 1) / 2; first += 37) {
    halvePixelRows(image.bgra.data(), width, height, banded.data(), first, first + 37);
  }
  EXPECT_TRUE(std::equal(banded.begin(), banded.end(), expected.begin(), expected.end()));
  // The whole chain of levels is the same bytes as halving level after level.
  Pixels chained = image;
  buildDisplayLevels(chained);
  const std::uint8_t* source = chained.bgra.data();
  std::uint32_t w = width, h = height;
  for (const DisplayLevel& level : chained.displayLevels) {
    std::vector<std::uint8_t> one(level.bgra.size());
    halvePixels(source, w, h, one.data());
    EXPECT_TRUE(std::equal(level.bgra.begin(), level.bgra.end(), one.begin(), one.end())) << level.width;
    source = level.bgra.data();
    w = level.width;
    h = level.height;
  }
}

TEST(DisplayLevels, FirstLevelMadeAlongsideADecodeIsTheSameAsAfterIt) {
  // Segments of odd and even heights (so that some row pairs straddle two segments),
  // told segment by segment in a scrambled order as workers would, from several
  // threads; an odd and an even image height.
  std::uint32_t state = 4242;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(state >> 24);
  };
  for (const std::uint32_t height : {301u, 300u}) {
    SCOPED_TRACE(height);
    const std::uint32_t width = 263;
    Pixels image = makeImage(width, height, [&](std::uint32_t x, std::uint32_t y) {
      return Bgra{next(), static_cast<std::uint8_t>(x * y), next(), static_cast<std::uint8_t>(y % 5 == 0 ? next() : 255)};
    });
    Pixels expected = image;
    buildDisplayLevels(expected);
    ASSERT_GE(expected.displayLevels.size(), 2u);

    // Segments of 37 rows, the first one taller by the remainder, as in the file.
    const std::uint32_t segments = 8, rows = height / segments;
    std::vector<std::uint32_t> firstRows;
    for (std::uint32_t k = 0; k < segments; ++k) firstRows.push_back(k == 0 ? 0 : rows + height % segments + (k - 1) * rows);
    FirstDisplayLevelAlongside alongside(image.bgra.data(), width, height);
    const std::vector<std::uint32_t> order = {5, 0, 7, 2, 1, 6, 3, 4};
    std::vector<std::thread> workers;
    for (int w = 0; w < 2; ++w) {
      workers.emplace_back([&, w] {
        for (std::size_t i = static_cast<std::size_t>(w); i < order.size(); i += 2) {
          const std::uint32_t k = order[i];
          const std::uint32_t end = k + 1 < segments ? firstRows[k + 1] : height;
          for (std::uint32_t row = firstRows[k]; row < end; ++row) alongside.rowWritten(row, firstRows[k]);
        }
      });
    }
    for (std::thread& t : workers) t.join();
    alongside.finish(image, firstRows);

    ASSERT_EQ(image.displayLevels.size(), expected.displayLevels.size());
    for (std::size_t i = 0; i < image.displayLevels.size(); ++i) {
      const DisplayLevel& got = image.displayLevels[i];
      const DisplayLevel& want = expected.displayLevels[i];
      EXPECT_EQ(got.width, want.width);
      EXPECT_EQ(got.height, want.height);
      EXPECT_TRUE(got.bgra == want.bgra) << "level " << i;
    }
  }
  // An image too small for levels gets none.
  Pixels small = makeImage(40, 30, [](std::uint32_t, std::uint32_t) { return Bgra{1, 2, 3, 255}; });
  FirstDisplayLevelAlongside none(small.bgra.data(), 40, 30);
  for (std::uint32_t row = 0; row < 30; ++row) none.rowWritten(row, 0);
  none.finish(small, {0});
  EXPECT_TRUE(small.displayLevels.empty());
}

TEST(DisplayLevelChoice, PointsIntoTheImagesOwnLevels) {
  Pixels image = makeImage(300, 200, [](std::uint32_t x, std::uint32_t) { return Bgra{static_cast<std::uint8_t>(x), 0, 0, 255}; });
  EXPECT_EQ(displayLevelForZoom(image, 0.3), nullptr);  // no levels yet: the original
  buildDisplayLevels(image);
  ASSERT_EQ(image.displayLevels.size(), 2u);  // 150 x 100, 75 x 50
  EXPECT_EQ(displayLevelForZoom(image, 0.2), &image.displayLevels[1]);  // 60 x 40 asked for
  EXPECT_EQ(displayLevelForZoom(image, 0.3), &image.displayLevels[0]);  // 90 x 60: 75 x 50 is too small
  EXPECT_EQ(displayLevelForZoom(image, 0.5), &image.displayLevels[0]);
  EXPECT_EQ(displayLevelForZoom(image, 0.6), nullptr);
  EXPECT_EQ(displayLevelForZoom(image, 1.0), nullptr);
}

}  // namespace
}  // namespace tessary

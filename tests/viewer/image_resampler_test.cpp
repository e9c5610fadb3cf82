// Scaled drawing of straight-alpha pixels into a premultiplied target: placement,
// exact squares when enlarging, faithful reductions, transparency and clipping.
#include "viewer/image_resampler.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

namespace tessary {
namespace {

struct Image {
  std::uint32_t width;
  std::uint32_t height;
  std::vector<std::uint8_t> bgra;
  SourcePixels source() const { return SourcePixels{bgra.data(), width, height}; }
};

// Pixel (x, y) = colour(x, y) as B, G, R, A.
Image makeImage(std::uint32_t width, std::uint32_t height,
                const std::function<std::array<std::uint8_t, 4>(std::uint32_t, std::uint32_t)>& colour) {
  Image image{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4)};
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const auto c = colour(x, y);
      for (int i = 0; i < 4; ++i) image.bgra[(static_cast<std::size_t>(y) * width + x) * 4 + i] = c[i];
    }
  }
  return image;
}

struct Target {
  Target(int w, int h, std::array<std::uint8_t, 4> fill) : width(w), height(h), bgra(static_cast<std::size_t>(w) * h * 4) {
    for (std::size_t i = 0; i < bgra.size(); ++i) bgra[i] = fill[i % 4];
  }
  TargetPixels pixels() { return TargetPixels{bgra.data(), width, height, static_cast<std::size_t>(width) * 4}; }
  const std::uint8_t* at(int x, int y) const { return &bgra[(static_cast<std::size_t>(y) * width + x) * 4]; }
  int width;
  int height;
  std::vector<std::uint8_t> bgra;
};

const std::array<std::uint8_t, 4> kFill{37, 21, 16, 255};  // the canvas colour

bool same(const std::uint8_t* p, std::array<std::uint8_t, 4> c, int tolerance = 0) {
  for (int i = 0; i < 4; ++i) {
    if (std::abs(p[i] - c[i]) > tolerance) return false;
  }
  return true;
}

TEST(ImageResampler, EnlargingGivesExactSquaresAtTheirPlace) {
  // 3 x 2 distinct opaque pixels at zoom 8 with the origin at (5.5, 3.25).
  const Image image = makeImage(3, 2, [](std::uint32_t x, std::uint32_t y) {
    return std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(10 + x), static_cast<std::uint8_t>(20 + y), 200, 255};
  });
  Target target(40, 30, kFill);
  drawScaled(image.source(), target.pixels(), PixelClip{0, 0, 40, 30}, 5.5, 3.25, 8, 8, ResampleFilter::Nearest);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      // A target pixel belongs to the source pixel under its centre.
      const double u = (x + 0.5 - 5.5) / 8;
      const double v = (y + 0.5 - 3.25) / 8;
      if (u >= 0 && u < 3 && v >= 0 && v < 2) {
        ASSERT_TRUE(same(target.at(x, y), {static_cast<std::uint8_t>(10 + int(u)), static_cast<std::uint8_t>(20 + int(v)), 200, 255}))
            << x << "," << y;
      } else {
        ASSERT_TRUE(same(target.at(x, y), kFill)) << x << "," << y;
      }
    }
  }
}

TEST(ImageResampler, ClipLimitsTheWrittenPixels) {
  const Image image = makeImage(10, 10, [](std::uint32_t, std::uint32_t) { return std::array<std::uint8_t, 4>{1, 2, 3, 255}; });
  for (const ResampleFilter filter : {ResampleFilter::Nearest, ResampleFilter::Bicubic}) {
    Target target(30, 30, kFill);
    const double scale = filter == ResampleFilter::Nearest ? 2 : 0.9;  // the image spans 20 or 9 pixels
    drawScaled(image.source(), target.pixels(), PixelClip{5, 6, 12, 9}, 0, 0, scale, scale, filter);
    int written = 0;
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 30; ++x) {
        const bool inside = x >= 5 && x < 12 && y >= 6 && y < 9 && x < (filter == ResampleFilter::Nearest ? 20 : 9);
        if (same(target.at(x, y), {1, 2, 3, 255})) {
          ++written;
          EXPECT_TRUE(inside) << x << "," << y;
        }
      }
    }
    EXPECT_EQ(written, filter == ResampleFilter::Nearest ? 7 * 3 : 4 * 3);
  }
}

TEST(ImageResampler, ReductionKeepsFlatColourAndGradients) {
  // A horizontal ramp reduced to 0.6: a flat channel stays exact and the ramp
  // keeps its value at every target pixel centre.
  const Image image = makeImage(200, 40, [](std::uint32_t x, std::uint32_t) {
    return std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(x), 90, 160, 255};
  });
  Target target(130, 30, kFill);
  drawScaled(image.source(), target.pixels(), PixelClip{0, 0, 130, 30}, 2, 1, 0.6, 0.6, ResampleFilter::Bicubic);
  for (int y = 1; y < 24; ++y) {
    for (int x = 2; x < 122; ++x) {
      const double u = (x + 0.5 - 2) / 0.6 - 0.5;
      const std::uint8_t* p = target.at(x, y);
      ASSERT_NEAR(p[0], u, 1.01) << x << "," << y;
      ASSERT_EQ(p[1], 90);
      ASSERT_EQ(p[2], 160);
      ASSERT_EQ(p[3], 255);
    }
  }
  EXPECT_TRUE(same(target.at(125, 10), kFill));
  EXPECT_TRUE(same(target.at(10, 26), kFill));
}

TEST(ImageResampler, HalvingAveragesFinePatterns) {
  // A one-pixel checkerboard halved must become an even grey, not an alias.
  const Image image = makeImage(64, 64, [](std::uint32_t x, std::uint32_t y) {
    const std::uint8_t v = (x + y) % 2 ? 255 : 0;
    return std::array<std::uint8_t, 4>{v, v, v, 255};
  });
  Target target(32, 32, kFill);
  drawScaled(image.source(), target.pixels(), PixelClip{0, 0, 32, 32}, 0, 0, 0.5, 0.5, ResampleFilter::Bicubic);
  for (int y = 3; y < 29; ++y) {
    for (int x = 3; x < 29; ++x) ASSERT_NEAR(target.at(x, y)[0], 128, 3) << x << "," << y;
  }
}

TEST(ImageResampler, IdentityScaleCopiesPixels) {
  const Image image = makeImage(17, 9, [](std::uint32_t x, std::uint32_t y) {
    return std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(x * 13), static_cast<std::uint8_t>(y * 29),
                                       static_cast<std::uint8_t>(x * y), 255};
  });
  Target target(30, 20, kFill);
  drawScaled(image.source(), target.pixels(), PixelClip{0, 0, 30, 20}, 4, 3, 1.0, 1.0, ResampleFilter::Bicubic);
  for (std::uint32_t y = 0; y < 9; ++y) {
    for (std::uint32_t x = 0; x < 17; ++x) {
      ASSERT_TRUE(same(target.at(4 + x, 3 + y), {static_cast<std::uint8_t>(x * 13), static_cast<std::uint8_t>(y * 29),
                                                 static_cast<std::uint8_t>(x * y), 255}))
          << x << "," << y;
    }
  }
}

TEST(ImageResampler, TransparencyShowsTheTargetThrough) {
  // Left half fully transparent (with a misleading white colour), right half
  // half-transparent red; reduced and enlarged.
  const Image image = makeImage(40, 20, [](std::uint32_t x, std::uint32_t) {
    return x < 20 ? std::array<std::uint8_t, 4>{255, 255, 255, 0} : std::array<std::uint8_t, 4>{0, 0, 255, 128};
  });
  const std::array<std::uint8_t, 4> halfRedOverFill{static_cast<std::uint8_t>(37 * 127 / 255),
                                                    static_cast<std::uint8_t>(21 * 127 / 255),
                                                    static_cast<std::uint8_t>(128 + 16 * 127 / 255), 255};
  for (const ResampleFilter filter : {ResampleFilter::Nearest, ResampleFilter::Bicubic}) {
    const double scale = filter == ResampleFilter::Nearest ? 2.0 : 0.75;
    Target target(100, 50, kFill);
    drawScaled(image.source(), target.pixels(), PixelClip{0, 0, 100, 50}, 0, 0, scale, scale, filter);
    EXPECT_TRUE(same(target.at(2, 5), kFill, 1));
    EXPECT_TRUE(same(target.at(static_cast<int>(38 * scale), 5), halfRedOverFill, 2));
    // No pale seam where transparent white meets the red half.
    for (int x = 0; x < static_cast<int>(40 * scale); ++x) EXPECT_LE(target.at(x, 5)[1], 22) << x;
  }
}

TEST(ImageResampler, NothingOutsideOrDegenerate) {
  const Image image = makeImage(4, 4, [](std::uint32_t, std::uint32_t) { return std::array<std::uint8_t, 4>{9, 9, 9, 255}; });
  Target target(20, 20, kFill);
  const std::vector<std::uint8_t> before = target.bgra;
  drawScaled(image.source(), target.pixels(), PixelClip{0, 0, 20, 20}, -100, 0, 1, 1, ResampleFilter::Bicubic);
  drawScaled(image.source(), target.pixels(), PixelClip{0, 0, 20, 20}, 1e300, 0, 1, 1, ResampleFilter::Nearest);
  drawScaled(image.source(), target.pixels(), PixelClip{0, 0, 20, 20}, 0, 0, 0, 1, ResampleFilter::Nearest);
  drawScaled(image.source(), target.pixels(), PixelClip{0, 0, 20, 20}, std::nan(""), 0, 1, 1, ResampleFilter::Nearest);
  drawScaled(image.source(), target.pixels(), PixelClip{10, 10, 5, 5}, 0, 0, 8, 8, ResampleFilter::Nearest);
  EXPECT_EQ(target.bgra, before);
}

}  // namespace
}  // namespace tessary

namespace tessary {
namespace {

TEST(ImageResampler, ExtentEndsAReducedCopyWhereItsImageEnds) {
  // A reduced copy of a 9-pixel-wide image has 5 columns, the last one standing
  // for half a column: drawn at 2x it covers 9 target pixels, not 10.
  const Image image = makeImage(5, 2, [](std::uint32_t, std::uint32_t) { return std::array<std::uint8_t, 4>{50, 60, 70, 255}; });
  for (const ResampleFilter filter : {ResampleFilter::Nearest, ResampleFilter::Bicubic}) {
    Target target(20, 6, kFill);
    SourcePixels source = image.source();
    source.extentX = 4.5;
    drawScaled(source, target.pixels(), PixelClip{0, 0, 20, 6}, 0, 0, 2, 2, filter);
    EXPECT_TRUE(same(target.at(8, 1), {50, 60, 70, 255}));
    EXPECT_TRUE(same(target.at(9, 1), kFill));
    EXPECT_TRUE(same(target.at(3, 3), {50, 60, 70, 255}));
    EXPECT_TRUE(same(target.at(3, 4), kFill));
  }
}

}  // namespace
}  // namespace tessary

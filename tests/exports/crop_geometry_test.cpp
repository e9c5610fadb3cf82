#include "exports/crop_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace tessary {
namespace {

struct FromPointsCase {
  double x0, y0, x1, y1;
  std::uint32_t width, height;
  CropRect expected;
};

TEST(CropFromPoints, Table) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const FromPointsCase cases[] = {
      // reversed drag, left edge clamped, floor and ceil
      {23.2, 18.1, -4.1, 5.3, 20, 20, {0, 5, 20, 14}},
      // the same rectangle dragged the other way round
      {-4.1, 5.3, 23.2, 18.1, 20, 20, {0, 5, 20, 14}},
      {-4.1, 18.1, 23.2, 5.3, 20, 20, {0, 5, 20, 14}},
      // inside: every touched pixel is covered
      {2.5, 3.5, 4.5, 7.25, 10, 10, {2, 3, 3, 5}},
      // whole-pixel edges are not widened
      {2, 3, 5, 7, 10, 10, {2, 3, 3, 4}},
      // a press and release without moving
      {4.4, 4.4, 4.4, 4.4, 10, 10, {4, 4, 1, 1}},
      {4, 4, 4, 4, 10, 10, {4, 4, 0, 0}},
      // wholly left of the image: width 0
      {-9, 2, -3, 6, 10, 10, {0, 2, 0, 4}},
      // wholly right and below: pinned to the far edges, empty
      {12, 11, 30, 40, 10, 10, {10, 10, 0, 0}},
      // covering more than the image
      {-100, -100, 1e9, 1e9, 20000, 7500, {0, 0, 20000, 7500}},
      // not finite: no crop
      {nan, 1, 2, 3, 10, 10, {0, 0, 0, 0}},
      {1, nan, 2, 3, 10, 10, {0, 0, 0, 0}},
      {1, 1, inf, 3, 10, 10, {0, 0, 0, 0}},
      {1, 1, 2, -inf, 10, 10, {0, 0, 0, 0}},
  };
  for (const FromPointsCase& c : cases) {
    const CropRect crop = cropFromPoints(c.x0, c.y0, c.x1, c.y1, c.width, c.height);
    EXPECT_EQ(crop, c.expected) << c.x0 << ", " << c.y0 << " -> " << c.x1 << ", " << c.y1 << " gave " << crop.x
                                << ", " << crop.y << ", " << crop.width << ", " << crop.height;
  }
}

TEST(CropFromPoints, NotFiniteIsRejectedByFits) {
  const CropRect crop = cropFromPoints(std::numeric_limits<double>::quiet_NaN(), 0, 5, 5, 10, 10);
  EXPECT_EQ(crop, CropRect{});
  EXPECT_FALSE(cropFits(crop, 10, 10));
  EXPECT_FALSE(cropFits(cropFromPoints(0, 0, std::numeric_limits<double>::infinity(), 5, 10, 10), 10, 10));
}

struct FitsCase {
  CropRect crop;
  std::uint32_t width, height;
  bool fits;
};

TEST(CropFits, Table) {
  const FitsCase cases[] = {
      // on the plate
      {{0, 0, 5000, 5000}, 14575, 8441, true},
      {{0, 0, 5001, 5000}, 14575, 8441, false},
      {{9575, 3441, 5000, 5000}, 14575, 8441, true},
      {{9576, 3441, 5000, 5000}, 14575, 8441, false},
      // exactly 25,000,000 pixels passes, one row more does not
      {{0, 0, 10000, 2500}, 20000, 20000, true},
      {{0, 0, 10000, 2501}, 20000, 20000, false},
      {{0, 0, 20000, 1250}, 20000, 20000, true},
      // whole small image, edges
      {{0, 0, 8, 6}, 8, 6, true},
      {{0, 0, 9, 6}, 8, 6, false},
      {{0, 0, 8, 7}, 8, 6, false},
      {{7, 5, 1, 1}, 8, 6, true},
      {{-1, 0, 2, 2}, 8, 6, false},
      {{0, -1, 2, 2}, 8, 6, false},
      {{0, 0, 0, 2}, 8, 6, false},
      {{0, 0, 2, 0}, 8, 6, false},
      {{0, 0, -3, -3}, 8, 6, false},
      // sums and products that overflow 32 bits are taken in 64 bits
      {{2147483647, 0, 1, 1}, 8, 6, false},
      {{0, 0, 2147483647, 2147483647}, 4294967295u, 4294967295u, false},
      {{2147483000, 0, 1000, 1}, 4294967295u, 10, true},
  };
  for (const FitsCase& c : cases) {
    EXPECT_EQ(cropFits(c.crop, c.width, c.height), c.fits)
        << c.crop.x << ", " << c.crop.y << ", " << c.crop.width << ", " << c.crop.height << " in " << c.width
        << " x " << c.height;
  }
}

}  // namespace
}  // namespace tessary

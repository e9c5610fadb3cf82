#include "app/window_placement.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace tessary {
namespace {

TEST(WindowPlacement, CentredOnTheWorkAreaAndClampedToIt) {
  struct Case {
    const char* name;
    ScreenArea work;
    std::int32_t width, height;
    WindowOrigin expected;
  };
  const std::vector<Case> cases = {
      {"1600 x 1000 screen", {0, 0, 1600, 1000}, 1320, 900, {140, 50}},
      {"taskbar at the bottom", {0, 0, 1920, 1040}, 1320, 900, {300, 70}},
      {"odd remainder rounds towards the left and top", {0, 0, 1321, 901}, 1320, 900, {0, 0}},
      {"exactly the work area", {0, 0, 1320, 900}, 1320, 900, {0, 0}},
      {"second monitor to the right", {1920, 0, 3840, 1080}, 1320, 900, {2220, 90}},
      {"monitor left of and above the primary", {-1600, -200, 0, 700}, 1320, 900, {-1460, -200}},
      {"taskbar on the left and top", {62, 40, 1600, 1000}, 1320, 900, {171, 70}},
      {"window wider than the work area starts at its left edge", {0, 0, 1024, 768}, 1320, 900, {0, 0}},
      {"too large on a monitor left of the primary", {-1024, 0, 0, 768}, 1320, 900, {-1024, 0}},
      {"too wide only", {100, 0, 1200, 1080}, 1320, 900, {100, 90}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(centredOrigin(c.work, c.width, c.height), c.expected) << c.name;
  }
}

TEST(WindowPlacement, ExtremeCoordinatesDoNotOverflow) {
  constexpr std::int32_t low = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t high = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(centredOrigin({low, low, high, high}, 1320, 900), (WindowOrigin{-661, -451}));
  EXPECT_EQ(centredOrigin({high - 100, 0, high, 100}, 1320, 900), (WindowOrigin{high - 100, 0}));
}

TEST(WindowPlacement, TitleBandIsTheStripAboveTheHeaderRule) {
  struct Case {
    std::int32_t x, y;
    bool inBand;
  };
  const std::vector<Case> cases = {
      {0, 0, true},        {1299, 0, true},  {650, 66, true},  {650, 67, false}, {1300, 10, false},
      {-1, 10, false},     {10, -1, false},  {20, 81, false},  {650, 500, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(inTitleBand(c.x, c.y, 1300), c.inBand) << c.x << ", " << c.y;
  }
}

}  // namespace
}  // namespace tessary

#include "app/window_placement.h"

#include <algorithm>

namespace tessary {

namespace {

std::int32_t centredStart(std::int32_t low, std::int32_t high, std::int32_t size) {
  // 64-bit arithmetic: a work area near the limits of the coordinate space must not overflow.
  const std::int64_t span = static_cast<std::int64_t>(high) - low;
  std::int64_t start = low + (span - size) / 2;
  start = std::min<std::int64_t>(start, static_cast<std::int64_t>(high) - size);
  start = std::max<std::int64_t>(start, low);
  return static_cast<std::int32_t>(start);
}

}  // namespace

WindowOrigin centredOrigin(const ScreenArea& work, std::int32_t width, std::int32_t height) {
  return WindowOrigin{centredStart(work.left, work.right, width), centredStart(work.top, work.bottom, height)};
}

bool inTitleBand(std::int32_t x, std::int32_t y, std::int32_t clientWidth) {
  return x >= 0 && x < clientWidth && y >= 0 && y < kTitleBandHeight;
}

}  // namespace tessary

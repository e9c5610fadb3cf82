#include "exports/crop_geometry.h"

#include <algorithm>
#include <cmath>

namespace tessary {

namespace {

double clampTo(double value, double limit) {
  if (value < 0) return 0;
  if (value > limit) return limit;
  return value;
}

}  // namespace

CropRect cropFromPoints(double x0, double y0, double x1, double y1, std::uint32_t width, std::uint32_t height) {
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return CropRect{};
  const double w = width;
  const double h = height;
  // The crop covers every pixel the dragged rectangle touches and stays inside the
  // image, whichever way the drag went.
  const double left = clampTo(x1 < x0 ? x1 : x0, w);
  const double top = clampTo(y1 < y0 ? y1 : y0, h);
  const double right = clampTo(std::max(x0, x1), w);
  const double bottom = clampTo(std::max(y0, y1), h);
  // Every edge now lies between 0 and the image size, so it fits a 64-bit integer;
  // the narrowing to 32 bits is well defined for any image size.
  const std::int64_t x = static_cast<std::int64_t>(std::floor(left));
  const std::int64_t y = static_cast<std::int64_t>(std::floor(top));
  CropRect crop;
  crop.x = static_cast<std::int32_t>(x);
  crop.y = static_cast<std::int32_t>(y);
  crop.width = static_cast<std::int32_t>(static_cast<std::int64_t>(std::ceil(right)) - x);
  crop.height = static_cast<std::int32_t>(static_cast<std::int64_t>(std::ceil(bottom)) - y);
  return crop;
}

bool cropFits(const CropRect& crop, std::uint32_t width, std::uint32_t height) {
  if (crop.x < 0 || crop.y < 0 || crop.width < 1 || crop.height < 1) return false;
  const std::int64_t pixels = static_cast<std::int64_t>(crop.width) * crop.height;
  if (pixels > kCropPixelLimit) return false;
  return static_cast<std::int64_t>(crop.x) + crop.width <= static_cast<std::int64_t>(width) &&
         static_cast<std::int64_t>(crop.y) + crop.height <= static_cast<std::int64_t>(height);
}

}  // namespace tessary

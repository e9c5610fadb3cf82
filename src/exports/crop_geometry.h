#pragma once
// A crop in original-image pixels and the rules that form and check it.
#include <cstdint>

namespace tessary {

// x, y inclusive; right and bottom edges exclusive; all zero means no crop.
struct CropRect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  friend bool operator==(const CropRect&, const CropRect&) = default;
};

inline constexpr std::int64_t kCropPixelLimit = 25000000;

CropRect cropFromPoints(double x0, double y0, double x1, double y1, std::uint32_t width, std::uint32_t height);
bool cropFits(const CropRect& crop, std::uint32_t width, std::uint32_t height);

}  // namespace tessary

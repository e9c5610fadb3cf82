#pragma once
// Drawing a straight-alpha BGRA image, scaled, into a premultiplied BGRA target
// (the painter's off-screen bitmap): nearest neighbour for enlargements, a
// bicubic filter (Catmull-Rom, widened when reducing so every source pixel
// counts) for reductions. Pixel centres sit at half-pixel positions, so at an
// integral zoom each source pixel becomes an exact square of target pixels.
// Transparent source pixels let the target show through.
#include <cstddef>
#include <cstdint>

namespace tessary {

struct SourcePixels {
  const std::uint8_t* bgra = nullptr;  // straight alpha, rows of width * 4 bytes, no gaps
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  // How much of the pixels is drawn, in source pixels from the top left (0: all).
  // A reduced copy whose last column or row stands for less than a whole pixel of
  // it ends there.
  double extentX = 0;
  double extentY = 0;
};

struct TargetPixels {
  std::uint8_t* bgra = nullptr;  // premultiplied alpha
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::size_t stride = 0;  // bytes per row
};

// Target pixels whose centres lie in [left, right) x [top, bottom) may be written.
struct PixelClip {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

enum class ResampleFilter { Nearest, Bicubic };

// Draws `source` so that the left edge of its column 0 and the top edge of its
// row 0 lie at (originX, originY) in target pixels and each source pixel spans
// scaleX by scaleY target pixels. Writes the target pixels whose centres fall
// inside both the scaled source and `clip` (and the target itself).
void drawScaled(const SourcePixels& source, const TargetPixels& target, const PixelClip& clip, double originX,
                double originY, double scaleX, double scaleY, ResampleFilter filter);

}  // namespace tessary

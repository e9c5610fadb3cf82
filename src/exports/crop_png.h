#pragma once
// The crop's PNG, made by the program's own writer: 8-bit RGBA (the four channels of
// the image's straight-alpha BGRA, so decoding gives back the same bytes, alpha
// included), not interlaced, with no chunks but IHDR, IDAT and IEND. The rows are
// read straight from the image's buffer, filtered and deflated in horizontal
// segments on every core, and assembled into one file in memory.
#include <cstdint>

#include "exports/crop_geometry.h"
#include "imaging/pixels.h"
#include "imaging/segmented_png_writer.h"

namespace tessary {

// The writer's settings for a crop of width x height pixels on `threads` threads.
PngWriterSettings cropPngSettings(std::uint32_t width, std::uint32_t height, unsigned threads);

// The PNG of the crop of `image`. Raises "Crop limit" when the crop does not fit
// the image (cropFits); otherwise the writer's own errors (std::bad_alloc when
// memory runs out). `threads` 0: one a core.
PngBytes cropPngBytes(const Pixels& image, const CropRect& crop, unsigned threads = 0);

}  // namespace tessary

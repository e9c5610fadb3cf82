#pragma once
// Decoding of image bytes into the one in-memory image type, through the Windows
// Imaging Component, with the drawing bitmap made by GDI+ over the same pixels.
// The calling thread must have COM initialised, and GDI+ must be started in the
// process.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/pixels.h"

namespace Gdiplus {
class Bitmap;
}

namespace tessary {

// Decodes the first frame of PNG, JPEG, TIFF or BMP bytes (chosen by their leading
// bytes) into straight-alpha 32-bit BGRA, within the pixel limits, with the SHA-256
// of the bytes and a drawing bitmap over `bgra`. The bytes are not retained.
// Raises ImageError ("File size limit", "Unsupported image format", "Image operation
// failed", "Pixel limit", "Hash failed", "Image unavailable") or std::bad_alloc.
// The record is returned writable so that the loader can finish it before it is
// published as std::shared_ptr<const Pixels>.
std::shared_ptr<Pixels> decodeImage(const std::uint8_t* bytes, std::size_t count);

// The format conversion into 32-bit BGRA runs in bands of rows of about this many
// bytes, so that the converter's own temporary never holds more than one band.
inline constexpr std::uint32_t kConversionBandBytes = 4u << 20;

// Rows in one band of the conversion for an image `width` pixels wide (at least 1).
std::uint32_t conversionBandRows(std::uint32_t width);

// A GDI+ bitmap (a Gdiplus::Bitmap, PixelFormat32bppARGB, stride width x 4) whose
// scan lines are `bgra` itself, owned by the returned handle. The memory must
// outlive the handle. Raises ImageError("Image unavailable") when GDI+ refuses.
std::shared_ptr<void> createDrawingBitmap(std::uint32_t width, std::uint32_t height,
                                          std::uint8_t* bgra);

// The Gdiplus::Bitmap held by a record's or a display level's `bitmap`, or null.
inline Gdiplus::Bitmap* drawingBitmap(const std::shared_ptr<void>& bitmap) {
  return static_cast<Gdiplus::Bitmap*>(bitmap.get());
}

}  // namespace tessary

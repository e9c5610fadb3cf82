#include "imaging/plate_decoder_win.h"

#include <windows.h>

#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "imaging/display_levels.h"
#include "imaging/image_decoder_win.h"
#include "imaging/image_format.h"
#include "imaging/plate_resource_win.h"
#include "imaging/sha256_win.h"

namespace tessary {

std::shared_ptr<Pixels> decodePlateBytes(const std::uint8_t* bytes, std::size_t count,
                                         const std::string* knownDigest, const PngWorkerStart& start) {
  std::optional<SegmentedPng> png;
  if (count >= 1 && count <= kMaxImageSourceBytes) {
    png = findPngSegments(bytes, count);
  }
  // Outside the limits the ordinary decoder gives the failure, before any pixel
  // memory exists.
  if (!png || !withinPixelLimits(png->width, png->height)) {
    return decodeImage(bytes, count);
  }

  // The digest needs only the bytes: it is computed beside the decode.
  std::optional<BackgroundDigest> digest;
  if (knownDigest == nullptr) {
    digest.emplace(bytes, count);
  }

  auto pixels = std::make_shared<Pixels>();
  std::optional<FirstDisplayLevelAlongside> levels;
  bool decoded = false;
  try {
    // Left unset: the decoder's workers write every byte, each touching its own
    // pages first.
    pixels->bgra.resize(static_cast<std::size_t>(png->width) * png->height * 4);
    // The first display level is made by the same workers, each pair of rows as soon
    // as it is written. Without the memory for it the levels are made afterwards,
    // or not at all (they only speed up drawing).
    PngRowWritten rowWritten;
    try {
      levels.emplace(pixels->bgra.data(), png->width, png->height);
      rowWritten = [&levels](std::uint32_t row, std::uint32_t segmentFirstRow) {
        levels->rowWritten(row, segmentFirstRow);
      };
    } catch (const std::bad_alloc&) {
      levels.reset();
    }
    decoded = decodePngSegments(*png, pixels->bgra.data(), pngDecodeWorkers(png->segments.size()), start,
                                rowWritten);
  } catch (const std::bad_alloc&) {
    decoded = false;
  }
  if (!decoded) {
    // The partial pixels go before the ordinary decode allocates its own, and the
    // digest thread is waited for (the ordinary decode hashes the bytes itself).
    levels.reset();
    pixels.reset();
    digest.reset();
    return decodeImage(bytes, count);
  }
  pixels->width = png->width;
  pixels->height = png->height;
  if (levels) {
    // The further levels are made while the digest may still be computed.
    std::vector<std::uint32_t> segmentFirstRows;
    for (const PngSegment& segment : png->segments) segmentFirstRows.push_back(segment.firstRow);
    try {
      levels->finish(*pixels, segmentFirstRows);
    } catch (const std::bad_alloc&) {
      pixels->displayLevels.clear();
    }
  }
  pixels->sha256 = knownDigest != nullptr ? *knownDigest : digest->take();
  pixels->bitmap = createDrawingBitmap(pixels->width, pixels->height, pixels->bgra.data());
  return pixels;
}

std::shared_ptr<Pixels> decodeOwnPlate() {
  const PlateBytes plate = plateResourceBytes(GetModuleHandleW(nullptr));
  static std::mutex rememberedMutex;
  static std::string remembered;  // the plate's digest, once computed
  std::string known;
  {
    std::lock_guard<std::mutex> lock(rememberedMutex);
    known = remembered;
  }
  std::shared_ptr<Pixels> image = decodePlateBytes(plate.data, plate.size, known.empty() ? nullptr : &known);
  if (known.empty()) {
    std::lock_guard<std::mutex> lock(rememberedMutex);
    remembered = image->sha256;
  }
  return image;
}

}  // namespace tessary

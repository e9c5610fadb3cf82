#include "imaging/plate_decoder_win.h"

#include <windows.h>

#include <mutex>
#include <new>
#include <optional>

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
  bool decoded = false;
  try {
    // Left unset: the decoder's workers write every byte, each touching its own
    // pages first.
    pixels->bgra.resize(static_cast<std::size_t>(png->width) * png->height * 4);
    decoded = decodePngSegments(*png, pixels->bgra.data(), pngDecodeWorkers(png->segments.size()), start);
  } catch (const std::bad_alloc&) {
    decoded = false;
  }
  if (!decoded) {
    // The partial pixels go before the ordinary decode allocates its own, and the
    // digest thread is waited for (the ordinary decode hashes the bytes itself).
    pixels.reset();
    digest.reset();
    return decodeImage(bytes, count);
  }
  pixels->width = png->width;
  pixels->height = png->height;
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

// The segmented PNG decoder against libpng: whatever the bytes, it either refuses
// them (and the ordinary decoder reads them) or decodes exactly libpng's pixels,
// with one worker and with two alike. Every refusal is fine; a decode that libpng
// does not agree with byte for byte is a failure, and so is any crash or sanitizer
// report. Each input is tried as it is and with every chunk's CRC mended, so that
// mutations also reach the segments' data instead of stopping at a CRC.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "../imaging/libpng_reference.h"
#include "imaging/pixels.h"
#include "imaging/segmented_png_decoder.h"

namespace {

// Images above this many pixels are left alone: the fuzzer's memory stays small.
constexpr std::uint64_t kMaxFuzzPixels = 1u << 20;

// The bytes with every chunk's CRC made right, as far as the chunks fit.
std::vector<std::uint8_t> withCrcsMended(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  for (std::size_t at = 8; at + 12 <= bytes.size();) {
    const std::size_t length = (std::size_t{bytes[at]} << 24) | (std::size_t{bytes[at + 1]} << 16) |
                               (std::size_t{bytes[at + 2]} << 8) | bytes[at + 3];
    if (length > bytes.size() - at - 12) break;
    const auto crc = static_cast<std::uint32_t>(crc32(0L, &bytes[at + 4], static_cast<uInt>(4 + length)));
    std::uint8_t* tail = &bytes[at + 8 + length];
    tail[0] = static_cast<std::uint8_t>(crc >> 24);
    tail[1] = static_cast<std::uint8_t>(crc >> 16);
    tail[2] = static_cast<std::uint8_t>(crc >> 8);
    tail[3] = static_cast<std::uint8_t>(crc);
    at += 12 + length;
  }
  return bytes;
}

void check(const std::uint8_t* data, std::size_t size) {
  const std::optional<tessary::SegmentedPng> png = tessary::findPngSegments(data, size);
  if (!png) return;
  if (static_cast<std::uint64_t>(png->width) * png->height > kMaxFuzzPixels) return;
  tessary::PixelBytes alone;
  alone.resize(static_cast<std::size_t>(png->width) * png->height * 4);
  tessary::PixelBytes together;
  together.resize(alone.size());
  const bool decodedAlone = tessary::decodePngSegments(*png, alone.data(), 1);
  const bool decodedTogether = tessary::decodePngSegments(*png, together.data(), 2);
  if (decodedAlone != decodedTogether) {
    std::fprintf(stderr, "one worker %s, two workers %s\n", decodedAlone ? "decodes" : "refuses",
                 decodedTogether ? "decode" : "refuse");
    std::abort();
  }
  if (!decodedAlone) return;
  if (alone != together) {
    std::fprintf(stderr, "one and two workers give different pixels\n");
    std::abort();
  }
  const auto reference = tessary::imagetest::libpngBgra(data, size, kMaxFuzzPixels);
  if (!reference) {
    std::fprintf(stderr, "decoded %u x %u, but libpng refuses the data\n", png->width, png->height);
    std::abort();
  }
  if (reference->width != png->width || reference->height != png->height ||
      reference->bgra.size() != alone.size() ||
      std::memcmp(reference->bgra.data(), alone.data(), alone.size()) != 0) {
    std::fprintf(stderr, "decoded %u x %u, libpng %u x %u with other pixels\n", png->width, png->height,
                 reference->width, reference->height);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  check(data, size);
  const std::vector<std::uint8_t> mended = withCrcsMended(data, size);
  check(mended.data(), mended.size());
  return 0;
}

#include "exports/crop_png.h"

#include <algorithm>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tessary {

PngWriterSettings cropPngSettings(std::uint32_t width, std::uint32_t height, unsigned threads) {
  PngWriterSettings s;
  s.width = width;
  s.height = height;
  s.pixels = PngSourcePixels::Bgra8;
  // Chosen by measurement on a 4,731 x 4,731 crop of the plate (two threads, bench/
  // png_writer_settings_bench_posix.cpp; files beside vips and ImageMagick in
  // bench/run_crop_export_bench.sh): the Up filter with run-length deflate gives a
  // file 7 % larger than the adaptive filter in 0.6 of its processor time, and the
  // level does not change the size. Deflate's default string matching took nine
  // times as long for a larger file (photographic grain has few repeats), Huffman
  // coding alone a third less time but cannot shrink flat areas below an eighth.
  // Up is also the cheapest filter to compute: one subtraction a byte.
  s.filter = PngFilter::Up;
  s.strategy = PngDeflateStrategy::RunLength;
  s.level = 6;
  // Deflate blocks of 16 Ki symbols: as small as zlib's default, within a fraction of
  // a percent of the size the larger blocks give, and the room each segment is given
  // for its deflated bytes stays within 0.05 % of its raw size (rather than 14 %).
  s.memoryLevel = 8;
  // Segments of at least 1 MiB of pixels each, and up to 64 of them: enough for the
  // cores of any desk, and each big enough that starting a fresh deflate window
  // costs next to nothing in size. No restart marker: the file holds only the
  // chunks every PNG encoder writes.
  const std::uint64_t bytes = static_cast<std::uint64_t>(width) * height * 4;
  s.segments = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(bytes >> 20, 1, 64));
  s.restartMarker = false;
  s.threads = std::max(1u, threads);
  return s;
}

PngBytes cropPngBytes(const Pixels& image, const CropRect& crop, unsigned threads) {
  if (!cropFits(crop, image.width, image.height) ||
      image.bgra.size() < static_cast<std::uint64_t>(image.width) * image.height * 4) {
    throw std::runtime_error("Crop limit");
  }
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  const PngWriterSettings settings =
      cropPngSettings(static_cast<std::uint32_t>(crop.width), static_cast<std::uint32_t>(crop.height), threads);
  const std::size_t stride = static_cast<std::size_t>(image.width) * 4;
  const std::uint8_t* origin =
      image.bgra.data() + static_cast<std::size_t>(crop.y) * stride + static_cast<std::size_t>(crop.x) * 4;
  // Each segment's rows are read where they lie in the image: nothing is copied.
  return encodeSegmentedPng(settings, [origin, stride](std::uint32_t y0, std::uint32_t, std::vector<std::uint8_t>&,
                                                       std::size_t& rowStride) -> const std::uint8_t* {
    rowStride = stride;
    return origin + static_cast<std::size_t>(y0) * stride;
  });
}

}  // namespace tessary

// Native: the PNG writer's filter and deflate settings on a crop of a large PNG (the
// plate), each with its wall time, processor time and file size, to choose the crop
// export's settings beside `vips crop` and `convert -crop` of the same rectangle
// (run_crop_export_bench.sh prints those).
//   png_writer_settings_bench <plate.png> [crop side] [rounds] [threads]
// Measure with a build configured -DTESSARY_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release.
#include <png.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "imaging/segmented_png_writer.h"

using namespace tessary;

namespace {

struct Image {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> bgra;
};

Image readPng(const char* path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path)) {
    std::fprintf(stderr, "cannot read %s\n", path);
    std::exit(2);
  }
  image.format = PNG_FORMAT_BGRA;
  Image out;
  out.width = image.width;
  out.height = image.height;
  out.bgra.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.bgra.data(), 0, nullptr)) {
    std::fprintf(stderr, "cannot decode %s\n", path);
    std::exit(2);
  }
  return out;
}

double processorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

const char* filterName(PngFilter f) {
  switch (f) {
    case PngFilter::Adaptive: return "adaptive";
    case PngFilter::None: return "none";
    case PngFilter::Sub: return "sub";
    case PngFilter::Up: return "up";
    case PngFilter::Average: return "average";
    case PngFilter::Paeth: return "paeth";
  }
  return "?";
}

const char* strategyName(PngDeflateStrategy s) {
  switch (s) {
    case PngDeflateStrategy::Default: return "default";
    case PngDeflateStrategy::Filtered: return "filtered";
    case PngDeflateStrategy::RunLength: return "rle";
    case PngDeflateStrategy::HuffmanOnly: return "huffman";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: png_writer_settings_bench <plate.png> [crop side] [rounds] [threads]\n");
    return 2;
  }
  const Image image = readPng(argv[1]);
  const std::uint32_t side = std::min<std::uint32_t>(argc > 2 ? std::atoi(argv[2]) : 4731,
                                                     std::min(image.width, image.height));
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  const unsigned threads = argc > 4 ? std::max(1, std::atoi(argv[4])) : std::max(1u, std::thread::hardware_concurrency());
  const std::uint32_t x0 = (image.width - side) / 2;
  const std::uint32_t y0 = (image.height - side) / 2;
  std::printf("image %u x %u, crop %u x %u at (%u, %u), %u threads, median of %d rounds\n", image.width, image.height,
              side, side, x0, y0, threads, rounds);

  struct Setting {
    PngFilter filter;
    PngDeflateStrategy strategy;
    int level;
    int memoryLevel = 9;
  };
  std::vector<Setting> settings;
  for (PngFilter f : {PngFilter::Adaptive, PngFilter::Sub, PngFilter::Up, PngFilter::Paeth, PngFilter::None}) {
    for (int level : {1, 3, 6}) settings.push_back({f, PngDeflateStrategy::RunLength, level});
    settings.push_back({f, PngDeflateStrategy::RunLength, 6, 8});
    settings.push_back({f, PngDeflateStrategy::HuffmanOnly, 6, 8});
  }
  for (PngFilter f : {PngFilter::Adaptive, PngFilter::Up, PngFilter::Paeth}) {
    settings.push_back({f, PngDeflateStrategy::HuffmanOnly, 6});
    for (int level : {1, 3, 6}) settings.push_back({f, PngDeflateStrategy::Filtered, level});
    settings.push_back({f, PngDeflateStrategy::Default, 6});
  }

  const std::size_t stride = static_cast<std::size_t>(image.width) * 4;
  const PngSegmentRows rows = [&](std::uint32_t a, std::uint32_t, std::vector<std::uint8_t>&,
                                  std::size_t& rowStride) -> const std::uint8_t* {
    rowStride = stride;
    return image.bgra.data() + (static_cast<std::size_t>(y0) + a) * stride + static_cast<std::size_t>(x0) * 4;
  };
  std::printf("%-9s %-9s %5s %8s %10s %10s %12s\n", "filter", "strategy", "level", "memLevel", "wall ms", "cpu ms",
              "bytes");
  for (const Setting& setting : settings) {
    PngWriterSettings s;
    s.width = side;
    s.height = side;
    s.pixels = PngSourcePixels::Bgra8;
    s.filter = setting.filter;
    s.strategy = setting.strategy;
    s.level = setting.level;
    s.memoryLevel = setting.memoryLevel;
    s.segments = 64;
    s.restartMarker = false;
    s.threads = threads;
    std::vector<double> walls;
    std::vector<double> cpus;
    std::size_t bytes = 0;
    for (int r = 0; r < rounds; ++r) {
      const double cpu0 = processorSeconds();
      const auto t0 = std::chrono::steady_clock::now();
      const PngBytes png = encodeSegmentedPng(s, rows);
      walls.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
      cpus.push_back((processorSeconds() - cpu0) * 1000);
      bytes = png.size();
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    std::printf("%-9s %-9s %5d %8d %10.0f %10.0f %12zu\n", filterName(setting.filter),
                strategyName(setting.strategy), setting.level, setting.memoryLevel, walls[walls.size() / 2],
                cpus[cpus.size() / 2], bytes);
    std::fflush(stdout);
  }
  return 0;
}

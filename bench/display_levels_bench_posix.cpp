// Display levels of a large image, natively: the time to build them from decoded
// pixels and the memory they take beside the pixels. Reads an 8-bit RGB or RGBA,
// non-interlaced PNG (the built-in plate, say):
//   display_levels_bench <plate.png> [repeats]
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/display_levels.h"

namespace {

std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

int paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
}

bool decodePng(const std::vector<std::uint8_t>& file, tessary::Pixels& image) {
  if (file.size() < 33 || std::memcmp(file.data() + 12, "IHDR", 4) != 0) return false;
  const std::uint32_t width = be32(&file[16]);
  const std::uint32_t height = be32(&file[20]);
  const int channels = file[25] == 2 ? 3 : file[25] == 6 ? 4 : 0;
  if (file[24] != 8 || channels == 0 || file[28] != 0) return false;
  std::vector<std::uint8_t> idat;
  for (std::size_t at = 8; at + 12 <= file.size();) {
    const std::uint32_t length = be32(&file[at]);
    if (std::memcmp(&file[at + 4], "IDAT", 4) == 0) idat.insert(idat.end(), &file[at + 8], &file[at + 8] + length);
    at += 12 + length;
  }
  const std::size_t rowBytes = static_cast<std::size_t>(width) * channels;
  std::vector<std::uint8_t> raw((rowBytes + 1) * height);
  uLongf rawLength = raw.size();
  if (uncompress(raw.data(), &rawLength, idat.data(), idat.size()) != Z_OK || rawLength != raw.size()) return false;
  image.width = width;
  image.height = height;
  image.bgra.assign(static_cast<std::size_t>(width) * height * 4, 255);
  std::vector<std::uint8_t> row(rowBytes), prev(rowBytes, 0);
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t filter = raw[(rowBytes + 1) * y];
    const std::uint8_t* in = &raw[(rowBytes + 1) * y + 1];
    for (std::size_t i = 0; i < rowBytes; ++i) {
      const int a = i >= static_cast<std::size_t>(channels) ? row[i - channels] : 0;
      const int b = prev[i];
      const int c = i >= static_cast<std::size_t>(channels) ? prev[i - channels] : 0;
      const int p = filter == 0 ? 0 : filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2 : paeth(a, b, c);
      row[i] = static_cast<std::uint8_t>(in[i] + p);
    }
    std::uint8_t* out = &image.bgra[static_cast<std::size_t>(y) * width * 4];
    for (std::uint32_t x = 0; x < width; ++x) {
      out[x * 4 + 0] = row[x * channels + 2];
      out[x * 4 + 1] = row[x * channels + 1];
      out[x * 4 + 2] = row[x * channels + 0];
      if (channels == 4) out[x * 4 + 3] = row[x * channels + 3];
    }
    std::swap(row, prev);
  }
  return true;
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: display_levels_bench <png> [repeats]\n");
    return 2;
  }
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  tessary::Pixels image;
  auto start = std::chrono::steady_clock::now();
  if (!decodePng(file, image)) {
    std::fprintf(stderr, "display_levels_bench: cannot decode %s\n", argv[1]);
    return 1;
  }
  std::printf("image %u x %u, %zu bytes of pixels (decoded in %.0f ms with zlib)\n", image.width, image.height,
              image.bgra.size(), millisecondsSince(start));

  for (const auto& [minimumWidth, minimumHeight] :
       {std::pair<std::uint32_t, std::uint32_t>{tessary::kDisplayLevelMinimumSide, tessary::kDisplayLevelMinimumSide},
        {1300, 850}}) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
      image.displayLevels.clear();
      start = std::chrono::steady_clock::now();
      tessary::buildDisplayLevels(image, minimumWidth, minimumHeight);
      times.push_back(millisecondsSince(start));
    }
    std::sort(times.begin(), times.end());
    std::size_t bytes = 0;
    std::string sizes;
    for (const tessary::DisplayLevel& level : image.displayLevels) {
      bytes += level.bgra.size();
      sizes.append(" ").append(std::to_string(level.width)).append("x").append(std::to_string(level.height));
    }
    std::printf("levels down to %u x %u:%s\n  build: median %.0f ms, best %.0f ms, worst %.0f ms (%d runs)\n"
                "  memory: %zu bytes, %.1f MB, %.2f %% of the pixels\n",
                minimumWidth, minimumHeight, sizes.c_str(), times[times.size() / 2], times.front(), times.back(),
                repeats, bytes, bytes / 1e6, 100.0 * bytes / image.bgra.size());
  }
  return 0;
}

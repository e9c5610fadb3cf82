// Writes the three self-test images of the program's resources:
//   test_image_generator <jpeg-path> <bmp-path> <tiff-path>
// a 16 x 12 baseline JPEG, a 24-bit BMP and an uncompressed little-endian RGB TIFF
// of the gradient whose pixel (x, y) is blue 180, green 17 * y, red 13 * x.
#include <cstdio>
#include <fstream>
#include <vector>

#include "test_image_bytes.h"

namespace {

bool writeFile(const char* path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "test_image_generator: cannot write %s\n", path);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: test_image_generator <jpeg> <bmp> <tiff>\n");
    return 2;
  }
  using namespace tessary::testimages;
  const RgbImage gradient = gradientImage(16, 12);
  const bool ok = writeFile(argv[1], encodeBaselineJpeg(gradient, 90)) &&
                  writeFile(argv[2], encodeBmp24(gradient)) &&
                  writeFile(argv[3], encodeTiffRgb({gradient}, false));
  return ok ? 0 : 1;
}

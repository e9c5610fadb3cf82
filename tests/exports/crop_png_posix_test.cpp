// The crop's PNG read back by ImageMagick (/usr/bin/convert), a decoder independent
// of the program and of the platform: the same bytes as the crop, alpha included.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "exports/crop_png.h"
#include "support/rules_session.h"

extern char** environ;

namespace tessary {
namespace {

namespace fs = std::filesystem;

using testing::TempFolder;

int run(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An image of smooth rows, noise and runs, with every kind of alpha.
Pixels mixed(std::uint32_t width, std::uint32_t height) {
  Pixels image;
  image.width = width;
  image.height = height;
  image.bgra.resize(static_cast<std::size_t>(width) * height * 4);
  std::uint32_t state = 88172645u;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      std::uint8_t* p = &image.bgra[(static_cast<std::size_t>(y) * width + x) * 4];
      switch ((y / 7) % 3) {
        case 0:  // smooth
          p[0] = static_cast<std::uint8_t>(x);
          p[1] = static_cast<std::uint8_t>(y * 3);
          p[2] = static_cast<std::uint8_t>(x + y);
          p[3] = 255;
          break;
        case 1:  // noise, alpha too
          for (int c = 0; c < 4; ++c) p[c] = static_cast<std::uint8_t>(state >> (8 * c));
          break;
        default:  // runs, transparent and half-transparent
          p[0] = 40;
          p[1] = static_cast<std::uint8_t>(x / 16);
          p[2] = 200;
          p[3] = static_cast<std::uint8_t>((x / 16) % 2 ? 0 : 128);
          break;
      }
    }
  }
  return image;
}

TEST(CropPng, ImageMagickDecodesTheCropsExactBytes) {
  TempFolder folder;
  struct Case {
    const char* name;
    std::uint32_t width, height;
    CropRect crop;
  };
  const Case cases[] = {
      {"one pixel", 9, 9, CropRect{8, 8, 1, 1}},
      {"one column", 40, 300, CropRect{13, 0, 1, 300}},
      {"one segment", 300, 200, CropRect{3, 5, 211, 77}},
      {"many segments", 1600, 1400, CropRect{31, 7, 1531, 1389}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Pixels image = mixed(c.width, c.height);
    const PngBytes png = cropPngBytes(image, c.crop, 2);
    const fs::path in = folder.path() / "crop.png";
    const fs::path out = folder.path() / "crop.rgba";
    {
      std::ofstream file(in, std::ios::binary);
      file.write(png.view().data(), static_cast<std::streamsize>(png.size()));
    }
    fs::remove(out);
    ASSERT_EQ(run({"/usr/bin/convert", in.string(), "-depth", "8", "rgba:" + out.string()}), 0);
    const std::string rgba = readAll(out);
    ASSERT_EQ(rgba.size(), static_cast<std::size_t>(c.crop.width) * c.crop.height * 4);
    std::size_t differing = 0;
    for (std::int32_t y = 0; y < c.crop.height; ++y) {
      for (std::int32_t x = 0; x < c.crop.width; ++x) {
        const std::uint8_t* source =
            &image.bgra[(static_cast<std::size_t>(c.crop.y + y) * image.width + c.crop.x + x) * 4];
        const auto* back = reinterpret_cast<const std::uint8_t*>(&rgba[(static_cast<std::size_t>(y) * c.crop.width + x) * 4]);
        differing += back[0] != source[2] || back[1] != source[1] || back[2] != source[0] || back[3] != source[3];
      }
    }
    EXPECT_EQ(differing, 0u) << "pixels that differ";
  }
}

TEST(CropPng, CropOutsideTheImageIsRefused) {
  const Pixels image = mixed(8, 6);
  for (const CropRect crop : {CropRect{6, 0, 3, 1}, CropRect{0, 0, 0, 2}, CropRect{-1, 0, 2, 2}, CropRect{0, 5, 8, 2}}) {
    try {
      (void)cropPngBytes(image, crop, 1);
      ADD_FAILURE() << "crop accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Crop limit");
    }
  }
}

}  // namespace
}  // namespace tessary

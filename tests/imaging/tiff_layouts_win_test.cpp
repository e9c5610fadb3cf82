// Ordinary TIFFs made by libtiff, ImageMagick and the tests' own writer in many
// layouts (tiles of 16, 24 and 256, strips, separate planes, LZW, Deflate, PackBits and
// none, 8 and 16 bits, both byte orders, with and without byte counts, a
// reduced-resolution first directory, JPEG): each opens in the desk with the pixels
// libtiff gives, or, where the platform's decoder cannot read the layout, is refused
// by that decoder (never by the walk before it). Prints one line per file:
//   <layout> <writer> desk=<outcome> libtiff=<what libtiff reads> <agreement>
// The files and libtiff's outcomes: tiff_layouts.h (make_tiff_layouts.sh).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "imaging/image_decoder_win.h"
#include "imaging/image_format.h"
#include "imaging/tiff_directory.h"
#include "imaging_test_support_win.h"
#include "tiff_layouts.h"

namespace tessary {
namespace {

using imagetest::kTiffLayoutFiles;
using imagetest::TiffLayoutFile;

// Layouts that Wine 8's TIFF decoder does not read (it refuses them while it
// initialises, as "Image operation failed"): separate planes (PlanarConfiguration 2,
// which it does not handle) and JPEG-compressed data (stored as YCbCr, which it does
// not convert). Windows' decoder may read them; then their pixels must agree as well.
bool decoderCannotRead(const std::string& name) {
  return name.find("planar2") != std::string::npos || name.find("jpeg") != std::string::npos;
}

// The first pixel that differs from the gradient, as text, or "" when all agree.
std::string firstDifference(const Pixels& pixels, bool grey) {
  for (std::uint32_t y = 0; y < pixels.height; ++y) {
    for (std::uint32_t x = 0; x < pixels.width; ++x) {
      const imagetest::Bgra p = imagetest::pixelAt(pixels, x, y);
      const int r = grey ? (13 * x + 17 * y) % 256 : (13 * x) % 256;
      const int g = grey ? r : (17 * y) % 256;
      const int b = grey ? r : 180;
      if (p.r != r || p.g != g || p.b != b || p.a != 255) {
        char text[96];
        std::snprintf(text, sizeof text, "(%u,%u) is %d,%d,%d,%d not %d,%d,%d,255", x, y, p.r, p.g, p.b, p.a, r,
                      g, b);
        return text;
      }
    }
  }
  return "";
}

TEST(TiffLayouts, OrdinaryTiffsOpenWithThePixelsLibtiffGives) {
  ASSERT_GE(kTiffLayoutFiles.size(), 40u);
  int agreed = 0;
  for (const TiffLayoutFile& file : kTiffLayoutFiles) {
    const std::string name = file.name;
    const std::uint8_t* data = file.bytes.data();
    const std::size_t size = file.bytes.size();
    // The walk before the decoder lets every file through that libtiff reads.
    const TiffDirectoryWalk walk = walkTiffFirstDirectory(data, size);
    EXPECT_EQ(tiffRefusalName(walk.refusal), std::string("None")) << name;

    std::string desk;
    std::string agreement;
    try {
      const std::shared_ptr<Pixels> pixels = decodeImage(data, size);
      desk = "opened " + std::to_string(pixels->width) + "x" + std::to_string(pixels->height);
      const std::string difference = firstDifference(*pixels, file.grey);
      if (std::string(file.libtiff) == "gradient") {
        agreement = difference.empty() ? "same pixels" : "DIFFERENT: " + difference;
        EXPECT_EQ(difference, "") << name;
        // libtiff's first directory is the size the walk read.
        ASSERT_TRUE(walk.size.has_value()) << name;
        EXPECT_EQ(pixels->width, walk.size->width) << name;
        EXPECT_EQ(pixels->height, walk.size->height) << name;
      } else {
        agreement = "lossy: not compared";
      }
      if (difference.empty()) ++agreed;
    } catch (const ImageError& error) {
      desk = std::string("refused (") + error.what() + ")";
      agreement = decoderCannotRead(name) ? "decoder cannot read (string 26)" : "DISAGREES";
      EXPECT_TRUE(decoderCannotRead(name)) << name << ": " << error.what();
      // Refused by the decoder, not by the checks before it.
      EXPECT_STREQ(error.what(), "Image operation failed") << name;
    }
    std::printf("%-38s %-7s desk=%-22s libtiff=%-8s %s\n", file.name, file.writer, desk.c_str(), file.libtiff,
                agreement.c_str());
  }
  std::printf("%d of %zu layouts opened with libtiff's pixels\n", agreed, kTiffLayoutFiles.size());
}

}  // namespace
}  // namespace tessary

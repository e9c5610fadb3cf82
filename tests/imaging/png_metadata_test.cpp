// Compressed ancillary PNG chunks (zTXt, compressed iTXt, iCCP) are measured before
// any decoder sees the file: what they inflate to, all together, may not pass
// kMaxInflatedPngMetadataBytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/image_format.h"
#include "imaging/pixels.h"
#include "imaging/png_metadata.h"
#include "png_writer.h"

namespace tessary {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kCap = kMaxInflatedPngMetadataBytes;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Chunk data whose text (or profile) is a zlib stream of `size` zero bytes.
Bytes zTXt(std::uint64_t size) { return concat({text("Comment"), {0, 0}, imagetest::zlibOfZeros(size)}); }
Bytes compressedITXt(std::uint64_t size) {
  return concat({text("XML:com.adobe.xmp"), {0, 1, 0}, text("en"), {0}, {0}, imagetest::zlibOfZeros(size)});
}
Bytes iCCP(std::uint64_t size) { return concat({text("profile"), {0, 0}, imagetest::zlibOfZeros(size)}); }

struct Chunk {
  const char* type;
  Bytes data;
};

// A 16 x 12 RGB PNG of zeros with `before` between its header chunk and its image
// data, and `after` between the image data and its end.
Bytes pngWith(const std::vector<Chunk>& before, const std::vector<Chunk>& after = {}) {
  Bytes png = imagetest::pngSignature();
  imagetest::appendPngChunk(png, "IHDR", imagetest::pngHeaderChunkData(16, 12, 8, 2));
  for (const Chunk& c : before) imagetest::appendPngChunk(png, c.type, c.data);
  imagetest::appendPngChunk(png, "IDAT", imagetest::zlibOfZeros(12 * (1 + 16 * 3)));
  for (const Chunk& c : after) imagetest::appendPngChunk(png, c.type, c.data);
  imagetest::appendPngChunk(png, "IEND", {});
  return png;
}

std::string headerCheck(const Bytes& data) {
  try {
    requireDeclaredSizeWithinLimits(data.data(), data.size(), ImageFormat::Png);
    return "accepted";
  } catch (const ImageError& error) {
    return error.what();
  }
}

TEST(PngMetadata, CompressedChunksAreBoundedTogetherBeforeTheDecoder) {
  const std::uint64_t third = kCap / 3;
  struct Case {
    const char* name;
    Bytes png;
    std::uint64_t counted;  // what pngInflatedMetadataBytes reports (with the cap given)
    const char* outcome;
  };
  const std::vector<Case> cases = {
      {"no text at all", pngWith({}), 0, "accepted"},
      {"zTXt at the cap", pngWith({{"zTXt", zTXt(kCap)}}), kCap, "accepted"},
      {"zTXt one byte past it", pngWith({{"zTXt", zTXt(kCap + 1)}}), kCap + 1, "Pixel limit"},
      {"compressed iTXt at the cap", pngWith({{"iTXt", compressedITXt(kCap)}}), kCap, "accepted"},
      {"compressed iTXt one byte past it", pngWith({{"iTXt", compressedITXt(kCap + 1)}}), kCap + 1, "Pixel limit"},
      {"iCCP one byte past it", pngWith({{"iCCP", iCCP(kCap + 1)}}), kCap + 1, "Pixel limit"},
      {"three zTXt summing to the cap", pngWith({{"zTXt", zTXt(third)}, {"zTXt", zTXt(third)}, {"zTXt", zTXt(kCap - 2 * third)}}),
       kCap, "accepted"},
      {"zTXt, iTXt and iCCP summing one past it",
       pngWith({{"zTXt", zTXt(third)}, {"iCCP", iCCP(third)}}, {{"iTXt", compressedITXt(kCap - 2 * third + 1)}}),
       kCap + 1, "Pixel limit"},
      {"zTXt after the image data, past the cap", pngWith({}, {{"zTXt", zTXt(kCap + 1)}}), kCap + 1, "Pixel limit"},
      // Text that is not compressed is not inflated by anyone: the file holds it.
      {"uncompressed iTXt past the cap",
       pngWith({{"iTXt", concat({text("Comment"), {0, 0, 0}, {0}, {0}, Bytes(kCap + 1, 'a')})}}), 0, "accepted"},
      {"tEXt past the cap", pngWith({{"tEXt", concat({text("Comment"), {0}, Bytes(kCap + 1, 'a')})}}), 0, "accepted"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pngInflatedMetadataBytes(c.png.data(), c.png.size(), kCap), c.counted) << c.name;
    EXPECT_EQ(headerCheck(c.png), c.outcome) << c.name;
  }
}

TEST(PngMetadata, CountingStopsSoonAfterTheCap) {
  // A 1 GiB stream (6.5 MB of file) is counted only until it passes the cap.
  const Bytes png = pngWith({{"zTXt", zTXt(std::uint64_t{1} << 30)}});
  const std::uint64_t counted = pngInflatedMetadataBytes(png.data(), png.size(), kCap);
  EXPECT_GT(counted, kCap);
  EXPECT_LE(counted, kCap + (64u << 10));  // at most one scratch buffer more
  EXPECT_EQ(headerCheck(png), "Pixel limit");
}

TEST(PngMetadata, DamagedAndCutChunksCountWhatTheyGive) {
  // A stream damaged half way counts what inflates before the damage.
  Bytes damaged = zTXt(kCap);
  damaged.resize(damaged.size() / 2);
  damaged.insert(damaged.end(), {0xFF, 0xFF, 0xFF, 0xFF});
  const Bytes damagedPng = pngWith({{"zTXt", damaged}});
  EXPECT_GT(pngInflatedMetadataBytes(damagedPng.data(), damagedPng.size(), ~std::uint64_t{0}), kCap / 4);
  EXPECT_EQ(headerCheck(damagedPng), "accepted");
  // A file cut inside its chunk still counts the part it holds.
  Bytes cut = pngWith({{"zTXt", zTXt(kCap * 4)}});
  const std::size_t chunkEnd = 33 + 12 + zTXt(kCap * 4).size();
  cut.resize(33 + 8 + (chunkEnd - 33 - 8) / 2);
  EXPECT_GT(pngInflatedMetadataBytes(cut.data(), cut.size(), kCap), kCap);
  // Fields cut short, a stream that is not zlib, and data that is not a PNG count 0.
  const Bytes shortFields = pngWith({{"zTXt", text("no zero byte")}, {"iTXt", concat({text("k"), {0}})},
                                     {"iCCP", concat({text("p"), {0}})}, {"zTXt", concat({text("k"), {0, 0}, text("plain")})}});
  EXPECT_EQ(pngInflatedMetadataBytes(shortFields.data(), shortFields.size(), kCap), 0u);
  EXPECT_EQ(headerCheck(shortFields), "accepted");
  EXPECT_EQ(pngInflatedMetadataBytes(nullptr, 0, kCap), 0u);
  const Bytes notPng = text("not an image");
  EXPECT_EQ(pngInflatedMetadataBytes(notPng.data(), notPng.size(), kCap), 0u);
}

}  // namespace
}  // namespace tessary

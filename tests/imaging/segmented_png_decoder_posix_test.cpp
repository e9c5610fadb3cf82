// The decoder of segmented PNG files against libpng, the reader underneath the
// platform's PNG decoders: on the built-in plate, on small files from the plate
// generator and on hand-made files (RGBA, every filter, many segments), the pixels
// are libpng's byte for byte; every file it must not take whole (an inconsistent
// mARK chunk, a damaged CRC or Adler-32, segments whose data does not match their
// rows, segments that lean on the one before) it refuses, so that the ordinary
// decoder reads it.
#include "imaging/segmented_png_decoder.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "imaging/libpng_reference.h"
#include "imaging/pixels.h"
#include "imaging/segmented_png_fixture.h"

#ifndef TESSARY_PLATE_GENERATOR
#error "TESSARY_PLATE_GENERATOR must name the generator program"
#endif
#ifndef TESSARY_NATIVE_PLATE
#error "TESSARY_NATIVE_PLATE must name the full-size plate the native build generates"
#endif

extern char** environ;

namespace tessary {
namespace {

namespace fs = std::filesystem;
using imagetest::chunkOf;
using imagetest::fixCrc;
using imagetest::libpngBgra;
using imagetest::patternPixels;
using imagetest::SegmentedPngOptions;
using imagetest::segmentedPng;

std::vector<std::uint8_t> readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A small plate made by the build's generator, with its own arguments.
std::vector<std::uint8_t> generatedPlate(const std::vector<std::string>& arguments) {
  const fs::path out = fs::temp_directory_path() / ("tessary-segmented-" + std::to_string(::getpid()) + ".png");
  std::vector<std::string> all = {TESSARY_PLATE_GENERATOR, "--quiet", "--out", out.string()};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int status = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0) waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::vector<std::uint8_t> bytes = readAll(out);
  std::error_code ignored;
  fs::remove(out, ignored);
  return bytes;
}

// The decoder's pixels, or none when it does not take the file whole.
std::optional<PixelBytes> decodeSegmented(const std::vector<std::uint8_t>& file, unsigned workers,
                                          const PngWorkerStart& start = {}) {
  const std::optional<SegmentedPng> png = findPngSegments(file.data(), file.size());
  if (!png) return std::nullopt;
  PixelBytes bgra;
  bgra.resize(static_cast<std::size_t>(png->width) * png->height * 4);
  if (!decodePngSegments(*png, bgra.data(), workers, start)) return std::nullopt;
  return bgra;
}

// The decoder takes the file and gives libpng's pixels, with any number of workers.
void expectLibpngPixels(const std::vector<std::uint8_t>& file, std::uint32_t width, std::uint32_t height,
                        const std::vector<unsigned>& workerCounts = {1, 2, 5}) {
  const auto reference = libpngBgra(file.data(), file.size());
  ASSERT_TRUE(reference.has_value()) << "libpng refuses the file";
  ASSERT_EQ(reference->width, width);
  ASSERT_EQ(reference->height, height);
  const std::optional<SegmentedPng> png = findPngSegments(file.data(), file.size());
  ASSERT_TRUE(png.has_value()) << "the decoder does not take the file";
  EXPECT_EQ(png->width, width);
  EXPECT_EQ(png->height, height);
  for (unsigned workers : workerCounts) {
    SCOPED_TRACE(::testing::Message() << workers << " workers");
    const auto pixels = decodeSegmented(file, workers);
    ASSERT_TRUE(pixels.has_value());
    ASSERT_EQ(pixels->size(), reference->bgra.size());
    EXPECT_TRUE(std::equal(pixels->begin(), pixels->end(), reference->bgra.begin()));
  }
}

TEST(SegmentedPngDecoder, BuiltInPlateGivesLibpngsPixels) {
  const std::vector<std::uint8_t> plate = readAll(TESSARY_NATIVE_PLATE);
  ASSERT_FALSE(plate.empty()) << TESSARY_NATIVE_PLATE;
  const std::optional<SegmentedPng> png = findPngSegments(plate.data(), plate.size());
  ASSERT_TRUE(png.has_value());
  EXPECT_EQ(png->channels, 3u);
  EXPECT_EQ(png->segments.size(), 64u);
  expectLibpngPixels(plate, 14575, 8441, {pngDecodeWorkers(png->segments.size())});
}

TEST(SegmentedPngDecoder, GeneratedPlatesOfOneAndManySegmentsGiveLibpngsPixels) {
  struct Case {
    const char* name;
    std::uint32_t width, height;
    std::vector<std::string> arguments;
    std::size_t segments;
  };
  const Case cases[] = {
      {"one segment", 301, 97, {"--segments", "1"}, 1},
      // 360 rows in 64 segments: 5 rows each, the first 45.
      {"64 segments", 640, 360, {}, 64},
      // 203 rows in 8 segments: 25 rows each, the first 28.
      {"uneven segments", 257, 203, {"--segments", "8"}, 8},
      // One row a segment below the first two.
      {"as many segments as the height allows", 90, 40, {"--segments", "39"}, 39},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> arguments = {"--width", std::to_string(c.width), "--height", std::to_string(c.height)};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const std::vector<std::uint8_t> file = generatedPlate(arguments);
    const std::optional<SegmentedPng> png = findPngSegments(file.data(), file.size());
    ASSERT_TRUE(png.has_value());
    ASSERT_EQ(png->segments.size(), c.segments);
    EXPECT_EQ(png->segments.back().firstRow + png->segments.back().rows, c.height);
    expectLibpngPixels(file, c.width, c.height);
  }
}

TEST(SegmentedPngDecoder, RgbaAndEveryFilterGiveLibpngsPixels) {
  for (std::uint32_t channels : {3u, 4u}) {
    SCOPED_TRACE(::testing::Message() << channels << " channels");
    SegmentedPngOptions o;
    o.width = 61;
    o.height = 45;
    o.channels = channels;
    o.pixels = patternPixels(o.width, o.height, channels);
    o.segments = 7;  // 6 rows each, the first 9
    o.text = {{"Title", "fixture"}};
    expectLibpngPixels(segmentedPng(o), o.width, o.height);
    // The last segment's data may hold a single short row.
    o.width = 1;
    o.height = 2;
    o.pixels = patternPixels(1, 2, channels);
    o.segments = 1;
    expectLibpngPixels(segmentedPng(o), 1, 2);
  }
}

TEST(SegmentedPngDecoder, HandMadeBlocksOfFixedCodesGiveLibpngsPixels) {
  // The hand-made blocks of a refusal below, in one segment: a proper stream, so the
  // refusal is the segments' doing, not the blocks'.
  SegmentedPngOptions o;
  o.width = 40;
  o.height = 3;
  o.pixels = patternPixels(o.width, o.height, 3, 5);
  for (std::uint8_t& p : o.pixels) p = static_cast<std::uint8_t>(p % 140);
  o.filter = [](std::uint32_t, bool) -> std::uint8_t { return 0; };
  o.segments = 1;
  o.segmentEnd = SegmentedPngOptions::SegmentEnd::Unaligned;
  expectLibpngPixels(segmentedPng(o), o.width, o.height);
}

SegmentedPngOptions smallRgb() {
  SegmentedPngOptions o;
  o.width = 40;
  o.height = 30;
  o.pixels = patternPixels(o.width, o.height, 3, 5);
  o.segments = 4;  // 7 rows each, the first 9
  return o;
}

// Segments of hand-made fixed-code blocks that end inside their last byte. Bytes
// below 144 take 8 bits, the others 9: a block of n bytes of the first kind ends 10
// bits past a byte boundary (6 bits unused, which a reader of the whole stream takes
// for the next block's header); 4 bytes of the second kind in each segment move the
// end to 2 bits short of the byte (fewer than a block header needs).
std::vector<std::uint8_t> unalignedSegments(bool twoBitsShort) {
  SegmentedPngOptions o = smallRgb();
  for (std::uint8_t& p : o.pixels) p = static_cast<std::uint8_t>(p % 140);
  if (twoBitsShort) {
    for (std::uint32_t y : {0u, 9u, 16u, 23u}) {  // the segments' first rows
      for (std::size_t i = 0; i < 4; ++i) o.pixels[static_cast<std::size_t>(y) * o.width * 3 + i] = 200;
    }
  }
  o.filter = [](std::uint32_t, bool) -> std::uint8_t { return 0; };
  o.segmentEnd = SegmentedPngOptions::SegmentEnd::Unaligned;
  return segmentedPng(o);
}

std::vector<std::uint8_t> withByteChanged(std::vector<std::uint8_t> png, std::size_t at) {
  png[at] ^= 0x01;
  return png;
}

struct Refused {
  const char* name;
  std::function<std::vector<std::uint8_t>()> make;
  bool libpngReadsIt;  // an ordinary PNG: only the segments are out of line
};

TEST(SegmentedPngDecoder, RefusesWhatItCannotDecodeWholeAndAlone) {
  const std::vector<std::uint8_t> good = segmentedPng(smallRgb());
  ASSERT_TRUE(decodeSegmented(good, 2).has_value());
  const Refused cases[] = {
      {"no mARK chunk", [] { auto o = smallRgb(); o.mark = false; return segmentedPng(o); }, true},
      {"mARK counts more segments than IDAT chunks",
       [] { auto o = smallRgb(); o.markData = {0, 1, 0, 0, 0, 5}; return segmentedPng(o); },
       true},
      {"mARK counts fewer segments than IDAT chunks",
       [] { auto o = smallRgb(); o.markData = {0, 1, 0, 0, 0, 3}; return segmentedPng(o); }, true},
      {"mARK of segmentation type 0 (offsets)",
       [] { auto o = smallRgb(); o.markData = {0, 0, 0, 0, 0, 4}; return segmentedPng(o); }, true},
      {"mARK of an unknown method", [] { auto o = smallRgb(); o.markData = {1, 1, 0, 0, 0, 4}; return segmentedPng(o); },
       true},
      {"mARK with as many segments as rows",
       [] {
         auto o = smallRgb();
         o.height = 4;
         o.pixels.resize(40 * 3 * 4);
         o.markData = {0, 1, 0, 0, 0, 4};
         o.segmentRows = {1, 1, 1, 1};
         return segmentedPng(o);
       },
       true},
      {"mARK counting far more segments than the file has room for",
       [good] {
         // A tall image (the limits are the caller's) whose mARK counts nearly one
         // segment a row: nothing may be sized by the count before the chunks are seen.
         auto png = good;
         const auto header = chunkOf(png, "IHDR");
         png[header.offset + 8 + 4] = 0x7F;
         png[header.offset + 8 + 5] = 0xFF;
         png[header.offset + 8 + 6] = 0xFF;
         png[header.offset + 8 + 7] = 0xFE;
         fixCrc(png, header);
         const auto mark = chunkOf(png, "mARK");
         png[mark.offset + 8 + 2] = 0x7F;
         png[mark.offset + 8 + 3] = 0xFF;
         png[mark.offset + 8 + 4] = 0xFF;
         png[mark.offset + 8 + 5] = 0xF0;
         fixCrc(png, mark);
         return png;
       },
       false},
      {"mARK of the wrong length",
       [] { auto o = smallRgb(); o.markData = {0, 1, 0, 0, 0, 4, 0, 0, 0, 0}; return segmentedPng(o); }, true},
      {"segments whose rows are not the extension's division",
       [] { auto o = smallRgb(); o.segmentRows = {8, 8, 7, 7}; return segmentedPng(o); }, true},
      {"a middle segment holding a row more than its share",
       [] {
         auto o = smallRgb();
         o.segmentRows = {9, 8, 7, 7};  // 31 rows of data for 30 rows of image
         o.pixels = patternPixels(o.width, 31, 3, 5);
         return segmentedPng(o);
       },
       true},
      {"a middle segment holding a row more than its share, outside the Adler-32",
       [] {
         // The stream's check value agrees with the rows each segment should hold:
         // only the segment's own length shows the extra row.
         auto o = smallRgb();
         o.segmentRows = {9, 8, 7, 7};
         o.pixels = patternPixels(o.width, 31, 3, 5);
         o.rowOutsideAdler = 16;  // the second segment's last row
         return segmentedPng(o);
       },
       false},
      {"a segment's first row filtered with Up",
       [] {
         auto o = smallRgb();
         o.filter = [](std::uint32_t y, bool first) -> std::uint8_t { return first && y > 0 ? 2 : 1; };
         return segmentedPng(o);
       },
       true},
      {"a segment's first row filtered with Paeth",
       [] {
         auto o = smallRgb();
         o.filter = [](std::uint32_t y, bool first) -> std::uint8_t { return first && y > 0 ? 4 : 0; };
         return segmentedPng(o);
       },
       true},
      {"segments that share one deflate window",
       [] {
         auto o = smallRgb();
         // Rows repeating every 3 rows, all filtered alike: the compressor finds its
         // matches in the previous segment too.
         for (std::size_t i = 0; i < o.pixels.size(); ++i) o.pixels[i] = static_cast<std::uint8_t>((i % 360) * 7);
         o.filter = [](std::uint32_t, bool) -> std::uint8_t { return 0; };
         o.sharedWindow = true;
         return segmentedPng(o);
       },
       true},
      {"segments that each end the deflate stream",
       [] { auto o = smallRgb(); o.segmentEnd = SegmentedPngOptions::SegmentEnd::StreamEnd; return segmentedPng(o); },
       false},
      {"segments that end inside a byte, 6 bits short of it", [] { return unalignedSegments(false); }, false},
      {"segments that end inside a byte, 2 bits short of it", [] { return unalignedSegments(true); }, false},
      {"a damaged CRC of an IDAT chunk",
       [good] { return withByteChanged(good, chunkOf(good, "IDAT", 2).offset + 8 + chunkOf(good, "IDAT", 2).length); },
       false},
      {"a damaged CRC of the mARK chunk",
       [good] { return withByteChanged(good, chunkOf(good, "mARK").offset + 8 + 6); }, true},
      {"a damaged Adler-32",
       [good] {
         auto png = good;
         const auto last = chunkOf(png, "IDAT", 3);
         png[last.offset + 8 + last.length - 1] ^= 0x01;
         fixCrc(png, last);
         return png;
       },
       false},
      {"an unknown filter type",
       [] {
         auto o = smallRgb();
         o.filter = [](std::uint32_t y, bool) -> std::uint8_t { return y == 20 ? 5 : 0; };
         return segmentedPng(o);
       },
       false},
      {"a zlib header asking for a smaller window",
       [good] {
         auto png = good;
         const auto first = chunkOf(png, "IDAT", 0);
         png[first.offset + 8] = 0x68;      // 8 KiB window
         png[first.offset + 9] = 0x81;      // (0x68 * 256 + 0x81) % 31 == 0
         fixCrc(png, first);
         return png;
       },
       true},
      {"a chunk that changes pixels (tRNS)",
       [good] {
         std::vector<std::uint8_t> png(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(chunkOf(good, "mARK").offset));
         const std::uint8_t key[6] = {0, 1, 0, 2, 0, 3};
         imagetest::appendChunk(png, "tRNS", key, sizeof key);
         png.insert(png.end(), good.begin() + static_cast<std::ptrdiff_t>(chunkOf(good, "mARK").offset), good.end());
         return png;
       },
       true},
      {"bytes after IEND",
       [good] {
         auto png = good;
         png.push_back(0);
         return png;
       },
       true},
      {"data cut short", [good] { return std::vector<std::uint8_t>(good.begin(), good.end() - 20); }, false},
      {"16 bits a channel",
       [good] {
         auto png = good;
         png[8 + 8 + 8] = 16;
         fixCrc(png, chunkOf(png, "IHDR"));
         return png;
       },
       false},
      {"interlaced",
       [good] {
         auto png = good;
         png[8 + 8 + 12] = 1;
         fixCrc(png, chunkOf(png, "IHDR"));
         return png;
       },
       false},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> file = c.make();
    EXPECT_FALSE(decodeSegmented(file, 2).has_value());
    EXPECT_FALSE(decodeSegmented(file, 1).has_value());
    if (c.libpngReadsIt) {
      EXPECT_TRUE(libpngBgra(file.data(), file.size()).has_value()) << "the fixture is no ordinary PNG";
    }
  }
}

TEST(SegmentedPngDecoder, AWorkerThatCannotStartMakesTheWholeDecodeFail) {
  SegmentedPngOptions o = smallRgb();
  o.segments = 12;
  o.height = 60;
  o.pixels = patternPixels(o.width, o.height, 3);
  const std::vector<std::uint8_t> file = segmentedPng(o);
  std::atomic<int> started{0};
  // The first worker starts, the second cannot: the started one is waited for and
  // the decode reports failure.
  const PngWorkerStart secondFails = [&started](std::function<void()> work) {
    if (started.fetch_add(1) == 1) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(work));
  };
  EXPECT_FALSE(decodeSegmented(file, 3, secondFails).has_value());
  EXPECT_EQ(started.load(), 2);
  // Started as asked, the same workers decode it.
  const PngWorkerStart plain = [](std::function<void()> work) { return std::thread(std::move(work)); };
  const auto pixels = decodeSegmented(file, 3, plain);
  ASSERT_TRUE(pixels.has_value());
  const auto reference = libpngBgra(file.data(), file.size());
  ASSERT_TRUE(reference.has_value());
  EXPECT_TRUE(std::equal(pixels->begin(), pixels->end(), reference->bgra.begin()));
}

TEST(SegmentedPngDecoder, SegmentsThatDoNotTileTheImageAreRefusedWithoutAWrite) {
  const std::vector<std::uint8_t> file = segmentedPng(smallRgb());
  const std::optional<SegmentedPng> found = findPngSegments(file.data(), file.size());
  ASSERT_TRUE(found.has_value());
  // A layout made by hand rather than found: one row too many, rows that overlap, a
  // gap. The buffer is exactly the image: a write past it would be caught.
  const std::vector<std::function<void(SegmentedPng&)>> damage = {
      [](SegmentedPng& p) { p.segments.back().rows += 1; },
      [](SegmentedPng& p) { p.segments[2].firstRow -= 1; },
      [](SegmentedPng& p) { p.segments[1].firstRow += 1; p.segments[1].rows -= 1; },
      [](SegmentedPng& p) { p.segments[0].rows = 0; },
  };
  for (std::size_t i = 0; i < damage.size(); ++i) {
    SegmentedPng png = *found;
    damage[i](png);
    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(png.width) * png.height * 4, 0x5A);
    EXPECT_FALSE(decodePngSegments(png, bgra.data(), 2)) << i;
    EXPECT_TRUE(std::all_of(bgra.begin(), bgra.end(), [](std::uint8_t b) { return b == 0x5A; })) << i;
  }
}

TEST(SegmentedPngDecoder, TellsOfEveryRowOnceWithItsSegmentInOrder) {
  SegmentedPngOptions o = smallRgb();  // 30 rows: 9, 7, 7, 7
  const std::vector<std::uint8_t> file = segmentedPng(o);
  const auto png = findPngSegments(file.data(), file.size());
  ASSERT_TRUE(png.has_value());
  std::mutex mutex;
  std::vector<int> told(o.height, 0);
  std::vector<std::uint32_t> segmentOf(o.height, 0);
  bool inOrder = true;
  std::vector<std::uint32_t> lastInSegment(o.height, 0);
  PixelBytes bgra;
  bgra.resize(static_cast<std::size_t>(o.width) * o.height * 4);
  const PngRowWritten written = [&](std::uint32_t row, std::uint32_t first) {
    std::lock_guard<std::mutex> lock(mutex);
    // The row's pixels are there when it is told.
    const auto reference = libpngBgra(file.data(), file.size());
    inOrder = inOrder && row >= first && (row == first || lastInSegment[first] == row - 1) &&
              std::equal(bgra.begin() + static_cast<std::ptrdiff_t>(row) * o.width * 4,
                         bgra.begin() + static_cast<std::ptrdiff_t>(row + 1) * o.width * 4,
                         reference->bgra.begin() + static_cast<std::ptrdiff_t>(row) * o.width * 4);
    lastInSegment[first] = row;
    ++told[row];
    segmentOf[row] = first;
  };
  ASSERT_TRUE(decodePngSegments(*png, bgra.data(), 3, {}, written));
  EXPECT_TRUE(inOrder);
  for (std::uint32_t row = 0; row < o.height; ++row) {
    EXPECT_EQ(told[row], 1) << row;
    EXPECT_EQ(segmentOf[row], row < 9 ? 0u : 9 + (row - 9) / 7 * 7) << row;
  }
}

TEST(SegmentedPngDecoder, WorkersAreOneACoreWithinTheCaps) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  EXPECT_EQ(pngDecodeWorkers(64), std::min(cores, kMaxPngDecodeWorkers));
  EXPECT_EQ(pngDecodeWorkers(1), 1u);
  EXPECT_EQ(pngDecodeWorkers(0), 1u);
}

TEST(SegmentedPngDecoder, CombinedAdlerIsTheAdlerOfTheWhole) {
  std::vector<std::uint8_t> data(200000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
  for (std::size_t split : {std::size_t{0}, std::size_t{1}, std::size_t{65521}, std::size_t{70000}, data.size()}) {
    const auto whole = static_cast<std::uint32_t>(adler32(1L, data.data(), static_cast<uInt>(data.size())));
    const auto a = static_cast<std::uint32_t>(adler32(1L, data.data(), static_cast<uInt>(split)));
    const auto b = static_cast<std::uint32_t>(adler32(1L, data.data() + split, static_cast<uInt>(data.size() - split)));
    EXPECT_EQ(combineAdler32(a, b, data.size() - split), whole) << split;
  }
  // A length beyond 32 bits: the same as zlib's combine of the length modulo 65521
  // times anything (zlib reduces it the same way).
  EXPECT_EQ(combineAdler32(0x12345678u, 1u, 65521ull * 100000), combineAdler32(0x12345678u, 1u, 0));
}

}  // namespace
}  // namespace tessary

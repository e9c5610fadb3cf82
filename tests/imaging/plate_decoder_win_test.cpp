// The built-in plate's decode against the ordinary decoder (WIC): on the plate the
// built program carries, the parallel decode gives WIC's whole BGRA buffer byte for
// byte; a plate without segments (as an official plate built in with
// TESSARY_PLATE_PNG is) and every file the parallel decoder must not take go
// through WIC with its pixels and its failures; a worker that cannot start sends
// the plate there too; a digest already known is taken as it is.
#include "imaging/plate_decoder_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "imaging/display_levels.h"
#include "imaging/image_decoder_win.h"
#include "imaging/image_format.h"
#include "imaging/imaging_test_support_win.h"
#include "imaging/plate_identity.h"
#include "imaging/plate_resource_win.h"
#include "imaging/segmented_png_decoder.h"
#include "imaging/segmented_png_fixture.h"
#include "imaging/sha256_win.h"

namespace tessary {
namespace {

using imagetest::builtProgramPath;
using imagetest::chunkOf;
using imagetest::fixCrc;
using imagetest::imageErrorOf;
using imagetest::loadBuiltProgramResources;
using imagetest::ModuleHandle;
using imagetest::patternPixels;
using imagetest::SegmentedPngOptions;
using imagetest::segmentedPng;

// Starts workers as threads and counts them.
struct CountingStart {
  std::shared_ptr<std::atomic<int>> started = std::make_shared<std::atomic<int>>(0);
  PngWorkerStart start() const {
    auto counter = started;
    return [counter](std::function<void()> work) {
      ++*counter;
      return std::thread(std::move(work));
    };
  }
};

// What a decode gives: its pixels, or its failure's text.
struct Outcome {
  std::string error;  // "no error" when it succeeded
  std::shared_ptr<Pixels> image;
};

Outcome outcomeOf(const std::function<std::shared_ptr<Pixels>()>& decode) {
  Outcome outcome;
  outcome.error = imageErrorOf([&] { outcome.image = decode(); });
  return outcome;
}

// Both decodes end alike: the same failure, or the same size, digest and pixels.
void expectSameOutcome(const Outcome& plate, const Outcome& ordinary) {
  ASSERT_EQ(plate.error, ordinary.error);
  if (!ordinary.image) return;
  ASSERT_NE(plate.image, nullptr);
  EXPECT_EQ(plate.image->width, ordinary.image->width);
  EXPECT_EQ(plate.image->height, ordinary.image->height);
  EXPECT_EQ(plate.image->sha256, ordinary.image->sha256);
  ASSERT_EQ(plate.image->bgra.size(), ordinary.image->bgra.size());
  EXPECT_TRUE(std::equal(plate.image->bgra.begin(), plate.image->bgra.end(), ordinary.image->bgra.begin()))
      << "the pixels differ";
  EXPECT_NE(plate.image->bitmap, nullptr);
}

// A parallel decode brings its display levels: those buildDisplayLevels makes of the
// same pixels, byte for byte.
void expectTheLevelsOfItsPixels(const Pixels& image) {
  Pixels again;
  again.width = image.width;
  again.height = image.height;
  again.bgra = image.bgra;
  buildDisplayLevels(again);
  ASSERT_EQ(image.displayLevels.size(), again.displayLevels.size());
  for (std::size_t i = 0; i < again.displayLevels.size(); ++i) {
    EXPECT_EQ(image.displayLevels[i].width, again.displayLevels[i].width);
    EXPECT_EQ(image.displayLevels[i].height, again.displayLevels[i].height);
    EXPECT_TRUE(image.displayLevels[i].bgra == again.displayLevels[i].bgra) << "level " << i;
  }
}

// The bytes without their mARK chunk: the same image as a plain PNG.
std::vector<std::uint8_t> withoutMark(const std::uint8_t* bytes, std::size_t count) {
  std::vector<std::uint8_t> all(bytes, bytes + count);
  const imagetest::ChunkAt mark = chunkOf(all, "mARK");
  std::vector<std::uint8_t> plain(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(mark.offset));
  plain.insert(plain.end(), all.begin() + static_cast<std::ptrdiff_t>(mark.offset + 12 + mark.length), all.end());
  return plain;
}

TEST(PlateDecoder, EmbeddedPlateGivesTheOrdinaryDecodersPixelsByteForByte) {
  if (!std::filesystem::exists(builtProgramPath())) {
    GTEST_SKIP() << builtProgramPath().string() << " is not built yet";
  }
  DWORD error = 0;
  const ModuleHandle module = loadBuiltProgramResources(error);
  ASSERT_NE(module, nullptr) << "error " << error;
  const PlateBytes plate = plateResourceBytes(module.get());
  ASSERT_EQ(plate.size, kPlateSize);
  const std::optional<SegmentedPng> segments = findPngSegments(plate.data, plate.size);
  ASSERT_TRUE(segments.has_value()) << "the embedded plate is not cut into segments";
  EXPECT_EQ(segments->segments.size(), 64u);

  CountingStart counting;
  const Outcome parallel = outcomeOf([&] { return decodePlateBytes(plate.data, plate.size, nullptr, counting.start()); });
  ASSERT_EQ(parallel.error, "no error");
  // The parallel decode ran: one worker besides this thread on each further core.
  EXPECT_EQ(*counting.started, static_cast<int>(pngDecodeWorkers(segments->segments.size())) - 1);
  EXPECT_EQ(parallel.image->width, 14575u);
  EXPECT_EQ(parallel.image->height, 8441u);
  EXPECT_EQ(parallel.image->sha256, kPlateSha256);
  EXPECT_EQ(parallel.image->displayLevels.size(), 7u);
  expectTheLevelsOfItsPixels(*parallel.image);
  {
    const Outcome ordinary = outcomeOf([&] { return decodeImage(plate.data, plate.size); });
    expectSameOutcome(parallel, ordinary);
  }
  // The same image as a plain PNG, as a plate built in with TESSARY_PLATE_PNG may
  // be: no segments, so no worker; the ordinary decoder gives the same pixels.
  const std::vector<std::uint8_t> plain = withoutMark(plate.data, plate.size);
  CountingStart none;
  const Outcome ordinaryPlain = outcomeOf([&] { return decodePlateBytes(plain.data(), plain.size(), nullptr, none.start()); });
  EXPECT_EQ(*none.started, 0);
  ASSERT_EQ(ordinaryPlain.error, "no error");
  EXPECT_EQ(ordinaryPlain.image->sha256, sha256Hex(plain.data(), plain.size()));
  ASSERT_EQ(ordinaryPlain.image->bgra.size(), parallel.image->bgra.size());
  EXPECT_TRUE(std::equal(ordinaryPlain.image->bgra.begin(), ordinaryPlain.image->bgra.end(),
                         parallel.image->bgra.begin()));
}

SegmentedPngOptions smallRgb(std::uint32_t channels = 3) {
  SegmentedPngOptions o;
  o.width = 40;
  o.height = 30;
  o.channels = channels;
  o.pixels = patternPixels(o.width, o.height, channels, 9);
  o.segments = 4;
  return o;
}

struct Case {
  const char* name;
  std::vector<std::uint8_t> bytes;
  bool parallel;  // the parallel decoder takes it whole
};

TEST(PlateDecoder, EveryFileGivesWhatTheOrdinaryDecoderGives) {
  const std::vector<std::uint8_t> good = segmentedPng(smallRgb());
  std::vector<Case> cases;
  cases.push_back({"segmented RGB", good, true});
  cases.push_back({"segmented RGBA", segmentedPng(smallRgb(4)), true});
  {
    // Large enough for display levels, in segments of odd and even heights.
    SegmentedPngOptions o;
    o.width = 301;
    o.height = 141;
    o.pixels = patternPixels(o.width, o.height, 3, 2);
    o.segments = 9;  // 15 rows each, the first 21
    cases.push_back({"segmented RGB with display levels", segmentedPng(o), true});
  }
  {
    auto o = smallRgb();
    o.mark = false;
    cases.push_back({"a plain PNG, no mARK chunk", segmentedPng(o), false});
  }
  {
    auto o = smallRgb();
    o.markData = {0, 1, 0, 0, 0, 3};
    cases.push_back({"mARK counting fewer segments than there are", segmentedPng(o), false});
  }
  {
    auto o = smallRgb();
    o.segmentRows = {8, 8, 7, 7};
    cases.push_back({"segments of the wrong raw length", segmentedPng(o), false});
  }
  {
    auto o = smallRgb();
    o.filter = [](std::uint32_t y, bool first) -> std::uint8_t { return first && y > 0 ? 4 : 2; };
    cases.push_back({"a segment's first row needing the row above", segmentedPng(o), false});
  }
  {
    auto png = good;
    const auto idat = chunkOf(png, "IDAT", 1);
    png[idat.offset + 8 + idat.length] ^= 0x40;
    cases.push_back({"a damaged CRC of an IDAT chunk", png, false});
  }
  {
    auto png = good;
    const auto last = chunkOf(png, "IDAT", 3);
    png[last.offset + 8 + last.length - 2] ^= 0x10;
    fixCrc(png, last);
    cases.push_back({"a damaged Adler-32", png, false});
  }
  {
    // Beyond the pixel limits (20,001 pixels wide): refused before any pixel memory.
    SegmentedPngOptions o;
    o.width = 20001;
    o.height = 2;
    o.pixels.assign(20001u * 3 * 2, 7);
    o.segments = 1;
    cases.push_back({"too wide", segmentedPng(o), false});
  }
  cases.push_back({"no bytes", {}, false});
  cases.push_back({"not an image", imagetest::bytesOf("not an image"), false});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.bytes.size() > 8) {
      const auto png = findPngSegments(c.bytes.data(), c.bytes.size());
      PixelBytes scratch;
      if (png) scratch.resize(static_cast<std::size_t>(png->width) * png->height * 4);
      EXPECT_EQ(png.has_value() && withinPixelLimits(png->width, png->height) && decodePngSegments(*png, scratch.data(), 2),
                c.parallel);
    }
    const Outcome plate = outcomeOf([&] { return decodePlateBytes(c.bytes.data(), c.bytes.size()); });
    const Outcome ordinary = outcomeOf([&] { return decodeImage(c.bytes.data(), c.bytes.size()); });
    expectSameOutcome(plate, ordinary);
    if (c.parallel && plate.image) expectTheLevelsOfItsPixels(*plate.image);
  }
}

TEST(PlateDecoder, AWorkerThatCannotStartSendsThePlateToTheOrdinaryDecoder) {
  SegmentedPngOptions o = smallRgb();
  o.height = 64;
  o.segments = 16;
  o.pixels = patternPixels(o.width, o.height, 3, 4);
  const std::vector<std::uint8_t> bytes = segmentedPng(o);
  const auto png = findPngSegments(bytes.data(), bytes.size());
  ASSERT_TRUE(png.has_value());
  if (pngDecodeWorkers(png->segments.size()) < 2) {
    GTEST_SKIP() << "one core: the decode starts no worker";
  }
  auto attempts = std::make_shared<std::atomic<int>>(0);
  const PngWorkerStart failing = [attempts](std::function<void()>) -> std::thread {
    ++*attempts;
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  const Outcome plate = outcomeOf([&] { return decodePlateBytes(bytes.data(), bytes.size(), nullptr, failing); });
  EXPECT_EQ(*attempts, 1);
  const Outcome ordinary = outcomeOf([&] { return decodeImage(bytes.data(), bytes.size()); });
  ASSERT_EQ(ordinary.error, "no error");
  expectSameOutcome(plate, ordinary);
}

TEST(PlateDecoder, ADigestAlreadyKnownIsTakenAsItIs) {
  const std::vector<std::uint8_t> bytes = segmentedPng(smallRgb());
  const std::string remembered(64, 'e');
  const auto known = decodePlateBytes(bytes.data(), bytes.size(), &remembered);
  EXPECT_EQ(known->sha256, remembered);
  const auto hashed = decodePlateBytes(bytes.data(), bytes.size());
  EXPECT_EQ(hashed->sha256, sha256Hex(bytes.data(), bytes.size()));
  EXPECT_TRUE(std::equal(known->bgra.begin(), known->bgra.end(), hashed->bgra.begin(), hashed->bgra.end()));
}

// The decode started at the program's start is taken by the first load of the same
// module, once: what it gave (image or failure) reaches that load, and every later
// load decodes afresh. A decode started for another module is not taken.
TEST(PlateDecoder, ADecodeStartedAheadReachesTheNextLoadOfItsModuleOnce) {
  if (!std::filesystem::exists(builtProgramPath())) {
    GTEST_SKIP() << builtProgramPath().string() << " is not built yet";
  }
  DWORD error = 0;
  const ModuleHandle module = loadBuiltProgramResources(error);
  ASSERT_NE(module, nullptr) << "error " << error;

  // Started for the test program, which carries no plate: its failure comes out of
  // the next load of the test program, not of the other module's.
  startOwnPlateDecodeAhead();
  {
    std::shared_ptr<Pixels> other;
    EXPECT_EQ(imageErrorOf([&] { other = decodeOwnPlate(module.get()); }), "no error");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->sha256, kPlateSha256);
  }
  EXPECT_EQ(imageErrorOf([] { decodeOwnPlate(); }), "Missing atlas");
  EXPECT_EQ(imageErrorOf([] { decodeOwnPlate(); }), "Missing atlas");

  startOwnPlateDecodeAhead(module.get());
  std::shared_ptr<Pixels> ahead;
  ASSERT_EQ(imageErrorOf([&] { ahead = decodeOwnPlate(module.get()); }), "no error");
  ASSERT_NE(ahead, nullptr);
  EXPECT_EQ(ahead->sha256, kPlateSha256);
  EXPECT_EQ(ahead->width, 14575u);
  EXPECT_EQ(ahead->displayLevels.size(), 7u);
  std::shared_ptr<Pixels> again;
  ASSERT_EQ(imageErrorOf([&] { again = decodeOwnPlate(module.get()); }), "no error");
  EXPECT_NE(again, ahead) << "the decode started ahead was given twice";
  EXPECT_EQ(again->sha256, kPlateSha256);
  EXPECT_TRUE(std::equal(ahead->bgra.begin(), ahead->bgra.end(), again->bgra.begin(), again->bgra.end()));

  // Started and never taken: dropped when the program ends.
  startOwnPlateDecodeAhead();
  finishOwnPlateDecodeAhead();
  EXPECT_EQ(imageErrorOf([] { decodeOwnPlate(); }), "Missing atlas");
}

// A decode started ahead that no load takes is let go by finishOwnPlateDecodeAhead
// itself (the program calls it before the graphics library shuts down, since the
// image holds its bitmaps), not later when the program's statics go: the plate's
// memory is back as soon as the call returns.
TEST(PlateDecoder, AnUntakenDecodeIsDroppedWhenTheProgramFinishesIt) {
  if (!std::filesystem::exists(builtProgramPath())) {
    GTEST_SKIP() << builtProgramPath().string() << " is not built yet";
  }
  DWORD error = 0;
  const ModuleHandle module = loadBuiltProgramResources(error);
  ASSERT_NE(module, nullptr) << "error " << error;
  const std::size_t plateBytes = std::size_t{14575} * 8441 * 4;

  const std::size_t before = imagetest::memoryFigures().commit;
  startOwnPlateDecodeAhead(module.get());
  finishOwnPlateDecodeAhead();
  const std::size_t after = imagetest::memoryFigures().commit;
  EXPECT_LT(after, before + plateBytes / 4) << "committed memory grew from " << before / 1048576 << " MiB to "
                                            << after / 1048576 << " MiB: the decoded plate is still held";
  // Dropped, not kept for a later load: that load decodes afresh.
  std::shared_ptr<Pixels> later;
  ASSERT_EQ(imageErrorOf([&] { later = decodeOwnPlate(module.get()); }), "no error");
  EXPECT_EQ(later->sha256, kPlateSha256);
}

TEST(PlateDecoder, ProgramWithoutThePlateRaisesMissingAtlas) {
  // The test program itself carries no resource 301.
  EXPECT_EQ(imageErrorOf([] { decodeOwnPlate(); }), "Missing atlas");
}

}  // namespace
}  // namespace tessary

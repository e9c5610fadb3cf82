#include "selftest/self_test_checks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "observations/sheet_store.h"

namespace tessary {
namespace {

std::uint32_t bigEndian32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
         (std::uint32_t{bytes[at + 2]} << 8) | std::uint32_t{bytes[at + 3]};
}

std::uint32_t littleEndian32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} | (std::uint32_t{bytes[at + 1]} << 8) | (std::uint32_t{bytes[at + 2]} << 16) |
         (std::uint32_t{bytes[at + 3]} << 24);
}

std::uint32_t referenceCrc(const std::uint8_t* data, std::size_t count) {
  std::uint32_t crc = 0xFFFFFFFFU;
  for (std::size_t i = 0; i < count; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) {
      crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
    }
  }
  return ~crc;
}

class ScratchFolder {
 public:
  ScratchFolder() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("tessary-selftest-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
             "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

TEST(SelfTestChecks, SampleSheetHasTheSharedContent) {
  const ObservationSheet sheet = selfTestSampleSheet(1700000000);
  EXPECT_EQ(sheet.imageSHA256, std::string(64, 'a'));
  EXPECT_EQ(sheet.width, 100U);
  EXPECT_EQ(sheet.height, 80U);
  EXPECT_EQ(sheet.nextId, 3);
  ASSERT_EQ(sheet.marks.size(), 2U);
  EXPECT_EQ(sheet.marks[0].id, 1);
  EXPECT_EQ(sheet.marks[0].x, 10.5);
  EXPECT_EQ(sheet.marks[0].y, 20.5);
  EXPECT_EQ(sheet.marks[0].note, "A \"quoted\" note\nSecond line");
  EXPECT_EQ(sheet.marks[1].id, 2);
  EXPECT_EQ(sheet.marks[1].x, 99.0);
  EXPECT_EQ(sheet.marks[1].y, 79.0);
  EXPECT_EQ(sheet.marks[1].note, "=dangerous spreadsheet formula");
  EXPECT_EQ(sheet.marks[1].createdUTC, 1700000000);
}

TEST(SelfTestChecks, RuleChecksPassAgainstTheRealRules) {
  const ObservationSheet sample = selfTestSampleSheet(1700000000);
  EXPECT_TRUE(checkLanguageChoice());
  EXPECT_TRUE(checkUiStringTable());
  EXPECT_TRUE(checkTextRejection());
  EXPECT_TRUE(checkCropReversal());
  EXPECT_TRUE(checkCropRejection());
  EXPECT_TRUE(checkSheetRoundTrip(sample));
  EXPECT_TRUE(checkSheetFieldRejection(sample));
  EXPECT_TRUE(checkIntegerRejection(sample));
  EXPECT_TRUE(checkNotesCsv(sample));
}

TEST(SelfTestChecks, SheetChecksNoticeABrokenSample) {
  // A sample whose notes lack the quoted text and the formula fails the CSV check;
  // one with a single mark fails the round trip.
  ObservationSheet plain = selfTestSampleSheet(1700000000);
  plain.marks[0].note = "plain";
  plain.marks[1].note = "plain";
  EXPECT_FALSE(checkNotesCsv(plain));
  ObservationSheet single = selfTestSampleSheet(1700000000);
  single.marks.pop_back();
  EXPECT_FALSE(checkSheetRoundTrip(single));
}

TEST(SelfTestChecks, AtomicReplacementChecksShareStateJson) {
  const ScratchFolder scratch;
  const ObservationSheet sample = selfTestSampleSheet(1700000000);
  ASSERT_TRUE(checkAtomicReplacement(scratch.path(), sample));
  EXPECT_EQ(readSheetFile(scratch.path() / "state.json").marks.size(), 1U);
  EXPECT_EQ(readSheetFile(scratch.path() / "state.json.bak").marks.size(), 2U);
  EXPECT_TRUE(checkWriteFailureKeepsData(scratch.path()));
  // The blocking folder is gone afterwards and no temporary file is left.
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "state.json.tmp"));
  EXPECT_EQ(readSheetFile(scratch.path() / "state.json").marks.size(), 1U);
}

TEST(SelfTestChecks, WriteFailureCheckNeedsTheFileThatReplacementLeft) {
  const ScratchFolder scratch;
  // Without check 11 before it there is no one-mark state.json to read back.
  EXPECT_ANY_THROW(checkWriteFailureKeepsData(scratch.path()));
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "state.json.tmp"));
}

TEST(SelfTestChecks, ProbesDeclareTheirSizesInEachFormat) {
  const std::vector<ProbeImage> probes = pixelLimitProbes();
  ASSERT_EQ(probes.size(), 6U);
  for (const ProbeImage& probe : probes) {
    SCOPED_TRACE(probe.label);
    const bool oneSideTooLong = probe.width == 20001 && probe.height == 1;
    const bool areaTooLarge = probe.width == 12248 && probe.height == 12248;
    EXPECT_TRUE(oneSideTooLong || areaTooLarge);
    const std::vector<std::uint8_t>& b = probe.bytes;
    ASSERT_GE(b.size(), 26U);
    if (probe.label.starts_with("PNG")) {
      EXPECT_EQ(std::vector<std::uint8_t>(b.begin(), b.begin() + 8),
                (std::vector<std::uint8_t>{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}));
      EXPECT_EQ(bigEndian32(b, 16), probe.width);
      EXPECT_EQ(bigEndian32(b, 20), probe.height);
      EXPECT_EQ(b[24], 1);  // 1-bit
      EXPECT_EQ(b[25], 0);  // greyscale
      // Every chunk's CRC is right, and the chunks are IHDR, IDAT, IEND.
      std::size_t at = 8;
      std::string types;
      while (at + 12 <= b.size()) {
        const std::uint32_t length = bigEndian32(b, at);
        ASSERT_LE(at + 12 + length, b.size());
        types.append(reinterpret_cast<const char*>(&b[at + 4]), 4);
        EXPECT_EQ(bigEndian32(b, at + 8 + length), referenceCrc(&b[at + 4], 4 + length));
        if (types.ends_with("IDAT")) {
          EXPECT_EQ(b[at + 8], 0x78);  // zlib header
          EXPECT_EQ((b[at + 8] * 256 + b[at + 9]) % 31, 0);
          // Adler-32 of the zero rows: a = 1, b = byte count mod 65521.
          const std::uint64_t rows = probe.height * (1 + (std::uint64_t{probe.width} + 7) / 8);
          EXPECT_EQ(bigEndian32(b, at + 8 + length - 4), ((rows % 65521U) << 16) | 1U);
          // Tiny beside the rows it stands for.
          EXPECT_LT(length, rows / 100 + 300);
        }
        at += 12 + length;
      }
      EXPECT_EQ(at, b.size());
      EXPECT_EQ(types, "IHDRIDATIEND");
    } else if (probe.label.starts_with("BMP")) {
      EXPECT_EQ(b.size(), 54U);
      EXPECT_EQ(b[0], 'B');
      EXPECT_EQ(b[1], 'M');
      EXPECT_EQ(littleEndian32(b, 18), probe.width);
      EXPECT_EQ(littleEndian32(b, 22), probe.height);
    } else {
      ASSERT_TRUE(probe.label.starts_with("TIFF"));
      EXPECT_EQ(b[0], 'I');
      EXPECT_EQ(b[1], 'I');
      EXPECT_EQ(b[2], 42);
      EXPECT_EQ(littleEndian32(b, 4), 8U);
      // The first two directory entries: ImageWidth and ImageLength.
      EXPECT_EQ(b[10] | (b[11] << 8), 256);
      EXPECT_EQ(littleEndian32(b, 18), probe.width);
      EXPECT_EQ(b[22] | (b[23] << 8), 257);
      EXPECT_EQ(littleEndian32(b, 30), probe.height);
      EXPECT_LT(b.size(), 200U);
    }
  }
}

Pixels testImageWithPixel(std::uint8_t blue, std::uint8_t green, std::uint8_t red, std::uint8_t alpha) {
  Pixels image;
  image.width = 16;
  image.height = 12;
  image.bgra.assign(16 * 12 * 4, 0);
  const std::size_t at = (5 * 16 + 7) * 4;
  image.bgra[at] = blue;
  image.bgra[at + 1] = green;
  image.bgra[at + 2] = red;
  image.bgra[at + 3] = alpha;
  return image;
}

TEST(SelfTestChecks, TestImagePixelToleranceIsElevenPerChannelAndAlphaExact) {
  struct Case {
    int blue, green, red, alpha;
    bool matches;
  };
  const Case cases[] = {
      {180, 85, 91, 255, true},  {191, 85, 91, 255, true},  {169, 85, 91, 255, true},
      {192, 85, 91, 255, false}, {180, 74, 91, 255, true},  {180, 73, 91, 255, false},
      {180, 85, 102, 255, true}, {180, 85, 103, 255, false}, {180, 85, 91, 254, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.blue) + "," + std::to_string(c.green) + "," + std::to_string(c.red) + "," +
                 std::to_string(c.alpha));
    EXPECT_EQ(testImagePixelMatches(testImageWithPixel(static_cast<std::uint8_t>(c.blue),
                                                       static_cast<std::uint8_t>(c.green),
                                                       static_cast<std::uint8_t>(c.red),
                                                       static_cast<std::uint8_t>(c.alpha))),
              c.matches);
  }
  Pixels wrongSize = testImageWithPixel(180, 85, 91, 255);
  wrongSize.width = 12;
  wrongSize.height = 16;
  EXPECT_FALSE(testImagePixelMatches(wrongSize));
}

TEST(SelfTestChecks, CropSourceAndComparison) {
  const std::vector<std::uint8_t> source = cropCheckSourcePixels();
  ASSERT_EQ(source.size(), 8U * 6U * 4U);
  const std::size_t at = (3 * 8 + 5) * 4;  // pixel (5, 3)
  EXPECT_EQ(source[at], 100);
  EXPECT_EQ(source[at + 1], 90);
  EXPECT_EQ(source[at + 2], 170);
  EXPECT_EQ(source[at + 3], 255);

  Pixels crop;
  crop.width = 3;
  crop.height = 4;
  for (int y = 1; y < 5; ++y) {
    for (int x = 2; x < 5; ++x) {
      const std::size_t from = (static_cast<std::size_t>(y) * 8 + static_cast<std::size_t>(x)) * 4;
      crop.bgra.insert(crop.bgra.end(), source.begin() + static_cast<std::ptrdiff_t>(from),
                       source.begin() + static_cast<std::ptrdiff_t>(from + 4));
    }
  }
  EXPECT_TRUE(pixelsEqualCrop(crop, source, 8, 2, 1, 3, 4));
  EXPECT_FALSE(pixelsEqualCrop(crop, source, 8, 1, 1, 3, 4));   // shifted one column
  EXPECT_FALSE(pixelsEqualCrop(crop, source, 8, 2, 1, 4, 3));   // other shape
  EXPECT_FALSE(pixelsEqualCrop(crop, source, 8, 6, 3, 3, 4));   // reaches past the source
  crop.bgra[5 * 4 + 3] = 254;                                    // one alpha byte differs
  EXPECT_FALSE(pixelsEqualCrop(crop, source, 8, 2, 1, 3, 4));
}

}  // namespace
}  // namespace tessary

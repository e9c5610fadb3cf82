#pragma once
// The self-test checks that need no window system: language choice, the string
// table, the text rules, crop geometry, the sheet format and the CSV, plus the
// hand-made inputs and judgements that the image checks use.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/pixels.h"
#include "observations/observation_sheet.h"

namespace tessary {

// True when the call raised an error of any kind (a check that must raise).
template <typename F>
bool raises(F&& operation) {
  try {
    operation();
  } catch (...) {
    return true;
  }
  return false;
}

// The sample sheet shared by the sheet and CSV checks: 64 letters a as hash,
// 100 x 80 pixels, nextId 3, mark 1 at (10.5, 20.5) with a two-line note holding
// quotes, mark 2 at (99, 79) whose note starts with an equals sign.
ObservationSheet selfTestSampleSheet(std::int64_t createdUTC);

bool checkLanguageChoice();                                  // 1
bool checkUiStringTable();                                   // 2
bool checkTextRejection();                                   // 3
bool checkCropReversal();                                    // 5
bool checkCropRejection();                                   // 6
bool checkSheetRoundTrip(const ObservationSheet& sample);     // 7
bool checkSheetFieldRejection(const ObservationSheet& sample);  // 8
bool checkIntegerRejection(const ObservationSheet& sample);   // 9
bool checkNotesCsv(const ObservationSheet& sample);           // 10
// 11 and 12 share "state.json" in the scratch folder: 12 expects the one-mark file
// that 11 leaves behind.
bool checkAtomicReplacement(const std::filesystem::path& scratch, const ObservationSheet& sample);
bool checkWriteFailureKeepsData(const std::filesystem::path& scratch);

// A hand-made image file that declares a size without carrying real pixels: BMP
// and TIFF headers alone, or a 1-bit PNG whose rows are all zero (a few kilobytes
// of compressed data, since some PNG decoders read the rows when they open).
struct ProbeImage {
  std::string label;
  std::vector<std::uint8_t> bytes;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

std::vector<std::uint8_t> zeroPixelPng(std::uint32_t width, std::uint32_t height);
std::vector<std::uint8_t> headerOnlyBmp(std::uint32_t width, std::uint32_t height);
std::vector<std::uint8_t> headerOnlyTiff(std::uint32_t width, std::uint32_t height);

// PNG, BMP and TIFF images declaring 20,001 x 1 (one side too long) and
// 12,248 x 12,248 (sides allowed, area over 150 megapixels).
std::vector<ProbeImage> pixelLimitProbes();

// The reference pixel of the three small test images: pixel (7, 5) within 11 of
// blue 180, green 85, red 91 on each channel and alpha exactly 255, in a 16 x 12
// image.
bool testImagePixelMatches(const Pixels& image);

// The 8 x 6 source of the crop export check: pixel (x, y) is blue 20x, green 30y,
// red 170, alpha 255.
std::vector<std::uint8_t> cropCheckSourcePixels();
inline constexpr std::uint32_t kCropCheckSourceWidth = 8;
inline constexpr std::uint32_t kCropCheckSourceHeight = 6;

// True when `decoded` is exactly the crop (x, y, width, height) of the BGRA
// `source` of the given width, row for row, alpha included.
bool pixelsEqualCrop(const Pixels& decoded, const std::vector<std::uint8_t>& source,
                     std::uint32_t sourceWidth, std::int32_t x, std::int32_t y,
                     std::int32_t width, std::int32_t height);

}  // namespace tessary

#include "selftest/self_test_checks.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "exports/crop_geometry.h"
#include "exports/notes_csv.h"
#include "observations/atomic_file.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"
#include "text/text_rules.h"
#include "text/ui_strings.h"

namespace tessary {
namespace {


bool inDisabledRange(char16_t unit) {
  return (unit >= 0x0400 && unit <= 0x052F) || (unit >= 0x2DE0 && unit <= 0x2DFF) ||
         (unit >= 0xA640 && unit <= 0xA69F);
}

nlohmann::json sampleDocument(const ObservationSheet& sample) {
  return nlohmann::json::parse(printSheet(sample));
}

// --- byte writers for the hand-made image headers ---------------------------------

void putBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 24));
  out.push_back(static_cast<std::uint8_t>(value >> 16));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void putLittleEndian16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putLittleEndian32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  putLittleEndian16(out, static_cast<std::uint16_t>(value));
  putLittleEndian16(out, static_cast<std::uint16_t>(value >> 16));
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t count) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) {
        c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
      }
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFU;
  for (std::size_t i = 0; i < count; ++i) {
    c = table[(c ^ data[i]) & 0xFFU] ^ (c >> 8);
  }
  return c ^ 0xFFFFFFFFU;
}

void putPngChunk(std::vector<std::uint8_t>& out, const char (&type)[5], const std::vector<std::uint8_t>& data) {
  putBigEndian32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeStart = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  putBigEndian32(out, crc32(out.data() + typeStart, out.size() - typeStart));
}

// A zlib stream holding `count` zero bytes, written with the fixed Huffman codes:
// one literal zero, then back-references of 258 bytes at distance 1, then literal
// zeros for the rest. Lets the self-test build large but tiny images by hand.
std::vector<std::uint8_t> zlibZeros(std::uint64_t count) {
  std::vector<std::uint8_t> out = {0x78, 0x01};
  std::uint32_t bitBuffer = 0;
  int bitCount = 0;
  const auto putBits = [&](std::uint32_t value, int bits) {  // least significant bit first
    bitBuffer |= value << bitCount;
    bitCount += bits;
    while (bitCount >= 8) {
      out.push_back(static_cast<std::uint8_t>(bitBuffer));
      bitBuffer >>= 8;
      bitCount -= 8;
    }
  };
  const auto putCode = [&](std::uint32_t code, int bits) {  // Huffman codes go most significant bit first
    for (int i = bits - 1; i >= 0; --i) {
      putBits((code >> i) & 1U, 1);
    }
  };
  putBits(1, 1);  // final block
  putBits(1, 2);  // fixed Huffman codes
  std::uint64_t left = count;
  if (left > 0) {
    putCode(0x30, 8);  // literal 0
    --left;
  }
  while (left >= 258) {
    putCode(0xC5, 8);  // length 258 (code 285, no extra bits)
    putCode(0, 5);     // distance 1 (code 0, no extra bits)
    left -= 258;
  }
  for (; left > 0; --left) {
    putCode(0x30, 8);
  }
  putCode(0, 7);  // end of block
  if (bitCount > 0) {
    putBits(0, 8 - bitCount);
  }
  // Adler-32 of zeros: a stays 1, b grows by one per byte.
  const std::uint32_t b = static_cast<std::uint32_t>(count % 65521U);
  putBigEndian32(out, (b << 16) | 1U);
  return out;
}

}  // namespace

ObservationSheet selfTestSampleSheet(std::int64_t createdUTC) {
  ObservationSheet sheet;
  sheet.imageSHA256 = std::string(64, 'a');
  sheet.width = 100;
  sheet.height = 80;
  sheet.nextId = 3;
  sheet.marks.push_back(Marker{1, 10.5, 20.5, "A \"quoted\" note\nSecond line", createdUTC});
  sheet.marks.push_back(Marker{2, 99.0, 79.0, "=dangerous spreadsheet formula", createdUTC});
  return sheet;
}

bool checkLanguageChoice() {
  return languageForTag(u"es-MX") == Language::Spanish && languageForTag(u"de-DE") == Language::German &&
         languageForTag(u"en-US") == Language::English && languageForTag(u"ru") == Language::English &&
         languageForTag(u"ja-JP") == Language::English;
}

bool checkUiStringTable() {
  for (const Language language : {Language::English, Language::Spanish, Language::German}) {
    for (int id = 0; id < kUiTextCount; ++id) {
      const std::u16string& text = uiText(language, id);
      if (text.empty()) {
        return false;
      }
      for (const char16_t unit : text) {
        if (inDisabledRange(unit)) {
          return false;
        }
      }
    }
  }
  return true;
}

bool checkTextRejection() {
  const bool scriptRefused = raises([] { acceptText(toUtf8(u"\u0440"), kNoteByteLimit); });
  const bool invalidRefused = raises([] { toUtf16(std::string_view("\xFF", 1)); });
  return scriptRefused && invalidRefused;
}

bool checkCropReversal() {
  return cropFromPoints(23.2, 18.1, -4.1, 5.3, 20, 20) == CropRect{0, 5, 20, 14};
}

bool checkCropRejection() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  // Non-finite points give no crop, which is refused.
  if (cropFits(cropFromPoints(nan, 0, 1, 1, 10, 10), 10, 10)) {
    return false;
  }
  if (cropFits(cropFromPoints(0, 0, inf, 1, 10, 10), 10, 10)) {
    return false;
  }
  // A press and release without moving, and a drag wholly left of the image, are empty.
  if (cropFits(cropFromPoints(3, 3, 3, 3, 10, 10), 10, 10) ||
      cropFits(cropFromPoints(-9, 2, -1, 8, 10, 10), 10, 10)) {
    return false;
  }
  // The cap: 25,000,000 pixels pass, one column more does not.
  if (!cropFits(CropRect{0, 0, 5000, 5000}, 14575, 8441) || cropFits(CropRect{0, 0, 5001, 5000}, 14575, 8441)) {
    return false;
  }
  // A crop reaching past the image edge is refused.
  return !cropFits(CropRect{5, 5, 6, 5}, 10, 10);
}

bool checkSheetRoundTrip(const ObservationSheet& sample) {
  const ObservationSheet back = sheetFromJson(nlohmann::json::parse(printSheet(sample)));
  return back.marks.size() == 2 && back.marks[0].note == sample.marks[0].note && back.marks[1].x == 99.0;
}

bool checkSheetFieldRejection(const ObservationSheet& sample) {
  nlohmann::json duplicateId = sampleDocument(sample);
  duplicateId["marks"][1]["id"] = 1;
  nlohmann::json xAtWidth = sampleDocument(sample);
  xAtWidth["marks"][0]["x"] = 100;
  nlohmann::json badHash = sampleDocument(sample);
  badHash["imageSHA256"] = "invalid";
  return raises([&] { sheetFromJson(duplicateId); }) && raises([&] { sheetFromJson(xAtWidth); }) &&
         raises([&] { sheetFromJson(badHash); });
}

bool checkIntegerRejection(const ObservationSheet& sample) {
  nlohmann::json wideWidth = sampleDocument(sample);
  wideWidth["width"] = std::uint64_t{4294967396ULL};
  nlohmann::json fractionalId = sampleDocument(sample);
  fractionalId["marks"][0]["id"] = 1.5;
  nlohmann::json negativeHeight = sampleDocument(sample);
  negativeHeight["height"] = std::int64_t{-4294967216LL};
  return raises([&] { sheetFromJson(wideWidth); }) && raises([&] { sheetFromJson(fractionalId); }) &&
         raises([&] { sheetFromJson(negativeHeight); });
}

bool checkNotesCsv(const ObservationSheet& sample) {
  const std::string csv = notesCsv(sample);
  return csv.find("\"\"quoted\"\"") != std::string::npos && csv.find("'=dangerous") != std::string::npos &&
         csv.find("Second line") != std::string::npos;
}

bool checkAtomicReplacement(const std::filesystem::path& scratch, const ObservationSheet& sample) {
  const std::filesystem::path state = scratch / "state.json";
  std::filesystem::path backup = state;
  backup += ".bak";
  ObservationSheet shorter = sample;
  shorter.marks.pop_back();
  if (!writeFileAtomically(state, sheetToJson(sample).dump(), true) ||
      !writeFileAtomically(state, sheetToJson(shorter).dump(), true)) {
    return false;
  }
  return readSheetFile(state).marks.size() == 1 && readSheetFile(backup).marks.size() == 2;
}

bool checkWriteFailureKeepsData(const std::filesystem::path& scratch) {
  const std::filesystem::path state = scratch / "state.json";
  std::filesystem::path blocker = state;
  blocker += ".tmp";
  // A folder under the temporary name makes the write fail before it touches the target.
  struct RemoveBlocker {
    std::filesystem::path path;
    ~RemoveBlocker() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  std::filesystem::create_directory(blocker);
  const RemoveBlocker removeBlocker{blocker};
  const bool written = writeFileAtomically(state, "invalid", true);
  return !written && readSheetFile(state).marks.size() == 1;
}

std::vector<std::uint8_t> zeroPixelPng(std::uint32_t width, std::uint32_t height) {
  // 1-bit greyscale: each row is a filter byte and ceil(width / 8) bytes, all zero.
  const std::uint64_t rowBytes = 1 + (std::uint64_t{width} + 7) / 8;
  std::vector<std::uint8_t> out = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<std::uint8_t> header;
  putBigEndian32(header, width);
  putBigEndian32(header, height);
  header.insert(header.end(), {1, 0, 0, 0, 0});  // 1-bit grey, deflate, standard filters, not interlaced
  putPngChunk(out, "IHDR", header);
  putPngChunk(out, "IDAT", zlibZeros(rowBytes * height));
  putPngChunk(out, "IEND", {});
  return out;
}

std::vector<std::uint8_t> headerOnlyBmp(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> out = {'B', 'M'};
  putLittleEndian32(out, 54);  // file size: the headers alone
  putLittleEndian32(out, 0);   // reserved
  putLittleEndian32(out, 54);  // pixel data offset
  putLittleEndian32(out, 40);  // BITMAPINFOHEADER
  putLittleEndian32(out, width);
  putLittleEndian32(out, height);  // positive: bottom-up rows
  putLittleEndian16(out, 1);       // planes
  putLittleEndian16(out, 24);      // bits per pixel
  putLittleEndian32(out, 0);       // BI_RGB
  putLittleEndian32(out, 0);       // image size (may be 0 for BI_RGB)
  putLittleEndian32(out, 2835);    // 72 dpi
  putLittleEndian32(out, 2835);
  putLittleEndian32(out, 0);  // colours used
  putLittleEndian32(out, 0);  // important colours
  return out;
}

std::vector<std::uint8_t> headerOnlyTiff(std::uint32_t width, std::uint32_t height) {
  // Little-endian TIFF: header, one directory of ten entries, the bits-per-sample
  // values after it; the strip it names lies beyond the end of the file.
  constexpr std::uint16_t kShort = 3;
  constexpr std::uint16_t kLong = 4;
  constexpr std::uint32_t kEntries = 10;
  constexpr std::uint32_t kDirectory = 8;
  constexpr std::uint32_t kBitsValues = kDirectory + 2 + kEntries * 12 + 4;
  const std::uint64_t stripBytes = std::uint64_t{width} * height * 3;
  std::vector<std::uint8_t> out = {'I', 'I', 42, 0};
  putLittleEndian32(out, kDirectory);
  putLittleEndian16(out, kEntries);
  const auto entry = [&out](std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
    putLittleEndian16(out, tag);
    putLittleEndian16(out, type);
    putLittleEndian32(out, count);
    if (type == kShort && count == 1) {
      putLittleEndian16(out, static_cast<std::uint16_t>(value));
      putLittleEndian16(out, 0);
    } else {
      putLittleEndian32(out, value);
    }
  };
  entry(256, kLong, 1, width);                  // ImageWidth
  entry(257, kLong, 1, height);                 // ImageLength
  entry(258, kShort, 3, kBitsValues);           // BitsPerSample 8, 8, 8
  entry(259, kShort, 1, 1);                     // no compression
  entry(262, kShort, 1, 2);                     // RGB
  entry(273, kLong, 1, kBitsValues + 6);        // StripOffsets
  entry(277, kShort, 1, 3);                     // SamplesPerPixel
  entry(278, kLong, 1, height);                 // RowsPerStrip
  entry(279, kLong, 1, static_cast<std::uint32_t>(stripBytes > 0xFFFFFFFFULL ? 0xFFFFFFFFULL : stripBytes));
  entry(284, kShort, 1, 1);                     // chunky planar configuration
  putLittleEndian32(out, 0);                    // no further directory
  for (int i = 0; i < 3; ++i) {
    putLittleEndian16(out, 8);
  }
  return out;
}

std::vector<ProbeImage> pixelLimitProbes() {
  std::vector<ProbeImage> probes;
  const std::array<std::array<std::uint32_t, 2>, 2> sizes = {{{20001, 1}, {12248, 12248}}};
  for (const auto& size : sizes) {
    const std::string dims = std::to_string(size[0]) + " x " + std::to_string(size[1]);
    probes.push_back({"PNG " + dims, zeroPixelPng(size[0], size[1]), size[0], size[1]});
    probes.push_back({"BMP " + dims, headerOnlyBmp(size[0], size[1]), size[0], size[1]});
    probes.push_back({"TIFF " + dims, headerOnlyTiff(size[0], size[1]), size[0], size[1]});
  }
  return probes;
}

bool testImagePixelMatches(const Pixels& image) {
  if (image.width != 16 || image.height != 12 || image.bgra.size() != 16U * 12U * 4U) {
    return false;
  }
  const std::size_t at = (5U * 16U + 7U) * 4U;
  const auto near = [](std::uint8_t value, int expected) { return std::abs(int{value} - expected) <= 11; };
  return near(image.bgra[at], 180) && near(image.bgra[at + 1], 85) && near(image.bgra[at + 2], 91) &&
         image.bgra[at + 3] == 255;
}

std::vector<std::uint8_t> cropCheckSourcePixels() {
  std::vector<std::uint8_t> bgra;
  bgra.reserve(std::size_t{kCropCheckSourceWidth} * kCropCheckSourceHeight * 4);
  for (std::uint32_t y = 0; y < kCropCheckSourceHeight; ++y) {
    for (std::uint32_t x = 0; x < kCropCheckSourceWidth; ++x) {
      bgra.push_back(static_cast<std::uint8_t>(20 * x));
      bgra.push_back(static_cast<std::uint8_t>(30 * y));
      bgra.push_back(170);
      bgra.push_back(255);
    }
  }
  return bgra;
}

bool pixelsEqualCrop(const Pixels& decoded, const std::vector<std::uint8_t>& source, std::uint32_t sourceWidth,
                     std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
  if (x < 0 || y < 0 || width < 1 || height < 1 || decoded.width != static_cast<std::uint32_t>(width) ||
      decoded.height != static_cast<std::uint32_t>(height) ||
      decoded.bgra.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4) {
    return false;
  }
  if (std::uint64_t{static_cast<std::uint32_t>(x)} + static_cast<std::uint32_t>(width) > sourceWidth ||
      (std::uint64_t{static_cast<std::uint32_t>(y)} + static_cast<std::uint32_t>(height)) * sourceWidth * 4 >
          source.size()) {
    return false;
  }
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
  for (std::int32_t row = 0; row < height; ++row) {
    const std::size_t from = (static_cast<std::size_t>(y + row) * sourceWidth + static_cast<std::size_t>(x)) * 4;
    if (std::memcmp(decoded.bgra.data() + static_cast<std::size_t>(row) * rowBytes, source.data() + from,
                    rowBytes) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace tessary

#pragma once
// The observation sheet of one image and its JSON document.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "text/text_rules.h"

namespace tessary {

// Raised with "Unsupported sheet", "Invalid sheet", "Invalid marker",
// "Integer required", "Integer overflow" or "Integer limit".
struct SheetError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Marker {
  std::int32_t id = 0;
  double x = 0;
  double y = 0;
  std::string note;  // UTF-8, passes acceptText with 8000 bytes
  std::int64_t createdUTC = 0;
};

struct ObservationSheet {
  std::string imageSHA256;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::int32_t nextId = 1;
  std::vector<Marker> marks;
};

inline constexpr std::size_t kMaxMarkers = 200;
// What a sheet file may hold before it is built: nesting depth (the writer's sheets
// have three levels: the sheet, "marks", a marker) and the number of values of
// every kind, containers included (the largest sheet the writer makes holds 1,208:
// the sheet, its seven members, 200 markers of five members). Members the reader
// ignores have room within both; anything beyond is refused as "Invalid sheet".
inline constexpr std::size_t kMaxSheetDepth = 16;
inline constexpr std::size_t kMaxSheetValues = 20000;
// The longest number text a sheet may hold (the writer's longest is 23 bytes, as in
// "-2.2250738585072014e-308").
inline constexpr std::size_t kMaxSheetNumberLength = 64;
inline constexpr std::int64_t kLatestCreatedUTC = 32503680000;  // 3000-01-01 00:00:00 UTC

// A clock reading as a creation time the reader accepts: 0 to kLatestCreatedUTC.
constexpr std::int64_t clampCreatedUTC(std::int64_t seconds) {
  return seconds < 0 ? 0 : (seconds > kLatestCreatedUTC ? kLatestCreatedUTC : seconds);
}

// The longest text printSheet can produce for a sheet that keeps the limits: 200
// markers whose notes hold 8000 bytes that are each escaped as six (\u0001), and
// every number at its widest. The reader accepts files of this size.
constexpr std::size_t maxPrintedSheetBytes();

nlohmann::json sheetToJson(const ObservationSheet& sheet);
ObservationSheet sheetFromJson(const nlohmann::json& document);
std::int64_t readBoundedInteger(const nlohmann::json& value, const std::string& key,
                                std::int64_t minimum, std::int64_t maximum);
// Parses the bytes of a sheet file as exactly one JSON document (comments refused,
// only whitespace after it, a leading UTF-8 byte-order mark skipped) and converts it
// with sheetFromJson. A document in which any object names a member twice, that
// nests deeper than kMaxSheetDepth, holds more than kMaxSheetValues values or a
// number written with more than kMaxSheetNumberLength characters is refused with
// "Invalid sheet". Time and memory grow linearly with the input.
ObservationSheet sheetFromText(std::string_view bytes);
// The printed form of a sheet: indent 2, keys sorted, raw UTF-8, no trailing newline.
std::string printSheet(const ObservationSheet& sheet);

namespace sheet_size_detail {

// Printed widths, in bytes, that bound every value the writer can emit.
inline constexpr std::size_t kWidestNumber = 32;  // sign, 17 significant digits, point, exponent
inline constexpr std::size_t kWidestEscape = 6;   // a control character as \u00XX

constexpr std::size_t length(const char* text) {
  std::size_t n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

// One member line: indentation, the quoted key, ": ", the value, "," and a line break.
constexpr std::size_t memberLine(std::size_t indent, const char* key, std::size_t value) {
  return indent + 2 + length(key) + 2 + value + 2;
}

}  // namespace sheet_size_detail

constexpr std::size_t maxPrintedSheetBytes() {
  using namespace sheet_size_detail;
  constexpr std::size_t kMarkerIndent = 4;
  constexpr std::size_t kMemberIndent = 6;
  constexpr std::size_t kNote = 2 + kNoteByteLimit * kWidestEscape;
  constexpr std::size_t kMarker = (kMarkerIndent + 2) +  // "{" and a line break
                                  memberLine(kMemberIndent, "createdUTC", kWidestNumber) +
                                  memberLine(kMemberIndent, "id", kWidestNumber) +
                                  memberLine(kMemberIndent, "note", kNote) +
                                  memberLine(kMemberIndent, "x", kWidestNumber) +
                                  memberLine(kMemberIndent, "y", kWidestNumber) +
                                  (kMarkerIndent + 3);  // "}", "," and a line break
  constexpr std::size_t kTop = 2 +                      // "{" and a line break
                               memberLine(2, "format", 2 + length("Tessary")) +
                               memberLine(2, "height", kWidestNumber) +
                               memberLine(2, "imageSHA256", 2 + 64) +
                               memberLine(2, "marks", 2) +  // "[" and a line break
                               (2 + 3) +                    // "]," and a line break
                               memberLine(2, "nextId", kWidestNumber) +
                               memberLine(2, "version", kWidestNumber) +
                               memberLine(2, "width", kWidestNumber) + 1;  // "}"
  return kTop + kMaxMarkers * kMarker;
}

}  // namespace tessary

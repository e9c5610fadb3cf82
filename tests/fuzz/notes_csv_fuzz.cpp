// The notes CSV of any sheet the reader could hold: it parses (RFC 4180, CR LF
// records) back to the header and one record per marker, the numbers read back as
// the marker's values in their fixed forms, each note cell is the note with only
// the documented formula neutralisation applied, and no cell starts with a formula
// trigger unless it is neutralised or is a plain number.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "exports/notes_csv.h"
#include "observations/observation_sheet.h"
#include "text/text_rules.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "notes CSV: %s\n", what);
  std::abort();
}

using Record = std::vector<std::string>;

// RFC 4180 with CR LF record ends; any other shape of text is a failure.
std::vector<Record> parseCsv(const std::string& text) {
  std::vector<Record> records;
  Record record;
  std::string cell;
  std::size_t i = 0;
  bool cellStarted = false;
  while (i < text.size()) {
    if (!cellStarted && text[i] == '"') {
      ++i;
      for (;;) {
        if (i >= text.size()) fail("quoted cell not closed");
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            cell.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        cell.push_back(text[i++]);
      }
      cellStarted = true;
      if (i < text.size() && text[i] != ',' && text[i] != '\r') fail("text after a closing quote");
      continue;
    }
    if (text[i] == ',') {
      record.push_back(cell);
      cell.clear();
      cellStarted = false;
      ++i;
    } else if (text[i] == '\r') {
      if (i + 1 >= text.size() || text[i + 1] != '\n') fail("CR without LF outside quotes");
      record.push_back(cell);
      records.push_back(record);
      record.clear();
      cell.clear();
      cellStarted = false;
      i += 2;
    } else {
      if (text[i] == '"' || text[i] == '\n') fail("quote or LF in an unquoted cell");
      cell.push_back(text[i++]);
      cellStarted = true;
    }
  }
  if (cellStarted || !record.empty()) fail("last record not ended by CR LF");
  return records;
}

bool isTrigger(char c) { return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r'; }

// -?digits, no leading zeros (plain decimal integers).
bool isInteger(const std::string& cell) {
  std::size_t i = cell.size() > 0 && cell[0] == '-' ? 1 : 0;
  if (i >= cell.size()) return false;
  if (cell[i] == '0' && cell.size() > i + 1) return false;
  for (; i < cell.size(); ++i) if (cell[i] < '0' || cell[i] > '9') return false;
  return true;
}

std::string fixed6(double value) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%f", value);  // the process runs in the C locale
  return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  tessary::ObservationSheet sheet;
  sheet.imageSHA256 = std::string(64, 'a');
  sheet.width = input.ConsumeIntegralInRange<std::uint32_t>(1, 20000);
  sheet.height = input.ConsumeIntegralInRange<std::uint32_t>(1, 7500);
  const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, 6);
  for (std::size_t k = 0; k < count && input.remaining_bytes() > 0; ++k) {
    tessary::Marker marker;
    marker.id = input.ConsumeIntegral<std::int32_t>();
    // Any value the reader lets through: finite, not below zero (minus zero
    // included), inside the image.
    marker.x = input.ConsumeFloatingPoint<double>();
    marker.y = input.ConsumeBool() ? input.ConsumeFloatingPointInRange<double>(0, sheet.height) : -0.0;
    if (!std::isfinite(marker.x) || marker.x < 0 || marker.x >= sheet.width) marker.x = std::fmod(std::fabs(marker.x), sheet.width);
    if (!std::isfinite(marker.x)) marker.x = 0;
    if (!(marker.y < sheet.height)) marker.y = 0;
    marker.createdUTC = input.ConsumeIntegralInRange<std::int64_t>(0, 32503680000);
    const std::string note = input.ConsumeRandomLengthString(tessary::kNoteByteLimit);
    try {
      marker.note = tessary::acceptText(note, tessary::kNoteByteLimit);
    } catch (const tessary::TextError&) {
      marker.note = std::string();
    }
    sheet.marks.push_back(marker);
  }

  const std::string csv = tessary::notesCsv(sheet);
  const std::vector<Record> records = parseCsv(csv);
  if (records.size() != sheet.marks.size() + 1) fail("record count");
  if (records[0] != Record{"marker", "x_pixels", "y_pixels", "created_utc", "note"}) fail("header");
  for (std::size_t k = 0; k < sheet.marks.size(); ++k) {
    const tessary::Marker& marker = sheet.marks[k];
    const Record& record = records[k + 1];
    if (record.size() != 5) fail("field count");
    if (!isInteger(record[0]) || record[0] != std::to_string(marker.id)) fail("id");
    if (record[1] != fixed6(marker.x) || record[2] != fixed6(marker.y)) fail("x or y");
    if (!isInteger(record[3]) || record[3] != std::to_string(marker.createdUTC)) fail("created time");
    // Number cells may start with a minus sign (minus zero is written -0.000000);
    // they are plain numbers, never formulas.
    for (int column = 1; column <= 2; ++column) {
      const std::string& cell = record[column];
      const std::size_t point = cell.find('.');
      if (point == std::string::npos || cell.size() - point != 7 || !isInteger(cell.substr(0, point)) ||
          cell.find_first_not_of("0123456789", point + 1) != std::string::npos) {
        fail("number cell is not a plain number");
      }
    }
    const std::string& note = record[4];
    const bool neutralised = !marker.note.empty() && isTrigger(marker.note[0]);
    const std::string expected = neutralised ? "'" + marker.note : marker.note;
    if (note != expected) fail("note cell does not read back as the note");
    if (!note.empty() && isTrigger(note[0])) fail("note cell starts with a formula trigger");
  }
  return 0;
}

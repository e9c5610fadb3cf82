#include "exports/notes_csv.h"

#include <charconv>
#include <stdexcept>
#include <system_error>

namespace tessary {

namespace {

// The fixed notation with six decimals of the C library's "%f" in the classic
// locale, whatever locale the process runs in.
void appendFixed(std::string& out, double value) {
  char buffer[512];  // the largest double has 309 integer digits
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  if (result.ec != std::errc()) throw std::runtime_error("Export failed");
  out.append(buffer, result.ptr);
}

template <typename Integer>
void appendInteger(std::string& out, Integer value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

// Each double quote is written twice; a note that a spreadsheet would take for a
// formula gets a leading single quote. The check looks at the escaped text, so a
// note starting with a double quote is never prefixed.
std::string noteField(const std::string& note) {
  std::string escaped;
  escaped.reserve(note.size() + 2);
  for (char c : note) {
    escaped.push_back(c);
    if (c == '"') escaped.push_back('"');
  }
  if (!escaped.empty()) {
    switch (escaped.front()) {
      case '=':
      case '+':
      case '-':
      case '@':
      case '\t':
      case '\r':
        escaped.insert(escaped.begin(), '\'');
        break;
      default:
        break;
    }
  }
  return escaped;
}

}  // namespace

std::string notesCsv(const ObservationSheet& sheet) {
  std::string out = kNotesCsvHeader;
  for (const Marker& marker : sheet.marks) {
    appendInteger(out, marker.id);
    out.push_back(',');
    appendFixed(out, marker.x);
    out.push_back(',');
    appendFixed(out, marker.y);
    out.push_back(',');
    appendInteger(out, marker.createdUTC);
    out.append(",\"");
    out.append(noteField(marker.note));
    out.append("\"\r\n");
  }
  return out;
}

}  // namespace tessary

#pragma once
// The notes of a sheet as a CSV table for spreadsheets: one row per marker, notes
// always quoted, and notes that a spreadsheet would run as a formula neutralised.
#include <string>

#include "observations/observation_sheet.h"

namespace tessary {

inline constexpr const char* kNotesCsvHeader = "marker,x_pixels,y_pixels,created_utc,note\r\n";

// UTF-8 text without a byte-order mark; every line ends in CR LF.
std::string notesCsv(const ObservationSheet& sheet);

}  // namespace tessary

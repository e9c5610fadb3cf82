#pragma once
// The sheet files of the images: bounded reading, the save gate, and loading with
// recovery that never overwrites damaged data.
#include <filesystem>
#include <stdexcept>

#include "observations/observation_sheet.h"

namespace tessary {

struct Session;

// Large enough for every sheet the program writes.
inline constexpr std::uintmax_t kSheetFileLimit = maxPrintedSheetBytes();

// Raised by readSheetFile when another program holds the file open without sharing
// it for longer than the short retries: the file is not damaged, only unavailable
// for now, and nothing may be concluded from it.
struct SheetHeld : std::runtime_error {
  SheetHeld() : std::runtime_error("Cannot read sheet") {}
};

ObservationSheet readSheetFile(const std::filesystem::path& path);
bool saveSheet(Session& session);
void loadSheetForImage(Session& session);

// While the current image's sheet is held by another program, the image is shown
// as if storage were unavailable: no marker can be added and nothing is saved for
// it. Called by the window's timer: the read is tried again (once, without
// waiting), and when it succeeds the sheet's markers appear and work goes on.
void retryHeldSheet(Session& session);
// Whether markers can be added and notes saved for the current image.
bool sheetStorable(const Session& session);

}  // namespace tessary

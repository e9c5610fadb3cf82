#pragma once
// The sheet files of the images: bounded reading, the save gate, and loading with
// recovery that never overwrites damaged data.
#include <filesystem>

#include "observations/observation_sheet.h"

namespace tessary {

struct Session;

// Large enough for every sheet the program writes.
inline constexpr std::uintmax_t kSheetFileLimit = maxPrintedSheetBytes();

ObservationSheet readSheetFile(const std::filesystem::path& path);
bool saveSheet(Session& session);
void loadSheetForImage(Session& session);

}  // namespace tessary

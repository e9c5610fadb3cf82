#pragma once
// The export folder and the file stem shared by the files of one export.
#include <cstdint>
#include <filesystem>
#include <string>

namespace tessary {

struct Session;

// "Tessary-" + Unix seconds + "-" + tick count, plain decimal.
std::string exportStem(std::int64_t seconds, std::uint64_t ticks);
// The data folder's "exports" folder.
std::filesystem::path exportFolder(const Session& session);
// The export folder (created with any missing parents) joined with a fresh stem,
// without an extension. Raises "Storage unavailable" when the data folder could not
// be set up at start-up, and a file-system error naming "create_directories" when
// the folder cannot be created.
std::filesystem::path exportBasePath(Session& session);

}  // namespace tessary

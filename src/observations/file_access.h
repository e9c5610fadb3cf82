#pragma once
// The few file operations the sheet store needs beyond the atomic replacement:
// a bounded read that waits out another program's brief hold on the file, and a
// rename that never replaces anything.
#include <cstddef>
#include <filesystem>
#include <string>

namespace tessary {

// Reads the file's first `limit` bytes (all of it when shorter) into `bytes`. The
// file is opened for reading without sharing restrictions; when another program
// holds it open without sharing, the read is tried again after short, growing
// pauses, as the replacement does. False when it cannot be opened or read.
bool readFileUpTo(const std::filesystem::path& path, std::size_t limit, std::string& bytes);

// Renames `from` to `to` on the same volume, which needs no free space; fails
// rather than replace anything already at `to`.
bool moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace tessary

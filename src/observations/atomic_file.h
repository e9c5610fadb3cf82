#pragma once
// Crash-safe replacement of a file: the old or the new content survives any
// interruption. Every file the program writes goes through this.
#include <filesystem>
#include <string_view>

namespace tessary {

bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes, bool keepBackup);

}  // namespace tessary

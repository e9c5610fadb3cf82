#pragma once
// Self-test mode: the built-in checks, their report beside the executable and the
// exit code.
#include <windows.h>

#include <filesystem>

namespace tessary {

int runTests(HINSTANCE instance, const std::filesystem::path& exeDir);

}  // namespace tessary

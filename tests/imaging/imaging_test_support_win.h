#pragma once
// Helpers shared by the Windows imaging tests.
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "imaging/pixels.h"

namespace tessary::imagetest {

// The message of the ImageError that `action` raises; "no error" when it returns and
// "other: ..." for any other exception.
inline std::string imageErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ImageError& error) {
    return error.what();
  } catch (const std::exception& error) {
    return std::string("other: ") + error.what();
  }
  return "no error";
}

// Tessary.exe of the same build: bin/ beside the test programs' folder.
inline std::filesystem::path builtProgramPath() {
  wchar_t self[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  return std::filesystem::path(std::wstring(self, length)).parent_path().parent_path() / L"bin" / L"Tessary.exe";
}

// A module loaded by the test (the built program as a data file), freed at scope exit.
struct ModuleFree {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using ModuleHandle = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFree>;

// The built program loaded for its resources only (as a data file); null, with the
// system's error in `error`, when it cannot be loaded.
inline ModuleHandle loadBuiltProgramResources(DWORD& error) {
  ModuleHandle module(LoadLibraryExW(builtProgramPath().c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  error = module ? 0 : GetLastError();
  return module;
}

inline std::vector<std::uint8_t> bytesOf(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

struct Bgra {
  int b, g, r, a;
};

inline Bgra pixelAt(const Pixels& pixels, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* p = &pixels.bgra[(std::size_t{y} * pixels.width + x) * 4];
  return Bgra{p[0], p[1], p[2], p[3]};
}

// Memory of the process now and at its peak: working set (touched pages) and
// committed private bytes. Under Wine only the working-set figures follow touched
// memory; on Windows both do.
struct MemoryFigures {
  std::size_t workingSet = 0;
  std::size_t peakWorkingSet = 0;
  std::size_t commit = 0;
  std::size_t peakCommit = 0;
};

inline MemoryFigures memoryFigures() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(),
                       reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
  return MemoryFigures{counters.WorkingSetSize, counters.PeakWorkingSetSize,
                       counters.PagefileUsage, counters.PeakPagefileUsage};
}

}  // namespace tessary::imagetest

#pragma once
// Under Wine, runs a Unix command or this test program again in a new Wine
// process whose Unix environment holds some extra variables. A Wine process
// takes its time zone (TZ) and its preferred interface language (LC_ALL, LANG)
// from its Unix environment when it starts, and a Windows child created with
// CreateProcess inherits the parent's Unix environment whatever its Windows
// environment says, so tests that need another zone or language go through
// Wine's own Unix spawning call.
#include <windows.h>

#include <string>
#include <vector>

namespace tessary::test {

using UnixSpawnFunction = LONG(__cdecl*)(char* const argv[], int wait);

inline UnixSpawnFunction unixSpawn() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr) return nullptr;
  return reinterpret_cast<UnixSpawnFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "__wine_unix_spawnvp")));
}

inline bool canRunUnixCommands() { return unixSpawn() != nullptr; }

// Runs a Unix command found on the Unix PATH and waits for it; returns its exit
// code, or -1 when it cannot be run.
inline int runUnixCommand(const std::vector<std::string>& arguments) {
  const UnixSpawnFunction spawn = unixSpawn();
  if (spawn == nullptr || arguments.empty()) return -1;
  std::vector<std::string> copies = arguments;
  std::vector<char*> argv;
  for (auto& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return static_cast<int>(spawn(argv.data(), 1));
}

inline std::string utf8Of(const std::wstring& text) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string result(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr,
                      nullptr);
  return result;
}

// Runs the tests matching `gtestFilter` (disabled ones included) of this very
// program in a new Wine process with `environment` ("NAME=value" entries) added
// to its Unix environment; returns its exit code, or -1 when it cannot be run.
inline int runSelfUnderWine(const std::vector<std::string>& environment, const std::string& gtestFilter) {
  wchar_t exePath[MAX_PATH] = {};
  const DWORD pathLength = GetModuleFileNameW(nullptr, exePath, MAX_PATH);
  if (pathLength == 0 || pathLength >= MAX_PATH) return -1;
  std::vector<std::string> arguments = {"env"};
  arguments.insert(arguments.end(), environment.begin(), environment.end());
  arguments.push_back("wine");
  arguments.push_back(utf8Of(std::wstring(exePath, pathLength)));
  arguments.push_back("--gtest_also_run_disabled_tests");
  arguments.push_back("--gtest_filter=" + gtestFilter);
  return runUnixCommand(arguments);
}

}  // namespace tessary::test

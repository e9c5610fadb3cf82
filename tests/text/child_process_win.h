#pragma once
// Runs this test program again as a child process with some environment
// variables changed, limited to chosen tests, and returns its exit code. The
// time zone and the interface language of a process are fixed when it starts,
// so tests that need another zone or language run in a child.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace tessary::test {

class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
  ~ScopedHandle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Sets environment variables for the lifetime of the object and restores the
// previous values (or their absence) afterwards.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const std::vector<std::pair<std::wstring, std::wstring>>& values) {
    for (const auto& [name, value] : values) {
      wchar_t previous[32768];
      const DWORD length = GetEnvironmentVariableW(name.c_str(), previous, 32768);
      saved_.push_back({name, length > 0 && length < 32768 ? std::wstring(previous, length) : std::wstring(),
                        length > 0 && length < 32768});
      SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
  }
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      SetEnvironmentVariableW(it->name.c_str(), it->present ? it->value.c_str() : nullptr);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  struct Saved {
    std::wstring name;
    std::wstring value;
    bool present;
  };
  std::vector<Saved> saved_;
};

// Returns the child's exit code, or -1 when it could not be started.
inline int runSelfAsChild(const std::wstring& gtestFilter,
                          const std::vector<std::pair<std::wstring, std::wstring>>& environment) {
  wchar_t exePath[MAX_PATH] = {};
  const DWORD pathLength = GetModuleFileNameW(nullptr, exePath, MAX_PATH);
  if (pathLength == 0 || pathLength >= MAX_PATH) return -1;
  std::wstring commandLine = L"\"" + std::wstring(exePath) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" +
                             gtestFilter;
  const ScopedEnvironment scoped(environment);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(exePath, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return -1;
  }
  const ScopedHandle processHandle(process.hProcess);
  const ScopedHandle threadHandle(process.hThread);
  if (WaitForSingleObject(processHandle.get(), 120000) != WAIT_OBJECT_0) return -1;
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(processHandle.get(), &exitCode)) return -1;
  return static_cast<int>(exitCode);
}

}  // namespace tessary::test

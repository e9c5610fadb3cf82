// Runs the real self-test runner inside this test program. The program carries
// none of Tessary.exe's resources, so the checks that read resources 301 and
// 331-333 must fail while every other check passes, and the run must go on past
// each failure.
#include "selftest/self_test_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "imaging/com_support_win.h"
#include "selftest/self_test_report.h"

namespace tessary {
namespace {

class ExeFolder {
 public:
  ExeFolder() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("tessary-selftest-exe-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
             "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~ExeFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::vector<std::string> readLines(const std::filesystem::path& path, std::string& whole) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  whole = text.str();
  std::vector<std::string> lines;
  std::istringstream split(whole);
  for (std::string line; std::getline(split, line);) {
    lines.push_back(line);
  }
  return lines;
}

std::filesystem::path scratchOfThisProcess() {
  return std::filesystem::temp_directory_path() / ("Tessary-tests-" + std::to_string(GetCurrentProcessId()));
}

TEST(SelfTestRun, ResourceChecksFailOthersPassAndTheReportListsAll) {
  const ScopedCoInitialize com;
  const ScopedGdiplus gdiplus;
  ASSERT_TRUE(gdiplus.ok());
  const ExeFolder exe;

  const int code = runTests(GetModuleHandleW(nullptr), exe.path());
  EXPECT_EQ(code, 1);

  std::string whole;
  const std::vector<std::string> lines = readLines(exe.path() / "self-test-results.txt", whole);
  ASSERT_EQ(lines.size(), 23U);
  EXPECT_EQ(whole.find('\r'), std::string::npos);
  EXPECT_EQ(lines.front(), "Tessary native self-test");
  const std::vector<int> needResources = {16, 17, 18, 20, 21};
  for (std::size_t i = 0; i < kSelfTestCheckCount; ++i) {
    const int number = static_cast<int>(i) + 1;
    const bool failing = std::find(needResources.begin(), needResources.end(), number) != needResources.end();
    EXPECT_EQ(lines[i + 1], std::string(failing ? "FAIL " : "PASS ") + std::string(kSelfTestCheckNames[i]))
        << "check " << number;
  }
  EXPECT_EQ(lines.back(), "16 passed; 5 failed");
  EXPECT_FALSE(std::filesystem::exists(scratchOfThisProcess()));
  EXPECT_FALSE(std::filesystem::exists(exe.path() / "self-test-results.txt.tmp"));
}

TEST(SelfTestRun, UnwritableReportFolderKeepsTheExitCode) {
  const ScopedCoInitialize com;
  const ScopedGdiplus gdiplus;
  const ExeFolder exe;
  const std::filesystem::path missing = exe.path() / "no-such-folder";
  EXPECT_EQ(runTests(GetModuleHandleW(nullptr), missing), 1);
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_FALSE(std::filesystem::exists(scratchOfThisProcess()));
}

TEST(SelfTestRun, AnExistingReportIsReplaced) {
  const ScopedCoInitialize com;
  const ScopedGdiplus gdiplus;
  const ExeFolder exe;
  {
    std::ofstream old(exe.path() / "self-test-results.txt", std::ios::binary);
    old << "old report\n";
  }
  runTests(GetModuleHandleW(nullptr), exe.path());
  std::string whole;
  const std::vector<std::string> lines = readLines(exe.path() / "self-test-results.txt", whole);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "Tessary native self-test");
  // Written without keeping a backup.
  EXPECT_FALSE(std::filesystem::exists(exe.path() / "self-test-results.txt.bak"));
}

}  // namespace
}  // namespace tessary

#include "selftest/self_test_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>

namespace tessary {
namespace {

TEST(SelfTestReport, EveryCheckRunsAndRaisingChecksFail) {
  int ran = 0;
  const SelfTestLog log = runSelfTestChecks({
      {"first", [&] { ++ran; return true; }},
      {"second", [&] { ++ran; return false; }},
      {"third", [&]() -> bool { ++ran; throw std::runtime_error("Pixel limit"); }},
      {"fourth", [&]() -> bool { ++ran; throw std::bad_alloc(); }},
      {"fifth", [&]() -> bool { ++ran; throw 42; }},
      {"sixth", [&] { ++ran; return true; }},
  });
  EXPECT_EQ(ran, 6);
  EXPECT_EQ(log.failed, 4);
  ASSERT_EQ(log.lines.size(), 6U);
  EXPECT_EQ(log.lines[0], "PASS first");
  EXPECT_EQ(log.lines[1], "FAIL second");
  EXPECT_EQ(log.lines[2], "FAIL third");
  EXPECT_EQ(log.lines[3], "FAIL fourth");
  EXPECT_EQ(log.lines[4], "FAIL fifth");
  EXPECT_EQ(log.lines[5], "PASS sixth");
  EXPECT_EQ(selfTestExitCode(log), 1);
}

TEST(SelfTestReport, ReportHasHeaderResultLinesAndSummaryWithLineFeeds) {
  const SelfTestLog log = runSelfTestChecks({{"Alpha check", [] { return true; }},
                                             {"Beta check", [] { return false; }},
                                             {"Gamma check", [] { return true; }}});
  EXPECT_EQ(selfTestReportText(log),
            "Tessary native self-test\nPASS Alpha check\nFAIL Beta check\nPASS Gamma check\n"
            "2 passed; 1 failed\n");
}

TEST(SelfTestReport, AllPassingGivesExitCodeZeroAndTwentyThreeLines) {
  std::vector<SelfTestCheck> checks;
  for (std::string_view name : kSelfTestCheckNames) {
    checks.push_back({name, [] { return true; }});
  }
  const SelfTestLog log = runSelfTestChecks(checks);
  EXPECT_EQ(selfTestExitCode(log), 0);
  const std::string text = selfTestReportText(log);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 23);
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_NE(text.find("\nPASS Supported locale and English fallback\n"), std::string::npos);
  EXPECT_TRUE(text.ends_with("\nPASS Full-resolution scientific image decodes\n21 passed; 0 failed\n"));
}

TEST(SelfTestReport, CheckNamesAreTheTwentyOneInRunOrder) {
  EXPECT_EQ(kSelfTestCheckNames.size(), 21U);
  EXPECT_EQ(kSelfTestCheckNames[3], "Pixel limits before allocation");
  EXPECT_EQ(kSelfTestCheckNames[10], "Atomic state replacement preserves previous version");
  EXPECT_EQ(kSelfTestCheckNames[11], "Write failure does not change saved data");
  EXPECT_EQ(kSelfTestCheckNames[18], "PNG crop exports exact source pixels without modifying source");
  EXPECT_EQ(kSelfTestCheckNames[19], "Embedded scientific image is complete and authentic");
}

TEST(SelfTestReport, EmptyLogReportsZeroAndZero) {
  const SelfTestLog log;
  EXPECT_EQ(selfTestReportText(log), "Tessary native self-test\n0 passed; 0 failed\n");
  EXPECT_EQ(selfTestExitCode(log), 0);
}

}  // namespace
}  // namespace tessary

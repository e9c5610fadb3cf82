#include "selftest/self_test_report.h"

namespace tessary {

void runSelfTestCheck(SelfTestLog& log, std::string_view name, const std::function<bool()>& check) {
  bool passed = false;
  try {
    passed = check && check();
  } catch (...) {
    passed = false;
  }
  std::string line(passed ? "PASS " : "FAIL ");
  line.append(name);
  log.lines.push_back(std::move(line));
  if (!passed) {
    ++log.failed;
  }
}

SelfTestLog runSelfTestChecks(const std::vector<SelfTestCheck>& checks) {
  SelfTestLog log;
  log.lines.reserve(checks.size());
  for (const SelfTestCheck& check : checks) {
    runSelfTestCheck(log, check.name, check.run);
  }
  return log;
}

std::string selfTestReportText(const SelfTestLog& log) {
  const long long total = static_cast<long long>(log.lines.size());
  const long long failed = log.failed;
  std::string text(kSelfTestReportHeader);
  text += '\n';
  for (const std::string& line : log.lines) {
    text += line;
    text += '\n';
  }
  text += std::to_string(total - failed);
  text += " passed; ";
  text += std::to_string(failed);
  text += " failed\n";
  return text;
}

int selfTestExitCode(const SelfTestLog& log) { return log.failed != 0 ? 1 : 0; }

}  // namespace tessary

#pragma once
// The self-test's check list mechanics and its plain-text report: every check runs,
// whatever the earlier outcomes; a check that raises counts as failed; the report
// is a header line, one PASS/FAIL line per check and a summary line, LF line ends.
#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tessary {

inline constexpr std::size_t kSelfTestCheckCount = 21;

// The names of the checks in their run order, exactly as the report prints them.
inline constexpr std::array<std::string_view, kSelfTestCheckCount> kSelfTestCheckNames = {
    "Supported locale and English fallback",
    "Every UI string has three nonempty translations",
    "Unsupported text and invalid UTF rejected",
    "Pixel limits before allocation",
    "Crop reverses, clamps and rounds coordinates",
    "Crop cap, empty and nonfinite rejection",
    "Observation JSON round trip",
    "Invalid identifiers, hash and coordinates rejected",
    "Integer overflow and fractional identifiers rejected",
    "CSV quotes, multiline notes and formula neutralization",
    "Atomic state replacement preserves previous version",
    "Write failure does not change saved data",
    "SHA-256 known vector",
    "Unknown and damaged image formats rejected",
    "Relative and network image paths rejected",
    "Native JPEG decode",
    "Native BMP decode",
    "Native TIFF decode",
    "PNG crop exports exact source pixels without modifying source",
    "Embedded scientific image is complete and authentic",
    "Full-resolution scientific image decodes",
};

inline constexpr std::string_view kSelfTestReportHeader = "Tessary native self-test";
inline constexpr std::string_view kSelfTestReportFileName = "self-test-results.txt";

// The ordered result lines and the count of failed checks.
struct SelfTestLog {
  std::vector<std::string> lines;
  int failed = 0;
};

struct SelfTestCheck {
  std::string_view name;
  std::function<bool()> run;
};

// Runs one check and appends "PASS <name>" or "FAIL <name>". Any error the check
// raises (out-of-memory included) makes it a failure; it never escapes.
void runSelfTestCheck(SelfTestLog& log, std::string_view name, const std::function<bool()>& check);

// Runs every check of the list in order.
SelfTestLog runSelfTestChecks(const std::vector<SelfTestCheck>& checks);

// The report text: header, the result lines, "<passed> passed; <failed> failed",
// each line ended by LF.
std::string selfTestReportText(const SelfTestLog& log);

// 0 when no check failed, 1 otherwise.
int selfTestExitCode(const SelfTestLog& log);

}  // namespace tessary

#include "text/ui_language_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "text/child_process_win.h"
#include "text/local_time_win.h"

namespace tessary {
namespace {

// Each of these runs in a new Wine process started with its Unix locale (below).
TEST(PreferredLanguage, DISABLED_IsSpanish) { EXPECT_EQ(pickLanguage(), Language::Spanish); }
TEST(PreferredLanguage, DISABLED_IsGerman) { EXPECT_EQ(pickLanguage(), Language::German); }
TEST(PreferredLanguage, DISABLED_IsEnglish) { EXPECT_EQ(pickLanguage(), Language::English); }
TEST(PreferredLanguage, DISABLED_GermanFormatsAtUtc) {
  // The German short date is day.month.year and the clock runs to 24 hours.
  const std::u16string stamp = formatLocalTimestamp(0, true);
  EXPECT_EQ(stamp.substr(stamp.size() - 7), u"  00:00");
  EXPECT_NE(stamp.find(u"1.1970"), std::u16string::npos);
  EXPECT_EQ(formatLocalTimestamp(0, false), u"00:00");
  EXPECT_EQ(formatLocalTimestamp(1720051200 + 13 * 3600 + 5 * 60, false), u"13:05");
}

// Wine reports one preferred interface language, taken from the Unix locale of
// the process, and only when that locale exists; the test compiles the two it
// needs into a private folder with localedef and points LOCPATH at it.
class PreferredLanguageUnderWine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::canRunUnixCommands()) return;
    localeFolder_ = "/tmp/tessary-text-locales-" + std::to_string(GetCurrentProcessId());
    std::error_code error;
    std::filesystem::create_directories(folderFromWindows(), error);
    localesReady_ = !error;
    for (const char* locale : {"es_MX", "de_DE"}) {
      localesReady_ = localesReady_ && test::runUnixCommand({"localedef", "-i", locale, "-f", "UTF-8",
                                                             localeFolder_ + "/" + locale + ".UTF-8"}) == 0;
    }
  }
  static void TearDownTestSuite() {
    if (localeFolder_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(folderFromWindows(), ignored);
  }
  void SetUp() override {
    if (!test::canRunUnixCommands()) GTEST_SKIP() << "the language of a new process can only be chosen under Wine";
    ASSERT_TRUE(localesReady_) << "localedef could not build es_MX and de_DE in " << localeFolder_;
  }
  // Wine shows the Unix root as drive Z:.
  static std::filesystem::path folderFromWindows() {
    return std::filesystem::path(L"Z:\\") / std::filesystem::path(localeFolder_).relative_path();
  }
  static int runWithLocale(const std::string& locale, const std::string& test) {
    return test::runSelfUnderWine({"LOCPATH=" + localeFolder_, "LC_ALL=" + locale, "LANG=" + locale, "TZ=UTC"},
                                  "PreferredLanguage." + test);
  }
  static inline std::string localeFolder_;
  static inline bool localesReady_ = false;
};

TEST_F(PreferredLanguageUnderWine, SpanishMexicoGivesSpanish) {
  EXPECT_EQ(runWithLocale("es_MX.UTF-8", "DISABLED_IsSpanish"), 0);
}

TEST_F(PreferredLanguageUnderWine, GermanGermanyGivesGerman) {
  EXPECT_EQ(runWithLocale("de_DE.UTF-8", "DISABLED_IsGerman"), 0);
}

TEST_F(PreferredLanguageUnderWine, GermanLocaleFormatsTimestampsItsOwnWay) {
  EXPECT_EQ(runWithLocale("de_DE.UTF-8", "DISABLED_GermanFormatsAtUtc"), 0);
}

TEST_F(PreferredLanguageUnderWine, PlainLocaleGivesEnglish) {
  EXPECT_EQ(runWithLocale("C.UTF-8", "DISABLED_IsEnglish"), 0);
}

}  // namespace
}  // namespace tessary

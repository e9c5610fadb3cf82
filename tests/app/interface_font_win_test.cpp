// The interface font's family: the preferred one when the system has it, else the
// system's message font family, which text is always drawn in.
#include "app/interface_font_win.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <string>

namespace tessary {
namespace {

class InterfaceFont : public ::testing::Test {
 protected:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
  }
  void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

  static bool drawable(const std::wstring& family) {
    Gdiplus::FontFamily found(family.c_str());
    return found.GetLastStatus() == Gdiplus::Ok && found.IsAvailable();
  }
  static std::wstring messageFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return {};
    return metrics.lfMessageFont.lfFaceName;
  }

 private:
  ULONG_PTR token_ = 0;
};

TEST_F(InterfaceFont, AMissingFamilyFallsBackToTheMessageFont) {
  const wchar_t missing[] = L"Tessary Missing Family 7";
  ASSERT_FALSE(drawable(missing));
  const std::wstring chosen = interfaceFontFamily(missing);
  EXPECT_NE(chosen, missing);
  EXPECT_TRUE(drawable(chosen)) << "fell back to a family text cannot be drawn in";
  if (drawable(messageFont())) {
    EXPECT_EQ(chosen, messageFont());
  }
}

TEST_F(InterfaceFont, AnAvailableFamilyIsKept) {
  const std::wstring message = messageFont();
  ASSERT_TRUE(drawable(message)) << "the system's message font family cannot be drawn in";
  EXPECT_EQ(interfaceFontFamily(message.c_str()), message);
  // Whatever the system has, the desk's own choice is a family text is drawn in.
  EXPECT_TRUE(drawable(interfaceFontFamily()));
}

}  // namespace
}  // namespace tessary

// The interface font's family: the preferred one when the system has it, else the
// system's message font family, else the face GDI maps the preferred name to, else
// the generic sans-serif family: always one that text is drawn in.
#include "app/interface_font_win.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// The face GDI's font mapping gives a name (a substitute's target, say), found
// here as GDI reports it for a font made from that name.
std::wstring mappedFace(const std::wstring& name) {
  LOGFONTW request{};
  request.lfHeight = -14;
  request.lfCharSet = DEFAULT_CHARSET;
  request.lfOutPrecision = OUT_TT_ONLY_PRECIS;
  wcsncpy_s(request.lfFaceName, LF_FACESIZE, name.c_str(), _TRUNCATE);
  std::wstring face;
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT font = CreateFontIndirectW(&request);
  if (dc && font) {
    HGDIOBJ previous = SelectObject(dc, font);
    wchar_t chosen[LF_FACESIZE] = L"";
    if (GetTextFaceW(dc, LF_FACESIZE, chosen) > 0) face = chosen;
    SelectObject(dc, previous);
  }
  if (font) DeleteObject(font);
  if (dc) DeleteDC(dc);
  return face;
}

// The names the system substitutes by another face.
std::vector<std::wstring> substituteNames() {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes", 0,
                    KEY_READ, &key) != ERROR_SUCCESS) {
    return names;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256] = L"";
    DWORD length = 256;
    if (RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  RegCloseKey(key);
  return names;
}

std::wstring genericSansSerif() {
  wchar_t name[LF_FACESIZE] = L"";
  const Gdiplus::FontFamily* generic = Gdiplus::FontFamily::GenericSansSerif();
  if (generic) generic->GetFamilyName(name);
  return name;
}

// Neither the preferred name nor the message font is a family GDI+ can draw in (the
// message font may be a substitute name): the face GDI maps the preferred name to is
// taken, before the generic family.
TEST_F(InterfaceFont, WithoutTheMessageFontTheFaceGdiMapsThePreferredNameToIsTaken) {
  const std::wstring missingMessage = L"Tessary Missing Message Font";
  ASSERT_FALSE(drawable(missingMessage));
  const std::wstring generic = genericSansSerif();
  // A substitute name that GDI+ does not take but GDI maps to a drawable face other
  // than the generic one, so the two last fallbacks give different answers.
  std::wstring preferred;
  std::wstring expected;
  for (const std::wstring& name : substituteNames()) {
    const std::wstring face = mappedFace(name);
    if (!drawable(name) && !face.empty() && drawable(face) && face != generic) {
      preferred = name;
      expected = face;
      break;
    }
  }
  ASSERT_FALSE(preferred.empty()) << "no substitute name maps to a face other than the generic " << generic.size();
  EXPECT_EQ(interfaceFontFamily(preferred.c_str(), missingMessage), expected);
  // Without any message font name at all, the same.
  EXPECT_EQ(interfaceFontFamily(preferred.c_str(), std::wstring()), expected);
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

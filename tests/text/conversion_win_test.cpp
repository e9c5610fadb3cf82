// Holds the Windows conversion calls, with the strict flags, to the same table of
// cases as the portable converter: both must accept and refuse the same inputs
// and give the same code units or bytes.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "text/conversion_cases.h"
#include "text/text_rules.h"

namespace tessary {
namespace {

std::optional<std::u16string> windowsToUtf16(const std::string& utf8) {
  const int inputLength = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inputLength, nullptr, 0);
  if (length == 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  const int written = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inputLength, wide.data(), length);
  if (written != length) return std::nullopt;
  return std::u16string(wide.begin(), wide.end());
}

std::optional<std::string> windowsToUtf8(const std::u16string& utf16) {
  const std::wstring wide(utf16.begin(), utf16.end());
  const int inputLength = static_cast<int>(wide.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), inputLength, nullptr, 0, nullptr, nullptr);
  if (length == 0) return std::nullopt;
  std::string narrow(static_cast<std::size_t>(length), '\0');
  const int written = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), inputLength, narrow.data(),
                                          length, nullptr, nullptr);
  if (written != length) return std::nullopt;
  return narrow;
}

TEST(WindowsConversionAgreement, Utf8Table) {
  for (const auto& c : test::utf8Cases()) {
    SCOPED_TRACE(c.name);
    const auto fromWindows = windowsToUtf16(c.input);
    ASSERT_EQ(fromWindows.has_value(), c.valid);
    if (c.valid) {
      EXPECT_EQ(*fromWindows, c.expected);
    }
  }
}

TEST(WindowsConversionAgreement, Utf16Table) {
  for (const auto& c : test::utf16Cases()) {
    SCOPED_TRACE(c.name);
    const auto fromWindows = windowsToUtf8(c.input);
    ASSERT_EQ(fromWindows.has_value(), c.valid);
    if (c.valid) {
      EXPECT_EQ(*fromWindows, c.expected);
    }
  }
}

}  // namespace
}  // namespace tessary

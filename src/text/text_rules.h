#pragma once
// Strict conversions between UTF-8 (stored text) and UTF-16 (window-system text),
// the script predicate for accepted characters, and the note acceptance rule.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tessary {

// Raised with exactly "Invalid UTF-8", "Invalid UTF-16" or "Unsupported text".
struct TextError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);
bool isEnabledScript(std::u16string_view text);
std::string acceptText(std::string_view utf8, std::size_t byteLimit);
std::u16string toEditText(std::string_view utf8);

// The longest note a marker may hold, in UTF-8 bytes.
inline constexpr std::size_t kNoteByteLimit = 8000;

}  // namespace tessary

#include "text/text_rules.h"

#include <cstdint>

namespace tessary {

namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes the sequence starting at text[pos] into one code point and advances
// pos past it. Accepts exactly the well-formed UTF-8 byte sequences: no overlong
// forms, no encoded surrogates (ED A0..BF), nothing above U+10FFFF, never C0, C1
// or F5..FF, and no sequence cut short by the end of the text. Returns false for
// anything else, so the caller refuses the whole text instead of substituting.
bool decodeOne(std::string_view text, std::size_t& pos, char32_t& codePoint) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) {
    codePoint = lead;
    pos += 1;
    return true;
  }
  std::size_t length = 0;
  unsigned char secondMin = 0x80;
  unsigned char secondMax = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
    if (lead == 0xE0) secondMin = 0xA0;  // below U+0800 would be overlong
    if (lead == 0xED) secondMax = 0x9F;  // U+D800..U+DFFF are not characters
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
    if (lead == 0xF0) secondMin = 0x90;  // below U+10000 would be overlong
    if (lead == 0xF4) secondMax = 0x8F;  // above U+10FFFF
  } else {
    return false;  // a stray continuation byte, C0, C1 or F5..FF
  }
  if (text.size() - pos < length) return false;
  const auto second = static_cast<unsigned char>(text[pos + 1]);
  if (second < secondMin || second > secondMax) return false;
  codePoint = (codePoint << 6) | (second & 0x3F);
  for (std::size_t i = 2; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if (!isContinuation(next)) return false;
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  pos += length;
  return codePoint <= kMaxCodePoint;
}

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

bool isDisabledUnit(char16_t unit) {
  return (unit >= 0x0400 && unit <= 0x052F) ||  // Cyrillic, Cyrillic Supplement
         (unit >= 0x2DE0 && unit <= 0x2DFF) ||  // Cyrillic Extended-A
         (unit >= 0xA640 && unit <= 0xA69F);    // Cyrillic Extended-B
}

}  // namespace

// The same strict converter serves both builds, so stored text is judged alike
// everywhere; it accepts exactly what MultiByteToWideChar accepts with
// MB_ERR_INVALID_CHARS for code page UTF-8.
std::u16string toUtf16(std::string_view utf8) {
  std::u16string result;
  if (utf8.empty()) return result;
  result.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t codePoint = 0;
    if (!decodeOne(utf8, pos, codePoint)) throw TextError("Invalid UTF-8");
    if (codePoint < 0x10000) {
      result.push_back(static_cast<char16_t>(codePoint));
    } else {
      const char32_t offset = codePoint - 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
    }
  }
  return result;
}

// Accepts exactly what WideCharToMultiByte accepts with WC_ERR_INVALID_CHARS for
// code page UTF-8: every code unit except a surrogate without its partner.
std::string toUtf8(std::u16string_view utf16) {
  std::string result;
  if (utf16.empty()) return result;
  result.reserve(utf16.size() * 3);
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    char32_t codePoint = unit;
    if (isHighSurrogate(unit)) {
      if (i + 1 >= utf16.size() || !isLowSurrogate(utf16[i + 1])) throw TextError("Invalid UTF-16");
      codePoint = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                  (static_cast<char32_t>(utf16[i + 1]) - 0xDC00);
      ++i;
    } else if (isLowSurrogate(unit)) {
      throw TextError("Invalid UTF-16");
    }
    if (codePoint < 0x80) {
      result.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
      result.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
      result.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
      result.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
      result.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
      result.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
      result.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
  }
  return result;
}

// Works on code units: a surrogate pair never falls in a disabled range.
bool isEnabledScript(std::u16string_view text) {
  for (const char16_t unit : text) {
    if (isDisabledUnit(unit)) return false;
  }
  return true;
}

// The checks run in a fixed order and the first failure decides: an oversized
// text is refused before its bytes are even looked at.
std::string acceptText(std::string_view utf8, std::size_t byteLimit) {
  if (utf8.size() > byteLimit) throw TextError("Unsupported text");
  const std::u16string wide = toUtf16(utf8);
  if (!isEnabledScript(wide)) throw TextError("Unsupported text");
  if (utf8.find('\0') != std::string_view::npos) throw TextError("Unsupported text");
  return std::string(utf8);
}

// The note box wants CR LF line breaks; a bare LF gains a CR, a CR LF pair and a
// lone CR stay as they are.
std::u16string toEditText(std::string_view utf8) {
  const std::u16string wide = toUtf16(utf8);
  std::u16string result;
  result.reserve(wide.size() + wide.size() / 8);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] == u'\n' && (i == 0 || wide[i - 1] != u'\r')) result.push_back(u'\r');
    result.push_back(wide[i]);
  }
  return result;
}

}  // namespace tessary

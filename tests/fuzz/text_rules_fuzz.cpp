// The text rules against a reference written here from their definitions: the
// strict UTF-8 to UTF-16 conversion and back (each refuses exactly the malformed
// input and round-trips everything else), the script predicate, acceptText's checks
// in their order, and the note-box line breaks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "text/text_rules.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "text rules: %s\n", what);
  std::abort();
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, nothing cut.
std::optional<std::u16string> referenceUtf16(const std::string& text) {
  std::u16string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::uint32_t cp = 0;
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    if (b0 < 0x80) { cp = b0; length = 1; }
    else if (b0 >= 0xC2 && b0 <= 0xDF) { cp = b0 & 0x1F; length = 2; minimum = 0x80; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) { cp = b0 & 0x0F; length = 3; minimum = 0x800; }
    else if (b0 >= 0xF0 && b0 <= 0xF4) { cp = b0 & 0x07; length = 4; minimum = 0x10000; }
    else return std::nullopt;
    if (text.size() - i < length) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += length;
  }
  return out;
}

bool pairedSurrogates(const std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

bool referenceEnabled(const std::u16string& text) {
  for (char16_t u : text) {
    if ((u >= 0x0400 && u <= 0x052F) || (u >= 0x2DE0 && u <= 0x2DFF) || (u >= 0xA640 && u <= 0xA69F)) return false;
  }
  return true;
}

// The outcome of acceptText by its definition: "" for accepted, else the message.
std::string referenceAccept(const std::string& text, std::size_t limit) {
  if (text.size() > limit) return "Unsupported text";
  const auto wide = referenceUtf16(text);
  if (!wide) return "Invalid UTF-8";
  if (!referenceEnabled(*wide)) return "Unsupported text";
  if (text.find('\0') != std::string::npos) return "Unsupported text";
  return "";
}

std::u16string referenceEditText(const std::u16string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) out.push_back(u'\r');
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  // UTF-8 to UTF-16 and back.
  const auto expected = referenceUtf16(text);
  std::optional<std::u16string> wide;
  try {
    wide = tessary::toUtf16(text);
  } catch (const tessary::TextError& error) {
    if (std::strcmp(error.what(), "Invalid UTF-8") != 0) fail("toUtf16 failed with another text");
  }
  if (wide.has_value() != expected.has_value()) fail("toUtf16 accepts differently from strict UTF-8");
  if (wide) {
    if (*wide != *expected) fail("toUtf16 converted differently");
    if (tessary::toUtf8(*wide) != text) fail("UTF-8 does not round-trip");
    if (tessary::isEnabledScript(*wide) != referenceEnabled(*wide)) fail("isEnabledScript disagrees");
    if (tessary::toEditText(text) != referenceEditText(*wide)) fail("toEditText disagrees");
  }

  // The same bytes as UTF-16 code units, to UTF-8 and back.
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  std::optional<std::string> narrow;
  try {
    narrow = tessary::toUtf8(units);
  } catch (const tessary::TextError& error) {
    if (std::strcmp(error.what(), "Invalid UTF-16") != 0) fail("toUtf8 failed with another text");
  }
  if (narrow.has_value() != pairedSurrogates(units)) fail("toUtf8 accepts differently from strict UTF-16");
  if (narrow && tessary::toUtf16(*narrow) != units) fail("UTF-16 does not round-trip");

  // acceptText at limits around the length and at the note limit.
  const std::size_t limits[] = {0, size == 0 ? 0 : size - 1, size, size + 1, tessary::kNoteByteLimit,
                                size == 0 ? std::size_t{7} : std::size_t{data[0]}};
  for (std::size_t limit : limits) {
    std::string outcome;
    try {
      if (tessary::acceptText(text, limit) != text) fail("acceptText changed the text");
    } catch (const tessary::TextError& error) {
      outcome = error.what();
      if (outcome.empty()) fail("empty message");
    }
    if (outcome != referenceAccept(text, limit)) fail("acceptText disagrees with its rules");
  }
  return 0;
}

#include "text/text_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "text/conversion_cases.h"

namespace tessary {
namespace {

using test::bytes;

// Runs `action` and returns the message of the TextError it raises, or "" when
// it raises nothing.
template <typename Action>
std::string textErrorOf(Action action) {
  try {
    action();
  } catch (const TextError& error) {
    return error.what();
  }
  return "";
}

TEST(Utf8ToUtf16, ConvertsOrRefusesEveryCaseOfTheTable) {
  for (const auto& c : test::utf8Cases()) {
    SCOPED_TRACE(c.name);
    if (c.valid) {
      EXPECT_EQ(toUtf16(c.input), c.expected);
    } else {
      EXPECT_EQ(textErrorOf([&] { toUtf16(c.input); }), "Invalid UTF-8");
    }
  }
}

TEST(Utf16ToUtf8, ConvertsOrRefusesEveryCaseOfTheTable) {
  for (const auto& c : test::utf16Cases()) {
    SCOPED_TRACE(c.name);
    if (c.valid) {
      EXPECT_EQ(toUtf8(c.input), c.expected);
    } else {
      EXPECT_EQ(textErrorOf([&] { toUtf8(c.input); }), "Invalid UTF-16");
    }
  }
}

TEST(Conversions, EmptyTextGivesEmptyTextBothWays) {
  EXPECT_EQ(toUtf16(""), u"");
  EXPECT_EQ(toUtf8(u""), "");
}

TEST(Conversions, EveryCodePointRoundTrips) {
  // All scalar values, in blocks, through both conversions.
  std::u16string wide;
  for (char32_t cp = 1; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    if (cp < 0x10000) {
      wide.push_back(static_cast<char16_t>(cp));
    } else {
      wide.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    }
    if (wide.size() >= 4096 || cp == 0x10FFFF) {
      const std::string narrow = toUtf8(wide);
      ASSERT_EQ(toUtf16(narrow), wide) << "block ending at U+" << std::hex << static_cast<unsigned>(cp);
      wide.clear();
    }
  }
}

TEST(Conversions, EveryTwoByteInputIsJudgedLikeTheRoundTrip) {
  // A byte pair is accepted exactly when it is one well-formed character or two
  // ASCII bytes, and what is accepted converts back to the same bytes.
  for (unsigned first = 0; first < 256; ++first) {
    for (unsigned second = 0; second < 256; ++second) {
      const std::string input = bytes({first, second});
      const bool expectValid = (first < 0x80 && second < 0x80) ||
                               (first >= 0xC2 && first <= 0xDF && second >= 0x80 && second <= 0xBF);
      std::u16string wide;
      const std::string error = textErrorOf([&] { wide = toUtf16(input); });
      ASSERT_EQ(error.empty(), expectValid) << first << " " << second;
      if (expectValid) {
        ASSERT_EQ(toUtf8(wide), input);
      }
    }
  }
}

TEST(EnabledScript, RangeBoundaries) {
  struct Case {
    char16_t unit;
    bool enabled;
  };
  const Case cases[] = {
      {0x0041, true},  {0x03FF, true},  {0x0400, false}, {0x0440, false}, {0x052F, false}, {0x0530, true},
      {0x2DDF, true},  {0x2DE0, false}, {0x2DFF, false}, {0x2E00, true},  {0xA63F, true},  {0xA640, false},
      {0xA69F, false}, {0xA6A0, true},  {0xD800, true},  {0xDC00, true},  {0xFEFF, true},  {0x0000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<unsigned>(c.unit));
    EXPECT_EQ(isEnabledScript(std::u16string(1, c.unit)), c.enabled);
    EXPECT_EQ(isEnabledScript(std::u16string(u"abc ") + c.unit + u" def"), c.enabled);
  }
  EXPECT_TRUE(isEnabledScript(u""));
  // A character outside the Basic Multilingual Plane never matches a range.
  EXPECT_TRUE(isEnabledScript(u"\U0001F600\U00010400"));
}

TEST(AcceptText, ReturnsTheInputUnchanged) {
  const std::string note = "Line one\r\nline two\n\ttab \xE2\x80\x94 caf\xC3\xA9 \x01";
  EXPECT_EQ(acceptText(note, kNoteByteLimit), note);
  EXPECT_EQ(acceptText("", 0), "");
  EXPECT_EQ(acceptText("", kNoteByteLimit), "");
  // No normalisation: a decomposed e + combining acute stays decomposed.
  EXPECT_EQ(acceptText("e\xCC\x81", 10), "e\xCC\x81");
  // A leading byte-order mark is kept as it is.
  EXPECT_EQ(acceptText("\xEF\xBB\xBFx", 10), "\xEF\xBB\xBFx");
}

TEST(AcceptText, LimitCountsBytes) {
  EXPECT_EQ(acceptText(std::string(8000, 'a'), kNoteByteLimit).size(), 8000u);
  EXPECT_EQ(textErrorOf([] { acceptText(std::string(8001, 'a'), kNoteByteLimit); }), "Unsupported text");
  std::string twoByte;
  for (int i = 0; i < 4000; ++i) twoByte += "\xC3\xA9";
  EXPECT_EQ(acceptText(twoByte, kNoteByteLimit), twoByte);
  std::string emoji;
  for (int i = 0; i < 2000; ++i) emoji += "\xF0\x9F\x98\x80";
  EXPECT_EQ(acceptText(emoji, kNoteByteLimit), emoji);
  EXPECT_EQ(textErrorOf([&] { acceptText(emoji + "a", kNoteByteLimit); }), "Unsupported text");
}

TEST(AcceptText, ChecksRunInOrderAndTheFirstFailureDecides) {
  // Too long and not UTF-8: the length decides.
  EXPECT_EQ(textErrorOf([] { acceptText(std::string(8001, '\xFF'), kNoteByteLimit); }), "Unsupported text");
  // Within the limit, not UTF-8: the conversion's own message.
  EXPECT_EQ(textErrorOf([] { acceptText(std::string(8000, '\xFF'), kNoteByteLimit); }), "Invalid UTF-8");
  EXPECT_EQ(textErrorOf([] { acceptText("\xFF", 100); }), "Invalid UTF-8");
  EXPECT_EQ(textErrorOf([] { acceptText("\xED\xA0\x80", 100); }), "Invalid UTF-8");
  // Invalid UTF-8 wins over a zero byte and over Cyrillic placed before it.
  EXPECT_EQ(textErrorOf([] { acceptText(std::string("\xD1\x80\0\xC3", 4), 100); }), "Invalid UTF-8");
  // Valid text: Cyrillic and U+0000 are both refused as unsupported.
  EXPECT_EQ(textErrorOf([] { acceptText(toUtf8(u"\u0440"), 100); }), "Unsupported text");
  EXPECT_EQ(textErrorOf([] { acceptText(std::string("a\0b", 3), 100); }), "Unsupported text");
  EXPECT_EQ(textErrorOf([] { acceptText(std::string(1, '\0'), 100); }), "Unsupported text");
  EXPECT_EQ(textErrorOf([] { acceptText(std::string("ends with zero\0", 15), 100); }), "Unsupported text");
}

TEST(AcceptText, ScriptBoundariesInNotes) {
  struct Case {
    std::u16string text;
    bool accepted;
  };
  const Case cases[] = {
      {u"\u03FF", true},  {u"\u0400", false}, {u"\u052F", false}, {u"\u0530", true},
      {u"\u2DE0", false}, {u"\u2DFF", false}, {u"\uA640", false}, {u"\uA69F", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<unsigned>(c.text[0]));
    const std::string note = toUtf8(u"note " + c.text);
    if (c.accepted) {
      EXPECT_EQ(acceptText(note, kNoteByteLimit), note);
    } else {
      EXPECT_EQ(textErrorOf([&] { acceptText(note, kNoteByteLimit); }), "Unsupported text");
    }
  }
}

TEST(AcceptText, MixedScriptsPassUntilOneCyrillicLetter) {
  const std::u16string mixed = u"Nebula \u03B1\u03B2\u03B3 \u661F\u96F2 \u00E9\u00DF \U0001F52D\U0001F30C";
  const std::string note = toUtf8(mixed);
  EXPECT_EQ(acceptText(note, kNoteByteLimit), note);
  const std::string withCyrillic = toUtf8(mixed + u"\u0416");
  EXPECT_EQ(textErrorOf([&] { acceptText(withCyrillic, kNoteByteLimit); }), "Unsupported text");
}

TEST(EditText, OnlyBareLineFeedsGainACarriageReturn) {
  EXPECT_EQ(toEditText("a\nb\r\nc\rd"), u"a\r\nb\r\nc\rd");
  EXPECT_EQ(toEditText("\n"), u"\r\n");
  EXPECT_EQ(toEditText("\n\n"), u"\r\n\r\n");
  EXPECT_EQ(toEditText("\r\r\n"), u"\r\r\n");
  EXPECT_EQ(toEditText("end\n"), u"end\r\n");
  EXPECT_EQ(toEditText(""), u"");
  EXPECT_EQ(toEditText("caf\xC3\xA9\n\xF0\x9F\x98\x80"), u"caf\u00E9\r\n\U0001F600");
  EXPECT_EQ(textErrorOf([] { toEditText("\xFF\n"); }), "Invalid UTF-8");
}

}  // namespace
}  // namespace tessary

#pragma once
// One table of UTF-8 inputs and one of UTF-16 inputs with what the strict
// conversions must make of them; shared by the converter tests and by the tests
// that hold the Windows conversion calls to the same table.
#include <string>
#include <vector>

namespace tessary::test {

struct Utf8Case {
  const char* name;
  std::string input;
  bool valid;
  std::u16string expected;  // when valid
};

struct Utf16Case {
  const char* name;
  std::u16string input;
  bool valid;
  std::string expected;  // when valid
};

inline std::string bytes(std::initializer_list<unsigned> values) {
  std::string result;
  for (const unsigned value : values) result.push_back(static_cast<char>(value));
  return result;
}

inline const std::vector<Utf8Case>& utf8Cases() {
  static const std::vector<Utf8Case> cases = {
      // well-formed, one to four bytes, at the edges of each length
      {"ascii", "Az~", true, u"Az~"},
      {"delete 7F", bytes({0x7F}), true, u"\u007F"},
      {"tab and controls", bytes({0x09, 0x01, 0x1F}), true, u"\t\u0001\u001F"},
      {"embedded zero", bytes({'a', 0x00, 'b'}), true, std::u16string(u"a\0b", 3)},
      {"two bytes lowest U+0080", bytes({0xC2, 0x80}), true, u"\u0080"},
      {"two bytes e acute", bytes({0xC3, 0xA9}), true, u"\u00E9"},
      {"two bytes highest U+07FF", bytes({0xDF, 0xBF}), true, u"\u07FF"},
      {"three bytes lowest U+0800", bytes({0xE0, 0xA0, 0x80}), true, u"\u0800"},
      {"three bytes euro", bytes({0xE2, 0x82, 0xAC}), true, u"\u20AC"},
      {"three bytes U+D7FF below surrogates", bytes({0xED, 0x9F, 0xBF}), true, u"\uD7FF"},
      {"three bytes U+E000 above surrogates", bytes({0xEE, 0x80, 0x80}), true, u"\uE000"},
      {"three bytes noncharacter U+FFFE", bytes({0xEF, 0xBF, 0xBE}), true, u"\uFFFE"},
      {"three bytes highest U+FFFF", bytes({0xEF, 0xBF, 0xBF}), true, u"\uFFFF"},
      {"four bytes lowest U+10000", bytes({0xF0, 0x90, 0x80, 0x80}), true, u"\U00010000"},
      {"four bytes emoji U+1F600", bytes({0xF0, 0x9F, 0x98, 0x80}), true, u"\U0001F600"},
      {"four bytes F3", bytes({0xF3, 0xBF, 0xBF, 0xBF}), true, u"\U000FFFFF"},
      {"four bytes highest U+10FFFF", bytes({0xF4, 0x8F, 0xBF, 0xBF}), true, u"\U0010FFFF"},
      {"byte-order mark kept", bytes({0xEF, 0xBB, 0xBF, 'x'}), true, u"\uFEFFx"},
      {"byte-order mark alone", bytes({0xEF, 0xBB, 0xBF}), true, u"\uFEFF"},
      {"mixed scripts", "a\xC3\xA9\xCE\xA9\xE6\xBC\xA2\xF0\x9F\x94\xAD", true, u"a\u00E9\u03A9\u6F22\U0001F52D"},
      // refused: bytes that never start a sequence
      {"byte FF", bytes({0xFF}), false, u""},
      {"byte FE", bytes({0xFE}), false, u""},
      {"lead C0", bytes({0xC0, 0x80}), false, u""},
      {"lead C1", bytes({0xC1, 0xBF}), false, u""},
      {"lead F5", bytes({0xF5, 0x80, 0x80, 0x80}), false, u""},
      {"lead F8 five bytes", bytes({0xF8, 0x88, 0x80, 0x80, 0x80}), false, u""},
      {"lone continuation 80", bytes({0x80}), false, u""},
      {"lone continuation BF after text", bytes({'a', 0xBF}), false, u""},
      // refused: overlong forms
      {"overlong slash two bytes", bytes({0xC0, 0xAF}), false, u""},
      {"overlong three bytes", bytes({0xE0, 0x80, 0xAF}), false, u""},
      {"overlong three bytes U+07FF", bytes({0xE0, 0x9F, 0xBF}), false, u""},
      {"overlong four bytes", bytes({0xF0, 0x80, 0x80, 0xAF}), false, u""},
      {"overlong four bytes U+FFFF", bytes({0xF0, 0x8F, 0xBF, 0xBF}), false, u""},
      // refused: encoded surrogates
      {"surrogate U+D800", bytes({0xED, 0xA0, 0x80}), false, u""},
      {"surrogate U+DBFF", bytes({0xED, 0xAF, 0xBF}), false, u""},
      {"surrogate U+DC00", bytes({0xED, 0xB0, 0x80}), false, u""},
      {"surrogate U+DFFF", bytes({0xED, 0xBF, 0xBF}), false, u""},
      {"surrogate pair encoded separately", bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}), false, u""},
      // refused: beyond U+10FFFF
      {"U+110000", bytes({0xF4, 0x90, 0x80, 0x80}), false, u""},
      {"U+13FFFF", bytes({0xF4, 0xBF, 0xBF, 0xBF}), false, u""},
      // refused: cut short or interrupted
      {"truncated two bytes", bytes({0xC3}), false, u""},
      {"truncated three bytes", bytes({0xE2, 0x82}), false, u""},
      {"truncated four bytes", bytes({0xF0, 0x9F, 0x98}), false, u""},
      {"truncated in the middle", bytes({'a', 0xE2, 0x82, 'b'}), false, u""},
      {"continuation replaced by ascii", bytes({0xC3, 0x41}), false, u""},
      {"third byte not continuation", bytes({0xE2, 0x28, 0xA1}), false, u""},
      {"fourth byte not continuation", bytes({0xF0, 0x9F, 0x98, 0x28}), false, u""},
      {"invalid after valid text", "valid text \xC3\xA9 then \xFF", false, u""},
  };
  return cases;
}

inline const std::vector<Utf16Case>& utf16Cases() {
  static const std::vector<Utf16Case> cases = {
      {"ascii", u"Az~", true, "Az~"},
      {"embedded zero", std::u16string(u"a\0b", 3), true, std::string("a\0b", 3)},
      {"U+0080", u"\u0080", true, "\xC2\x80"},
      {"U+07FF", u"\u07FF", true, "\xDF\xBF"},
      {"U+0800", u"\u0800", true, "\xE0\xA0\x80"},
      {"byte-order mark", u"\uFEFF", true, "\xEF\xBB\xBF"},
      {"U+D7FF", u"\uD7FF", true, "\xED\x9F\xBF"},
      {"U+E000", u"\uE000", true, "\xEE\x80\x80"},
      {"U+FFFF", u"\uFFFF", true, "\xEF\xBF\xBF"},
      {"pair lowest U+10000", {0xD800, 0xDC00}, true, "\xF0\x90\x80\x80"},
      {"pair emoji U+1F600", {0xD83D, 0xDE00}, true, "\xF0\x9F\x98\x80"},
      {"pair highest U+10FFFF", {0xDBFF, 0xDFFF}, true, "\xF4\x8F\xBF\xBF"},
      {"pairs between text", {u'x', 0xD83D, 0xDD2D, u'y', 0xD800, 0xDC00}, true,
       "x\xF0\x9F\x94\xAD" "y\xF0\x90\x80\x80"},
      {"unpaired high alone", {0xD800}, false, ""},
      {"unpaired high at end", {u'a', 0xDBFF}, false, ""},
      {"unpaired high before text", {0xD83D, u'a'}, false, ""},
      {"high followed by high", {0xD83D, 0xD83D, 0xDE00}, false, ""},
      {"unpaired low alone", {0xDC00}, false, ""},
      {"unpaired low after text", {u'a', 0xDFFF}, false, ""},
      {"pair reversed", {0xDE00, 0xD83D}, false, ""},
  };
  return cases;
}

}  // namespace tessary::test

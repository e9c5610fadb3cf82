#include "app/clipboard_block.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tessary {
namespace {

TEST(ClipboardBlock, TextEndsAtTheFirstZeroInsideTheBlock) {
  struct Case {
    const char* name;
    std::u16string block;  // the block's units, zeros included
    std::optional<std::u16string> text;
  };
  const std::vector<Case> cases = {
      {"terminated", std::u16string(u"Orion\0", 6), u"Orion"},
      {"terminated with slack after the zero", std::u16string(u"ab\0zz\0", 6), u"ab"},
      {"empty text", std::u16string(u"\0", 1), u""},
      {"unterminated", u"abc", std::nullopt},
      {"zero in the last unit only", std::u16string(u"abc\0", 4), u"abc"},
      {"Cyrillic, terminated", std::u16string(u"\u0416\u0443\u043a\0", 4), u"\u0416\u0443\u043a"},
      {"a pair split by the block's end", std::u16string(u"a\xD83D", 2), std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(textInBlock(c.block.data(), c.block.size()), c.text) << c.name;
  }
}

TEST(ClipboardBlock, NothingIsReadPastTheBlock) {
  // The unit after the block is a zero; a read that ran past the block would stop
  // there and take "abc" for text.
  const std::u16string memory(u"abc\0", 4);
  EXPECT_EQ(textInBlock(memory.data(), 3), std::nullopt);
  EXPECT_EQ(textInBlock(memory.data(), 0), std::nullopt);
  EXPECT_EQ(textInBlock(nullptr, 4), std::nullopt);
  const std::u16string large = std::u16string(16001, u'a') + u'\0';
  EXPECT_EQ(textInBlock(large.data(), large.size())->size(), 16001u);
}

}  // namespace
}  // namespace tessary

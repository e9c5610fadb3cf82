#include "app/clipboard_block.h"

#include <gtest/gtest.h>

#include "support/test_allocator.h"

#include <cstdlib>
#include <new>
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

TEST(ClipboardBlock, PasteIsAcceptedOnlyWhenTheWholeTerminatedTextFitsAndIsEnabled) {
  struct Case {
    const char* name;
    std::u16string block;
    std::size_t boxLength;
    std::size_t selected;
    std::size_t limit;
    bool accepted;
  };
  const std::u16string refused = u"ok\u0416";  // Cyrillic
  const std::vector<Case> cases = {
      {"fits", std::u16string(u"xy\0", 3), 3, 0, 16000, true},
      {"fills the box exactly", std::u16string(u"bb\0", 3), 15998, 0, 16000, true},
      {"one unit over", std::u16string(u"bb\0", 3), 15999, 0, 16000, false},
      {"replaces the selection", std::u16string(u"bbb\0", 4), 16000, 3, 16000, true},
      {"a selection larger than the box counts as the box", std::u16string(u"b\0", 2), 5, 9, 1, true},
      {"empty text", std::u16string(u"\0", 1), 16000, 0, 16000, true},
      {"refused script", refused + u'\0', 0, 0, 16000, false},
      {"unterminated", u"abc", 0, 0, 16000, false},
      {"longer than the whole limit", std::u16string(16001, u'a') + u'\0', 0, 0, 16000, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pasteAccepted(c.block.data(), c.block.size(), c.boxLength, c.selected, c.limit), c.accepted) << c.name;
  }
  EXPECT_FALSE(pasteAccepted(nullptr, 4, 0, 0, 16000));
}

TEST(ClipboardBlock, ATextTooLongForTheBoxIsRefusedWithoutACopy) {
  // Eight megabytes of text offered to a box with room for 16,000 units: its length
  // is read from the block, and nothing of it is copied.
  const std::u16string block = std::u16string(4'000'000, u'a') + u'\0';
  testing::AllocationWatch& watch = testing::allocationWatch();
  watch.countedBytes = 0;
  watch.counting = true;
  const bool accepted = pasteAccepted(block.data(), block.size(), 0, 0, 16000);
  watch.counting = false;
  EXPECT_FALSE(accepted);
  EXPECT_EQ(watch.countedBytes, 0u);
  EXPECT_EQ(textLengthInBlock(block.data(), block.size()), block.size() - 1);
}

}  // namespace
}  // namespace tessary

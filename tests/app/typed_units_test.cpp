#include "app/typed_units.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessary {
namespace {

constexpr char16_t kHigh = 0xD83D;  // with kLow: U+1F52D TELESCOPE
constexpr char16_t kLow = 0xDD2D;
constexpr char16_t kOtherHigh = 0xD840;  // with kLow: a CJK ideograph of plane 2

struct Case {
  const char* name;
  std::u16string units;
  // What each unit does, in order.
  std::vector<UnitStep> steps;
  // The pairs handed over for insertion, in order.
  std::vector<std::u16string> pairs;
};

TEST(SurrogateJoiner, UnitsAsTheKeyboardSendsThem) {
  const std::vector<Case> cases = {
      {"ordinary units pass", u"a\u00e9\r", {UnitStep::Pass, UnitStep::Pass, UnitStep::Pass}, {}},
      {"a pair is inserted whole", std::u16string{kHigh, kLow}, {UnitStep::Hold, UnitStep::Insert},
       {std::u16string{kHigh, kLow}}},
      {"pairs between letters", std::u16string{u'x', kHigh, kLow, u'y', kOtherHigh, kLow},
       {UnitStep::Pass, UnitStep::Hold, UnitStep::Insert, UnitStep::Pass, UnitStep::Hold, UnitStep::Insert},
       {std::u16string{kHigh, kLow}, std::u16string{kOtherHigh, kLow}}},
      {"a lone low unit is dropped", std::u16string{kLow, u'a'}, {UnitStep::Drop, UnitStep::Pass}, {}},
      {"a high unit before a letter is dropped, the letter passes", std::u16string{kHigh, u'a', kLow},
       {UnitStep::Hold, UnitStep::Pass, UnitStep::Drop}, {}},
      {"a second high unit replaces the first", std::u16string{kHigh, kOtherHigh, kLow},
       {UnitStep::Hold, UnitStep::Hold, UnitStep::Insert}, {std::u16string{kOtherHigh, kLow}}},
      {"two low units after one high: the second is alone", std::u16string{kHigh, kLow, kLow},
       {UnitStep::Hold, UnitStep::Insert, UnitStep::Drop}, {std::u16string{kHigh, kLow}}},
  };
  for (const Case& c : cases) {
    SurrogateJoiner joiner;
    std::vector<UnitStep> steps;
    std::vector<std::u16string> pairs;
    for (const char16_t unit : c.units) {
      const UnitDecision decision = joiner.feed(unit);
      steps.push_back(decision.step);
      if (decision.step == UnitStep::Insert) {
        pairs.push_back(decision.pair);
      } else {
        EXPECT_TRUE(decision.pair.empty()) << c.name;
      }
    }
    EXPECT_EQ(steps, c.steps) << c.name;
    EXPECT_EQ(pairs, c.pairs) << c.name;
    EXPECT_FALSE(joiner.holding()) << c.name;
  }
}

TEST(SurrogateJoiner, ResetForgetsAHeldUnit) {
  SurrogateJoiner joiner;
  EXPECT_EQ(joiner.feed(kHigh).step, UnitStep::Hold);
  EXPECT_TRUE(joiner.holding());
  joiner.reset();
  EXPECT_FALSE(joiner.holding());
  EXPECT_EQ(joiner.feed(kLow).step, UnitStep::Drop);
}

TEST(SurrogateJoiner, SurrogateRangeEdges) {
  EXPECT_FALSE(isLeadingSurrogate(0xD7FF));
  EXPECT_TRUE(isLeadingSurrogate(0xD800));
  EXPECT_TRUE(isLeadingSurrogate(0xDBFF));
  EXPECT_FALSE(isLeadingSurrogate(0xDC00));
  EXPECT_TRUE(isTrailingSurrogate(0xDC00));
  EXPECT_TRUE(isTrailingSurrogate(0xDFFF));
  EXPECT_FALSE(isTrailingSurrogate(0xE000));
  SurrogateJoiner joiner;
  EXPECT_EQ(joiner.feed(0xDBFF).step, UnitStep::Hold);
  const UnitDecision last = joiner.feed(0xDFFF);  // U+10FFFF, the last code point
  EXPECT_EQ(last.step, UnitStep::Insert);
  EXPECT_EQ(last.pair, (std::u16string{0xDBFF, 0xDFFF}));
  EXPECT_EQ(joiner.feed(0xE000).step, UnitStep::Pass);
  EXPECT_EQ(joiner.feed(0xD7FF).step, UnitStep::Pass);
}

}  // namespace
}  // namespace tessary

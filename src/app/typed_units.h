#pragma once
// Characters outside the Basic Multilingual Plane (an emoji, a rare CJK ideograph)
// reach an edit box as two WM_CHAR messages, a high and then a low surrogate unit.
// Neither unit is text on its own, so the edit box's subclass holds the high one
// until its partner arrives and then checks and inserts the pair as one character.
#include <string>

namespace tessary {

enum class UnitStep {
  Pass,    // an ordinary unit: handled as before
  Hold,    // a high surrogate: kept until the next unit
  Insert,  // a complete pair: `pair` holds both units, to be checked and inserted whole
  Drop,    // a low surrogate without its high one: nothing is inserted
};

struct UnitDecision {
  UnitStep step = UnitStep::Pass;
  std::u16string pair;
  friend bool operator==(const UnitDecision&, const UnitDecision&) = default;
};

inline bool isLeadingSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool isTrailingSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The pairing state of one edit box. A held high surrogate that is not followed by
// a low one is dropped: it never reaches the box.
class SurrogateJoiner {
 public:
  UnitDecision feed(char16_t unit);
  // Forgets a held unit (the box lost the focus or is going away).
  void reset() { held_ = 0; }
  bool holding() const { return held_ != 0; }

 private:
  char16_t held_ = 0;
};

}  // namespace tessary

#include "app/typed_units.h"

namespace tessary {

UnitDecision SurrogateJoiner::feed(char16_t unit) {
  UnitDecision decision;
  if (isLeadingSurrogate(unit)) {
    // A second high unit replaces a lone first one, which is dropped.
    held_ = unit;
    decision.step = UnitStep::Hold;
    return decision;
  }
  if (isTrailingSurrogate(unit)) {
    if (held_ == 0) {
      decision.step = UnitStep::Drop;
      return decision;
    }
    decision.step = UnitStep::Insert;
    decision.pair = std::u16string{held_, unit};
    held_ = 0;
    return decision;
  }
  held_ = 0;  // a lone high unit before an ordinary one is dropped
  decision.step = UnitStep::Pass;
  return decision;
}

}  // namespace tessary

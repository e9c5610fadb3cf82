#pragma once
// The interface language chosen from the user's preferred Windows interface
// languages.
#include "text/ui_strings.h"

namespace tessary {

// Spanish or German when the first preferred interface language is one of them,
// English otherwise and whenever the preference cannot be read.
Language pickLanguage();

}  // namespace tessary

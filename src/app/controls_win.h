#pragma once
// The child controls of the main window: creation, placement, the guide text and
// the command behind every control id.
#include <string>

namespace tessary {

struct Session;

// Creates the 19 owner-drawn push buttons and the 3 edit boxes in their creation
// (and Tab) order, fills `controls`, and sets fonts, margins, subclassing, text
// limits, the cue banner and the guide text. Called once from WM_CREATE.
void createControls(Session& session);

// Moves every control to its place for the current client size, shows or hides
// the guide panel and the tools, refreshes the enabled states and repaints.
void layoutControls(Session& session);

// Carries out the command of a control id (button click or keyboard shortcut);
// ids without a command are ignored.
void runCommand(Session& session, int controlId);

// The text of RCDATA resource `resourceId` of the program as edit-box text (UTF-8
// to UTF-16, bare line feeds widened to CR LF); empty when missing or unreadable.
std::u16string loadTextResource(Session& session, int resourceId);

// The guide panel's text: interface strings 43 and 44, the credits and notices
// (resource 320) and the JSON library's licence (resource 321).
std::u16string guideText(Session& session);

// Repaints the three mode buttons so that the active one shows the current mode.
void refreshModeButtons(Session& session);

}  // namespace tessary

#pragma once
// The status line, the enablement rule of the controls, and quiet text setting.
#include <string>

namespace tessary {

struct Session;

// Sets the status line to interface string `stringId` (current language) in normal
// or error style and invalidates the window.
void showStatus(Session& session, int stringId, bool isError);
// The enablement rule: whether control `controlId` is enabled in this state.
bool controlEnabled(const Session& session, int controlId);
// Applies the rule to every registered control.
void updateControlStates(Session& session);
// Sets an edit box's text without the change counting as user input.
void setControlTextQuietly(Session& session, int controlId, const std::u16string& text);

}  // namespace tessary

#include "app/keyboard_rules.h"

#include "app/control_ids.h"

namespace tessary {

namespace {

constexpr std::uint32_t kKeyS = 0x53;
constexpr std::uint32_t kKeyF = 0x46;
constexpr std::uint32_t kKey1 = 0x31;  // the main keyboard's digit; the keypad's 1 is another code
constexpr std::uint32_t kKeyP = 0x50;
constexpr std::uint32_t kKeyM = 0x4D;
constexpr std::uint32_t kKeyC = 0x43;

bool inEditBox(FocusKind focus) {
  return focus == FocusKind::PathBox || focus == FocusKind::NoteBox || focus == FocusKind::GuideText;
}

int shortcutCommand(std::uint32_t keyCode) {
  switch (keyCode) {
    case kKeyF:
      return ID_FIT;
    case kKey1:
      return ID_ACTUAL_PIXELS;
    case kKeyP:
      return ID_PAN;
    case kKeyM:
      return ID_ADD_MARKER;
    case kKeyC:
      return ID_SELECT_CROP;
    default:
      return 0;
  }
}

}  // namespace

KeyDecision decideKey(const KeyContext& context) {
  const std::uint32_t key = context.keyCode;
  // Ctrl+S saves whatever has the focus.
  if (context.controlDown && key == kKeyS) return {KeyAction::Save, 0};
  // Escape peels one layer at a time: the guide, then the mode, then the window.
  if (key == kKeyEscape) {
    if (context.guideVisible) return {KeyAction::CloseGuide, 0};
    if (context.interactionMode != InteractionMode::Pan) return {KeyAction::LeaveMode, 0};
    return {KeyAction::HideToTray, 0};
  }
  if (key == kKeyReturn && context.focus != FocusKind::NoteBox) {
    if (context.focus == FocusKind::PathBox) return {KeyAction::OpenPath, 0};
    if (context.focus == FocusKind::OwnerDrawnButton) return {KeyAction::ClickButton, 0};
    return {KeyAction::NothingConsumed, 0};
  }
  // Letters typed in an edit box are text; elsewhere they are shortcuts, except
  // while a background job runs. Shift and Control are not examined.
  if (!inEditBox(context.focus) && !context.jobRunning) {
    const int command = shortcutCommand(key);
    if (command != 0) return {KeyAction::RunCommand, command};
  }
  // Enter in the note box is a line break, so it bypasses dialog navigation.
  if (context.focus == FocusKind::NoteBox && key == kKeyReturn) return {KeyAction::DispatchDirect, 0};
  return {KeyAction::PassOn, 0};
}

}  // namespace tessary

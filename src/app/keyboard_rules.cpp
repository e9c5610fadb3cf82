#include "app/keyboard_rules.h"

#include "app/control_ids.h"
#include "viewer/view_transform.h"

namespace tessary {

namespace {

constexpr std::uint32_t kKeyS = 0x53;
constexpr std::uint32_t kKeyF = 0x46;
constexpr std::uint32_t kKey1 = 0x31;  // the main keyboard's digit; the keypad's 1 is another code
constexpr std::uint32_t kKeyP = 0x50;
constexpr std::uint32_t kKeyM = 0x4D;
constexpr std::uint32_t kKeyC = 0x43;
constexpr std::uint32_t kKeyZ = 0x5A;

// An arrow key moves the view by an eighth of the canvas, with Shift by half of it.
constexpr std::int32_t kPanDivisor = 8;
constexpr std::int32_t kShiftPanDivisor = 2;

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

bool isViewKey(const KeyContext& context) {
  const std::uint32_t key = context.keyCode;
  return (key >= kKeyPageUp && key <= kKeyDown) || key == kKeyDelete || key == kKeyPlus || key == kKeyPadAdd ||
         key == kKeyMinus || key == kKeyPadSubtract || (context.controlDown && key == kKeyZ);
}

// The arrows, + and -, Page Up and Down, Home, End, Delete and Ctrl+Z act on the
// view, the marker list and the markers, all hidden behind the guide; they need an
// image on screen and no job running. In any other state they do nothing at all.
KeyDecision viewKey(const KeyContext& context) {
  const KeyDecision nothing{KeyAction::NothingConsumed};
  if (context.guideVisible || context.jobRunning || !context.imageShown) return nothing;
  const std::int32_t divisor = context.shiftDown ? kShiftPanDivisor : kPanDivisor;
  // The view moves in the arrow's direction: the image moves the other way.
  const int stepX = context.canvasWidth > 0 ? context.canvasWidth / divisor : 0;
  const int stepY = context.canvasHeight > 0 ? context.canvasHeight / divisor : 0;
  KeyDecision pan{KeyAction::PanView};
  const int count = context.markerCount;
  const int selected = context.selectedIndex >= 0 && context.selectedIndex < count ? context.selectedIndex : -1;
  const auto row = [&](int index) {
    KeyDecision choose{KeyAction::SelectListRow};
    choose.listIndex = index;
    return choose;
  };
  switch (context.keyCode) {
    case kKeyLeft:
      pan.panX = stepX;
      return pan;
    case kKeyRight:
      pan.panX = -stepX;
      return pan;
    case kKeyUp:
      pan.panY = stepY;
      return pan;
    case kKeyDown:
      pan.panY = -stepY;
      return pan;
    // Page Down and Page Up walk the list one marker at a time, from the first or
    // the last when none is selected; they stop at its ends.
    case kKeyPageDown:
      if (count == 0) return nothing;
      if (selected < 0) return row(0);
      return selected + 1 < count ? row(selected + 1) : nothing;
    case kKeyPageUp:
      if (count == 0) return nothing;
      if (selected < 0) return row(count - 1);
      return selected > 0 ? row(selected - 1) : nothing;
    case kKeyHome:
      return count > 0 ? row(0) : nothing;
    case kKeyEnd:
      return count > 0 ? row(count - 1) : nothing;
    case kKeyDelete:
      return selected >= 0 ? KeyDecision{KeyAction::RunCommand, ID_REMOVE_MARKER} : nothing;
    // + and - zoom about the canvas centre as the zoom buttons do.
    case kKeyPlus:
    case kKeyPadAdd:
      return KeyDecision{KeyAction::RunCommand, ID_ZOOM_IN};
    case kKeyMinus:
    case kKeyPadSubtract:
      return KeyDecision{KeyAction::RunCommand, ID_ZOOM_OUT};
    // Ctrl+Z brings back the last removed marker, as Undo removal does (which does
    // nothing while no removal is kept).
    case kKeyZ:
      return KeyDecision{KeyAction::RunCommand, ID_UNDO_REMOVAL};
    default:
      return nothing;
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
  // In an edit box these keys are the box's own (the caret, the character after
  // it, typed + and -, the box's own undo); on the window and on the buttons they
  // move and zoom the view and walk the markers instead of moving between controls.
  if (!inEditBox(context.focus) && isViewKey(context)) return viewKey(context);
  // Enter in the note box is a line break, so it bypasses dialog navigation.
  if (context.focus == FocusKind::NoteBox && key == kKeyReturn) return {KeyAction::DispatchDirect, 0};
  return {KeyAction::PassOn, 0};
}

KeyContext keyContextOf(const Session& session) {
  KeyContext context;
  context.guideVisible = session.guideVisible;
  context.interactionMode = session.interactionMode;
  context.jobRunning = session.jobRunning;
  context.imageShown = session.currentImage != nullptr;
  context.canvasWidth = canvasWidth(session);
  context.canvasHeight = canvasHeight(session);
  const auto& marks = session.sheet.marks;
  context.markerCount = static_cast<int>(marks.size());
  if (session.selectedId != 0) {
    for (std::size_t i = 0; i < marks.size(); ++i) {
      if (marks[i].id == session.selectedId) context.selectedIndex = static_cast<int>(i);
    }
  }
  return context;
}

}  // namespace tessary

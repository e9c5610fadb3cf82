#include "app/keyboard_rules.h"

#include <gtest/gtest.h>

#include "app/control_ids.h"
#include "support/rules_session.h"

namespace tessary {
namespace {

constexpr std::uint32_t S = 0x53, F = 0x46, ONE = 0x31, P = 0x50, M = 0x4D, C = 0x43, X = 0x58;
constexpr std::uint32_t NUMPAD1 = 0x61, TAB = 0x09;
constexpr auto Pan = InteractionMode::Pan;
constexpr auto Mark = InteractionMode::Mark;
constexpr auto Crop = InteractionMode::Crop;
constexpr auto Path = FocusKind::PathBox;
constexpr auto Note = FocusKind::NoteBox;
constexpr auto Guide = FocusKind::GuideText;
constexpr auto Button = FocusKind::OwnerDrawnButton;
constexpr auto Other = FocusKind::Other;

struct Case {
  KeyContext context;
  KeyDecision decision;
};

KeyContext key(std::uint32_t code, FocusKind focus, bool control = false, bool guide = false,
               InteractionMode mode = Pan, bool job = false) {
  return KeyContext{code, control, focus, guide, mode, job};
}

TEST(KeyboardRules, DecisionTable) {
  const Case cases[] = {
      // Ctrl+S saves whatever has the focus, a job running or not
      {key(S, Note, true), {KeyAction::Save, 0}},
      {key(S, Path, true, true, Crop, true), {KeyAction::Save, 0}},
      {key(S, Other, true), {KeyAction::Save, 0}},
      // S alone in an edit box is text; elsewhere it is no shortcut
      {key(S, Note), {KeyAction::PassOn, 0}},
      {key(S, Other), {KeyAction::PassOn, 0}},
      // Escape: guide, then mode, then hide
      {key(kKeyEscape, Note, false, true, Crop), {KeyAction::CloseGuide, 0}},
      {key(kKeyEscape, Other, false, false, Crop), {KeyAction::LeaveMode, 0}},
      {key(kKeyEscape, Path, false, false, Mark), {KeyAction::LeaveMode, 0}},
      {key(kKeyEscape, Note, false, false, Pan), {KeyAction::HideToTray, 0}},
      {key(kKeyEscape, Other, false, false, Pan, true), {KeyAction::HideToTray, 0}},
      // Enter
      {key(kKeyReturn, Path), {KeyAction::OpenPath, 0}},
      {key(kKeyReturn, Path, false, false, Pan, true), {KeyAction::OpenPath, 0}},
      {key(kKeyReturn, Button), {KeyAction::ClickButton, 0}},
      {key(kKeyReturn, Guide), {KeyAction::NothingConsumed, 0}},
      {key(kKeyReturn, Other), {KeyAction::NothingConsumed, 0}},
      {key(kKeyReturn, Note), {KeyAction::DispatchDirect, 0}},
      {key(kKeyReturn, Note, false, false, Pan, true), {KeyAction::DispatchDirect, 0}},
      // single-key shortcuts outside edit boxes
      {key(F, Other), {KeyAction::RunCommand, ID_FIT}},
      {key(ONE, Other), {KeyAction::RunCommand, ID_ACTUAL_PIXELS}},
      {key(P, Button), {KeyAction::RunCommand, ID_PAN}},
      {key(M, Other), {KeyAction::RunCommand, ID_ADD_MARKER}},
      {key(C, Other, false, false, Mark), {KeyAction::RunCommand, ID_SELECT_CROP}},
      // Control is not examined for them
      {key(F, Other, true), {KeyAction::RunCommand, ID_FIT}},
      // the keypad's 1 and other letters are not shortcuts
      {key(NUMPAD1, Other), {KeyAction::PassOn, 0}},
      {key(X, Other), {KeyAction::PassOn, 0}},
      {key(TAB, Other), {KeyAction::PassOn, 0}},
      // in an edit box the letters are text
      {key(F, Path), {KeyAction::PassOn, 0}},
      {key(M, Note), {KeyAction::PassOn, 0}},
      {key(C, Guide), {KeyAction::PassOn, 0}},
      // while a job runs they do nothing special
      {key(F, Other, false, false, Pan, true), {KeyAction::PassOn, 0}},
      {key(C, Button, false, false, Pan, true), {KeyAction::PassOn, 0}},
      // shortcuts work with the guide open (the commands themselves decide)
      {key(ONE, Other, false, true), {KeyAction::RunCommand, ID_ACTUAL_PIXELS}},
  };
  for (const Case& c : cases) {
    const KeyDecision got = decideKey(c.context);
    EXPECT_EQ(got, c.decision) << "key 0x" << std::hex << c.context.keyCode << std::dec << " focus "
                               << static_cast<int>(c.context.focus) << " ctrl " << c.context.controlDown
                               << " guide " << c.context.guideVisible << " mode "
                               << static_cast<int>(c.context.interactionMode) << " job " << c.context.jobRunning
                               << " -> " << static_cast<int>(got.action) << "/" << got.commandId;
  }
}

// The view keys: arrows, + and -, Page Up and Down, Home, End and Delete, in a
// 1300 x 850 client (a 930 x 593 canvas) with an image shown.
KeyContext viewKey(std::uint32_t code, FocusKind focus, int markers = 0, int selected = -1, bool shift = false,
                   bool control = false) {
  KeyContext context = key(code, focus, control);
  context.shiftDown = shift;
  context.imageShown = true;
  context.canvasWidth = 930;
  context.canvasHeight = 593;
  context.markerCount = markers;
  context.selectedIndex = selected;
  return context;
}

KeyDecision pan(int x, int y) {
  KeyDecision d{KeyAction::PanView};
  d.panX = x;
  d.panY = y;
  return d;
}

KeyDecision row(int index) {
  KeyDecision d{KeyAction::SelectListRow};
  d.listIndex = index;
  return d;
}

constexpr std::uint32_t LEFT = 0x25, UP = 0x26, RIGHT = 0x27, DOWN = 0x28, PGUP = 0x21, PGDN = 0x22, HOME = 0x24,
                        END = 0x23, DEL = 0x2E, PLUS = 0xBB, MINUS = 0xBD, ADD = 0x6B, SUBTRACT = 0x6D,
                        Z = 0x5A;

TEST(KeyboardRules, ViewKeysTable) {
  const KeyDecision nothing{KeyAction::NothingConsumed};
  const KeyDecision passOn{KeyAction::PassOn};
  const Case cases[] = {
      // arrows move the view by an eighth of the canvas in their direction (the
      // image the other way), with Shift by half; on the window and on a button
      {viewKey(RIGHT, Other), pan(-116, 0)},
      {viewKey(LEFT, Other), pan(116, 0)},
      {viewKey(DOWN, Button), pan(0, -74)},
      {viewKey(UP, Button), pan(0, 74)},
      {viewKey(RIGHT, Button, 0, -1, true), pan(-465, 0)},
      {viewKey(UP, Other, 0, -1, true), pan(0, 296)},
      // + and - (main keyboard and keypad) are the zoom buttons
      {viewKey(PLUS, Other), {KeyAction::RunCommand, ID_ZOOM_IN}},
      {viewKey(ADD, Button), {KeyAction::RunCommand, ID_ZOOM_IN}},
      {viewKey(MINUS, Other), {KeyAction::RunCommand, ID_ZOOM_OUT}},
      {viewKey(SUBTRACT, Other, 0, -1, true), {KeyAction::RunCommand, ID_ZOOM_OUT}},
      // Page Down and Page Up walk the list and stop at its ends
      {viewKey(PGDN, Other, 3, -1), row(0)},
      {viewKey(PGDN, Other, 3, 0), row(1)},
      {viewKey(PGDN, Button, 3, 1), row(2)},
      {viewKey(PGDN, Other, 3, 2), nothing},
      {viewKey(PGUP, Other, 3, -1), row(2)},
      {viewKey(PGUP, Other, 3, 2), row(1)},
      {viewKey(PGUP, Other, 3, 0), nothing},
      // a selection that is not in the list counts as none
      {viewKey(PGDN, Other, 3, 7), row(0)},
      // Home and End choose the first and the last, again when already chosen
      {viewKey(HOME, Other, 3, 1), row(0)},
      {viewKey(HOME, Other, 3, 0), row(0)},
      {viewKey(END, Button, 3, -1), row(2)},
      {viewKey(END, Other, 1, 0), row(0)},
      // without markers they do nothing
      {viewKey(PGDN, Other), nothing},
      {viewKey(PGUP, Other), nothing},
      {viewKey(HOME, Other), nothing},
      {viewKey(END, Other), nothing},
      // Delete removes the selected marker, as the Remove marker button does
      {viewKey(DEL, Other, 3, 1), {KeyAction::RunCommand, ID_REMOVE_MARKER}},
      {viewKey(DEL, Button, 1, 0), {KeyAction::RunCommand, ID_REMOVE_MARKER}},
      {viewKey(DEL, Other, 3, -1), nothing},
      // Ctrl+Z brings back the last removed marker, as the Undo removal button does
      {viewKey(Z, Other, 3, 1, false, true), {KeyAction::RunCommand, ID_UNDO_REMOVAL}},
      {viewKey(Z, Button, 0, -1, true, true), {KeyAction::RunCommand, ID_UNDO_REMOVAL}},
      {viewKey(Z, Other), passOn},
      // in the note box and the path box it is the box's own undo
      {viewKey(Z, Note, 3, 1, false, true), passOn},
      {viewKey(Z, Path, 0, -1, false, true), passOn},
      {viewKey(Z, Guide, 0, -1, false, true), passOn},
      // in the edit boxes all of them are the box's own keys
      {viewKey(RIGHT, Path), passOn},
      {viewKey(LEFT, Note, 3, 1), passOn},
      {viewKey(DOWN, Guide), passOn},
      {viewKey(PGDN, Note, 3, 1), passOn},
      {viewKey(PGUP, Guide, 3, 1), passOn},
      {viewKey(HOME, Path, 3, 1), passOn},
      {viewKey(END, Note, 3, 1), passOn},
      {viewKey(DEL, Note, 3, 1), passOn},
      {viewKey(DEL, Path, 3, 1), passOn},
      {viewKey(PLUS, Note), passOn},
      {viewKey(MINUS, Path), passOn},
      {viewKey(ADD, Guide), passOn},
  };
  for (const Case& c : cases) {
    const KeyDecision got = decideKey(c.context);
    EXPECT_EQ(got, c.decision) << "key 0x" << std::hex << c.context.keyCode << std::dec << " focus "
                               << static_cast<int>(c.context.focus) << " markers " << c.context.markerCount
                               << " selected " << c.context.selectedIndex << " shift " << c.context.shiftDown
                               << " -> " << static_cast<int>(got.action) << "/" << got.commandId << "/" << got.panX
                               << "," << got.panY << "/" << got.listIndex;
  }
}

// With the guide over the canvas, during a job or without an image, the keys that
// act on the view, the list and the markers do nothing, and are no dialog
// navigation either: one rule for the arrows, + and -, the list keys, Delete and
// Ctrl+Z.
TEST(KeyboardRules, ViewKeysNeedTheCanvas) {
  for (const std::uint32_t code : {LEFT, UP, RIGHT, DOWN, PGUP, PGDN, HOME, END, DEL, PLUS, MINUS, ADD, SUBTRACT, Z}) {
    for (const FocusKind focus : {Other, Button}) {
      const bool control = code == Z;
      KeyContext guide = viewKey(code, focus, 3, 1, false, control);
      guide.guideVisible = true;
      KeyContext job = viewKey(code, focus, 3, 1, false, control);
      job.jobRunning = true;
      KeyContext noImage = viewKey(code, focus, 3, 1, false, control);
      noImage.imageShown = false;
      for (const KeyContext& context : {guide, job, noImage}) {
        EXPECT_EQ(decideKey(context), KeyDecision{KeyAction::NothingConsumed})
            << "key 0x" << std::hex << code << std::dec << " guide " << context.guideVisible << " job "
            << context.jobRunning << " image " << context.imageShown;
      }
    }
  }
}

// The context the window code starts from: canvas size, markers and selection.
TEST(KeyboardRules, ContextOfTheSession) {
  testing::RulesSession fixture;
  Session& session = fixture.session;
  session.clientWidth = 1120;
  session.clientHeight = 780;
  for (int id : {4, 9, 12}) session.sheet.marks.push_back(Marker{id, 1.0, 1.0, "", 0});
  session.selectedId = 12;
  session.jobRunning = true;
  KeyContext context = keyContextOf(session);
  EXPECT_EQ(context.canvasWidth, 750);
  EXPECT_EQ(context.canvasHeight, 523);
  EXPECT_EQ(context.markerCount, 3);
  EXPECT_EQ(context.selectedIndex, 2);
  EXPECT_TRUE(context.imageShown);
  EXPECT_TRUE(context.jobRunning);
  session.selectedId = 5;  // removed: no selection
  EXPECT_EQ(keyContextOf(session).selectedIndex, -1);
  session.selectedId = 0;
  EXPECT_EQ(keyContextOf(session).selectedIndex, -1);
  session.currentImage.reset();
  EXPECT_FALSE(keyContextOf(session).imageShown);
}

TEST(KeyboardRules, EscapeNeedsThreePressesFromGuideInCropMode) {
  KeyContext context = key(kKeyEscape, Other, false, true, Crop);
  EXPECT_EQ(decideKey(context).action, KeyAction::CloseGuide);
  context.guideVisible = false;
  EXPECT_EQ(decideKey(context).action, KeyAction::LeaveMode);
  context.interactionMode = Pan;
  EXPECT_EQ(decideKey(context).action, KeyAction::HideToTray);
}

}  // namespace
}  // namespace tessary

#include "app/keyboard_rules.h"

#include <gtest/gtest.h>

#include "app/control_ids.h"

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

#pragma once
// The keyboard pre-filter of the message loop as a pure decision: what a key press
// does, given what has the focus and the state of the session. The window code
// gathers the inputs and carries out the answer.
#include <cstdint>

#include "app/session_state.h"

namespace tessary {

// What kind of window has the keyboard focus.
enum class FocusKind {
  PathBox,
  NoteBox,
  GuideText,
  // a window whose style has any of the bits 0x0B (the owner-drawn buttons)
  OwnerDrawnButton,
  Other,
};

enum class KeyAction {
  Save,             // Ctrl+S: save the sheet; consumed
  CloseGuide,       // Escape with the guide open: clear guideVisible, lay out; consumed
  LeaveMode,        // Escape in Mark or Crop mode: back to Pan, crop dropped, repaint; consumed
  HideToTray,       // Escape in Pan mode with the guide closed; consumed
  OpenPath,         // Enter in the path box: the Open image command; consumed
  ClickButton,      // Enter on an owner-drawn button: send it BM_CLICK; consumed
  NothingConsumed,  // Enter elsewhere outside the note box: swallowed
  RunCommand,       // a single-key shortcut: runCommand(commandId); consumed
  DispatchDirect,   // Enter in the note box: translate and dispatch, bypassing dialog navigation
  PassOn,           // the ordinary route: dialog navigation, then translate and dispatch
};

struct KeyDecision {
  KeyAction action = KeyAction::PassOn;
  int commandId = 0;  // for RunCommand
  friend bool operator==(const KeyDecision&, const KeyDecision&) = default;
};

struct KeyContext {
  std::uint32_t keyCode = 0;  // virtual-key code of the key-down message
  bool controlDown = false;
  FocusKind focus = FocusKind::Other;
  bool guideVisible = false;
  InteractionMode interactionMode = InteractionMode::Pan;
  bool jobRunning = false;
};

inline constexpr std::uint32_t kKeyReturn = 0x0D;
inline constexpr std::uint32_t kKeyEscape = 0x1B;
inline constexpr std::uint32_t kOwnerDrawnStyleBits = 0x0B;

KeyDecision decideKey(const KeyContext& context);

}  // namespace tessary

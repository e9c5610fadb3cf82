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
  NothingConsumed,  // a key with no effect in this state (Enter outside the note box, a
                    // view key while it cannot act): swallowed
  RunCommand,       // a single-key shortcut: runCommand(commandId); consumed
  PanView,          // an arrow key: move the view by (panX, panY) screen pixels; consumed
  SelectListRow,    // a key that walks the marker list: choose the row `listIndex` as a
                    // click on it does; consumed
  DispatchDirect,   // Enter in the note box: translate and dispatch, bypassing dialog navigation
  PassOn,           // the ordinary route: dialog navigation, then translate and dispatch
};

struct KeyDecision {
  KeyAction action = KeyAction::PassOn;
  int commandId = 0;  // for RunCommand
  int panX = 0;       // for PanView: what is added to the view's offsets
  int panY = 0;
  int listIndex = -1;  // for SelectListRow
  friend bool operator==(const KeyDecision&, const KeyDecision&) = default;
};

struct KeyContext {
  std::uint32_t keyCode = 0;  // virtual-key code of the key-down message
  bool controlDown = false;
  FocusKind focus = FocusKind::Other;
  bool guideVisible = false;
  InteractionMode interactionMode = InteractionMode::Pan;
  bool jobRunning = false;
  bool shiftDown = false;
  bool imageShown = false;
  // The canvas, in client pixels.
  std::int32_t canvasWidth = 0;
  std::int32_t canvasHeight = 0;
  // The marker list: its length and the position of the selected marker in it
  // (-1 when no marker is selected).
  int markerCount = 0;
  int selectedIndex = -1;
};

inline constexpr std::uint32_t kKeyReturn = 0x0D;
inline constexpr std::uint32_t kKeyEscape = 0x1B;
inline constexpr std::uint32_t kKeyPageUp = 0x21;    // VK_PRIOR
inline constexpr std::uint32_t kKeyPageDown = 0x22;  // VK_NEXT
inline constexpr std::uint32_t kKeyEnd = 0x23;
inline constexpr std::uint32_t kKeyHome = 0x24;
inline constexpr std::uint32_t kKeyLeft = 0x25;
inline constexpr std::uint32_t kKeyUp = 0x26;
inline constexpr std::uint32_t kKeyRight = 0x27;
inline constexpr std::uint32_t kKeyDown = 0x28;
inline constexpr std::uint32_t kKeyDelete = 0x2E;
inline constexpr std::uint32_t kKeyPadAdd = 0x6B;        // VK_ADD
inline constexpr std::uint32_t kKeyPadSubtract = 0x6D;   // VK_SUBTRACT
inline constexpr std::uint32_t kKeyPlus = 0xBB;          // VK_OEM_PLUS: "+" and "=" of the main keyboard
inline constexpr std::uint32_t kKeyMinus = 0xBD;         // VK_OEM_MINUS
inline constexpr std::uint32_t kOwnerDrawnStyleBits = 0x0B;

KeyDecision decideKey(const KeyContext& context);

// The parts of the context that come from the session: guide, mode, job, image,
// canvas size and the marker list with its selection.
KeyContext keyContextOf(const Session& session);

}  // namespace tessary

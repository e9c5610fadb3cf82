#include "app/mouse_rules.h"

#include "app/session_state.h"
#include "observations/marker_editing.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"
#include "viewer/view_transform.h"

namespace tessary {

namespace {

constexpr int kListRightInset = 330;
constexpr int kListTop = 239;
constexpr int kListBottom = 423;

}  // namespace

PressDecision decidePress(const Session& session, int x, int y) {
  PressDecision decision;
  if (session.guideVisible || !session.currentImage || session.jobRunning) return decision;

  // The marker list: a row with a marker selects it; an empty row does nothing.
  if (x >= session.clientWidth - kListRightInset && y >= kListTop && y <= kListBottom) {
    decision.listIndex = listIndexAt(session, x, y);
    if (decision.listIndex >= 0) decision.action = PressAction::SelectListRow;
    return decision;
  }
  if (!insideCanvas(session, x, y)) return decision;

  decision.focusMainWindow = true;
  const Point image = screenToImage(session, x, y);
  decision.imageX = image.x;
  decision.imageY = image.y;
  const Pixels& pixels = *session.currentImage;

  switch (session.interactionMode) {
    case InteractionMode::Mark:
      // Only a point on the image adds a marker, and only with somewhere to save it.
      if (image.x >= 0 && image.y >= 0 && image.x < pixels.width && image.y < pixels.height &&
          sheetStorable(session) && !session.jobRunning) {
        decision.action = PressAction::AddMarker;
      }
      return decision;
    case InteractionMode::Pan:
      if (!session.sheet.marks.empty()) {
        decision.markerId = hitTestMarker(session, image.x, image.y);
        if (decision.markerId != 0) {
          decision.action = PressAction::SelectMarker;
          return decision;
        }
      }
      decision.action = PressAction::StartDrag;
      return decision;
    case InteractionMode::Crop:
      decision.action = PressAction::StartDrag;
      return decision;
  }
  return decision;
}

WheelTarget wheelTarget(const Session& session, int x, int y) {
  if (x >= session.clientWidth - kListRightInset) return WheelTarget::List;
  if (insideCanvas(session, x, y)) return WheelTarget::Canvas;
  return WheelTarget::None;
}

double wheelZoom(double zoom, int wheelDelta) { return zoom * (wheelDelta > 0 ? kWheelIn : kWheelOut); }

bool dropLoads(std::uint32_t fileCount, std::size_t pathLength) { return fileCount == 1 && pathLength > 0; }

}  // namespace tessary

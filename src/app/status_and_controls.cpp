#include "app/status_and_controls.h"

#include <algorithm>

#include "app/control_ids.h"
#include "app/session_state.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"

namespace tessary {

void showStatus(Session& session, int stringId, bool isError) {
  session.statusText = uiText(session.language, stringId);
  session.statusIsError = isError;
  // Whatever is shown now takes the place of a job's outcome.
  session.jobOutcomeStanding = false;
  if (session.view) session.view->invalidate();
}

namespace {

bool markerSelected(const Session& session) {
  if (session.selectedId == 0) return false;
  return std::any_of(session.sheet.marks.begin(), session.sheet.marks.end(),
                     [&](const Marker& m) { return m.id == session.selectedId; });
}

}  // namespace

bool controlEnabled(const Session& session, int controlId) {
  const bool ready = session.currentImage != nullptr && !session.jobRunning;
  switch (controlId) {
    case ID_FIT:
    case ID_ACTUAL_PIXELS:
    case ID_ZOOM_OUT:
    case ID_ZOOM_IN:
    case ID_PAN:
    case ID_ADD_MARKER:
    case ID_SELECT_CROP:
    case ID_EXPORT_CROP:
    case ID_EXPORT_NOTES:
      return ready;
    case ID_PLATE:
    case ID_OPEN_IMAGE:
    case ID_PATH_EDIT:
      return !session.jobRunning;
    case ID_NOTE_EDIT:
      return ready && markerSelected(session) && sheetStorable(session);
    case ID_SAVE_NOTE:
    case ID_REMOVE_MARKER:
      return ready && markerSelected(session);
    case ID_UNDO_REMOVAL:
      return ready && session.undoSlot.present;
    default:
      // Guide & credits, Close, Export folder, the guide text and its Close, Quit.
      return true;
  }
}

void updateControlStates(Session& session) {
  if (!session.view) return;
  for (const auto& entry : session.controls) {
    session.view->setControlEnabled(entry.first, controlEnabled(session, entry.first));
  }
  session.view->keepKeyboard();
}

void setControlTextQuietly(Session& session, int controlId, const std::u16string& text) {
  if (!session.view || session.controls.find(controlId) == session.controls.end()) return;
  session.suppressNoteEvents = true;
  session.view->setControlText(controlId, text);
  session.suppressNoteEvents = false;
}

}  // namespace tessary

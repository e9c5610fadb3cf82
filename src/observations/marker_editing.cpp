#include "observations/marker_editing.h"

#include <algorithm>
#include <string>

#include "app/control_ids.h"
#include "app/session_state.h"
#include "app/status_and_controls.h"
#include "observations/observation_sheet.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"
#include "text/text_rules.h"
#include "viewer/view_transform.h"

namespace tessary {

namespace {

constexpr int kDescribeFeature = 21;
constexpr int kTextNotSupported = 28;
constexpr int kMarkerLimit = 36;
constexpr int kMarkerRemoved = 38;
constexpr int kMarkerRestored = 39;

constexpr int kListTop = 239;
constexpr int kListBottom = 423;  // inclusive: rows 0 to 4
constexpr int kRowPitch = 37;
constexpr int kListRightInset = 330;  // the list starts at W - 330
constexpr std::uint64_t kQuietMilliseconds = 1000;

Marker* findMarker(Session& session, std::int32_t id) {
  if (id == 0) return nullptr;
  auto& marks = session.sheet.marks;
  auto it = std::find_if(marks.begin(), marks.end(), [id](const Marker& m) { return m.id == id; });
  return it == marks.end() ? nullptr : &*it;
}

std::int32_t lastListTop(const Session& session) {
  const auto count = static_cast<std::int32_t>(session.sheet.marks.size());
  return std::max<std::int32_t>(0, count - kListRows);
}

void repaint(Session& session) {
  if (session.view) session.view->invalidate();
}

}  // namespace

void addMarkerAt(Session& session, double imageX, double imageY) {
  ObservationSheet& sheet = session.sheet;
  if (sheet.marks.size() >= kMaxMarkers || sheet.nextId > kMaxNextId) {
    showStatus(session, kMarkerLimit, true);
    return;
  }
  Marker marker;
  marker.id = sheet.nextId;
  marker.x = imageX;
  marker.y = imageY;
  marker.createdUTC = clampCreatedUTC(session.unixNow());
  sheet.nextId += 1;
  sheet.marks.push_back(marker);

  session.dirty = true;
  session.selectedId = marker.id;
  session.listTop = lastListTop(session);  // the new marker shows in the last visible row

  const bool saved = saveSheet(session);
  selectMarker(session, marker.id, false);
  if (session.view) session.view->focusControl(ID_NOTE_EDIT);
  // After a failed save its message stays: the marker is only in memory.
  if (saved) showStatus(session, kDescribeFeature, false);
}

void selectMarker(Session& session, std::int32_t id, bool recentre) {
  session.selectedId = id;
  const Marker* marker = findMarker(session, id);
  setControlTextQuietly(session, ID_NOTE_EDIT, marker ? toEditText(marker->note) : std::u16string());
  if (marker && recentre) recentreOnMarker(session, marker->x, marker->y);
  updateControlStates(session);
  repaint(session);
}

void onNoteEdited(Session& session, const std::u16string& boxText) {
  if (session.suppressNoteEvents) return;
  Marker* marker = findMarker(session, session.selectedId);
  if (!marker) return;
  try {
    std::string note = acceptText(toUtf8(boxText), kNoteByteLimit);
    marker->note = std::move(note);
  } catch (...) {
    showStatus(session, kTextNotSupported, true);
    setControlTextQuietly(session, ID_NOTE_EDIT, toEditText(marker->note));
    return;
  }
  session.dirty = true;
  session.lastEditTick = session.tickNow();
  session.autosaveAttempts = 0;
}

void autosaveTick(Session& session) {
  // A sheet another program held at the load is read again first; until then there
  // is nothing to save.
  if (sheetWaiting(session)) {
    retryHeldSheet(session);
    return;
  }
  if (!session.dirty || session.autosaveAttempts >= 1) return;
  const std::uint64_t now = session.tickNow();
  if (now - session.lastEditTick <= kQuietMilliseconds) return;
  // One attempt per run of edits: a failed save is retried by the user or by the
  // next accepted edit, not by the timer.
  session.autosaveAttempts += 1;
  saveSheet(session);
}

void removeSelectedMarker(Session& session) {
  auto& marks = session.sheet.marks;
  const std::int32_t id = session.selectedId;
  auto it = std::find_if(marks.begin(), marks.end(), [id](const Marker& m) { return m.id == id; });
  if (id == 0 || it == marks.end()) return;
  session.undoSlot.marker = *it;
  session.undoSlot.present = true;
  marks.erase(it);  // nextId stays, so the id is never given out again
  // Keep the list scrolled no further than its last full page.
  session.listTop = std::min(session.listTop, lastListTop(session));
  session.dirty = true;
  selectMarker(session, 0, false);
  if (saveSheet(session)) showStatus(session, kMarkerRemoved, false);
}

void undoRemoval(Session& session) {
  if (!session.undoSlot.present || session.sheet.marks.size() >= kMaxMarkers) return;
  const Marker marker = session.undoSlot.marker;
  session.sheet.marks.push_back(marker);
  session.undoSlot = UndoSlot{};
  session.dirty = true;
  selectMarker(session, marker.id, true);
  if (saveSheet(session)) showStatus(session, kMarkerRestored, false);
}

void scrollList(Session& session, int wheelDelta) {
  const std::int32_t step = wheelDelta > 0 ? -1 : 1;
  session.listTop = std::clamp<std::int32_t>(session.listTop + step, 0, lastListTop(session));
  repaint(session);
}

int listIndexAt(const Session& session, int x, int y) {
  if (x < session.clientWidth - kListRightInset || y < kListTop || y > kListBottom) return -1;
  // A click in the gap under a row belongs to that row.
  const int index = (y - kListTop) / kRowPitch + session.listTop;
  if (index < 0 || index >= static_cast<int>(session.sheet.marks.size())) return -1;
  return index;
}

}  // namespace tessary

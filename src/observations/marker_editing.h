#pragma once
// The rules by which the user changes the current sheet: add, select, edit a note
// (with autosave), remove and undo, and the marker list's scrolling.
#include <cstdint>
#include <string>

namespace tessary {

struct Session;

inline constexpr int kListRows = 5;
inline constexpr std::int32_t kMaxNextId = 999999;

void addMarkerAt(Session& session, double imageX, double imageY);
void selectMarker(Session& session, std::int32_t id, bool recentre);
// The note box changed; `boxText` is its whole text.
void onNoteEdited(Session& session, const std::u16string& boxText);
// The window timer's sheet work: a sheet held by another program at the load is
// read again; otherwise the autosave after a run of note edits.
void autosaveTick(Session& session);
void removeSelectedMarker(Session& session);
void undoRemoval(Session& session);
// One wheel step over the list: positive delta scrolls up, otherwise down.
void scrollList(Session& session, int wheelDelta);
// The list index under a click at client (x, y), or -1 outside the list rows.
int listIndexAt(const Session& session, int x, int y);

}  // namespace tessary

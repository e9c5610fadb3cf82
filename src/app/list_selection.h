#pragma once
// Choosing a row of the marker list, whether by a click on it or by the keys that
// walk the list: one operation for both.
#include <cstdint>

namespace tessary {

struct Session;

// The first visible row that shows row `index` of a list of `count` rows, moving
// `listTop` as little as possible (and keeping it within 0 and count - 5).
std::int32_t listTopShowing(std::int32_t listTop, int index, int count);

// Chooses the marker at list position `index`: the sheet is saved first (the note
// in hand is written before the selection moves on), the marker is selected with
// the view centred on it, and the list scrolls just far enough to show its row.
// Nothing happens for a position outside the list.
void selectListRow(Session& session, int index);

}  // namespace tessary

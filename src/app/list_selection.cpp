#include "app/list_selection.h"

#include <algorithm>
#include <cstddef>

#include "app/session_state.h"
#include "observations/marker_editing.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"

namespace tessary {

std::int32_t listTopShowing(std::int32_t listTop, int index, int count) {
  const std::int32_t lastTop = std::max(0, count - kListRows);
  std::int32_t top = std::clamp<std::int32_t>(listTop, 0, lastTop);
  if (index < 0 || index >= count) return top;
  if (index < top) top = index;
  if (index >= top + kListRows) top = index - kListRows + 1;
  return top;
}

void selectListRow(Session& session, int index) {
  const auto& marks = session.sheet.marks;
  if (index < 0 || static_cast<std::size_t>(index) >= marks.size()) return;
  saveSheet(session);
  session.listTop = listTopShowing(session.listTop, index, static_cast<int>(marks.size()));
  selectMarker(session, marks[static_cast<std::size_t>(index)].id, true);
}

}  // namespace tessary

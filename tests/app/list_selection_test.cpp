#include "app/list_selection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "app/control_ids.h"
#include "app/session_state.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"
#include "support/rules_session.h"

namespace tessary {
namespace {

using testing::RulesSession;

TEST(ListTop, ShowingTable) {
  struct Case {
    int listTop, index, count, expected;
  };
  const Case cases[] = {
      {0, 0, 7, 0},   {0, 4, 7, 0},   // visible rows stay where they are
      {0, 5, 7, 1},   {0, 6, 7, 2},   // below the last visible row: it becomes the last
      {2, 6, 7, 2},   {2, 2, 7, 2},   {2, 1, 7, 1}, {2, 0, 7, 0},  // above the first: it becomes the first
      {0, 2, 3, 0},   {0, 0, 0, 0},   // a short list never scrolls
      {5, 1, 3, 0},   // a stale listTop is first brought back into range
      {1, 9, 7, 1},   {1, -1, 7, 1},  // no such row: only the range is kept
  };
  for (const Case& c : cases) {
    EXPECT_EQ(listTopShowing(c.listTop, c.index, c.count), c.expected)
        << "listTop " << c.listTop << " index " << c.index << " count " << c.count;
  }
}

struct ListSelection : ::testing::Test {
  ListSelection() {
    for (int i = 1; i <= 7; ++i) {
      session().sheet.marks.push_back(Marker{i, 20.0 * i, 10.0 * i, "note " + std::to_string(i), 1700000000});
    }
    session().sheet.nextId = 8;
    session().clientWidth = 1300;
    session().clientHeight = 850;
  }
  Session& session() { return fixture.session; }
  RulesSession fixture;
};

// The row is chosen as a click on it chooses it: the note in hand is saved first,
// the marker is selected and centred (zoom unchanged), its note fills the note box,
// and the list scrolls to show its row.
TEST_F(ListSelection, SavesFirstThenSelectsCentresAndScrolls) {
  session().zoom = 2.0;
  session().selectedId = 2;
  session().sheet.marks[1].note = "edited, not yet saved";
  session().dirty = true;
  selectListRow(session(), 6);
  ASSERT_TRUE(std::filesystem::exists(session().sheetPath));
  EXPECT_EQ(readSheetFile(session().sheetPath).marks[1].note, "edited, not yet saved");
  EXPECT_FALSE(session().dirty);
  EXPECT_EQ(session().selectedId, 7);
  EXPECT_EQ(session().zoom, 2.0);
  EXPECT_EQ(session().offsetX, 465.0 - 2.0 * 140.0);  // the marker at the canvas centre
  EXPECT_EQ(session().offsetY, 296.0 - 2.0 * 70.0);
  EXPECT_EQ(fixture.view.texts[ID_NOTE_EDIT], u"note 7");
  EXPECT_EQ(session().listTop, 2);
  EXPECT_TRUE(fixture.view.enabledStates[ID_REMOVE_MARKER]);

  selectListRow(session(), 0);
  EXPECT_EQ(session().selectedId, 1);
  EXPECT_EQ(session().listTop, 0);
  EXPECT_EQ(fixture.view.texts[ID_NOTE_EDIT], u"note 1");
}

TEST_F(ListSelection, NoSuchRowDoesNothing) {
  session().selectedId = 3;
  session().listTop = 1;
  session().dirty = true;
  for (int index : {-1, 7, 100}) {
    selectListRow(session(), index);
    EXPECT_EQ(session().selectedId, 3);
    EXPECT_EQ(session().listTop, 1);
    EXPECT_TRUE(session().dirty) << "nothing is saved";
  }
  EXPECT_FALSE(std::filesystem::exists(session().sheetPath));
}

}  // namespace
}  // namespace tessary

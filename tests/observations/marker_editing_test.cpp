#include "observations/marker_editing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <limits>
#include <string>

#include "app/control_ids.h"
#include "app/session_state.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"
#include "support/rules_session.h"
#include "text/ui_strings.h"

namespace tessary {
namespace {

using testing::RulesSession;

struct MarkerEditing : ::testing::Test {
  Session& session() { return fixture.session; }
  testing::RecordingView& view() { return fixture.view; }
  std::u16string text(int id) { return uiText(Language::English, id); }
  ObservationSheet onDisk() { return readSheetFile(session().sheetPath); }
  void expectStatus(int id, bool isError) {
    EXPECT_EQ(session().statusText, text(id));
    EXPECT_EQ(session().statusIsError, isError);
  }
  // Markers 1 to `count` placed straight into the sheet, as a loaded sheet holds them.
  void fillSheet(int count) {
    for (int i = 1; i <= count; ++i) session().sheet.marks.push_back(Marker{i, 1.0 * i, 0.5 * i, "", 1700000000});
    session().sheet.nextId = count + 1;
  }
  // A folder under the temporary name makes every write of the sheet fail.
  std::filesystem::path blockSaving() {
    std::filesystem::path blocker = session().sheetPath;
    blocker += ".tmp";
    std::filesystem::create_directory(blocker);
    return blocker;
  }
  RulesSession fixture;
};

// The clock may be set far outside the years the reader accepts; a marker made
// then still reads back, with its time clamped into the accepted range.
TEST_F(MarkerEditing, CreationTimeOutsideTheReadableRangeIsClamped) {
  const struct {
    std::int64_t clock;
    std::int64_t stored;
  } cases[] = {{-1, 0}, {-9000000000000, 0}, {kLatestCreatedUTC, kLatestCreatedUTC},
               {kLatestCreatedUTC + 1, kLatestCreatedUTC}, {std::numeric_limits<std::int64_t>::max(), kLatestCreatedUTC}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clock);
    fixture.seconds = c.clock;
    addMarkerAt(session(), 1, 1);
    EXPECT_EQ(session().sheet.marks.back().createdUTC, c.stored);
  }
  EXPECT_FALSE(session().dirty);
  // Every marker comes back at the next load, without any recovery.
  session().statusText.clear();
  loadSheetForImage(session());
  EXPECT_EQ(session().statusText, u"");
  ASSERT_EQ(session().sheet.marks.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(session().sheet.marks[i].createdUTC, cases[i].stored);
}

TEST_F(MarkerEditing, AddSavesSelectsAndFocusesTheNote) {
  fixture.seconds = 1720000042;
  view().texts[ID_NOTE_EDIT] = u"left over";
  addMarkerAt(session(), 12.75, 30.5);
  ASSERT_EQ(session().sheet.marks.size(), 1u);
  const Marker& marker = session().sheet.marks[0];
  EXPECT_EQ(marker.id, 1);
  EXPECT_EQ(marker.x, 12.75);
  EXPECT_EQ(marker.y, 30.5);
  EXPECT_EQ(marker.note, "");
  EXPECT_EQ(marker.createdUTC, 1720000042);
  EXPECT_EQ(session().sheet.nextId, 2);
  EXPECT_EQ(session().selectedId, 1);
  EXPECT_FALSE(session().dirty);
  expectStatus(21, false);
  ASSERT_FALSE(view().focusRequests.empty());
  EXPECT_EQ(view().focusRequests.back(), ID_NOTE_EDIT);
  EXPECT_EQ(view().texts[ID_NOTE_EDIT], u"");
  EXPECT_FALSE(session().suppressNoteEvents);
  EXPECT_TRUE(view().enabledStates[ID_NOTE_EDIT]);
  EXPECT_TRUE(view().enabledStates[ID_REMOVE_MARKER]);
  // The view does not move when a marker is added.
  EXPECT_EQ(session().offsetX, 0.0);
  const ObservationSheet saved = onDisk();
  ASSERT_EQ(saved.marks.size(), 1u);
  EXPECT_EQ(saved.marks[0].x, 12.75);
  EXPECT_EQ(saved.nextId, 2);
}

TEST_F(MarkerEditing, TwoHundredthAddedTwoHundredFirstRefused) {
  fillSheet(198);
  addMarkerAt(session(), 250, 100);
  EXPECT_EQ(session().listTop, 194);
  addMarkerAt(session(), 300, 200);
  ASSERT_EQ(session().sheet.marks.size(), 200u);
  EXPECT_EQ(session().sheet.marks.back().id, 200);
  EXPECT_EQ(session().listTop, 195);
  expectStatus(21, false);

  const int focusBefore = static_cast<int>(view().focusRequests.size());
  addMarkerAt(session(), 5, 5);
  expectStatus(36, true);
  EXPECT_EQ(session().sheet.marks.size(), 200u);
  EXPECT_EQ(session().sheet.nextId, 201);
  EXPECT_EQ(session().selectedId, 200);
  EXPECT_FALSE(session().dirty);
  EXPECT_EQ(static_cast<int>(view().focusRequests.size()), focusBefore);
  EXPECT_EQ(onDisk().marks.size(), 200u);
}

TEST_F(MarkerEditing, NoIdAboveTheLimit) {
  session().sheet.nextId = 999999;
  addMarkerAt(session(), 1, 1);
  ASSERT_EQ(session().sheet.marks.size(), 1u);
  EXPECT_EQ(session().sheet.marks[0].id, 999999);
  EXPECT_EQ(session().sheet.nextId, 1000000);
  addMarkerAt(session(), 2, 2);
  expectStatus(36, true);
  EXPECT_EQ(session().sheet.marks.size(), 1u);
}

TEST_F(MarkerEditing, IdsAreNeverReused) {
  for (int i = 0; i < 3; ++i) addMarkerAt(session(), 10 + i, 10);
  selectMarker(session(), 3, false);
  removeSelectedMarker(session());
  expectStatus(38, false);
  addMarkerAt(session(), 50, 50);
  ASSERT_EQ(session().sheet.marks.size(), 3u);
  EXPECT_EQ(session().sheet.marks.back().id, 4);
  EXPECT_EQ(onDisk().nextId, 5);
}

TEST_F(MarkerEditing, RemoveTwiceThenUndoRestoresOnlyTheSecondAtTheEnd) {
  for (int i = 1; i <= 4; ++i) addMarkerAt(session(), 10.0 * i, 20.0 * i);
  session().sheet.marks[2].note = "third";
  session().dirty = true;
  ASSERT_TRUE(saveSheet(session()));

  selectMarker(session(), 2, false);
  removeSelectedMarker(session());
  EXPECT_EQ(session().selectedId, 0);
  EXPECT_EQ(view().texts[ID_NOTE_EDIT], u"");
  selectMarker(session(), 3, false);
  removeSelectedMarker(session());
  ASSERT_TRUE(session().undoSlot.present);
  EXPECT_EQ(session().undoSlot.marker.id, 3);
  EXPECT_TRUE(view().enabledStates[ID_UNDO_REMOVAL]);
  EXPECT_FALSE(view().enabledStates[ID_REMOVE_MARKER]);

  undoRemoval(session());
  expectStatus(39, false);
  ASSERT_EQ(session().sheet.marks.size(), 3u);
  EXPECT_EQ(session().sheet.marks[0].id, 1);
  EXPECT_EQ(session().sheet.marks[1].id, 4);
  EXPECT_EQ(session().sheet.marks[2].id, 3);
  EXPECT_EQ(session().sheet.marks[2].note, "third");
  EXPECT_EQ(session().sheet.marks[2].x, 30.0);
  EXPECT_EQ(session().selectedId, 3);
  EXPECT_EQ(view().texts[ID_NOTE_EDIT], u"third");
  EXPECT_FALSE(session().undoSlot.present);
  EXPECT_FALSE(view().enabledStates[ID_UNDO_REMOVAL]);
  // The restored marker is brought to the middle of the canvas (930 x 593).
  EXPECT_EQ(session().offsetX, 465.0 - 30.0);
  EXPECT_EQ(session().offsetY, 296.0 - 60.0);
  const ObservationSheet saved = onDisk();
  ASSERT_EQ(saved.marks.size(), 3u);
  EXPECT_EQ(saved.marks[2].id, 3);
  EXPECT_EQ(saved.nextId, 5);

  // Only one removal is remembered.
  const std::string before = testing::readBytes(session().sheetPath);
  session().statusText.clear();
  undoRemoval(session());
  EXPECT_EQ(session().sheet.marks.size(), 3u);
  EXPECT_TRUE(session().statusText.empty());
  EXPECT_EQ(testing::readBytes(session().sheetPath), before);
}

TEST_F(MarkerEditing, UndoWithTwoHundredMarkersKeepsTheSlot) {
  fillSheet(200);
  selectMarker(session(), 7, false);
  removeSelectedMarker(session());
  addMarkerAt(session(), 1, 2);
  ASSERT_EQ(session().sheet.marks.size(), 200u);
  session().statusText.clear();
  undoRemoval(session());
  EXPECT_EQ(session().sheet.marks.size(), 200u);
  ASSERT_TRUE(session().undoSlot.present);
  EXPECT_EQ(session().undoSlot.marker.id, 7);
  EXPECT_TRUE(session().statusText.empty());
  EXPECT_FALSE(session().dirty);
}

TEST_F(MarkerEditing, RemoveWithoutSelectionDoesNothing) {
  addMarkerAt(session(), 1, 1);
  session().selectedId = 0;
  removeSelectedMarker(session());
  EXPECT_EQ(session().sheet.marks.size(), 1u);
  EXPECT_FALSE(session().undoSlot.present);
  session().selectedId = 42;  // names no marker
  removeSelectedMarker(session());
  EXPECT_EQ(session().sheet.marks.size(), 1u);
  EXPECT_FALSE(session().undoSlot.present);
}

TEST_F(MarkerEditing, FailedSavesKeepTheChangeAndItsMessage) {
  addMarkerAt(session(), 1, 1);
  addMarkerAt(session(), 2, 2);
  blockSaving();
  selectMarker(session(), 1, false);
  removeSelectedMarker(session());
  expectStatus(27, true);
  EXPECT_TRUE(session().dirty);
  EXPECT_EQ(session().sheet.marks.size(), 1u);
  EXPECT_EQ(onDisk().marks.size(), 2u);

  undoRemoval(session());
  expectStatus(27, true);
  EXPECT_EQ(session().sheet.marks.size(), 2u);

  // The new marker stays in memory and the save failure stays on the status line.
  addMarkerAt(session(), 3, 3);
  expectStatus(27, true);
  EXPECT_EQ(session().sheet.marks.size(), 3u);
  EXPECT_EQ(session().selectedId, 3);
  EXPECT_EQ(view().focusRequests.back(), ID_NOTE_EDIT);
  EXPECT_EQ(onDisk().marks.size(), 2u);
}

TEST_F(MarkerEditing, NoteEditsAreStoredAndRefusedTextPutBack) {
  addMarkerAt(session(), 5, 5);
  onNoteEdited(session(), u"Dust lane\r\nnear the ridge \u00E9\u03B1\u4E2D");
  const std::string accepted = "Dust lane\r\nnear the ridge \xC3\xA9\xCE\xB1\xE4\xB8\xAD";
  EXPECT_EQ(session().sheet.marks[0].note, accepted);
  EXPECT_TRUE(session().dirty);
  EXPECT_EQ(session().lastEditTick, fixture.tick);
  EXPECT_EQ(session().autosaveAttempts, 0);

  ASSERT_TRUE(saveSheet(session()));
  view().texts[ID_NOTE_EDIT] = u"typed \u0436";
  onNoteEdited(session(), u"Dust lane \u0436");  // a Cyrillic letter
  expectStatus(28, true);
  EXPECT_EQ(session().sheet.marks[0].note, accepted);
  EXPECT_FALSE(session().dirty);
  EXPECT_EQ(view().texts[ID_NOTE_EDIT], u"Dust lane\r\nnear the ridge \u00E9\u03B1\u4E2D");
  EXPECT_FALSE(session().suppressNoteEvents);
  EXPECT_EQ(onDisk().marks[0].note, accepted);
}

TEST_F(MarkerEditing, NoteBoxShowsLineBreaksAsCrLf) {
  addMarkerAt(session(), 5, 5);
  session().sheet.marks[0].note = "one\ntwo\r\nthree";
  selectMarker(session(), 1, false);
  EXPECT_EQ(view().texts[ID_NOTE_EDIT], u"one\r\ntwo\r\nthree");
  // An unpaired surrogate from the box is refused, and the box gets the stored note back.
  onNoteEdited(session(), std::u16string(u"x") + char16_t(0xD800));
  expectStatus(28, true);
  EXPECT_EQ(session().sheet.marks[0].note, "one\ntwo\r\nthree");
  EXPECT_EQ(view().texts[ID_NOTE_EDIT], u"one\r\ntwo\r\nthree");
}

TEST_F(MarkerEditing, NoteOverTheByteLimitIsRefused) {
  addMarkerAt(session(), 5, 5);
  onNoteEdited(session(), std::u16string(8000, u'a'));
  EXPECT_EQ(session().sheet.marks[0].note.size(), 8000u);
  onNoteEdited(session(), std::u16string(2667, u'\u4E2D'));  // 8001 bytes
  expectStatus(28, true);
  EXPECT_EQ(session().sheet.marks[0].note.size(), 8000u);
}

TEST_F(MarkerEditing, NoteChangesIgnoredWhileQuietOrWithoutSelection) {
  addMarkerAt(session(), 5, 5);
  session().suppressNoteEvents = true;
  onNoteEdited(session(), u"quiet");
  session().suppressNoteEvents = false;
  EXPECT_EQ(session().sheet.marks[0].note, "");
  EXPECT_FALSE(session().dirty);
  session().selectedId = 0;
  onNoteEdited(session(), u"nobody");
  session().selectedId = 77;
  onNoteEdited(session(), u"nobody \u0436");
  EXPECT_EQ(session().sheet.marks[0].note, "");
  EXPECT_FALSE(session().dirty);
  expectStatus(21, false);
}

TEST_F(MarkerEditing, AutosaveOnceAfterTheQuietSecond) {
  addMarkerAt(session(), 5, 5);
  const std::uint64_t start = fixture.tick;
  onNoteEdited(session(), u"first");
  fixture.tick = start + 400;
  onNoteEdited(session(), u"first words");
  const std::uint64_t lastEdit = fixture.tick;
  for (std::uint64_t t : {lastEdit + 400, lastEdit + 800, lastEdit + 1000}) {
    fixture.tick = t;
    autosaveTick(session());
    EXPECT_TRUE(session().dirty) << t - lastEdit;
    EXPECT_EQ(onDisk().marks[0].note, "") << t - lastEdit;
  }
  fixture.tick = lastEdit + 1001;
  autosaveTick(session());
  EXPECT_FALSE(session().dirty);
  EXPECT_EQ(onDisk().marks[0].note, "first words");
  expectStatus(29, false);

  // Nothing more is written until the next edit.
  std::filesystem::remove(session().sheetPath);
  fixture.tick = lastEdit + 5000;
  autosaveTick(session());
  EXPECT_FALSE(std::filesystem::exists(session().sheetPath));
}

TEST_F(MarkerEditing, FailedAutosaveIsNotRepeatedUntilTheNextEdit) {
  addMarkerAt(session(), 5, 5);
  const std::filesystem::path blocker = blockSaving();
  onNoteEdited(session(), u"kept in memory");
  const std::uint64_t lastEdit = fixture.tick;
  fixture.tick = lastEdit + 1200;
  autosaveTick(session());
  expectStatus(27, true);
  EXPECT_TRUE(session().dirty);
  EXPECT_EQ(session().autosaveAttempts, 1);

  // Even with the cause gone, the timer does not try again by itself.
  std::filesystem::remove(blocker);
  for (std::uint64_t t = lastEdit + 1600; t < lastEdit + 10000; t += 400) {
    fixture.tick = t;
    autosaveTick(session());
  }
  EXPECT_TRUE(session().dirty);
  EXPECT_EQ(onDisk().marks[0].note, "");

  // The next accepted edit arms it again.
  fixture.tick = lastEdit + 20000;
  onNoteEdited(session(), u"kept in memory, then saved");
  EXPECT_EQ(session().autosaveAttempts, 0);
  fixture.tick = lastEdit + 20800;
  autosaveTick(session());
  EXPECT_TRUE(session().dirty);
  fixture.tick = lastEdit + 21200;
  autosaveTick(session());
  EXPECT_FALSE(session().dirty);
  EXPECT_EQ(onDisk().marks[0].note, "kept in memory, then saved");
}

TEST_F(MarkerEditing, SelectRecentresOnlyWhenAsked) {
  addMarkerAt(session(), 100, 50);
  session().zoom = 2.0;
  session().offsetX = 7;
  session().offsetY = 9;
  selectMarker(session(), 1, false);
  EXPECT_EQ(session().offsetX, 7.0);
  EXPECT_EQ(session().offsetY, 9.0);
  selectMarker(session(), 1, true);
  EXPECT_EQ(session().offsetX, 465.0 - 200.0);
  EXPECT_EQ(session().offsetY, 296.0 - 100.0);
  EXPECT_EQ(session().zoom, 2.0);
  // A missing marker clears the box and moves nothing.
  selectMarker(session(), 9, true);
  EXPECT_EQ(session().selectedId, 9);
  EXPECT_EQ(view().texts[ID_NOTE_EDIT], u"");
  EXPECT_EQ(session().offsetX, 465.0 - 200.0);
  EXPECT_FALSE(view().enabledStates[ID_NOTE_EDIT]);
}

TEST_F(MarkerEditing, ListScrollingAndRows) {
  for (int i = 0; i < 6; ++i) addMarkerAt(session(), i, i);
  session().listTop = 0;
  scrollList(session(), -120);
  EXPECT_EQ(session().listTop, 1);
  scrollList(session(), 0);
  scrollList(session(), -1);
  EXPECT_EQ(session().listTop, 1);
  EXPECT_EQ(listIndexAt(session(), 970, 239), 1);
  EXPECT_EQ(listIndexAt(session(), 970, 423), 5);
  scrollList(session(), 1);
  EXPECT_EQ(session().listTop, 0);
  scrollList(session(), 120);
  EXPECT_EQ(session().listTop, 0);
  EXPECT_EQ(listIndexAt(session(), 970, 239 + 35), 0);
  EXPECT_EQ(listIndexAt(session(), 970, 239 + 37), 1);
  EXPECT_EQ(listIndexAt(session(), 970, 424), -1);
  EXPECT_EQ(listIndexAt(session(), 969, 300), -1);
}

TEST_F(MarkerEditing, RemovingKeepsTheListWithinItsLastPage) {
  for (int i = 0; i < 7; ++i) addMarkerAt(session(), i, i);
  EXPECT_EQ(session().listTop, 2);
  selectMarker(session(), 1, false);
  removeSelectedMarker(session());
  EXPECT_EQ(session().listTop, 1);
  for (int id : {2, 3, 4}) {
    selectMarker(session(), id, false);
    removeSelectedMarker(session());
  }
  EXPECT_EQ(session().listTop, 0);
}

}  // namespace
}  // namespace tessary

#include "app/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app/control_ids.h"

namespace tessary {
namespace {

TEST(Layout, TableAtStartSize) {
  const auto rects = layoutControlRects(1300, 850);
  const ControlRect expected[] = {
      {ID_PLATE, 20, 81, 184, 36},
      {ID_OPEN_IMAGE, 920, 81, 180, 36},
      {ID_PATH_EDIT, 214, 81, 696, 36},
      {ID_GUIDE, 955, 22, 155, 30},
      {ID_CLOSE, 1120, 22, 70, 30},
      {ID_FIT, 20, 130, 70, 32},
      {ID_ACTUAL_PIXELS, 98, 130, 112, 32},
      {ID_ZOOM_OUT, 218, 130, 38, 32},
      {ID_ZOOM_IN, 264, 130, 38, 32},
      {ID_PAN, 310, 130, 90, 32},
      {ID_ADD_MARKER, 408, 130, 108, 32},
      {ID_SELECT_CROP, 524, 130, 108, 32},
      {ID_EXPORT_CROP, 640, 130, 150, 32},
      {ID_EXPORT_NOTES, 798, 130, 155, 32},
      {ID_NOTE_EDIT, 970, 452, 310, 226},
      {ID_SAVE_NOTE, 970, 688, 88, 32},
      {ID_REMOVE_MARKER, 1066, 688, 104, 32},
      {ID_UNDO_REMOVAL, 1178, 688, 102, 32},
      {ID_EXPORT_FOLDER, 1110, 81, 170, 36},
      {ID_GUIDE_TEXT, 45, 198, 1210, 555},
      {ID_GUIDE_CLOSE, 1080, 766, 175, 34},
      {ID_QUIT, 1200, 22, 80, 30},
  };
  for (const ControlRect& e : expected) {
    EXPECT_EQ(rects[static_cast<std::size_t>(e.id - ID_PLATE)], e) << "control " << e.id;
    EXPECT_EQ(controlRect(e.id, 1300, 850), e) << "control " << e.id;
  }
  for (std::size_t i = 0; i < rects.size(); ++i) EXPECT_EQ(rects[i].id, ID_PLATE + static_cast<int>(i));
}

TEST(Layout, NoteBoxHeightFloorAndPathBoxWidth) {
  // The note box is H - 624 high but never below 90 px; the floor takes over at a
  // client height of 714 and below.
  for (int h : {714, 700, 600, 0}) {
    const ControlRect note = controlRect(ID_NOTE_EDIT, 1104, h);
    EXPECT_EQ(note.height, 90) << h;
    EXPECT_EQ(note.y, 452);
  }
  EXPECT_EQ(controlRect(ID_NOTE_EDIT, 1104, 715).height, 91);
  // The smallest window (1120 x 780 with its frame) leaves a client area of about
  // 1104 x 741 under a usual frame: the note box is then 117 px high.
  EXPECT_EQ(controlRect(ID_NOTE_EDIT, 1104, 741).height, 117);
  for (int w : {1104, 1120, 1300, 2560}) {
    EXPECT_EQ(controlRect(ID_PATH_EDIT, w, 741).width, w - 604) << w;
  }
}

TEST(Layout, TableAtSmallestClient) {
  const auto rects = layoutControlRects(1104, 741);
  EXPECT_EQ(rects[ID_PATH_EDIT - ID_PLATE], (ControlRect{ID_PATH_EDIT, 214, 81, 500, 36}));
  EXPECT_EQ(rects[ID_OPEN_IMAGE - ID_PLATE], (ControlRect{ID_OPEN_IMAGE, 724, 81, 180, 36}));
  EXPECT_EQ(rects[ID_EXPORT_FOLDER - ID_PLATE], (ControlRect{ID_EXPORT_FOLDER, 914, 81, 170, 36}));
  EXPECT_EQ(rects[ID_NOTE_EDIT - ID_PLATE], (ControlRect{ID_NOTE_EDIT, 774, 452, 310, 117}));
  EXPECT_EQ(rects[ID_SAVE_NOTE - ID_PLATE], (ControlRect{ID_SAVE_NOTE, 774, 579, 88, 32}));
  EXPECT_EQ(rects[ID_REMOVE_MARKER - ID_PLATE], (ControlRect{ID_REMOVE_MARKER, 870, 579, 104, 32}));
  EXPECT_EQ(rects[ID_UNDO_REMOVAL - ID_PLATE], (ControlRect{ID_UNDO_REMOVAL, 982, 579, 102, 32}));
  EXPECT_EQ(rects[ID_GUIDE_TEXT - ID_PLATE], (ControlRect{ID_GUIDE_TEXT, 45, 198, 1014, 446}));
  EXPECT_EQ(rects[ID_GUIDE_CLOSE - ID_PLATE], (ControlRect{ID_GUIDE_CLOSE, 884, 657, 175, 34}));
  EXPECT_EQ(rects[ID_CLOSE - ID_PLATE], (ControlRect{ID_CLOSE, 924, 22, 70, 30}));
  EXPECT_EQ(rects[ID_QUIT - ID_PLATE], (ControlRect{ID_QUIT, 1004, 22, 80, 30}));
  EXPECT_EQ(rects[ID_GUIDE - ID_PLATE], (ControlRect{ID_GUIDE, 759, 22, 155, 30}));
  // The note box ends 10 px above the marker buttons, as at the start size.
  const ControlRect note = rects[ID_NOTE_EDIT - ID_PLATE];
  EXPECT_EQ(note.y + note.height + 10, rects[ID_SAVE_NOTE - ID_PLATE].y);
}

TEST(Layout, ToolRowPositions) {
  const int xs[] = {20, 98, 218, 264, 310, 408, 524, 640, 798};
  const int ids[] = {ID_FIT,     ID_ACTUAL_PIXELS, ID_ZOOM_OUT,    ID_ZOOM_IN,     ID_PAN,
                     ID_ADD_MARKER, ID_SELECT_CROP,   ID_EXPORT_CROP, ID_EXPORT_NOTES};
  for (int i = 0; i < 9; ++i) {
    // The tool row is anchored to the left edge: the same at every size.
    EXPECT_EQ(controlRect(ids[i], 1104, 741).x, xs[i]);
    EXPECT_EQ(controlRect(ids[i], 3000, 2000).x, xs[i]);
  }
}

TEST(Layout, UnknownIdHasNoPlace) {
  EXPECT_EQ(controlRect(99, 1300, 850), ControlRect{});
  EXPECT_EQ(controlRect(122, 1300, 850), ControlRect{});
}

TEST(Layout, GuideVisibility) {
  for (int id = ID_PLATE; id <= ID_QUIT; ++id) {
    bool withGuide = true;
    bool withoutGuide = true;
    if (id == ID_GUIDE_TEXT || id == ID_GUIDE_CLOSE) withoutGuide = false;
    if (id >= ID_FIT && id <= ID_UNDO_REMOVAL) withGuide = false;
    EXPECT_EQ(controlShown(id, true), withGuide) << id;
    EXPECT_EQ(controlShown(id, false), withoutGuide) << id;
  }
  // The path box, the top buttons and Export folder stay with the guide open.
  for (int id : {ID_PLATE, ID_OPEN_IMAGE, ID_PATH_EDIT, ID_GUIDE, ID_CLOSE, ID_EXPORT_FOLDER, ID_QUIT}) {
    EXPECT_TRUE(controlShown(id, true)) << id;
  }
  EXPECT_FALSE(controlShown(ID_NOTE_EDIT, true));
  EXPECT_TRUE(controlShown(ID_NOTE_EDIT, false));
}

TEST(Layout, CreationOrderHoldsEveryControlOnce) {
  std::set<int> ids(kControlCreationOrder.begin(), kControlCreationOrder.end());
  EXPECT_EQ(ids.size(), static_cast<std::size_t>(kControlCount));
  EXPECT_EQ(*ids.begin(), ID_PLATE);
  EXPECT_EQ(*ids.rbegin(), ID_QUIT);
  EXPECT_EQ(kControlCreationOrder.front(), ID_PLATE);
  EXPECT_EQ(kControlCreationOrder.back(), ID_GUIDE_TEXT);
}

}  // namespace
}  // namespace tessary

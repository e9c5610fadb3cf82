#include "app/mouse_rules.h"

#include <gtest/gtest.h>

#include "app/session_state.h"
#include "support/rules_session.h"

namespace tessary {
namespace {

struct MouseFixture : ::testing::Test {
  MouseFixture() {
    session.currentImage = testing::makeImage(400, 300);
    session.zoom = 1.0;
    session.offsetX = 0;
    session.offsetY = 0;
  }
  void addMarkers(int count) {
    for (int i = 1; i <= count; ++i) session.sheet.marks.push_back(Marker{i, 10.0 * i, 10.0 * i, "", 0});
    session.sheet.nextId = count + 1;
  }
  Session session;
};

TEST_F(MouseFixture, IgnoredWithGuideWithoutImageOrDuringJob) {
  addMarkers(3);
  const int points[][2] = {{100, 200}, {1000, 240}};
  for (const auto& p : points) {
    session.guideVisible = true;
    EXPECT_EQ(decidePress(session, p[0], p[1]).action, PressAction::Ignore);
    session.guideVisible = false;
    session.jobRunning = true;
    EXPECT_EQ(decidePress(session, p[0], p[1]).action, PressAction::Ignore);
    session.jobRunning = false;
    auto image = session.currentImage;
    session.currentImage.reset();
    const PressDecision none = decidePress(session, p[0], p[1]);
    EXPECT_EQ(none.action, PressAction::Ignore);
    EXPECT_FALSE(none.focusMainWindow);
    session.currentImage = image;
  }
}

TEST_F(MouseFixture, ListRowsAndTheGapAbove) {
  addMarkers(6);
  struct Case {
    int x, y, listTop;
    PressAction action;
    int index;
  };
  const Case cases[] = {
      {970, 239, 0, PressAction::SelectListRow, 0},
      {1299, 239 + 35, 0, PressAction::SelectListRow, 0},  // the gap under row 0 belongs to row 0
      {1100, 276, 0, PressAction::SelectListRow, 1},
      {1100, 423, 0, PressAction::SelectListRow, 4},
      {1100, 423, 1, PressAction::SelectListRow, 5},
      {1100, 424, 0, PressAction::Ignore, -1},  // below the five rows
      {1100, 238, 0, PressAction::Ignore, -1},
      {969, 300, 0, PressAction::Ignore, -1},  // left of the list and right of the canvas
  };
  for (const Case& c : cases) {
    session.listTop = c.listTop;
    const PressDecision d = decidePress(session, c.x, c.y);
    EXPECT_EQ(d.action, c.action) << c.x << ", " << c.y;
    EXPECT_EQ(d.listIndex, c.index) << c.x << ", " << c.y;
    EXPECT_FALSE(d.focusMainWindow);
  }
}

TEST_F(MouseFixture, EmptyListRowDoesNothing) {
  addMarkers(2);
  const PressDecision d = decidePress(session, 1100, 239 + 37 * 2 + 5);
  EXPECT_EQ(d.action, PressAction::Ignore);
  EXPECT_EQ(d.listIndex, -1);
}

TEST_F(MouseFixture, MarkModeAddsOnlyOnTheImage) {
  session.interactionMode = InteractionMode::Mark;
  session.offsetX = 10;
  session.offsetY = 10;
  struct Case {
    int x, y;
    PressAction action;
  };
  const Case cases[] = {
      {30, 188, PressAction::AddMarker},   // image (0, 0)
      {429, 487, PressAction::AddMarker},  // image (399, 299)
      {430, 300, PressAction::Ignore},     // image x 400: the right edge is outside
      {100, 488, PressAction::Ignore},     // image y 300
      {29, 300, PressAction::Ignore},      // image x -1: in the margin
      {19, 300, PressAction::Ignore},      // outside the canvas
  };
  for (const Case& c : cases) {
    const PressDecision d = decidePress(session, c.x, c.y);
    EXPECT_EQ(d.action, c.action) << c.x << ", " << c.y;
    EXPECT_EQ(d.focusMainWindow, c.x >= 20) << c.x << ", " << c.y;
  }
  const PressDecision d = decidePress(session, 30, 188);
  EXPECT_EQ(d.imageX, 0.0);
  EXPECT_EQ(d.imageY, 0.0);
  session.storageAvailable = false;
  EXPECT_EQ(decidePress(session, 100, 300).action, PressAction::Ignore);
}

TEST_F(MouseFixture, PanModeHitsMarkersOrDrags) {
  addMarkers(2);  // at (10, 10) and (20, 20)
  // (15, 15) is 7.07 px from both: the first in the list wins.
  PressDecision d = decidePress(session, 20 + 15, 178 + 15);
  EXPECT_EQ(d.action, PressAction::SelectMarker);
  EXPECT_EQ(d.markerId, 1);
  EXPECT_TRUE(d.focusMainWindow);
  // Exactly 15 px right of marker 2 (and 25 from marker 1): a drag starts.
  d = decidePress(session, 20 + 35, 178 + 20);
  EXPECT_EQ(d.action, PressAction::StartDrag);
  EXPECT_EQ(d.imageX, 35.0);
  EXPECT_EQ(d.imageY, 20.0);
  session.zoom = 2.0;  // the same press is now 30 screen px away from marker 2
  d = decidePress(session, 20 + 44, 178 + 40);
  EXPECT_EQ(d.action, PressAction::SelectMarker);
  EXPECT_EQ(d.markerId, 2);
}

TEST_F(MouseFixture, CropModeAlwaysDrags) {
  addMarkers(2);
  session.interactionMode = InteractionMode::Crop;
  const PressDecision d = decidePress(session, 20 + 10, 178 + 10);  // right on marker 1
  EXPECT_EQ(d.action, PressAction::StartDrag);
  EXPECT_EQ(d.markerId, 0);
  // A press in the margin outside the image still starts a crop drag.
  EXPECT_EQ(decidePress(session, 900, 700).action, PressAction::StartDrag);
}

TEST_F(MouseFixture, WheelTargets) {
  EXPECT_EQ(wheelTarget(session, 970, 5), WheelTarget::List);  // any height
  EXPECT_EQ(wheelTarget(session, 1299, 849), WheelTarget::List);
  EXPECT_EQ(wheelTarget(session, 500, 500), WheelTarget::Canvas);
  EXPECT_EQ(wheelTarget(session, 960, 500), WheelTarget::None);  // between canvas and list
  EXPECT_EQ(wheelTarget(session, 500, 100), WheelTarget::None);  // header
  EXPECT_EQ(wheelZoom(1.0, 1), 1.2);
  EXPECT_EQ(wheelZoom(1.0, 120), 1.2);
  EXPECT_EQ(wheelZoom(1.0, 0), 0.8333333333333334);
  EXPECT_EQ(wheelZoom(2.0, -480), 2.0 * 0.8333333333333334);
}

TEST(DropRules, OnlyOneReadablePathLoads) {
  struct Case {
    std::uint32_t count;
    std::size_t pathLength;
    bool loads;
  };
  // An empty path is what DragQueryFileW gives when it cannot read the path; it
  // must not be taken for the built-in plate, which an empty path means elsewhere.
  for (const Case& c : {Case{1, 12, true}, Case{1, 1, true}, Case{1, 0, false}, Case{0, 0, false},
                        Case{2, 12, false}, Case{0xFFFFFFFFu, 5, false}}) {
    EXPECT_EQ(dropLoads(c.count, c.pathLength), c.loads) << c.count << " files, path of " << c.pathLength;
  }
}

}  // namespace
}  // namespace tessary

#include "viewer/view_transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "app/session_state.h"
#include "support/rules_session.h"

namespace tessary {
namespace {

using testing::makeImage;
using testing::RecordingView;

struct ViewFixture : ::testing::Test {
  ViewFixture() { session.view = &view; }
  void show(std::uint32_t width, std::uint32_t height) { session.currentImage = makeImage(width, height); }
  RecordingView view;
  Session session;
};

struct FitCase {
  std::int32_t clientWidth;
  std::int32_t clientHeight;
  std::uint32_t width;
  std::uint32_t height;
  double zoom;
  double offsetX;
  double offsetY;
};

TEST_F(ViewFixture, FitTable) {
  const FitCase cases[] = {
      // small image: never enlarged, centred
      {1120, 780, 100, 100, 1.0, 325.0, 211.5},
      // the plate: the width decides; 16 px margin on the left and right
      {1120, 780, 14575, 8441, 718.0 / 14575.0, 16.0, (523.0 - 8441.0 * (718.0 / 14575.0)) * 0.5},
      // a tall image: the height decides
      {1300, 850, 1000, 5610, 561.0 / 5610.0, (930.0 - 1000.0 * (561.0 / 5610.0)) * 0.5, 16.0},
      // exactly the fit size on both axes: 100 %
      {1300, 850, 898, 561, 1.0, 16.0, 16.0},
  };
  for (const FitCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << " in " << c.clientWidth << " x "
                                      << c.clientHeight);
    session.clientWidth = c.clientWidth;
    session.clientHeight = c.clientHeight;
    show(c.width, c.height);
    session.zoom = 3.0;
    session.offsetX = -77;
    session.offsetY = 99;
    const int before = view.invalidations;
    fitView(session);
    EXPECT_EQ(session.zoom, c.zoom);
    EXPECT_EQ(session.offsetX, c.offsetX);
    EXPECT_DOUBLE_EQ(session.offsetY, c.offsetY);
    EXPECT_EQ(view.invalidations, before + 1);
  }
}

TEST_F(ViewFixture, PlateFitFigures) {
  session.clientWidth = 1120;
  session.clientHeight = 780;
  show(14575, 8441);
  fitView(session);
  EXPECT_NEAR(session.zoom, 0.049262, 1e-6);
  EXPECT_EQ(session.offsetX, 16.0);
  EXPECT_NEAR(session.offsetY, 53.59, 0.005);
}

TEST_F(ViewFixture, NothingWithoutImage) {
  session.zoom = 2.0;
  session.offsetX = 5;
  session.offsetY = 6;
  fitView(session);
  zoomAbout(session, 4.0, 100, 100);
  panView(session, -116, 74);
  EXPECT_EQ(session.zoom, 2.0);
  EXPECT_EQ(session.offsetX, 5.0);
  EXPECT_EQ(session.offsetY, 6.0);
  EXPECT_EQ(view.invalidations, 0);
  session.sheet.marks.push_back(Marker{1, 10, 10, "", 0});
  EXPECT_EQ(hitTestMarker(session, 10, 10), 0);
  // The recentre needs a marker, not an image.
  recentreOnMarker(session, 10, 10);
  EXPECT_EQ(session.offsetX, 465.0 - 20.0);
  EXPECT_EQ(view.invalidations, 1);
}

// A pan moves the image by whole screen pixels whatever the zoom, keeps the
// fractional part of the offsets and is not clamped: the image may leave the canvas.
TEST_F(ViewFixture, PanMovesTheOffsetsUnclamped) {
  show(300, 200);
  session.zoom = 0.3;
  session.offsetX = 10.25;
  session.offsetY = -3.5;
  panView(session, -116, 74);
  EXPECT_EQ(session.offsetX, -105.75);
  EXPECT_EQ(session.offsetY, 70.5);
  EXPECT_EQ(session.zoom, 0.3);
  EXPECT_EQ(view.invalidations, 1);
  for (int i = 0; i < 100; ++i) panView(session, 465, 0);
  EXPECT_EQ(session.offsetX, -105.75 + 46500.0);
}

TEST_F(ViewFixture, CanvasSize) {
  session.clientWidth = 1120;
  session.clientHeight = 780;
  EXPECT_EQ(canvasWidth(session), 750);
  EXPECT_EQ(canvasHeight(session), 523);
}

TEST_F(ViewFixture, ButtonZoomStopsExactlyAtEight) {
  show(500, 500);
  const Point centre = canvasCentre(session);
  int steps = 0;
  while (session.zoom < kMaxZoom && steps < 100) {
    zoomAbout(session, session.zoom * kButtonIn, centre.x, centre.y);
    ++steps;
  }
  EXPECT_EQ(session.zoom, 8.0);
  EXPECT_EQ(steps, 10);  // 1.25^9 < 8 < 1.25^10
  const double offsetX = session.offsetX;
  const double offsetY = session.offsetY;
  for (int i = 0; i < 3; ++i) zoomAbout(session, session.zoom * kButtonIn, centre.x, centre.y);
  EXPECT_EQ(session.zoom, 8.0);
  EXPECT_EQ(session.offsetX, offsetX);
  EXPECT_EQ(session.offsetY, offsetY);
}

TEST_F(ViewFixture, WheelZoomStopsExactlyAtFloor) {
  show(500, 500);
  int steps = 0;
  while (session.zoom > kMinZoom && steps < 100) {
    zoomAbout(session, session.zoom * kWheelOut, 300, 200);
    ++steps;
  }
  EXPECT_EQ(session.zoom, 0.002);
  const double offsetX = session.offsetX;
  const double offsetY = session.offsetY;
  zoomAbout(session, session.zoom * kWheelOut, 300, 200);
  zoomAbout(session, session.zoom * kWheelOut, 12, 400);
  EXPECT_EQ(session.zoom, 0.002);
  EXPECT_EQ(session.offsetX, offsetX);
  EXPECT_EQ(session.offsetY, offsetY);
}

TEST_F(ViewFixture, WheelKeepsThePointUnderTheCursor) {
  show(14575, 8441);
  fitView(session);
  const int cursors[][2] = {{20, 178}, {333, 401}, {949, 770}, {600, 300}};
  for (const auto& cursor : cursors) {
    for (double factor : {kWheelIn, kWheelOut, kWheelIn * kWheelIn}) {
      const Point before = screenToImage(session, cursor[0], cursor[1]);
      zoomAbout(session, session.zoom * factor, cursor[0] - 20, cursor[1] - 178);
      const Point after = screenToImage(session, cursor[0], cursor[1]);
      EXPECT_NEAR(after.x, before.x, 1e-7 * std::max(1.0, std::abs(before.x)));
      EXPECT_NEAR(after.y, before.y, 1e-7 * std::max(1.0, std::abs(before.y)));
    }
  }
}

TEST_F(ViewFixture, HundredPercentFromAnyZoom) {
  show(14575, 8441);
  for (double start : {0.002, 0.049262, 0.7, 1.0, 3.3, 8.0}) {
    session.zoom = start;
    session.offsetX = 41.25;
    session.offsetY = -17.5;
    const Point centre = canvasCentre(session);
    const Point before = screenToImage(session, centre.x + 20, centre.y + 178);
    zoomAbout(session, 1.0, centre.x, centre.y);
    EXPECT_EQ(session.zoom, 1.0);
    const Point after = screenToImage(session, centre.x + 20, centre.y + 178);
    EXPECT_NEAR(after.x, before.x, 1e-9 * std::max(1.0, std::abs(before.x)));
    EXPECT_NEAR(after.y, before.y, 1e-9 * std::max(1.0, std::abs(before.y)));
  }
}

TEST_F(ViewFixture, CanvasCentreHalvesInFloatingPoint) {
  session.clientWidth = 1121;
  session.clientHeight = 780;
  const Point centre = canvasCentre(session);
  EXPECT_EQ(centre.x, 375.5);
  EXPECT_EQ(centre.y, 261.5);
}

TEST_F(ViewFixture, RecentreTruncatesTheHalving) {
  show(2000, 2000);
  session.clientWidth = 751 + 370;
  session.clientHeight = 600 + 257;
  session.zoom = 2.0;
  recentreOnMarker(session, 100.25, 40.5);
  EXPECT_EQ(session.offsetX, 375.0 - 200.5);
  EXPECT_EQ(session.offsetY, 300.0 - 81.0);
  EXPECT_EQ(session.zoom, 2.0);
  // The marker lands at the canvas middle rounded down to whole pixels.
  const Point screen = imageToScreen(session, 100.25, 40.5);
  EXPECT_EQ(screen.x, 20.0 + 375.0);
  EXPECT_EQ(screen.y, 178.0 + 300.0);
}

TEST_F(ViewFixture, MappingRoundTrip) {
  show(1000, 1000);
  session.zoom = 0.75;
  session.offsetX = 13.5;
  session.offsetY = -40.25;
  const Point screen = imageToScreen(session, 200, 100);
  EXPECT_EQ(screen.x, 20 + 13.5 + 150);
  EXPECT_EQ(screen.y, 178 - 40.25 + 75);
  const Point image = screenToImage(session, screen.x, screen.y);
  EXPECT_EQ(image.x, 200.0);
  EXPECT_EQ(image.y, 100.0);
}

TEST_F(ViewFixture, CanvasEdges) {
  session.clientWidth = 1300;
  session.clientHeight = 850;
  struct Case {
    int x, y;
    bool inside;
  };
  const Case cases[] = {{20, 178, true},  {19, 178, false},  {20, 177, false}, {949, 770, true},
                        {950, 500, false}, {500, 771, false}, {949, 771, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(insideCanvas(session, c.x, c.y), c.inside) << c.x << ", " << c.y;
  }
}

TEST_F(ViewFixture, HitTestRadiusIsStrict) {
  show(1000, 1000);
  session.sheet.marks.push_back(Marker{7, 100, 100, "", 0});
  struct Case {
    double zoom;
    double clickX;
    double clickY;
    std::int32_t hit;
  };
  const Case cases[] = {
      {1.0, 114.9, 100, 7},
      {1.0, 115.0, 100, 0},
      {1.0, 100, 85.1, 7},
      {1.0, 109, 112, 0},  // 3-4-5: exactly 15
      {2.0, 107.45, 100, 7},
      {2.0, 107.5, 100, 0},  // 7.5 image pixels are 15 screen pixels at 200 %
      {0.5, 129.8, 100, 7},
      {0.5, 130.0, 100, 0},
  };
  for (const Case& c : cases) {
    session.zoom = c.zoom;
    EXPECT_EQ(hitTestMarker(session, c.clickX, c.clickY), c.hit) << c.zoom << " " << c.clickX << " " << c.clickY;
  }
}

TEST_F(ViewFixture, HitTestFirstMarkerInListWins) {
  show(1000, 1000);
  session.zoom = 1.0;
  // Later ids first in the list (a restored marker goes to the end, so list order
  // and id order differ).
  session.sheet.marks.push_back(Marker{9, 110, 100, "", 0});
  session.sheet.marks.push_back(Marker{3, 100, 100, "", 0});
  EXPECT_EQ(hitTestMarker(session, 101, 100), 9);  // marker 3 is nearer, marker 9 comes first
  EXPECT_EQ(hitTestMarker(session, 90, 100), 3);   // only marker 3 in reach
  EXPECT_EQ(hitTestMarker(session, 500, 500), 0);
}

}  // namespace
}  // namespace tessary

#include "app/info_line.h"

#include <gtest/gtest.h>

#include "app/session_state.h"
#include "support/rules_session.h"

namespace tessary {
namespace {

TEST(InfoLine, ZoomPercentRoundsHalfAwayFromZero) {
  struct Case {
    double zoom;
    std::int64_t percent;
  };
  const Case cases[] = {{0.004, 0},   {0.005, 1},    {0.002, 0},         {8.0, 800},
                        {1.0, 100},   {0.125, 13},   {0.0049262, 0},     {718.0 / 14575.0, 5},
                        {1.2, 120},   {0.015, 2},    {0.8333333333333334, 83}, {1.25 * 1.25, 156}};
  for (const Case& c : cases) EXPECT_EQ(zoomPercent(c.zoom), c.percent) << c.zoom;
}

TEST(InfoLine, TitleOnlyWithoutImage) {
  Session session;
  session.imageTitle = u"Pillars \u00E9t\u00E9.png";
  session.cropRect = CropRect{0, 0, 5, 5};
  EXPECT_EQ(infoLineText(session), u"Pillars \u00E9t\u00E9.png");
}

TEST(InfoLine, ImageZoomAndCrop) {
  Session session;
  session.imageTitle = u"NASA plate";
  session.currentImage = testing::makeImage(14575, 8441);
  session.zoom = 0.005;
  EXPECT_EQ(infoLineText(session), u"NASA plate  \u00B7  14575 \u00D7 8441 px  \u00B7  1%");
  session.zoom = 8.0;
  session.cropRect = CropRect{3, 4, 5000, 4999};
  EXPECT_EQ(infoLineText(session),
            u"NASA plate  \u00B7  14575 \u00D7 8441 px  \u00B7  800%  \u00B7  5000 \u00D7 4999 px");
  // A crop with a zero side is no crop.
  session.cropRect = CropRect{3, 4, 0, 12};
  EXPECT_EQ(infoLineText(session), u"NASA plate  \u00B7  14575 \u00D7 8441 px  \u00B7  800%");
}

TEST(InfoLine, CounterAndRows) {
  EXPECT_EQ(markerCounterText(0), u"0 / 200");
  EXPECT_EQ(markerCounterText(200), u"200 / 200");
  struct Case {
    Marker marker;
    const char16_t* text;
  };
  const Case cases[] = {
      {Marker{3, 120.99, 45.5, "", 0}, u"#3   120, 45"},
      {Marker{17, 0.0, 0.999, "", 0}, u"#17   0, 0"},
      {Marker{200, 19999.9999, 7.0, "", 0}, u"#200   19999, 7"},
      {Marker{-2, -0.5, -1.5, "", 0}, u"#-2   0, -1"},
  };
  for (const Case& c : cases) EXPECT_EQ(markerRowText(c.marker), c.text);
}

}  // namespace
}  // namespace tessary

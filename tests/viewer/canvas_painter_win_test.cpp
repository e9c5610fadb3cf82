// Painting a real session into a memory device context and reading back the
// colours at known places: header, canvas, image, markers, crop, status line and
// the owner-drawn buttons.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/session_state.h"
#include "imaging/com_support_win.h"
#include "imaging/display_levels.h"
#include "imaging/image_decoder_win.h"
#include "viewer/canvas_painter_win.h"

namespace tessary {
namespace {

// A top-down 32-bit DIB section in a memory device context, read back pixel by
// pixel as 0xRRGGBB.
class MemoryCanvas {
 public:
  MemoryCanvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    section_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    previous_ = SelectObject(dc_, section_);
  }
  ~MemoryCanvas() {
    SelectObject(dc_, previous_);
    DeleteObject(section_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  std::uint32_t rgb(int x, int y) const {
    GdiFlush();
    return static_cast<const std::uint32_t*>(bits_)[y * width_ + x] & 0xFFFFFF;
  }
  // Counts pixels of the rectangle whose colour passes `test`.
  int count(int x, int y, int w, int h, const std::function<bool(std::uint32_t)>& test) const {
    int n = 0;
    for (int yy = y; yy < y + h; ++yy) {
      for (int xx = x; xx < x + w; ++xx) n += test(rgb(xx, yy)) ? 1 : 0;
    }
    return n;
  }

 private:
  int width_;
  int height_;
  HDC dc_ = nullptr;
  HBITMAP section_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  void* bits_ = nullptr;
};

bool closeTo(std::uint32_t rgb, std::uint32_t argb, int tolerance = 6) {
  for (int shift = 0; shift < 24; shift += 8) {
    const int a = static_cast<int>((rgb >> shift) & 0xFF);
    const int b = static_cast<int>((argb >> shift) & 0xFF);
    if (std::abs(a - b) > tolerance) return false;
  }
  return true;
}

std::function<bool(std::uint32_t)> nearTo(std::uint32_t argb, int tolerance = 6) {
  return [=](std::uint32_t rgb) { return closeTo(rgb, argb, tolerance); };
}

constexpr std::uint32_t rgbOf(std::uint32_t argb) { return argb & 0xFFFFFF; }

// An opaque image filled by `colour(x, y)` (0xRRGGBB), with its drawing bitmap and
// display levels as a load leaves them.
std::shared_ptr<const Pixels> makeImage(std::uint32_t width, std::uint32_t height,
                                        const std::function<std::uint32_t(std::uint32_t, std::uint32_t)>& colour) {
  auto image = std::make_shared<Pixels>();
  image->width = width;
  image->height = height;
  image->sha256 = std::string(64, 'e');
  image->bgra.resize(static_cast<std::size_t>(width) * height * 4);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint32_t c = colour(x, y);
      std::uint8_t* p = &image->bgra[(static_cast<std::size_t>(y) * width + x) * 4];
      p[0] = c & 0xFF;
      p[1] = (c >> 8) & 0xFF;
      p[2] = (c >> 16) & 0xFF;
      p[3] = 255;
    }
  }
  image->bitmap = createDrawingBitmap(width, height, image->bgra.data());
  buildDisplayLevels(*image);
  createDisplayLevelBitmaps(*image);
  return image;
}

class CanvasPainting : public ::testing::Test {
 protected:
  CanvasPainting() {
    session.unixNow = [] { return std::int64_t{1700000000}; };
  }
  void paint(ImageSource source = ImageSource::DisplayLevels) { paintWindow(session, canvas.dc(), source); }

  ScopedGdiplus gdiplus;
  Session session;  // 1300 x 850 client
  MemoryCanvas canvas{1300, 850};
};

TEST_F(CanvasPainting, FrameColoursWithoutAnImage) {
  paint();
  EXPECT_EQ(canvas.rgb(5, 100), rgbOf(palette::Background));
  EXPECT_EQ(canvas.rgb(700, 5), rgbOf(palette::Panel));
  EXPECT_EQ(canvas.rgb(700, 67), rgbOf(palette::Highlight));
  EXPECT_EQ(canvas.rgb(22, 30), rgbOf(palette::Highlight));  // logo stem
  EXPECT_EQ(canvas.rgb(41, 31), rgbOf(palette::Accent));     // logo dot
  EXPECT_EQ(canvas.rgb(20, 400), rgbOf(palette::Border));    // canvas outline
  EXPECT_EQ(canvas.rgb(600, 600), rgbOf(palette::CanvasFill));
  EXPECT_EQ(canvas.rgb(700, 850 - 39), rgbOf(palette::Border));  // footer rule
  // Interface string 22 in the empty canvas, in the muted colour.
  EXPECT_GT(canvas.count(50, 208, 500, 40, nearTo(palette::TextMuted, 24)), 20);
  // The title in the header.
  EXPECT_GT(canvas.count(66, 12, 140, 30, nearTo(palette::Text, 24)), 50);
}

TEST_F(CanvasPainting, ImageMarkersAndCropAtTheirScreenPlaces) {
  session.currentImage = makeImage(100, 80, [](std::uint32_t, std::uint32_t) { return 0xC80A0Au; });
  session.zoom = 1.0;
  session.offsetX = 100;  // image spans screen x 120..220, y 228..308
  session.offsetY = 50;
  session.sheet.marks = {Marker{1, 20, 20, "", 1700000000}, Marker{2, 70, 60, "", 1700000000}};
  session.selectedId = 2;
  session.cropRect = CropRect{40, 5, 50, 70};
  paint();

  EXPECT_EQ(canvas.rgb(170, 268), 0xC80A0Au);
  EXPECT_EQ(canvas.rgb(121, 229), 0xC80A0Au);
  EXPECT_EQ(canvas.rgb(219, 307), 0xC80A0Au);
  EXPECT_EQ(canvas.rgb(118, 268), rgbOf(palette::CanvasFill));
  EXPECT_EQ(canvas.rgb(222, 268), rgbOf(palette::CanvasFill));
  EXPECT_EQ(canvas.rgb(170, 310), rgbOf(palette::CanvasFill));

  // Marker 1 (unselected) at (140, 248), marker 2 (selected) at (190, 288): the
  // disc beside the number, the ring at radius 13, the number in the middle.
  EXPECT_EQ(canvas.rgb(140 + 8, 248 + 2), rgbOf(palette::Highlight));
  EXPECT_EQ(canvas.rgb(190 + 8, 288 + 2), rgbOf(palette::Accent));
  EXPECT_TRUE(closeTo(canvas.rgb(140, 248 - 13), palette::Background, 20));
  EXPECT_TRUE(closeTo(canvas.rgb(190 + 13, 288), palette::Background, 20));
  EXPECT_GT(canvas.count(140 - 6, 248 - 7, 12, 14, nearTo(palette::Background, 30)), 6);

  // The crop rectangle (160, 233)-(210, 303): dashes and gaps along its top edge
  // and down its left edge.
  const int dashes = canvas.count(162, 233, 46, 1, nearTo(palette::Accent, 10));
  const int gaps = canvas.count(162, 233, 46, 1, nearTo(0xC80A0Au, 10));
  EXPECT_GT(dashes, 25);
  EXPECT_GT(gaps, 4);
  EXPECT_GT(canvas.count(160, 237, 1, 62, nearTo(palette::Accent, 10)), 30);
  EXPECT_GT(canvas.count(160, 237, 1, 62, nearTo(0xC80A0Au, 10)), 4);

  // Selected row of the list in its colour, the other row in the panel colour.
  EXPECT_EQ(canvas.rgb(1300 - 330 + 300, 239 + 2), rgbOf(palette::Panel));
  EXPECT_EQ(canvas.rgb(1300 - 330 + 300, 239 + 37 + 2), rgbOf(palette::SelectedRow));
  EXPECT_GT(canvas.count(1300 - 320, 246 + 37, 200, 20, nearTo(palette::Accent, 24)), 10);
}

TEST_F(CanvasPainting, StatusLineColourFollowsTheErrorStyle) {
  session.statusText = u"Something to report on the status line";
  session.statusIsError = true;
  paint();
  EXPECT_GT(canvas.count(20, 850 - 29, 300, 25, nearTo(palette::Accent, 24)), 20);
  EXPECT_EQ(canvas.count(20, 850 - 29, 300, 25, nearTo(palette::Text, 24)), 0);

  session.statusIsError = false;
  paint();
  EXPECT_GT(canvas.count(20, 850 - 29, 300, 25, nearTo(palette::Text, 24)), 20);
  EXPECT_EQ(canvas.count(20, 850 - 29, 300, 25, nearTo(palette::Accent, 24)), 0);
}

TEST_F(CanvasPainting, EightfoldZoomShowsEachPixelAsACrispSquare) {
  // A 4 x 4 checkerboard at 800 %, its corner at the canvas origin.
  session.currentImage =
      makeImage(4, 4, [](std::uint32_t x, std::uint32_t y) { return (x + y) % 2 ? 0xFFFFFFu : 0x000000u; });
  session.zoom = 8.0;
  paint();
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const std::uint32_t expected = ((x / 8) + (y / 8)) % 2 ? 0xFFFFFFu : 0x000000u;
      ASSERT_EQ(canvas.rgb(20 + x, 178 + y), expected) << x << "," << y;
    }
  }
}

TEST_F(CanvasPainting, ReducedImageFromTheDisplayLevelsMatchesTheFullBitmap) {
  // Left half red, right half blue, with a soft vertical gradient; shown at 0.1.
  session.currentImage = makeImage(2000, 1000, [](std::uint32_t x, std::uint32_t y) {
    const std::uint32_t g = y * 255 / 1000;
    return (x < 1000 ? 0xFF0000u : 0x0000FFu) | (g << 8);
  });
  session.zoom = 0.1;
  session.offsetX = 50;  // image spans screen x 70..270, y 208..308
  session.offsetY = 30;
  paint(ImageSource::DisplayLevels);
  EXPECT_TRUE(closeTo(canvas.rgb(100, 258), 0xFF0000u | (127u << 8), 12));
  EXPECT_TRUE(closeTo(canvas.rgb(240, 258), 0x0000FFu | (127u << 8), 12));
  EXPECT_TRUE(closeTo(canvas.rgb(165, 212), 0xFF0000u | (10u << 8), 12));
  EXPECT_TRUE(closeTo(canvas.rgb(175, 304), 0x0000FFu | (244u << 8), 12));
  std::vector<std::uint32_t> levels;
  for (int y = 208; y < 308; ++y)
    for (int x = 70; x < 270; ++x) levels.push_back(canvas.rgb(x, y));

  paint(ImageSource::FullBitmap);
  int differing = 0;
  std::size_t i = 0;
  for (int y = 208; y < 308; ++y) {
    for (int x = 70; x < 270; ++x, ++i) {
      // The red-blue edge (x 169, 170) may blend differently.
      if (x >= 168 && x <= 171) continue;
      if (!closeTo(levels[i], canvas.rgb(x, y), 16)) ++differing;
    }
  }
  EXPECT_LT(differing, 200) << "of 20000 pixels";
}

TEST_F(CanvasPainting, GuideHidesTheCanvasContents) {
  session.currentImage = makeImage(100, 80, [](std::uint32_t, std::uint32_t) { return 0xC80A0Au; });
  session.offsetX = 100;
  session.offsetY = 50;
  session.sheet.marks = {Marker{1, 20, 20, "", 1700000000}};
  session.guideVisible = true;
  paint();
  EXPECT_EQ(canvas.count(21, 179, 900, 400, nearTo(palette::CanvasFill, 0)), 900 * 400);
  // The panel title is not drawn either.
  EXPECT_EQ(canvas.count(1300 - 330, 179, 300, 29, nearTo(palette::Text, 24)), 0);
}

TEST_F(CanvasPainting, PannedOutImageStillPlacesMarkersAndCropClipped) {
  session.currentImage = makeImage(100, 80, [](std::uint32_t, std::uint32_t) { return 0xC80A0Au; });
  session.zoom = 1.0;
  session.offsetX = -130;  // image ends 30 pixels left of the canvas
  session.offsetY = 100;
  session.sheet.marks = {Marker{1, 95, 10, "", 1700000000}};
  paint();
  EXPECT_EQ(canvas.count(21, 179, 100, 300, nearTo(0xC80A0Au, 10)), 0);
  // The marker at screen x -15 lies wholly left of the canvas; nothing of it shows
  // inside, and the outline is intact.
  EXPECT_EQ(canvas.rgb(20, 288), rgbOf(palette::Border));
  EXPECT_EQ(canvas.count(21, 270, 10, 40, nearTo(palette::Highlight, 20)), 0);
}

// The pixels of a rectangle of the canvas, row by row.
std::vector<std::uint32_t> grab(const MemoryCanvas& canvas, int x, int y, int w, int h) {
  std::vector<std::uint32_t> pixels;
  for (int yy = y; yy < y + h; ++yy)
    for (int xx = x; xx < x + w; ++xx) pixels.push_back(canvas.rgb(xx, yy));
  return pixels;
}

TEST_F(CanvasPainting, TextsFollowTheStateFromPaintToPaint) {
  // Texts are kept as pixels between paints; each paint must still show the
  // current ones.
  session.statusText = u"First message";
  paint();
  const auto first = grab(canvas, 20, 850 - 29, 400, 25);
  const auto emptyCanvasIdle = grab(canvas, 50, 208, 500, 30);
  session.statusText = u"Second, rather different message";
  session.jobRunning = true;
  paint();
  EXPECT_NE(grab(canvas, 20, 850 - 29, 400, 25), first);
  EXPECT_NE(grab(canvas, 50, 208, 500, 30), emptyCanvasIdle);  // string 24 instead of 22
  session.statusText = u"First message";
  session.jobRunning = false;
  paint();
  EXPECT_EQ(grab(canvas, 20, 850 - 29, 400, 25), first);
  EXPECT_EQ(grab(canvas, 50, 208, 500, 30), emptyCanvasIdle);
}

// A system where GDI+ cannot create the interface family (no outline font of it,
// or none at all): every text is still drawn, in its own box, through GDI.
TEST_F(CanvasPainting, TextsAreDrawnWhenGdiplusHasNoFamilyForThem) {
  session.uiFontFamily = u"Tessary Missing Family 7";
  session.statusText = u"Something to report on the status line";
  paint();
  const auto text = nearTo(palette::Text, 24);
  EXPECT_GT(canvas.count(66, 12, 240, 30, text), 40) << "title";
  EXPECT_GT(canvas.count(1300 - 330, 179, 305, 29, text), 20) << "panel heading";
  EXPECT_GT(canvas.count(20, 850 - 29, 300, 25, text), 20) << "status line";
  EXPECT_GT(canvas.count(1300 - 330, 244, 290, 110, nearTo(palette::TextMuted, 24)), 20) << "empty list";
  // The layout is the same: nothing of the title below its box, nothing of the
  // status line left of it.
  EXPECT_EQ(canvas.count(66, 42, 240, 1, text), 0);
  EXPECT_EQ(canvas.count(0, 850 - 29, 20, 25, text), 0);
}

TEST_F(CanvasPainting, ResizedClientIsPaintedWhole) {
  paint();
  session.clientWidth = 800;
  session.clientHeight = 600;
  paint();
  EXPECT_EQ(canvas.rgb(790, 5), rgbOf(palette::Panel));
  EXPECT_EQ(canvas.rgb(780, 67), rgbOf(palette::Highlight));
  EXPECT_EQ(canvas.rgb(20, 300), rgbOf(palette::Border));
  EXPECT_EQ(canvas.rgb(800 - 350, 300), rgbOf(palette::Border));  // canvas right edge
  EXPECT_EQ(canvas.rgb(300, 500), rgbOf(palette::CanvasFill));
  EXPECT_EQ(canvas.rgb(400, 600 - 39), rgbOf(palette::Border));  // footer rule
  session.clientWidth = 1300;
  session.clientHeight = 850;
  paint();
  EXPECT_EQ(canvas.rgb(1250, 5), rgbOf(palette::Panel));
  EXPECT_EQ(canvas.rgb(800, 600), rgbOf(palette::CanvasFill));
}

class OwnerButton : public ::testing::Test {
 protected:
  OwnerButton() {
    button = CreateWindowExW(0, L"BUTTON", L"Pan", WS_POPUP | BS_OWNERDRAW, 0, 0, 90, 32, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  }
  ~OwnerButton() override { DestroyWindow(button); }
  void draw(int id, UINT state) {
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = static_cast<UINT>(id);
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = state;
    item.hwndItem = button;
    item.hDC = canvas.dc();
    item.rcItem = RECT{0, 0, 90, 32};
    drawOwnerButton(session, item);
  }

  ScopedGdiplus gdiplus;
  Session session;
  MemoryCanvas canvas{90, 32};
  HWND button = nullptr;
};

TEST_F(OwnerButton, ActiveModeButtonIsHighlightedWithDarkText) {
  session.interactionMode = InteractionMode::Pan;
  draw(ID_PAN, 0);
  EXPECT_EQ(canvas.rgb(4, 4), rgbOf(palette::Highlight));
  EXPECT_EQ(canvas.rgb(0, 10), rgbOf(palette::Border));
  EXPECT_EQ(canvas.rgb(89, 31), rgbOf(palette::Border));
  EXPECT_GT(canvas.count(30, 8, 30, 16, nearTo(palette::Background, 30)), 5);
}

TEST_F(OwnerButton, InactiveFocusedAndDisabledButtons) {
  session.interactionMode = InteractionMode::Mark;
  draw(ID_PAN, ODS_FOCUS);
  EXPECT_EQ(canvas.rgb(4, 4), rgbOf(palette::Panel));
  EXPECT_EQ(canvas.rgb(0, 10), rgbOf(palette::Accent));
  EXPECT_GT(canvas.count(30, 8, 30, 16, nearTo(palette::Text, 30)), 5);

  draw(ID_FIT, ODS_DISABLED);
  EXPECT_EQ(canvas.rgb(4, 4), rgbOf(palette::Panel));
  EXPECT_EQ(canvas.rgb(0, 10), rgbOf(palette::Border));
  EXPECT_GT(canvas.count(30, 8, 30, 16, nearTo(palette::TextDisabled, 20)), 5);
  EXPECT_EQ(canvas.count(30, 8, 30, 16, nearTo(palette::Text, 30)), 0);

  session.interactionMode = InteractionMode::Crop;
  draw(ID_SELECT_CROP, 0);
  EXPECT_EQ(canvas.rgb(4, 4), rgbOf(palette::Highlight));
}

TEST_F(OwnerButton, LabelIsDrawnWhenGdiplusHasNoFamilyForIt) {
  session.uiFontFamily = u"Tessary Missing Family 7";
  session.interactionMode = InteractionMode::Mark;
  draw(ID_PAN, 0);
  EXPECT_EQ(canvas.rgb(4, 4), rgbOf(palette::Panel));
  EXPECT_GT(canvas.count(30, 8, 30, 16, nearTo(palette::Text, 30)), 5);
  session.interactionMode = InteractionMode::Pan;
  draw(ID_PAN, 0);
  EXPECT_EQ(canvas.rgb(4, 4), rgbOf(palette::Highlight));
  EXPECT_GT(canvas.count(30, 8, 30, 16, nearTo(palette::Background, 30)), 5);
}

}  // namespace
}  // namespace tessary

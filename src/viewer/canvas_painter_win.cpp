#include "viewer/canvas_painter_win.h"

#include <windows.h>
#include <objidl.h>  // gdiplus.h needs it under WIN32_LEAN_AND_MEAN
#include <gdiplus.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/info_line.h"
#include "app/session_state.h"
#include "imaging/display_levels.h"
#include "imaging/image_decoder_win.h"
#include "text/local_time_win.h"
#include "text/ui_strings.h"
#include "viewer/view_transform.h"

namespace tessary {
namespace {

using Gdiplus::Color;
using Gdiplus::RectF;
using Gdiplus::REAL;

const wchar_t kFontFamily[] = L"Segoe UI";

std::wstring wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// A top-down 32-bit DIB section selected into a memory device context: the
// off-screen bitmap of one paint. GDI+ draws into its bits as premultiplied ARGB,
// and GDI copies it to the window with one BitBlt.
class OffscreenBitmap {
 public:
  OffscreenBitmap(HDC reference, int width, int height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    section_ = CreateDIBSection(reference, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (section_ == nullptr || bits_ == nullptr) return;
    memoryDc_ = CreateCompatibleDC(reference);
    if (memoryDc_ == nullptr) return;
    previous_ = SelectObject(memoryDc_, section_);
    bitmap_ = std::make_unique<Gdiplus::Bitmap>(width, height, width * 4, PixelFormat32bppPARGB,
                                                static_cast<BYTE*>(bits_));
  }
  ~OffscreenBitmap() {
    bitmap_.reset();
    if (memoryDc_ != nullptr) {
      SelectObject(memoryDc_, previous_);
      DeleteDC(memoryDc_);
    }
    if (section_ != nullptr) DeleteObject(section_);
  }
  OffscreenBitmap(const OffscreenBitmap&) = delete;
  OffscreenBitmap& operator=(const OffscreenBitmap&) = delete;

  bool ok() const { return bitmap_ && bitmap_->GetLastStatus() == Gdiplus::Ok; }
  Gdiplus::Bitmap* bitmap() const { return bitmap_.get(); }
  void copyTo(HDC target) const {
    GdiFlush();
    BitBlt(target, 0, 0, width_, height_, memoryDc_, 0, 0, SRCCOPY);
  }

 private:
  int width_;
  int height_;
  HBITMAP section_ = nullptr;
  void* bits_ = nullptr;
  HDC memoryDc_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  std::unique_ptr<Gdiplus::Bitmap> bitmap_;
};

// The text drawing of one paint: the font family and the fonts of each size and
// weight are made once per paint and released with it.
class TextPainter {
 public:
  explicit TextPainter(Gdiplus::Graphics& graphics) : graphics_(graphics), family_(kFontFamily) {
    format_.SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
  }

  // Left and top aligned, word wrapping on, text that does not fit ends in an
  // ellipsis.
  void drawText(const std::wstring& text, const RectF& box, REAL size, std::uint32_t colour, bool bold) {
    Gdiplus::SolidBrush brush{Color(colour)};
    graphics_.DrawString(text.c_str(), static_cast<INT>(text.size()), &font(size, bold), box, &format_, &brush);
  }

 private:
  Gdiplus::Font& font(REAL size, bool bold) {
    for (auto& entry : fonts_) {
      if (entry.size == size && entry.bold == bold) return *entry.font;
    }
    fonts_.push_back({size, bold,
                      std::make_unique<Gdiplus::Font>(&family_, size,
                                                      bold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular,
                                                      Gdiplus::UnitPixel)});
    return *fonts_.back().font;
  }

  struct CachedFont {
    REAL size;
    bool bold;
    std::unique_ptr<Gdiplus::Font> font;
  };
  Gdiplus::Graphics& graphics_;
  Gdiplus::FontFamily family_;
  Gdiplus::StringFormat format_;
  std::vector<CachedFont> fonts_;
};

void fillRect(Gdiplus::Graphics& g, std::uint32_t colour, REAL x, REAL y, REAL w, REAL h) {
  Gdiplus::SolidBrush brush{Color(colour)};
  g.FillRectangle(&brush, x, y, w, h);
}

void line(Gdiplus::Graphics& g, std::uint32_t colour, REAL x0, REAL y0, REAL x1, REAL y1) {
  Gdiplus::Pen pen(Color(colour), 1.0f);
  g.DrawLine(&pen, x0, y0, x1, y1);
}

// Draws the visible part of the image. From the display levels it takes the
// smallest one that still has at least as many pixels as the zoom asks for, so the
// filter never reduces by more than half; the source rectangle is mapped into that
// level's pixels while the destination stays the same.
void drawImage(Gdiplus::Graphics& g, const Session& s, const Pixels& image, ImageSource source) {
  const double W = s.clientWidth;
  const double H = s.clientHeight;
  const double zoom = s.zoom;
  const double x0 = std::max(0.0, -s.offsetX / zoom);
  const double x1 = std::min(static_cast<double>(image.width), (W - 370 - s.offsetX) / zoom);
  const double y0 = std::max(0.0, -s.offsetY / zoom);
  const double y1 = std::min(static_cast<double>(image.height), (H - 257 - s.offsetY) / zoom);
  if (!(x1 > x0) || !(y1 > y0)) return;

  Gdiplus::Bitmap* bitmap = drawingBitmap(image.bitmap);
  double scaleX = 1.0;
  double scaleY = 1.0;
  if (source == ImageSource::DisplayLevels && zoom < 1.0) {
    if (const DisplayLevel* level = displayLevelForZoom(image, zoom)) {
      if (Gdiplus::Bitmap* levelBitmap = drawingBitmap(level->bitmap)) {
        bitmap = levelBitmap;
        scaleX = static_cast<double>(level->width) / image.width;
        scaleY = static_cast<double>(level->height) / image.height;
      }
    }
  }
  if (bitmap == nullptr) return;

  g.SetInterpolationMode(zoom >= 1.0 ? Gdiplus::InterpolationModeNearestNeighbor
                                     : Gdiplus::InterpolationModeHighQualityBicubic);
  g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  const RectF destination(static_cast<REAL>(20 + s.offsetX + x0 * zoom), static_cast<REAL>(178 + s.offsetY + y0 * zoom),
                          static_cast<REAL>((x1 - x0) * zoom), static_cast<REAL>((y1 - y0) * zoom));
  g.DrawImage(bitmap, destination, static_cast<REAL>(x0 * scaleX), static_cast<REAL>(y0 * scaleY),
              static_cast<REAL>((x1 - x0) * scaleX), static_cast<REAL>((y1 - y0) * scaleY), Gdiplus::UnitPixel);
}

const Marker* selectedMarker(const Session& s) {
  if (s.selectedId == 0) return nullptr;
  for (const Marker& m : s.sheet.marks) {
    if (m.id == s.selectedId) return &m;
  }
  return nullptr;
}

void paintScene(Gdiplus::Graphics& g, const Session& s, ImageSource source) {
  const REAL W = static_cast<REAL>(s.clientWidth);
  const REAL H = static_cast<REAL>(s.clientHeight);
  TextPainter text(g);
  const Pixels* image = s.currentImage.get();

  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  g.Clear(Color(palette::Background));

  // Header band, rule, logo mark, title and tagline.
  fillRect(g, palette::Panel, 0, 0, W, 68);
  line(g, palette::Highlight, 20, 67, W - 20, 67);
  line(g, palette::Highlight, 22, 18, 22, 50);
  line(g, palette::Highlight, 22, 18, 46, 18);
  line(g, palette::Highlight, 36, 50, 52, 50);
  {
    Gdiplus::SolidBrush dot{Color(palette::Accent)};
    g.FillEllipse(&dot, 37.0f, 27.0f, 9.0f, 9.0f);
  }
  text.drawText(L"TESSARY", RectF(66, 12, 240, 30), 24, palette::Text, true);
  text.drawText(wide(uiText(s.language, 0)), RectF(67, 43, W - 370, 20), 12, palette::TextMuted, false);

  // Canvas.
  const RectF canvas(20, 178, W - 370, H - 257);
  fillRect(g, palette::CanvasFill, canvas.X, canvas.Y, canvas.Width, canvas.Height);
  {
    Gdiplus::Pen outline(Color(palette::Border), 1.0f);
    g.DrawRectangle(&outline, canvas);
  }

  if (!s.guideVisible) {
    const Gdiplus::GraphicsState saved = g.Save();
    g.SetClip(canvas);
    if (image != nullptr) {
      drawImage(g, s, *image, source);
      const CropRect& crop = s.cropRect;
      if (crop.width != 0 && crop.height != 0) {
        Gdiplus::Pen dashes(Color(palette::Accent), 2.0f);
        dashes.SetDashStyle(Gdiplus::DashStyleDash);
        g.DrawRectangle(&dashes, RectF(static_cast<REAL>(20 + s.offsetX + crop.x * s.zoom),
                                       static_cast<REAL>(178 + s.offsetY + crop.y * s.zoom),
                                       static_cast<REAL>(crop.width * s.zoom), static_cast<REAL>(crop.height * s.zoom)));
      }
      Gdiplus::SolidBrush accent{Color(palette::Accent)};
      Gdiplus::SolidBrush highlight{Color(palette::Highlight)};
      Gdiplus::Pen ring(Color(palette::Background), 2.0f);
      for (const Marker& m : s.sheet.marks) {
        const Point p = imageToScreen(s, m.x, m.y);
        const REAL sx = static_cast<REAL>(p.x);
        const REAL sy = static_cast<REAL>(p.y);
        g.FillEllipse(m.id == s.selectedId ? &accent : &highlight, sx - 13, sy - 13, 26.0f, 26.0f);
        g.DrawEllipse(&ring, sx - 13, sy - 13, 26.0f, 26.0f);
        text.drawText(std::to_wstring(m.id), RectF(sx - 9, sy - 10, 22, 22), 12, palette::Background, true);
      }
    } else {
      text.drawText(wide(uiText(s.language, s.jobRunning ? 24 : 22)), RectF(50, 208, W - 430, 100), 20,
                    palette::TextMuted, false);
    }
    g.Restore(saved);

    // Observation panel.
    text.drawText(wide(uiText(s.language, 19)), RectF(W - 330, 179, 305, 29), 19, palette::Text, true);
    text.drawText(wide(markerCounterText(s.sheet.marks.size())), RectF(W - 330, 211, 300, 22), 12,
                  palette::TextMuted, false);
    const std::int64_t count = static_cast<std::int64_t>(s.sheet.marks.size());
    for (int r = 0; r < 5 && s.listTop + r < count; ++r) {
      const Marker& m = s.sheet.marks[static_cast<std::size_t>(s.listTop + r)];
      const bool selected = m.id == s.selectedId;
      fillRect(g, selected ? palette::SelectedRow : palette::Panel, W - 330, static_cast<REAL>(239 + 37 * r), 310, 33);
      text.drawText(wide(markerRowText(m)), RectF(W - 320, static_cast<REAL>(246 + 37 * r), 288, 24), 13,
                    selected ? palette::Accent : palette::Text, false);
    }
    if (count == 0) {
      text.drawText(wide(uiText(s.language, 22)), RectF(W - 330, 244, 290, 110), 14, palette::TextMuted, false);
    }
    text.drawText(wide(uiText(s.language, 20)), RectF(W - 330, 425, 305, 22), 13, palette::Highlight, true);
    if (const Marker* m = selectedMarker(s)) {
      text.drawText(wide(formatLocalTimestamp(m->createdUTC, true)), RectF(W - 330, H - 117, 308, 22), 11,
                    palette::TextMuted, false);
    }
    text.drawText(wide(uiText(s.language, 51)), RectF(W - 330, H - 91, 309, 25), 11, palette::TextMuted, false);
    text.drawText(wide(infoLineText(s)), RectF(20, H - 68, W - 380, 24), 12, palette::TextMuted, false);
  }

  // Footer: rule, status line and clock.
  line(g, palette::Border, 20, H - 39, W - 20, H - 39);
  text.drawText(wide(s.statusText), RectF(20, H - 29, W - 290, 25), 12,
                s.statusIsError ? palette::Accent : palette::Text, false);
  text.drawText(wide(formatLocalTimestamp(s.unixNow(), false) + u"  " + utcOffsetLabel()),
                RectF(W - 260, H - 29, 240, 25), 12, palette::TextMuted, false);
}

}  // namespace

void paintWindow(const Session& session, HDC dc, ImageSource source) {
  if (session.clientWidth <= 0 || session.clientHeight <= 0) return;
  OffscreenBitmap offscreen(dc, session.clientWidth, session.clientHeight);
  if (!offscreen.ok()) return;
  {
    Gdiplus::Graphics graphics(offscreen.bitmap());
    paintScene(graphics, session, source);
  }
  offscreen.copyTo(dc);
}

void drawOwnerButton(const Session& session, const DRAWITEMSTRUCT& item) {
  const int id = static_cast<int>(item.CtlID);
  const bool active = (id == ID_PAN || id == ID_ADD_MARKER || id == ID_SELECT_CROP) &&
                      static_cast<int>(session.interactionMode) == id - ID_PAN;
  const REAL right = static_cast<REAL>(item.rcItem.right);
  const REAL bottom = static_cast<REAL>(item.rcItem.bottom);

  Gdiplus::Graphics g(item.hDC);
  fillRect(g, active ? palette::Highlight : palette::Panel, 0, 0, right, bottom);
  {
    Gdiplus::Pen outline(Color((item.itemState & ODS_FOCUS) ? palette::Accent : palette::Border), 1.0f);
    g.DrawRectangle(&outline, 0.0f, 0.0f, right - 1, bottom - 1);
  }

  const int length = GetWindowTextLengthW(item.hwndItem);
  std::wstring label(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
  label.resize(static_cast<std::size_t>(std::max(GetWindowTextW(item.hwndItem, label.data(), length + 1), 0)));

  const std::uint32_t colour = (item.itemState & ODS_DISABLED) ? palette::TextDisabled
                               : active                        ? palette::Background
                                                               : palette::Text;
  Gdiplus::FontFamily family(kFontFamily);
  Gdiplus::Font font(&family, 12, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
  Gdiplus::StringFormat centred;
  centred.SetAlignment(Gdiplus::StringAlignmentCenter);
  centred.SetLineAlignment(Gdiplus::StringAlignmentCenter);
  Gdiplus::SolidBrush brush{Color(colour)};
  g.DrawString(label.c_str(), static_cast<INT>(label.size()), &font, RectF(2, 0, right - 4, bottom), &centred, &brush);
}

}  // namespace tessary

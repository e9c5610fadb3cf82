#include "viewer/canvas_painter_win.h"

#include <windows.h>
#include <objidl.h>  // gdiplus.h needs it under WIN32_LEAN_AND_MEAN
#include <gdiplus.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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
#include "viewer/image_resampler.h"
#include "viewer/view_transform.h"

namespace tessary {
namespace {

using Gdiplus::Color;
using Gdiplus::RectF;
using Gdiplus::REAL;


std::wstring wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// The off-screen bitmap: a top-down 32-bit DIB section selected into a memory
// device context. GDI+ draws into its bits as premultiplied ARGB through a Bitmap
// over the same memory, and GDI copies it to the window with one BitBlt. The
// section is kept from one paint to the next while the client size stays the
// same (a fresh one costs a page fault per 4 KiB on every paint); every paint
// draws all of its pixels anew. Only GDI objects are kept, no GDI+ object.
class OffscreenSurface {
 public:
  ~OffscreenSurface() { release(); }

  bool prepare(HDC reference, int width, int height) {
    if (section_ != nullptr && width == width_ && height == height_) return true;
    release();
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    memoryDc_ = CreateCompatibleDC(reference);
    if (memoryDc_ == nullptr) return false;
    section_ = CreateDIBSection(memoryDc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (section_ == nullptr || bits_ == nullptr) {
      release();
      return false;
    }
    previous_ = SelectObject(memoryDc_, section_);
    width_ = width;
    height_ = height;
    return true;
  }
  TargetPixels pixels() const {
    return TargetPixels{static_cast<std::uint8_t*>(bits_), width_, height_, static_cast<std::size_t>(width_) * 4};
  }
  HDC dc() const { return memoryDc_; }
  void copyTo(HDC target) const {
    GdiFlush();
    BitBlt(target, 0, 0, width_, height_, memoryDc_, 0, 0, SRCCOPY);
  }

 private:
  void release() {
    if (memoryDc_ != nullptr) {
      if (previous_ != nullptr) SelectObject(memoryDc_, previous_);
      DeleteDC(memoryDc_);
    }
    if (section_ != nullptr) DeleteObject(section_);
    memoryDc_ = nullptr;
    section_ = nullptr;
    previous_ = nullptr;
    bits_ = nullptr;
    width_ = 0;
    height_ = 0;
  }

  int width_ = 0;
  int height_ = 0;
  HBITMAP section_ = nullptr;
  void* bits_ = nullptr;
  HDC memoryDc_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

OffscreenSurface& offscreenSurface() {
  static OffscreenSurface surface;  // window thread only
  return surface;
}

// Fills whole pixels of the off-screen bitmap with an opaque colour (the same
// pixels GDI+ fills for a rectangle on whole-pixel edges). Much cheaper than a GDI+
// fill, which blends pixel by pixel.
void fillOpaque(const TargetPixels& target, std::uint32_t colour, int x, int y, int w, int h) {
  const int left = std::max(x, 0);
  const int top = std::max(y, 0);
  const int right = std::min(x + w, target.width);
  const int bottom = std::min(y + h, target.height);
  if (right <= left || bottom <= top) return;
  for (int row = top; row < bottom; ++row) {
    auto* p = reinterpret_cast<std::uint32_t*>(target.bgra + static_cast<std::size_t>(row) * target.stride) + left;
    std::fill(p, p + (right - left), colour);
  }
}

// Premultiplied pixels of one rendered text box, transparent where no glyph is.
struct TextTile {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pargb;
};

struct TextKey {
  std::wstring text;
  std::wstring family;
  int width;
  int height;
  REAL size;
  bool bold;
  std::uint32_t colour;
  bool operator==(const TextKey&) const = default;
};

// Texts drawn in earlier paints, as pixels. Nearly every text of the window stays
// the same from one paint to the next (panning changes none of them), and GDI+
// text is by far the dearest part of a paint. Plain pixel memory only, so the
// cache outlives no GDI+ object; it is emptied when it grows past its limit.
class TextTileCache {
 public:
  const TextTile* find(const TextKey& key) const {
    for (const auto& entry : entries_) {
      if (entry.first == key) return &entry.second;
    }
    return nullptr;
  }
  const TextTile* add(TextKey key, TextTile tile) {
    if (entries_.size() >= kLimit) entries_.clear();
    entries_.emplace_back(std::move(key), std::move(tile));
    return &entries_.back().second;
  }

 private:
  static constexpr std::size_t kLimit = 96;
  std::vector<std::pair<TextKey, TextTile>> entries_;
};

TextTileCache& textTiles() {
  static TextTileCache cache;  // window thread only
  return cache;
}

// Puts a premultiplied tile over the bitmap at (x, y), within `clip`.
void compositeTile(const TargetPixels& target, const TextTile& tile, int x, int y, const PixelClip& clip) {
  const int left = std::max({x, clip.left, 0});
  const int top = std::max({y, clip.top, 0});
  const int right = std::min({x + tile.width, clip.right, target.width});
  const int bottom = std::min({y + tile.height, clip.bottom, target.height});
  for (int row = top; row < bottom; ++row) {
    const std::uint8_t* s = &tile.pargb[(static_cast<std::size_t>(row - y) * tile.width + (left - x)) * 4];
    std::uint8_t* d = target.bgra + static_cast<std::size_t>(row) * target.stride + static_cast<std::size_t>(left) * 4;
    for (int col = left; col < right; ++col, s += 4, d += 4) {
      const int alpha = s[3];
      if (alpha == 0) continue;
      if (alpha == 255) {
        std::memcpy(d, s, 4);
        continue;
      }
      const int inverse = 255 - alpha;
      for (int c = 0; c < 4; ++c) d[c] = static_cast<std::uint8_t>(s[c] + (d[c] * inverse + 127) / 255);
    }
  }
}

// Whether GDI+ can draw in `family` (it made the family, and the family is there).
bool drawableFamily(const Gdiplus::FontFamily& family) {
  return family.GetLastStatus() == Gdiplus::Ok && family.IsAvailable() != FALSE;
}

// A GDI font of the interface family at a pixel size, deleted with its owner. GDI's
// font mapping always yields a face, also for a family that GDI+ cannot create
// (a system without it, or with bitmap fonts only).
class GdiFont {
 public:
  GdiFont(const wchar_t* family, REAL size, bool bold)
      : font_(CreateFontW(-static_cast<int>(std::lround(size)), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                          FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                          DEFAULT_PITCH, family)) {}
  ~GdiFont() {
    if (font_ != nullptr) DeleteObject(font_);
  }
  GdiFont(const GdiFont&) = delete;
  GdiFont& operator=(const GdiFont&) = delete;
  HFONT get() const { return font_; }

 private:
  HFONT font_;
};

// Draws `text` with GDI into `dc` within `box`, in `colour` on a transparent ground.
void drawGdiText(HDC dc, HFONT font, const std::wstring& text, RECT box, std::uint32_t colour, UINT format) {
  const HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
  const int mode = SetBkMode(dc, TRANSPARENT);
  const COLORREF before = SetTextColor(dc, RGB((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF));
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, format | DT_NOPREFIX);
  SetTextColor(dc, before);
  SetBkMode(dc, mode);
  if (previous != nullptr) SelectObject(dc, previous);
}

// The text drawing of one paint. The font family and the fonts of each size and
// weight are made once per paint and released with it. When GDI+ cannot create the
// family, every text is rendered through GDI into the same tiles, so that it is
// drawn all the same, in the same boxes.
class TextPainter {
 public:
  TextPainter(Gdiplus::Graphics& graphics, const TargetPixels& target, const wchar_t* fontFamily)
      : graphics_(graphics), target_(target), familyName_(fontFamily), family_(fontFamily) {
    format_.SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
    throughGdi_ = !drawableFamily(family_);
  }

  // Left and top aligned, word wrapping on, text that does not fit its box ends
  // in an ellipsis. A box on whole pixels is drawn from the tile cache, rendered
  // into a transparent tile of the box's size when it is not there yet; GDI+ clips
  // text to its box, so the tile holds everything the text draws.
  void drawText(const std::wstring& text, RectF box, REAL size, std::uint32_t colour, bool bold,
                const PixelClip& clip) {
    if (text.empty() || !(box.Width > 0) || !(box.Height > 0)) return;
    // GDI draws on whole pixels only.
    if (throughGdi_) box = RectF(std::floor(box.X), std::floor(box.Y), std::ceil(box.Width), std::ceil(box.Height));
    const bool wholePixels = box.X == std::floor(box.X) && box.Y == std::floor(box.Y) &&
                             box.Width == std::floor(box.Width) && box.Height == std::floor(box.Height) &&
                             box.Width <= 4096 && box.Height <= 4096;
    if (!wholePixels) {
      if (throughGdi_) return;  // larger than any text box of the window
      Gdiplus::SolidBrush brush{Color(colour)};
      graphics_.DrawString(text.c_str(), static_cast<INT>(text.size()), &font(size, bold), box, &format_, &brush);
      return;
    }
    TextKey key{text, familyName_, static_cast<int>(box.Width), static_cast<int>(box.Height), size, bold, colour};
    const TextTile* tile = textTiles().find(key);
    if (tile == nullptr) {
      TextTile rendered = throughGdi_ ? renderWithGdi(text, box, size, colour, bold) : render(text, box, size, colour, bold);
      tile = textTiles().add(std::move(key), std::move(rendered));
    }
    graphics_.Flush(Gdiplus::FlushIntentionSync);
    compositeTile(target_, *tile, static_cast<int>(box.X), static_cast<int>(box.Y), clip);
  }

 private:
  TextTile render(const std::wstring& text, const RectF& box, REAL size, std::uint32_t colour, bool bold) {
    TextTile tile;
    tile.width = static_cast<int>(box.Width);
    tile.height = static_cast<int>(box.Height);
    tile.pargb.assign(static_cast<std::size_t>(tile.width) * tile.height * 4, 0);
    Gdiplus::Bitmap bitmap(tile.width, tile.height, tile.width * 4, PixelFormat32bppPARGB, tile.pargb.data());
    Gdiplus::Graphics graphics(&bitmap);
    // Grey-scale smoothing: sub-pixel (ClearType) text needs an opaque ground.
    graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
    Gdiplus::SolidBrush brush{Color(colour)};
    graphics.DrawString(text.c_str(), static_cast<INT>(text.size()), &font(size, bold),
                        RectF(0, 0, box.Width, box.Height), &format_, &brush);
    graphics.Flush(Gdiplus::FlushIntentionSync);
    return tile;
  }

  // The same tile through GDI: white text on black gives the glyphs' coverage,
  // which becomes the alpha of the text's colour.
  TextTile renderWithGdi(const std::wstring& text, const RectF& box, REAL size, std::uint32_t colour, bool bold) {
    TextTile tile;
    tile.width = static_cast<int>(box.Width);
    tile.height = static_cast<int>(box.Height);
    tile.pargb.assign(static_cast<std::size_t>(tile.width) * tile.height * 4, 0);
    OffscreenSurface surface;
    HDC screen = GetDC(nullptr);
    const bool prepared = surface.prepare(screen, tile.width, tile.height);
    ReleaseDC(nullptr, screen);
    if (!prepared) return tile;
    const TargetPixels mask = surface.pixels();
    std::fill(mask.bgra, mask.bgra + mask.stride * mask.height, std::uint8_t{0});
    GdiFont gdiFont(familyName_.c_str(), size, bold);
    drawGdiText(surface.dc(), gdiFont.get(), text, RECT{0, 0, tile.width, tile.height}, 0xFFFFFFFF,
                DT_LEFT | DT_TOP | DT_WORDBREAK | DT_END_ELLIPSIS);
    GdiFlush();
    const unsigned alpha = colour >> 24;
    for (int y = 0; y < tile.height; ++y) {
      const std::uint8_t* m = mask.bgra + static_cast<std::size_t>(y) * mask.stride;
      std::uint8_t* t = &tile.pargb[static_cast<std::size_t>(y) * tile.width * 4];
      for (int x = 0; x < tile.width; ++x, m += 4, t += 4) {
        const unsigned coverage = std::max({m[0], m[1], m[2]}) * alpha / 255;
        for (int c = 0; c < 3; ++c) {
          t[c] = static_cast<std::uint8_t>((((colour >> (8 * c)) & 0xFF) * coverage + 127) / 255);
        }
        t[3] = static_cast<std::uint8_t>(coverage);
      }
    }
    return tile;
  }

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
  TargetPixels target_;
  std::wstring familyName_;
  Gdiplus::FontFamily family_;
  bool throughGdi_ = false;
  Gdiplus::StringFormat format_;
  std::vector<CachedFont> fonts_;
};

void line(Gdiplus::Graphics& g, std::uint32_t colour, REAL x0, REAL y0, REAL x1, REAL y1) {
  Gdiplus::Pen pen(Color(colour), 1.0f);
  g.DrawLine(&pen, x0, y0, x1, y1);
}

// The visible part of the image in image pixels (fractional), or false when none
// of it lies in the canvas.
struct VisibleRegion {
  double x0, y0, x1, y1;
};
bool visibleRegion(const Session& s, const Pixels& image, VisibleRegion& r) {
  r.x0 = std::max(0.0, -s.offsetX / s.zoom);
  r.x1 = std::min(static_cast<double>(image.width), (s.clientWidth - 370 - s.offsetX) / s.zoom);
  r.y0 = std::max(0.0, -s.offsetY / s.zoom);
  r.y1 = std::min(static_cast<double>(image.height), (s.clientHeight - 257 - s.offsetY) / s.zoom);
  return r.x1 > r.x0 && r.y1 > r.y0;
}

// GDI+ drawing of the visible source rectangle of `bitmap`, whose pixels are
// `levelScale` times the image's, into its place on the canvas.
void drawWithGdiplus(Gdiplus::Graphics& g, const Session& s, const VisibleRegion& r, Gdiplus::Bitmap* bitmap,
                     double levelScale) {
  g.SetInterpolationMode(s.zoom >= 1.0 ? Gdiplus::InterpolationModeNearestNeighbor
                                       : Gdiplus::InterpolationModeHighQualityBicubic);
  g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  const RectF destination(static_cast<REAL>(20 + s.offsetX + r.x0 * s.zoom),
                          static_cast<REAL>(178 + s.offsetY + r.y0 * s.zoom),
                          static_cast<REAL>((r.x1 - r.x0) * s.zoom), static_cast<REAL>((r.y1 - r.y0) * s.zoom));
  g.DrawImage(bitmap, destination, static_cast<REAL>(r.x0 * levelScale), static_cast<REAL>(r.y0 * levelScale),
              static_cast<REAL>((r.x1 - r.x0) * levelScale), static_cast<REAL>((r.y1 - r.y0) * levelScale),
              Gdiplus::UnitPixel);
}

// Draws the visible part of the image into the canvas. Reduced, it takes the
// smallest display level that still has at least as many pixels as the zoom asks
// for, so the filter never reduces by more than half; the level's pixels are
// mapped onto the same screen place as the image's.
void drawImage(Gdiplus::Graphics& g, const TargetPixels& target, const Session& s, const Pixels& image,
               ImageSource source) {
  VisibleRegion region{};
  if (!visibleRegion(s, image, region)) return;

  SourcePixels pixels{image.bgra.data(), image.width, image.height};
  Gdiplus::Bitmap* bitmap = drawingBitmap(image.bitmap);
  // Level k (from 0) is the image halved k + 1 times, rounded up: its pixel j
  // stands for image pixels j 2^(k+1) to (j + 1) 2^(k+1), and its last column or
  // row may stand for fewer.
  double levelScale = 1.0;
  if (source != ImageSource::FullBitmap && s.zoom < 1.0) {
    if (const DisplayLevel* level = displayLevelForZoom(image, s.zoom)) {
      const auto index = static_cast<int>(level - image.displayLevels.data());
      levelScale = std::ldexp(1.0, -(index + 1));
      pixels = SourcePixels{level->bgra.data(), level->width, level->height, image.width * levelScale,
                            image.height * levelScale};
      bitmap = drawingBitmap(level->bitmap);
    }
  }
  const double levelZoom = s.zoom / levelScale;
  // The direct filter is made for reductions down to half; a smaller zoom without
  // a display level to start from goes through GDI+.
  if (source == ImageSource::DisplayLevels && levelZoom >= 0.5 && pixels.bgra != nullptr) {
    g.Flush(Gdiplus::FlushIntentionSync);
    const PixelClip canvas{20, 178, s.clientWidth - 350, s.clientHeight - 79};
    drawScaled(pixels, target, canvas, 20 + s.offsetX, 178 + s.offsetY, levelZoom, levelZoom,
               s.zoom >= 1.0 ? ResampleFilter::Nearest : ResampleFilter::Bicubic);
    return;
  }
  if (bitmap != nullptr) drawWithGdiplus(g, s, region, bitmap, levelScale);
}

// A dashed rectangle: whole when it lies about the clip, otherwise only its edges'
// parts near the clip, with the dash pattern carried on as around the whole
// figure (a rectangle far larger than the canvas would cost GDI+ dearly).
void dashedRectangle(Gdiplus::Graphics& g, Gdiplus::Pen& pen, const RectF& r, const RectF& clip) {
  const REAL margin = 8;
  const REAL left = clip.X - margin;
  const REAL top = clip.Y - margin;
  const REAL right = clip.X + clip.Width + margin;
  const REAL bottom = clip.Y + clip.Height + margin;
  if (r.X >= left && r.Y >= top && r.X + r.Width <= right && r.Y + r.Height <= bottom) {
    g.DrawRectangle(&pen, r);
    return;
  }
  const REAL width = pen.GetWidth();
  struct Edge {
    REAL x0, y0, x1, y1;
  };
  // Around the figure: top left to right, right downwards, bottom right to left,
  // left upwards.
  const Edge edges[4] = {{r.X, r.Y, r.X + r.Width, r.Y},
                         {r.X + r.Width, r.Y, r.X + r.Width, r.Y + r.Height},
                         {r.X + r.Width, r.Y + r.Height, r.X, r.Y + r.Height},
                         {r.X, r.Y + r.Height, r.X, r.Y}};
  REAL travelled = 0;
  for (const Edge& e : edges) {
    const REAL length = std::fabs(e.x1 - e.x0) + std::fabs(e.y1 - e.y0);
    const bool horizontal = e.y0 == e.y1;
    const REAL fixed = horizontal ? e.y0 : e.x0;
    const REAL lo = horizontal ? left : top;
    const REAL hi = horizontal ? right : bottom;
    const bool fixedInside = horizontal ? (fixed >= top && fixed <= bottom) : (fixed >= left && fixed <= right);
    const REAL a = horizontal ? e.x0 : e.y0;
    const REAL b = horizontal ? e.x1 : e.y1;
    const REAL direction = b >= a ? 1.0f : -1.0f;
    // Distances along the edge where it enters and leaves [lo, hi].
    REAL t0 = direction > 0 ? lo - a : a - hi;
    REAL t1 = direction > 0 ? hi - a : a - lo;
    t0 = std::max<REAL>(t0, 0);
    t1 = std::min(t1, length);
    if (fixedInside && t1 > t0) {
      pen.SetDashOffset((travelled + t0) / width);
      const REAL sa = a + direction * t0;
      const REAL sb = a + direction * t1;
      if (horizontal) {
        g.DrawLine(&pen, sa, fixed, sb, fixed);
      } else {
        g.DrawLine(&pen, fixed, sa, fixed, sb);
      }
    }
    travelled += length;
  }
}

const Marker* selectedMarker(const Session& s) {
  if (s.selectedId == 0) return nullptr;
  for (const Marker& m : s.sheet.marks) {
    if (m.id == s.selectedId) return &m;
  }
  return nullptr;
}

void paintScene(Gdiplus::Graphics& g, const TargetPixels& target, const Session& s, ImageSource source) {
  const int Wi = s.clientWidth;
  const int Hi = s.clientHeight;
  const REAL W = static_cast<REAL>(Wi);
  const REAL H = static_cast<REAL>(Hi);
  const Pixels* image = s.currentImage.get();
  const std::int64_t count = static_cast<std::int64_t>(s.sheet.marks.size());

  // Background, header band, canvas and list rows are whole-pixel opaque fills:
  // written straight into the bitmap before GDI+ draws anything over them.
  fillOpaque(target, palette::Background, 0, 0, Wi, Hi);
  fillOpaque(target, palette::Panel, 0, 0, Wi, 68);
  fillOpaque(target, palette::CanvasFill, 20, 178, Wi - 370, Hi - 257);
  if (!s.guideVisible) {
    for (int r = 0; r < 5 && s.listTop + r < count; ++r) {
      const Marker& m = s.sheet.marks[static_cast<std::size_t>(s.listTop + r)];
      fillOpaque(target, m.id == s.selectedId ? palette::SelectedRow : palette::Panel, Wi - 330, 239 + 37 * r, 310,
                 33);
    }
  }

  TextPainter text(g, target, wide(s.uiFontFamily).c_str());
  const PixelClip whole{0, 0, Wi, Hi};
  const PixelClip inCanvas{20, 178, Wi - 350, Hi - 79};
  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  // The same grey-scale text smoothing as the cached texts have.
  g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);

  // Header rule, logo mark, title and tagline.
  line(g, palette::Highlight, 20, 67, W - 20, 67);
  line(g, palette::Highlight, 22, 18, 22, 50);
  line(g, palette::Highlight, 22, 18, 46, 18);
  line(g, palette::Highlight, 36, 50, 52, 50);
  {
    Gdiplus::SolidBrush dot{Color(palette::Accent)};
    g.FillEllipse(&dot, 37.0f, 27.0f, 9.0f, 9.0f);
  }
  text.drawText(L"TESSARY", RectF(66, 12, 240, 30), 24, palette::Text, true, whole);
  text.drawText(wide(uiText(s.language, 0)), RectF(67, 43, W - 370, 20), 12, palette::TextMuted, false, whole);

  // Canvas outline.
  const RectF canvas(20, 178, W - 370, H - 257);
  {
    Gdiplus::Pen outline(Color(palette::Border), 1.0f);
    g.DrawRectangle(&outline, canvas);
  }

  if (!s.guideVisible) {
    const Gdiplus::GraphicsState saved = g.Save();
    g.SetClip(canvas);
    if (image != nullptr) {
      drawImage(g, target, s, *image, source);
      const CropRect& crop = s.cropRect;
      if (crop.width != 0 && crop.height != 0) {
        Gdiplus::Pen dashes(Color(palette::Accent), 2.0f);
        dashes.SetDashStyle(Gdiplus::DashStyleDash);
        dashedRectangle(g, dashes,
                        RectF(static_cast<REAL>(20 + s.offsetX + crop.x * s.zoom),
                              static_cast<REAL>(178 + s.offsetY + crop.y * s.zoom),
                              static_cast<REAL>(crop.width * s.zoom), static_cast<REAL>(crop.height * s.zoom)),
                        canvas);
      }
      Gdiplus::SolidBrush accent{Color(palette::Accent)};
      Gdiplus::SolidBrush highlight{Color(palette::Highlight)};
      Gdiplus::Pen ring(Color(palette::Background), 2.0f);
      for (const Marker& m : s.sheet.marks) {
        const Point p = imageToScreen(s, m.x, m.y);
        // A marker wholly outside the canvas would be clipped away entirely.
        if (!(p.x + 14 >= canvas.X && p.x - 14 <= canvas.X + canvas.Width && p.y + 14 >= canvas.Y &&
              p.y - 14 <= canvas.Y + canvas.Height)) {
          continue;
        }
        const REAL sx = static_cast<REAL>(p.x);
        const REAL sy = static_cast<REAL>(p.y);
        g.FillEllipse(m.id == s.selectedId ? &accent : &highlight, sx - 13, sy - 13, 26.0f, 26.0f);
        g.DrawEllipse(&ring, sx - 13, sy - 13, 26.0f, 26.0f);
        // The number's box is put on whole pixels (at most half a pixel off) so that
        // it comes from the text cache like every other text.
        text.drawText(std::to_wstring(m.id), RectF(std::round(sx) - 9, std::round(sy) - 10, 22, 22), 12,
                      palette::Background, true, inCanvas);
      }
    } else {
      text.drawText(wide(uiText(s.language, s.jobRunning ? 24 : 22)), RectF(50, 208, W - 430, 100), 20,
                    palette::TextMuted, false, inCanvas);
    }
    g.Restore(saved);

    // Observation panel (the row boxes are already filled).
    text.drawText(wide(uiText(s.language, 19)), RectF(W - 330, 179, 305, 29), 19, palette::Text, true, whole);
    text.drawText(wide(markerCounterText(s.sheet.marks.size())), RectF(W - 330, 211, 300, 22), 12,
                  palette::TextMuted, false, whole);
    for (int r = 0; r < 5 && s.listTop + r < count; ++r) {
      const Marker& m = s.sheet.marks[static_cast<std::size_t>(s.listTop + r)];
      text.drawText(wide(markerRowText(m)), RectF(W - 320, static_cast<REAL>(246 + 37 * r), 288, 24), 13,
                    m.id == s.selectedId ? palette::Accent : palette::Text, false, whole);
    }
    if (count == 0) {
      text.drawText(wide(uiText(s.language, 22)), RectF(W - 330, 244, 290, 110), 14, palette::TextMuted, false, whole);
    }
    text.drawText(wide(uiText(s.language, 20)), RectF(W - 330, 425, 305, 22), 13, palette::Highlight, true, whole);
    if (const Marker* m = selectedMarker(s)) {
      text.drawText(wide(formatLocalTimestamp(m->createdUTC, true)), RectF(W - 330, H - 117, 308, 22), 11,
                    palette::TextMuted, false, whole);
    }
    text.drawText(wide(uiText(s.language, 51)), RectF(W - 330, H - 91, 309, 25), 11, palette::TextMuted, false, whole);
    text.drawText(wide(infoLineText(s)), RectF(20, H - 68, W - 380, 24), 12, palette::TextMuted, false, whole);
  }

  // Footer: rule, status line and clock.
  line(g, palette::Border, 20, H - 39, W - 20, H - 39);
  text.drawText(wide(s.statusText), RectF(20, H - 29, W - 290, 25), 12,
                s.statusIsError ? palette::Accent : palette::Text, false, whole);
  text.drawText(wide(formatLocalTimestamp(s.unixNow(), false) + u"  " + utcOffsetLabel()),
                RectF(W - 260, H - 29, 240, 25), 12, palette::TextMuted, false, whole);
  g.Flush(Gdiplus::FlushIntentionSync);
}

}  // namespace

void paintWindow(const Session& session, HDC dc, ImageSource source) {
  if (session.clientWidth <= 0 || session.clientHeight <= 0) return;
  OffscreenSurface& surface = offscreenSurface();
  if (!surface.prepare(dc, session.clientWidth, session.clientHeight)) return;
  const TargetPixels pixels = surface.pixels();
  {
    // The 32-bit premultiplied ARGB bitmap of this paint, over the surface's bits.
    Gdiplus::Bitmap bitmap(pixels.width, pixels.height, static_cast<INT>(pixels.stride), PixelFormat32bppPARGB,
                           pixels.bgra);
    if (bitmap.GetLastStatus() != Gdiplus::Ok) return;
    Gdiplus::Graphics graphics(&bitmap);
    paintScene(graphics, pixels, session, source);
  }
  surface.copyTo(dc);
}

void drawOwnerButton(const Session& session, const DRAWITEMSTRUCT& item) {
  const int id = static_cast<int>(item.CtlID);
  const bool active = (id == ID_PAN || id == ID_ADD_MARKER || id == ID_SELECT_CROP) &&
                      static_cast<int>(session.interactionMode) == id - ID_PAN;
  const REAL right = static_cast<REAL>(item.rcItem.right);
  const REAL bottom = static_cast<REAL>(item.rcItem.bottom);

  Gdiplus::Graphics g(item.hDC);
  {
    Gdiplus::SolidBrush face{Color(active ? palette::Highlight : palette::Panel)};
    g.FillRectangle(&face, 0.0f, 0.0f, right, bottom);
  }
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
  const std::wstring familyName = wide(session.uiFontFamily);
  Gdiplus::FontFamily family(familyName.c_str());
  if (!drawableFamily(family)) {
    // No GDI+ family: the label is drawn through GDI, in the same place.
    g.Flush(Gdiplus::FlushIntentionSync);
    GdiFont gdiFont(familyName.c_str(), 12, false);
    drawGdiText(item.hDC, gdiFont.get(), label,
                RECT{item.rcItem.left + 2, item.rcItem.top, item.rcItem.right - 2, item.rcItem.bottom}, colour,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    return;
  }
  Gdiplus::Font font(&family, 12, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
  Gdiplus::StringFormat centred;
  centred.SetAlignment(Gdiplus::StringAlignmentCenter);
  centred.SetLineAlignment(Gdiplus::StringAlignmentCenter);
  Gdiplus::SolidBrush brush{Color(colour)};
  g.DrawString(label.c_str(), static_cast<INT>(label.size()), &font, RectF(2, 0, right - 4, bottom), &centred, &brush);
}

}  // namespace tessary

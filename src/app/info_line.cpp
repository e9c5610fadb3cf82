#include "app/info_line.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "app/session_state.h"

namespace tessary {

namespace {

constexpr char16_t kSeparator[] = u"  \u00B7  ";  // middle dot, two spaces each side
constexpr char16_t kTimes[] = u" \u00D7 ";        // multiplication sign, one space each side

std::u16string ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

template <typename Integer>
std::u16string decimal(Integer value) {
  return ascii(std::to_string(value));
}

// A coordinate truncated toward zero; stored coordinates lie inside the image, but a
// value beyond the 64-bit range is still written in full rather than overflowing.
std::u16string truncatedCoordinate(double value) {
  const double whole = std::trunc(value);
  if (whole > -9.0e18 && whole < 9.0e18) return decimal(static_cast<std::int64_t>(whole));
  if (std::isnan(whole)) return u"nan";
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.0f", whole);
  return ascii(buffer);
}

}  // namespace

std::int64_t zoomPercent(double zoom) {
  // Zoom lies between 0.002 and 8 (a fitted view stays at or below 1).
  return std::llround(zoom * 100.0);
}

std::u16string infoLineText(const Session& session) {
  std::u16string text = session.imageTitle;
  if (!session.currentImage) return text;
  text += kSeparator;
  text += decimal(session.currentImage->width);
  text += kTimes;
  text += decimal(session.currentImage->height);
  text += u" px";
  text += kSeparator;
  text += decimal(zoomPercent(session.zoom));
  text += u"%";
  if (session.cropRect.width != 0 && session.cropRect.height != 0) {
    text += kSeparator;
    text += decimal(session.cropRect.width);
    text += kTimes;
    text += decimal(session.cropRect.height);
    text += u" px";
  }
  return text;
}

std::u16string markerCounterText(std::size_t markerCount) { return decimal(markerCount) + u" / 200"; }

std::u16string markerRowText(const Marker& marker) {
  return u"#" + decimal(marker.id) + u"   " + truncatedCoordinate(marker.x) + u", " +
         truncatedCoordinate(marker.y);
}

}  // namespace tessary

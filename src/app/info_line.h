#pragma once
// Texts of the window that are built from the session state: the information line
// under the canvas, the marker counter and the rows of the marker list.
#include <cstdint>
#include <string>

namespace tessary {

struct Session;
struct Marker;

// The zoom in percent, rounded half away from zero (0.005 gives 1).
std::int64_t zoomPercent(double zoom);
// The image title; with an image, "  ·  W × H px  ·  Z%"; with a crop as well,
// "  ·  w × h px" for the crop.
std::u16string infoLineText(const Session& session);
// "N / 200".
std::u16string markerCounterText(std::size_t markerCount);
// "#id", three spaces, then x and y truncated toward zero: "#3   120, 45".
std::u16string markerRowText(const Marker& marker);

}  // namespace tessary

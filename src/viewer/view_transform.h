#pragma once
// The view transform: zoom and offsets of the image in the canvas, and the mapping
// between client and image coordinates. Pure arithmetic over the session state.
#include <cstdint>

namespace tessary {

struct Session;

struct Point {
  double x = 0;
  double y = 0;
};

inline constexpr double kMinZoom = 0.002;
inline constexpr double kMaxZoom = 8.0;
inline constexpr double kWheelIn = 1.2;
inline constexpr double kWheelOut = 0.8333333333333334;
inline constexpr double kButtonIn = 1.25;
inline constexpr double kButtonOut = 0.8;
inline constexpr double kMarkerHitRadius = 15.0;

// The canvas: left 20, top 178, right W - 350, bottom H - 79 (right, bottom outside).
bool insideCanvas(const Session& session, int x, int y);
Point canvasCentre(const Session& session);  // canvas-relative
std::int32_t canvasWidth(const Session& session);   // W - 370
std::int32_t canvasHeight(const Session& session);  // H - 257

void fitView(Session& session);
void zoomAbout(Session& session, double requestedZoom, double anchorX, double anchorY);
// Moves the image by (dx, dy) screen pixels, as a drag does (the offsets are not
// clamped); nothing without an image.
void panView(Session& session, double dx, double dy);
void recentreOnMarker(Session& session, double markerX, double markerY);
Point imageToScreen(const Session& session, double imageX, double imageY);
Point screenToImage(const Session& session, double screenX, double screenY);
// The id of the first marker (list order) closer than 15 screen pixels to the
// image point, or 0.
std::int32_t hitTestMarker(const Session& session, double imageX, double imageY);

}  // namespace tessary

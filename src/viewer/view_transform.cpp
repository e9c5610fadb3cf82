#include "viewer/view_transform.h"

#include <algorithm>
#include <cmath>

#include "app/session_state.h"

namespace tessary {

namespace {

constexpr int kCanvasLeft = 20;
constexpr int kCanvasTop = 178;
constexpr int kCanvasRightInset = 350;   // canvas right edge is W - 350
constexpr int kCanvasBottomInset = 79;   // canvas bottom edge is H - 79
constexpr int kCanvasWidthLoss = 370;    // canvas width is W - 370
constexpr int kCanvasHeightLoss = 257;   // canvas height is H - 257
constexpr int kFitWidthLoss = 402;       // canvas width less a 16 px margin on each side
constexpr int kFitHeightLoss = 289;      // canvas height less a 16 px margin on each side

void repaint(Session& session) {
  if (session.view) session.view->invalidate();
}

}  // namespace

bool insideCanvas(const Session& session, int x, int y) {
  return x >= kCanvasLeft && x < session.clientWidth - kCanvasRightInset && y >= kCanvasTop &&
         y < session.clientHeight - kCanvasBottomInset;
}

std::int32_t canvasWidth(const Session& session) { return session.clientWidth - kCanvasWidthLoss; }

std::int32_t canvasHeight(const Session& session) { return session.clientHeight - kCanvasHeightLoss; }

Point canvasCentre(const Session& session) {
  return {static_cast<double>(canvasWidth(session)) * 0.5, static_cast<double>(canvasHeight(session)) * 0.5};
}

void fitView(Session& session) {
  if (!session.currentImage) return;
  const double width = session.currentImage->width;
  const double height = session.currentImage->height;
  // The smallest of 100 %, the width fit and the height fit; a fitted view never
  // enlarges the image, and the zoom floor of the wheel does not apply here.
  double zoom = 1.0;
  zoom = std::min(zoom, static_cast<double>(session.clientWidth - kFitWidthLoss) / width);
  zoom = std::min(zoom, static_cast<double>(session.clientHeight - kFitHeightLoss) / height);
  // A client area too small to hold the margins would give a zero or negative
  // scale, which no later mapping could divide by; the view then stays as it is.
  if (width > 0 && height > 0 && zoom > 0 && std::isfinite(zoom)) {
    session.zoom = zoom;
    session.offsetX = (static_cast<double>(canvasWidth(session)) - width * zoom) * 0.5;
    session.offsetY = (static_cast<double>(canvasHeight(session)) - height * zoom) * 0.5;
  }
  repaint(session);
}

void zoomAbout(Session& session, double requestedZoom, double anchorX, double anchorY) {
  if (!session.currentImage) return;
  double newZoom = requestedZoom;
  if (requestedZoom > kMaxZoom) {
    newZoom = kMaxZoom;
  } else if (requestedZoom < kMinZoom) {
    newZoom = kMinZoom;
  }
  // The image point under the anchor stays under it.
  session.offsetX = anchorX - (anchorX - session.offsetX) * newZoom / session.zoom;
  session.offsetY = anchorY - (anchorY - session.offsetY) * newZoom / session.zoom;
  session.zoom = newZoom;
  repaint(session);
}

void panView(Session& session, double dx, double dy) {
  if (!session.currentImage) return;
  session.offsetX += dx;
  session.offsetY += dy;
  repaint(session);
}

void recentreOnMarker(Session& session, double markerX, double markerY) {
  // The canvas is halved in whole pixels here (integer division), unlike Fit and
  // 100 %, which halve in floating point.
  const std::int32_t halfWidth = canvasWidth(session) / 2;
  const std::int32_t halfHeight = canvasHeight(session) / 2;
  session.offsetX = static_cast<double>(halfWidth) - session.zoom * markerX;
  session.offsetY = static_cast<double>(halfHeight) - session.zoom * markerY;
  repaint(session);
}

Point imageToScreen(const Session& session, double imageX, double imageY) {
  return {kCanvasLeft + session.offsetX + imageX * session.zoom,
          kCanvasTop + session.offsetY + imageY * session.zoom};
}

Point screenToImage(const Session& session, double screenX, double screenY) {
  return {(screenX - kCanvasLeft - session.offsetX) / session.zoom,
          (screenY - kCanvasTop - session.offsetY) / session.zoom};
}

std::int32_t hitTestMarker(const Session& session, double imageX, double imageY) {
  if (!session.currentImage) return 0;
  for (const Marker& marker : session.sheet.marks) {
    const double dx = (marker.x - imageX) * session.zoom;
    const double dy = (marker.y - imageY) * session.zoom;
    if (std::hypot(dx, dy) < kMarkerHitRadius) return marker.id;
  }
  return 0;
}

}  // namespace tessary

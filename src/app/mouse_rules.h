#pragma once
// What a left-button press and a wheel step on the main window mean, decided from
// the session state alone. The window code carries out the answer (capture, focus,
// saving, selecting, adding).
#include <cstddef>
#include <cstdint>

namespace tessary {

struct Session;

enum class PressAction {
  Ignore,         // guide open, no image, or a job running; or a press that hits nothing to act on
  SelectListRow,  // save, then select the marker at `listIndex` with recentring
  AddMarker,      // addMarkerAt(imageX, imageY)
  SelectMarker,   // save, then select `markerId` without recentring
  StartDrag,      // cropStart = (imageX, imageY), remember the client point, capture;
                  // in Crop mode the crop is zeroed first
};

struct PressDecision {
  PressAction action = PressAction::Ignore;
  // The press was inside the canvas: the main window takes the keyboard focus first,
  // whatever the press then does.
  bool focusMainWindow = false;
  int listIndex = -1;
  std::int32_t markerId = 0;
  double imageX = 0;
  double imageY = 0;
};

PressDecision decidePress(const Session& session, int x, int y);

enum class WheelTarget { List, Canvas, None };

// The list takes the wheel anywhere at x >= W - 330; otherwise the canvas zooms
// when the point is inside it.
WheelTarget wheelTarget(const Session& session, int x, int y);
// One wheel step's zoom request: in by 1.2 for a positive delta, out by 1 / 1.2
// for zero or a negative one, whatever the delta's size.
double wheelZoom(double zoom, int wheelDelta);

// A drop loads an image only when it holds exactly one file and that file's path
// could be read (a path of length 0 is no path); anything else is reported.
bool dropLoads(std::uint32_t fileCount, std::size_t pathLength);

}  // namespace tessary

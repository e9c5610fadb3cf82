#pragma once
// The fixed pixel layout of the child controls, anchored to the client edges, and
// which controls the guide panel shows or hides.
#include <array>
#include <cstdint>

namespace tessary {

struct ControlRect {
  int id = 0;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const ControlRect&, const ControlRect&) = default;
};

inline constexpr int kControlCount = 22;

// Creation order of the controls, which is also their Tab order.
inline constexpr std::array<int, kControlCount> kControlCreationOrder = {
    100, 101, 103, 104, 121, 105, 106, 109, 110, 111, 112, 113, 115, 116, 117, 118, 120, 107, 108, 102, 114, 119};

// The place of every control for a client area of `clientWidth` x `clientHeight`,
// in ascending id order (100 to 121).
std::array<ControlRect, kControlCount> layoutControlRects(std::int32_t clientWidth, std::int32_t clientHeight);
// The place of one control; a rectangle with id 0 for an unknown id.
ControlRect controlRect(int controlId, std::int32_t clientWidth, std::int32_t clientHeight);
// Whether a control is shown: the guide text and its Close button only with the
// guide, the tool row, the note box and the marker buttons only without it, the
// rest always.
bool controlShown(int controlId, bool guideVisible);

}  // namespace tessary

#pragma once
// Where the main window opens: centred on the work area of the monitor that holds
// the pointer, and never beyond that work area's left or top edge, so that its own
// title band (the only handle to move it) stays reachable.
#include <cstdint>

namespace tessary {

struct ScreenArea {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

struct WindowOrigin {
  std::int32_t x = 0;
  std::int32_t y = 0;
  friend bool operator==(const WindowOrigin&, const WindowOrigin&) = default;
};

// The outer top-left corner of a window of `width` x `height` centred on `work`;
// a window larger than the work area starts at its left or top edge.
WindowOrigin centredOrigin(const ScreenArea& work, std::int32_t width, std::int32_t height);

// Client rows above the header rule form the title band, which moves the window.
inline constexpr std::int32_t kTitleBandHeight = 67;

// Whether a client point lies in the title band (the controls placed on the band
// answer their own hit tests, so this is only asked for the band's free parts).
bool inTitleBand(std::int32_t x, std::int32_t y, std::int32_t clientWidth);

}  // namespace tessary

#pragma once
// Painting of the whole client area of the main window (header, canvas with the
// image, crop rectangle and markers, observation panel, information line, status
// line and clock) and of the owner-drawn push buttons.
#include <windows.h>

#include <cstdint>
#include <string>

namespace tessary {

struct Session;

// The fixed palette, 32-bit ARGB.
namespace palette {
inline constexpr std::uint32_t Background = 0xFF191E31;
inline constexpr std::uint32_t Panel = 0xFF22283F;
inline constexpr std::uint32_t Border = 0xFF434960;
inline constexpr std::uint32_t Text = 0xFFF2EEE4;
inline constexpr std::uint32_t TextMuted = 0xFFA9B1C5;
inline constexpr std::uint32_t Highlight = 0xFFB9B1F9;
inline constexpr std::uint32_t Accent = 0xFFFFB885;
inline constexpr std::uint32_t CanvasFill = 0xFF101525;
inline constexpr std::uint32_t SelectedRow = 0xFF413A52;
inline constexpr std::uint32_t TextDisabled = 0xFF6E758A;
}  // namespace palette

// How the image reaches the canvas. `DisplayLevels` is the program's way: the
// smallest display level that still has the pixels the zoom asks for, filtered
// straight into the off-screen bitmap (bicubic when reduced, nearest neighbour at
// 100 % and above). The other two draw with GDI+ DrawImage, from that level or
// from the full-size bitmap; the benchmark compares them.
enum class ImageSource { DisplayLevels, DisplayLevelsGdiplus, FullBitmap };

// Paints the whole client area (clientWidth x clientHeight) into an off-screen
// bitmap and copies it to `dc` at (0, 0) in one operation. GDI+ must be started.
// Reads the session and changes nothing in it.
void paintWindow(const Session& session, HDC dc, ImageSource source = ImageSource::DisplayLevels);

// Draws one owner-drawn push button of the main window (WM_DRAWITEM).
void drawOwnerButton(const Session& session, const DRAWITEMSTRUCT& item);

}  // namespace tessary

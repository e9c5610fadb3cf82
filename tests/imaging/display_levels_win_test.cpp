// Drawing bitmaps over the display levels: one per level, of the level's size,
// showing the level's own pixels.
#include <gtest/gtest.h>
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdint>

#include "imaging/display_levels.h"
#include "imaging/image_decoder_win.h"

namespace tessary {
namespace {

TEST(DisplayLevelBitmaps, EachLevelGetsABitmapOverItsOwnPixels) {
  Pixels image;
  image.width = 9;
  image.height = 6;
  image.bgra.resize(9 * 6 * 4);
  for (std::uint32_t i = 0; i < 9 * 6; ++i) {
    image.bgra[i * 4 + 0] = static_cast<std::uint8_t>(i * 4);
    image.bgra[i * 4 + 1] = static_cast<std::uint8_t>(255 - i * 3);
    image.bgra[i * 4 + 2] = static_cast<std::uint8_t>(i * 7);
    image.bgra[i * 4 + 3] = 255;
  }
  image.bitmap = createDrawingBitmap(image.width, image.height, image.bgra.data());
  buildDisplayLevels(image, 1, 1);
  createDisplayLevelBitmaps(image);
  ASSERT_EQ(image.displayLevels.size(), 4u);  // 5x3, 3x2, 2x1, 1x1
  for (DisplayLevel& level : image.displayLevels) {
    Gdiplus::Bitmap* bitmap = drawingBitmap(level.bitmap);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->GetWidth(), level.width);
    EXPECT_EQ(bitmap->GetHeight(), level.height);
    for (std::uint32_t y = 0; y < level.height; ++y) {
      for (std::uint32_t x = 0; x < level.width; ++x) {
        const std::uint8_t* p = &level.bgra[(static_cast<std::size_t>(y) * level.width + x) * 4];
        Gdiplus::Color colour;
        ASSERT_EQ(bitmap->GetPixel(static_cast<INT>(x), static_cast<INT>(y), &colour), Gdiplus::Ok);
        EXPECT_EQ(colour.GetValue(), (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) |
                                         (std::uint32_t{p[1]} << 8) | p[0])
            << level.width << "x" << level.height << " at " << x << "," << y;
      }
    }
    // The bitmap reads the level's memory, not a copy of it.
    level.bgra[0] = static_cast<std::uint8_t>(level.bgra[0] ^ 0xFF);
    Gdiplus::Color colour;
    ASSERT_EQ(bitmap->GetPixel(0, 0, &colour), Gdiplus::Ok);
    EXPECT_EQ(colour.GetB(), level.bgra[0]);
  }
  // Releasing the record releases each bitmap before the pixels it covers.
  image.displayLevels.clear();
}

TEST(DisplayLevelBitmaps, NoLevelsNoBitmaps) {
  Pixels image;
  image.width = 3;
  image.height = 3;
  image.bgra.assign(36, 200);
  buildDisplayLevels(image);
  createDisplayLevelBitmaps(image);
  EXPECT_TRUE(image.displayLevels.empty());
}

}  // namespace
}  // namespace tessary

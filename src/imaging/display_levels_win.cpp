#include "imaging/display_levels.h"

#include "imaging/image_decoder_win.h"

namespace tessary {

void createDisplayLevelBitmaps(Pixels& image) {
  // Each level's bitmap wraps the level's own buffer, which stays where it is for
  // the level's lifetime (the record is immutable once published), and is declared
  // after it, so it is released first.
  for (DisplayLevel& level : image.displayLevels) {
    level.bitmap = createDrawingBitmap(level.width, level.height, level.bgra.data());
  }
}

}  // namespace tessary

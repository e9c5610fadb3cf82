#include "app/layout.h"

#include <algorithm>

#include "app/control_ids.h"

namespace tessary {

namespace {

constexpr int kToolRowLeft = 20;
constexpr int kToolRowTop = 130;
constexpr int kToolRowHeight = 32;
constexpr int kToolGap = 8;
constexpr int kMinNoteHeight = 90;

struct ToolButton {
  int id;
  int width;
};

// Left to right; each button starts 8 px after the previous one ends.
constexpr ToolButton kToolRow[] = {
    {ID_FIT, 70},  {ID_ACTUAL_PIXELS, 112}, {ID_ZOOM_OUT, 38},     {ID_ZOOM_IN, 38},       {ID_PAN, 90},
    {ID_ADD_MARKER, 108}, {ID_SELECT_CROP, 108}, {ID_EXPORT_CROP, 150}, {ID_EXPORT_NOTES, 155},
};

}  // namespace

std::array<ControlRect, kControlCount> layoutControlRects(std::int32_t clientWidth, std::int32_t clientHeight) {
  const int w = clientWidth;
  const int h = clientHeight;
  std::array<ControlRect, kControlCount> rects{};
  auto place = [&](int id, int x, int y, int width, int height) {
    rects[static_cast<std::size_t>(id - ID_PLATE)] = ControlRect{id, x, y, width, height};
  };
  place(ID_CLOSE, w - 180, 22, 70, 30);
  place(ID_QUIT, w - 100, 22, 80, 30);
  place(ID_GUIDE, w - 345, 22, 155, 30);
  place(ID_PLATE, 20, 81, 184, 36);
  place(ID_PATH_EDIT, 214, 81, w - 604, 36);
  place(ID_OPEN_IMAGE, w - 380, 81, 180, 36);
  place(ID_EXPORT_FOLDER, w - 190, 81, 170, 36);
  int x = kToolRowLeft;
  for (const ToolButton& button : kToolRow) {
    place(button.id, x, kToolRowTop, button.width, kToolRowHeight);
    x += button.width + kToolGap;
  }
  place(ID_NOTE_EDIT, w - 330, 452, 310, std::max(h - 624, kMinNoteHeight));
  place(ID_SAVE_NOTE, w - 330, h - 162, 88, 32);
  place(ID_REMOVE_MARKER, w - 234, h - 162, 104, 32);
  place(ID_UNDO_REMOVAL, w - 122, h - 162, 102, 32);
  place(ID_GUIDE_TEXT, 45, 198, w - 90, h - 295);
  place(ID_GUIDE_CLOSE, w - 220, h - 84, 175, 34);
  return rects;
}

ControlRect controlRect(int controlId, std::int32_t clientWidth, std::int32_t clientHeight) {
  if (controlId < ID_PLATE || controlId > ID_QUIT) return ControlRect{};
  return layoutControlRects(clientWidth, clientHeight)[static_cast<std::size_t>(controlId - ID_PLATE)];
}

bool controlShown(int controlId, bool guideVisible) {
  if (controlId == ID_GUIDE_TEXT || controlId == ID_GUIDE_CLOSE) return guideVisible;
  if (controlId >= ID_FIT && controlId <= ID_UNDO_REMOVAL) return !guideVisible;
  return true;
}

}  // namespace tessary

#pragma once
// Child control ids of the main window (creation order is the Tab order; see the
// controls code).
namespace tessary {

inline constexpr int ID_PLATE = 100;
inline constexpr int ID_OPEN_IMAGE = 101;
inline constexpr int ID_PATH_EDIT = 102;
inline constexpr int ID_GUIDE = 103;
inline constexpr int ID_CLOSE = 104;
inline constexpr int ID_FIT = 105;
inline constexpr int ID_ACTUAL_PIXELS = 106;
inline constexpr int ID_ZOOM_OUT = 107;
inline constexpr int ID_ZOOM_IN = 108;
inline constexpr int ID_PAN = 109;
inline constexpr int ID_ADD_MARKER = 110;
inline constexpr int ID_SELECT_CROP = 111;
inline constexpr int ID_EXPORT_CROP = 112;
inline constexpr int ID_EXPORT_NOTES = 113;
inline constexpr int ID_NOTE_EDIT = 114;
inline constexpr int ID_SAVE_NOTE = 115;
inline constexpr int ID_REMOVE_MARKER = 116;
inline constexpr int ID_UNDO_REMOVAL = 117;
inline constexpr int ID_EXPORT_FOLDER = 118;
inline constexpr int ID_GUIDE_TEXT = 119;
inline constexpr int ID_GUIDE_CLOSE = 120;
inline constexpr int ID_QUIT = 121;

}  // namespace tessary

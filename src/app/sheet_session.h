#pragma once
// The session's side of the sheet store: loading the sheet of the image that became
// current, the one save operation behind autosave, Save note, closing, quitting,
// switching images and exporting, and what the status line says of each outcome.
namespace tessary {

struct Session;

// Writes the current sheet if it is dirty; true on success (and when nothing was
// dirty). Shows "Saved locally" or why it could not save.
bool saveSheet(Session& session);
// Loads (or recovers) the sheet of the current image; the selection starts empty.
void loadSheetForImage(Session& session);
// While the image's sheet could not be read (another program held or was replacing
// a file, or the load met a failure nobody foresaw), the image is shown as if
// storage were unavailable: no marker can be added and nothing is saved for it.
// Called by the window's timer: the load is tried again (once, without waiting),
// and when it succeeds the sheet's markers appear and work goes on.
void retryHeldSheet(Session& session);
// Whether the sheet is waiting for such a retry.
bool sheetWaiting(const Session& session);
// Whether markers can be added and notes saved for the current image.
bool sheetStorable(const Session& session);

}  // namespace tessary

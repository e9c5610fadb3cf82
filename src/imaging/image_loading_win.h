#pragma once
// Loading an image in the background (a user's file or the built-in plate) and
// the window thread's handling of a finished job, loads and crop exports alike.
#include <cstddef>
#include <string>

#include "app/session_state.h"

namespace tessary {

// Starts loading `path` (empty: the built-in plate) on the job thread. Does nothing
// while a job runs or when the current sheet cannot be saved.
void startImageLoad(Session& session, const std::u16string& path);

// The load job's work: reads and decodes the file or the plate, then prepares the
// reduced display copies and their drawing bitmaps, all off the window thread.
// Raises on failure; sets `result.image` and `result.ok` on success.
void loadWorker(const std::u16string& path, WorkerResult& result);

// Brings back the image that hiding to the notification area released, when the
// desk is shown again (the icon, its menu's Open, a second start): at once when no
// job runs, otherwise when the running job ends (unless that job is this return
// itself: a double click on the icon restores twice).
void returnReleasedImage(Session& session);

// The window thread's handler of WM_JOB_DONE: joins the job, takes its result and
// applies it (new image, title, status, sheet, view and path box; or the outcome
// of a crop export). When the desk was shown again while the job ran, it then
// brings back the released image once. The outcome of a job the person started
// that is not a plain success (a refused load, an export's end) stays on the status
// line, and the path box as the job left it, until something else is shown: a
// return of the released image, whenever it runs, keeps them unless it fails itself.
void onJobDone(Session& session);

// The title shown for an image: the plate's title for an empty path, otherwise the
// file name (the text after the last separator), or interface string 42 when that
// name holds characters outside the enabled scripts.
std::u16string imageTitleFor(const Session& session, const std::u16string& path);

}  // namespace tessary

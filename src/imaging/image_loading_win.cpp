#include "imaging/image_loading_win.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "app/control_ids.h"
#include "app/status_and_controls.h"
#include "imaging/background_job_win.h"
#include "imaging/display_levels.h"
#include "imaging/image_file_win.h"
#include "imaging/plate_decoder_win.h"
#include "imaging/plate_identity.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"
#include "text/text_rules.h"
#include "text/ui_strings.h"
#include "viewer/view_transform.h"

namespace tessary {
namespace {

// Without a window there is nothing to hide the image from.
bool windowVisible(Session& session) { return session.view == nullptr || session.view->windowVisible(); }

std::u16string plateTitle() {
  // The generated title is ASCII text.
  const std::string title = kPlateTitle;
  return std::u16string(title.begin(), title.end());
}

}  // namespace

std::u16string imageTitleFor(const Session& session, const std::u16string& path) {
  if (path.empty()) {
    return plateTitle();
  }
  const std::size_t separator = path.find_last_of(u"\\/");
  std::u16string name = separator == std::u16string::npos ? path : path.substr(separator + 1);
  if (!isEnabledScript(name)) {
    name = uiText(session.language, 42);
  }
  return name;
}

void loadWorker(const std::u16string& path, WorkerResult& result) {
  std::shared_ptr<Pixels> image;
  if (!path.empty()) {
    image = openImageFile(path);
  } else {
    // The plate is decoded straight from the module's resource memory, on every
    // core. Its pages are backed by the program file: the system drops them by
    // itself when it needs the memory, and a later load (a return from the tray)
    // finds them still there when it does not.
    image = decodeOwnPlate();
  }
  // The reduced display copies only speed up drawing at small zooms: without the
  // memory for them the image is still shown, from its full-size bitmap.
  try {
    // The plate's parallel decode makes them as it goes; any other image gets them here.
    if (image->displayLevels.empty()) buildDisplayLevels(*image);
    createDisplayLevelBitmaps(*image);
  } catch (...) {
    image->displayLevels.clear();
  }
  result.image = std::move(image);
  result.ok = true;
}

namespace {

// Starts the load job. `announce` shows string 24 while it runs; a return of the
// released image that follows a job's standing outcome leaves the status line to
// that outcome (the empty canvas says that the image is being decoded).
void beginLoad(Session& session, const std::u16string& path, bool announce) {
  if (session.jobRunning) {
    return;
  }
  if (!saveSheet(session)) {
    return;
  }
  session.jobRunning = true;
  if (announce) showStatus(session, 24, false);
  updateControlStates(session);
  bool started = false;
  try {
    WorkerResult initial;
    initial.path = path;
    initial.isExport = false;
    started = startJobThread(session, std::move(initial),
                             [path](WorkerResult& result) { loadWorker(path, result); });
  } catch (...) {
    started = false;
  }
  if (!started) {
    // No thread, no job: the program must not stay busy.
    session.jobRunning = false;
    showStatus(session, 26, true);
    updateControlStates(session);
  }
}

// Starts decoding the image that hiding released (the path stays; empty means the
// plate).
void startReturn(Session& session) {
  beginLoad(session, std::u16string(session.currentPath), !session.jobOutcomeStanding);
  // A load that could not start (the sheet could not be saved first) is no return.
  session.imageReturn = ImageReturn{};
  session.imageReturn.running = session.jobRunning;
}

// Applies a finished job's result: a crop export's outcome, or a load's new image
// with its title, status, sheet, view and path box. A failed load leaves the
// previous image, its sheet, markers, crop and view as they were. A `quietReturn`
// (the return of the released image while a job's outcome stands) that succeeds
// leaves the status line and the path box to that outcome; the sheet's own reports
// (a recovery, a sheet held by another program) are still shown.
void applyJobResult(Session& session, std::unique_ptr<WorkerResult> result, bool quietReturn) {
  if (!result) {
    showStatus(session, 26, true);
    updateControlStates(session);
    return;
  }
  if (result->isExport) {
    showStatus(session, result->ok ? 32 : 33, !result->ok);
    updateControlStates(session);
    return;
  }
  if (!result->ok || !result->image) {
    showStatus(session, 26, true);
    updateControlStates(session);
    return;
  }
  session.currentImage = std::move(result->image);
  session.currentPath = result->path;
  session.imageTitle = imageTitleFor(session, session.currentPath);
  if (!quietReturn) showStatus(session, 25, false);
  loadSheetForImage(session);
  fitView(session);
  if (!quietReturn) {
    const bool showPath = !session.currentPath.empty() && isEnabledScript(session.currentPath);
    setControlTextQuietly(session, ID_PATH_EDIT, showPath ? session.currentPath : std::u16string());
  }
  if (!windowVisible(session)) {
    // Hidden to the tray during the load: the image is released until the window
    // is shown again.
    session.currentImage.reset();
  }
  updateControlStates(session);
}

}  // namespace

void startImageLoad(Session& session, const std::u16string& path) { beginLoad(session, path, true); }

void returnReleasedImage(Session& session) {
  if (session.currentImage) return;
  if (!session.jobRunning) {
    startReturn(session);
  } else if (!session.imageReturn.running) {
    // The job's end brings the image back. While the running job is the return
    // itself (a double click on the icon restores twice) nothing more is armed.
    session.imageReturn.afterJob = true;
  }
}

void onJobDone(Session& session) {
  std::unique_ptr<WorkerResult> result = takeJobResult(session);
  session.jobRunning = false;
  const ImageReturn ended = std::exchange(session.imageReturn, ImageReturn{});
  const bool wasExport = result && result->isExport;
  const bool loadRefused = !result || (!result->isExport && (!result->ok || !result->image));
  try {
    // The return itself ended: while the outcome of the person's last job stands, a
    // return that succeeds keeps it; one that fails shows its own failure.
    applyJobResult(session, std::move(result), ended.running && session.jobOutcomeStanding);
  } catch (...) {
    // Applying the result was interrupted (out of memory): the status line must not
    // go on saying that a job runs.
    showStatus(session, wasExport ? 33 : 26, true);
    updateControlStates(session);
    return;
  }
  if (ended.running) return;
  // A job the person started ended. A refused load and the end of an export stay
  // reported until something else is shown, however the desk is hidden and shown
  // meanwhile: the return of the released image does not replace them. (A load that
  // succeeded is reported again by its return, as 25.)
  session.jobOutcomeStanding = wasExport || loadRefused;
  // The window was shown again while the job (a load or a crop export) ran: the
  // released image comes back once, whatever the job's outcome. Hidden again before
  // the job ended, the next show brings it back.
  if ((ended.afterJob || wasExport) && windowVisible(session) && !session.currentImage) {
    startReturn(session);
  }
}

}  // namespace tessary

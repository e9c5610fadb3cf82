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

void startImageLoad(Session& session, const std::u16string& path) {
  if (session.jobRunning) {
    return;
  }
  if (!saveSheet(session)) {
    return;
  }
  session.jobRunning = true;
  showStatus(session, 24, false);
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

namespace {

// Starts decoding the image that hiding released (the path stays; empty means the
// plate). With `keepOutcome` the return follows a job whose outcome the user has
// yet to see: the status line and the path box as that job left them are kept to
// be shown again once the return has succeeded.
void startReturn(Session& session, bool keepOutcome) {
  ImageReturn started;
  if (keepOutcome) {
    started.keepOutcome = true;
    started.statusText = session.statusText;
    started.statusIsError = session.statusIsError;
    if (session.view != nullptr) started.pathText = session.view->controlText(ID_PATH_EDIT);
  }
  startImageLoad(session, std::u16string(session.currentPath));
  // A load that could not start (the sheet could not be saved first) is no return.
  started.running = session.jobRunning;
  session.imageReturn = started.running ? std::move(started) : ImageReturn{};
}

// Applies a finished job's result: a crop export's outcome, or a load's new image
// with its title, status, sheet, view and path box. A failed load leaves the
// previous image, its sheet, markers, crop and view as they were.
void applyJobResult(Session& session, std::unique_ptr<WorkerResult> result) {
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
  showStatus(session, 25, false);
  loadSheetForImage(session);
  fitView(session);
  const bool showPath = !session.currentPath.empty() && isEnabledScript(session.currentPath);
  setControlTextQuietly(session, ID_PATH_EDIT, showPath ? session.currentPath : std::u16string());
  if (!windowVisible(session)) {
    // Hidden to the tray during the load: the image is released until the window
    // is shown again.
    session.currentImage.reset();
  }
  updateControlStates(session);
}

}  // namespace

void returnReleasedImage(Session& session) {
  if (session.currentImage) return;
  if (!session.jobRunning) {
    startReturn(session, false);
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
  applyJobResult(session, std::move(result));
  if (ended.running) {
    // The return itself ended. Once it has succeeded (25, the path of the image it
    // brought back), the outcome of the job before it is shown again: a refused
    // file stays reported and the typed path stays typed. A return that failed
    // shows its own failure.
    if (ended.keepOutcome && !session.statusIsError) {
      session.statusText = ended.statusText;
      session.statusIsError = ended.statusIsError;
      if (session.view != nullptr) session.view->invalidate();
      setControlTextQuietly(session, ID_PATH_EDIT, ended.pathText);
    }
    return;
  }
  // The window was shown again while the job (a load or a crop export) ran: the
  // released image comes back once, whatever the job's outcome.
  if ((ended.afterJob || wasExport) && windowVisible(session) && !session.currentImage) {
    startReturn(session, true);
  }
}

}  // namespace tessary

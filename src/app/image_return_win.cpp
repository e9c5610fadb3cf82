#include "app/image_return_win.h"

#include <string>
#include <utility>

#include "app/control_ids.h"
#include "app/status_and_controls.h"
#include "imaging/image_loading_win.h"

namespace tessary {

namespace {

bool windowVisible(Session& session) { return session.view != nullptr && session.view->windowVisible(); }

// Starts decoding the released image (the path stays; empty means the plate).
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

}  // namespace

void returnReleasedImage(Session& session) {
  if (session.currentImage) return;
  if (!session.jobRunning) {
    startReturn(session, false);
  } else if (!session.imageReturn.running) {
    session.imageReturn.afterJob = true;
  }
}

void onJobMessage(Session& session) {
  const ImageReturn ended = std::exchange(session.imageReturn, ImageReturn{});
  onJobDone(session);
  // A return that succeeded shows 25 and the path of the image it brought back;
  // the outcome of the job before it is what the user has yet to see. (A return
  // that failed shows its own failure, 26, in error style.)
  if (ended.running && ended.keepOutcome && !session.statusIsError) {
    session.statusText = ended.statusText;
    session.statusIsError = ended.statusIsError;
    if (session.view != nullptr) session.view->invalidate();
    setControlTextQuietly(session, ID_PATH_EDIT, ended.pathText);
  }
  if (session.jobRunning) {
    // The end of a crop export starts the image's return itself.
    session.imageReturn.running = true;
    return;
  }
  if (ended.afterJob && windowVisible(session) && !session.currentImage) startReturn(session, true);
}

}  // namespace tessary

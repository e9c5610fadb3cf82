#pragma once
// The one background job of the program (an image load or a crop export) and its
// hand-over to the window thread: one thread object, one busy flag (`jobRunning`),
// one result slot (`pendingResult` under `resultMutex`) and one completion message.
#include <windows.h>

#include <functional>
#include <memory>

#include "app/session_state.h"

namespace tessary {

// Posted by a finished job to the main window, both parameters 0.
inline constexpr UINT WM_JOB_DONE = WM_APP + 1;

// The work of a job. It fills the result it is given; anything it raises is caught
// by the job wrapper and leaves the result failed (ok false, no image).
using JobBody = std::function<void(WorkerResult&)>;

// Job thread: the wrapper around a job body. Initialises COM multithreaded, runs
// the body, catches everything, uninitialises COM, stores the result in
// `pendingResult` (destroying an older result still there) and posts WM_JOB_DONE
// to `window`. Touches nothing of the session but the result slot.
void runJob(Session& session, HWND window, WorkerResult initial, const JobBody& body) noexcept;

// Window thread: joins a finished previous job thread, then starts `body` on a new
// job thread that posts to `session.mainWindow`. Returns false when the thread
// could not be started; nothing runs then and the slot is untouched.
bool startJobThread(Session& session, WorkerResult initial, JobBody body);

// Window thread: joins the job thread if it holds one, then takes the result out
// of the slot (null when the slot was empty).
std::unique_ptr<WorkerResult> takeJobResult(Session& session);

// Shut-down: waits for a job that is still running and destroys a result that was
// posted but never taken, so no job outlives the objects it uses.
void finishBackgroundJob(Session& session);

}  // namespace tessary

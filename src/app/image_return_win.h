#pragma once
// The return of the image that hiding to the notification area released: showing
// the desk again decodes it anew, at once or, while a job runs, when that job ends.
#include "app/session_state.h"

namespace tessary {

// Called when the desk is shown again (the icon, its menu's Open, a second start).
// Starts decoding the released image when no job runs. While a job runs, that
// job's end brings it back, unless the running job is this return itself (a
// double click on the icon restores twice, and the second finds its reload
// running).
void returnReleasedImage(Session& session);

// The window's handler of WM_JOB_DONE: applies the job's result (onJobDone) and
// then brings back the image released while the job ran, once, whatever the
// job's outcome. That return keeps what the job left to see: the status line
// keeps the job's outcome (the refusal of a file that failed to load stays
// shown) and the path box keeps what the user typed; only a return that fails
// itself reports its own failure.
void onJobMessage(Session& session);

}  // namespace tessary

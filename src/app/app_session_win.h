#pragma once
// The one session of the running program, and the Windows objects that belong to
// the window side of it but have no place in the platform-free record.
#include "app/session_state.h"

namespace tessary {

// The process-wide session record. Created with its start values before start-up;
// only the user-interface thread uses it (a job only fills `pendingResult`).
Session& appSession();

}  // namespace tessary

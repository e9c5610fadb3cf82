#pragma once
// The Export folder command: opens the exports folder in the Windows shell.
namespace tessary {

struct Session;

// Creates the exports folder under the data folder (with missing parents) and asks
// the shell to open it. Any failure shows interface string 33 as an error; success
// leaves the status line as it was.
void openExportFolder(Session& session);

}  // namespace tessary

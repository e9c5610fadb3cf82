#pragma once
// The Export notes command: the current sheet as JSON and as CSV in the export folder.
namespace tessary {

struct Session;

// Writes base + "-notes.json" (the sheet exactly as a save writes it) and then
// base + "-notes.csv"; reports string 32 or 33 on the status line. Does nothing
// without an image or while a background job runs, and nothing when the pending
// sheet changes cannot be saved first.
void exportNotes(Session& session);

}  // namespace tessary

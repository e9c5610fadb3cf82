#include "exports/notes_export.h"

#include <filesystem>
#include <stdexcept>
#include <string>

#include "app/session_state.h"
#include "app/status_and_controls.h"
#include "exports/export_naming.h"
#include "exports/notes_csv.h"
#include "observations/atomic_file.h"
#include "observations/observation_sheet.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"

namespace tessary {

namespace {

constexpr int kExportCompleted = 32;
constexpr int kExportFailed = 33;

std::filesystem::path withEnding(const std::filesystem::path& base, const char* ending) {
  std::filesystem::path path = base;
  path += ending;
  return path;
}

}  // namespace

void exportNotes(Session& session) {
  if (!session.currentImage || session.jobRunning) return;
  if (!saveSheet(session)) return;  // the save shows its own message
  try {
    // While another program holds the sheet its notes are not known: an export now
    // would write an empty sheet in their place.
    if (sheetWaiting(session)) throw std::runtime_error("Storage unavailable");
    const std::filesystem::path base = exportBasePath(session);
    // The JSON first; the CSV only once the JSON is in place.
    const std::string json = printSheet(session.sheet);
    if (!writeFileAtomically(withEnding(base, "-notes.json"), json, false)) {
      throw std::runtime_error("Export failed");
    }
    const std::string csv = notesCsv(session.sheet);
    if (!writeFileAtomically(withEnding(base, "-notes.csv"), csv, false)) {
      throw std::runtime_error("Export failed");
    }
  } catch (...) {
    showStatus(session, kExportFailed, true);
    return;
  }
  showStatus(session, kExportCompleted, false);
}

}  // namespace tessary

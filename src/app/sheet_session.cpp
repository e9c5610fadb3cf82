#include "app/sheet_session.h"

#include <string>

#include "app/control_ids.h"
#include "app/session_state.h"
#include "app/status_and_controls.h"
#include "observations/sheet_store.h"

namespace tessary {

namespace {

constexpr int kStringReady = 25;
constexpr int kStringCouldNotSave = 27;
constexpr int kStringSavedLocally = 29;
constexpr int kStringBackupRecovered = 40;
constexpr int kStringRecoverySheetActive = 41;

void showEmptySelection(Session& session) {
  setControlTextQuietly(session, ID_NOTE_EDIT, std::u16string());
  updateControlStates(session);
  if (session.view) session.view->invalidate();
}

SheetImage sheetImageOf(const Pixels& image) { return SheetImage{image.sha256, image.width, image.height}; }

// Loads the current image's sheet through the store and shows what came of it.
// True when the outcome put a message of its own on the status line.
bool loadThroughStore(Session& session, const Pixels& image) {
  session.sheetStore.setClock(session.unixNow);
  const LoadOutcome outcome =
      session.sheetStore.load(session.dataFolder / "observations", sheetImageOf(image), session.sheet);
  session.sheetPath = session.sheetStore.activePath();
  session.dirty = false;
  switch (outcome) {
    case LoadOutcome::Loaded:
      return false;
    case LoadOutcome::BackupRecovered:
      showStatus(session, kStringBackupRecovered, true);
      return true;
    case LoadOutcome::BackupRecoveredUnsaved:
      // The recovered sheet is only in memory: the next save tries again.
      session.dirty = true;
      showStatus(session, kStringCouldNotSave, true);
      return true;
    case LoadOutcome::RecoverySheetActive:
      showStatus(session, kStringRecoverySheetActive, true);
      return true;
    case LoadOutcome::Waiting:
    case LoadOutcome::StorageUnavailable:
      showStatus(session, kStringCouldNotSave, true);
      return true;
  }
  return true;
}

}  // namespace

bool sheetWaiting(const Session& session) { return session.sheetStore.state() == SheetState::Waiting; }

bool sheetStorable(const Session& session) { return session.storageAvailable && !sheetWaiting(session); }

bool saveSheet(Session& session) {
  if (!session.dirty) return true;
  if (!session.storageAvailable || !session.sheetStore.writable()) {
    showStatus(session, kStringCouldNotSave, true);
    return false;
  }
  session.sheetStore.setClock(session.unixNow);
  const SaveOutcome outcome = session.sheetStore.save(session.sheet);
  session.sheetPath = session.sheetStore.activePath();
  if (outcome == SaveOutcome::Failed) {
    showStatus(session, kStringCouldNotSave, true);
    return false;
  }
  session.dirty = false;
  session.autosaveAttempts = 0;
  if (outcome == SaveOutcome::SavedBesideAnotherVersion) {
    // Another program's version of the sheet was kept under a name of its own and
    // the notes went on in the recovery sheet.
    showStatus(session, kStringRecoverySheetActive, true);
  } else {
    showStatus(session, kStringSavedLocally, false);
  }
  return true;
}

void loadSheetForImage(Session& session) {
  const std::shared_ptr<const Pixels> image = session.currentImage;
  session.selectedId = 0;
  session.undoSlot = UndoSlot{};
  session.listTop = 0;
  session.cropRect = CropRect{};
  session.dirty = false;
  session.sheet = ObservationSheet{};
  if (!image) {
    // Nothing to load a sheet for.
    session.sheetStore.clear();
    session.sheetPath.clear();
    showEmptySelection(session);
    return;
  }
  session.sheet.imageSHA256 = image->sha256;
  session.sheet.width = image->width;
  session.sheet.height = image->height;
  if (!session.storageAvailable) {
    session.sheetStore.setStorageUnavailable(sheetImageOf(*image));
    session.sheetPath.clear();
    setControlTextQuietly(session, ID_NOTE_EDIT, std::u16string());
    showStatus(session, kStringCouldNotSave, true);
    return;
  }
  loadThroughStore(session, *image);
  showEmptySelection(session);
}

void retryHeldSheet(Session& session) {
  const std::shared_ptr<const Pixels> image = session.currentImage;
  if (!sheetWaiting(session) || !image || session.jobRunning || !session.storageAvailable) return;
  const bool reported = loadThroughStore(session, *image);
  // Still waiting: the status line keeps saying so; the next tick tries again.
  if (sheetWaiting(session)) return;
  session.selectedId = 0;
  session.listTop = 0;
  // The status line said the notes were unavailable; unless the load reported
  // something of its own (a recovery), it now says the desk is ready.
  if (!reported) showStatus(session, kStringReady, false);
  showEmptySelection(session);
}

}  // namespace tessary

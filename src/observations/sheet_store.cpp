#include "observations/sheet_store.h"

#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "app/control_ids.h"
#include "app/session_state.h"
#include "app/status_and_controls.h"
#include "observations/atomic_file.h"

namespace tessary {

namespace {

constexpr int kStringCouldNotSave = 27;
constexpr int kStringSavedLocally = 29;
constexpr int kStringBackupRecovered = 40;
constexpr int kStringRecoverySheetActive = 41;

std::filesystem::path withSuffix(const std::filesystem::path& path, const std::string& suffix) {
  std::filesystem::path result = path;
  result += suffix;
  return result;
}

// Anything at all at the path; a status query that fails counts as nothing.
bool somethingAt(const std::filesystem::path& path) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  return !ec && std::filesystem::exists(status);
}

ObservationSheet readSheetForImage(const std::filesystem::path& path, const Pixels& image) {
  ObservationSheet sheet = readSheetFile(path);
  if (sheet.imageSHA256 != image.sha256 || sheet.width != image.width || sheet.height != image.height) {
    throw std::runtime_error("Image mismatch");
  }
  return sheet;
}

// A replacement interrupted between its two renames (the process killed, the power
// lost) leaves no file under the sheet's name and the previous version under the
// backup name. That version is put back under the sheet's name, as a copy that never
// overwrites, so the load below reads it (or, if it is damaged, preserves it) instead
// of starting an empty sheet whose saves would later replace the backup.
void restoreInterruptedReplacement(const std::filesystem::path& sheet) {
  const std::filesystem::path backup = withSuffix(sheet, ".bak");
  if (somethingAt(sheet) || !somethingAt(backup)) return;
  std::error_code ec;
  std::filesystem::copy_file(backup, sheet, std::filesystem::copy_options::none, ec);
}

// An untouched copy of a sheet that could not be used, named after it with
// ".damaged-" and the Unix time; never overwrites anything.
void preserveDamaged(Session& session, const std::filesystem::path& sheet) {
  const std::filesystem::path copy = withSuffix(sheet, ".damaged-" + std::to_string(session.unixNow()));
  std::error_code ec;
  std::filesystem::copy_file(sheet, copy, std::filesystem::copy_options::none, ec);
}

void showEmptySelection(Session& session) {
  setControlTextQuietly(session, ID_NOTE_EDIT, std::u16string());
  updateControlStates(session);
  if (session.view) session.view->invalidate();
}

}  // namespace

ObservationSheet readSheetFile(const std::filesystem::path& path) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) throw std::runtime_error("Cannot read sheet");
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kSheetFileLimit) throw std::runtime_error("Cannot read sheet");

  // Read whole, never more than the limit even if the file grew meanwhile. A stream
  // that failed to open reads as empty input and fails the parse.
  std::ifstream stream(path, std::ios::in | std::ios::binary);
  std::string bytes(static_cast<std::size_t>(kSheetFileLimit) + 1, '\0');
  stream.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(stream.gcount()));
  if (bytes.size() > kSheetFileLimit) throw std::runtime_error("Cannot read sheet");
  // The parser takes a zero byte for the end of the input and would ignore whatever
  // follows it. A raw zero byte is never valid JSON, so it is refused as the
  // non-whitespace it is.
  const std::size_t zero = bytes.find('\0');
  if (zero != std::string::npos) {
    throw nlohmann::json::parse_error::create(
        101, zero + 1, "syntax error while parsing value - unexpected zero byte; expected end of input", nullptr);
  }
  // Exactly one document: comments refused, only whitespace after it, a leading
  // UTF-8 byte-order mark skipped.
  const nlohmann::json document = nlohmann::json::parse(bytes, nullptr, true, false);
  return sheetFromJson(document);
}

bool saveSheet(Session& session) {
  if (!session.dirty) return true;
  if (!session.storageAvailable || session.sheetPath.empty()) {
    showStatus(session, kStringCouldNotSave, true);
    return false;
  }
  try {
    const std::string text = printSheet(session.sheet);
    if (!writeFileAtomically(session.sheetPath, text, true)) throw std::runtime_error("Write failed");
  } catch (...) {
    showStatus(session, kStringCouldNotSave, true);
    return false;
  }
  session.dirty = false;
  session.autosaveAttempts = 0;
  showStatus(session, kStringSavedLocally, false);
  return true;
}

void loadSheetForImage(Session& session) {
  const std::shared_ptr<const Pixels> image = session.currentImage;
  ObservationSheet fresh;
  if (image) {
    fresh.imageSHA256 = image->sha256;
    fresh.width = image->width;
    fresh.height = image->height;
  }
  session.sheet = fresh;
  session.selectedId = 0;
  session.undoSlot = UndoSlot{};
  session.listTop = 0;
  session.cropRect = CropRect{};
  session.dirty = false;
  if (!image) {
    // Nothing to load a sheet for.
    session.sheetPath.clear();
    showEmptySelection(session);
    return;
  }

  const std::filesystem::path mainPath =
      session.dataFolder / "observations" / std::u8string(image->sha256.begin(), image->sha256.end()).append(u8".json");
  session.sheetPath = mainPath;

  if (!session.storageAvailable) {
    session.sheetPath.clear();
    setControlTextQuietly(session, ID_NOTE_EDIT, std::u16string());
    showStatus(session, kStringCouldNotSave, true);
    return;
  }

  // The recovery path always derives from the main sheet's path.
  const std::filesystem::path recoveryPath = withSuffix(mainPath, ".recovery.json");
  restoreInterruptedReplacement(recoveryPath);
  if (somethingAt(recoveryPath)) {
    session.sheetPath = recoveryPath;
  } else {
    restoreInterruptedReplacement(mainPath);
  }

  if (somethingAt(session.sheetPath)) {
    try {
      session.sheet = readSheetForImage(session.sheetPath, *image);
    } catch (...) {
      const std::filesystem::path failed = session.sheetPath;
      const std::filesystem::path backup = withSuffix(failed, ".bak");
      preserveDamaged(session, failed);
      ObservationSheet recovered;
      bool backupUsable = false;
      try {
        recovered = readSheetForImage(backup, *image);
        backupUsable = true;
      } catch (...) {
        // A recovery sheet's own backup is replaced by the next save into that
        // sheet, so one that cannot be used is preserved as well. The main sheet's
        // backup is never written again and needs no copy.
        if (failed == recoveryPath && somethingAt(backup)) preserveDamaged(session, backup);
      }
      session.sheetPath = recoveryPath;
      if (backupUsable) {
        session.sheet = std::move(recovered);
        session.dirty = true;
        saveSheet(session);
        showStatus(session, kStringBackupRecovered, true);
      } else {
        showStatus(session, kStringRecoverySheetActive, true);
      }
    }
  }

  showEmptySelection(session);
}

}  // namespace tessary

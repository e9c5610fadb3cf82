#include "observations/sheet_store.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "app/control_ids.h"
#include "app/session_state.h"
#include "app/status_and_controls.h"
#include "observations/atomic_file.h"
#include "observations/file_access.h"

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
// lost) leaves no file under the sheet's name, the previous version under the
// backup name and the new one, complete, under the temporary name. The new version
// is moved into place when it reads as a sheet of this image; otherwise the previous
// version is put back, as a copy that never overwrites. The load below then reads it
// (or, if it is damaged, preserves it) instead of starting an empty sheet whose
// saves would later replace the backup and the temporary file.
void restoreInterruptedReplacement(const std::filesystem::path& sheet, const Pixels& image) {
  if (somethingAt(sheet)) return;
  const std::filesystem::path temporary = withSuffix(sheet, ".tmp");
  if (somethingAt(temporary)) {
    bool complete = false;
    try {
      readSheetForImage(temporary, image);
      complete = true;
    } catch (...) {
      // Cut short, or not this image's: the backup is used.
    }
    if (complete && moveWithoutReplacing(temporary, sheet)) return;
  }
  const std::filesystem::path backup = withSuffix(sheet, ".bak");
  if (!somethingAt(backup)) return;
  std::error_code ec;
  std::filesystem::copy_file(backup, sheet, std::filesystem::copy_options::none, ec);
}

// Whether two files hold the same bytes.
bool sameBytes(const std::filesystem::path& first, const std::filesystem::path& second) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(first, ec);
  if (ec || std::filesystem::file_size(second, ec) != size || ec) return false;
  std::ifstream a(first, std::ios::in | std::ios::binary);
  std::ifstream b(second, std::ios::in | std::ios::binary);
  if (!a || !b) return false;
  std::vector<char> bufferA(1 << 16);
  std::vector<char> bufferB(1 << 16);
  for (;;) {
    a.read(bufferA.data(), static_cast<std::streamsize>(bufferA.size()));
    b.read(bufferB.data(), static_cast<std::streamsize>(bufferB.size()));
    if (a.bad() || b.bad() || a.gcount() != b.gcount()) return false;
    const auto count = static_cast<std::size_t>(a.gcount());
    if (count == 0) return true;
    if (!std::equal(bufferA.begin(), bufferA.begin() + static_cast<std::ptrdiff_t>(count), bufferB.begin())) {
      return false;
    }
  }
}

// A ".damaged-" copy of the file with the same bytes exists already (an unchanged
// damaged sheet is loaded again, after every restore from the notification area).
bool identicalCopyExists(const std::filesystem::path& file) {
  const std::u8string prefix = file.filename().u8string() + u8".damaged-";
  std::error_code ec;
  for (std::filesystem::directory_iterator it(file.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::u8string name = it->path().filename().u8string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const bool stamped = std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                                     [](char8_t c) { return c >= u8'0' && c <= u8'9'; });
    if (stamped && sameBytes(file, it->path())) return true;
  }
  return false;
}

// Keeps an untouched copy of a sheet file that could not be used, named after it
// with ".damaged-" and the Unix time; never overwrites anything. True when the
// file's bytes are kept aside afterwards (or nothing is left at its name).
// A file that later saves would write over (`inTheWay`: the active sheet or its
// backup) is moved aside when it cannot be copied (a full disk, a file held open):
// a rename on the same volume needs no space. Its name, when taken, moves on to
// the next seconds.
bool preserveDamaged(Session& session, const std::filesystem::path& file, bool inTheWay) {
  if (!somethingAt(file)) return true;
  if (identicalCopyExists(file)) return true;
  const std::int64_t now = session.unixNow();
  const int names = inTheWay ? 10 : 1;
  for (int i = 0; i < names; ++i) {
    const std::filesystem::path aside = withSuffix(file, ".damaged-" + std::to_string(now + i));
    if (somethingAt(aside)) continue;
    std::error_code ec;
    if (std::filesystem::copy_file(file, aside, std::filesystem::copy_options::none, ec) && !ec) return true;
    // A copy cut short (no space left) is no copy of the file.
    if (ec != std::errc::file_exists) std::filesystem::remove(aside, ec);
    if (!inTheWay) return false;
    if (moveWithoutReplacing(file, aside)) return true;
  }
  return false;
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

  // Read whole, never more than the limit even if the file grew meanwhile. A file
  // that cannot be opened reads as empty input and fails the parse.
  std::string bytes;
  readFileUpTo(path, static_cast<std::size_t>(kSheetFileLimit) + 1, bytes);
  if (bytes.size() > kSheetFileLimit) throw std::runtime_error("Cannot read sheet");
  return sheetFromText(bytes);
}

bool saveSheet(Session& session) {
  if (!session.dirty) return true;
  if (!session.storageAvailable || session.sheetPath.empty()) {
    showStatus(session, kStringCouldNotSave, true);
    return false;
  }
  try {
    const std::string text = printSheet(session.sheet);
    // The folder may have been removed while the program runs: it is made again,
    // with the data folder above it. If that fails, the write below fails.
    std::error_code ec;
    std::filesystem::create_directories(session.sheetPath.parent_path(), ec);
    // A damaged file that this save would write over is kept aside first.
    std::erase_if(session.unpreservedSheets,
                  [&](const std::filesystem::path& file) { return preserveDamaged(session, file, true); });
    if (!session.unpreservedSheets.empty()) throw std::runtime_error("Damaged sheet not preserved");
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
  session.unpreservedSheets.clear();
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
  restoreInterruptedReplacement(recoveryPath, *image);
  if (somethingAt(recoveryPath)) {
    session.sheetPath = recoveryPath;
  } else {
    restoreInterruptedReplacement(mainPath, *image);
  }

  if (somethingAt(session.sheetPath)) {
    try {
      session.sheet = readSheetForImage(session.sheetPath, *image);
    } catch (...) {
      const std::filesystem::path failed = session.sheetPath;
      const std::filesystem::path backup = withSuffix(failed, ".bak");
      // The main sheet is never written again once it failed; a recovery sheet
      // that failed is the one the next saves replace, so it must be kept aside
      // before any of them runs.
      const bool failedIsRecovery = failed == recoveryPath;
      if (!preserveDamaged(session, failed, failedIsRecovery) && failedIsRecovery) {
        session.unpreservedSheets.push_back(failed);
      }
      ObservationSheet recovered;
      bool backupUsable = false;
      try {
        recovered = readSheetForImage(backup, *image);
        backupUsable = true;
      } catch (...) {
        // A recovery sheet's own backup is replaced by the next saves into that
        // sheet, so one that cannot be used is preserved as well. The main sheet's
        // backup is never written again and needs no copy.
        if (failedIsRecovery && !preserveDamaged(session, backup, true)) session.unpreservedSheets.push_back(backup);
      }
      session.sheetPath = recoveryPath;
      if (backupUsable) {
        session.sheet = std::move(recovered);
        session.dirty = true;
        // When this save fails, its message stays: the recovered sheet is only in memory.
        if (saveSheet(session)) showStatus(session, kStringBackupRecovered, true);
      } else {
        showStatus(session, kStringRecoverySheetActive, true);
      }
    }
  }

  showEmptySelection(session);
}

}  // namespace tessary

#include "observations/sheet_store.h"

#include <algorithm>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>

#include "app/control_ids.h"
#include "app/session_state.h"
#include "app/status_and_controls.h"
#include "observations/atomic_file.h"
#include "observations/file_access.h"

namespace tessary {

namespace {

constexpr int kStringReady = 25;
constexpr int kStringCouldNotSave = 27;
constexpr int kStringSavedLocally = 29;
constexpr int kStringBackupRecovered = 40;
constexpr int kStringRecoverySheetActive = 41;

// How long a read waits for another program that holds the file: through the short
// retries (at a load), or not at all (the timer's later tries).
enum class Patience { WaitOut, Once };

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

ObservationSheet readSheetFileWith(const std::filesystem::path& path, Patience patience) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) throw std::runtime_error("Cannot read sheet");
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kSheetFileLimit) throw std::runtime_error("Cannot read sheet");

  // Read whole, never more than the limit even if the file grew meanwhile. A file
  // that cannot be opened reads as empty input and fails the parse; one that another
  // program holds is not judged at all.
  std::string bytes;
  const auto attempt = [&] { return readFileUpTo(path, static_cast<std::size_t>(kSheetFileLimit) + 1, bytes); };
  const FileOutcome read = patience == Patience::WaitOut ? retryWhileHeld(attempt) : attempt();
  if (read == FileOutcome::Held) throw SheetHeld();
  if (bytes.size() > kSheetFileLimit) throw std::runtime_error("Cannot read sheet");
  return sheetFromText(bytes);
}

ObservationSheet readSheetForImage(const std::filesystem::path& path, const Pixels& image, Patience patience) {
  ObservationSheet sheet = readSheetFileWith(path, patience);
  if (sheet.imageSHA256 != image.sha256 || sheet.width != image.width || sheet.height != image.height) {
    throw std::runtime_error("Image mismatch");
  }
  return sheet;
}

// The file's sheet when it reads as a sheet of this image; none otherwise. A file
// another program holds raises SheetHeld: it is neither.
std::optional<ObservationSheet> sheetOfImageAt(const std::filesystem::path& path, const Pixels& image,
                                               Patience patience) {
  try {
    return readSheetForImage(path, image, patience);
  } catch (const SheetHeld&) {
    throw;
  } catch (...) {
    return std::nullopt;
  }
}

// A replacement interrupted between its two renames (the process killed, the power
// lost) leaves no file under the sheet's name, the previous version under the
// backup name and the new one, complete, under the temporary name. The new version
// is moved into place when it reads as a sheet of this image; otherwise the previous
// version is put back, as a copy that never overwrites (or, where no complete copy
// can be made, by moving the backup itself into place). The load below then reads
// it (or, if it is damaged, preserves it) instead of starting an empty sheet whose
// saves would later replace the backup and the temporary file. Raises SheetHeld
// when another program holds a file it needs.
void restoreInterruptedReplacement(const std::filesystem::path& sheet, const Pixels& image, Patience patience) {
  if (somethingAt(sheet)) return;
  const std::filesystem::path temporary = withSuffix(sheet, ".tmp");
  if (somethingAt(temporary) && sheetOfImageAt(temporary, image, patience) &&
      retryWhileHeld([&] { return moveWithoutReplacing(temporary, sheet); }) == FileOutcome::Done) {
    return;
  }
  const std::filesystem::path backup = withSuffix(sheet, ".bak");
  if (!somethingAt(backup)) return;
  const CopyOutcome copied = copyAside(backup, sheet);
  if (copied == CopyOutcome::Copied) return;
  const FileOutcome moved = retryWhileHeld([&] { return moveWithoutReplacing(backup, sheet); });
  // A backup another program holds can be neither put back nor left behind: the
  // next saves would replace it.
  if (moved != FileOutcome::Done && (copied == CopyOutcome::Held || moved == FileOutcome::Held)) throw SheetHeld();
}

// The names of the kept copies of `file`: its name, ".damaged-", the Unix time, and,
// when that name was taken, "-" and a counter.
std::u8string damagedPrefix(const std::filesystem::path& file) { return file.filename().u8string() + u8".damaged-"; }

bool isDamagedCopyName(const std::u8string& name, const std::u8string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
  const std::u8string stamp = name.substr(prefix.size());
  const std::size_t dash = stamp.find(u8'-');
  const auto digits = [](const std::u8string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char8_t c) { return c >= u8'0' && c <= u8'9'; });
  };
  return dash == std::u8string::npos ? digits(stamp) : digits(stamp.substr(0, dash)) && digits(stamp.substr(dash + 1));
}

// The kept copies of the file already in its folder.
std::set<std::u8string> damagedCopiesOf(const std::filesystem::path& file) {
  const std::u8string prefix = damagedPrefix(file);
  std::set<std::u8string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(file.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    std::u8string name = it->path().filename().u8string();
    if (isDamagedCopyName(name, prefix)) names.insert(std::move(name));
  }
  return names;
}

// A kept copy of the file with the same bytes exists already (an unchanged damaged
// sheet is loaded again, after every restore from the notification area).
bool identicalCopyExists(const std::filesystem::path& file, const std::set<std::u8string>& copies) {
  return std::any_of(copies.begin(), copies.end(),
                     [&](const std::u8string& name) { return sameBytes(file, file.parent_path() / name); });
}

// Any entry at the path, a dangling link included.
bool entryAt(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// The first free name for a kept copy made now, at or after `counter`: the time
// alone, then with a counter after it.
std::filesystem::path freeDamagedName(const std::filesystem::path& file, std::int64_t now,
                                      const std::set<std::u8string>& copies, std::size_t& counter) {
  const std::string stamp = ".damaged-" + std::to_string(now);
  for (;; ++counter) {
    const std::filesystem::path name =
        withSuffix(file, counter == 0 ? stamp : stamp + "-" + std::to_string(counter));
    if (copies.count(name.filename().u8string()) == 0 && !entryAt(name)) return name;
  }
}

// Keeps an untouched copy of a sheet file that could not be used, named after it
// with ".damaged-" and the Unix time; never overwrites anything. True when the
// file's bytes are kept aside afterwards (or nothing is left at its name). A copy
// counts only when it holds every byte; one cut short is removed again.
// A file that later saves would write over (`inTheWay`: the active sheet, its
// backup or its temporary file) is moved aside when it cannot be copied (a full
// disk, a file held open): a rename on the same volume needs no space.
// Another name is tried only when the name is taken. A file held by another program
// is tried again only through the short retries, so that a save meeting it pauses
// the desk briefly and then fails (the next save tries again).
bool preserveDamaged(Session& session, const std::filesystem::path& file, bool inTheWay) {
  if (!somethingAt(file)) return true;
  const std::set<std::u8string> copies = damagedCopiesOf(file);
  if (identicalCopyExists(file, copies)) return true;
  const std::int64_t now = session.unixNow();
  const FileOutcome kept = retryWhileHeld([&] {
    // A name taken since it was chosen (another program at work in the folder)
    // moves on to the next counter, a few times at most.
    std::size_t counter = 0;
    for (int attempt = 0; attempt < 10; ++attempt, ++counter) {
      const std::filesystem::path aside = freeDamagedName(file, now, copies, counter);
      const CopyOutcome copied = copyAside(file, aside);
      if (copied == CopyOutcome::Copied) return FileOutcome::Done;
      if (copied == CopyOutcome::NameTaken) continue;
      if (!inTheWay) return copied == CopyOutcome::Held ? FileOutcome::Held : FileOutcome::Failed;
      const FileOutcome moved = moveWithoutReplacing(file, aside);
      if (moved == FileOutcome::Failed && entryAt(aside)) continue;
      if (moved == FileOutcome::Failed && copied == CopyOutcome::Held) return FileOutcome::Held;
      return moved;
    }
    return FileOutcome::Failed;
  });
  return kept == FileOutcome::Done;
}

void showEmptySelection(Session& session) {
  setControlTextQuietly(session, ID_NOTE_EDIT, std::u16string());
  updateControlStates(session);
  if (session.view) session.view->invalidate();
}

// Whether a recovery sheet was ever started for the image: once one exists, every
// later load uses it, also after the recovery sheet itself was found damaged and
// moved aside (its kept copies or its backup remain).
bool recoveryStarted(const std::filesystem::path& recoveryPath) {
  return somethingAt(recoveryPath) || somethingAt(withSuffix(recoveryPath, ".bak")) ||
         !damagedCopiesOf(recoveryPath).empty();
}

// Reads (or recovers) the current image's sheet into the session, from the files
// of the main sheet at `mainPath`. True when a recovery put its own message on the
// status line. Raises SheetHeld when another program holds a file that must be
// read; nothing has been saved then.
bool openSheetFiles(Session& session, const Pixels& image, const std::filesystem::path& mainPath,
                    Patience patience) {
  bool reported = false;
  session.sheetPath = mainPath;
  // The recovery path always derives from the main sheet's path.
  const std::filesystem::path recoveryPath = withSuffix(mainPath, ".recovery.json");
  restoreInterruptedReplacement(recoveryPath, image, patience);
  if (recoveryStarted(recoveryPath)) {
    session.sheetPath = recoveryPath;
  } else {
    restoreInterruptedReplacement(mainPath, image, patience);
  }

  if (somethingAt(session.sheetPath)) {
    try {
      session.sheet = readSheetForImage(session.sheetPath, image, patience);
    } catch (const SheetHeld&) {
      throw;
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
      std::optional<ObservationSheet> recovered;
      if (somethingAt(backup)) recovered = sheetOfImageAt(backup, image, patience);
      const bool backupUsable = recovered.has_value();
      // A recovery sheet's own backup is replaced by the next saves into that
      // sheet, so one that cannot be used is preserved as well. The main sheet's
      // backup is never written again and needs no copy.
      if (!backupUsable && failedIsRecovery && !preserveDamaged(session, backup, true)) {
        session.unpreservedSheets.push_back(backup);
      }
      session.sheetPath = recoveryPath;
      if (backupUsable) {
        session.sheet = std::move(*recovered);
        session.dirty = true;
      } else {
        showStatus(session, kStringRecoverySheetActive, true);
        reported = true;
      }
    }
  } else if (session.sheetPath == recoveryPath) {
    // The recovery sheet was moved aside and nothing took its place: the image goes
    // on in a new recovery sheet, never in the main sheet or its backup.
    showStatus(session, kStringRecoverySheetActive, true);
    reported = true;
  }

  // A temporary file left beside the active sheet that is no complete version of
  // this image's sheet (cut short, unreadable, or another image's) is replaced by
  // the next save: it is kept aside first, like any damaged sheet file. (Anything
  // else under that name, a folder say, is no sheet and only makes saves fail.)
  const std::filesystem::path temporary = withSuffix(session.sheetPath, ".tmp");
  std::error_code ec;
  if (std::filesystem::is_regular_file(temporary, ec) && !sheetOfImageAt(temporary, image, patience) &&
      !preserveDamaged(session, temporary, true)) {
    session.unpreservedSheets.push_back(temporary);
  }

  if (session.dirty) {
    // When this save fails, its message stays: the recovered sheet is only in memory.
    if (saveSheet(session)) showStatus(session, kStringBackupRecovered, true);
    reported = true;
  }
  return reported;
}

// The state while another program holds a sheet file of the image: nothing to save
// to, and the user is told that the notes are not available yet.
void holdSheet(Session& session, const ObservationSheet& fresh) {
  session.sheet = fresh;
  session.dirty = false;
  session.unpreservedSheets.clear();
  session.sheetPath.clear();
  session.sheetHeld = true;
  showStatus(session, kStringCouldNotSave, true);
}

ObservationSheet freshSheetFor(const Pixels* image) {
  ObservationSheet fresh;
  if (image) {
    fresh.imageSHA256 = image->sha256;
    fresh.width = image->width;
    fresh.height = image->height;
  }
  return fresh;
}

std::filesystem::path mainSheetPath(const Session& session, const Pixels& image) {
  return session.dataFolder / "observations" /
         std::u8string(image.sha256.begin(), image.sha256.end()).append(u8".json");
}

}  // namespace

ObservationSheet readSheetFile(const std::filesystem::path& path) {
  return readSheetFileWith(path, Patience::WaitOut);
}

bool sheetStorable(const Session& session) { return session.storageAvailable && !session.sheetHeld; }

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
  const ObservationSheet fresh = freshSheetFor(image.get());
  session.sheet = fresh;
  session.selectedId = 0;
  session.undoSlot = UndoSlot{};
  session.listTop = 0;
  session.cropRect = CropRect{};
  session.dirty = false;
  session.unpreservedSheets.clear();
  session.sheetHeld = false;
  if (!image) {
    // Nothing to load a sheet for.
    session.sheetPath.clear();
    showEmptySelection(session);
    return;
  }

  session.sheetPath = mainSheetPath(session, *image);
  if (!session.storageAvailable) {
    session.sheetPath.clear();
    setControlTextQuietly(session, ID_NOTE_EDIT, std::u16string());
    showStatus(session, kStringCouldNotSave, true);
    return;
  }

  try {
    openSheetFiles(session, *image, mainSheetPath(session, *image), Patience::WaitOut);
  } catch (const SheetHeld&) {
    holdSheet(session, fresh);
  }
  showEmptySelection(session);
}

void retryHeldSheet(Session& session) {
  const std::shared_ptr<const Pixels> image = session.currentImage;
  if (!session.sheetHeld || !image || session.jobRunning || !session.storageAvailable) return;
  bool reported = false;
  try {
    reported = openSheetFiles(session, *image, mainSheetPath(session, *image), Patience::Once);
  } catch (const SheetHeld&) {
    // Still held: the status line keeps saying so; the next tick tries again.
    session.sheet = freshSheetFor(image.get());
    session.dirty = false;
    session.unpreservedSheets.clear();
    session.sheetPath.clear();
    return;
  }
  session.sheetHeld = false;
  session.selectedId = 0;
  session.listTop = 0;
  // The status line said the notes were unavailable; unless the load reported
  // something of its own (a recovery), it now says the desk is ready.
  if (!reported) showStatus(session, kStringReady, false);
  showEmptySelection(session);
}

}  // namespace tessary

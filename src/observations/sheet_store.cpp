#include "observations/sheet_store.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <utility>

namespace tessary {

namespace {

// Raised inside the store when a file cannot be judged now (held by another
// program, vanishing between the status query and the read, a status query that
// fails): nothing may be concluded from it and nothing written over it.
struct NotNow {};

constexpr std::size_t kReadLimit = static_cast<std::size_t>(kSheetFileLimit) + 1;

std::filesystem::path withSuffix(const std::filesystem::path& path, std::string_view suffix) {
  std::filesystem::path::string_type name = path.native();
  for (const char c : suffix) name.push_back(static_cast<std::filesystem::path::value_type>(c));
  return std::filesystem::path(std::move(name));
}

using sheet_store_detail::Found;

Found look(FileAccess& files, const std::filesystem::path& path) {
  Found found;
  found.kind = files.entryAt(path);
  // "Nothing there" is asked once more before anything is concluded from it: a file
  // that another program is replacing can be missing for a moment.
  if (found.kind == EntryKind::None) found.kind = files.entryAt(path);
  if (found.kind == EntryKind::Unknown) throw NotNow{};
  if (found.kind != EntryKind::File) return found;
  // A file that vanishes or cannot be opened after the status query saw it is being
  // replaced or held by another program: it is not damaged.
  if (files.read(path, kReadLimit, found.bytes) != FileOutcome::Done) throw NotNow{};
  return found;
}

// The sheet in `found` when it is a sheet of `image`.
bool sheetOfImage(const Found& found, const SheetImage& image, ObservationSheet& sheet) {
  if (!found.whole()) return false;
  try {
    ObservationSheet read = sheetFromText(found.bytes);
    if (read.imageSHA256 != image.sha256 || read.width != image.width || read.height != image.height) return false;
    sheet = std::move(read);
    return true;
  } catch (...) {
    return false;
  }
}

ObservationSheet freshSheet(const SheetImage& image) {
  ObservationSheet sheet;
  sheet.imageSHA256 = image.sha256;
  sheet.width = image.width;
  sheet.height = image.height;
  return sheet;
}

bool allDigits(std::filesystem::path::string_type::const_iterator first,
               std::filesystem::path::string_type::const_iterator last) {
  return first != last && std::all_of(first, last, [](auto c) { return c >= '0' && c <= '9'; });
}

// Whether `name` is a kept copy's name for the file named `prefix` + ".damaged-":
// digits (the Unix time), optionally "-" and more digits (a counter). Names are
// compared as the platform gives them, so no name needs converting.
bool isKeptCopyName(const std::filesystem::path::string_type& name, const std::filesystem::path::string_type& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
  const auto stamp = name.begin() + static_cast<std::ptrdiff_t>(prefix.size());
  const auto dash = std::find(stamp, name.end(), '-');
  return dash == name.end() ? allDigits(stamp, name.end()) : allDigits(stamp, dash) && allDigits(dash + 1, name.end());
}

std::int64_t systemUnixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

ObservationSheet readSheetFile(const std::filesystem::path& path) {
  FileAccess& files = platformFileAccess();
  if (files.entryAt(path) != EntryKind::File) throw std::runtime_error("Cannot read sheet");
  std::string bytes;
  if (files.read(path, kReadLimit, bytes) != FileOutcome::Done || bytes.size() > kSheetFileLimit) {
    throw std::runtime_error("Cannot read sheet");
  }
  return sheetFromText(bytes);
}

SheetStore::SheetStore(FileAccess* files) : files_(files), unixNow_(systemUnixNow) {}

void SheetStore::clear() {
  state_ = SheetState::NoImage;
  image_ = SheetImage{};
  folder_.clear();
  mainPath_.clear();
  onRecovery_ = false;
  activeKnown_ = false;
  activeBytes_.reset();
  ownTemporary_.reset();
  attempted_.reset();
}

std::filesystem::path SheetStore::recoveryPath() const {
  return mainPath_.empty() ? std::filesystem::path() : withSuffix(mainPath_, ".recovery.json");
}

std::filesystem::path SheetStore::activePath() const {
  if (state_ != SheetState::Active) return {};
  return onRecovery_ ? recoveryPath() : mainPath_;
}

FileAccess& SheetStore::files() { return files_ != nullptr ? *files_ : platformFileAccess(); }

void SheetStore::setStorageUnavailable(const SheetImage& image) {
  clear();
  image_ = image;
  state_ = SheetState::StorageUnavailable;
}

LoadOutcome SheetStore::load(const std::filesystem::path& observationsFolder, const SheetImage& image,
                             ObservationSheet& sheet) {
  clear();
  image_ = image;
  folder_ = observationsFolder;
  mainPath_ = observationsFolder / std::u8string(image.sha256.begin(), image.sha256.end()).append(u8".json");
  sheet = freshSheet(image);
  try {
    return loadFiles(sheet);
  } catch (...) {
    // Held, vanishing, or a failure nobody foresaw: nothing is known, so nothing may
    // be written until a later load succeeds.
    state_ = SheetState::Waiting;
    onRecovery_ = false;
    activeKnown_ = false;
    activeBytes_.reset();
    sheet = freshSheet(image);
    return LoadOutcome::Waiting;
  }
}

// A replacement interrupted between its two renames (the process killed, the power
// lost) leaves nothing under the sheet's name, the previous version under the
// backup name and the new one, complete, under the temporary name. The new version
// is moved into place when it reads as a sheet of this image; otherwise the
// previous version is put back as a verified copy (or, where none can be made, by
// moving the backup itself). Anything that cannot be done now leaves the load
// waiting, so that no empty sheet starts whose saves would replace these files.
void SheetStore::restoreInterruptedReplacement(const std::filesystem::path& sheetFile) {
  const EntryKind there = files().entryAt(sheetFile);
  if (there == EntryKind::Unknown) throw NotNow{};
  if (there != EntryKind::None) return;
  const std::filesystem::path temporary = withSuffix(sheetFile, ".tmp");
  const Found newer = look(files(), temporary);
  ObservationSheet unused;
  if (sheetOfImage(newer, image_, unused)) {
    const FileOutcome moved = files().move(temporary, sheetFile);
    if (moved == FileOutcome::Done || moved == FileOutcome::NameTaken) return;
    throw NotNow{};
  }
  const std::filesystem::path backup = withSuffix(sheetFile, ".bak");
  const Found previous = look(files(), backup);
  if (previous.kind != EntryKind::File) return;
  if (previous.whole()) {
    const FileOutcome copied = copyVerified(previous.bytes, sheetFile);
    if (copied == FileOutcome::Done || copied == FileOutcome::NameTaken) return;
  }
  const FileOutcome moved = files().move(backup, sheetFile);
  if (moved == FileOutcome::Done || moved == FileOutcome::NameTaken) return;
  throw NotNow{};
}

// Whether a recovery sheet was ever started for the image: once one exists, every
// later load uses it, also after the recovery sheet itself was found damaged and
// kept aside (its kept copies or its backup remain).
bool SheetStore::recoveryStarted() {
  const std::filesystem::path recovery = recoveryPath();
  for (const auto& name : {recovery, withSuffix(recovery, ".bak")}) {
    const EntryKind kind = files().entryAt(name);
    if (kind == EntryKind::Unknown) throw NotNow{};
    if (kind != EntryKind::None) return true;
  }
  return !keptCopiesOf(recovery).empty();
}

// A file under the active sheet's temporary name is no file of this run (the
// store removes its own after each save): a version a process wrote before it ended,
// or a copy cut short. It is kept aside now, so that the save that meets it only
// removes a file whose bytes are kept.
void SheetStore::keepStrayTemporary() {
  const std::filesystem::path temporary = withSuffix(activePath(), ".tmp");
  const Found there = look(files(), temporary);
  if (there.kind == EntryKind::File) keep(temporary, there, true);
}

LoadOutcome SheetStore::loadFiles(ObservationSheet& sheet) {
  const std::filesystem::path recovery = recoveryPath();
  // The recovery path always derives from the main sheet's path.
  restoreInterruptedReplacement(recovery);
  onRecovery_ = recoveryStarted();
  if (!onRecovery_) restoreInterruptedReplacement(mainPath_);

  const std::filesystem::path failed = onRecovery_ ? recovery : mainPath_;
  const Found found = look(files(), failed);
  if (found.kind == EntryKind::None && files().entryAt(withSuffix(failed, ".bak")) != EntryKind::None) {
    // The backup was just put back under the sheet's name, or the sheet was there a
    // moment ago: it is moving, so nothing is concluded now.
    throw NotNow{};
  }
  if (found.kind == EntryKind::None) {
    state_ = SheetState::Active;
    activeKnown_ = true;
    keepStrayTemporary();
    // The recovery sheet was kept aside and nothing took its place: the image goes
    // on in a new recovery sheet, never in the main sheet or its backup.
    return onRecovery_ ? LoadOutcome::RecoverySheetActive : LoadOutcome::Loaded;
  }
  if (sheetOfImage(found, image_, sheet)) {
    state_ = SheetState::Active;
    activeKnown_ = true;
    activeBytes_ = found.bytes;
    keepStrayTemporary();
    return LoadOutcome::Loaded;
  }

  // Damaged. The main sheet is never written again once it failed, so a copy of it
  // is a courtesy; a recovery sheet that failed is the one the next saves replace,
  // so it must be kept aside before any of them runs.
  const bool failedIsRecovery = onRecovery_;
  const Keep keptFailed = keep(failed, found, failedIsRecovery);
  if (failedIsRecovery && keptFailed == Keep::Failed) throw NotNow{};

  const std::filesystem::path backup = withSuffix(failed, ".bak");
  const Found previous = look(files(), backup);
  ObservationSheet recovered;
  const bool backupUsable = sheetOfImage(previous, image_, recovered);
  // A recovery sheet's own backup is replaced by the next saves into that sheet, so
  // one that cannot be used is kept as well. The main sheet's backup is never
  // written again and needs no copy.
  if (!backupUsable && failedIsRecovery && previous.kind != EntryKind::None &&
      keep(backup, previous, true) == Keep::Failed) {
    throw NotNow{};
  }

  onRecovery_ = true;
  if (failedIsRecovery) {
    // Its bytes are kept: the store may replace them (or they were moved aside).
    if (keptFailed == Keep::Moved) {
      activeBytes_.reset();
    } else {
      activeBytes_ = found.bytes;
    }
  } else {
    // Nothing was at the recovery path a moment ago; whatever appeared there since
    // is kept before the store writes there.
    const Found there = look(files(), recovery);
    if (there.kind == EntryKind::Other) throw NotNow{};
    if (there.kind == EntryKind::File) {
      const Keep kept = keep(recovery, there, true);
      if (kept == Keep::Failed) throw NotNow{};
      if (kept == Keep::Copied) activeBytes_ = there.bytes;
    }
  }
  activeKnown_ = true;
  state_ = SheetState::Active;
  keepStrayTemporary();

  if (backupUsable) {
    sheet = std::move(recovered);
    return save(sheet) == SaveOutcome::Failed ? LoadOutcome::BackupRecoveredUnsaved : LoadOutcome::BackupRecovered;
  }
  sheet = freshSheet(image_);
  return LoadOutcome::RecoverySheetActive;
}

std::vector<std::filesystem::path> SheetStore::keptCopiesOf(const std::filesystem::path& file) {
  std::filesystem::path::string_type prefix = withSuffix(file.filename(), ".damaged-").native();
  std::vector<std::filesystem::path> copies;
  for (const std::filesystem::path& name : files().names(file.parent_path())) {
    if (isKeptCopyName(name.native(), prefix)) copies.push_back(file.parent_path() / name);
  }
  return copies;
}

// Writes `bytes` under `finalName`, which must not exist: first under a temporary
// name, flushed and read back, and only then renamed to the final name, so that a
// crash or a write cut short never leaves a partial copy under a name that looks
// kept. NameTaken when the final name exists.
FileOutcome SheetStore::copyVerified(const std::string& bytes, const std::filesystem::path& finalName) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    const std::filesystem::path part =
        withSuffix(finalName, attempt == 0 ? std::string(".part") : ".part" + std::to_string(attempt));
    const FileOutcome written = files().writeNew(part, bytes);
    if (written == FileOutcome::NameTaken) continue;
    if (written != FileOutcome::Done) return written;
    std::string back;
    if (files().read(part, kReadLimit, back) != FileOutcome::Done || back != bytes) {
      files().remove(part);
      return FileOutcome::Failed;
    }
    const FileOutcome moved = files().move(part, finalName);
    if (moved != FileOutcome::Done) files().remove(part);
    return moved;
  }
  return FileOutcome::Failed;
}

// Keeps the bytes found in `file` under a name of its own: the file's name,
// ".damaged-", the Unix time and, when that name is taken, "-" and a counter. An
// identical kept copy counts (an unchanged damaged sheet is met again after every
// restore from the notification area). A file that later writes would replace
// (`inTheWay`) and that cannot be copied (a full disk, a file too large to hold in
// memory whole) is renamed instead: a rename on the same volume keeps every byte
// and needs no space. A file nothing will write over stays where it is when it
// cannot be copied.
SheetStore::Keep SheetStore::keep(const std::filesystem::path& file, const Found& found, bool inTheWay) {
  if (found.kind != EntryKind::File) return Keep::Failed;
  if (!found.whole() && !inTheWay) return Keep::Failed;
  const std::vector<std::filesystem::path> copies = keptCopiesOf(file);
  if (found.whole()) {
    for (const std::filesystem::path& copy : copies) {
      std::string bytes;
      if (files().read(copy, kReadLimit, bytes) == FileOutcome::Done && bytes == found.bytes) return Keep::Copied;
    }
  }
  const std::string stamp = ".damaged-" + std::to_string(unixNow_());
  for (int counter = 0; counter < 10 + static_cast<int>(copies.size()); ++counter) {
    const std::filesystem::path name = withSuffix(file, counter == 0 ? stamp : stamp + "-" + std::to_string(counter));
    if (files().entryAt(name) != EntryKind::None) continue;
    if (found.whole()) {
      const FileOutcome copied = copyVerified(found.bytes, name);
      if (copied == FileOutcome::Done) return Keep::Copied;
      if (copied == FileOutcome::NameTaken) continue;
      if (!inTheWay) return Keep::Failed;
    }
    const FileOutcome moved = files().move(file, name);
    if (moved == FileOutcome::Done) return Keep::Moved;
    if (moved != FileOutcome::NameTaken) return Keep::Failed;
  }
  return Keep::Failed;
}

bool SheetStore::matchesKnown(const Found& found) const {
  if (!activeKnown_) return false;
  if (found.kind == EntryKind::None) return !activeBytes_.has_value();
  return found.kind == EntryKind::File && activeBytes_.has_value() && found.whole() && found.bytes == *activeBytes_;
}

// A file under the temporary name that the store did not write (a crash's leftover,
// a newer version written by a process that ended before its replacement, another
// program's file) is kept before it is removed.
bool SheetStore::clearTemporary(const std::filesystem::path& temporary) {
  const Found there = look(files(), temporary);
  if (there.kind == EntryKind::None) return true;
  if (there.kind == EntryKind::Other) return false;
  const bool ours = ownTemporary_.has_value() && there.whole() && there.bytes == *ownTemporary_;
  if (!ours) {
    const Keep kept = keep(temporary, there, true);
    if (kept == Keep::Failed) return false;
    if (kept == Keep::Moved) return true;
  }
  const FileOutcome removed = files().remove(temporary);
  if (removed != FileOutcome::Done && removed != FileOutcome::Missing) return false;
  ownTemporary_.reset();
  return true;
}

SaveOutcome SheetStore::save(const ObservationSheet& sheet) {
  if (state_ != SheetState::Active) return SaveOutcome::Failed;
  try {
    return saveFiles(sheet);
  } catch (...) {
    // What is on disk is checked again before the next write.
    return SaveOutcome::Failed;
  }
}

SaveOutcome SheetStore::saveFiles(const ObservationSheet& sheet) {
  const std::string text = printSheet(sheet);
  // The folder may have been removed while the program runs: it is made again. If
  // that fails, the write below fails.
  files().makeFolder(folder_);

  // The active sheet must still hold what the store last read or wrote there.
  // Another program may have changed, replaced or removed it: its version is kept
  // under a name of its own and, for the main sheet, the notes go on in the
  // recovery sheet, so that both versions stay on disk.
  bool besideAnother = false;
  for (int round = 0; round < 2; ++round) {
    const Found now = look(files(), activePath());
    if (matchesKnown(now)) break;
    if (now.kind == EntryKind::Other) return SaveOutcome::Failed;
    if (now.kind == EntryKind::None || (attempted_ && now.whole() && now.bytes == *attempted_)) {
      // Removed, or the store's own earlier write whose success it did not see.
      activeBytes_ = now.kind == EntryKind::None ? std::nullopt : std::optional<std::string>(now.bytes);
      activeKnown_ = true;
      break;
    }
    // The main sheet is not written again, so its other version stays in place even
    // where no copy of it can be made; a recovery sheet is replaced next, so it must
    // be kept first.
    const Keep kept = keep(activePath(), now, onRecovery_);
    if (kept == Keep::Failed && onRecovery_) return SaveOutcome::Failed;
    besideAnother = true;
    if (onRecovery_) {
      activeBytes_ = kept == Keep::Copied ? std::optional<std::string>(now.bytes) : std::nullopt;
      activeKnown_ = true;
      break;
    }
    // The recovery sheet takes the notes; it is looked at in the next round.
    onRecovery_ = true;
    activeKnown_ = false;
  }
  if (!activeKnown_) return SaveOutcome::Failed;

  const std::filesystem::path target = activePath();
  const std::filesystem::path temporary = withSuffix(target, ".tmp");
  if (!clearTemporary(temporary)) return SaveOutcome::Failed;

  attempted_ = text;
  const FileOutcome written = files().writeNew(temporary, text);
  if (written != FileOutcome::Done) {
    // The name was free a moment ago, so whatever is there now is the store's own
    // incomplete file (unless another program just took the name).
    if (written != FileOutcome::NameTaken) files().remove(temporary);
    return SaveOutcome::Failed;
  }
  // The new version is read back before it replaces the sheet: a write cut short
  // can be reported as complete.
  std::string back;
  if (files().read(temporary, kReadLimit, back) != FileOutcome::Done || back != text) {
    files().remove(temporary);
    ownTemporary_.reset();
    return SaveOutcome::Failed;
  }
  ownTemporary_ = text;

  const FileOutcome placed = activeBytes_.has_value()
                                 ? files().replace(target, temporary, withSuffix(target, ".bak"))
                                 : files().move(temporary, target);
  const auto succeeded = [&] {
    activeBytes_ = text;
    activeKnown_ = true;
    attempted_.reset();
    if (files().entryAt(temporary) == EntryKind::None) ownTemporary_.reset();
    return besideAnother ? SaveOutcome::SavedBesideAnotherVersion : SaveOutcome::Saved;
  };
  if (placed == FileOutcome::Done) return succeeded();

  // The replacement failed: find out where things stand.
  const Found after = look(files(), target);
  if (after.kind == EntryKind::None) {
    // It stopped after moving the previous version to the backup name: the new one
    // takes the sheet's name, which completes the replacement.
    if (files().move(temporary, target) == FileOutcome::Done) return succeeded();
    activeBytes_.reset();
    activeKnown_ = true;
    return SaveOutcome::Failed;
  }
  if (after.whole() && after.bytes == text) return succeeded();
  if (!matchesKnown(after)) activeKnown_ = false;
  if (files().remove(temporary) == FileOutcome::Done) ownTemporary_.reset();
  return SaveOutcome::Failed;
}

}  // namespace tessary

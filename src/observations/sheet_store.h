#pragma once
// The sheet files of the images: bounded reading, loading with recovery that never
// overwrites damaged data, and saving by verified replacement.
//
// One rule guards every write: the store replaces, renames over or deletes a sheet
// (the main sheet or the recovery sheet) or a temporary file only when the bytes
// there are bytes it read or wrote itself; anything else found there (another
// program's version, a file changed or cut short behind the store's back) is kept
// first under a name of its own. The backup (".bak") is the store's own rotation.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "observations/file_access.h"
#include "observations/observation_sheet.h"

namespace tessary {

// Large enough for every sheet the program writes.
inline constexpr std::uintmax_t kSheetFileLimit = maxPrintedSheetBytes();

// Reads and converts a sheet file through the platform's files; raises "Cannot read
// sheet" when it cannot be read whole within the limit.
ObservationSheet readSheetFile(const std::filesystem::path& path);

// The image a sheet belongs to.
struct SheetImage {
  std::string sha256;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Where the store stands for the current image.
enum class SheetState {
  NoImage,             // nothing loaded
  StorageUnavailable,  // no data folder: nothing is read or written
  Waiting,             // a file was held, vanished meanwhile or could not be judged: tried again
  Active,              // the active sheet is known; saves go there
};

// What a load found; the window code turns it into the status line.
enum class LoadOutcome {
  Loaded,               // the sheet was read (or there is none yet)
  BackupRecovered,      // the sheet was damaged; its backup is the current sheet, saved to the recovery sheet
  BackupRecoveredUnsaved,  // as above, but the save to the recovery sheet failed: the sheet is only in memory
  RecoverySheetActive,  // nothing usable: an empty recovery sheet takes over; the original files are kept
  Waiting,              // nothing can be known yet (a file held or vanishing): nothing may be written
  StorageUnavailable,   // no data folder
};

enum class SaveOutcome {
  Saved,
  // Another program had changed the active sheet: its version was kept under a
  // name of its own and the notes went to the recovery sheet (or the recovery sheet
  // took them after its changed version was kept).
  SavedBesideAnotherVersion,
  Failed,
};

namespace sheet_store_detail {
// What is under a name: nothing, a file and its first bytes, or something that is
// no file.
struct Found {
  EntryKind kind = EntryKind::None;
  std::string bytes;
  // A file read whole within the sheet limit.
  bool whole() const { return kind == EntryKind::File && bytes.size() <= kSheetFileLimit; }
};
}  // namespace sheet_store_detail

class SheetStore {
 public:
  explicit SheetStore(FileAccess* files = nullptr);

  // The clock for the names of kept copies (Unix seconds).
  void setClock(std::function<std::int64_t()> unixNow) { unixNow_ = std::move(unixNow); }
  void setFiles(FileAccess* files) { files_ = files; }

  // Forgets the current image.
  void clear();
  // Loads (or recovers) the sheet of `image` from `observationsFolder`. The sheet
  // to show is put in `sheet` (a fresh one whenever nothing could be read); when
  // the outcome is BackupRecovered the backup's sheet has already been saved.
  // Never raises: a failure it does not understand leaves the store Waiting.
  LoadOutcome load(const std::filesystem::path& observationsFolder, const SheetImage& image,
                   ObservationSheet& sheet);
  // The storage-unavailable state for `image`: nothing is read or written.
  void setStorageUnavailable(const SheetImage& image);
  // Saves `sheet` to the active sheet. Only while Active; never raises.
  SaveOutcome save(const ObservationSheet& sheet);

  SheetState state() const { return state_; }
  bool writable() const { return state_ == SheetState::Active; }
  // The active sheet's path (empty unless Active).
  std::filesystem::path activePath() const;
  std::filesystem::path mainPath() const { return mainPath_; }
  std::filesystem::path recoveryPath() const;

 private:
  using Found = sheet_store_detail::Found;
  // How the bytes of a file were kept: copied under a name of their own, or the file
  // itself renamed to one (too large to copy through memory).
  enum class Keep { Failed, Copied, Moved };

  FileAccess& files();
  LoadOutcome loadFiles(ObservationSheet& sheet);
  SaveOutcome saveFiles(const ObservationSheet& sheet);
  void restoreInterruptedReplacement(const std::filesystem::path& sheetFile);
  bool recoveryStarted();
  void keepStrayTemporary();
  Keep keep(const std::filesystem::path& file, const Found& found, bool inTheWay);
  FileOutcome copyVerified(const std::string& bytes, const std::filesystem::path& finalName);
  std::vector<std::filesystem::path> keptCopiesOf(const std::filesystem::path& file);
  bool matchesKnown(const Found& found) const;
  bool clearTemporary(const std::filesystem::path& temporary);

  FileAccess* files_;
  std::function<std::int64_t()> unixNow_;
  SheetState state_ = SheetState::NoImage;
  SheetImage image_;
  std::filesystem::path folder_;
  std::filesystem::path mainPath_;
  bool onRecovery_ = false;
  // What the store knows is at the active sheet's name: nothing (activeBytes_ empty)
  // or these bytes, which it read or wrote itself. When it does not know
  // (activeKnown_ false), the file is looked at and kept before any write.
  bool activeKnown_ = false;
  std::optional<std::string> activeBytes_;
  // The bytes of a temporary file the store wrote itself and has not removed.
  std::optional<std::string> ownTemporary_;
  // The text of a save whose outcome the store could not see.
  std::optional<std::string> attempted_;
};

}  // namespace tessary

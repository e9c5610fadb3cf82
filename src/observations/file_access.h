#pragma once
// The file operations the sheet store works through. Another program (a virus
// scanner, a backup tool, a sync client) may hold a file open without sharing it,
// or be in the middle of replacing it; such a file is "held": nothing may be
// concluded from it, and it is tried again later (by the next timer tick or the
// next save), never by waiting on the window's thread.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tessary {

enum class FileOutcome {
  Done,
  Held,       // another program holds the file, or it is being replaced or deleted
  Missing,    // nothing under that name (any more)
  NameTaken,  // the name asked to be new exists already
  Failed,     // anything else (a full disk, a broken device, a folder in the way)
};

// What a status query finds under a name.
enum class EntryKind {
  None,     // nothing
  File,     // a regular file
  Other,    // a folder or anything else that is no file
  Unknown,  // the query itself failed: nothing may be concluded
};

// The store's file system. The platform's implementation is platformFileAccess();
// tests put their own between the store and the disk.
class FileAccess {
 public:
  virtual ~FileAccess() = default;
  virtual EntryKind entryAt(const std::filesystem::path& path) = 0;
  // Reads the file's first `limit` bytes (all of it when shorter) into `bytes`,
  // opened for reading without sharing restrictions. `bytes` is empty unless Done.
  virtual FileOutcome read(const std::filesystem::path& path, std::size_t limit, std::string& bytes) = 0;
  // Creates a file that must not exist yet (NameTaken otherwise), writes every byte
  // and flushes it to the disk. A file it created and could not complete is removed
  // again.
  virtual FileOutcome writeNew(const std::filesystem::path& path, std::string_view bytes) = 0;
  // Replaces `target` by `replacement` in one step; the previous `target` is left
  // under `backup` (an older file there is replaced). A failure may leave `target`
  // missing with its previous content under `backup`.
  virtual FileOutcome replace(const std::filesystem::path& target, const std::filesystem::path& replacement,
                              const std::filesystem::path& backup) = 0;
  // Renames on the same volume, never replacing anything at `to` (NameTaken).
  virtual FileOutcome move(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  virtual FileOutcome remove(const std::filesystem::path& path) = 0;
  // The names in a folder as the platform gives them (never converted).
  virtual std::vector<std::filesystem::path> names(const std::filesystem::path& folder) = 0;
  // Makes the folder and those above it; true when it exists afterwards.
  virtual bool makeFolder(const std::filesystem::path& folder) = 0;
};

// The platform's files, shared by the whole program.
FileAccess& platformFileAccess();

// The plain operations behind the platform's FileAccess, also used by the
// replacement of export files.

// Reads the file's first `limit` bytes (all of it when shorter) into `bytes`; one
// attempt.
FileOutcome readFileUpTo(const std::filesystem::path& path, std::size_t limit, std::string& bytes);

// Copies `from` to `to`, which must not exist yet: every byte written and flushed.
// A copy that fails on the way is removed again. The copy's bytes are not read back
// here (see copyAside).
enum class CopyOutcome { Copied, NameTaken, Held, Failed };
CopyOutcome copyToNewFile(const std::filesystem::path& from, const std::filesystem::path& to);

// copyToNewFile, then the copy is kept only when what is on disk, read back, has
// the size and the bytes of `from`; otherwise it is removed and the answer is Failed.
// No single library call's success is trusted for a copy that guards user data: a
// copy cut short by a full disk can be reported as complete.
CopyOutcome copyAside(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes the folder and those above it; true when it exists afterwards.
bool makeFolderTree(const std::filesystem::path& folder);

// Whether two files hold the same bytes (false when either cannot be read).
bool sameBytes(const std::filesystem::path& first, const std::filesystem::path& second);

// Renames `from` to `to` on the same volume, which needs no free space; fails
// rather than replace anything already at `to`. One attempt.
FileOutcome moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace tessary

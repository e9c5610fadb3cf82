// The native build's file replacement, with the same observable result as the
// Windows one: after success the target holds the new bytes and, when asked, the
// ".bak" holds the previous ones; after failure the target is unchanged and the
// temporary file is gone. A crash at any moment leaves the old or the new target.
#include "observations/atomic_file.h"
#include "observations/file_access.h"
#include "observations/file_descriptor_posix.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tessary {

namespace {

using posixfile::Descriptor;

bool writeAll(int fd, std::string_view bytes) { return posixfile::writeAll(fd, bytes.data(), bytes.size()); }

// Makes a completed rename durable.
void syncFolder(const std::filesystem::path& target) {
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());
}

// Leaves the target's current content under the backup name: a second link to the
// same file, or, where links are not supported, a copy that is kept only when it
// holds every byte.
bool makeBackup(const std::string& target, const std::string& backup) {
  if (::unlink(backup.c_str()) != 0 && errno != ENOENT) return false;
  if (::link(target.c_str(), backup.c_str()) == 0) return true;
  return copyAside(target, backup) == CopyOutcome::Copied;
}

}  // namespace

bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes, bool keepBackup) {
  const std::string targetName = target.native();
  const std::string temporary = targetName + ".tmp";
  const std::string backup = targetName + ".bak";

  {
    Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (!file.valid()) return false;
    const bool written = writeAll(file.get(), bytes) && ::fsync(file.get()) == 0;
    if (!file.close() || !written) {
      ::unlink(temporary.c_str());
      return false;
    }
  }

  struct stat existing {};
  bool moved = false;
  if (::stat(targetName.c_str(), &existing) != 0) {
    // Never replaces a file that appeared meanwhile.
    moved = moveWithoutReplacing(temporary, target) == FileOutcome::Done;
  } else if (S_ISREG(existing.st_mode) && (existing.st_mode & 0222) != 0) {
    // A target without any write permission counts as read-only, as the read-only
    // attribute does on Windows: it is never replaced.
    moved = (!keepBackup || makeBackup(targetName, backup)) &&
            ::rename(temporary.c_str(), targetName.c_str()) == 0;
  }
  if (!moved) {
    ::unlink(temporary.c_str());
    return false;
  }
  syncFolder(target);
  return true;
}

}  // namespace tessary

#pragma once
// A file system for tests of the sheet store: the platform's files, with a failure
// a real machine gives put in place of the N-th operation.
#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "observations/file_access.h"

namespace tessary::testing {

enum class Fault {
  None,
  Held,          // another program holds the file: nothing happens
  NotFound,      // the name is answered as missing: nothing happens
  AccessDenied,  // refused (a file pending deletion, missing rights): nothing happens
  DiskFull,      // a write stores part of its bytes and fails; other operations fail
  ShortWrite,    // a write stores part of its bytes and reports success
  RenameHalfDone,  // a replacement moves the old file to the backup name and stops
  Exception,     // the call raises (out of memory, a conversion nobody foresaw)
  ProcessEnds,   // the process ends here: this and every later operation does nothing
};

inline const char* faultName(Fault fault) {
  switch (fault) {
    case Fault::None: return "none";
    case Fault::Held: return "held";
    case Fault::NotFound: return "not found";
    case Fault::AccessDenied: return "access denied";
    case Fault::DiskFull: return "disk full";
    case Fault::ShortWrite: return "short write reported complete";
    case Fault::RenameHalfDone: return "replacement stopped half way";
    case Fault::Exception: return "exception";
    case Fault::ProcessEnds: return "process ends";
  }
  return "?";
}

class FaultyFiles final : public FileAccess {
 public:
  // The fault answers the `at`-th operation (counted from 1); 0 never.
  FaultyFiles(std::size_t at = 0, Fault fault = Fault::None) : at_(at), fault_(fault) {}

  std::size_t operations() const { return count_; }
  bool ended() const { return ended_; }
  // What the fault answered, for the test's message.
  std::string struck;

  EntryKind entryAt(const std::filesystem::path& path) override {
    switch (next("entryAt", path)) {
      case Fault::None: return real().entryAt(path);
      case Fault::NotFound: return EntryKind::None;
      default: return EntryKind::Unknown;
    }
  }

  FileOutcome read(const std::filesystem::path& path, std::size_t limit, std::string& bytes) override {
    bytes.clear();
    const Fault fault = next("read", path);
    if (fault == Fault::None) return real().read(path, limit, bytes);
    if (fault == Fault::ShortWrite || fault == Fault::DiskFull) {
      // A read that fails part way.
      return FileOutcome::Failed;
    }
    return outcomeOf(fault);
  }

  FileOutcome writeNew(const std::filesystem::path& path, std::string_view bytes) override {
    const Fault fault = next("writeNew", path);
    if (fault == Fault::None) return real().writeNew(path, bytes);
    if (fault == Fault::DiskFull || fault == Fault::ShortWrite) {
      // Part of the bytes reach the disk; a full disk reports it, a faulty device
      // or driver does not, and nobody removes the part.
      const FileOutcome written = real().writeNew(path, bytes.substr(0, bytes.size() / 2));
      if (written != FileOutcome::Done) return written;
      return fault == Fault::ShortWrite ? FileOutcome::Done : FileOutcome::Failed;
    }
    return outcomeOf(fault);
  }

  FileOutcome replace(const std::filesystem::path& target, const std::filesystem::path& replacement,
                      const std::filesystem::path& backup) override {
    const Fault fault = next("replace", target);
    if (fault == Fault::None) return real().replace(target, replacement, backup);
    if (fault == Fault::RenameHalfDone) {
      // The previous file is under the backup name, the replacement still under its
      // own: the target's name is empty.
      std::error_code ec;
      std::filesystem::rename(target, backup, ec);
      return FileOutcome::Failed;
    }
    return outcomeOf(fault);
  }

  FileOutcome move(const std::filesystem::path& from, const std::filesystem::path& to) override {
    const Fault fault = next("move", from);
    if (fault == Fault::None) return real().move(from, to);
    if (fault == Fault::RenameHalfDone) {
      // A rename that fails after the copy: the file is under both names.
      std::error_code ec;
      std::filesystem::copy_file(from, to, ec);
      return FileOutcome::Failed;
    }
    return outcomeOf(fault);
  }

  FileOutcome remove(const std::filesystem::path& path) override {
    const Fault fault = next("remove", path);
    if (fault == Fault::None) return real().remove(path);
    return outcomeOf(fault);
  }

  std::vector<std::filesystem::path> names(const std::filesystem::path& folder) override {
    const Fault fault = next("names", folder);
    if (fault == Fault::None) {
      std::vector<std::filesystem::path> found = real().names(folder);
      // A name that holds no valid text (an unpaired surrogate on Windows, bytes
      // that are no UTF-8 here) is only another name.
      found.emplace_back(std::string("\xff\xfe-not-text.json.damaged-1"));
      return found;
    }
    if (fault == Fault::NotFound) return {};
    return {};
  }

  bool makeFolder(const std::filesystem::path& folder) override {
    const Fault fault = next("makeFolder", folder);
    if (fault == Fault::None) return real().makeFolder(folder);
    return false;
  }

 private:
  static FileAccess& real() { return platformFileAccess(); }

  static FileOutcome outcomeOf(Fault fault) {
    switch (fault) {
      case Fault::Held:
      case Fault::AccessDenied: return FileOutcome::Held;
      case Fault::NotFound: return FileOutcome::Missing;
      default: return FileOutcome::Failed;
    }
  }

  Fault next(const char* operation, const std::filesystem::path& path) {
    ++count_;
    if (ended_) return Fault::ProcessEnds;
    if (count_ != at_ || fault_ == Fault::None) return Fault::None;
    struck = std::string(faultName(fault_)) + " at " + operation + " of " + path.filename().string();
    if (fault_ == Fault::ProcessEnds) {
      ended_ = true;
      return Fault::ProcessEnds;
    }
    if (fault_ == Fault::Exception) throw std::runtime_error("Injected failure");
    return fault_;
  }

  std::size_t at_;
  Fault fault_;
  std::size_t count_ = 0;
  bool ended_ = false;
};

}  // namespace tessary::testing

// Saves and loads against a full disk and a read-only folder, natively. A full disk
// is met through the process's file-size limit (writes beyond it fail with EFBIG
// once SIGXFSZ is ignored); a read-only folder through the immutable attribute,
// which binds root as well (write permissions do not), or, where the attribute
// cannot be set, through taking the write permission away from a non-root user.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <set>
#include <string>

#include "app/session_state.h"
#include "observations/file_access.h"
#include "observations/observation_sheet.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"
#include "observations/sheet_test_files.h"
#include "support/rules_session.h"
#include "text/ui_strings.h"

namespace tessary {
namespace {

using testing::namesIn;
using testing::readBytes;
using testing::RulesSession;
using testing::withSuffix;
using testing::writeFile;

// Files this process writes cannot grow beyond `bytes` while the scope lasts.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    applied_ = setrlimit(RLIMIT_FSIZE, &limited) == 0;
  }
  ~FileSizeLimit() { lift(); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool applied() const { return applied_; }
  void lift() {
    if (!applied_) return;
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previousHandler_);
    applied_ = false;
  }

 private:
  rlimit saved_{};
  void (*previousHandler_)(int) = SIG_DFL;
  bool applied_ = false;
};

// Makes a file or folder unchangeable with the immutable attribute: no entry can be
// created, renamed or removed in an immutable folder, and an immutable file can be
// neither renamed nor written, even by root. Without the right to set the
// attribute, a non-root user gets a folder without write permission instead.
class Unchangeable {
 public:
  explicit Unchangeable(std::filesystem::path path) : path_(std::move(path)) {
    if (setImmutable(true)) {
      how_ = How::Immutable;
    } else if (::geteuid() != 0 && std::filesystem::is_directory(path_) && ::chmod(path_.c_str(), 0555) == 0) {
      how_ = How::Permissions;
    }
  }
  ~Unchangeable() { undo(); }
  Unchangeable(const Unchangeable&) = delete;
  Unchangeable& operator=(const Unchangeable&) = delete;
  bool applied() const { return how_ != How::None; }
  void undo() {
    if (how_ == How::Immutable) setImmutable(false);
    if (how_ == How::Permissions) ::chmod(path_.c_str(), 0755);
    how_ = How::None;
  }

 private:
  enum class How { None, Immutable, Permissions };
  bool setImmutable(bool on) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
  }
  std::filesystem::path path_;
  How how_ = How::None;
};

ObservationSheet sheetWithNotes(const Session& session, int markers, std::size_t noteLength) {
  ObservationSheet sheet;
  sheet.imageSHA256 = session.currentImage->sha256;
  sheet.width = session.currentImage->width;
  sheet.height = session.currentImage->height;
  sheet.nextId = markers + 1;
  for (int id = 1; id <= markers; ++id) {
    sheet.marks.push_back({id, 1.5 * id, 2.5 * id, std::string(noteLength, static_cast<char>('a' + id % 26)),
                           1700000000 + id});
  }
  return sheet;
}

void expectCouldNotSave(const Session& session) {
  EXPECT_TRUE(session.dirty);
  EXPECT_EQ(session.statusText, uiText(Language::English, 27));
  EXPECT_TRUE(session.statusIsError);
}

// The two obstacles a save can meet: no space for the new version, and a folder
// that takes no new file.
TEST(SheetStorePosix, FullDiskOrReadOnlyFolderKeepsTheOldSheetAndTheNextSaveSucceeds) {
  for (const bool fullDisk : {true, false}) {
    SCOPED_TRACE(fullDisk ? "full disk" : "read-only folder");
    RulesSession rules;
    Session& session = rules.session;
    const auto folder = rules.folder.path() / "observations";
    session.sheet = sheetWithNotes(session, 2, 10);
    session.dirty = true;
    ASSERT_TRUE(saveSheet(session));
    const std::string older = readBytes(session.sheetPath);
    session.sheet = sheetWithNotes(session, 3, 20);
    session.dirty = true;
    ASSERT_TRUE(saveSheet(session));
    const std::string saved = readBytes(session.sheetPath);

    // The next version is larger than the space left.
    const ObservationSheet next = sheetWithNotes(session, 40, 300);
    const std::string nextText = printSheet(next);
    ASSERT_GT(nextText.size(), 4096u);
    {
      FileSizeLimit limit(4096);
      Unchangeable readOnly(folder);
      if (fullDisk) {
        readOnly.undo();
        ASSERT_TRUE(limit.applied());
      } else {
        limit.lift();
        if (!readOnly.applied()) GTEST_SKIP() << "no way to make a folder read-only for this user";
      }
      for (int attempt = 0; attempt < 2; ++attempt) {
        session.sheet = next;
        session.dirty = true;
        session.statusText.clear();
        EXPECT_FALSE(saveSheet(session));
        expectCouldNotSave(session);
        EXPECT_EQ(readBytes(session.sheetPath), saved);
        EXPECT_EQ(readBytes(withSuffix(session.sheetPath, ".bak")), older);
        EXPECT_EQ(namesIn(folder), (std::set<std::string>{session.sheetPath.filename().string(),
                                                          session.sheetPath.filename().string() + ".bak"}));
      }
    }
    // Space (or write access) is back: the changes still in memory are saved.
    ASSERT_TRUE(saveSheet(session));
    EXPECT_FALSE(session.dirty);
    EXPECT_EQ(session.statusText, uiText(Language::English, 29));
    EXPECT_EQ(readBytes(session.sheetPath), nextText);
    EXPECT_EQ(readBytes(withSuffix(session.sheetPath, ".bak")), saved);
  }
}

struct DamagedRecoverySheet {
  explicit DamagedRecoverySheet(RulesSession& rules) : session(rules.session) {
    folder = rules.folder.path() / "observations";
    main = session.sheetPath;
    recovery = withSuffix(main, ".recovery.json");
    stamp = ".damaged-" + std::to_string(rules.seconds);
    writeFile(main, "not a sheet");
    // A damaged recovery sheet larger than the space left, and a good backup of it.
    damaged = "{\"format\": \"Tessary\", " + std::string(20000, ' ') + "\"version\": 1";
    writeFile(recovery, damaged);
    backup = printSheet(sheetWithNotes(session, 2, 10));
    writeFile(withSuffix(recovery, ".bak"), backup);
  }
  std::string name(const std::filesystem::path& path) const { return path.filename().string(); }

  Session& session;
  std::filesystem::path folder, main, recovery;
  std::string stamp, damaged, backup;
};

TEST(SheetStorePosix, DamagedRecoverySheetThatCannotBeCopiedIsMovedAside) {
  RulesSession rules;
  DamagedRecoverySheet files(rules);
  Session& session = rules.session;
  {
    FileSizeLimit limit(8192);
    ASSERT_TRUE(limit.applied());
    loadSheetForImage(session);
  }
  EXPECT_EQ(session.statusText, uiText(Language::English, 40));
  EXPECT_EQ(session.sheetPath, files.recovery);
  EXPECT_FALSE(session.dirty);
  // The damaged sheet kept all its bytes under its ".damaged-" name; the recovered
  // backup became the recovery sheet, whose first save made no backup.
  EXPECT_EQ(readBytes(withSuffix(files.recovery, files.stamp)), files.damaged);
  EXPECT_EQ(readBytes(files.recovery), files.backup);
  EXPECT_EQ(readBytes(withSuffix(files.recovery, ".bak")), files.backup);
  EXPECT_EQ(namesIn(files.folder),
            (std::set<std::string>{files.name(files.main),
                                   files.name(files.recovery), files.name(files.recovery) + ".bak",
                                   files.name(files.recovery) + files.stamp}));
}

TEST(SheetStorePosix, DamagedRecoverySheetThatCannotBeKeptAsideIsNeverWrittenOver) {
  RulesSession rules;
  DamagedRecoverySheet files(rules);
  Session& session = rules.session;
  FileSizeLimit limit(8192);
  ASSERT_TRUE(limit.applied());
  Unchangeable pinned(files.recovery);  // cannot be renamed
  if (!pinned.applied()) GTEST_SKIP() << "the immutable attribute cannot be set here";

  loadSheetForImage(session);
  // Nothing may be written while the damaged sheet is neither copied nor moved
  // aside: the image waits as if its sheet were held, and no file changes.
  EXPECT_TRUE(sheetWaiting(session));
  EXPECT_TRUE(session.sheetPath.empty());
  EXPECT_EQ(session.statusText, uiText(Language::English, 27));
  for (int attempt = 0; attempt < 3; ++attempt) {
    retryHeldSheet(session);
    EXPECT_TRUE(sheetWaiting(session));
    session.sheet.marks.push_back({session.sheet.nextId, 3.0, 4.0, "more", 1700000000});
    session.sheet.nextId += 1;
    session.dirty = true;
    EXPECT_FALSE(saveSheet(session));
    expectCouldNotSave(session);
  }
  EXPECT_EQ(readBytes(files.recovery), files.damaged);
  EXPECT_EQ(readBytes(withSuffix(files.recovery, ".bak")), files.backup);
  EXPECT_EQ(namesIn(files.folder),
            (std::set<std::string>{files.name(files.main),
                                   files.name(files.recovery), files.name(files.recovery) + ".bak"}));

  // Once the file can be moved, the timer's next try keeps it aside first, then
  // the backup is recovered into the recovery sheet.
  pinned.undo();
  retryHeldSheet(session);
  EXPECT_FALSE(sheetWaiting(session));
  EXPECT_EQ(session.statusText, uiText(Language::English, 40));
  EXPECT_EQ(readBytes(withSuffix(files.recovery, files.stamp)), files.damaged);
  EXPECT_EQ(readBytes(files.recovery), files.backup);
}

// A copy that guards user data counts only when all of it is on disk: cut short
// by a full disk it is removed, never left looking like a kept copy.
TEST(SheetStorePosix, CopyCutShortIsRemovedAndNeverCounts) {
  RulesSession rules;
  const auto folder = rules.folder.path() / "observations";
  const auto source = folder / "damaged.json";
  const std::string bytes(20000, 'd');
  writeFile(source, bytes);
  {
    FileSizeLimit limit(8192);
    ASSERT_TRUE(limit.applied());
    EXPECT_EQ(copyToNewFile(source, folder / "first"), CopyOutcome::Failed);
    EXPECT_EQ(copyAside(source, folder / "second"), CopyOutcome::Failed);
  }
  EXPECT_EQ(namesIn(folder), (std::set<std::string>{"damaged.json"}));

  writeFile(folder / "taken", "an earlier copy");
  EXPECT_EQ(copyAside(source, folder / "taken"), CopyOutcome::NameTaken);
  EXPECT_EQ(readBytes(folder / "taken"), "an earlier copy");
  EXPECT_EQ(copyAside(source, folder / "copy"), CopyOutcome::Copied);
  EXPECT_EQ(readBytes(folder / "copy"), bytes);
}

// Killed between the two renames of a replacement, with the disk full: the previous
// version cannot be copied back under the sheet's name, so the backup itself is
// moved there (a rename needs no space). The image opens with its markers, and the
// next saves replace nothing that holds them.
TEST(SheetStorePosix, InterruptedReplacementOnAFullDiskPutsTheBackupBack) {
  RulesSession rules;
  Session& session = rules.session;
  const auto main = session.sheetPath;
  const std::string previous = printSheet(sheetWithNotes(session, 30, 400));
  ASSERT_GT(previous.size(), 8192u);
  writeFile(withSuffix(main, ".bak"), previous);
  {
    FileSizeLimit limit(8192);
    ASSERT_TRUE(limit.applied());
    session.statusText = u"string 25";
    loadSheetForImage(session);
  }
  EXPECT_EQ(session.statusText, u"string 25");
  EXPECT_EQ(session.sheetPath, main);
  EXPECT_EQ(printSheet(session.sheet), previous);
  EXPECT_EQ(readBytes(main), previous);

  session.sheet.marks.pop_back();
  session.dirty = true;
  ASSERT_TRUE(saveSheet(session));
  EXPECT_EQ(readBytes(withSuffix(main, ".bak")), previous);
}

// A damaged recovery sheet that could not be copied was moved aside, and its backup
// is damaged too: a new recovery sheet starts empty. Every later load of the image
// stays with the recovery sheet; the main sheet's older backup is never taken up.
TEST(SheetStorePosix, RecoverySheetMovedAsideStaysTheActiveSheet) {
  RulesSession rules;
  Session& session = rules.session;
  const auto folder = rules.folder.path() / "observations";
  const auto main = session.sheetPath;
  const auto recovery = withSuffix(main, ".recovery.json");
  const std::string stamp = ".damaged-" + std::to_string(rules.seconds);
  writeFile(main, "not a sheet");
  const std::string olderBackup = printSheet(sheetWithNotes(session, 1, 10));
  writeFile(withSuffix(main, ".bak"), olderBackup);
  const std::string damaged = "{\"format\": \"Tessary\", " + std::string(20000, ' ') + "\"version\": 1";
  writeFile(recovery, damaged);
  writeFile(withSuffix(recovery, ".bak"), "[\"damaged too\"]");
  {
    FileSizeLimit limit(8192);
    ASSERT_TRUE(limit.applied());
    loadSheetForImage(session);
  }
  EXPECT_EQ(session.statusText, uiText(Language::English, 41));
  EXPECT_EQ(readBytes(withSuffix(recovery, stamp)), damaged);
  EXPECT_FALSE(std::filesystem::exists(recovery));

  for (int load = 0; load < 2; ++load) {
    SCOPED_TRACE(load);
    rules.seconds += 60;
    session.statusText.clear();
    loadSheetForImage(session);
    EXPECT_EQ(session.sheetPath, recovery);
    EXPECT_EQ(session.sheet.marks.size(), 0u);
    EXPECT_EQ(session.statusText, uiText(Language::English, 41));
  }
  EXPECT_EQ(readBytes(main), "not a sheet");
  EXPECT_EQ(readBytes(withSuffix(main, ".bak")), olderBackup);
  for (const std::string& name : namesIn(folder)) {
    if (name == main.filename().string() + ".bak") continue;
    EXPECT_NE(readBytes(folder / name), olderBackup) << name;
  }

  // The first change goes to the recovery sheet.
  session.sheet.marks.push_back({1, 2.5, 3.5, "new", rules.seconds});
  session.sheet.nextId = 2;
  session.dirty = true;
  ASSERT_TRUE(saveSheet(session));
  EXPECT_EQ(readBytes(recovery), printSheet(session.sheet));
  EXPECT_EQ(readBytes(withSuffix(recovery, stamp)), damaged);
}

}  // namespace
}  // namespace tessary

// Sheet files held open by another program (a virus scanner, a backup tool) while
// the desk reads or preserves them.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/control_ids.h"
#include "app/mouse_rules.h"
#include "app/session_state.h"
#include "app/status_and_controls.h"
#include "observations/marker_editing.h"
#include "observations/observation_sheet.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"
#include "observations/sheet_test_files.h"
#include "support/held_file_win.h"
#include "text/child_process_win.h"
#include "support/rules_session.h"
#include "text/ui_strings.h"

namespace tessary {
namespace {

using testing::namesIn;
using testing::readBytes;
using testing::RulesSession;
using testing::withSuffix;
using testing::HeldFile;
using testing::writeFile;

ObservationSheet sheetFor(const Session& session, int markers) {
  ObservationSheet sheet;
  sheet.imageSHA256 = session.currentImage->sha256;
  sheet.width = session.currentImage->width;
  sheet.height = session.currentImage->height;
  sheet.nextId = markers + 1;
  for (int id = 1; id <= markers; ++id) sheet.marks.push_back({id, 1.5 * id, 2.5 * id, "note", 1700000000 + id});
  return sheet;
}

// A sheet held for a moment at the load is not waited for on the window's thread:
// the load ends at once with the image waiting for its notes, and the timer's next
// try reads them once the other program let go. Nothing is taken for damaged.
TEST(SheetStoreWindows, SheetHeldForAMomentIsReadByTheNextTickWithoutWaiting) {
  RulesSession rules;
  Session& session = rules.session;
  const std::string text = printSheet(sheetFor(session, 3));
  writeFile(session.sheetPath, text);
  const std::filesystem::path sheet = session.sheetPath;
  {
    HeldFile held(sheet, 0);
    ASSERT_TRUE(held.held());
    loadSheetForImage(session);
    EXPECT_TRUE(sheetWaiting(session));
  }
  session.statusText = u"string 25";
  rules.tick += 400;
  autosaveTick(session);
  EXPECT_FALSE(sheetWaiting(session));
  EXPECT_EQ(session.statusText, uiText(Language::English, 25));
  EXPECT_EQ(session.sheetPath, sheet);
  EXPECT_EQ(printSheet(session.sheet), text);
  EXPECT_EQ(namesIn(sheet.parent_path()), std::set<std::string>{sheet.filename().string()});
}

struct DamagedRecoverySheet {
  explicit DamagedRecoverySheet(RulesSession& rules) {
    folder = rules.folder.path() / "observations";
    main = rules.session.sheetPath;
    recovery = withSuffix(main, ".recovery.json");
    copy = withSuffix(recovery, ".damaged-" + std::to_string(rules.seconds));
    writeFile(main, "not a sheet");
    writeFile(recovery, damaged);
    backup = printSheet(sheetFor(rules.session, 2));
    writeFile(withSuffix(recovery, ".bak"), backup);
  }
  std::filesystem::path folder, main, recovery, copy;
  std::string damaged = "{\"format\": \"Tessary\", \"version\"";
  std::string backup;
};

// ------------------------------------------------ a sheet held at the load

// What a held sheet must leave: the image as if storage were unavailable, nothing
// written, and the could-not-save message on the status line.
void expectHeldState(RulesSession& rules) {
  Session& session = rules.session;
  EXPECT_TRUE(sheetWaiting(session));
  EXPECT_EQ(session.statusText, uiText(Language::English, 27));
  EXPECT_TRUE(session.statusIsError);
  EXPECT_TRUE(session.sheetPath.empty());
  EXPECT_TRUE(session.sheet.marks.empty());
  EXPECT_FALSE(session.dirty);
  EXPECT_FALSE(sheetStorable(session));
  // No marker can be added by a click in Mark mode, the note box stays disabled,
  // and a save has nothing to write (quitting and switching images stay possible).
  session.interactionMode = InteractionMode::Mark;
  EXPECT_EQ(decidePress(session, 40, 200).action, PressAction::Ignore);
  EXPECT_FALSE(controlEnabled(session, ID_NOTE_EDIT));
  EXPECT_TRUE(saveSheet(session));
  session.interactionMode = InteractionMode::Pan;
}

// A sheet file another program holds open without sharing for longer than the
// read's retries is not damaged: no copy, no recovery sheet, nothing written over
// it. The desk tries again on its timer, and once the file can be read the notes
// appear and work goes on in the same sheet.
TEST(SheetStoreWindows, SheetHeldByAnotherProgramIsNotDamagedAndIsReadOnceReleased) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> files;  // before the load
    std::string held;                          // the file another program holds open
    DWORD sharing;                             // what it shares
    std::string active;                        // the sheet once it was read
    int markers;                               // its markers
    std::optional<int> status;                 // the message of the load that succeeds
    std::set<std::string> createdWhileHeld;    // new files while held
  };
  RulesSession probe;
  const std::string main = probe.session.sheetPath.filename().string();
  const std::string recovery = main + ".recovery.json";
  const std::string three = printSheet(sheetFor(probe.session, 3));
  const std::string two = printSheet(sheetFor(probe.session, 2));
  const std::string stamp = ".damaged-" + std::to_string(probe.seconds);
  const std::vector<Case> cases = {
      {"main sheet", {{main, three}, {main + ".bak", two}}, main, 0, main, 3, std::nullopt, {}},
      {"main sheet, shared for writing only", {{main, three}}, main, FILE_SHARE_WRITE, main, 3, std::nullopt, {}},
      {"recovery sheet", {{main, "not a sheet"}, {recovery, three}, {recovery + ".bak", two}}, recovery, 0, recovery,
       3, std::nullopt, {}},
      // The held recovery sheet turns out damaged once it can be read: only then is
      // it kept aside and its backup recovered.
      {"damaged recovery sheet", {{main, two}, {recovery, "{\"format\""}, {recovery + ".bak", three}}, recovery, 0,
       recovery, 3, 40, {}},
      {"damaged recovery sheet, shared for deleting only", {{main, two}, {recovery, "{\"format\""},
       {recovery + ".bak", three}}, recovery, FILE_SHARE_DELETE, recovery, 3, 40, {}},
      // The main sheet is damaged; its backup, which would be recovered, is held.
      {"backup of a damaged main sheet", {{main, "not a sheet"}, {main + ".bak", two}}, main + ".bak", 0, recovery,
       2, 40, {main + stamp}},
      {"temporary file beside the main sheet", {{main, three}, {main + ".tmp", "cut sh"}}, main + ".tmp", 0, main, 3,
       std::nullopt, {}},
      // Killed between the renames: no main sheet, and the backup to put back is held.
      {"backup of an interrupted replacement", {{main + ".bak", three}}, main + ".bak", 0, main, 3, std::nullopt, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RulesSession rules;
    Session& session = rules.session;
    const auto folder = rules.folder.path() / "observations";
    for (const auto& [name, bytes] : c.files) writeFile(folder / name, bytes);
    std::set<std::string> before = namesIn(folder);

    HeldFile held(folder / c.held, c.sharing);
    ASSERT_TRUE(held.held());
    session.statusText = u"string 25";
    loadSheetForImage(session);
    expectHeldState(rules);
    // The timer's tries meet the file still held: nothing changes.
    for (int tick = 0; tick < 3; ++tick) {
      rules.tick += 400;
      autosaveTick(session);
      expectHeldState(rules);
    }
    std::set<std::string> whileHeld = before;
    whileHeld.insert(c.createdWhileHeld.begin(), c.createdWhileHeld.end());
    EXPECT_EQ(namesIn(folder), whileHeld);
    held.release();
    for (const auto& [name, bytes] : c.files) EXPECT_EQ(readBytes(folder / name), bytes) << name;

    rules.tick += 400;
    autosaveTick(session);
    EXPECT_FALSE(sheetWaiting(session));
    EXPECT_TRUE(sheetStorable(session));
    EXPECT_EQ(session.sheetPath, folder / c.active);
    EXPECT_EQ(session.sheet.marks.size(), static_cast<std::size_t>(c.markers));
    EXPECT_EQ(session.statusText, uiText(Language::English, c.status.value_or(25)));
    EXPECT_EQ(session.statusIsError, c.status.has_value());

    // Work goes on in the sheet that was read.
    session.interactionMode = InteractionMode::Mark;
    ASSERT_EQ(decidePress(session, 40, 200).action, PressAction::AddMarker);
    addMarkerAt(session, 5.0, 6.0);
    EXPECT_FALSE(session.dirty);
    EXPECT_EQ(readBytes(folder / c.active), printSheet(session.sheet));
    EXPECT_EQ(session.sheet.marks.size(), static_cast<std::size_t>(c.markers + 1));
  }
}

// Released before the next load: that load reads it as usual.
TEST(SheetStoreWindows, SheetHeldAtOneLoadIsReadAtTheNextLoad) {
  RulesSession rules;
  Session& session = rules.session;
  const std::string text = printSheet(sheetFor(session, 3));
  writeFile(session.sheetPath, text);
  const std::filesystem::path sheet = session.sheetPath;
  {
    HeldFile held(sheet, 0);
    ASSERT_TRUE(held.held());
    loadSheetForImage(session);
    expectHeldState(rules);
  }
  session.statusText = u"string 25";
  loadSheetForImage(session);
  EXPECT_FALSE(sheetWaiting(session));
  EXPECT_EQ(session.statusText, u"string 25");
  EXPECT_EQ(session.sheetPath, sheet);
  EXPECT_EQ(printSheet(session.sheet), text);
  EXPECT_EQ(namesIn(sheet.parent_path()), std::set<std::string>{sheet.filename().string()});
}

// ------------------------------------------------ names that are no text

// The platform's files, with names in the observations folder that hold no valid
// text: an unpaired surrogate, which NTFS allows in a file name (Wine's own file
// names cannot hold one, so the listing is where it enters).
class NamesThatAreNoText final : public FileAccess {
 public:
  EntryKind entryAt(const std::filesystem::path& path) override { return real().entryAt(path); }
  FileOutcome read(const std::filesystem::path& path, std::size_t limit, std::string& bytes) override {
    return real().read(path, limit, bytes);
  }
  FileOutcome writeNew(const std::filesystem::path& path, std::string_view bytes) override {
    return real().writeNew(path, bytes);
  }
  FileOutcome replace(const std::filesystem::path& target, const std::filesystem::path& replacement,
                      const std::filesystem::path& backup) override {
    return real().replace(target, replacement, backup);
  }
  FileOutcome move(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return real().move(from, to);
  }
  FileOutcome remove(const std::filesystem::path& path) override { return real().remove(path); }
  std::vector<std::filesystem::path> names(const std::filesystem::path& folder) override {
    std::vector<std::filesystem::path> found = real().names(folder);
    const std::wstring surrogate(1, static_cast<wchar_t>(0xD800));
    found.emplace_back(surrogate + L".json");
    // Named like a kept copy of the main sheet, but with no valid text after it.
    for (const auto& name : real().names(folder)) {
      found.emplace_back(name.native() + L".damaged-1" + surrogate);
    }
    ++listings;
    return found;
  }
  bool makeFolder(const std::filesystem::path& folder) override { return real().makeFolder(folder); }
  int listings = 0;

 private:
  static FileAccess& real() { return platformFileAccess(); }
};

// A load that meets such names while it looks for kept copies goes on: the damaged
// sheet is kept and its backup recovered, and saves work.
TEST(SheetStoreWindows, AFileNameThatIsNoTextIsOnlyAnotherName) {
  RulesSession rules;
  Session& session = rules.session;
  const std::filesystem::path main = session.sheetPath;
  const std::string two = printSheet(sheetFor(session, 2));
  writeFile(main, "not a sheet");
  writeFile(withSuffix(main, ".bak"), two);
  NamesThatAreNoText files;
  session.sheetStore.setFiles(&files);
  loadSheetForImage(session);
  EXPECT_GT(files.listings, 0);
  EXPECT_FALSE(sheetWaiting(session));
  EXPECT_EQ(session.statusText, uiText(Language::English, 40));
  EXPECT_EQ(session.sheetPath, withSuffix(main, ".recovery.json"));
  EXPECT_EQ(readBytes(withSuffix(main, ".damaged-" + std::to_string(rules.seconds))), "not a sheet");
  EXPECT_EQ(readBytes(session.sheetPath), two);
  session.sheet.marks.push_back({3, 6.0, 7.0, "after", 1700000003});
  session.sheet.nextId = 4;
  session.dirty = true;
  EXPECT_TRUE(saveSheet(session));
  EXPECT_EQ(readBytes(session.sheetPath), printSheet(session.sheet));
  session.sheetStore.setFiles(nullptr);
}

// ------------------------------------------------ a sheet held at a save

// Another program holds the active sheet, its backup or the temporary file beside
// it when a save comes: the save fails at once (string 27), writes nothing and keeps
// the notes in memory; the next save after the release writes them.
TEST(SheetStoreWindows, FileHeldAtASaveFailsItAtOnceAndTheNextSaveWrites) {
  for (const char* suffix : {"", ".bak", ".tmp"}) {
    SCOPED_TRACE(std::string("held: the sheet") + suffix);
    RulesSession rules;
    Session& session = rules.session;
    const std::filesystem::path sheet = session.sheetPath;
    const auto folder = sheet.parent_path();
    const std::string three = printSheet(sheetFor(session, 3));
    const std::string two = printSheet(sheetFor(session, 2));
    writeFile(sheet, three);
    writeFile(withSuffix(sheet, ".bak"), two);
    loadSheetForImage(session);
    ASSERT_EQ(session.sheetPath, sheet);
    // A process that ended mid-save left a temporary file; the load kept a copy.
    if (std::string(suffix) == ".tmp") writeFile(withSuffix(sheet, ".tmp"), "cut sh");
    const std::set<std::string> before = namesIn(folder);
    session.sheet.marks.push_back({4, 6.0, 7.0, "held", 1700000004});
    session.sheet.nextId = 5;
    session.dirty = true;
    {
      HeldFile held(withSuffix(sheet, suffix), 0);
      ASSERT_TRUE(held.held());
      EXPECT_FALSE(saveSheet(session));
      EXPECT_EQ(session.statusText, uiText(Language::English, 27));
      EXPECT_TRUE(session.dirty);
    }
    EXPECT_EQ(namesIn(folder), before);
    EXPECT_EQ(readBytes(sheet), three);
    EXPECT_EQ(readBytes(withSuffix(sheet, ".bak")), two);

    ASSERT_TRUE(saveSheet(session));
    EXPECT_EQ(session.statusText, uiText(Language::English, 29));
    EXPECT_EQ(readBytes(sheet), printSheet(session.sheet));
    EXPECT_EQ(readBytes(withSuffix(sheet, ".bak")), three);
    EXPECT_FALSE(std::filesystem::exists(withSuffix(sheet, ".tmp")));
  }
}

// ------------------------------------------------ a copy cut short by a full disk

// A small file system mounted over a folder for the scope (under Wine, through the
// Unix side: a tmpfs of `kilobytes`); unmounted at the end.
class SmallVolume {
 public:
  SmallVolume(const std::filesystem::path& folder, int kilobytes) {
    using UnixName = char*(__cdecl*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName == nullptr || !test::canRunUnixCommands()) return;
    char* name = unixName(folder.c_str());
    if (name == nullptr) return;
    unixPath_ = name;
    HeapFree(GetProcessHeap(), 0, name);
    mounted_ = test::runUnixCommand({"mount", "-t", "tmpfs", "-o", "size=" + std::to_string(kilobytes) + "k",
                                     "tessary-test", unixPath_}) == 0;
  }
  ~SmallVolume() {
    if (mounted_) test::runUnixCommand({"umount", unixPath_});
  }
  SmallVolume(const SmallVolume&) = delete;
  SmallVolume& operator=(const SmallVolume&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string unixPath_;
  bool mounted_ = false;
};

// With about 300 KB free, a damaged recovery sheet of 1.5 MB cannot be copied: the
// copy is cut short by the full disk. Such a copy never counts as kept; the damaged
// sheet is moved aside whole instead, and the saves that follow write a new
// recovery sheet without touching it.
TEST(SheetStoreWindows, CopyCutShortByAFullDiskIsNotKept) {
  RulesSession rules;
  Session& session = rules.session;
  const auto folder = rules.folder.path() / "observations";
  SmallVolume volume(folder, 1792);
  if (!volume.mounted()) GTEST_SKIP() << "no small file system can be mounted here (needs Wine and mount rights)";
  const auto main = session.sheetPath;
  const auto recovery = withSuffix(main, ".recovery.json");
  const auto copy = withSuffix(recovery, ".damaged-" + std::to_string(rules.seconds));
  writeFile(main, "not a sheet");
  std::string damaged = "{\"format\": \"Tessary\", \"notes\": \"";
  while (damaged.size() < 1500000) damaged += "the end of the damaged data must survive. ";
  writeFile(recovery, damaged);
  ASSERT_EQ(readBytes(recovery), damaged);

  loadSheetForImage(session);
  EXPECT_EQ(session.statusText, uiText(Language::English, 41));
  EXPECT_EQ(session.sheetPath, recovery);
  EXPECT_EQ(readBytes(copy), damaged);
  EXPECT_EQ(namesIn(folder), (std::set<std::string>{main.filename().string(), copy.filename().string()}));

  for (int save = 0; save < 2; ++save) {
    session.sheet.marks.push_back({session.sheet.nextId, 3.0, 4.0, "after", rules.seconds});
    session.sheet.nextId += 1;
    session.dirty = true;
    ASSERT_TRUE(saveSheet(session));
  }
  EXPECT_EQ(readBytes(recovery), printSheet(session.sheet));
  EXPECT_EQ(readBytes(copy), damaged);
  EXPECT_EQ(readBytes(main), "not a sheet");
}

}  // namespace
}  // namespace tessary

// A failure at every file operation. Each script of loads, edits, saves and the
// doings of another program runs once without faults to count its file operations;
// then, for every operation N and every failure a real machine gives (held, not
// found, access denied, a full disk, a write cut short and reported complete, a
// replacement that stops half way, an exception, the process ending there and
// starting again), it runs again with that failure at N. After each run the folder
// is checked from outside:
// - the newest version the store reported saved is still on disk under some name,
//   byte for byte, and so is every version another program put there;
// - every kept copy holds a whole version, never a part of one;
// - a load that met a failure it did not understand left nothing writable, and a
//   good sheet is never taken for damaged because of a failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "observations/observation_sheet.h"
#include "observations/sheet_store.h"
#include "observations/sheet_test_files.h"
#include "support/faulty_files.h"
#include "support/rules_session.h"

namespace tessary {
namespace {

using testing::Fault;
using testing::FaultyFiles;
using testing::readBytes;
using testing::TempFolder;
using testing::writeFile;

const SheetImage kImage{std::string(64, 'b'), 800, 600};
const std::string kMain = kImage.sha256 + ".json";
const std::string kRecovery = kMain + ".recovery.json";
constexpr std::int64_t kNow = 1750000000;

ObservationSheet version(int markers, const std::string& word) {
  ObservationSheet sheet;
  sheet.imageSHA256 = kImage.sha256;
  sheet.width = kImage.width;
  sheet.height = kImage.height;
  sheet.nextId = markers + 1;
  for (int id = 1; id <= markers; ++id) sheet.marks.push_back({id, 10.0 * id, 5.0 * id, word + std::to_string(id), kNow});
  return sheet;
}

const std::string kFirst = printSheet(version(1, "first "));
const std::string kSecond = printSheet(version(2, "second "));
const std::string kForeign = printSheet(version(3, "written by a sync tool "));
const std::string kGarbage = "{\"format\": \"Tessary\", \"marks\": [";
const std::string kGarbage2 = "not a sheet";

enum class Act { Load, Edit, Save, Plant, Remove };
struct Step {
  Act act;
  std::string name;   // Plant, Remove: the file another program writes or removes
  std::string bytes;  // Plant
};

struct Script {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;  // on disk before the run
  // The files whose bytes the store must keep: those it never reads as the current
  // sheet (a damaged sheet, a temporary file it did not write). A good sheet it
  // reads and its backup are its own to replace.
  std::set<std::string> protect;
  // The files hold a good sheet: no failure may make a load recover or start empty.
  bool good;
  // What a load that reads it gives (a good sheet only).
  std::string loadsAs;
  std::vector<Step> steps;
};

const Step kLoad{Act::Load, "", ""};
const Step kEdit{Act::Edit, "", ""};
const Step kSave{Act::Save, "", ""};

std::vector<Script> scripts() {
  const std::string empty = printSheet(version(0, ""));
  return {
      {"first sheet of an image", {}, {}, true, empty, {kLoad, kEdit, kSave, kEdit, kSave, kSave}},
      {"sheet and backup", {{kMain, kSecond}, {kMain + ".bak", kFirst}}, {}, true, kSecond,
       {kLoad, kEdit, kSave, kEdit, kSave}},
      {"damaged sheet, good backup", {{kMain, kGarbage}, {kMain + ".bak", kFirst}}, {kMain, kMain + ".bak"}, false,
       "", {kLoad, kEdit, kSave}},
      {"damaged sheet and backup", {{kMain, kGarbage}, {kMain + ".bak", kGarbage2}}, {kMain, kMain + ".bak"}, false,
       "", {kLoad, kEdit, kSave, kEdit, kSave}},
      {"replacement interrupted after its first rename", {{kMain + ".tmp", kSecond}, {kMain + ".bak", kFirst}}, {},
       true, kSecond, {kLoad, kEdit, kSave}},
      {"replacement interrupted, temporary file cut short",
       {{kMain + ".tmp", kSecond.substr(0, 40)}, {kMain + ".bak", kFirst}}, {kMain + ".tmp"}, true, kFirst,
       {kLoad, kEdit, kSave}},
      {"newer temporary file beside the sheet", {{kMain, kFirst}, {kMain + ".tmp", kSecond}}, {kMain + ".tmp"}, true,
       kFirst, {kLoad, kEdit, kSave, kEdit, kSave}},
      {"another program replaces the sheet between saves", {{kMain, kFirst}}, {}, true, kFirst,
       {kLoad, kEdit, kSave, {Act::Plant, kMain, kForeign}, kEdit, kSave, kEdit, kSave}},
      {"another program writes garbage into the sheet", {{kMain, kFirst}}, {}, true, kFirst,
       {kLoad, kEdit, kSave, {Act::Plant, kMain, kGarbage2}, kEdit, kSave}},
      {"another program removes the sheet", {{kMain, kFirst}}, {}, true, kFirst,
       {kLoad, kEdit, kSave, {Act::Remove, kMain, ""}, kEdit, kSave}},
      {"another program leaves a temporary file", {{kMain, kFirst}}, {}, true, kFirst,
       {kLoad, kEdit, kSave, {Act::Plant, kMain + ".tmp", kForeign}, kEdit, kSave}},
      {"damaged recovery sheet", {{kMain, kGarbage}, {kRecovery, kGarbage2}, {kRecovery + ".bak", kGarbage}},
       {kMain, kRecovery, kRecovery + ".bak"}, false, "", {kLoad, kEdit, kSave, kEdit, kSave}},
  };
}

struct RunResult {
  std::vector<std::string> problems;
  std::size_t operations = 0;
};

// The contents of every regular file in the folder.
std::multiset<std::string> contents(const std::filesystem::path& folder) {
  std::multiset<std::string> all;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.is_regular_file()) all.insert(readBytes(entry.path()));
  }
  return all;
}

class ScriptRun {
 public:
  ScriptRun(const Script& script, std::size_t at, Fault fault)
      : script_(script), files_(at, fault), fault_(fault) {
    folder_ = temp_.path() / "observations";
    std::filesystem::create_directories(folder_);
    for (const auto& [name, bytes] : script.files) {
      writeFile(folder_ / name, bytes);
      everyVersion_.insert(bytes);
      if (script.protect.count(name) != 0) others_.insert(bytes);
    }
  }

  RunResult run() {
    SheetStore store(&files_);
    store.setClock([] { return kNow; });
    ObservationSheet sheet;
    bool dirty = false;
    int edits = 0;
    for (const Step& step : script_.steps) {
      if (files_.ended()) break;
      const std::string before = files_.struck;
      try {
        switch (step.act) {
          case Act::Load:
            loaded(store.load(folder_, kImage, sheet), store, sheet, before);
            dirty = store.state() == SheetState::Active && loadedDirty_;
            break;
          case Act::Edit:
            if (!store.writable()) break;
            ++edits;
            sheet.marks.push_back({sheet.nextId, 1.0 * edits, 2.0 * edits, "edit " + std::to_string(edits), kNow});
            sheet.nextId += 1;
            everyVersion_.insert(printSheet(sheet));
            unsaved_.insert(printSheet(sheet));
            dirty = true;
            break;
          case Act::Save:
            if (!dirty) break;
            if (store.save(sheet) != SaveOutcome::Failed) {
              saved_ = printSheet(sheet);
              unsaved_.clear();
              dirty = false;
            }
            break;
          case Act::Plant:
            writeFile(folder_ / step.name, step.bytes);
            damagedByAnother_ = damagedByAnother_ || step.bytes == kGarbage2;
            others_.insert(step.bytes);
            everyVersion_.insert(step.bytes);
            planted_.insert(step.bytes);
            forgetWhatAnotherProgramDestroyed();
            break;
          case Act::Remove:
            std::filesystem::remove(folder_ / step.name);
            forgetWhatAnotherProgramDestroyed();
            break;
        }
      } catch (const std::exception& error) {
        problem(std::string("an exception left the store: ") + error.what());
      }
    }
    check("after the run");
    // The process starts again: a store without faults loads the files.
    if (files_.ended()) {
      FaultyFiles clean;
      SheetStore again(&clean);
      again.setClock([] { return kNow + 1; });
      ObservationSheet reloaded;
      const LoadOutcome outcome = again.load(folder_, kImage, reloaded);
      if (outcome == LoadOutcome::Waiting) problem("the restarted load waits on files nobody holds");
      if (script_.good && !damagedByAnother_ && outcome != LoadOutcome::Loaded) {
        problem("the restarted load recovered a good sheet");
      }
      // It shows the newest version reported saved (before any save: the sheet the
      // files held), a newer one that was complete on disk, or another program's.
      if (script_.good && outcome == LoadOutcome::Loaded) {
        const std::string shown = printSheet(reloaded);
        if (shown != saved_.value_or(script_.loadsAs) && unsaved_.count(shown) == 0 && planted_.count(shown) == 0) {
          problem("the restarted load hid the notes: it shows " + shown.substr(0, 60));
        }
      }
      check("after a restart");
    }
    return {problems_, files_.operations()};
  }

 private:
  void loaded(LoadOutcome outcome, const SheetStore& store, const ObservationSheet& sheet,
              const std::string& struckBefore) {
    if (script_.good && outcome == LoadOutcome::Loaded && printSheet(sheet) != script_.loadsAs) {
      problem("a load hid the notes: it shows " + printSheet(sheet).substr(0, 60));
    }
    loadedDirty_ = outcome == LoadOutcome::BackupRecoveredUnsaved;
    if (outcome == LoadOutcome::BackupRecovered) saved_ = printSheet(sheet);
    const bool struckHere = files_.struck != struckBefore;
    // (A recovered backup whose save failed is only in memory: that save's failure
    // is the save's, and the next save checks the files again.)
    if (struckHere && fault_ == Fault::Exception && store.writable() &&
        outcome != LoadOutcome::BackupRecoveredUnsaved) {
      problem("a load interrupted by an exception left the sheet writable");
    }
    if (script_.good && (outcome == LoadOutcome::BackupRecovered || outcome == LoadOutcome::BackupRecoveredUnsaved ||
                         outcome == LoadOutcome::RecoverySheetActive)) {
      problem("a good sheet was taken for damaged");
    }
  }

  // A version that only another program's write or removal destroyed is not the
  // store's to keep.
  void forgetWhatAnotherProgramDestroyed() {
    const std::multiset<std::string> now = contents(folder_);
    if (saved_ && now.count(*saved_) == 0) saved_.reset();
  }

  void check(const std::string& when) {
    const std::multiset<std::string> now = contents(folder_);
    if (saved_ && now.count(*saved_) == 0) problem(when + ": the version reported saved is on disk nowhere");
    for (const std::string& bytes : others_) {
      if (now.count(bytes) == 0) problem(when + ": a version the store did not write is gone: " + bytes.substr(0, 40));
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      const std::string name = entry.path().filename().string();
      if (name.find(".damaged-") == std::string::npos || name.find(".part") != std::string::npos) continue;
      if (everyVersion_.count(readBytes(entry.path())) == 0) problem(when + ": the kept copy " + name + " is partial");
    }
  }

  void problem(const std::string& text) { problems_.push_back(text + " (" + files_.struck + ")"); }

  const Script& script_;
  TempFolder temp_;
  std::filesystem::path folder_;
  FaultyFiles files_;
  Fault fault_;
  std::optional<std::string> saved_;
  std::set<std::string> others_;
  std::set<std::string> everyVersion_;
  bool loadedDirty_ = false;
  std::set<std::string> unsaved_;
  std::set<std::string> planted_;
  bool damagedByAnother_ = false;
  std::vector<std::string> problems_;
};

constexpr Fault kFaults[] = {Fault::Held,       Fault::NotFound,       Fault::AccessDenied, Fault::DiskFull,
                             Fault::ShortWrite, Fault::RenameHalfDone, Fault::Exception,    Fault::ProcessEnds};

TEST(SheetStoreFaults, AFailureAtEveryFileOperationLosesAndHidesNothing) {
  std::size_t pairs = 0;
  std::size_t struck = 0;
  for (const Script& script : scripts()) {
    SCOPED_TRACE(script.name);
    // Without faults: every check holds, and the number of operations is known.
    const RunResult clean = ScriptRun(script, 0, Fault::None).run();
    for (const std::string& problem : clean.problems) ADD_FAILURE() << "without faults: " << problem;
    ASSERT_GT(clean.operations, 0u);
    for (std::size_t at = 1; at <= clean.operations; ++at) {
      for (const Fault fault : kFaults) {
        ScriptRun faulty(script, at, fault);
        const RunResult run = faulty.run();
        ++pairs;
        if (!run.problems.empty()) ++struck;
        for (const std::string& problem : run.problems) {
          ADD_FAILURE() << testing::faultName(fault) << " at operation " << at << ": " << problem;
        }
      }
    }
  }
  std::printf("%zu scripts, %zu (operation, failure) pairs run, %zu with a problem\n", scripts().size(), pairs,
              struck);
}

}  // namespace
}  // namespace tessary

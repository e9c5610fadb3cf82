#include "exports/notes_export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "app/session_state.h"
#include "exports/export_naming.h"
#include "exports/notes_csv.h"
#include "observations/observation_sheet.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"
#include "support/faulty_files.h"
#include "support/rules_session.h"
#include "text/ui_strings.h"

namespace tessary {
namespace {

using testing::readBytes;
using testing::RulesSession;

struct NotesExport : ::testing::Test {
  NotesExport() {
    fixture.seconds = 1720000000;
    fixture.tick = 987654;
    Session& s = fixture.session;
    s.sheet.nextId = 3;
    s.sheet.marks.push_back(Marker{1, 10.5, 20.5, "A \"quoted\" note\r\nSecond line \xC3\xA9", 1719999000});
    s.sheet.marks.push_back(Marker{2, 99, 79, "=dangerous spreadsheet formula", 1719999500});
    s.dirty = true;
  }
  Session& session() { return fixture.session; }
  std::filesystem::path exports() { return fixture.folder.path() / "exports"; }
  std::filesystem::path file(const std::string& stem, const char* ending) { return exports() / (stem + ending); }
  std::set<std::string> exportedNames() {
    std::set<std::string> names;
    if (!std::filesystem::exists(exports())) return names;
    for (const auto& entry : std::filesystem::directory_iterator(exports())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  void expectStatus(int id, bool isError) {
    EXPECT_EQ(session().statusText, uiText(Language::English, id));
    EXPECT_EQ(session().statusIsError, isError);
  }
  RulesSession fixture;
};

TEST_F(NotesExport, WritesTheSheetAsSavedAndTheCsv) {
  exportNotes(session());
  expectStatus(32, false);
  // The pending changes were saved first.
  EXPECT_FALSE(session().dirty);
  const std::string stem = "Tessary-1720000000-987654";
  EXPECT_EQ(exportedNames(), (std::set<std::string>{stem + "-notes.csv", stem + "-notes.json"}));
  const std::string json = readBytes(file(stem, "-notes.json"));
  EXPECT_EQ(json, printSheet(session().sheet));
  EXPECT_EQ(json, readBytes(session().sheetPath));
  EXPECT_EQ(readBytes(file(stem, "-notes.csv")), notesCsv(session().sheet));
  EXPECT_EQ(readBytes(file(stem, "-notes.csv")),
            "marker,x_pixels,y_pixels,created_utc,note\r\n"
            "1,10.500000,20.500000,1719999000,\"A \"\"quoted\"\" note\r\nSecond line \xC3\xA9\"\r\n"
            "2,99.000000,79.000000,1719999500,\"'=dangerous spreadsheet formula\"\r\n");
  // No backup is kept for export files.
  for (const std::string& name : exportedNames()) EXPECT_EQ(name.find(".bak"), std::string::npos) << name;
}

TEST_F(NotesExport, NoMarkers) {
  session().sheet.marks.clear();
  exportNotes(session());
  expectStatus(32, false);
  const std::string stem = "Tessary-1720000000-987654";
  EXPECT_EQ(readBytes(file(stem, "-notes.csv")), "marker,x_pixels,y_pixels,created_utc,note\r\n");
  const nlohmann::json document = nlohmann::json::parse(readBytes(file(stem, "-notes.json")));
  EXPECT_TRUE(document.at("marks").is_array());
  EXPECT_TRUE(document.at("marks").empty());
}

TEST_F(NotesExport, NoCsvWhenTheJsonCannotBeWritten) {
  const std::string stem = "Tessary-1720000000-987654";
  std::filesystem::create_directories(file(stem, "-notes.json"));
  exportNotes(session());
  expectStatus(33, true);
  EXPECT_FALSE(std::filesystem::exists(file(stem, "-notes.csv")));
  EXPECT_TRUE(std::filesystem::is_directory(file(stem, "-notes.json")));
  EXPECT_EQ(exportedNames(), (std::set<std::string>{stem + "-notes.json"}));
}

TEST_F(NotesExport, JsonStaysWhenTheCsvCannotBeWritten) {
  const std::string stem = "Tessary-1720000000-987654";
  std::filesystem::create_directories(file(stem, "-notes.csv"));
  exportNotes(session());
  expectStatus(33, true);
  EXPECT_EQ(readBytes(file(stem, "-notes.json")), printSheet(session().sheet));
  EXPECT_TRUE(std::filesystem::is_directory(file(stem, "-notes.csv")));
}

TEST_F(NotesExport, TwoExportsInARowGetTwoStems) {
  exportNotes(session());
  fixture.tick += 15;
  exportNotes(session());
  expectStatus(32, false);
  EXPECT_EQ(exportedNames(), (std::set<std::string>{
                                 "Tessary-1720000000-987654-notes.csv", "Tessary-1720000000-987654-notes.json",
                                 "Tessary-1720000000-987669-notes.csv", "Tessary-1720000000-987669-notes.json"}));
}

TEST_F(NotesExport, NothingWithoutImageOrDuringAJob) {
  session().jobRunning = true;
  exportNotes(session());
  session().jobRunning = false;
  session().currentImage.reset();
  exportNotes(session());
  EXPECT_TRUE(session().statusText.empty());
  EXPECT_TRUE(session().dirty);  // not even saved
  EXPECT_FALSE(std::filesystem::exists(exports()));
}

TEST_F(NotesExport, UnsavedChangesBlockTheExport) {
  std::filesystem::path blocker = session().sheetPath;
  blocker += ".tmp";
  std::filesystem::create_directories(blocker);
  exportNotes(session());
  expectStatus(27, true);
  EXPECT_TRUE(session().dirty);
  EXPECT_FALSE(std::filesystem::exists(exports()));
}

TEST_F(NotesExport, StorageUnavailable) {
  session().dirty = false;
  session().storageAvailable = false;
  exportNotes(session());
  expectStatus(33, true);
  EXPECT_FALSE(std::filesystem::exists(exports()));
}

// While another program holds the image's sheet its notes are not known: an export
// would write an empty sheet in their place.
TEST_F(NotesExport, SheetHeldByAnotherProgram) {
  session().dirty = false;
  session().sheet.marks.clear();
  // The first file operation of the load meets the held file.
  testing::FaultyFiles held(1, testing::Fault::Held);
  session().sheetStore.setFiles(&held);
  loadSheetForImage(session());
  session().sheetStore.setFiles(nullptr);
  ASSERT_TRUE(sheetWaiting(session()));
  exportNotes(session());
  expectStatus(33, true);
  EXPECT_FALSE(std::filesystem::exists(exports()));
}

TEST_F(NotesExport, ExportFolderRecreated) {
  exportNotes(session());
  std::filesystem::remove_all(exports());
  fixture.tick += 1;
  exportNotes(session());
  expectStatus(32, false);
  EXPECT_EQ(exportedNames().size(), 2u);
}

}  // namespace
}  // namespace tessary

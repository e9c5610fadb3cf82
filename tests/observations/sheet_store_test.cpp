#include "app/sheet_session.h"
#include "observations/sheet_store.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "observations/observation_sheet.h"
#include "observations/sheet_test_files.h"
#include "support/faulty_files.h"
#include "support/rules_session.h"
#include "text/ui_strings.h"

namespace tessary {
namespace {

using testing::makeImage;
using testing::namesIn;
using testing::readBytes;
using testing::RulesSession;
using testing::TempFolder;
using testing::withSuffix;
using testing::writeFile;

const std::string kHash = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string kOtherHash(64, 'e');
constexpr std::uint32_t kWidth = 640;
constexpr std::uint32_t kHeight = 480;
constexpr std::int64_t kNow = 1700000000;

ObservationSheet makeSheet(int markers, const std::string& hash = kHash, std::uint32_t width = kWidth,
                           std::uint32_t height = kHeight) {
  ObservationSheet sheet;
  sheet.imageSHA256 = hash;
  sheet.width = width;
  sheet.height = height;
  sheet.nextId = markers + 5;
  for (int id = 1; id <= markers; ++id) {
    sheet.marks.push_back({id + 2, 1.25 * id, 2.5 * id, "note " + std::to_string(id), 1600000000 + id});
  }
  return sheet;
}

// The fresh sheet of the image: no markers, nextId 1.
ObservationSheet emptySheet() {
  ObservationSheet sheet = makeSheet(0);
  sheet.nextId = 1;
  return sheet;
}

template <typename Action>
std::string errorOf(Action action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "";
}

// ---------------------------------------------------------------- readSheetFile

TEST(ReadSheetFile, ReadsExactlyTheSizeLimitAndRefusesOneByteMore) {
  TempFolder folder;
  const std::string text = printSheet(makeSheet(2));
  const auto atLimit = folder.path() / "limit.json";
  writeFile(atLimit, text + std::string(kSheetFileLimit - text.size(), ' '));
  ASSERT_EQ(std::filesystem::file_size(atLimit), kSheetFileLimit);
  EXPECT_EQ(printSheet(readSheetFile(atLimit)), text);

  const auto overLimit = folder.path() / "over.json";
  writeFile(overLimit, text + std::string(kSheetFileLimit - text.size() + 1, ' '));
  EXPECT_EQ(errorOf([&] { readSheetFile(overLimit); }), "Cannot read sheet");
}

TEST(ReadSheetFile, AcceptsOneDocumentOnlyWithOptionalByteOrderMark) {
  const std::string text = printSheet(makeSheet(1));
  const std::string bom = "\xEF\xBB\xBF";
  struct Case {
    const char* name;
    std::string bytes;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {"plain", text, true},
      {"byte-order mark", bom + text, true},
      {"surrounding whitespace", " \r\n\t" + text + "\r\n\t ", true},
      {"byte-order mark after whitespace", " " + bom + text, false},
      {"two byte-order marks", bom + bom + text, false},
      {"partial byte-order mark", "\xEF\xBB" + text, false},
      {"trailing text", text + "x", false},
      {"second document", text + text, false},
      {"trailing zero byte", text + std::string(1, '\0'), false},
      {"text after a zero byte", text + std::string(1, '\0') + "{}", false},
      {"line comment before", "// notes\n" + text, false},
      {"block comment after", text + "/* end */", false},
      {"empty file", "", false},
      {"cut short", text.substr(0, text.size() - 1), false},
  };
  TempFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = folder.path() / "sheet.json";
    writeFile(path, c.bytes);
    if (c.accepted) {
      EXPECT_EQ(printSheet(readSheetFile(path)), text);
    } else {
      EXPECT_THROW(readSheetFile(path), nlohmann::json::parse_error);
    }
  }
}

TEST(ReadSheetFile, RefusesMissingFilesFoldersAndInvalidSheets) {
  TempFolder folder;
  EXPECT_EQ(errorOf([&] { readSheetFile(folder.path() / "absent.json"); }), "Cannot read sheet");
  EXPECT_EQ(errorOf([&] { readSheetFile(folder.path()); }), "Cannot read sheet");
  const auto path = folder.path() / "sheet.json";
  writeFile(path, "{\"format\": \"Tessary\", \"version\": 2}");
  EXPECT_EQ(errorOf([&] { readSheetFile(path); }), "Integer overflow");
  writeFile(path, "[]");
  EXPECT_EQ(errorOf([&] { readSheetFile(path); }), "[json.exception.type_error.304] cannot use at() with array");
}

TEST(ReadSheetFile, ReadsNonAsciiPaths) {
  TempFolder folder;
  const auto path = folder.path() / std::u8string(u8"Notizen \u00fc\u00df \u6728.json");
  const std::string text = printSheet(makeSheet(3));
  writeFile(path, text);
  EXPECT_EQ(printSheet(readSheetFile(path)), text);
}

TEST(ReadSheetFile, RefusesAMemberNamedTwiceInAnyObject) {
  const std::string text = printSheet(makeSheet(2));
  // Inserts `member` right after the first occurrence of `anchor` (an opening brace
  // followed by a line break).
  const auto withMember = [&](const std::string& anchor, std::size_t occurrence, const std::string& member) {
    std::size_t at = 0;
    for (std::size_t i = 0; i <= occurrence; ++i) at = text.find(anchor, i == 0 ? 0 : at + 1);
    std::string result = text;
    result.insert(at + anchor.size(), member);
    return result;
  };
  struct Case {
    const char* name;
    std::string bytes;
  };
  const std::vector<Case> refused = {
      {"second \"marks\" at the top", withMember("{\n", 0, "\"marks\": [],\n")},
      {"second \"format\" at the top", withMember("{\n", 0, "\"format\": \"Tessary\",\n")},
      {"second \"width\" at the top", withMember("{\n", 0, "\"width\": 640,\n")},
      {"second \"note\" in the first marker", withMember("{\n", 1, "\"note\": \"hidden\",\n")},
      {"second \"x\" in the last marker", withMember("{\n", 2, "\"x\": 1.0,\n")},
      {"repeated name inside an ignored member",
       withMember("{\n", 0, "\"extra\": {\"deep\": [{\"k\": 1, \"k\": 2}]},\n")},
      {"repeated unknown member", withMember("{\n", 1, "\"extra\": 1, \"extra\": 2,\n")},
  };
  TempFolder folder;
  const auto path = folder.path() / "sheet.json";
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_THROW(nlohmann::json::parse(c.bytes)) << "the fixture is JSON the library reads";
    EXPECT_EQ(errorOf([&] { sheetFromText(c.bytes); }), "Invalid sheet");
    writeFile(path, c.bytes);
    EXPECT_EQ(errorOf([&] { readSheetFile(path); }), "Invalid sheet");
  }
  // The same name in different objects, and unknown members once each, are fine.
  const std::string accepted =
      withMember("{\n", 0, "\"extra\": {\"id\": 1, \"note\": {\"id\": 2}, \"more\": [{\"id\": 3}, {\"id\": 4}]},\n");
  EXPECT_EQ(printSheet(sheetFromText(accepted)), text);
}

// The number of values (containers included) in a parsed document.
std::size_t valueCount(const nlohmann::json& value) {
  std::size_t count = 1;
  if (value.is_structured()) {
    for (const nlohmann::json& element : value) count += valueCount(element);
  }
  return count;
}

// A sheet's text with an ignored member "extra" holding `value` (JSON text).
std::string withExtra(const std::string& text, const std::string& value) {
  return "{\"extra\": " + value + "," + text.substr(1);
}

TEST(ReadSheetFile, RefusesSheetsBeyondTheBoundsBeforeBuildingThem) {
  const std::string text = printSheet(makeSheet(2));
  const ObservationSheet expected = makeSheet(2);
  // Values besides those of "extra": the sheet's own and "extra"'s array.
  const std::size_t own = valueCount(nlohmann::json::parse(text)) + 1;
  const auto zeros = [](std::size_t count) {
    std::string list = "[";
    for (std::size_t i = 0; i < count; ++i) list += i == 0 ? "0" : ",0";
    return list + "]";
  };
  // Nesting: the sheet itself is the first level, "extra"'s arrays the next ones.
  const auto nested = [](std::size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); };
  const auto number = [](std::size_t length) { return "1" + std::string(length - 1, '0'); };
  struct Case {
    const char* name;
    std::string bytes;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {"values at the bound", withExtra(text, zeros(kMaxSheetValues - own)), true},
      {"one value more", withExtra(text, zeros(kMaxSheetValues - own + 1)), false},
      {"nesting at the bound", withExtra(text, nested(kMaxSheetDepth - 1)), true},
      {"one level more", withExtra(text, nested(kMaxSheetDepth)), false},
      {"one level more of objects", withExtra(text, std::string(kMaxSheetDepth - 1, '[') + "{}" +
                                                        std::string(kMaxSheetDepth - 1, ']')), false},
      {"number at the longest", withExtra(text, number(kMaxSheetNumberLength)), true},
      {"number one character longer", withExtra(text, number(kMaxSheetNumberLength + 1)), false},
      {"fraction one character longer", withExtra(text, "0." + std::string(kMaxSheetNumberLength - 1, '1')), false},
      {"long digit run inside a string", withExtra(text, "\"" + std::string(100000, '7') + "\""), true},
      {"quote escaped inside a string", withExtra(text, "\"\\\"" + number(kMaxSheetNumberLength) + "\""), true},
  };
  TempFolder folder;
  const auto path = folder.path() / "sheet.json";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_THROW(nlohmann::json::parse(c.bytes)) << "the fixture is JSON the library reads";
    writeFile(path, c.bytes);
    if (c.accepted) {
      EXPECT_EQ(printSheet(readSheetFile(path)), text);
    } else {
      EXPECT_EQ(errorOf([&] { readSheetFile(path); }), "Invalid sheet");
    }
  }
}

// Files as large as the read limit in the shapes that cost a reader most: each is
// refused early as "Invalid sheet" (bench/sheet_reader_bench_posix.cpp measures the
// time and memory of these and more).
TEST(ReadSheetFile, RefusesTheWorstShapesAtTheReadLimit) {
  const std::string text = printSheet(makeSheet(1));
  const std::size_t room = kSheetFileLimit - text.size() - 16;
  std::string objects = "[{}";
  while (objects.size() + 4 < room) objects += ",{}";
  objects += "]";
  std::string numbers = "[0";
  while (numbers.size() + 3 < room) numbers += ",0";
  numbers += "]";
  const std::string nesting = std::string(room / 2, '[') + std::string(room / 2, ']');
  const std::string longNumber = "1" + std::string(room, '0');
  TempFolder folder;
  const auto path = folder.path() / "sheet.json";
  for (const auto& [name, value] : {std::pair<const char*, const std::string&>{"many empty objects", objects},
                                    {"many numbers", numbers},
                                    {"deep nesting", nesting},
                                    {"one long number", longNumber}}) {
    SCOPED_TRACE(name);
    const std::string bytes = withExtra(text, value);
    ASSERT_LE(bytes.size(), kSheetFileLimit);
    ASSERT_GT(bytes.size(), kSheetFileLimit - 32);
    writeFile(path, bytes);
    EXPECT_EQ(errorOf([&] { readSheetFile(path); }), "Invalid sheet");
  }
}

// The largest sheet the writer can produce: every limit at its maximum, each note
// 8000 bytes of a control character the file escapes as six bytes, every number
// at its longest printed form.
ObservationSheet largestSheet() {
  ObservationSheet sheet;
  sheet.imageSHA256 = std::string(64, 'f');
  sheet.width = 20000;
  sheet.height = 7500;
  sheet.nextId = 1000000;
  for (std::size_t i = 0; i < kMaxMarkers; ++i) {
    Marker marker;
    marker.id = sheet.nextId - static_cast<std::int32_t>(kMaxMarkers - i);
    // The smallest normal number prints as "2.2250738585072014e-308"; just below the
    // width as "19999.999999999996".
    marker.x = i % 2 == 0 ? std::numeric_limits<double>::min() : std::nextafter(20000.0, 0.0);
    marker.y = i % 2 == 0 ? std::nextafter(7500.0, 0.0) : 1.0000000000000002e-300;
    marker.note = std::string(kNoteByteLimit, '\x01');
    marker.createdUTC = kLatestCreatedUTC;
    sheet.marks.push_back(marker);
  }
  return sheet;
}

TEST(ReadSheetFile, ReadsBackTheLargestSheetTheWriterProduces) {
  const ObservationSheet sheet = largestSheet();
  const std::string text = printSheet(sheet);
  ASSERT_NE(text.find("\\u0001"), std::string::npos);
  ASSERT_NE(text.find("2.2250738585072014e-308"), std::string::npos);
  EXPECT_LE(text.size(), kSheetFileLimit);
  // The bound is tight enough not to admit much more than a written sheet.
  EXPECT_LT(kSheetFileLimit - text.size(), 16384u);

  // Saved and loaded as the program does: every marker comes back, no recovery.
  RulesSession rules(20000, 7500);
  Session& session = rules.session;
  session.currentImage = makeImage(20000, 7500, sheet.imageSHA256);
  loadSheetForImage(session);
  session.sheet = sheet;
  session.dirty = true;
  ASSERT_TRUE(saveSheet(session));
  EXPECT_EQ(readBytes(session.sheetPath), text);
  EXPECT_EQ(printSheet(readSheetFile(session.sheetPath)), text);
  session.statusText.clear();
  loadSheetForImage(session);
  EXPECT_EQ(session.statusText, u"");
  EXPECT_EQ(session.sheetPath.filename().u8string(), u8"ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff.json");
  EXPECT_EQ(printSheet(session.sheet), text);
}

// ---------------------------------------------------------------- saveSheet

TEST(SaveSheet, NothingChangedWritesNothingAndShowsNothing) {
  RulesSession rules;
  Session& session = rules.session;
  session.statusText = u"before";
  session.dirty = false;
  const int invalidations = rules.view.invalidations;
  EXPECT_TRUE(saveSheet(session));
  EXPECT_EQ(session.statusText, u"before");
  EXPECT_EQ(rules.view.invalidations, invalidations);
  EXPECT_TRUE(namesIn(rules.folder.path() / "observations").empty());
}

TEST(SaveSheet, WritesTheSheetWithBackupAndShowsSavedLocally) {
  RulesSession rules;
  Session& session = rules.session;
  session.sheet = makeSheet(2, session.currentImage->sha256, 400, 300);
  session.dirty = true;
  session.autosaveAttempts = 3;
  ASSERT_TRUE(saveSheet(session));
  EXPECT_FALSE(session.dirty);
  EXPECT_EQ(session.autosaveAttempts, 0);
  EXPECT_EQ(session.statusText, uiText(Language::English, 29));
  EXPECT_FALSE(session.statusIsError);
  const std::string first = printSheet(session.sheet);
  EXPECT_EQ(readBytes(session.sheetPath), first);

  session.sheet.marks.pop_back();
  session.dirty = true;
  ASSERT_TRUE(saveSheet(session));
  EXPECT_EQ(readBytes(session.sheetPath), printSheet(session.sheet));
  EXPECT_EQ(readBytes(withSuffix(session.sheetPath, ".bak")), first);
  EXPECT_EQ(namesIn(session.sheetPath.parent_path()).size(), 2u);
}

TEST(SaveSheet, FailedWriteKeepsChangesInMemoryAndShowsCouldNotSave) {
  RulesSession rules;
  Session& session = rules.session;
  session.sheet = makeSheet(2, session.currentImage->sha256, 400, 300);
  session.dirty = true;
  ASSERT_TRUE(saveSheet(session));
  const std::string saved = readBytes(session.sheetPath);

  std::filesystem::create_directory(withSuffix(session.sheetPath, ".tmp"));
  session.sheet.marks.pop_back();
  session.dirty = true;
  session.autosaveAttempts = 2;
  EXPECT_FALSE(saveSheet(session));
  EXPECT_TRUE(session.dirty);
  EXPECT_EQ(session.autosaveAttempts, 2);
  EXPECT_EQ(session.statusText, uiText(Language::English, 27));
  EXPECT_TRUE(session.statusIsError);
  EXPECT_EQ(readBytes(session.sheetPath), saved);
  EXPECT_EQ(session.sheet.marks.size(), 1u);

  // Once the obstacle is gone the next trigger saves.
  std::filesystem::remove(withSuffix(session.sheetPath, ".tmp"));
  EXPECT_TRUE(saveSheet(session));
  EXPECT_EQ(readBytes(session.sheetPath), printSheet(session.sheet));
}

TEST(SaveSheet, RemovedFoldersAreMadeAgain) {
  RulesSession rules;
  Session& session = rules.session;
  session.sheet = makeSheet(2, session.currentImage->sha256, 400, 300);
  session.dirty = true;
  ASSERT_TRUE(saveSheet(session));

  // The observations folder, then the whole data folder, removed while the program runs.
  for (const auto& removed : {rules.folder.path() / "observations", rules.folder.path()}) {
    SCOPED_TRACE(removed.string());
    std::filesystem::remove_all(removed);
    session.sheet.marks.pop_back();
    session.dirty = true;
    ASSERT_TRUE(saveSheet(session));
    EXPECT_FALSE(session.dirty);
    EXPECT_EQ(session.statusText, uiText(Language::English, 29));
    EXPECT_EQ(readBytes(session.sheetPath), printSheet(session.sheet));
    session.sheet.marks.push_back({9, 1.5, 1.5, "again", kNow});
    session.sheet.nextId = 10;
  }

  // A file standing where the folder belongs: the folder cannot be made.
  std::filesystem::remove_all(rules.folder.path() / "observations");
  writeFile(rules.folder.path() / "observations", "a file");
  session.dirty = true;
  EXPECT_FALSE(saveSheet(session));
  EXPECT_TRUE(session.dirty);
  EXPECT_EQ(session.statusText, uiText(Language::English, 27));
  EXPECT_TRUE(session.statusIsError);
  EXPECT_EQ(readBytes(rules.folder.path() / "observations"), "a file");
}

TEST(SaveSheet, SheetThatCannotBePrintedIsNotWritten) {
  RulesSession rules;
  Session& session = rules.session;
  session.sheet = makeSheet(1, session.currentImage->sha256, 400, 300);
  session.sheet.marks[0].note = "broken \xC3";
  session.dirty = true;
  EXPECT_FALSE(saveSheet(session));
  EXPECT_TRUE(session.dirty);
  EXPECT_EQ(session.statusText, uiText(Language::English, 27));
  EXPECT_TRUE(session.statusIsError);
  EXPECT_TRUE(namesIn(rules.folder.path() / "observations").empty());
}

TEST(SaveSheet, WithoutStorageOrPathShowsCouldNotSave) {
  for (const bool storage : {false, true}) {
    SCOPED_TRACE(storage);
    RulesSession rules;
    Session& session = rules.session;
    session.storageAvailable = storage;
    // With storage, the image's sheet could not be read at its load (the first file
    // operation met a held file): nothing may be written for it.
    testing::FaultyFiles held(1, testing::Fault::Held);
    if (storage) {
      session.sheetStore.setFiles(&held);
      loadSheetForImage(session);
      session.sheetStore.setFiles(nullptr);
      ASSERT_TRUE(session.sheetPath.empty());
    }
    session.dirty = true;
    EXPECT_FALSE(saveSheet(session));
    EXPECT_TRUE(session.dirty);
    EXPECT_EQ(session.statusText, uiText(session.language, 27));
    EXPECT_TRUE(session.statusIsError);
    EXPECT_TRUE(namesIn(rules.folder.path() / "observations").empty());
  }
}

// ---------------------------------------------------------------- loadSheetForImage

const std::string kMain = kHash + ".json";
const std::string kRecovery = kMain + ".recovery.json";
const std::string kStamp = ".damaged-" + std::to_string(kNow);
const std::string kStampNext = ".damaged-" + std::to_string(kNow) + "-1";
const std::string kGarbage = "{\"format\": \"Tessary\", \"version\": 1, \"imageSHA2";
const std::string kGarbage2 = "not a sheet at all";
const std::string kGarbage3 = "[\"third damaged file\"]";

struct LoadCase {
  const char* name;
  std::map<std::string, std::string> files;     // present before the load
  bool storageAvailable = true;
  std::string activeName;                       // "" means no sheet path
  ObservationSheet sheet;                       // the current sheet afterwards
  std::optional<int> status;                    // none: the status line is untouched
  std::map<std::string, std::string> created;   // new files and their bytes
  std::map<std::string, std::string> changed;   // pre-existing files the load rewrote
  std::set<std::string> moved = {};             // pre-existing files the load moved away
};

std::vector<LoadCase> loadCases() {
  const std::string a = printSheet(makeSheet(2));
  const std::string b = printSheet(makeSheet(1));
  const std::string c = printSheet(makeSheet(3));
  const std::string otherHash = printSheet(makeSheet(2, kOtherHash));
  const std::string otherWidth = printSheet(makeSheet(2, kHash, kWidth + 1));
  const std::string otherHeight = printSheet(makeSheet(2, kHash, kWidth, kHeight - 1));
  const std::string tooLarge = a + std::string(kSheetFileLimit - a.size() + 1, ' ');
  const std::string bom = "\xEF\xBB\xBF" + a;
  // A second "marks" member with no markers after the real one.
  const std::string twoMarks = a.substr(0, a.size() - 1) + ",\n  \"marks\": []\n}";
  std::string twoNotes = c;
  twoNotes.replace(twoNotes.find("\"note\""), 6, "\"note\": \"first\", \"note\"");
  // A sheet with an ignored member that holds more values than a sheet may.
  std::string tooManyValues = "{\"extra\": [{}";
  for (std::size_t i = 1; i < kMaxSheetValues; ++i) tooManyValues += ",{}";
  tooManyValues += "]," + a.substr(1);
  // Every name a kept copy made now could take with the time alone, and the next
  // nine seconds, taken by other bytes.
  std::map<std::string, std::string> takenNames = {{kMain, kGarbage}, {kRecovery, kGarbage2}};
  for (int second = 0; second < 10; ++second) {
    takenNames[kRecovery + ".damaged-" + std::to_string(kNow + second)] = "an earlier copy";
  }
  return {
      {"no files", {}, true, kMain, emptySheet(), std::nullopt, {}, {}},
      {"good main sheet", {{kMain, a}}, true, kMain, makeSheet(2), std::nullopt, {}, {}},
      {"good main sheet with byte-order mark and backup", {{kMain, bom}, {kMain + ".bak", b}}, true, kMain,
       makeSheet(2), std::nullopt, {}, {}},
      {"damaged main sheet, good backup", {{kMain, kGarbage}, {kMain + ".bak", b}}, true, kRecovery, makeSheet(1), 40,
       {{kMain + kStamp, kGarbage}, {kRecovery, b}}, {}},
      {"damaged main sheet and backup", {{kMain, kGarbage}, {kMain + ".bak", kGarbage2}}, true, kRecovery,
       emptySheet(), 41, {{kMain + kStamp, kGarbage}}, {}},
      {"damaged main sheet, no backup", {{kMain, kGarbage}}, true, kRecovery, emptySheet(), 41,
       {{kMain + kStamp, kGarbage}}, {}},
      // Too large to copy through memory, and never written again: it stays in place.
      {"main sheet over the size limit", {{kMain, tooLarge}, {kMain + ".bak", b}}, true, kRecovery, makeSheet(1), 40,
       {{kRecovery, b}}, {}},
      {"main sheet of another image's hash", {{kMain, otherHash}}, true, kRecovery, emptySheet(), 41,
       {{kMain + kStamp, otherHash}}, {}},
      {"main sheet of another width, good backup", {{kMain, otherWidth}, {kMain + ".bak", b}}, true, kRecovery,
       makeSheet(1), 40, {{kMain + kStamp, otherWidth}, {kRecovery, b}}, {}},
      {"main sheet of another height, backup of another hash", {{kMain, otherHeight}, {kMain + ".bak", otherHash}},
       true, kRecovery, emptySheet(), 41, {{kMain + kStamp, otherHeight}}, {}},
      // A taken name gets a counter after the time.
      {"damaged copy's name already taken", {{kMain, kGarbage}, {kMain + kStamp, "an earlier copy"}}, true,
       kRecovery, emptySheet(), 41, {{kMain + kStampNext, kGarbage}}, {}},
      {"existing recovery sheet", {{kMain, kGarbage}, {kMain + ".bak", b}, {kRecovery, c}}, true, kRecovery,
       makeSheet(3), std::nullopt, {}, {}},
      {"existing recovery sheet beside a good main sheet", {{kMain, a}, {kRecovery, c}}, true, kRecovery,
       makeSheet(3), std::nullopt, {}, {}},
      {"damaged recovery sheet, good backup of it", {{kMain, kGarbage}, {kRecovery, kGarbage2}, {kRecovery + ".bak", b}},
       true, kRecovery, makeSheet(1), 40, {{kRecovery + kStamp, kGarbage2}},
       // The recovered sheet is saved into the recovery sheet at once; the damaged
       // one becomes its backup (and has its damaged copy).
       {{kRecovery, b}, {kRecovery + ".bak", kGarbage2}}},
      {"damaged recovery sheet and backup of it",
       {{kMain, a}, {kRecovery, kGarbage2}, {kRecovery + ".bak", kGarbage3}}, true, kRecovery, emptySheet(), 41,
       {{kRecovery + kStamp, kGarbage2}, {kRecovery + ".bak" + kStamp, kGarbage3}}, {}},
      {"damaged recovery sheet, no backup of it", {{kMain, a}, {kMain + ".bak", b}, {kRecovery, kGarbage2}}, true,
       kRecovery, emptySheet(), 41, {{kRecovery + kStamp, kGarbage2}}, {}},
      {"interrupted replacement of the main sheet", {{kMain + ".bak", a}}, true, kMain, makeSheet(2), std::nullopt,
       {{kMain, a}}, {}},
      // The temporary file the next save replaces is no sheet: it is kept aside first.
      {"interrupted replacement of the recovery sheet",
       {{kMain, kGarbage}, {kMain + ".bak", b}, {kRecovery + ".bak", c}, {kRecovery + ".tmp", kGarbage3}}, true,
       kRecovery, makeSheet(3), std::nullopt, {{kRecovery, c}, {kRecovery + ".tmp" + kStamp, kGarbage3}}, {}},
      {"storage unavailable", {{kMain, a}}, false, "", emptySheet(), 27, {}, {}},
      // The reader would keep the last of two equal member names; such a sheet is
      // damaged like any other.
      {"main sheet with two \"marks\" members", {{kMain, twoMarks}, {kMain + ".bak", b}}, true, kRecovery,
       makeSheet(1), 40, {{kMain + kStamp, twoMarks}, {kRecovery, b}}, {}},
      {"recovery sheet with a marker naming \"note\" twice", {{kMain, kGarbage}, {kRecovery, twoNotes}}, true,
       kRecovery, emptySheet(), 41, {{kRecovery + kStamp, twoNotes}}, {}},
      {"damaged main sheet with an identical damaged copy", {{kMain, kGarbage}, {kMain + ".damaged-1600000000", kGarbage}},
       true, kRecovery, emptySheet(), 41, {}, {}},
      {"damaged main sheet with an older, different damaged copy",
       {{kMain, kGarbage}, {kMain + ".damaged-1600000000", kGarbage2}}, true, kRecovery, emptySheet(), 41,
       {{kMain + kStamp, kGarbage}}, {}},
      // The recovery sheet is in the way of the next saves: with its copy's name
      // taken it is kept under that name with a counter.
      {"damaged recovery sheet, damaged copy's name taken", {{kMain, kGarbage}, {kRecovery, kGarbage2},
       {kRecovery + kStamp, "an earlier copy"}}, true, kRecovery, emptySheet(), 41,
       {{kRecovery + kStampNext, kGarbage2}}, {}},
      // Killed between the two renames: the complete new version under the
      // temporary name is moved into place; the backup keeps the older one.
      {"interrupted replacement with a complete temporary file", {{kMain + ".bak", a}, {kMain + ".tmp", c}}, true,
       kMain, makeSheet(3), std::nullopt, {{kMain, c}}, {}, {kMain + ".tmp"}},
      {"interrupted first write with a complete temporary file", {{kMain + ".tmp", c}}, true, kMain, makeSheet(3),
       std::nullopt, {{kMain, c}}, {}, {kMain + ".tmp"}},
      {"interrupted replacement of the recovery sheet with a complete temporary file",
       {{kMain, kGarbage}, {kRecovery + ".bak", b}, {kRecovery + ".tmp", c}}, true, kRecovery, makeSheet(3),
       std::nullopt, {{kRecovery, c}}, {}, {kRecovery + ".tmp"}},
      {"interrupted replacement, temporary file cut short", {{kMain + ".bak", a}, {kMain + ".tmp", c.substr(0, 40)}},
       true, kMain, makeSheet(2), std::nullopt, {{kMain, a}, {kMain + ".tmp" + kStamp, c.substr(0, 40)}}, {}},
      {"interrupted replacement, temporary file of another image", {{kMain + ".bak", a}, {kMain + ".tmp", otherHash}},
       true, kMain, makeSheet(2), std::nullopt, {{kMain, a}, {kMain + ".tmp" + kStamp, otherHash}}, {}},
      // A temporary file beside a good sheet is replaced by the next save: one that
      // is no sheet of this image is kept aside first; a complete one is not.
      {"good main sheet, temporary file cut short", {{kMain, a}, {kMain + ".tmp", c.substr(0, 40)}}, true, kMain,
       makeSheet(2), std::nullopt, {{kMain + ".tmp" + kStamp, c.substr(0, 40)}}, {}},
      {"good main sheet, temporary file of another image", {{kMain, a}, {kMain + ".tmp", otherHash}}, true, kMain,
       makeSheet(2), std::nullopt, {{kMain + ".tmp" + kStamp, otherHash}}, {}},
      // The newest version a process wrote before it ended: the next save would
      // write over it, so it is kept.
      {"good main sheet, complete temporary file", {{kMain, a}, {kMain + ".tmp", c}}, true, kMain, makeSheet(2),
       std::nullopt, {{kMain + ".tmp" + kStamp, c}}, {}},
      {"good recovery sheet, damaged temporary file of it", {{kMain, kGarbage}, {kRecovery, c},
       {kRecovery + ".tmp", kGarbage3}}, true, kRecovery, makeSheet(3), std::nullopt,
       {{kRecovery + ".tmp" + kStamp, kGarbage3}}, {}},
      // More values than a sheet may hold: damaged like any other.
      {"main sheet with too many values", {{kMain, tooManyValues}, {kMain + ".bak", b}}, true, kRecovery,
       makeSheet(1), 40, {{kMain + kStamp, tooManyValues}, {kRecovery, b}}, {}},
      // Once a recovery sheet exists, every later load uses it: also when it was
      // moved aside (it could not be copied) and nothing took its place yet. The main
      // sheet's backup is not taken up again.
      {"recovery sheet moved aside, nothing in its place", {{kMain, kGarbage}, {kMain + ".bak", b},
       {kRecovery + ".damaged-1600000000", kGarbage2}}, true, kRecovery, emptySheet(), 41, {}, {}},
      {"recovery sheet moved aside, its damaged backup kept", {{kMain, a}, {kMain + ".bak", b},
       {kRecovery + ".damaged-1600000000-1", kGarbage2}, {kRecovery + ".bak.damaged-1600000000", kGarbage3}},
       true, kRecovery, emptySheet(), 41, {}, {}},
      // All ten names the kept copy once could take are taken: a counter after the
      // time gives a free one, so saves are not blocked.
      {"damaged recovery sheet, ten copy names taken", takenNames, true, kRecovery, emptySheet(), 41,
       {{kRecovery + kStampNext, kGarbage2}}, {}},
  };
}

TEST(LoadSheetForImage, EachStateOfTheFilesLoadsAndRecoversAsOrdered) {
  for (const LoadCase& c : loadCases()) {
    SCOPED_TRACE(c.name);
    RulesSession rules;
    Session& session = rules.session;
    const auto folder = rules.folder.path() / "observations";
    for (const auto& [name, bytes] : c.files) writeFile(folder / name, bytes);

    // The state a previous image left behind.
    session.currentImage = makeImage(kWidth, kHeight, kHash);
    session.storageAvailable = c.storageAvailable;
    session.sheet = makeSheet(4, kOtherHash, 50, 50);
    session.sheetPath = folder / "previous.json";
    session.dirty = true;
    session.selectedId = 3;
    session.listTop = 2;
    session.undoSlot.present = true;
    session.undoSlot.marker.id = 9;
    session.cropRect = CropRect{1, 2, 3, 4};
    session.statusText = u"string 25";
    session.statusIsError = false;
    rules.view.texts[ID_NOTE_EDIT] = u"old note";

    loadSheetForImage(session);

    EXPECT_EQ(session.sheetPath, c.activeName.empty() ? std::filesystem::path() : folder / c.activeName);
    EXPECT_EQ(printSheet(session.sheet), printSheet(c.sheet));
    EXPECT_FALSE(session.dirty);
    EXPECT_EQ(session.selectedId, 0);
    EXPECT_EQ(session.listTop, 0);
    EXPECT_FALSE(session.undoSlot.present);
    EXPECT_EQ(session.cropRect, CropRect{});
    EXPECT_EQ(rules.view.texts[ID_NOTE_EDIT], u"");
    if (c.status) {
      EXPECT_EQ(session.statusText, uiText(Language::English, *c.status));
      EXPECT_TRUE(session.statusIsError);
    } else {
      EXPECT_EQ(session.statusText, u"string 25");
    }
    if (c.storageAvailable) {
      // The controls were refreshed for the empty selection.
      EXPECT_FALSE(rules.view.enabledStates.empty());
      EXPECT_FALSE(rules.view.enabledStates[ID_NOTE_EDIT]);
      EXPECT_TRUE(rules.view.enabledStates[ID_ADD_MARKER]);
    }
    EXPECT_GT(rules.view.invalidations, 0);

    std::set<std::string> expectedNames;
    for (const auto& entry : c.files) expectedNames.insert(entry.first);
    for (const auto& entry : c.created) expectedNames.insert(entry.first);
    for (const auto& name : c.moved) expectedNames.erase(name);
    EXPECT_EQ(namesIn(folder), expectedNames);
    for (const auto& [name, bytes] : c.files) {
      SCOPED_TRACE(name);
      if (c.moved.count(name) != 0) continue;
      const auto changed = c.changed.find(name);
      EXPECT_EQ(readBytes(folder / name), changed == c.changed.end() ? bytes : changed->second);
    }
    for (const auto& [name, bytes] : c.created) {
      SCOPED_TRACE(name);
      EXPECT_EQ(readBytes(folder / name), bytes);
    }
  }
}

TEST(LoadSheetForImage, FirstChangeAfterUnreadableFilesGoesToTheRecoverySheet) {
  RulesSession rules;
  Session& session = rules.session;
  const auto folder = rules.folder.path() / "observations";
  writeFile(folder / kMain, kGarbage);
  writeFile(folder / (kMain + ".bak"), kGarbage2);
  session.currentImage = makeImage(kWidth, kHeight, kHash);
  loadSheetForImage(session);
  ASSERT_EQ(session.statusText, uiText(Language::English, 41));

  session.sheet.marks.push_back({1, 5.5, 6.5, "first", kNow});
  session.sheet.nextId = 2;
  session.dirty = true;
  ASSERT_TRUE(saveSheet(session));
  EXPECT_EQ(readBytes(folder / kRecovery), printSheet(session.sheet));
  EXPECT_EQ(readBytes(folder / kMain), kGarbage);
  EXPECT_EQ(readBytes(folder / (kMain + ".bak")), kGarbage2);

  // Every later load of the image uses the recovery sheet.
  rules.seconds += 60;
  loadSheetForImage(session);
  EXPECT_EQ(session.sheetPath, folder / kRecovery);
  ASSERT_EQ(session.sheet.marks.size(), 1u);
  EXPECT_EQ(session.sheet.marks[0].note, "first");
  EXPECT_EQ(namesIn(folder), (std::set<std::string>{kMain, kMain + ".bak", kMain + kStamp, kRecovery}));
}

TEST(LoadSheetForImage, RecoveredBackupThatCannotBeSavedKeepsCouldNotSave) {
  RulesSession rules;
  Session& session = rules.session;
  const auto folder = rules.folder.path() / "observations";
  const std::string backup = printSheet(makeSheet(2));
  writeFile(folder / kMain, kGarbage);
  writeFile(folder / (kMain + ".bak"), backup);
  // A folder under the recovery sheet's temporary name makes its write fail.
  std::filesystem::create_directory(folder / (kRecovery + ".tmp"));
  session.currentImage = makeImage(kWidth, kHeight, kHash);
  session.statusText = u"string 25";
  loadSheetForImage(session);
  EXPECT_EQ(session.statusText, uiText(Language::English, 27));
  EXPECT_TRUE(session.statusIsError);
  EXPECT_TRUE(session.dirty);
  EXPECT_EQ(session.sheetPath, folder / kRecovery);
  EXPECT_EQ(printSheet(session.sheet), backup);
  EXPECT_FALSE(std::filesystem::exists(folder / kRecovery));

  // Once the obstacle is gone, the next save stores the recovered sheet.
  std::filesystem::remove(folder / (kRecovery + ".tmp"));
  ASSERT_TRUE(saveSheet(session));
  EXPECT_EQ(readBytes(folder / kRecovery), backup);
  EXPECT_EQ(readBytes(folder / kMain), kGarbage);
}

TEST(LoadSheetForImage, UnchangedDamagedSheetIsCopiedAsideOnce) {
  RulesSession rules;
  Session& session = rules.session;
  const auto folder = rules.folder.path() / "observations";
  writeFile(folder / kMain, kGarbage);
  session.currentImage = makeImage(kWidth, kHeight, kHash);
  const std::string firstCopy = kMain + kStamp;
  for (int load = 0; load < 3; ++load) {
    loadSheetForImage(session);  // as after every restore from the notification area
    EXPECT_EQ(session.statusText, uiText(Language::English, 41));
    rules.seconds += 3600;
  }
  EXPECT_EQ(namesIn(folder), (std::set<std::string>{kMain, firstCopy}));
  EXPECT_EQ(readBytes(folder / firstCopy), kGarbage);

  // Changed bytes are another damaged version and get their own copy.
  writeFile(folder / kMain, kGarbage2);
  loadSheetForImage(session);
  const std::string secondCopy = kMain + ".damaged-" + std::to_string(rules.seconds);
  EXPECT_EQ(namesIn(folder), (std::set<std::string>{kMain, firstCopy, secondCopy}));
  EXPECT_EQ(readBytes(folder / secondCopy), kGarbage2);
}

TEST(LoadSheetForImage, OpeningWithoutChangesWritesNothing) {
  RulesSession rules;
  Session& session = rules.session;
  session.currentImage = makeImage(kWidth, kHeight, kHash);
  loadSheetForImage(session);
  EXPECT_TRUE(saveSheet(session));
  EXPECT_TRUE(namesIn(rules.folder.path() / "observations").empty());
}

}  // namespace
}  // namespace tessary

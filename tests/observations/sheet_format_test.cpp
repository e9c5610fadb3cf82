#include "observations/observation_sheet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "text/text_rules.h"

namespace tessary {
namespace {

using nlohmann::json;

const std::string kHash(64, 'a');

// The sample sheet: 100 x 80 pixels, two markers, the second one on the last pixel
// with a note that starts with an equals sign.
ObservationSheet sampleSheet() {
  ObservationSheet sheet;
  sheet.imageSHA256 = kHash;
  sheet.width = 100;
  sheet.height = 80;
  sheet.nextId = 3;
  sheet.marks.push_back({1, 10.5, 20.5, "A \"quoted\" note\r\nSecond line", 1700000000});
  sheet.marks.push_back({2, 99, 79, "=SUM(A1:A3)", 1700000100});
  return sheet;
}

// Its printed form, written out by hand.
const std::string kSampleText =
    "{\n"
    "  \"format\": \"Tessary\",\n"
    "  \"height\": 80,\n"
    "  \"imageSHA256\": \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\",\n"
    "  \"marks\": [\n"
    "    {\n"
    "      \"createdUTC\": 1700000000,\n"
    "      \"id\": 1,\n"
    "      \"note\": \"A \\\"quoted\\\" note\\r\\nSecond line\",\n"
    "      \"x\": 10.5,\n"
    "      \"y\": 20.5\n"
    "    },\n"
    "    {\n"
    "      \"createdUTC\": 1700000100,\n"
    "      \"id\": 2,\n"
    "      \"note\": \"=SUM(A1:A3)\",\n"
    "      \"x\": 99.0,\n"
    "      \"y\": 79.0\n"
    "    }\n"
    "  ],\n"
    "  \"nextId\": 3,\n"
    "  \"version\": 1,\n"
    "  \"width\": 100\n"
    "}";

// A JSON value as the parser reads it from a file (non-negative integers unsigned).
json J(const char* text) { return json::parse(text); }

// The message of whatever `action` raises, or "" when it raises nothing.
template <typename Action>
std::string errorOf(Action action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "";
}

void expectSameSheet(const ObservationSheet& actual, const ObservationSheet& expected) {
  EXPECT_EQ(actual.imageSHA256, expected.imageSHA256);
  EXPECT_EQ(actual.width, expected.width);
  EXPECT_EQ(actual.height, expected.height);
  EXPECT_EQ(actual.nextId, expected.nextId);
  ASSERT_EQ(actual.marks.size(), expected.marks.size());
  for (std::size_t i = 0; i < expected.marks.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(actual.marks[i].id, expected.marks[i].id);
    EXPECT_EQ(actual.marks[i].x, expected.marks[i].x);
    EXPECT_EQ(actual.marks[i].y, expected.marks[i].y);
    EXPECT_EQ(actual.marks[i].note, expected.marks[i].note);
    EXPECT_EQ(actual.marks[i].createdUTC, expected.marks[i].createdUTC);
  }
}

TEST(SheetFormat, SampleSheetPrintsExactlyAndRoundTrips) {
  const ObservationSheet sheet = sampleSheet();
  const std::string printed = printSheet(sheet);
  EXPECT_EQ(printed, kSampleText);

  const ObservationSheet back = sheetFromJson(json::parse(printed));
  expectSameSheet(back, sheet);
  EXPECT_EQ(back.marks[0].note, "A \"quoted\" note\r\nSecond line");
  EXPECT_EQ(back.marks[1].x, 99.0);
  EXPECT_EQ(printSheet(back), kSampleText);
}

TEST(SheetFormat, EmptySheetPrintsMarksAsEmptyArray) {
  ObservationSheet sheet;
  sheet.imageSHA256 = kHash;
  sheet.width = 1;
  sheet.height = 1;
  sheet.nextId = 1;
  const std::string expected =
      "{\n"
      "  \"format\": \"Tessary\",\n"
      "  \"height\": 1,\n"
      "  \"imageSHA256\": \"" + kHash + "\",\n"
      "  \"marks\": [],\n"
      "  \"nextId\": 1,\n"
      "  \"version\": 1,\n"
      "  \"width\": 1\n"
      "}";
  EXPECT_EQ(printSheet(sheet), expected);
  EXPECT_TRUE(sheetToJson(sheet).at("marks").is_array());
  expectSameSheet(sheetFromJson(json::parse(expected)), sheet);
}

TEST(SheetFormat, UnknownMembersAreIgnoredAndNotWrittenBack) {
  json document = json::parse(kSampleText);
  document["comment"] = "written by another tool";
  document["marks"][0]["colour"] = "red";
  document["marks"][1]["tags"] = json::array({1, 2});
  const ObservationSheet sheet = sheetFromJson(document);
  expectSameSheet(sheet, sampleSheet());
  EXPECT_EQ(printSheet(sheet), kSampleText);
}

TEST(SheetFormat, NotesKeepRawUtf8AndEscapeControlCharacters) {
  ObservationSheet sheet = sampleSheet();
  sheet.marks.resize(1);
  // Latin, Greek, CJK and an emoji stay raw; tab, a bare LF and U+0001 are escaped.
  sheet.marks[0].note = "N\xC3\xA9" "bula \xCE\xB1 \xE6\x98\x9F \xF0\x9F\x8C\x8C\tend\nx\x01y";
  const std::string printed = printSheet(sheet);
  EXPECT_NE(printed.find("\"note\": \"N\xC3\xA9" "bula \xCE\xB1 \xE6\x98\x9F \xF0\x9F\x8C\x8C\\tend\\nx\\u0001y\""),
            std::string::npos)
      << printed;
  EXPECT_EQ(printed.back(), '}');
  EXPECT_EQ(sheetFromJson(json::parse(printed)).marks[0].note, sheet.marks[0].note);
}

TEST(SheetFormat, CoordinatesPrintInShortestRoundTripFormWithFractionPart) {
  struct Case {
    double value;
    const char* printed;
  };
  const Case cases[] = {
      {0.0, "0.0"},          {99.0, "99.0"},       {19999.0, "19999.0"},           {0.1, "0.1"},
      {10.25, "10.25"},      {1.0 / 3.0, "0.3333333333333333"},                    {12345.678, "12345.678"},
      {0.000123, "0.000123"}, {79.99999999999999, "79.99999999999999"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.printed);
    ObservationSheet sheet = sampleSheet();
    sheet.width = 20000;
    sheet.marks.resize(1);
    sheet.marks[0].x = c.value;
    const std::string printed = printSheet(sheet);
    EXPECT_NE(printed.find(std::string("\"x\": ") + c.printed + ",\n"), std::string::npos) << printed;
    EXPECT_EQ(sheetFromJson(json::parse(printed)).marks[0].x, c.value);
  }
}

TEST(SheetFormat, InvalidUtf8NoteFailsThePrint) {
  ObservationSheet sheet = sampleSheet();
  sheet.marks[0].note = "bad \xFF byte";
  EXPECT_EQ(errorOf([&] { printSheet(sheet); }),
            "[json.exception.type_error.316] invalid UTF-8 byte at index 4: 0xFF");
}

// Every refusal and every boundary of the reader, applied to the sample document:
// the change, then the expected error text ("" means the document is accepted).
TEST(SheetFormat, ReaderRefusesEachBadDocumentWithItsError) {
  struct Case {
    const char* name;
    std::function<void(json&)> change;
    std::string error;
  };
  const std::string overflow = "Integer overflow";
  const std::string limit = "Integer limit";
  const std::string required = "Integer required";
  const std::string invalidSheet = "Invalid sheet";
  const std::string invalidMarker = "Invalid marker";
  const std::vector<Case> cases = {
      {"unchanged", [](json&) {}, ""},
      // the document and its format
      {"not an object", [](json& d) { d = json::array({1}); },
       "[json.exception.type_error.304] cannot use at() with array"},
      {"format missing", [](json& d) { d.erase("format"); }, "[json.exception.out_of_range.403] key 'format' not found"},
      {"format in other case", [](json& d) { d["format"] = "tessary"; }, "Unsupported sheet"},
      {"format not a string", [](json& d) { d["format"] = J("1"); }, "Unsupported sheet"},
      {"format checked before version", [](json& d) { d["format"] = "Other"; d["version"] = J("2"); },
       "Unsupported sheet"},
      {"version missing", [](json& d) { d.erase("version"); }, "[json.exception.out_of_range.403] key 'version' not found"},
      {"version 2", [](json& d) { d["version"] = J("2"); }, overflow},
      {"version 0", [](json& d) { d["version"] = J("0"); }, limit},
      {"version -1", [](json& d) { d["version"] = J("-1"); }, limit},
      {"version 1.0", [](json& d) { d["version"] = J("1.0"); }, required},
      {"version as text", [](json& d) { d["version"] = "1"; }, required},
      // hash and size
      {"hash not a string", [](json& d) { d["imageSHA256"] = J("5"); },
       "[json.exception.type_error.302] type must be string, but is number"},
      {"hash invalid", [](json& d) { d["imageSHA256"] = "invalid"; }, invalidSheet},
      {"hash upper case", [](json& d) { d["imageSHA256"] = std::string(64, 'A'); }, invalidSheet},
      {"hash 63 characters", [](json& d) { d["imageSHA256"] = std::string(63, 'a'); }, invalidSheet},
      {"hash 65 characters", [](json& d) { d["imageSHA256"] = std::string(65, 'a'); }, invalidSheet},
      {"hash with g", [](json& d) { d["imageSHA256"] = std::string(63, 'a') + "g"; }, invalidSheet},
      {"hash of digits", [](json& d) { d["imageSHA256"] = std::string(64, '7'); }, ""},
      {"width above 32 bits", [](json& d) { d["width"] = J("4294967396"); }, overflow},
      {"height far below zero", [](json& d) { d["height"] = J("-4294967216"); }, limit},
      {"width 0", [](json& d) { d["width"] = J("0"); }, limit},
      {"width 20001", [](json& d) { d["width"] = J("20001"); }, overflow},
      {"width beyond 64 bits", [](json& d) { d["width"] = json::parse("18446744073709551616"); }, required},
      {"width 100.0", [](json& d) { d["width"] = J("100.0"); }, required},
      {"width null", [](json& d) { d["width"] = nullptr; }, required},
      {"width true", [](json& d) { d["width"] = true; }, required},
      {"height missing", [](json& d) { d.erase("height"); }, "[json.exception.out_of_range.403] key 'height' not found"},
      {"size read before the hash is checked", [](json& d) { d["imageSHA256"] = "x"; d["width"] = J("0"); }, limit},
      {"20000 x 7500", [](json& d) { d["width"] = J("20000"); d["height"] = J("7500"); }, ""},
      {"20000 x 7501", [](json& d) { d["width"] = J("20000"); d["height"] = J("7501"); }, invalidSheet},
      {"nextId 0", [](json& d) { d["nextId"] = J("0"); }, limit},
      {"nextId 1000000", [](json& d) { d["nextId"] = J("1000000"); }, ""},
      {"nextId 1000001", [](json& d) { d["nextId"] = J("1000001"); }, overflow},
      // the marks array
      {"marks missing", [](json& d) { d.erase("marks"); }, "[json.exception.out_of_range.403] key 'marks' not found"},
      {"marks an object", [](json& d) { d["marks"] = json::object(); }, invalidSheet},
      {"200 marks",
       [](json& d) {
         d["nextId"] = J("201");
         json marks = json::array();
         for (unsigned id = 1; id <= 200; ++id) marks.push_back({{"id", id}, {"x", 1.5}, {"y", 2.5}, {"note", ""}, {"createdUTC", 0}});
         d["marks"] = marks;
       },
       ""},
      {"201 marks",
       [](json& d) {
         d["nextId"] = J("202");
         json marks = json::array();
         for (unsigned id = 1; id <= 201; ++id) marks.push_back({{"id", id}, {"x", 1.5}, {"y", 2.5}, {"note", ""}, {"createdUTC", 0}});
         d["marks"] = marks;
       },
       invalidSheet},
      // markers
      {"marker not an object", [](json& d) { d["marks"][1] = J("2"); }, "[json.exception.type_error.304] cannot use at() with number"},
      {"marker id repeated", [](json& d) { d["marks"][1]["id"] = J("1"); }, invalidMarker},
      {"marker id 1.5", [](json& d) { d["marks"][0]["id"] = J("1.5"); }, required},
      {"marker id 1.0", [](json& d) { d["marks"][0]["id"] = J("1.0"); }, required},
      {"marker id 0", [](json& d) { d["marks"][0]["id"] = J("0"); }, limit},
      {"marker id equal to nextId", [](json& d) { d["marks"][1]["id"] = J("3"); }, overflow},
      {"marker under nextId 1", [](json& d) { d["nextId"] = J("1"); }, overflow},
      {"x equal to the width", [](json& d) { d["marks"][0]["x"] = J("100"); }, invalidMarker},
      {"x 99.999", [](json& d) { d["marks"][0]["x"] = J("99.999"); }, ""},
      {"x as integer", [](json& d) { d["marks"][0]["x"] = J("7"); }, ""},
      {"x negative", [](json& d) { d["marks"][0]["x"] = J("-0.5"); }, invalidMarker},
      {"y equal to the height", [](json& d) { d["marks"][0]["y"] = J("80.0"); }, invalidMarker},
      {"x as text", [](json& d) { d["marks"][0]["x"] = "1"; },
       "[json.exception.type_error.302] type must be number, but is string"},
      {"y as boolean", [](json& d) { d["marks"][0]["y"] = true; },
       "[json.exception.type_error.302] type must be number, but is boolean"},
      {"x missing", [](json& d) { d["marks"][0].erase("x"); }, "[json.exception.out_of_range.403] key 'x' not found"},
      {"x not finite", [](json& d) { d["marks"][0]["x"] = std::numeric_limits<double>::infinity(); }, invalidMarker},
      {"note not a string", [](json& d) { d["marks"][0]["note"] = J("1"); },
       "[json.exception.type_error.302] type must be string, but is number"},
      {"note with U+0000", [](json& d) { d["marks"][0]["note"] = std::string("a\0b", 3); }, "Unsupported text"},
      {"note with a Cyrillic letter", [](json& d) { d["marks"][0]["note"] = "Note \xD1\x80"; }, "Unsupported text"},
      {"note of 8000 bytes", [](json& d) { d["marks"][0]["note"] = std::string(8000, 'n'); }, ""},
      {"note of 8001 bytes", [](json& d) { d["marks"][0]["note"] = std::string(8001, 'n'); }, "Unsupported text"},
      {"createdUTC year 3000", [](json& d) { d["marks"][0]["createdUTC"] = J("32503680000"); }, ""},
      {"createdUTC one second later", [](json& d) { d["marks"][0]["createdUTC"] = J("32503680001"); }, overflow},
      {"createdUTC -1", [](json& d) { d["marks"][0]["createdUTC"] = J("-1"); }, limit},
      {"createdUTC 0", [](json& d) { d["marks"][0]["createdUTC"] = J("0"); }, ""},
      {"createdUTC read before the repeated id", [](json& d) { d["marks"][1]["id"] = J("1"); d["marks"][1]["createdUTC"] = J("-1"); },
       limit},
      {"note read before the place is checked", [](json& d) { d["marks"][0]["x"] = J("500"); d["marks"][0]["note"] = J("2"); },
       "[json.exception.type_error.302] type must be string, but is number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    json document = json::parse(kSampleText);
    c.change(document);
    EXPECT_EQ(errorOf([&] { sheetFromJson(document); }), c.error);
  }
}

TEST(SheetFormat, AcceptedBoundariesKeepTheirValues) {
  json document = json::parse(kSampleText);
  document["width"] = 20000;
  document["height"] = 7500;
  document["marks"][0]["x"] = 99.999;
  document["marks"][0]["createdUTC"] = std::int64_t{32503680000};
  const ObservationSheet sheet = sheetFromJson(document);
  EXPECT_EQ(sheet.width, 20000u);
  EXPECT_EQ(sheet.height, 7500u);
  EXPECT_EQ(sheet.marks[0].x, 99.999);
  EXPECT_EQ(sheet.marks[0].createdUTC, 32503680000);
}

TEST(SheetFormat, MarkersKeepTheirFileOrder) {
  json document = json::parse(kSampleText);
  std::swap(document["marks"][0], document["marks"][1]);
  const ObservationSheet sheet = sheetFromJson(document);
  ASSERT_EQ(sheet.marks.size(), 2u);
  EXPECT_EQ(sheet.marks[0].id, 2);
  EXPECT_EQ(sheet.marks[1].id, 1);
}

TEST(ReadBoundedInteger, FollowsItsOrderOfChecks) {
  struct Case {
    const char* name;
    json value;
    std::int64_t minimum;
    std::int64_t maximum;
    std::string error;
    std::int64_t result;
  };
  const std::vector<Case> cases = {
      {"inside", json{{"n", 5}}, 1, 10, "", 5},
      {"at the minimum", json{{"n", 1}}, 1, 10, "", 1},
      {"at the maximum", json{{"n", 10}}, 1, 10, "", 10},
      {"negative inside", json{{"n", -3}}, -5, 5, "", -3},
      {"unsigned above", json{{"n", 11u}}, 1, 10, "Integer overflow", 0},
      {"signed value above", json{{"n", std::int64_t{11}}}, 1, 10, "Integer limit", 0},
      {"below", json{{"n", 0}}, 1, 10, "Integer limit", 0},
      {"largest unsigned", json::parse(R"({"n": 18446744073709551615})"), 0, 10, "Integer overflow", 0},
      {"beyond 64 bits", json::parse(R"({"n": 18446744073709551616})"), 0, 10, "Integer required", 0},
      {"exponent", json::parse(R"({"n": 1e1})"), 0, 10, "Integer required", 0},
      {"fraction", json{{"n", 2.5}}, 0, 10, "Integer required", 0},
      {"string", json{{"n", "5"}}, 0, 10, "Integer required", 0},
      {"null", json{{"n", nullptr}}, 0, 10, "Integer required", 0},
      {"missing", json{{"m", 5}}, 0, 10, "[json.exception.out_of_range.403] key 'n' not found", 0},
      {"not an object", json::array({5}), 0, 10, "[json.exception.type_error.304] cannot use at() with array", 0},
      {"a string value", json("n"), 0, 10, "[json.exception.type_error.304] cannot use at() with string", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::int64_t result = 0;
    EXPECT_EQ(errorOf([&] { result = readBoundedInteger(c.value, "n", c.minimum, c.maximum); }), c.error);
    if (c.error.empty()) {
      EXPECT_EQ(result, c.result);
    }
  }
}

}  // namespace
}  // namespace tessary

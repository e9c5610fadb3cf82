#include "exports/notes_csv.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace tessary {
namespace {

ObservationSheet sheetWithNotes(std::initializer_list<std::string> notes) {
  ObservationSheet sheet;
  sheet.imageSHA256 = std::string(64, 'b');
  sheet.width = 100;
  sheet.height = 100;
  std::int32_t id = 1;
  for (const std::string& note : notes) {
    sheet.marks.push_back(Marker{id, 1.0 * id, 2.0 * id, note, 1000 + id});
    ++id;
  }
  sheet.nextId = id;
  return sheet;
}

// The note field of row `row` (1-based) of a one-or-more-row table, without its quotes.
std::string noteFieldOf(const std::string& csv, std::size_t row) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < row; ++i) start = csv.find("\r\n", start) + 2;
  // The note field starts after the fourth comma and runs to the last quote before CR LF.
  std::size_t field = start;
  for (int commas = 0; commas < 4; ++commas) field = csv.find(',', field) + 1;
  const std::size_t end = csv.find("\"\r\n", field);
  return csv.substr(field + 1, end - field - 1);
}

TEST(NotesCsv, TwoMarkerTableByteForByte) {
  ObservationSheet sheet;
  sheet.imageSHA256 = std::string(64, 'c');
  sheet.width = 200;
  sheet.height = 100;
  sheet.nextId = 3;
  sheet.marks.push_back(Marker{1, 10.5, 20.5, "A \"quoted\" note\nSecond line", 1720000000});
  sheet.marks.push_back(Marker{2, 99, 79, "=dangerous spreadsheet formula", 1720000061});
  const std::string expected =
      "marker,x_pixels,y_pixels,created_utc,note\r\n"
      "1,10.500000,20.500000,1720000000,\"A \"\"quoted\"\" note\nSecond line\"\r\n"
      "2,99.000000,79.000000,1720000061,\"'=dangerous spreadsheet formula\"\r\n";
  EXPECT_EQ(notesCsv(sheet), expected);
}

TEST(NotesCsv, NoMarkersGivesTheHeaderAlone) {
  ObservationSheet sheet;
  EXPECT_EQ(notesCsv(sheet), "marker,x_pixels,y_pixels,created_utc,note\r\n");
}

TEST(NotesCsv, EmptyNoteIsTwoQuotes) {
  const std::string csv = notesCsv(sheetWithNotes({""}));
  EXPECT_EQ(csv, std::string(kNotesCsvHeader) + "1,1.000000,2.000000,1001,\"\"\r\n");
}

TEST(NotesCsv, FormulaNeutralisation) {
  struct Case {
    std::string note;
    std::string field;
  };
  const Case cases[] = {
      {"=1+1", "'=1+1"},
      {"+1", "'+1"},
      {"-1", "'-1"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\tlead", "'\tlead"},
      {"\rlead", "'\rlead"},
      {"\nlead", "\nlead"},
      {" =x", " =x"},
      {"\"=x\"", "\"\"=x\"\""},  // a leading double quote is doubled, never prefixed
      {"'=x", "'=x"},
      {"a=b", "a=b"},
      {"\xC3\xA9=", "\xC3\xA9="},
      {"\"", "\"\""},
  };
  for (const Case& c : cases) {
    const std::string csv = notesCsv(sheetWithNotes({c.note}));
    EXPECT_EQ(noteFieldOf(csv, 1), c.field) << "note: " << c.note;
  }
}

TEST(NotesCsv, NumbersAsPrintfFixed) {
  ObservationSheet sheet;
  sheet.marks.push_back(Marker{-7, 0.0078125, 1.0 / 3.0, "", -12});
  sheet.marks.push_back(Marker{999999, 19999.9999999, 123456.25, "", 32503680000});
  sheet.marks.push_back(Marker{5, -0.5, 0.0000004, "", 0});
  const std::string expected = std::string(kNotesCsvHeader) +
                               "-7,0.007812,0.333333,-12,\"\"\r\n"
                               "999999,20000.000000,123456.250000,32503680000,\"\"\r\n"
                               "5,-0.500000,0.000000,0,\"\"\r\n";
  EXPECT_EQ(notesCsv(sheet), expected);
}

TEST(NotesCsv, PointSeparatorWhateverTheLocale) {
  // A process locale with a decimal comma must not reach the file. Where no such
  // locale is installed, the classic locale stays and the check still holds.
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "de-DE"}) {
    if (std::setlocale(LC_ALL, name)) break;
  }
  const std::string csv = notesCsv(sheetWithNotes({"x"}));
  std::setlocale(LC_ALL, previous.c_str());
  EXPECT_EQ(csv, std::string(kNotesCsvHeader) + "1,1.000000,2.000000,1001,\"x\"\r\n");
}

}  // namespace
}  // namespace tessary

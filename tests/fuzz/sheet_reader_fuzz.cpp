// The observation-sheet reader on any bytes: it refuses them with one of its own
// errors or accepts them, and a sheet it accepts, written back, reads again as the
// same sheet (through the file reader itself), and its printed text is the
// canonical form (reading and printing it again changes nothing).
//
// The bytes go through sheetFromText, the parse that readSheetFile applies to the
// file it has read (zero byte refused, one document without comments, no member
// named twice, bounded nesting, values and number lengths), after the same
// file-size limit.
//
// Inputs reach the read limit in two ways: as they are (run with -max_len at the
// limit, as scripts/fuzz.sh does), and through a repetition that turns a small
// input into a large one, so that the worst shapes (many empty objects, deep
// nesting, many numbers) are tried at full size from small seeds. An input
//   "repeat\n" prefix "\x1f" unit "\x1f" suffix
// is read as the prefix, the unit repeated as often as fits, and the suffix, at most
// the read limit in all. Every input is bounded in time by the run's -timeout.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "observations/observation_sheet.h"
#include "observations/sheet_store.h"
#include "text/text_rules.h"

namespace {

using tessary::ObservationSheet;

std::optional<ObservationSheet> readSheetText(const std::string& bytes) {
  if (bytes.size() > tessary::kSheetFileLimit) return std::nullopt;
  try {
    return tessary::sheetFromText(bytes);
  } catch (const nlohmann::json::exception&) {
  } catch (const tessary::SheetError&) {
  } catch (const tessary::TextError&) {
  }
  return std::nullopt;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool sameSheet(const ObservationSheet& a, const ObservationSheet& b) {
  if (a.imageSHA256 != b.imageSHA256 || a.width != b.width || a.height != b.height || a.nextId != b.nextId ||
      a.marks.size() != b.marks.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.marks.size(); ++i) {
    const auto& m = a.marks[i];
    const auto& n = b.marks[i];
    if (m.id != n.id || !sameBits(m.x, n.x) || !sameBits(m.y, n.y) || m.note != n.note || m.createdUTC != n.createdUTC) {
      return false;
    }
  }
  return true;
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "sheet round trip: %s\n", what);
  std::abort();
}

// One file per fuzzing process, removed when the process ends normally.
struct ScratchFile {
  std::filesystem::path path;
  ScratchFile() {
    const char* folder = std::getenv("TMPDIR");
    path = std::filesystem::path(folder && *folder ? folder : "/tmp") /
           ("tessary-sheet-fuzz-" + std::to_string(getpid()) + ".json");
  }
  ~ScratchFile() {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
};

const std::filesystem::path& scratchFile() {
  static const ScratchFile file;
  return file.path;
}

// The repetition described above, or the bytes as they are.
std::string expanded(std::string bytes) {
  static const std::string kHeader = "repeat\n";
  if (bytes.rfind(kHeader, 0) != 0) return bytes;
  const std::size_t first = bytes.find('\x1f', kHeader.size());
  const std::size_t second = first == std::string::npos ? first : bytes.find('\x1f', first + 1);
  if (second == std::string::npos) return bytes;
  const std::string prefix = bytes.substr(kHeader.size(), first - kHeader.size());
  const std::string unit = bytes.substr(first + 1, second - first - 1);
  const std::string suffix = bytes.substr(second + 1);
  const std::size_t limit = static_cast<std::size_t>(tessary::kSheetFileLimit);
  if (prefix.size() + suffix.size() > limit) return bytes;
  const std::size_t count = unit.empty() ? 0 : (limit - prefix.size() - suffix.size()) / unit.size();
  std::string text;
  text.reserve(prefix.size() + count * unit.size() + suffix.size());
  text += prefix;
  for (std::size_t i = 0; i < count; ++i) text += unit;
  text += suffix;
  return text;
}

}  // namespace

// Inputs may be as long as the read limit: "-max_len" is set to it unless the
// command line sets it (a later flag wins).
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static std::vector<std::string> texts;
  static std::vector<char*> arguments;
  texts.push_back("-max_len=" + std::to_string(tessary::kSheetFileLimit));
  arguments.assign(*argv, *argv + *argc);
  arguments.insert(arguments.begin() + (*argc > 0 ? 1 : 0), texts.back().data());
  arguments.push_back(nullptr);
  *argc += 1;
  *argv = arguments.data();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes = expanded(std::string(reinterpret_cast<const char*>(data), size));
  const std::optional<ObservationSheet> sheet = readSheetText(bytes);
  if (!sheet) return 0;

  const std::string printed = tessary::printSheet(*sheet);
  // Canonical: the library's own printing of the printed text is the same text.
  if (nlohmann::json::parse(printed).dump(2, ' ', false, nlohmann::json::error_handler_t::strict) != printed) {
    fail("printed text is not canonical");
  }
  {
    std::ofstream out(scratchFile(), std::ios::binary | std::ios::trunc);
    out.write(printed.data(), static_cast<std::streamsize>(printed.size()));
    if (!out) fail("scratch file not written");
  }
  ObservationSheet again;
  try {
    again = tessary::readSheetFile(scratchFile());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    fail("written sheet refused by the reader");
  }
  if (!sameSheet(*sheet, again)) fail("sheet read back differs");
  if (tessary::printSheet(again) != printed) fail("printed text changed on the second round");
  return 0;
}

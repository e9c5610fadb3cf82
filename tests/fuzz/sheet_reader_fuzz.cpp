// The observation-sheet reader on any bytes: it refuses them with one of its own
// errors or accepts them, and a sheet it accepts, written back, reads again as the
// same sheet (through the file reader itself), and its printed text is the
// canonical form (reading and printing it again changes nothing).
//
// The bytes go through sheetFromText, the parse that readSheetFile applies to the
// file it has read (zero byte refused, one document without comments, no member
// named twice), after the same file-size limit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
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

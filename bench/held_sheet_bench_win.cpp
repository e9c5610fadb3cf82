// How long the desk pauses when another program holds one of a sheet's files (the
// sheet, its backup, a temporary file beside it) open without sharing it. Each
// figure is the time one call takes on the interface thread: a save (which fails at
// once and leaves the next save to try again), a load (which opens the image
// without its notes until the file can be read) and one timer tick trying the load
// again; each beside the same call with nothing held (the reference), run
// alternately.
//   held_sheet_bench [rounds, default 40]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/session_state.h"
#include "imaging/pixels.h"
#include "imaging/scoped_handle_win.h"
#include "observations/marker_editing.h"
#include "observations/observation_sheet.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"

namespace tessary {
std::filesystem::path withSuffixForBench(const std::filesystem::path& path, const char* suffix) {
  std::filesystem::path result = path;
  result += suffix;
  return result;
}
}  // namespace tessary

namespace {

using Clock = std::chrono::steady_clock;
using tessary::Session;

const std::string kHash(64, 'b');

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

tessary::ObservationSheet sheetWith(int markers) {
  tessary::ObservationSheet sheet;
  sheet.imageSHA256 = kHash;
  sheet.width = 400;
  sheet.height = 300;
  sheet.nextId = markers + 1;
  for (int id = 1; id <= markers; ++id) sheet.marks.push_back({id, 1.5 * id, 2.5 * id, "a note", 1700000000 + id});
  return sheet;
}

// A data folder of its own for one measurement, removed afterwards.
struct Desk {
  explicit Desk(int round) {
    folder = std::filesystem::temp_directory_path() /
             ("held-sheet-bench-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(round));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "observations");
    session.dataFolder = folder;
    session.storageAvailable = true;
    auto image = std::make_shared<tessary::Pixels>();
    image->width = 400;
    image->height = 300;
    image->sha256 = kHash;
    session.currentImage = image;
    session.unixNow = [] { return std::int64_t{1700000000}; };
    main = folder / "observations" / (kHash + ".json");
    recovery = main;
    recovery += ".recovery.json";
  }
  ~Desk() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
  std::filesystem::path folder, main, recovery;
  Session session;
};

// Held by "another program": opened for reading, shared with nobody (or not at all).
tessary::ScopedHandle hold(const std::filesystem::path& path, bool held) {
  if (!held) return tessary::ScopedHandle(INVALID_HANDLE_VALUE);
  return tessary::ScopedHandle(
      CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

double timed(const std::function<void()>& call) {
  const auto start = Clock::now();
  call();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The files of an image with a sheet of three markers and its backup, loaded, and
// one more marker in memory; `stray` leaves a temporary file beside the sheet after
// the load, as a process that ended mid-save would.
void loadedDesk(Desk& desk, bool stray) {
  writeFile(desk.main, tessary::printSheet(sheetWith(3)));
  writeFile(tessary::withSuffixForBench(desk.main, ".bak"), tessary::printSheet(sheetWith(2)));
  tessary::loadSheetForImage(desk.session);
  if (stray) writeFile(tessary::withSuffixForBench(desk.main, ".tmp"), "cut sh");
  desk.session.sheet.marks.push_back({4, 6.0, 7.0, "a note", 1700000004});
  desk.session.sheet.nextId = 5;
  desk.session.dirty = true;
}

// A save while another program holds the sheet, its backup or a temporary file
// beside it (the save fails at once and the next one tries again); the reference
// is the same save with nothing held.
double saveWithHeld(int round, bool held, const char* suffix) {
  Desk desk(round);
  loadedDesk(desk, std::string(suffix) == ".tmp");
  const tessary::ScopedHandle holder = hold(tessary::withSuffixForBench(desk.main, suffix), held);
  return timed([&] { tessary::saveSheet(desk.session); });
}

// The sheet's files before a load: a good sheet with its backup, or, where the
// backup is the file held, a damaged sheet (the load then needs the backup).
void filesBeforeLoad(Desk& desk, const char* suffix) {
  const bool backupNeeded = std::string(suffix) == ".bak";
  writeFile(desk.main, backupNeeded ? "not a sheet" : tessary::printSheet(sheetWith(3)));
  writeFile(tessary::withSuffixForBench(desk.main, ".bak"), tessary::printSheet(sheetWith(2)));
  if (std::string(suffix) == ".tmp") writeFile(tessary::withSuffixForBench(desk.main, ".tmp"), "cut sh");
}

double loadWithHeld(int round, bool held, const char* suffix) {
  Desk desk(round);
  filesBeforeLoad(desk, suffix);
  const tessary::ScopedHandle holder = hold(tessary::withSuffixForBench(desk.main, suffix), held);
  return timed([&] { tessary::loadSheetForImage(desk.session); });
}

// The tick after a load that met the file held; the reference is the tick that
// finds it released and reads it.
double timerTickWithHeld(int round, bool held, const char* suffix) {
  Desk desk(round);
  filesBeforeLoad(desk, suffix);
  {
    const tessary::ScopedHandle holder = hold(tessary::withSuffixForBench(desk.main, suffix), true);
    tessary::loadSheetForImage(desk.session);
    if (held) return timed([&] { tessary::autosaveTick(desk.session); });
  }
  return timed([&] { tessary::autosaveTick(desk.session); });
}

struct Figures {
  std::vector<double> held, reference;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int rounds = argc > 1 ? std::max(1, _wtoi(argv[1])) : 40;
  const struct {
    const char* name;
    double (*measure)(int, bool, const char*);
    const char* suffix;
  } calls[] = {{"save, sheet held", saveWithHeld, ""},
               {"save, backup held", saveWithHeld, ".bak"},
               {"save, temporary file held", saveWithHeld, ".tmp"},
               {"load, sheet held", loadWithHeld, ""},
               {"load, damaged sheet, backup held", loadWithHeld, ".bak"},
               {"load, temporary file held", loadWithHeld, ".tmp"},
               {"timer tick, sheet held", timerTickWithHeld, ""},
               {"tick, damaged sheet, backup held", timerTickWithHeld, ".bak"},
               {"timer tick, temporary file held", timerTickWithHeld, ".tmp"}};
  std::printf("%d rounds each, held and not held alternately\n\n", rounds);
  std::printf("%-34s %12s %12s %12s %14s %8s\n", "call", "held median", "held worst", "free median",
              "free worst", "ratio");
  int round = 0;
  for (const auto& call : calls) {
    Figures figures;
    for (int i = 0; i < rounds; ++i) {
      figures.held.push_back(call.measure(round++, true, call.suffix));
      figures.reference.push_back(call.measure(round++, false, call.suffix));
    }
    std::vector<double> ratios;
    for (int i = 0; i < rounds; ++i) ratios.push_back(figures.held[i] / std::max(figures.reference[i], 1e-3));
    std::printf("%-34s %9.1f ms %9.1f ms %9.2f ms %11.2f ms %8.1f\n", call.name, median(figures.held),
                *std::max_element(figures.held.begin(), figures.held.end()), median(figures.reference),
                *std::max_element(figures.reference.begin(), figures.reference.end()), median(ratios));
  }
  return 0;
}

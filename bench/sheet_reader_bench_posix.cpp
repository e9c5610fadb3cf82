// The sheet reader on the worst files it can meet, natively: each input is as large
// as the read limit allows (many empty objects, deep nesting, many numbers, many
// members, one long string or number, values each as long as the bound allows) or
// the largest sheet the writer makes. For each: its size, what the reader answered,
// the time of readSheetFile (median of the runs), the peak of the memory it
// allocated, and the peak private memory (RssAnon high-water mark) of a process that
// reads it once (file-backed pages excluded). The reference is the JSON library's syntax check alone
// (nlohmann::json::accept on the same bytes, read from the same file), timed
// alternately with the reader; the ratio is the median of the per-run ratios.
//   sheet_reader_bench [runs per input, default 7]
// Measure with a build configured -DTESSARY_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release.
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "observations/observation_sheet.h"
#include "observations/sheet_store.h"

// Every allocation of the process is counted, so that the peak of what the reader
// allocates can be read around one call.
namespace {
std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

void* counted(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  const std::size_t now = liveBytes += malloc_usable_size(block);
  std::size_t peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
  return block;
}

void uncounted(void* block) {
  if (block == nullptr) return;
  liveBytes -= malloc_usable_size(block);
  std::free(block);
}
}  // namespace

void* operator new(std::size_t size) { return counted(size); }
void* operator new[](std::size_t size) { return counted(size); }
void operator delete(void* block) noexcept { uncounted(block); }
void operator delete[](void* block) noexcept { uncounted(block); }
void operator delete(void* block, std::size_t) noexcept { uncounted(block); }
void operator delete[](void* block, std::size_t) noexcept { uncounted(block); }

namespace {

using Clock = std::chrono::steady_clock;

struct Input {
  const char* name;
  std::string bytes;
};

const std::size_t kLimit = static_cast<std::size_t>(tessary::kSheetFileLimit);

// prefix + as many units as fit + suffix, at most the read limit.
std::string filled(const std::string& prefix, const std::string& unit, const std::string& separator,
                   const std::string& suffix) {
  std::string text = prefix;
  const std::size_t room = kLimit - prefix.size() - suffix.size();
  bool first = true;
  while (text.size() - prefix.size() + unit.size() + (first ? 0 : separator.size()) <= room) {
    if (!first) text += separator;
    text += unit;
    first = false;
  }
  return text + suffix;
}

std::string largestSheet() {
  tessary::ObservationSheet sheet;
  sheet.imageSHA256 = std::string(64, 'f');
  sheet.width = 20000;
  sheet.height = 7500;
  sheet.nextId = 1000000;
  for (std::size_t i = 0; i < tessary::kMaxMarkers; ++i) {
    tessary::Marker marker;
    marker.id = sheet.nextId - static_cast<std::int32_t>(tessary::kMaxMarkers - i);
    marker.x = 19999.999999999996;
    marker.y = 2.2250738585072014e-308;
    marker.note = std::string(tessary::kNoteByteLimit, '\x01');
    marker.createdUTC = tessary::kLatestCreatedUTC;
    sheet.marks.push_back(marker);
  }
  return tessary::printSheet(sheet);
}

std::vector<Input> inputs() {
  const std::string head =
      "{\"format\": \"Tessary\", \"version\": 1, \"imageSHA256\": \"" + std::string(64, 'a') +
      "\", \"width\": 100, \"height\": 80, \"nextId\": 1, \"marks\": [], \"extra\": ";
  std::vector<Input> list;
  list.push_back({"largest sheet the writer makes", largestSheet()});
  list.push_back({"many empty objects", filled(head + "[", "{}", ",", "]}")});
  list.push_back({"many empty objects as markers", filled(head.substr(0, head.find("\"marks\"")) + "\"marks\": [",
                                                          "{}", ",", "], \"extra\": 0}")});
  const std::size_t depth = (kLimit - head.size() - 1) / 2;
  list.push_back({"deep nesting", head + std::string(depth, '[') + std::string(depth, ']') + "}"});
  list.push_back({"many numbers", filled(head + "[", "0", ",", "]}")});
  list.push_back({"many fractions", filled(head + "[", "1.5e-300", ",", "]}")});
  {
    std::string members = head + "{";
    for (std::size_t i = 0; members.size() + 24 < kLimit; ++i) {
      if (i > 0) members += ",";
      members += "\"m" + std::to_string(i) + "\":0";
    }
    list.push_back({"many members in one object", members + "}}"});
  }
  list.push_back({"one long string", head + "\"" + std::string(kLimit - head.size() - 3, 'a') + "\"}"});
  list.push_back({"one long integer", head + "1" + std::string(kLimit - head.size() - 2, '0') + "}"});
  list.push_back({"one long fraction", head + "0." + std::string(kLimit - head.size() - 4, '0') + "1}"});
  {
    // As many values as the bound lets through, each a string as long as fits.
    const std::size_t each = (kLimit - head.size()) / tessary::kMaxSheetValues - 4;
    list.push_back({"values at the bound, each a long string",
                    filled(head + "[", "\"" + std::string(each, 'b') + "\"", ",", "]}")});
  }
  list.push_back({"nesting at the bound, each level a long string",
                  head + [] {
                    const std::size_t levels = tessary::kMaxSheetDepth - 2;
                    const std::size_t each = (kLimit - 400) / levels - 8;
                    std::string text;
                    for (std::size_t i = 0; i < levels; ++i) text += "[\"" + std::string(each, 'c') + "\",";
                    text += "0";
                    for (std::size_t i = 0; i < levels; ++i) text += "]";
                    return text;
                  }() + "}"});
  return list;
}

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string answerOf(const std::filesystem::path& path) {
  try {
    const tessary::ObservationSheet sheet = tessary::readSheetFile(path);
    return "accepted, " + std::to_string(sheet.marks.size()) + " markers";
  } catch (const std::exception& error) {
    std::string text = error.what();
    return "refused: " + text.substr(0, 40);
  }
}

std::string fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The reference: the same file read whole, then checked by the library alone.
bool referenceCheck(const std::filesystem::path& path) { return nlohmann::json::accept(fileBytes(path)); }

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

long statusKilobytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
  }
  return -1;
}

// Peak private memory of a fresh process (this program started again with "--once")
// reading the file once: the high-water mark of its resident set less the
// file-backed part, less the private memory it held before the read.
long privatePeakKilobytes(const char* self, const std::filesystem::path& path) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeEnds[0]);
    ::dup2(pipeEnds[1], STDOUT_FILENO);
    ::execl(self, self, "--once", path.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeEnds[1]);
  char text[64] = {};
  const ssize_t got = ::read(pipeEnds[0], text, sizeof text - 1);
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return got > 0 ? std::atol(text) : -1;
}

int readOnce(const char* path) {
  const long before = statusKilobytes("RssAnon");
  answerOf(path);
  const long peak = statusKilobytes("VmHWM") - statusKilobytes("RssFile") - statusKilobytes("RssShmem");
  std::printf("%ld\n", peak - before);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--once") return readOnce(argv[2]);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("sheet-reader-bench-" + std::to_string(::getpid()) + ".json");
  std::printf("read limit %zu bytes; bounds: depth %zu, %zu values; %d runs each, alternating with the reference "
              "(the library's syntax check of the same file)\n\n",
              kLimit, tessary::kMaxSheetDepth, tessary::kMaxSheetValues, runs);
  std::printf("%-48s %10s  %-36s %9s %9s %7s %11s %13s\n", "input", "bytes", "reader's answer", "read ms", "ref ms",
              "ratio", "heap peak", "private peak");
  double worstMs = 0;
  double worstMb = 0;
  for (const Input& input : inputs()) {
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(input.bytes.data(), static_cast<std::streamsize>(input.bytes.size()));
    }
    const std::string answer = answerOf(path);
    std::vector<double> readMs, referenceMs, ratios;
    std::size_t heapPeak = 0;
    for (int run = 0; run < runs; ++run) {
      const std::size_t base = liveBytes.load();
      peakBytes = base;
      auto start = Clock::now();
      answerOf(path);
      const double reader = millisecondsSince(start);
      heapPeak = std::max(heapPeak, peakBytes.load() - base);
      start = Clock::now();
      referenceCheck(path);
      const double reference = millisecondsSince(start);
      readMs.push_back(reader);
      referenceMs.push_back(reference);
      ratios.push_back(reader / reference);
    }
    const long privateKb = privatePeakKilobytes("/proc/self/exe", path);
    std::printf("%-48s %10zu  %-36s %9.1f %9.1f %7.2f %8.1f MB %10.1f MB\n", input.name, input.bytes.size(),
                answer.c_str(), median(readMs), median(referenceMs), median(ratios), heapPeak / 1e6,
                privateKb / 1e3);
    worstMs = std::max(worstMs, median(readMs));
    worstMb = std::max({worstMb, heapPeak / 1e6, privateKb / 1e3});
  }
  std::filesystem::remove(path);
  std::printf("\nworst: %.1f ms, %.1f MB (goal: under 500 ms and 100 MB each)\n", worstMs, worstMb);
  return 0;
}

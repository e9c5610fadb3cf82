// Decode benchmark: wall time of reading, decoding with conversion, and hashing one
// image file, and the peak memory of a whole load.
//   bench_decode <image-file>
// First the file is loaded once exactly as the program does (openImageFile) in a
// fresh process, which gives the load's wall time and peak memory; then the three
// phases are timed one by one on the same file.
#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "imaging/com_support_win.h"
#include "imaging/image_decoder_win.h"
#include "imaging/image_file_win.h"
#include "imaging/sha256_win.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double mib(std::size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

PROCESS_MEMORY_COUNTERS_EX memoryCounters() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                       sizeof(counters));
  return counters;
}

std::vector<std::uint8_t> readWhole(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  LARGE_INTEGER size{};
  std::vector<std::uint8_t> bytes;
  if (GetFileSizeEx(file, &size)) {
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
        read != bytes.size()) {
      bytes.clear();
    }
  }
  CloseHandle(file);
  return bytes;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_decode <image-file>\n");
    return 2;
  }
  tessary::ScopedCoInitialize com(COINIT_MULTITHREADED);
  tessary::ScopedGdiplus gdiplus;
  if (!com.ok() || !gdiplus.ok()) {
    std::fprintf(stderr, "COM or GDI+ unavailable\n");
    return 1;
  }
  wchar_t full[MAX_PATH * 4] = {};
  GetFullPathNameW(argv[1], MAX_PATH * 4, full, nullptr);
  const std::wstring path = full;

  const PROCESS_MEMORY_COUNTERS_EX atStart = memoryCounters();
  std::uint32_t width = 0, height = 0;
  std::size_t pixelBytes = 0;
  double loadSeconds = 0;
  try {
    const Clock::time_point start = Clock::now();
    auto pixels = tessary::openImageFile(std::u16string(path.begin(), path.end()));
    loadSeconds = secondsSince(start);
    width = pixels->width;
    height = pixels->height;
    pixelBytes = pixels->bgra.size();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "load failed: %s\n", error.what());
    return 1;
  }
  const PROCESS_MEMORY_COUNTERS_EX afterLoad = memoryCounters();

  // The phases one by one.
  Clock::time_point start = Clock::now();
  const std::vector<std::uint8_t> bytes = readWhole(path);
  const double readSeconds = secondsSince(start);
  if (bytes.empty()) {
    std::fprintf(stderr, "read failed\n");
    return 1;
  }
  start = Clock::now();
  const std::string digest = tessary::sha256Hex(bytes.data(), bytes.size());
  const double hashSeconds = secondsSince(start);
  start = Clock::now();
  double decodeAndHashSeconds = 0;
  {
    auto pixels = tessary::decodeImage(bytes.data(), bytes.size());
    decodeAndHashSeconds = secondsSince(start);
  }
  const double decodeSeconds = decodeAndHashSeconds - hashSeconds;

  const std::size_t fileBytes = bytes.size();
  const std::size_t budget = static_cast<std::size_t>((2.0 * fileBytes + pixelBytes) * 1.10);
  std::printf("image            %u x %u, file %.1f MiB, pixels %.1f MiB\n", width, height,
              mib(fileBytes), mib(pixelBytes));
  std::printf("sha256           %s\n", digest.c_str());
  std::printf("load (open)      %.3f s  (read + decode + conversion + hash + bitmap)\n", loadSeconds);
  std::printf("read             %.3f s\n", readSeconds);
  std::printf("decode+convert   %.3f s  (decodeImage %.3f s less the hash)\n", decodeSeconds,
              decodeAndHashSeconds);
  std::printf("hash             %.3f s\n", hashSeconds);
  std::printf("decode+hash      %.3f s\n", decodeAndHashSeconds);
  std::printf("peak working set %.1f MiB during the load (%.1f MiB at start)\n",
              mib(afterLoad.PeakWorkingSetSize), mib(atStart.WorkingSetSize));
  std::printf("peak commit      %.1f MiB\n", mib(afterLoad.PeakPagefileUsage));
  std::printf("budget           %.1f MiB  (file + one stream copy + pixels, + 10 %%)\n", mib(budget));
  return 0;
}

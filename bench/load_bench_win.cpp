// Load benchmark: one image file loaded exactly as the desk's load job does it
// (read, decode with the format conversion, SHA-256, the reduced display copies and
// their bitmaps), timed, with the peak resident memory sampled while it runs. With
// a second file, the second is loaded while the first is still held, as when an
// image is opened while another is on screen: the old one stays until the new one
// is ready.
//
//   bench_load <image file> [<second image file>]
//
// Prints one "key value" line per figure, for bench/run_load_bench.sh.
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/session_state.h"
#include "imaging/com_support_win.h"
#include "imaging/image_loading_win.h"

namespace {

using Clock = std::chrono::steady_clock;

double mb(std::size_t bytes) { return static_cast<double>(bytes) / 1e6; }

std::size_t workingSet() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters.WorkingSetSize;
}

// Samples the working set every 2 ms while it lives; `peak()` is the highest seen.
class PeakSampler {
 public:
  PeakSampler() : peak_(workingSet()), thread_([this] {
      while (running_) {
        const std::size_t now = workingSet();
        if (now > peak_) peak_ = now;
        Sleep(2);
      }
    }) {}
  ~PeakSampler() { stop(); }
  void stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }
  std::size_t peak() const { return peak_; }

 private:
  std::atomic<bool> running_{true};
  std::atomic<std::size_t> peak_;
  std::thread thread_;
};

struct Loaded {
  tessary::WorkerResult result;
  double seconds = 0;
  std::size_t before = 0;
  std::size_t peak = 0;
  std::string error;
};

Loaded load(const wchar_t* file) {
  wchar_t full[MAX_PATH * 4] = {};
  GetFullPathNameW(file, MAX_PATH * 4, full, nullptr);
  const std::wstring path = full;
  Loaded loaded;
  loaded.before = workingSet();
  PeakSampler sampler;
  const Clock::time_point start = Clock::now();
  try {
    tessary::loadWorker(std::u16string(path.begin(), path.end()), loaded.result);
  } catch (const std::exception& error) {
    loaded.error = error.what();
  }
  loaded.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sampler.stop();
  loaded.peak = sampler.peak();
  return loaded;
}

void print(const char* name, const Loaded& loaded) {
  if (!loaded.result.ok) {
    std::printf("%s_error %s\n", name, loaded.error.empty() ? "failed" : loaded.error.c_str());
    return;
  }
  const auto& image = *loaded.result.image;
  std::size_t levels = 0;
  for (const auto& level : image.displayLevels) levels += level.bgra.size();
  std::printf("%s_size %ux%u\n", name, image.width, image.height);
  std::printf("%s_seconds %.3f\n", name, loaded.seconds);
  std::printf("%s_pixels_mb %.1f\n", name, mb(image.bgra.size()));
  std::printf("%s_levels_mb %.1f\n", name, mb(levels));
  std::printf("%s_resident_before_mb %.1f\n", name, mb(loaded.before));
  std::printf("%s_peak_mb %.1f\n", name, mb(loaded.peak));
  std::printf("%s_sha256 %s\n", name, image.sha256.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: bench_load <image file> [<second image file>]\n");
    return 2;
  }
  tessary::ScopedCoInitialize com(COINIT_MULTITHREADED);
  tessary::ScopedGdiplus gdiplus;
  if (!com.ok() || !gdiplus.ok()) {
    std::fprintf(stderr, "COM or GDI+ unavailable\n");
    return 1;
  }
  std::printf("start_resident_mb %.1f\n", mb(workingSet()));
  Loaded first = load(argv[1]);
  print("first", first);
  if (argc == 3 && first.result.ok) {
    // The first image stays held, as the shown image does while another loads.
    Loaded second = load(argv[2]);
    print("second", second);
  }
  std::fflush(stdout);
  return first.result.ok ? 0 : 1;
}

// Crop export figures: a square crop from the middle of a large image (the plate,
// or any image file given), exported through the real command and job: how long
// the window thread is held by the command, the wall time until the completion
// message is handled, the processor time of the whole process meanwhile, the PNG's
// size, and the peak private memory above the level before the export.
//
// Usage: crop_export_bench.exe <image file> [rounds] [side]      (side 5000)
//        crop_export_bench.exe <image file> --serve [side]
// With --serve it decodes the image, prints "ready", then makes one export for each
// line read from its input and answers with one line
//   "export <wall ms> <processor ms> <PNG bytes> <ok|FAILED>"
// so that run_crop_export_bench.sh can alternate its rounds with the native
// references'.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iostream>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/session_state.h"
#include "exports/crop_export_win.h"
#include "imaging/background_job_win.h"
#include "imaging/com_support_win.h"
#include "imaging/image_decoder_win.h"
#include "imaging/image_loading_win.h"

using namespace tessary;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Committed private memory of the process (Wine leaves PrivateUsage at 0 but
// fills PagefileUsage, which Windows reports with the same value).
std::size_t privateBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters.PagefileUsage;
}

// User and kernel time of the process so far.
double processorMs() {
  FILETIME created{}, exited{}, kernel{}, user{};
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ms = [](const FILETIME& t) {
    return double((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e4;
  };
  return ms(kernel) + ms(user);
}

Session* benchSession = nullptr;

LRESULT CALLBACK benchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_JOB_DONE && benchSession != nullptr) {
    onJobDone(*benchSession);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::printf("usage: crop_export_bench <image file> [rounds]\n");
    return 2;
  }
  const bool serve = argc > 2 && std::wcscmp(argv[2], L"--serve") == 0;
  const int rounds = serve ? 0 : (argc > 2 ? std::max(1, _wtoi(argv[2])) : 3);
  const std::int32_t size = argc > 3 ? std::max(1, _wtoi(argv[3])) : 5000;
  ScopedCoInitialize com(COINIT_APARTMENTTHREADED);
  ScopedGdiplus gdiplus;

  std::shared_ptr<Pixels> image;
  {
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) {
      std::printf("cannot read the image file\n");
      return 2;
    }
    image = decodeImage(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  if (!serve) std::printf("image %u x %u\n", image->width, image->height);

  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tessary-crop-bench-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(folder / "exports");

  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = benchWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"TessaryCropBench";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"TessaryCropBench", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);

  Session session;
  benchSession = &session;
  session.mainWindow = window;
  session.dataFolder = folder;
  session.storageAvailable = true;
  session.currentImage = image;
  session.currentPath = u"";
  session.cropRect = CropRect{static_cast<std::int32_t>(image->width / 2) - size / 2,
                              static_cast<std::int32_t>(image->height / 2) - size / 2, size, size};

  struct Figures {
    double blockedMs, wallMs, processorMs, peakMb;
    std::uintmax_t pngBytes;
    bool ok;
  };
  auto exportOnce = [&]() {
    const std::size_t baseline = privateBytes();
    std::atomic<bool> sampling{true};
    std::atomic<std::size_t> peak{baseline};
    std::thread sampler([&] {
      while (sampling) {
        const std::size_t now = privateBytes();
        if (now > peak) peak = now;
        Sleep(2);
      }
    });

    const double processorBefore = processorMs();
    const auto start = Clock::now();
    startCropExport(session);
    const double blockedMs = msSince(start);
    while (session.jobRunning) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    const double wallMs = msSince(start);
    const double processor = processorMs() - processorBefore;
    sampling = false;
    sampler.join();

    std::uintmax_t pngBytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "exports")) {
      if (entry.path().extension() == ".png") pngBytes = std::max(pngBytes, entry.file_size());
    }
    std::filesystem::remove_all(folder / "exports");
    std::filesystem::create_directories(folder / "exports");
    Sleep(20);  // a new tick count for the next stem
    return Figures{blockedMs, wallMs, processor, (double(peak.load()) - double(baseline)) / 1e6, pngBytes,
                   !session.statusIsError};
  };

  if (serve) {
    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
      const Figures f = exportOnce();
      std::printf("export %.0f %.0f %llu %s\n", f.wallMs, f.processorMs, static_cast<unsigned long long>(f.pngBytes),
                  f.ok ? "ok" : "FAILED");
      std::fflush(stdout);
    }
  }
  for (int round = 0; round < rounds; ++round) {
    const Figures f = exportOnce();
    std::printf("round %d: %s, window thread held %.2f ms, wall %.0f ms, processor %.0f ms, peak extra private "
                "memory %.1f MB, PNG %.1f MB\n",
                round + 1, f.ok ? "ok" : "FAILED", f.blockedMs, f.wallMs, f.processorMs, f.peakMb, f.pngBytes / 1e6);
  }
  finishBackgroundJob(session);
  session.currentImage.reset();
  DestroyWindow(window);
  std::filesystem::remove_all(folder);
  return 0;
}

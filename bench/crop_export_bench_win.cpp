// Crop export figures: a 5,000 x 5,000 crop of a large image (the plate, or any
// image file given), exported through the real command and job: how long the
// window thread is held by the command, the wall time until the completion message
// is handled, and the peak private memory above the level before the export.
//
// Usage: crop_export_bench.exe <image file> [rounds]
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
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
  const int rounds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 3;
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
  std::printf("image %u x %u\n", image->width, image->height);

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
  const std::int32_t size = 5000;
  session.cropRect = CropRect{static_cast<std::int32_t>(image->width / 2) - size / 2,
                              static_cast<std::int32_t>(image->height / 2) - size / 2, size, size};

  for (int round = 0; round < rounds; ++round) {
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

    const auto start = Clock::now();
    startCropExport(session);
    const double blockedMs = msSince(start);
    while (session.jobRunning) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    const double wallMs = msSince(start);
    sampling = false;
    sampler.join();

    std::uintmax_t pngBytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "exports")) {
      if (entry.path().extension() == ".png") pngBytes = std::max(pngBytes, entry.file_size());
    }
    std::printf("round %d: %s, window thread held %.2f ms, wall %.0f ms, peak extra private memory %.1f MB, "
                "PNG %.1f MB\n",
                round + 1, session.statusIsError ? "FAILED" : "ok", blockedMs, wallMs,
                (double(peak.load()) - double(baseline)) / 1e6, pngBytes / 1e6);
    std::filesystem::remove_all(folder / "exports");
    std::filesystem::create_directories(folder / "exports");
    Sleep(20);  // a new tick count for the next stem
  }
  finishBackgroundJob(session);
  session.currentImage.reset();
  DestroyWindow(window);
  std::filesystem::remove_all(folder);
  return 0;
}

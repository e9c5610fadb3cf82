// Paint and load figures for a large image: decode time, time to build the
// display levels and their extra memory, then the time of a full repaint of a
// 1300 x 850 client at the fitted zoom, 25 %, 100 % and 800 % and while panning at
// the fitted zoom: as the program paints (display levels filtered straight into the
// off-screen bitmap), and for comparison through GDI+ DrawImage from the display
// levels and from the full bitmap alone.
//
// Usage: paint_bench.exe <image file> [--no-window | --show ZOOM [SOURCE]]
// Without --no-window the paints go to a real window on the display, as WM_PAINT
// does; with it, to a memory device context. --show paints one frame at ZOOM
// (0 for the fitted view) and keeps it on the display for 5 s, for a screenshot;
// SOURCE 1 draws through GDI+ from the levels, 2 from the full bitmap.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/session_state.h"
#include "imaging/com_support_win.h"
#include "imaging/display_levels.h"
#include "imaging/image_decoder_win.h"
#include "text/ui_strings.h"
#include "viewer/canvas_painter_win.h"
#include "viewer/view_transform.h"

using namespace tessary;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Figures {
  double median;
  double worst;
};

Figures summarise(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times.back()};
}

LRESULT CALLBACK benchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) return 1;
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeWindow() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = benchWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"TessaryPaintBench";
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  RegisterClassW(&windowClass);
  RECT frame{0, 0, 1300, 850};
  AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
  HWND window = CreateWindowExW(0, L"TessaryPaintBench", L"Paint bench", WS_OVERLAPPEDWINDOW, 0, 0,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  return window;
}

void pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// A memory device context standing in for the window.
struct MemoryTarget {
  MemoryTarget() {
    HDC screen = GetDC(nullptr);
    dc = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, 1300, 850);
    ReleaseDC(nullptr, screen);
    previous = SelectObject(dc, bitmap);
  }
  ~MemoryTarget() {
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ previous;
};

// Committed private memory of the process (Wine leaves PrivateUsage at 0 but
// fills PagefileUsage, which Windows reports with the same value).
std::size_t privateBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters.PagefileUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::printf("usage: paint_bench <image file> [--no-window]\n");
    return 2;
  }
  const bool useWindow = !(argc > 2 && std::wstring(argv[2]) == L"--no-window");
  const bool show = argc > 3 && std::wstring(argv[2]) == L"--show";
  ScopedCoInitialize com(COINIT_APARTMENTTHREADED);
  ScopedGdiplus gdiplus;

  std::ifstream in(argv[1], std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) {
    std::printf("cannot read the image file\n");
    return 2;
  }

  auto start = Clock::now();
  std::shared_ptr<Pixels> image = decodeImage(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  const double decodeMs = msSince(start);
  const std::size_t beforeLevels = privateBytes();
  start = Clock::now();
  buildDisplayLevels(*image);
  const double levelsMs = msSince(start);
  start = Clock::now();
  createDisplayLevelBitmaps(*image);
  const double levelBitmapsMs = msSince(start);
  const std::size_t afterLevels = privateBytes();
  std::size_t levelBytes = 0;
  for (const DisplayLevel& level : image->displayLevels) levelBytes += level.bgra.size();

  std::printf("image %u x %u, %zu source bytes, %zu pixel bytes\n", image->width, image->height, bytes.size(),
              image->bgra.size());
  std::printf("decode (WIC, bitmap, SHA-256):  %8.1f ms\n", decodeMs);
  std::printf("display levels: build %8.1f ms, bitmaps %6.1f ms, %zu levels, %.1f MB of pixels (%.1f %% of the image), "
              "private bytes +%.1f MB\n",
              levelsMs, levelBitmapsMs, image->displayLevels.size(), levelBytes / 1e6,
              100.0 * levelBytes / image->bgra.size(), (double(afterLevels) - double(beforeLevels)) / 1e6);
  std::printf("load with levels: %.1f ms, without: %.1f ms\n", decodeMs + levelsMs + levelBitmapsMs, decodeMs);
  bytes.clear();
  bytes.shrink_to_fit();

  Session session;
  session.currentImage = image;
  session.imageTitle = u"Bench plate";
  session.statusText = uiText(Language::English, 25);
  for (int i = 0; i < 12; ++i) {
    session.sheet.marks.push_back(
        Marker{i + 1, image->width * (0.1 + 0.07 * i), image->height * (0.2 + 0.05 * i), "", 1700000000});
  }
  session.sheet.nextId = 13;
  session.selectedId = 3;
  session.cropRect = CropRect{static_cast<std::int32_t>(image->width / 3), static_cast<std::int32_t>(image->height / 3),
                              static_cast<std::int32_t>(image->width / 5), static_cast<std::int32_t>(image->height / 5)};

  HWND window = useWindow ? makeWindow() : nullptr;
  MemoryTarget memory;
  std::printf("target: %s\n", useWindow ? "window on the display" : "memory device context");

  auto paintOnce = [&](ImageSource source) {
    const auto t = Clock::now();
    if (window != nullptr) {
      HDC dc = GetDC(window);
      paintWindow(session, dc, source);
      GdiFlush();
      ReleaseDC(window, dc);
    } else {
      paintWindow(session, memory.dc, source);
      GdiFlush();
    }
    const double ms = msSince(t);
    pump();
    return ms;
  };

  if (show) {
    fitView(session);
    const double zoom = _wtof(argv[3]);
    if (zoom > 0) {
      const Point c = canvasCentre(session);
      zoomAbout(session, zoom, c.x, c.y);
    }
    const int which = argc > 4 ? _wtoi(argv[4]) : 0;
    const ImageSource source = which == 1 ? ImageSource::DisplayLevelsGdiplus
                               : which == 2 ? ImageSource::FullBitmap
                                            : ImageSource::DisplayLevels;
    for (int i = 0; i < 50; ++i) {
      paintOnce(source);
      Sleep(100);
    }
    return 0;
  }

  // The frame without the image: header, panel, markers list, texts, copy.
  {
    session.currentImage.reset();
    std::vector<double> times;
    paintOnce(ImageSource::DisplayLevels);
    for (int i = 0; i < 31; ++i) times.push_back(paintOnce(ImageSource::DisplayLevels));
    const Figures f = summarise(times);
    std::printf("frame without image: median %7.2f ms  worst %7.2f ms\n", f.median, f.worst);
    session.currentImage = image;
  }

  const Point centre = canvasCentre(session);
  struct Step {
    const char* name;
    double zoom;  // 0: fitted
  };
  const Step steps[] = {{"fit", 0}, {"25 %", 0.25}, {"100 %", 1.0}, {"800 %", 8.0}};
  for (const ImageSource source :
       {ImageSource::DisplayLevels, ImageSource::DisplayLevelsGdiplus, ImageSource::FullBitmap}) {
    const bool levels = source != ImageSource::FullBitmap;
    std::printf("\n%s\n", source == ImageSource::DisplayLevels      ? "display levels, filtered into the bitmap (the program)"
                           : source == ImageSource::DisplayLevelsGdiplus ? "display levels through GDI+ DrawImage"
                                                                        : "full bitmap through GDI+ DrawImage (plain GDI+)");
    for (const Step& step : steps) {
      fitView(session);
      if (step.zoom != 0) zoomAbout(session, step.zoom, centre.x, centre.y);
      const int rounds = (!levels && step.zoom != 1.0 && step.zoom != 8.0) ? 5 : 31;
      std::vector<double> times;
      paintOnce(source);  // warm-up
      for (int i = 0; i < rounds; ++i) times.push_back(paintOnce(source));
      const Figures f = summarise(times);
      std::printf("  %-6s zoom %.4f  median %7.2f ms  worst %7.2f ms  (%d paints)\n", step.name, session.zoom,
                  f.median, f.worst, rounds);
    }
    // Panning at the fitted zoom: one full repaint per mouse move of 7 and 3 pixels.
    fitView(session);
    std::vector<double> times;
    const int moves = levels ? 60 : 5;
    for (int i = 0; i < moves; ++i) {
      session.offsetX += (i < moves / 2) ? 7 : -7;
      session.offsetY += (i < moves / 2) ? 3 : -3;
      times.push_back(paintOnce(source));
    }
    const Figures f = summarise(times);
    std::printf("  pan at fit    median %7.2f ms  worst %7.2f ms  (%d moves)\n", f.median, f.worst, moves);
  }
  if (window != nullptr) DestroyWindow(window);
  session.currentImage.reset();
  return 0;
}

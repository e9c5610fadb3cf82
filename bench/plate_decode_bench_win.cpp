// The built-in plate's load, phase by phase, in one process: the plate file mapped
// read-only as the program's resource is, then
//   first    the load at start (segmented decode beside the SHA-256, display levels
//            and bitmaps), as decodePlateBytes and the load job do it;
//   restore  the same with the digest already known (a return from the tray);
//   segments the segmented decode alone (all workers), levels alone, SHA-256 alone;
//   wic      the ordinary decode of the same bytes (the fallback), when asked.
//   bench_plate <plate.png> [rounds] [--wic]
// Prints one "key seconds" line per phase and round, and the worker counts.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

#include "imaging/com_support_win.h"
#include "imaging/display_levels.h"
#include "imaging/image_decoder_win.h"
#include "imaging/plate_decoder_win.h"
#include "imaging/scoped_handle_win.h"
#include "imaging/segmented_png_decoder.h"
#include "imaging/sha256_win.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double processorSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

void finishLoad(tessary::Pixels& image) {
  tessary::buildDisplayLevels(image);
  tessary::createDisplayLevelBitmaps(image);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_plate <plate.png> [rounds] [--wic]\n");
    return 2;
  }
  const int rounds = argc >= 3 && argv[2][0] != L'-' ? _wtoi(argv[2]) : 3;
  bool wic = false;
  for (int i = 2; i < argc; ++i) wic = wic || std::wstring(argv[i]) == L"--wic";
  tessary::ScopedCoInitialize com(COINIT_MULTITHREADED);
  tessary::ScopedGdiplus gdiplus;
  if (!com.ok() || !gdiplus.ok()) return 1;

  tessary::ScopedHandle file(CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.valid()) return 1;
  LARGE_INTEGER size{};
  GetFileSizeEx(file.get(), &size);
  tessary::ScopedHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  const auto* bytes = static_cast<const std::uint8_t*>(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (bytes == nullptr) return 1;
  const auto count = static_cast<std::size_t>(size.QuadPart);
  const auto png = tessary::findPngSegments(bytes, count);
  std::printf("segments %zu\n", png ? png->segments.size() : std::size_t{0});
  std::printf("decode_workers %u\n", png ? tessary::pngDecodeWorkers(png->segments.size()) : 0u);
  std::printf("level_workers %u\n", tessary::displayLevelWorkers());

  std::string digest;
  for (int round = 0; round < rounds; ++round) {
    {
      const auto start = Clock::now();
      auto image = tessary::decodePlateBytes(bytes, count);
      const double decoded = secondsSince(start);
      finishLoad(*image);
      std::printf("first_decode_and_hash %.3f\nfirst %.3f\n", decoded, secondsSince(start));
      digest = image->sha256;
    }
    {
      const auto start = Clock::now();
      auto image = tessary::decodePlateBytes(bytes, count, &digest);
      const double decoded = secondsSince(start);
      finishLoad(*image);
      std::printf("restore_decode %.3f\nrestore %.3f\n", decoded, secondsSince(start));
    }
    if (png) {
      tessary::PixelBytes bgra;
      bgra.resize(static_cast<std::size_t>(png->width) * png->height * 4);
      auto start = Clock::now();
      double cpu = processorSeconds();
      const bool ok = tessary::decodePngSegments(*png, bgra.data(), tessary::pngDecodeWorkers(png->segments.size()));
      std::printf("segments_%s %.3f (processor %.3f)\n", ok ? "decode" : "failed", secondsSince(start),
                  processorSeconds() - cpu);
      // The same pages again, already touched, on one worker: the arithmetic alone.
      start = Clock::now();
      cpu = processorSeconds();
      tessary::decodePngSegments(*png, bgra.data(), 1);
      std::printf("segments_one_worker_touched %.3f (processor %.3f)\n", secondsSince(start), processorSeconds() - cpu);
      tessary::Pixels image;
      image.width = png->width;
      image.height = png->height;
      image.bgra = std::move(bgra);
      start = Clock::now();
      tessary::buildDisplayLevels(image);
      std::printf("levels %.3f\n", secondsSince(start));
    }
    {
      const auto start = Clock::now();
      const std::string hex = tessary::sha256Hex(bytes, count);
      std::printf("sha256 %.3f\n", secondsSince(start));
    }
    if (wic) {
      const auto start = Clock::now();
      auto image = tessary::decodeImage(bytes, count);
      std::printf("wic_decode_and_hash %.3f\n", secondsSince(start));
    }
    std::fflush(stdout);
  }
  UnmapViewOfFile(bytes);
  return 0;
}

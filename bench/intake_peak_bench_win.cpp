// Peak memory of loading the worst files of each format: images at the pixel limits
// whose files are small, so that nearly all of a load's memory is the decoder's and
// the pixels'. A load is promised to hold at most the file and the decoded pixels
// (4 bytes a pixel) at once; this prints how far each file's load goes beyond that.
//
//   bench_intake_peak make <folder>     writes the files (names below) into <folder>
//   bench_intake_peak load <file>       loads one file as the desk's load job reads and
//                                       decodes it (openImageFile), in this process,
//                                       and prints one line of figures
//
// bench/run_intake_peak_bench.sh makes the files and loads each in a fresh process.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "imaging/com_support_win.h"
#include "imaging/image_file_win.h"
#include "imaging/image_format.h"
#include "imaging/tiff_directory.h"
#include "imaging/pixels.h"
#include "imaging/png_writer.h"
#include "imaging/tiff_writer.h"

namespace {

namespace imagetest = tessary::imagetest;
using Bytes = std::vector<std::uint8_t>;

// 12,247 x 12,247 = 149,989,009 pixels: the largest square inside the limits (and
// 16-bit files of 8,660 square, whose decoder copy is as large as 8-bit RGBA's at the limits).
constexpr std::uint32_t kSide = 12'247;

void append(Bytes& out, std::initializer_list<std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) out.push_back(b);
}
void putBe16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}
void putLe16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void putLe32(Bytes& out, std::uint32_t v) {
  putLe16(out, v & 0xFFFF);
  putLe16(out, v >> 16);
}

// A JPEG whose every block is flat grey: Huffman tables of one one-bit code each (a DC
// difference of 0, and the end of block), all components sampled 1 x 1. Baseline, or
// progressive with only the first DC scan (the rest of the coefficients stay 0).
Bytes flatJpeg(std::uint32_t side, int components, bool progressive) {
  Bytes out = {0xFF, 0xD8};
  append(out, {0xFF, 0xDB, 0x00, 0x43, 0x00});  // quantisation table 0, all 1
  out.insert(out.end(), 64, 1);
  append(out, {0xFF, progressive ? std::uint8_t{0xC2} : std::uint8_t{0xC0}});
  putBe16(out, 8 + 3 * components);
  out.push_back(8);
  putBe16(out, side);
  putBe16(out, side);
  out.push_back(static_cast<std::uint8_t>(components));
  for (int c = 1; c <= components; ++c) append(out, {static_cast<std::uint8_t>(c), 0x11, 0x00});
  for (std::uint8_t table : {std::uint8_t{0x00}, std::uint8_t{0x10}}) {  // DC 0, AC 0
    append(out, {0xFF, 0xC4, 0x00, 0x14, table, 1});
    out.insert(out.end(), 15, 0);
    out.push_back(0x00);  // DC: difference of size 0; AC: end of block
  }
  append(out, {0xFF, 0xDA});
  putBe16(out, 6 + 2 * components);
  out.push_back(static_cast<std::uint8_t>(components));
  for (int c = 1; c <= components; ++c) append(out, {static_cast<std::uint8_t>(c), 0x00});
  append(out, {0x00, progressive ? std::uint8_t{0x00} : std::uint8_t{0x3F}, 0x00});
  const std::uint64_t blocks = std::uint64_t{(side + 7) / 8} * ((side + 7) / 8) * components;
  const std::uint64_t bits = blocks * (progressive ? 1 : 2);  // every code is one bit 0
  out.insert(out.end(), static_cast<std::size_t>(bits / 8), 0x00);
  if (bits % 8 != 0) out.push_back(static_cast<std::uint8_t>(0xFF >> (bits % 8)));  // padded with 1s
  append(out, {0xFF, 0xD9});
  return out;
}

// An 8-bit run-length BMP whose every pixel is written by runs of 255.
Bytes rleBmp(std::uint32_t side) {
  Bytes data;
  for (std::uint32_t y = 0; y < side; ++y) {
    for (std::uint32_t x = 0; x < side; x += 255) {
      data.push_back(static_cast<std::uint8_t>(std::min<std::uint32_t>(255, side - x)));
      data.push_back(1);
    }
    append(data, {0, 0});  // end of line
  }
  append(data, {0, 1});  // end of bitmap
  constexpr std::uint32_t kPixelOffset = 14 + 40 + 1024;
  Bytes bmp = {'B', 'M'};
  putLe32(bmp, kPixelOffset + static_cast<std::uint32_t>(data.size()));
  putLe32(bmp, 0);
  putLe32(bmp, kPixelOffset);
  putLe32(bmp, 40);
  putLe32(bmp, side);
  putLe32(bmp, side);
  putLe16(bmp, 1);
  putLe16(bmp, 8);
  putLe32(bmp, 1);  // BI_RLE8
  putLe32(bmp, static_cast<std::uint32_t>(data.size()));
  putLe32(bmp, 2835);
  putLe32(bmp, 2835);
  putLe32(bmp, 256);
  putLe32(bmp, 0);
  for (int i = 0; i < 256; ++i) putLe32(bmp, static_cast<std::uint32_t>(i * 0x010101));
  bmp.insert(bmp.end(), data.begin(), data.end());
  return bmp;
}

// A 64 x 48 RGB PNG with one text chunk before its image data whose text is a zlib
// stream of `size` zero bytes: the whole file is small, the text is not.
Bytes pngWithCompressedText(const char* type, std::uint64_t size) {
  Bytes text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0};
  if (std::strcmp(type, "iTXt") == 0) append(text, {1, 0, 0, 0});  // compressed, no language
  else text.push_back(0);                                           // zTXt: deflate
  const Bytes stream = imagetest::zlibOfZeros(size);
  text.insert(text.end(), stream.begin(), stream.end());
  Bytes png = imagetest::zeroPng(64, 48, 8, 2);
  Bytes chunk;
  imagetest::appendPngChunk(chunk, type, text);
  png.insert(png.begin() + 33, chunk.begin(), chunk.end());  // after the header chunk
  return png;
}

struct Sample {
  const char* name;
  Bytes (*make)();
};

const Sample kSamples[] = {
    {"png-rgba16.png", [] { return imagetest::zeroPng(kSide, kSide, 16, 6); }},
    {"png-rgb16.png", [] { return imagetest::zeroPng(kSide, kSide, 16, 2); }},
    // 16-bit RGBA whose decoded copy (8 bytes a pixel) is as large as the pixels.
    {"png-rgba16-8660.png", [] { return imagetest::zeroPng(8'660, 8'660, 16, 6); }},
    {"png-rgba8.png", [] { return imagetest::zeroPng(kSide, kSide, 8, 6); }},
    {"png-rgb8.png", [] { return imagetest::zeroPng(kSide, kSide, 8, 2); }},
    {"jpeg-baseline-3.jpg", [] { return flatJpeg(kSide, 3, false); }},
    {"jpeg-baseline-4.jpg", [] { return flatJpeg(kSide, 4, false); }},
    {"jpeg-progressive-3.jpg", [] { return flatJpeg(kSide, 3, true); }},
    {"jpeg-progressive-4.jpg", [] { return flatJpeg(kSide, 4, true); }},
    {"bmp-rle8.bmp", [] { return rleBmp(kSide); }},
    {"tiff-strip-rgba16.tif", [] { return imagetest::zeroStripTiff(kSide, 16, 4).bytes(); }},
    {"tiff-strip-rgba16-8660.tif", [] { return imagetest::zeroStripTiff(8'660, 16, 4).bytes(); }},
    {"tiff-strip-rgb8.tif", [] { return imagetest::zeroStripTiff(kSide, 8, 3).bytes(); }},
    // Small files whose compressed text inflates to 1 GiB and 100 MB.
    {"png-ztxt-1gib.png", [] { return pngWithCompressedText("zTXt", std::uint64_t{1} << 30); }},
    {"png-ztxt-100mb.png", [] { return pngWithCompressedText("zTXt", 100'000'000); }},
    {"png-itxt-100mb.png", [] { return pngWithCompressedText("iTXt", 100'000'000); }},
};

std::size_t workingSet() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters.WorkingSetSize;
}

std::size_t peakWorkingSet() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters.PeakWorkingSetSize;
}

int make(const std::wstring& folder) {
  for (const Sample& sample : kSamples) {
    const Bytes bytes = sample.make();
    const std::wstring name(sample.name, sample.name + std::strlen(sample.name));
    HANDLE file = CreateFileW((folder + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool ok = file != INVALID_HANDLE_VALUE &&
                    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!ok) {
      std::fprintf(stderr, "cannot write %s\n", sample.name);
      return 1;
    }
    std::printf("%-24s %12zu bytes\n", sample.name, bytes.size());
  }
  return 0;
}

// The decoder's own copy of the frame as the intake rules estimate it (read after the
// load, so that this second read of the file is not in the load's figures): a PNG's
// whole frame at its stored depth, a TIFF's one strip or tile, 4 bytes a pixel for
// JPEG and BMP. 0 when the load was refused.
std::uint64_t decoderCopyBytes(const wchar_t* path, std::uint32_t width, std::uint32_t height) {
  if (width == 0) return 0;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER size{};
  GetFileSizeEx(file, &size);
  Bytes bytes(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  const auto format = tessary::imageFormatOf(bytes.data(), bytes.size());
  if (format == tessary::ImageFormat::Png) return tessary::pngDecoderCopyBytes(bytes.data(), bytes.size()).value_or(0);
  if (format == tessary::ImageFormat::Tiff) {
    return tessary::tiffDecodedPieceBytes(tessary::walkTiffFirstDirectory(bytes.data(), bytes.size()).layout);
  }
  return std::uint64_t{width} * height * 4;
}

int load(const std::wstring& path) {
  tessary::ScopedCoInitialize com(COINIT_MULTITHREADED);
  tessary::ScopedGdiplus gdiplus;
  if (!com.ok() || !gdiplus.ok()) {
    std::fprintf(stderr, "COM or GDI+ unavailable\n");
    return 1;
  }
  wchar_t full[MAX_PATH * 4] = {};
  GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  GetFileAttributesExW(full, GetFileExInfoStandard, &attributes);
  const std::uint64_t fileBytes = (std::uint64_t{attributes.nFileSizeHigh} << 32) | attributes.nFileSizeLow;

  const std::size_t baseline = workingSet();
  std::string outcome = "ok";
  std::uint64_t pixelBytes = 0;
  std::uint32_t width = 0, height = 0;
  std::size_t peak = 0;
  const auto start = std::chrono::steady_clock::now();
  try {
    const std::wstring wide = full;
    auto pixels = tessary::openImageFile(std::u16string(wide.begin(), wide.end()));
    width = pixels->width;
    height = pixels->height;
    pixelBytes = pixels->bgra.size();
  } catch (const std::exception& error) {
    outcome = error.what();
  }
  // The process's own peak: nothing ran in it before the load but its start.
  peak = peakWorkingSet();
  const double copyBytes = static_cast<double>(decoderCopyBytes(full, width, height));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // What the load may hold: the file and the decoded pixels (4 bytes a pixel).
  const double promise = static_cast<double>(fileBytes + pixelBytes);
  const double growth = static_cast<double>(peak - baseline);
  std::printf("size %ux%u file_mb %.1f pixels_mb %.1f copy_mb %.1f peak_growth_mb %.1f promise_mb %.1f ratio %.2f seconds %.1f outcome %s\n",
              width, height, fileBytes / 1e6, pixelBytes / 1e6, copyBytes / 1e6, growth / 1e6, promise / 1e6,
              promise > 0 ? growth / promise : 0.0, seconds, outcome.c_str());
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"make") return make(argv[2]);
  if (argc == 3 && std::wstring(argv[1]) == L"load") return load(argv[2]);
  std::fprintf(stderr, "usage: bench_intake_peak make <folder> | load <file>\n");
  return 2;
}

#pragma once
// Writes an 8-bit RGB, non-interlaced PNG whose rows are produced by a renderer,
// in row bands on several threads. Each band is filtered and deflated on its own
// (raw deflate ending on a byte-aligned sync flush), and the bands are joined into
// one zlib stream with a combined Adler-32, so the file does not depend on the
// number of threads, only on the band height.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace plate {

// Fills rows [y0, y1) as width * 3 bytes each (R, G, B), rows top to bottom.
// Must give the same bytes for a row whatever range it is asked in.
using RowRenderer = std::function<void(std::uint32_t y0, std::uint32_t y1, std::uint8_t* rgb)>;

struct PngSettings {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int level = 6;                    // zlib compression level
  std::uint32_t bandRows = 64;      // rows per independently compressed band
  unsigned threads = 1;             // worker threads (does not change the bytes)
  std::vector<std::pair<std::string, std::string>> text;  // tEXt keyword, value (Latin-1)
};

// Writes the file through a temporary name beside it and renames it into place,
// so an interrupted run never leaves a truncated plate behind. Throws on failure.
void writePng(const std::filesystem::path& out, const PngSettings& settings, const RowRenderer& render);

}  // namespace plate

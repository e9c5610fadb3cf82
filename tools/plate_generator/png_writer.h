#pragma once
// Writes an 8-bit RGB, non-interlaced PNG whose rows are produced by a renderer,
// in horizontal segments on several threads, laid out as the public "PNG Restart
// Marker" extension describes (chunk mARK, segmentation method 0, type 1), so that
// a reader that knows the chunk can decode the segments on all cores while every
// other PNG reader decodes the file as before:
//  - the image is cut into N segments of height / N rows, the first one taller by
//    the remainder;
//  - each segment is filtered and deflated on its own (raw deflate with a fresh
//    window, ending on a byte-aligned flush), and its first row uses the None or
//    Sub filter, so that no segment needs the rows above it;
//  - the segments are joined into one zlib stream with a combined Adler-32, each
//    segment's data in an IDAT chunk of its own, and the mARK chunk (method 0, type
//    1, the segment count) stands right before the first IDAT.
// The file does not depend on the number of threads, only on the segment count.
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
  // Independently compressed segments: more than the cores of any desk, few enough
  // to cost next to nothing in file size. Fewer when the image has fewer rows (the
  // count must stay below the height); an image of one row has one segment and no
  // mARK chunk.
  std::uint32_t segments = 64;
  unsigned threads = 1;             // worker threads (does not change the bytes)
  std::vector<std::pair<std::string, std::string>> text;  // tEXt keyword, value (Latin-1)
};

// Writes the file through a temporary name beside it and renames it into place,
// so an interrupted run never leaves a truncated plate behind. Throws on failure.
void writePng(const std::filesystem::path& out, const PngSettings& settings, const RowRenderer& render);

}  // namespace plate

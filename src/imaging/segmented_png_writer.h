#pragma once
// The program's own PNG writer: 8-bit RGB or RGBA, non-interlaced, assembled in
// memory from horizontal segments that are filtered and deflated independently on
// several threads. Used for the built-in plate (by its generator) and for crop
// exports.
//  - The image is cut into N segments of height / N rows, the first one taller by
//    the remainder.
//  - Each segment is filtered and deflated on its own (raw deflate with a fresh
//    window, ending on a byte-aligned flush), and its first row uses the None or
//    Sub filter, so that no segment needs the rows above it.
//  - The segments are joined into one zlib stream with a combined Adler-32, each
//    segment's data in an IDAT chunk of its own.
//  - Optionally a mARK chunk (the public "PNG Restart Marker" extension: method 0,
//    type 1, the segment count) stands right before the first IDAT, so that a
//    reader that knows the chunk can inflate the segments on all cores; every other
//    PNG reader decodes the file as any PNG.
// The bytes depend on the settings and the pixels, never on the number of threads.
// Platform-free; zlib does the deflating.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessary {

// How the rows handed to the writer hold their pixels.
enum class PngSourcePixels {
  Rgb8,   // R, G, B: written as an RGB PNG (colour type 2)
  Bgra8,  // B, G, R, A (straight alpha): written as an RGBA PNG (colour type 6)
};

// The row filter: chosen per row by the smallest sum of absolute signed residuals,
// or one filter for every row (a segment's first row below the image's first then
// uses Sub in place of Up, Average and Paeth, which would read the row above).
enum class PngFilter { Adaptive, None, Sub, Up, Average, Paeth };

// zlib's deflate strategies.
enum class PngDeflateStrategy { Default, Filtered, RunLength, HuffmanOnly };

struct PngWriterSettings {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  PngSourcePixels pixels = PngSourcePixels::Rgb8;
  PngFilter filter = PngFilter::Adaptive;
  int level = 6;  // zlib compression level, 1 to 9
  PngDeflateStrategy strategy = PngDeflateStrategy::RunLength;
  int memoryLevel = 9;  // zlib memLevel, 8 or 9 (the size of a deflate block)
  // Independently compressed segments. Fewer when the image has fewer rows (the
  // count stays below the height); an image of one row has one segment.
  std::uint32_t segments = 64;
  bool restartMarker = true;  // write the mARK chunk (images of two rows or more)
  unsigned threads = 1;       // worker threads, the caller's own included
  std::vector<std::pair<std::string, std::string>> text;  // tEXt keyword, value (Latin-1)
};

// Hands the writer the rows [y0, y1) of one segment, on the worker that deflates
// it: returns a pointer to row y0, the next rows `stride` bytes apart, each
// width x 3 (Rgb8) or width x 4 (Bgra8) bytes. The rows may stay where they are
// (nothing is copied) or be rendered into `storage`, the worker's own buffer; they
// are only read, and only until the call for the worker's next segment.
using PngSegmentRows = std::function<const std::uint8_t*(std::uint32_t y0, std::uint32_t y1,
                                                         std::vector<std::uint8_t>& storage, std::size_t& stride)>;

// A whole PNG file in memory (not zero-filled first: only what is written is
// touched).
class PngBytes {
 public:
  PngBytes() = default;
  PngBytes(std::unique_ptr<std::uint8_t[]> data, std::size_t size) : data_(std::move(data)), size_(size) {}
  const std::uint8_t* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {reinterpret_cast<const char*>(data_.get()), size_}; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
};

// The segment count written for an image `height` rows high when `wanted` are
// asked for: below the height, at least one.
std::uint32_t pngSegmentCount(std::uint32_t height, std::uint32_t wanted);

// Encodes the image. Raises std::invalid_argument for an empty image or settings
// out of range, std::runtime_error("PNG encoding failed") when zlib fails, and
// std::bad_alloc when memory runs out; an exception of `rows` is passed on.
PngBytes encodeSegmentedPng(const PngWriterSettings& settings, const PngSegmentRows& rows);

}  // namespace tessary

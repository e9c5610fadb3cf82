#pragma once
// A PNG decoder for one case only, on all cores: non-interlaced 8-bit RGB or RGBA
// whose image data is cut into independently compressed horizontal segments, as the
// public "PNG Restart Marker" extension describes (chunk mARK, segmentation method
// 0, type 1). Such a file stays an ordinary PNG for every other reader; this one
// inflates and unfilters its segments side by side, each worker writing BGRA
// straight into the final pixels. It takes a file whole or not at all: whatever it
// does not take, or finds inconsistent on the way, is left to the ordinary decoder,
// which gives the same pixels (or the same failure) more slowly.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

namespace tessary {

// One segment: rows [firstRow, firstRow + rows) of the image, and its IDAT chunk.
struct PngSegment {
  std::uint32_t firstRow = 0;
  std::uint32_t rows = 0;
  const std::uint8_t* chunk = nullptr;  // the chunk's type and data, as its CRC covers them
  std::size_t chunkSize = 0;            // 4 + the data's length
  std::uint32_t crc = 0;                // the CRC the chunk carries
  const std::uint8_t* deflate = nullptr;  // the segment's deflate data: without the zlib
  std::size_t deflateSize = 0;            // header (first) or the Adler-32 (last)
};

struct SegmentedPng {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t channels = 0;  // 3 (RGB) or 4 (RGBA)
  std::vector<PngSegment> segments;
  std::uint32_t adler32 = 0;   // the zlib stream's check value, from its end
};

// The segments of `bytes` when they are a PNG this decoder takes, or none. It takes:
//  - the signature, then IHDR first (length 13): width and height at least 1, bit
//    depth 8, colour type 2 (RGB) or 6 (RGBA), compression, filter and interlace
//    methods 0;
//  - before the image data only tEXt, zTXt, iTXt, tIME and pHYs chunks (which leave
//    the pixels alone) and exactly one mARK chunk: length 6, method 0, type 1, a
//    segment count N with 1 <= N < height;
//  - exactly N IDAT chunks in a row, the first one opening with a zlib header for
//    deflate with a 32 KiB window and no preset dictionary, the last one holding
//    at least the 4 bytes of the Adler-32;
//  - after them only tEXt, zTXt, iTXt and tIME chunks, then IEND (length 0) ending
//    the data exactly;
//  - every chunk's length inside the data and every CRC right (the CRCs of the IDAT
//    chunks are checked by decodePngSegments, each by the worker that reads it).
// Segment k holds height / N rows, the first one the remainder besides.
std::optional<SegmentedPng> findPngSegments(const std::uint8_t* bytes, std::size_t count);

// Starts one worker running `work`; raises (std::system_error, std::bad_alloc) when
// it cannot. The default starts a std::thread.
using PngWorkerStart = std::function<std::thread(std::function<void()>)>;

// Workers are one a core, at most this many: beyond it memory, not arithmetic, sets
// the pace.
inline constexpr unsigned kMaxPngDecodeWorkers = 16;

// One worker a core (std::thread::hardware_concurrency, 1 when unknown), at most
// kMaxPngDecodeWorkers and at most `segments` (at least 1).
unsigned pngDecodeWorkers(std::size_t segments);

// Told by a worker of each row it has just written, right after writing it: the row
// and the first row of its segment. The rows of one segment come in order, on one
// thread; different segments come on different threads at once.
using PngRowWritten = std::function<void(std::uint32_t row, std::uint32_t segmentFirstRow)>;

// Decodes every segment into `bgra` (width x height x 4 bytes, rows top to bottom,
// blue-green-red-alpha, straight alpha; 255 for RGB) on `workers` workers, the
// calling thread being one of them and `start` starting the others. Each worker
// takes segment after segment, checks the chunk's CRC, inflates the segment on its
// own, unfilters it row by row and writes each row's pixels into their place, so
// that each page of `bgra` is first touched by the worker that fills it.
// True when every byte of `bgra` is written and the segments are consistent: each
// segment's data inflates alone to exactly its rows (a byte-aligned end of a deflate
// block for all but the last, the end of the stream for the last), the first row of
// every segment but the first uses filter None or Sub, every filter type is known,
// and the Adler-32 of the whole stream is the one it ends with. False otherwise, and
// when a worker cannot be started or its memory cannot be had; `bgra` then holds
// nothing of use. `rowWritten`, when given, is told of each row as it is written
// (to work on the rows while they are fresh in the worker's cache); it must not
// raise. Never raises.
bool decodePngSegments(const SegmentedPng& png, std::uint8_t* bgra, unsigned workers,
                       const PngWorkerStart& start = {}, const PngRowWritten& rowWritten = {});

// The Adler-32 of data A followed by data B, from the check values of both and B's
// length (zlib's adler32_combine, for any length).
std::uint32_t combineAdler32(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength);

}  // namespace tessary

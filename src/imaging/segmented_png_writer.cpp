#include "imaging/segmented_png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>

namespace tessary {
namespace {

void put32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

inline int paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  if (pb <= pc) return b;
  return c;
}

// Chooses the row's filter by the smallest sum of absolute signed residuals (the
// usual heuristic; the lowest filter type wins a tie) among the first `filters`
// types and writes the filter byte and the filtered row to `out`.
void filterAdaptive(const std::uint8_t* row, const std::uint8_t* prev, std::size_t length, std::size_t bpp,
                    int filters, std::uint8_t* out, std::vector<std::uint8_t>& scratch) {
  scratch.resize(length * 5);
  std::uint8_t* f[5];
  for (int k = 0; k < 5; ++k) f[k] = scratch.data() + k * length;
  std::uint64_t cost[5] = {0, 0, 0, 0, 0};
  for (std::size_t i = 0; i < length; ++i) {
    const int x = row[i];
    const int a = i >= bpp ? row[i - bpp] : 0;
    const int b = prev ? prev[i] : 0;
    const int c = (prev && i >= bpp) ? prev[i - bpp] : 0;
    const std::uint8_t v[5] = {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x - a),
                               static_cast<std::uint8_t>(x - b), static_cast<std::uint8_t>(x - ((a + b) >> 1)),
                               static_cast<std::uint8_t>(x - paeth(a, b, c))};
    for (int k = 0; k < 5; ++k) {
      f[k][i] = v[k];
      cost[k] += static_cast<std::uint64_t>(std::abs(static_cast<int>(static_cast<std::int8_t>(v[k]))));
    }
  }
  int best = 0;
  for (int k = 1; k < filters; ++k) {
    if (cost[k] < cost[best]) best = k;
  }
  out[0] = static_cast<std::uint8_t>(best);
  std::memcpy(out + 1, f[best], length);
}

// One filter type for the row (`prev` null: zeros above, the image's first row).
void filterFixed(const std::uint8_t* row, const std::uint8_t* prev, std::size_t length, std::size_t bpp, int type,
                 std::uint8_t* out) {
  out[0] = static_cast<std::uint8_t>(type);
  std::uint8_t* o = out + 1;
  const std::size_t head = std::min(bpp, length);
  switch (type) {
    case 0:
      std::memcpy(o, row, length);
      break;
    case 1:
      std::memcpy(o, row, head);
      for (std::size_t i = bpp; i < length; ++i) o[i] = static_cast<std::uint8_t>(row[i] - row[i - bpp]);
      break;
    case 2:
      if (prev == nullptr) {
        std::memcpy(o, row, length);
      } else {
        for (std::size_t i = 0; i < length; ++i) o[i] = static_cast<std::uint8_t>(row[i] - prev[i]);
      }
      break;
    case 3:
      for (std::size_t i = 0; i < head; ++i) o[i] = static_cast<std::uint8_t>(row[i] - ((prev ? prev[i] : 0) >> 1));
      for (std::size_t i = bpp; i < length; ++i) {
        o[i] = static_cast<std::uint8_t>(row[i] - ((row[i - bpp] + (prev ? prev[i] : 0)) >> 1));
      }
      break;
    default:
      for (std::size_t i = 0; i < head; ++i) o[i] = static_cast<std::uint8_t>(row[i] - (prev ? prev[i] : 0));
      if (prev == nullptr) {
        for (std::size_t i = bpp; i < length; ++i) o[i] = static_cast<std::uint8_t>(row[i] - row[i - bpp]);
      } else {
        for (std::size_t i = bpp; i < length; ++i) {
          o[i] = static_cast<std::uint8_t>(row[i] - paeth(row[i - bpp], prev[i], prev[i - bpp]));
        }
      }
      break;
  }
}

int zlibStrategy(PngDeflateStrategy s) {
  switch (s) {
    case PngDeflateStrategy::Filtered:
      return Z_FILTERED;
    case PngDeflateStrategy::RunLength:
      return Z_RLE;
    case PngDeflateStrategy::HuffmanOnly:
      return Z_HUFFMAN_ONLY;
    case PngDeflateStrategy::Default:
      break;
  }
  return Z_DEFAULT_STRATEGY;
}

// The most bytes a segment's raw deflate stream can take, with the closing flush
// (an empty stored block) and room to spare. zlib's own bounds: with memLevel 8
// (deflate blocks of at most 16 Ki symbols, never longer than the window) a block
// that deflate cannot shrink is stored, 5 bytes of framing a block; with memLevel 9
// a block of 32 Ki literals may have left the window and must then be Huffman
// coded, which can grow random bytes by a little more than that, so its bound is
// the conservative one.
std::size_t segmentCapacity(std::size_t rawLength, int memoryLevel) {
  if (memoryLevel == 8) return rawLength + (rawLength >> 11) + 64;
  return rawLength + ((rawLength + 7) >> 3) + ((rawLength + 63) >> 6) + 64;
}

// Where one segment stands in the output while the workers write it.
struct Segment {
  std::uint32_t y0 = 0;
  std::uint32_t y1 = 0;
  std::size_t rawLength = 0;  // filtered bytes (filter byte and row, each row)
  std::size_t slot = 0;       // offset of the segment's space in the output
  std::size_t dataAt = 0;     // offset of its deflated bytes (inside the slot)
  std::size_t capacity = 0;   // room for them
  std::size_t deflated = 0;   // bytes written
  std::uint32_t adler = 1;    // of the filtered bytes
  std::uint32_t crc = 0;      // of the deflated bytes
};

// A worker's buffers, kept from one segment to the next.
struct WorkerBuffers {
  std::vector<std::uint8_t> storage;   // rows the source renders
  std::vector<std::uint8_t> rows[2];   // the current and previous row as RGBA (Bgra8 sources)
  std::vector<std::uint8_t> filtered;  // the segment's filtered rows
  std::vector<std::uint8_t> scratch;   // the adaptive filter's candidates
};

void swapRedBlue(const std::uint8_t* bgra, std::size_t pixels, std::uint8_t* rgba) {
  for (std::size_t i = 0; i < pixels; ++i) {
    rgba[4 * i] = bgra[4 * i + 2];
    rgba[4 * i + 1] = bgra[4 * i + 1];
    rgba[4 * i + 2] = bgra[4 * i];
    rgba[4 * i + 3] = bgra[4 * i + 3];
  }
}

void encodeSegment(const PngWriterSettings& s, const PngSegmentRows& source, bool last, Segment& seg,
                   std::uint8_t* out, WorkerBuffers& w) {
  const bool bgra = s.pixels == PngSourcePixels::Bgra8;
  const std::size_t bpp = bgra ? 4 : 3;
  const std::size_t rowBytes = static_cast<std::size_t>(s.width) * bpp;
  std::size_t stride = rowBytes;
  const std::uint8_t* first = source(seg.y0, seg.y1, w.storage, stride);
  if (first == nullptr) throw std::invalid_argument("no rows");

  w.filtered.resize(seg.rawLength);
  if (bgra) {
    w.rows[0].resize(rowBytes);
    w.rows[1].resize(rowBytes);
  }
  const std::uint8_t* prev = nullptr;
  for (std::uint32_t y = seg.y0; y < seg.y1; ++y) {
    const std::uint8_t* row = first + stride * (y - seg.y0);
    if (bgra) {
      std::uint8_t* converted = w.rows[(y - seg.y0) & 1].data();
      swapRedBlue(row, s.width, converted);
      row = converted;
    }
    // A segment's first row below the image's first has no row above it here:
    // only the filters that do not read the row above are allowed.
    const bool segmentTop = y == seg.y0 && seg.y0 > 0;
    std::uint8_t* target = w.filtered.data() + (rowBytes + 1) * (y - seg.y0);
    if (s.filter == PngFilter::Adaptive) {
      filterAdaptive(row, prev, rowBytes, bpp, segmentTop ? 2 : 5, target, w.scratch);
    } else {
      int type = static_cast<int>(s.filter) - 1;
      if (segmentTop && type > 1) type = 1;
      filterFixed(row, prev, rowBytes, bpp, type, target);
    }
    prev = row;
  }
  seg.adler = static_cast<std::uint32_t>(adler32(1L, w.filtered.data(), static_cast<uInt>(seg.rawLength)));

  z_stream z{};
  if (deflateInit2(&z, s.level, Z_DEFLATED, -15, s.memoryLevel, zlibStrategy(s.strategy)) != Z_OK) {
    throw std::runtime_error("PNG encoding failed");
  }
  std::unique_ptr<z_stream, void (*)(z_stream*)> guard(&z, [](z_stream* p) { deflateEnd(p); });
  z.next_in = w.filtered.data();
  z.avail_in = static_cast<uInt>(seg.rawLength);
  z.next_out = out + seg.dataAt;
  z.avail_out = static_cast<uInt>(seg.capacity);
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    const int rc = deflate(&z, flush);
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) throw std::runtime_error("PNG encoding failed");
    // A sync flush is complete once deflate leaves output space unused.
    if (!last && z.avail_in == 0 && z.avail_out != 0) break;
    // The capacity holds any deflate stream of the segment; running out of it
    // would be a fault of this writer, not of the pixels.
    if (z.avail_out == 0) throw std::runtime_error("PNG encoding failed");
  }
  seg.deflated = seg.capacity - z.avail_out;
  seg.crc = static_cast<std::uint32_t>(crc32(0L, out + seg.dataAt, static_cast<uInt>(seg.deflated)));
}

// Appends a whole chunk at `at`; returns the offset after it.
std::size_t writeChunk(std::uint8_t* out, std::size_t at, const char* type, const std::uint8_t* data,
                       std::size_t length) {
  put32(out + at, static_cast<std::uint32_t>(length));
  std::memcpy(out + at + 4, type, 4);
  if (length > 0) std::memcpy(out + at + 8, data, length);
  const uLong crc = crc32(0L, out + at + 4, static_cast<uInt>(length + 4));
  put32(out + at + 8 + length, static_cast<std::uint32_t>(crc));
  return at + 12 + length;
}

}  // namespace

std::uint32_t pngSegmentCount(std::uint32_t height, std::uint32_t wanted) {
  if (height < 2) return 1;
  return std::max<std::uint32_t>(1, std::min(wanted, height - 1));
}

PngBytes encodeSegmentedPng(const PngWriterSettings& s, const PngSegmentRows& rows) {
  if (s.width == 0 || s.height == 0 || s.segments == 0) throw std::invalid_argument("empty image");
  if (s.width > 0x7FFFFFFFu || s.height > 0x7FFFFFFFu) throw std::invalid_argument("image too large");
  if (s.level < 1 || s.level > 9 || s.memoryLevel < 8 || s.memoryLevel > 9) {
    throw std::invalid_argument("compression settings");
  }
  const std::size_t bpp = s.pixels == PngSourcePixels::Bgra8 ? 4 : 3;
  const std::uint64_t rowFiltered = static_cast<std::uint64_t>(s.width) * bpp + 1;

  // The segments: height / N rows each, the first one taller by the remainder.
  const std::uint32_t count = pngSegmentCount(s.height, s.segments);
  const bool marked = s.restartMarker && s.height >= 2;
  const std::uint32_t rowsEach = s.height / count;
  const std::uint32_t firstRows = rowsEach + s.height % count;
  // zlib counts a segment's bytes in a long, 32 bits on Windows: a segment (with
  // its room for the deflated bytes) stays below 2 GiB.
  if (firstRows > 0x70000000u / rowFiltered) {
    throw std::invalid_argument("segment too large");
  }

  // The file's layout: signature, IHDR, tEXt chunks, mARK, then each segment's
  // IDAT chunk in room sized for its largest deflate stream, then IEND. The workers
  // deflate each segment straight into its room; the chunks are then moved up
  // against each other, so the file is made in one buffer of about the raw size.
  std::size_t head = 8 + 25;
  for (const auto& [key, value] : s.text) head += 12 + key.size() + 1 + value.size();
  if (marked) head += 12 + 6;
  std::vector<Segment> segments(count);
  std::size_t at = head;
  for (std::uint32_t b = 0; b < count; ++b) {
    Segment& seg = segments[b];
    seg.y0 = b == 0 ? 0 : firstRows + (b - 1) * rowsEach;
    seg.y1 = b == 0 ? firstRows : seg.y0 + rowsEach;
    seg.rawLength = static_cast<std::size_t>(rowFiltered * (seg.y1 - seg.y0));
    seg.capacity = segmentCapacity(seg.rawLength, s.memoryLevel);
    seg.slot = at;
    // Chunk length and type; the zlib header before the first segment's data.
    seg.dataAt = at + 8 + (b == 0 ? 2 : 0);
    // The data, the Adler-32 after the last segment's, the chunk's CRC.
    at = seg.dataAt + seg.capacity + (b + 1 == count ? 4 : 0) + 4;
  }
  const std::size_t total = at + 12;
  std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[total]);

  std::atomic<std::uint32_t> next{0};
  std::exception_ptr failure;
  std::mutex failureMutex;
  auto worker = [&]() {
    WorkerBuffers buffers;
    for (;;) {
      const std::uint32_t b = next.fetch_add(1);
      if (b >= count) return;
      try {
        encodeSegment(s, rows, b + 1 == count, segments[b], out.get(), buffers);
      } catch (...) {
        std::lock_guard<std::mutex> lock(failureMutex);
        if (!failure) failure = std::current_exception();
        next = count;
        return;
      }
    }
  };
  {
    std::vector<std::thread> pool;
    const unsigned threads = std::min<unsigned>(std::max(1u, s.threads), count);
    try {
      for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
    } catch (...) {
      // Fewer threads than asked: the ones running and this one do the work.
    }
    worker();
    for (auto& t : pool) t.join();
  }
  if (failure) std::rethrow_exception(failure);

  std::uint8_t* p = out.get();
  static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::memcpy(p, kSignature, 8);
  std::uint8_t ihdr[13];
  put32(ihdr, s.width);
  put32(ihdr + 4, s.height);
  ihdr[8] = 8;                                                // bits per channel
  ihdr[9] = s.pixels == PngSourcePixels::Bgra8 ? 6 : 2;       // RGBA or RGB
  ihdr[10] = 0;                                               // deflate
  ihdr[11] = 0;                                               // adaptive filtering
  ihdr[12] = 0;                                               // not interlaced
  std::size_t end = writeChunk(p, 8, "IHDR", ihdr, sizeof ihdr);
  for (const auto& [key, value] : s.text) {
    std::vector<std::uint8_t> t(key.begin(), key.end());
    t.push_back(0);
    t.insert(t.end(), value.begin(), value.end());
    end = writeChunk(p, end, "tEXt", t.data(), t.size());
  }
  if (marked) {
    // mARK: segmentation method 0 (equal segments, the first taller by the
    // remainder), type 1 (each segment is one IDAT chunk), the segment count.
    std::uint8_t mark[6] = {0, 1, 0, 0, 0, 0};
    put32(mark + 2, count);
    end = writeChunk(p, end, "mARK", mark, sizeof mark);
  }

  std::uint32_t adler = 1;
  for (const Segment& seg : segments) {
    adler = static_cast<std::uint32_t>(adler32_combine(adler, seg.adler, static_cast<z_off_t>(seg.rawLength)));
  }
  // One IDAT chunk a segment: the first opens with the zlib header (deflate, 32 KiB
  // window; the level field says "default"), the last closes with the Adler-32.
  // Each chunk moves towards the file's start (never past its own room), so a move
  // never reaches a segment that has not moved yet.
  static constexpr std::uint8_t kType[4] = {'I', 'D', 'A', 'T'};
  static constexpr std::uint8_t kZlibHeader[2] = {0x78, 0x9C};
  for (std::uint32_t b = 0; b < count; ++b) {
    const Segment& seg = segments[b];
    const bool firstChunk = b == 0;
    const bool lastChunk = b + 1 == count;
    const std::size_t length = (firstChunk ? 2 : 0) + seg.deflated + (lastChunk ? 4 : 0);
    std::size_t w = end;
    std::memmove(p + w + 8 + (firstChunk ? 2 : 0), p + seg.dataAt, seg.deflated);
    put32(p + w, static_cast<std::uint32_t>(length));
    std::memcpy(p + w + 4, kType, 4);
    uLong crc = crc32(0L, kType, 4);
    w += 8;
    if (firstChunk) {
      std::memcpy(p + w, kZlibHeader, 2);
      crc = crc32(crc, kZlibHeader, 2);
      w += 2;
    }
    crc = crc32_combine(crc, seg.crc, static_cast<z_off_t>(seg.deflated));
    w += seg.deflated;
    if (lastChunk) {
      std::uint8_t trailer[4];
      put32(trailer, adler);
      std::memcpy(p + w, trailer, 4);
      crc = crc32(crc, trailer, 4);
      w += 4;
    }
    put32(p + w, static_cast<std::uint32_t>(crc));
    end = w + 4;
  }
  end = writeChunk(p, end, "IEND", nullptr, 0);
  return PngBytes(std::move(out), end);
}

}  // namespace tessary

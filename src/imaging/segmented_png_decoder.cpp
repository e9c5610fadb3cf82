#include "imaging/segmented_png_decoder.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

namespace tessary {
namespace {

std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

bool typeIs(const std::uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// Chunks that may stand before the image data: text, time and physical size, none
// of which changes a pixel.
bool harmlessBeforeData(const std::uint8_t* type) {
  return typeIs(type, "tEXt") || typeIs(type, "zTXt") || typeIs(type, "iTXt") || typeIs(type, "tIME") ||
         typeIs(type, "pHYs");
}

bool harmlessAfterData(const std::uint8_t* type) {
  return typeIs(type, "tEXt") || typeIs(type, "zTXt") || typeIs(type, "iTXt") || typeIs(type, "tIME");
}

std::uint32_t crcOf(const std::uint8_t* data, std::size_t size) {
  // zlib's count is 32-bit: the data goes in pieces.
  uLong crc = crc32(0L, Z_NULL, 0);
  while (size > 0) {
    const auto piece = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
    crc = crc32(crc, data, piece);
    data += piece;
    size -= piece;
  }
  return static_cast<std::uint32_t>(crc);
}

std::uint32_t adlerOf(std::uint32_t adler, const std::uint8_t* data, std::size_t size) {
  return static_cast<std::uint32_t>(adler32(adler, data, static_cast<uInt>(size)));
}

struct Chunk {
  const std::uint8_t* type = nullptr;  // the type, followed by the data
  const std::uint8_t* data = nullptr;
  std::size_t length = 0;
  std::uint32_t crc = 0;
};

// Walks the chunks after the signature, each one whole inside the data.
class ChunkWalk {
 public:
  ChunkWalk(const std::uint8_t* bytes, std::size_t count) : bytes_(bytes), count_(count), at_(8) {}
  bool atEnd() const { return at_ == count_; }
  // The next chunk, or none when it does not fit in the data.
  std::optional<Chunk> next() {
    if (count_ - at_ < 12) return std::nullopt;
    const std::size_t length = be32(bytes_ + at_);
    if (length > 0x7FFFFFFFu || length > count_ - at_ - 12) return std::nullopt;
    Chunk chunk;
    chunk.type = bytes_ + at_ + 4;
    chunk.data = bytes_ + at_ + 8;
    chunk.length = length;
    chunk.crc = be32(chunk.data + length);
    at_ += 12 + length;
    return chunk;
  }

 private:
  const std::uint8_t* bytes_;
  std::size_t count_;
  std::size_t at_;
};

bool crcRight(const Chunk& chunk) { return crcOf(chunk.type, 4 + chunk.length) == chunk.crc; }

int paeth(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// The predictor of one byte under PNG filter `Filter`, from the unfiltered bytes to
// the left, above, and above to the left.
template <int Filter>
inline unsigned predictor(unsigned left, unsigned up, unsigned upLeft) {
  if constexpr (Filter == 1) return left;
  if constexpr (Filter == 2) return up;
  if constexpr (Filter == 3) return (left + up) >> 1;
  if constexpr (Filter == 4) return static_cast<unsigned>(paeth(static_cast<int>(left), static_cast<int>(up),
                                                                static_cast<int>(upLeft)));
  return 0;
}

// Undoes the filter of one row of `width` pixels in place and writes the pixels as
// BGRA to `out`, in one pass: the pixel to the left and the one above it stay in
// registers instead of being read back from the row. `prev` is the unfiltered row
// above (zeros above the first row); the row must stay unfiltered for the next one.
template <std::size_t Bpp, int Filter>
void unfilterToBgra(std::uint8_t* row, const std::uint8_t* prev, std::uint32_t width, std::uint8_t* out) {
  // The unfiltered pixel to the left (zeros before the first) and the one above it.
  unsigned r = 0, g = 0, b = 0, a = 0, upR = 0, upG = 0, upB = 0, upA = 0;
  for (std::uint32_t x = 0; x < width; ++x, row += Bpp, prev += Bpp, out += 4) {
    const unsigned pr = prev[0], pg = prev[1], pb = prev[2];
    r = (row[0] + predictor<Filter>(r, pr, upR)) & 0xFFu;
    g = (row[1] + predictor<Filter>(g, pg, upG)) & 0xFFu;
    b = (row[2] + predictor<Filter>(b, pb, upB)) & 0xFFu;
    row[0] = static_cast<std::uint8_t>(r);
    row[1] = static_cast<std::uint8_t>(g);
    row[2] = static_cast<std::uint8_t>(b);
    upR = pr;
    upG = pg;
    upB = pb;
    if constexpr (Bpp == 4) {
      const unsigned pa = prev[3];
      a = (row[3] + predictor<Filter>(a, pa, upA)) & 0xFFu;
      row[3] = static_cast<std::uint8_t>(a);
      upA = pa;
    }
    const std::uint32_t pixel = b | (g << 8) | (r << 16) | ((Bpp == 4 ? a : 255u) << 24);
    std::memcpy(out, &pixel, 4);  // little-endian: blue, green, red, alpha
  }
}

// The same for whichever filter the row names; false for an unknown filter type.
template <std::size_t Bpp>
bool unfilterToBgra(std::uint8_t filter, std::uint8_t* row, const std::uint8_t* prev, std::uint32_t width,
                    std::uint8_t* out) {
  switch (filter) {
    case 0: unfilterToBgra<Bpp, 0>(row, prev, width, out); return true;
    case 1: unfilterToBgra<Bpp, 1>(row, prev, width, out); return true;
    case 2: unfilterToBgra<Bpp, 2>(row, prev, width, out); return true;
    case 3: unfilterToBgra<Bpp, 3>(row, prev, width, out); return true;
    case 4: unfilterToBgra<Bpp, 4>(row, prev, width, out); return true;
    default: return false;
  }
}

// One worker's tools: an inflater (its window kept from segment to segment) and the
// filtered rows it reads into.
class SegmentReader {
 public:
  SegmentReader(const SegmentedPng& png)
      : png_(png), rowBytes_(static_cast<std::size_t>(png.width) * png.channels),
        current_(rowBytes_ + 1), previous_(rowBytes_ + 1) {
    if (inflateInit2(&stream_, -15) != Z_OK) throw std::bad_alloc();
  }
  ~SegmentReader() { inflateEnd(&stream_); }
  SegmentReader(const SegmentReader&) = delete;
  SegmentReader& operator=(const SegmentReader&) = delete;

  // Decodes segment `index` into its rows of `bgra`; its raw data's Adler-32 goes
  // to `adler`. False when the segment is not consistent.
  bool read(std::size_t index, std::uint8_t* bgra, std::uint32_t& adler, const std::atomic<bool>& stop,
            const PngRowWritten& rowWritten) {
    const PngSegment& segment = png_.segments[index];
    const bool last = index + 1 == png_.segments.size();
    if (crcOf(segment.chunk, segment.chunkSize) != segment.crc) return false;
    if (inflateReset(&stream_) != Z_OK) return false;
    // zlib counts in 32 bits; one IDAT chunk holds less than 2^31 bytes.
    stream_.next_in = const_cast<Bytef*>(segment.deflate);
    stream_.avail_in = static_cast<uInt>(segment.deflateSize);
    bool ended = false;
    std::uint32_t check = 1;
    std::fill(previous_.begin(), previous_.end(), std::uint8_t{0});
    const std::size_t stride = static_cast<std::size_t>(png_.width) * 4;
    std::uint8_t* out = bgra + stride * segment.firstRow;
    for (std::uint32_t row = 0; row < segment.rows; ++row, out += stride) {
      if (stop.load(std::memory_order_relaxed) || ended) return false;
      stream_.next_out = current_.data();
      stream_.avail_out = static_cast<uInt>(current_.size());
      while (stream_.avail_out > 0) {
        const int result = inflate(&stream_, Z_NO_FLUSH);
        if (result == Z_STREAM_END) {
          ended = true;
          break;
        }
        if (result != Z_OK) return false;  // damaged data, or the segment ends short
      }
      if (stream_.avail_out > 0) return false;
      check = adlerOf(check, current_.data(), current_.size());
      const std::uint8_t filter = current_[0];
      // Only the image's first row may read zeros above it: a later segment's first
      // row would need the previous segment's last row.
      if (row == 0 && index > 0 && filter > 1) return false;
      const bool known =
          png_.channels == 3 ? unfilterToBgra<3>(filter, current_.data() + 1, previous_.data() + 1, png_.width, out)
                             : unfilterToBgra<4>(filter, current_.data() + 1, previous_.data() + 1, png_.width, out);
      if (!known) return false;
      if (rowWritten) rowWritten(segment.firstRow + row, segment.firstRow);
      current_.swap(previous_);
    }
    // What is left of the segment after its rows may only close the deflate block
    // (an end-of-block code, an empty stored block): it must give no byte more.
    while (!ended && stream_.avail_in > 0) {
      std::uint8_t spare[64];
      stream_.next_out = spare;
      stream_.avail_out = sizeof spare;
      const int result = inflate(&stream_, Z_NO_FLUSH);
      if (stream_.avail_out != sizeof spare) return false;
      if (result == Z_STREAM_END) {
        ended = true;
      } else if (result != Z_OK) {
        return false;
      }
    }
    if (stream_.avail_in != 0) return false;
    if (last) {
      if (!ended) return false;
    } else {
      // A segment before the last ends with its last deflate block, on a byte
      // boundary: a reader of the whole stream then finds the next block's header
      // at the first byte of the next segment, exactly where this decoder starts it
      // (zlib: 128 = at the end of a block, the low 3 bits = unused bits of the last
      // byte).
      if (ended || (stream_.data_type & 128) == 0 || (stream_.data_type & 7) != 0) return false;
    }
    adler = check;
    return true;
  }

 private:
  const SegmentedPng& png_;
  std::size_t rowBytes_;
  std::vector<std::uint8_t> current_;
  std::vector<std::uint8_t> previous_;
  z_stream stream_{};
};

}  // namespace

std::optional<SegmentedPng> findPngSegments(const std::uint8_t* bytes, std::size_t count) {
  static constexpr std::uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  if (bytes == nullptr || count < 8 || std::memcmp(bytes, kSignature, 8) != 0) return std::nullopt;
  ChunkWalk walk(bytes, count);

  const std::optional<Chunk> header = walk.next();
  if (!header || !typeIs(header->type, "IHDR") || header->length != 13 || !crcRight(*header)) return std::nullopt;
  SegmentedPng png;
  png.width = be32(header->data);
  png.height = be32(header->data + 4);
  const std::uint8_t* h = header->data;
  if (png.width == 0 || png.height == 0 || png.width > 0x7FFFFFFFu || png.height > 0x7FFFFFFFu) return std::nullopt;
  if (h[8] != 8 || (h[9] != 2 && h[9] != 6) || h[10] != 0 || h[11] != 0 || h[12] != 0) return std::nullopt;
  png.channels = h[9] == 2 ? 3 : 4;
  // A filtered row is counted in 32 bits by zlib.
  if (std::uint64_t{png.width} * png.channels + 1 > 0x7FFFFFFFu) return std::nullopt;

  // Up to the first image data: harmless chunks and one mARK chunk.
  std::uint32_t segmentCount = 0;
  std::optional<Chunk> chunk;
  for (;;) {
    chunk = walk.next();
    if (!chunk) return std::nullopt;
    if (typeIs(chunk->type, "IDAT")) break;  // its CRC is checked where it is decoded
    if (!crcRight(*chunk)) return std::nullopt;
    if (typeIs(chunk->type, "mARK")) {
      const std::uint8_t* m = chunk->data;
      if (segmentCount != 0 || chunk->length != 6 || m[0] != 0 || m[1] != 1) return std::nullopt;
      segmentCount = be32(m + 2);
      if (segmentCount == 0 || segmentCount >= png.height) return std::nullopt;
    } else if (!harmlessBeforeData(chunk->type)) {
      return std::nullopt;
    }
  }
  if (segmentCount == 0) return std::nullopt;
  // Every segment is an IDAT chunk of its own, at least 12 bytes of the file: a count
  // that the file cannot hold is refused before anything is sized by it.
  if (segmentCount > count / 12) return std::nullopt;

  // The image data: one IDAT chunk a segment, in a row.
  const std::uint32_t rows = png.height / segmentCount;
  const std::uint32_t firstRows = rows + png.height % segmentCount;
  png.segments.reserve(segmentCount);
  for (std::uint32_t k = 0; k < segmentCount; ++k) {
    if (k > 0) chunk = walk.next();
    if (!chunk || !typeIs(chunk->type, "IDAT")) return std::nullopt;
    PngSegment segment;
    segment.firstRow = k == 0 ? 0 : firstRows + (k - 1) * rows;
    segment.rows = k == 0 ? firstRows : rows;
    segment.chunk = chunk->type;
    segment.chunkSize = 4 + chunk->length;
    segment.crc = chunk->crc;
    segment.deflate = chunk->data;
    segment.deflateSize = chunk->length;
    if (k == 0) {
      // zlib header: deflate with a 32 KiB window (a reader of the whole stream keeps
      // no more than the header asks for), no preset dictionary, a valid check.
      if (segment.deflateSize < 2) return std::nullopt;
      const std::uint8_t cmf = segment.deflate[0];
      const std::uint8_t flg = segment.deflate[1];
      if (cmf != 0x78 || (flg & 0x20) != 0 || (cmf * 256u + flg) % 31 != 0) return std::nullopt;
      segment.deflate += 2;
      segment.deflateSize -= 2;
    }
    if (k + 1 == segmentCount) {
      if (segment.deflateSize < 4) return std::nullopt;
      segment.deflateSize -= 4;
      png.adler32 = be32(segment.deflate + segment.deflateSize);
    }
    png.segments.push_back(segment);
  }

  // After the image data: harmless chunks, then IEND at the very end.
  for (;;) {
    chunk = walk.next();
    if (!chunk || !crcRight(*chunk)) return std::nullopt;
    if (typeIs(chunk->type, "IEND")) break;
    if (!harmlessAfterData(chunk->type)) return std::nullopt;
  }
  if (chunk->length != 0 || !walk.atEnd()) return std::nullopt;
  return png;
}

unsigned pngDecodeWorkers(std::size_t segments) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t workers = std::min<std::size_t>({cores, kMaxPngDecodeWorkers, std::max<std::size_t>(1, segments)});
  return static_cast<unsigned>(workers);
}

std::uint32_t combineAdler32(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength) {
  constexpr std::uint64_t kBase = 65521;
  const std::uint64_t a1 = first & 0xFFFFu;
  const std::uint64_t b1 = first >> 16;
  const std::uint64_t a2 = second & 0xFFFFu;
  const std::uint64_t b2 = second >> 16;
  // Every byte of the second part adds the first part's sum (less its start of 1)
  // to the running sum of sums.
  const std::uint64_t a = (a1 + a2 + kBase - 1) % kBase;
  const std::uint64_t b = (b1 + b2 + (secondLength % kBase) * ((a1 + kBase - 1) % kBase)) % kBase;
  return static_cast<std::uint32_t>(a | (b << 16));
}

bool decodePngSegments(const SegmentedPng& png, std::uint8_t* bgra, unsigned workers, const PngWorkerStart& start,
                       const PngRowWritten& rowWritten) {
  const std::size_t count = png.segments.size();
  if (count == 0 || bgra == nullptr || (png.channels != 3 && png.channels != 4)) return false;
  // The segments must tile the image, top to bottom, so that no worker writes
  // outside `bgra` (findPngSegments makes them so).
  std::uint64_t nextRow = 0;
  for (const PngSegment& segment : png.segments) {
    if (segment.firstRow != nextRow || segment.rows == 0) return false;
    nextRow += segment.rows;
  }
  if (nextRow != png.height) return false;
  workers = std::max(1u, std::min<unsigned>(workers, static_cast<unsigned>(std::min<std::size_t>(count, kMaxPngDecodeWorkers))));

  std::vector<std::uint32_t> adlers(count, 0);
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&]() noexcept {
    try {
      SegmentReader reader(png);
      for (;;) {
        const std::size_t index = next.fetch_add(1);
        if (index >= count || failed.load()) return;
        if (!reader.read(index, bgra, adlers[index], failed, rowWritten)) {
          failed = true;
          return;
        }
      }
    } catch (...) {
      failed = true;  // no memory for the worker's inflater or rows
    }
  };

  std::vector<std::thread> others;
  try {
    others.reserve(workers - 1);
    for (unsigned i = 1; i < workers; ++i) {
      others.push_back(start ? start(work) : std::thread(work));
    }
  } catch (...) {
    failed = true;  // the workers already started stop at their next segment
  }
  if (!failed) work();
  for (std::thread& t : others) {
    if (t.joinable()) t.join();
  }
  if (failed) return false;

  const std::size_t rawRow = static_cast<std::size_t>(png.width) * png.channels + 1;
  std::uint32_t adler = 1;
  for (std::size_t k = 0; k < count; ++k) {
    adler = combineAdler32(adler, adlers[k], static_cast<std::uint64_t>(rawRow) * png.segments[k].rows);
  }
  return adler == png.adler32;
}

}  // namespace tessary

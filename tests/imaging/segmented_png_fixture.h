#pragma once
// Writes PNG files whose image data is cut into segments as the "PNG Restart
// Marker" extension lays them out (chunk mARK, one IDAT chunk a segment), with
// every choice open to a test: the segments' rows, the filters, the window the
// segments share, the mARK chunk itself. Each file is an ordinary PNG for any
// reader unless a test damages it afterwards (helpers below).
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessary::imagetest {

struct SegmentedPngOptions {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t channels = 3;       // 3 (RGB, colour type 2) or 4 (RGBA, colour type 6)
  std::vector<std::uint8_t> pixels; // rows of width x channels bytes, top to bottom
  std::uint32_t segments = 4;       // IDAT chunks, one a segment, and the mARK count
  // Rows of each segment's data; empty: the extension's division (height / N rows
  // each, the first one taller by the remainder). More rows in all than the height
  // make image data beyond the image (pixels must then hold them).
  std::vector<std::uint32_t> segmentRows;
  bool mark = true;                 // write the mARK chunk before the first IDAT
  std::vector<std::uint8_t> markData;  // the mARK chunk's data; empty: method 0, type 1, count
  // The filter of row y (0 to 4 are PNG's; others are written as they are). The
  // default cycles through all five, and a segment's first row below the first
  // segment takes None or Sub.
  std::function<std::uint8_t(std::uint32_t y, bool firstOfSegment)> filter;
  // One deflater for the whole stream, flushed at each segment's end: a segment may
  // then refer back into the one before it, which a reader of the whole stream
  // allows and a reader of one segment cannot follow.
  bool sharedWindow = false;
  // How each segment's deflate data ends (the last one always ends the stream):
  //  Flush      on a byte boundary, after an empty stored block (what encoders do);
  //  StreamEnd  with a final block, as if every segment were a stream of its own;
  //  Unaligned  one block of fixed codes, all its rows' bytes as literals, ending
  //             inside its last byte (zero bits after it), so that a reader of the
  //             whole stream reads those bits as the next block's start.
  enum class SegmentEnd { Flush, StreamEnd, Unaligned } segmentEnd = SegmentEnd::Flush;
  std::vector<std::pair<std::string, std::string>> text;  // tEXt chunks before the data
  // A row of the data (counted over all segments) that the Adler-32 leaves out, as a
  // writer that dropped it from its count would; none by default.
  std::uint32_t rowOutsideAdler = UINT32_MAX;
};

// One deflate block with fixed codes holding `raw` as literals (final when asked),
// its bits packed from the first byte's lowest bit on; the last byte is padded with
// zero bits.
inline std::vector<std::uint8_t> fixedCodesBlock(const std::vector<std::uint8_t>& raw, bool final) {
  std::vector<std::uint8_t> out;
  std::uint32_t buffer = 0;
  int count = 0;
  auto put = [&](std::uint32_t bits, int n) {  // n bits, lowest first
    buffer |= bits << count;
    count += n;
    while (count >= 8) {
      out.push_back(static_cast<std::uint8_t>(buffer));
      buffer >>= 8;
      count -= 8;
    }
  };
  // Huffman codes go most significant bit first.
  auto putCode = [&](std::uint32_t code, int n) {
    std::uint32_t reversed = 0;
    for (int i = 0; i < n; ++i) reversed |= ((code >> i) & 1u) << (n - 1 - i);
    put(reversed, n);
  };
  put(final ? 1 : 0, 1);
  put(1, 2);  // fixed codes
  for (std::uint8_t b : raw) {
    if (b < 144) {
      putCode(0x30u + b, 8);
    } else {
      putCode(0x190u + (b - 144u), 9);
    }
  }
  putCode(0, 7);  // end of block
  if (count > 0) out.push_back(static_cast<std::uint8_t>(buffer));
  return out;
}

inline void putBe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 24));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

inline std::uint32_t readBe32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

inline void appendChunk(std::vector<std::uint8_t>& out, const char* type, const std::uint8_t* data, std::size_t size) {
  putBe32(out, static_cast<std::uint32_t>(size));
  const std::size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  if (size > 0) out.insert(out.end(), data, data + size);
  putBe32(out, static_cast<std::uint32_t>(crc32(0L, &out[typeAt], static_cast<uInt>(4 + size))));
}

inline std::uint8_t paethPredictor(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return static_cast<std::uint8_t>((pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c));
}

// The filtered row (filter byte first) of `row` with `prev` above it (null: zeros).
inline std::vector<std::uint8_t> filterRow(std::uint8_t filter, const std::uint8_t* row, const std::uint8_t* prev,
                                           std::size_t length, std::size_t bpp) {
  std::vector<std::uint8_t> out(length + 1);
  out[0] = filter;
  for (std::size_t i = 0; i < length; ++i) {
    const int a = i >= bpp ? row[i - bpp] : 0;
    const int b = prev ? prev[i] : 0;
    const int c = (prev && i >= bpp) ? prev[i - bpp] : 0;
    int predictor = 0;
    switch (filter) {
      case 1: predictor = a; break;
      case 2: predictor = b; break;
      case 3: predictor = (a + b) >> 1; break;
      case 4: predictor = paethPredictor(a, b, c); break;
      default: break;
    }
    out[i + 1] = static_cast<std::uint8_t>(row[i] - predictor);
  }
  return out;
}

// Deflates `raw` with `z`, ending with `flush`; appends to `out`.
inline void deflateInto(z_stream& z, const std::vector<std::uint8_t>& raw, int flush, std::vector<std::uint8_t>& out) {
  z.next_in = const_cast<Bytef*>(raw.data());
  z.avail_in = static_cast<uInt>(raw.size());
  std::uint8_t buffer[1 << 14];
  for (;;) {
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    const int rc = deflate(&z, flush);
    if (rc == Z_STREAM_ERROR) throw std::runtime_error("deflate failed");
    out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    if (rc == Z_STREAM_END) return;
    if (z.avail_in == 0 && z.avail_out != 0) return;
  }
}

inline std::vector<std::uint8_t> segmentedPng(const SegmentedPngOptions& o) {
  const std::size_t rowBytes = static_cast<std::size_t>(o.width) * o.channels;
  std::vector<std::uint32_t> rows = o.segmentRows;
  if (rows.empty()) {
    for (std::uint32_t k = 0; k < o.segments; ++k) {
      rows.push_back(o.height / o.segments + (k == 0 ? o.height % o.segments : 0));
    }
  }
  // Segments may hold more rows than the header declares (image data beyond the
  // image): the pixels then hold them too.
  std::uint64_t total = 0;
  for (std::uint32_t r : rows) total += r;
  if (o.pixels.size() != rowBytes * std::max<std::uint64_t>(o.height, total)) throw std::invalid_argument("pixels");
  auto filterOf = [&](std::uint32_t y, bool first) -> std::uint8_t {
    if (o.filter) return o.filter(y, first);
    if (first && y > 0) return static_cast<std::uint8_t>(y % 2);
    return static_cast<std::uint8_t>((y * 7 + 3) % 5);
  };

  std::vector<std::uint8_t> file = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<std::uint8_t> ihdr;
  putBe32(ihdr, o.width);
  putBe32(ihdr, o.height);
  ihdr.insert(ihdr.end(), {8, static_cast<std::uint8_t>(o.channels == 4 ? 6 : 2), 0, 0, 0});
  appendChunk(file, "IHDR", ihdr.data(), ihdr.size());
  for (const auto& [key, value] : o.text) {
    std::vector<std::uint8_t> t(key.begin(), key.end());
    t.push_back(0);
    t.insert(t.end(), value.begin(), value.end());
    appendChunk(file, "tEXt", t.data(), t.size());
  }
  if (o.mark) {
    std::vector<std::uint8_t> mark = o.markData;
    if (mark.empty()) {
      mark = {0, 1};
      putBe32(mark, o.segments);
    }
    appendChunk(file, "mARK", mark.data(), mark.size());
  }

  uLong adler = adler32(0L, Z_NULL, 0);
  z_stream shared{};
  if (o.sharedWindow && deflateInit2(&shared, 6, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::uint32_t y = 0;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    std::vector<std::uint8_t> raw;
    for (std::uint32_t r = 0; r < rows[k]; ++r, ++y) {
      const std::uint8_t* row = o.pixels.data() + rowBytes * y;
      const std::uint8_t* prev = y > 0 ? row - rowBytes : nullptr;
      const std::vector<std::uint8_t> f = filterRow(filterOf(y, r == 0), row, prev, rowBytes, o.channels);
      raw.insert(raw.end(), f.begin(), f.end());
      if (y != o.rowOutsideAdler) adler = adler32(adler, f.data(), static_cast<uInt>(f.size()));
    }
    const bool last = k + 1 == rows.size();
    std::vector<std::uint8_t> data;
    if (k == 0) data = {0x78, 0x9C};
    if (o.segmentEnd == SegmentedPngOptions::SegmentEnd::Unaligned) {
      const std::vector<std::uint8_t> block = fixedCodesBlock(raw, last);
      data.insert(data.end(), block.begin(), block.end());
    } else if (o.sharedWindow) {
      deflateInto(shared, raw, last ? Z_FINISH : Z_SYNC_FLUSH, data);
    } else if (o.segmentEnd == SegmentedPngOptions::SegmentEnd::StreamEnd) {
      z_stream z{};
      if (deflateInit2(&z, 6, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
      deflateInto(z, raw, Z_FINISH, data);
      deflateEnd(&z);
    } else {
      z_stream z{};
      if (deflateInit2(&z, 6, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
      deflateInto(z, raw, last ? Z_FINISH : Z_SYNC_FLUSH, data);
      deflateEnd(&z);
    }
    if (last) putBe32(data, static_cast<std::uint32_t>(adler));
    appendChunk(file, "IDAT", data.data(), data.size());
  }
  if (o.sharedWindow) deflateEnd(&shared);
  appendChunk(file, "IEND", nullptr, 0);
  return file;
}

// Pixels of a test pattern: smooth gradients with some noise, so that every filter
// and both kinds of deflate block occur.
inline std::vector<std::uint8_t> patternPixels(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                                               std::uint32_t seed = 1) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * channels);
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const std::uint8_t noise = static_cast<std::uint8_t>((state >> 24) & 7);
      std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * channels];
      p[0] = static_cast<std::uint8_t>(x * 3 + y + noise);
      p[1] = static_cast<std::uint8_t>(y * 5 + noise);
      p[2] = static_cast<std::uint8_t>((x ^ y) + seed);
      if (channels == 4) p[3] = static_cast<std::uint8_t>(x % 7 == 0 ? 0 : 255 - (y & 63));
    }
  }
  return pixels;
}

// Where the chunks of a PNG start (their length field), with their types.
struct ChunkAt {
  std::size_t offset = 0;
  std::string type;
  std::uint32_t length = 0;
};

inline std::vector<ChunkAt> chunksOf(const std::vector<std::uint8_t>& png) {
  std::vector<ChunkAt> chunks;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    ChunkAt c;
    c.offset = at;
    c.length = readBe32(&png[at]);
    c.type.assign(reinterpret_cast<const char*>(&png[at + 4]), 4);
    chunks.push_back(c);
    at += 12 + static_cast<std::size_t>(c.length);
  }
  return chunks;
}

// The n-th chunk of the given type (0 first).
inline ChunkAt chunkOf(const std::vector<std::uint8_t>& png, const std::string& type, std::size_t n = 0) {
  for (const ChunkAt& c : chunksOf(png)) {
    if (c.type == type && n-- == 0) return c;
  }
  throw std::invalid_argument("no such chunk: " + type);
}

// Rewrites the CRC of the chunk at `c` to match its contents.
inline void fixCrc(std::vector<std::uint8_t>& png, const ChunkAt& c) {
  const auto crc = static_cast<std::uint32_t>(crc32(0L, &png[c.offset + 4], 4 + c.length));
  const std::size_t at = c.offset + 8 + c.length;
  png[at] = static_cast<std::uint8_t>(crc >> 24);
  png[at + 1] = static_cast<std::uint8_t>(crc >> 16);
  png[at + 2] = static_cast<std::uint8_t>(crc >> 8);
  png[at + 3] = static_cast<std::uint8_t>(crc);
}

}  // namespace tessary::imagetest

#pragma once
// A small PNG writer for test images: any colour type and bit depth, optional
// palette and transparency chunks, image data in stored (uncompressed) deflate
// blocks. Enough to make exact fixtures and hand-made headers. Also a compressed
// stream of zeros, for small files of very large images.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessary::imagetest {

inline std::uint32_t crc32Of(const std::uint8_t* data, std::size_t size,
                             std::uint32_t crc = 0xFFFFFFFFu) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) {
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      }
      t[n] = c;
    }
    return t;
  }();
  for (std::size_t i = 0; i < size; ++i) {
    crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  }
  return crc;
}

inline void appendBe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 24));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

inline void appendPngChunk(std::vector<std::uint8_t>& out, const char* type,
                           const std::vector<std::uint8_t>& data) {
  appendBe32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  appendBe32(out, crc32Of(&out[typeAt], 4 + data.size()) ^ 0xFFFFFFFFu);
}

inline std::vector<std::uint8_t> pngSignature() {
  return {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
}

inline std::vector<std::uint8_t> pngHeaderChunkData(std::uint32_t width, std::uint32_t height,
                                                    std::uint8_t bitDepth, std::uint8_t colorType) {
  std::vector<std::uint8_t> ihdr;
  appendBe32(ihdr, width);
  appendBe32(ihdr, height);
  ihdr.insert(ihdr.end(), {bitDepth, colorType, 0, 0, 0});
  return ihdr;
}

// zlib stream of stored blocks.
inline std::vector<std::uint8_t> zlibStored(const std::vector<std::uint8_t>& raw) {
  std::vector<std::uint8_t> out = {0x78, 0x01};
  std::size_t at = 0;
  do {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
    const bool last = at + n == raw.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<std::uint8_t>(n));
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(~n));
    out.push_back(static_cast<std::uint8_t>(~n >> 8));
    out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
               raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  } while (at < raw.size());
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  appendBe32(out, (b << 16) | a);
  return out;
}

// zlib stream of `size` zero bytes in one block of fixed Huffman codes: a literal 0,
// then copies of 258 bytes from 1 byte back (13 bits each), then literals for the rest.
inline std::vector<std::uint8_t> zlibOfZeros(std::uint64_t size) {
  std::vector<std::uint8_t> out = {0x78, 0x01};
  std::uint32_t pending = 0;
  int used = 0;
  const auto bit = [&](std::uint32_t b) {
    pending |= b << used;
    if (++used == 8) {
      out.push_back(static_cast<std::uint8_t>(pending));
      pending = 0;
      used = 0;
    }
  };
  const auto code = [&](std::uint32_t value, int length) {  // Huffman codes: highest bit first
    for (int i = length - 1; i >= 0; --i) bit((value >> i) & 1);
  };
  bit(1);  // the last block
  bit(1);  // fixed codes (type 1, low bit first)
  bit(0);
  std::uint64_t left = size;
  if (left > 0) {
    code(0x30, 8);  // literal 0
    --left;
  }
  for (; left >= 258; left -= 258) {
    code(0xC5, 8);  // length 258 (code 285)
    code(0, 5);     // distance 1 (code 0)
  }
  for (; left > 0; --left) code(0x30, 8);
  code(0, 7);  // end of block
  if (used != 0) out.push_back(static_cast<std::uint8_t>(pending));
  appendBe32(out, static_cast<std::uint32_t>((size % 65521) << 16 | 1));  // Adler-32 of zeros
  return out;
}

// A PNG of the given header whose samples are all 0, compressed (a few bytes a
// thousand pixels).
inline std::vector<std::uint8_t> zeroPng(std::uint32_t width, std::uint32_t height, std::uint8_t bitDepth,
                                         std::uint8_t colorType) {
  const std::uint64_t channels = colorType == 6 ? 4 : colorType == 2 ? 3 : colorType == 4 ? 2 : 1;
  const std::uint64_t rowBytes = 1 + (std::uint64_t{width} * channels * bitDepth + 7) / 8;
  std::vector<std::uint8_t> out = pngSignature();
  appendPngChunk(out, "IHDR", pngHeaderChunkData(width, height, bitDepth, colorType));
  appendPngChunk(out, "IDAT", zlibOfZeros(rowBytes * height));
  appendPngChunk(out, "IEND", {});
  return out;
}

struct PngSpec {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t bitDepth = 8;
  std::uint8_t colorType = 2;  // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
  std::vector<std::uint8_t> rows;     // packed scan lines without filter bytes, top to bottom
  std::vector<std::uint8_t> palette;  // PLTE: r, g, b triples
  std::vector<std::uint8_t> transparency;  // tRNS
};

inline std::vector<std::uint8_t> encodePng(const PngSpec& spec) {
  std::vector<std::uint8_t> out = pngSignature();
  appendPngChunk(out, "IHDR",
                 pngHeaderChunkData(spec.width, spec.height, spec.bitDepth, spec.colorType));
  if (!spec.palette.empty()) appendPngChunk(out, "PLTE", spec.palette);
  if (!spec.transparency.empty()) appendPngChunk(out, "tRNS", spec.transparency);
  const std::size_t rowBytes = spec.height == 0 ? 0 : spec.rows.size() / spec.height;
  std::vector<std::uint8_t> raw;
  raw.reserve(spec.rows.size() + spec.height);
  for (std::uint32_t y = 0; y < spec.height; ++y) {
    raw.push_back(0);  // filter: none
    raw.insert(raw.end(), spec.rows.begin() + static_cast<std::ptrdiff_t>(y * rowBytes),
               spec.rows.begin() + static_cast<std::ptrdiff_t>((y + 1) * rowBytes));
  }
  appendPngChunk(out, "IDAT", zlibStored(raw));
  appendPngChunk(out, "IEND", {});
  return out;
}

}  // namespace tessary::imagetest

#include "imaging/png_metadata.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace tessary {
namespace {

std::uint32_t readBe32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// The byte after the first zero byte at or after `from`, or `end` when there is none.
const std::uint8_t* afterZero(const std::uint8_t* from, const std::uint8_t* end) {
  const auto* zero = static_cast<const std::uint8_t*>(std::memchr(from, 0, static_cast<std::size_t>(end - from)));
  return zero == nullptr ? end : zero + 1;
}

// Where the compressed stream of a chunk begins, or null when the chunk has none.
//  - zTXt: keyword, 0, compression method, stream;
//  - iCCP: profile name, 0, compression method, stream;
//  - iTXt: keyword, 0, compression flag, compression method, language tag, 0,
//    translated keyword, 0, text (a stream when the flag is not 0).
// The method byte is not checked: a stream is counted whatever method it names.
const std::uint8_t* compressedStream(const char* type, const std::uint8_t* data, const std::uint8_t* end) {
  if (std::memcmp(type, "zTXt", 4) == 0 || std::memcmp(type, "iCCP", 4) == 0) {
    const std::uint8_t* method = afterZero(data, end);
    return end - method >= 1 ? method + 1 : nullptr;
  }
  if (std::memcmp(type, "iTXt", 4) == 0) {
    const std::uint8_t* flag = afterZero(data, end);
    if (end - flag < 2 || flag[0] == 0) return nullptr;
    const std::uint8_t* text = afterZero(afterZero(flag + 2, end), end);
    return text < end ? text : nullptr;
  }
  return nullptr;
}

// Inflates one stream, throwing the output away, and adds what it gives to `total`
// until `total` passes `cap`.
void countInflated(z_stream& stream, std::vector<std::uint8_t>& scratch, const std::uint8_t* data,
                   std::size_t length, std::uint64_t cap, std::uint64_t& total) {
  if (inflateReset(&stream) != Z_OK) throw std::bad_alloc();
  // Chunks are at most 2^31 - 1 bytes long and the data at most 200 MiB: one call's
  // input always fits in uInt.
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(std::min<std::size_t>(length, 0xFFFFFFFFu));
  for (;;) {
    stream.next_out = scratch.data();
    stream.avail_out = static_cast<uInt>(scratch.size());
    const int result = inflate(&stream, Z_NO_FLUSH);
    total += scratch.size() - stream.avail_out;
    if (total > cap) return;
    // The end of the stream, damaged data, a preset dictionary (which no decoder
    // has), or no progress for want of input: the decoder stops there too.
    if (result != Z_OK) return;
  }
}

}  // namespace

std::uint64_t pngInflatedMetadataBytes(const std::uint8_t* bytes, std::size_t count, std::uint64_t cap) {
  static constexpr std::uint8_t kSignature[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  if (bytes == nullptr || count < sizeof kSignature || std::memcmp(bytes, kSignature, sizeof kSignature) != 0) {
    return 0;
  }
  std::vector<std::uint8_t> scratch;
  z_stream stream{};
  bool started = false;
  std::uint64_t total = 0;
  // Every chunk to the end of the data: decoders read the chunks after the image
  // data too. length (4), type (4), data, CRC (4).
  for (std::size_t at = sizeof kSignature; count - at >= 8;) {
    const std::uint64_t length = readBe32(bytes + at);
    const char* type = reinterpret_cast<const char*>(bytes + at + 4);
    const std::uint8_t* data = bytes + at + 8;
    const std::uint8_t* end = data + std::min<std::uint64_t>(length, count - at - 8);
    if (const std::uint8_t* compressed = compressedStream(type, data, end)) {
      if (!started) {
        scratch.resize(64u << 10);
        // 15 + 32: a zlib or a gzip wrapper, whichever the stream has.
        if (inflateInit2(&stream, 15 + 32) != Z_OK) throw std::bad_alloc();
        started = true;
      }
      try {
        countInflated(stream, scratch, compressed, static_cast<std::size_t>(end - compressed), cap, total);
      } catch (...) {
        inflateEnd(&stream);
        throw;
      }
      if (total > cap) break;
    }
    if (std::memcmp(type, "IEND", 4) == 0 || length + 12 > count - at) break;
    at += static_cast<std::size_t>(length) + 12;
  }
  if (started) inflateEnd(&stream);
  return total;
}

}  // namespace tessary

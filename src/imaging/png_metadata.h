#pragma once
// The compressed ancillary chunks of a PNG, measured before the platform's decoder
// sees the file. Wine's PNG decoder inflates every compressed text chunk it meets
// whole, although nothing asks for its text: a 1 MB file whose zTXt inflates to
// 1 GiB cost the load 2.1 GB and 13 s before the pixels. What such chunks inflate to
// is therefore counted here first, by a streaming inflate whose output is thrown
// away as it comes, and a file whose chunks would inflate past a small cap is refused.
//
// Refused, not stripped: stripping would hand the decoder other bytes than the file's
// (the image is known by the digest of the file's bytes), and needs either a second
// copy of the file or a stream spliced around the chunks; the cap is far above the
// metadata of ordinary images (ICC profiles and XMP packets of a few hundred
// kilobytes), so that only files made to inflate are refused.
#include <cstddef>
#include <cstdint>

namespace tessary {

// The most that the compressed ancillary chunks of one PNG may inflate to, all of
// them together.
inline constexpr std::uint64_t kMaxInflatedPngMetadataBytes = 8u << 20;  // 8 MiB

// The bytes that the compressed ancillary chunks of PNG data (zTXt, iTXt marked as
// compressed, iCCP) inflate to together, wherever they lie in the file, counted
// until the sum passes `cap` (the result is then some value above `cap`, not the
// whole sum). A chunk's stream is inflated as far as the chunk's bytes go (a chunk
// cut off by the end of the data counts what it holds), zlib or gzip wrapped, and
// counted up to its end or its first error, as a decoder would inflate it. Data that
// is not a PNG, and chunks too short to hold their fields, count 0. Memory: one
// inflate state and a 64 KiB scratch buffer, whatever the data.
std::uint64_t pngInflatedMetadataBytes(const std::uint8_t* bytes, std::size_t count, std::uint64_t cap);

}  // namespace tessary

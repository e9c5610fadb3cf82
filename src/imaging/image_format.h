#pragma once
// The platform-free rules of image intake: which formats are accepted (by their
// leading bytes alone), the size of source data, and the pixel limits.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace tessary {

enum class ImageFormat { Png, Jpeg, Tiff, Bmp };

inline constexpr std::size_t kMaxImageSourceBytes = 209'715'200;  // 200 MiB
inline constexpr std::uint32_t kMaxImageSide = 20'000;
inline constexpr std::uint64_t kMaxImagePixels = 150'000'000;

// The memory a load may hold at once (its promise): the file, the decoded pixels
// (4 bytes a pixel, at most 600,000,000 bytes) and the platform decoder's own copy of
// the frame at the depth it is stored in. Wine's PNG, JPEG and run-length BMP
// decoders hold the whole frame so, its TIFF decoder one strip or tile (at most the
// frame, or one tile of kTileOverhangAllowanceBytes that overhangs a small image), and
// libtiff beside it the undecoded bytes of that one piece (a part of the file). The
// copy is largest for 16-bit PNGs and TIFFs of four samples, 8 bytes a pixel: a
// 150-megapixel 16-bit RGBA image holds the file, 600 MB of pixels and 1.2 GB in the
// decoder (measured under Wine 8, bench/run_intake_peak_bench.sh: 1,819 MB above the
// start for a 12,247-square 16-bit RGBA PNG, 1,849 MB for the same in one TIFF strip,
// each 1-2 % over the promise: the converter's band of rows and libtiff's undecoded
// strip). This constant bounds any decoder's copy: the frame of the widest layout
// Wine's TIFF decoder reads (four 32-bit samples, 16 bytes a pixel) at the pixel
// limits. Where the machine has less memory than a load needs, the load fails as any
// other does (out of memory), and the previous image stays.
inline constexpr std::uint64_t kMaxDecoderCopyBytes = 2'400'000'000;

// The format named by the leading bytes, or none. Checked in the order PNG, JPEG,
// TIFF (both byte orders), BMP; the first match wins.
std::optional<ImageFormat> imageFormatOf(const std::uint8_t* bytes, std::size_t count);

// Size gate of the decoder: raises ImageError("File size limit") unless
// 1 <= count <= 209,715,200.
void requireDecodableSize(std::size_t count);

// The format of the bytes, or ImageError("Unsupported image format").
ImageFormat requireImageFormat(const std::uint8_t* bytes, std::size_t count);

// True when 1 <= width, height <= 20,000 and width x height <= 150,000,000.
bool withinPixelLimits(std::uint32_t width, std::uint32_t height);

// Raises ImageError("Pixel limit") when the size breaks the limits.
void requirePixelLimits(std::uint32_t width, std::uint32_t height);

struct DeclaredSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// The image size declared in the header of PNG or JPEG data, found the way the
// platform's decoders (libpng and libjpeg underneath) find it, without decoding:
//  - PNG: the IHDR chunk, which must be the first chunk, complete, of length 13;
//  - JPEG: the frame header (SOF0, SOF1, SOF2, SOF9 or SOF10) met first while the
//    markers are walked as libjpeg walks them: bytes other than FF before a marker
//    are skipped, so are FF fill bytes and FF 00 pairs, parameterless markers (TEM,
//    RST0 to RST7) carry no segment, and a segment whose length field is below 2
//    ends right after that field.
// None when the walk cannot find that size: no frame header before the start of
// scan or the end of image, a second start of image, a frame type or marker that
// the decoders refuse, or data that ends first. None also for TIFF (whose first
// directory walkTiffFirstDirectory reads) and BMP. A side of 0 is returned as it is
// written. The walk is never stricter than libpng and libjpeg: wherever they read a
// header, it finds the same size (tests/fuzz/image_header_fuzz.cpp holds it to that).
std::optional<DeclaredSize> declaredImageSize(const std::uint8_t* bytes, std::size_t count,
                                              ImageFormat format);

// The bytes the platform's PNG decoder holds of the whole image, decoded into the
// layout it keeps (Wine's, the widest known): samples of 16 bits stay 16 bits, grey
// with alpha becomes four channels, and a colour key (a tRNS chunk before the image
// data) turns RGB and 16-bit grey into four channels. None when the header chunk
// cannot be found. Within the pixel limits it is at most 1,200,000,000 bytes.
std::optional<std::uint64_t> pngDecoderCopyBytes(const std::uint8_t* bytes, std::size_t count);

// True when an uncompressed BMP (BI_RGB or bit fields) declares a pixel array that
// does not fit between its pixel offset (the file header's, where the decoder reads
// the pixels, even inside the information header) and the end of the data. False for
// other formats, other BMP compressions and BMP headers too short to read (their
// decoder judges those).
bool bmpPixelArrayExceedsData(const std::uint8_t* bytes, std::size_t count);

// The check made before any decoder is created; its refusals are the same for the
// user as the decoder's own (interface string 26).
//  - PNG and JPEG: Wine's decoders decode the whole image while they initialise,
//    before the frame size can be asked for, so the data must show its size first:
//    "Image operation failed" when declaredImageSize finds none (the decoder could
//    not read such data either), "Pixel limit" when the size breaks the limits, or
//    when a PNG's compressed ancillary chunks (zTXt, compressed iTXt, iCCP) would
//    inflate past kMaxInflatedPngMetadataBytes (imaging/png_metadata.h), which the
//    decoder would inflate in full though nothing needs them.
//  - TIFF: the first directory is walked (walkTiffFirstDirectory): "Pixel limit" for
//    a size beyond the limits or a strip or tile whose decoded copy would hold more
//    than a load is promised (TiffRefusal::PieceMemory), "Image operation failed" for
//    any other refusal.
//  - BMP, uncompressed: "Pixel limit" when the header's sides break the limits, and
//    otherwise "Image operation failed" when its pixel array is not in the data.
// For every format the frame size remains the authoritative check.
void requireDeclaredSizeWithinLimits(const std::uint8_t* bytes, std::size_t count,
                                     ImageFormat format);

}  // namespace tessary

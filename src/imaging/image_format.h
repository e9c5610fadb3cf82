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
// the decoders refuse, or data that ends first. None also for TIFF and BMP, whose
// decoders read only their headers when they are created. A side of 0 is returned
// as it is written.
std::optional<DeclaredSize> declaredImageSize(const std::uint8_t* bytes, std::size_t count,
                                              ImageFormat format);

// True when an uncompressed BMP (BI_RGB or bit fields) declares a pixel array
// larger than the data after its two headers. False for other formats, other BMP
// compressions and BMP headers too short to read (their decoder judges those).
bool bmpPixelArrayExceedsData(const std::uint8_t* bytes, std::size_t count);

// The check made before any decoder is created. Wine's PNG and JPEG decoders
// decode the whole image while they initialise, before the frame size can be asked
// for, so PNG and JPEG data must show its size first: raises ImageError("Cannot
// read image") when declaredImageSize finds none, and ImageError("Pixel limit")
// when the size found breaks the limits. An uncompressed BMP is "Pixel limit" when
// its header's sides break the limits and otherwise "Cannot read image" when its
// pixel array cannot be in the data. TIFF data passes; for every format the frame
// size remains the authoritative check.
void requireDeclaredSizeWithinLimits(const std::uint8_t* bytes, std::size_t count,
                                     ImageFormat format);

}  // namespace tessary

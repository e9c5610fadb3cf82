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

// The image size written in the header of PNG data (IHDR, which must come first)
// or JPEG data (the first frame header, SOF0 to SOF15), read without decoding;
// none for the other formats, or when the header is absent, cut short or declares
// a zero side.
std::optional<DeclaredSize> declaredImageSize(const std::uint8_t* bytes, std::size_t count,
                                              ImageFormat format);

// Raises ImageError("Pixel limit") when the header of PNG or JPEG data declares a
// side over 20,000 pixels or more than 150,000,000 pixels. Some decoders (Wine's
// PNG and JPEG decoders) decode the whole image while they initialise, before the
// frame size can be asked for, so a hostile header has to be refused before the
// decoder sees it. The frame size remains the authoritative check.
void requireDeclaredSizeWithinLimits(const std::uint8_t* bytes, std::size_t count,
                                     ImageFormat format);

}  // namespace tessary

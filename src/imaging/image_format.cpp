#include "imaging/image_format.h"

#include <cstring>

#include "imaging/pixels.h"

namespace tessary {
namespace {

bool startsWith(const std::uint8_t* bytes, std::size_t count, const std::uint8_t* prefix,
                std::size_t prefixLength) {
  return count >= prefixLength && std::memcmp(bytes, prefix, prefixLength) == 0;
}

}  // namespace

std::optional<ImageFormat> imageFormatOf(const std::uint8_t* bytes, std::size_t count) {
  static constexpr std::uint8_t kPng[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  static constexpr std::uint8_t kJpeg[] = {0xFF, 0xD8, 0xFF};
  static constexpr std::uint8_t kTiffLittle[] = {0x49, 0x49, 0x2A, 0x00};
  static constexpr std::uint8_t kTiffBig[] = {0x4D, 0x4D, 0x00, 0x2A};
  static constexpr std::uint8_t kBmp[] = {0x42, 0x4D};
  if (bytes == nullptr) {
    return std::nullopt;
  }
  if (startsWith(bytes, count, kPng, sizeof kPng)) return ImageFormat::Png;
  if (startsWith(bytes, count, kJpeg, sizeof kJpeg)) return ImageFormat::Jpeg;
  if (startsWith(bytes, count, kTiffLittle, sizeof kTiffLittle) ||
      startsWith(bytes, count, kTiffBig, sizeof kTiffBig)) {
    return ImageFormat::Tiff;
  }
  if (startsWith(bytes, count, kBmp, sizeof kBmp)) return ImageFormat::Bmp;
  return std::nullopt;
}

void requireDecodableSize(std::size_t count) {
  if (count < 1 || count > kMaxImageSourceBytes) {
    throw ImageError("File size limit");
  }
}

ImageFormat requireImageFormat(const std::uint8_t* bytes, std::size_t count) {
  // Fewer than two bytes, or an "I" / "M" that does not open a TIFF header, name no
  // format; the table below refuses them like anything else it does not know.
  const std::optional<ImageFormat> format = imageFormatOf(bytes, count);
  if (!format) {
    throw ImageError("Unsupported image format");
  }
  return *format;
}

bool withinPixelLimits(std::uint32_t width, std::uint32_t height) {
  if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide) {
    return false;
  }
  return static_cast<std::uint64_t>(width) * height <= kMaxImagePixels;
}

void requirePixelLimits(std::uint32_t width, std::uint32_t height) {
  if (!withinPixelLimits(width, height)) {
    throw ImageError("Pixel limit");
  }
}

namespace {

std::uint32_t readBe32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

std::uint32_t readBe16(const std::uint8_t* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }

std::optional<DeclaredSize> pngDeclaredSize(const std::uint8_t* bytes, std::size_t count) {
  // Signature (8), then the IHDR chunk: length 13, type, width, height.
  static constexpr std::uint8_t kHeaderChunk[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  if (count < 24 || std::memcmp(bytes + 8, kHeaderChunk, sizeof kHeaderChunk) != 0) {
    return std::nullopt;
  }
  return DeclaredSize{readBe32(bytes + 16), readBe32(bytes + 20)};
}

std::optional<DeclaredSize> jpegDeclaredSize(const std::uint8_t* bytes, std::size_t count) {
  std::size_t at = 2;  // after the start-of-image marker
  while (at + 1 < count) {
    if (bytes[at] != 0xFF) {
      return std::nullopt;
    }
    const std::uint8_t marker = bytes[at + 1];
    if (marker == 0xFF) {
      ++at;  // fill byte
      continue;
    }
    at += 2;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
      continue;  // markers without a segment
    }
    if (marker == 0xD9 || marker == 0xDA || at + 2 > count) {
      return std::nullopt;  // end of image or start of scan before any frame header
    }
    const std::size_t length = readBe16(bytes + at);
    const bool frameHeader =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frameHeader) {
      // length (2), precision (1), height (2), width (2)
      if (length < 7 || at + 7 > count) {
        return std::nullopt;
      }
      return DeclaredSize{readBe16(bytes + at + 5), readBe16(bytes + at + 3)};
    }
    if (length < 2) {
      return std::nullopt;
    }
    at += length;
  }
  return std::nullopt;
}

}  // namespace

std::optional<DeclaredSize> declaredImageSize(const std::uint8_t* bytes, std::size_t count,
                                              ImageFormat format) {
  std::optional<DeclaredSize> size;
  if (format == ImageFormat::Png) {
    size = pngDeclaredSize(bytes, count);
  } else if (format == ImageFormat::Jpeg) {
    size = jpegDeclaredSize(bytes, count);
  }
  if (size && (size->width == 0 || size->height == 0)) {
    return std::nullopt;  // left to the decoder (a JPEG height may come later)
  }
  return size;
}

void requireDeclaredSizeWithinLimits(const std::uint8_t* bytes, std::size_t count,
                                     ImageFormat format) {
  if (const auto size = declaredImageSize(bytes, count, format)) {
    requirePixelLimits(size->width, size->height);
  }
}

}  // namespace tessary

#include "imaging/image_format.h"

#include <algorithm>
#include <cstring>

#include "imaging/pixels.h"
#include "imaging/png_metadata.h"
#include "imaging/tiff_directory.h"

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

std::uint32_t readLe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

std::uint32_t readLe16(const std::uint8_t* p) { return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8); }

std::optional<DeclaredSize> pngDeclaredSize(const std::uint8_t* bytes, std::size_t count) {
  // Signature (8), then the whole IHDR chunk: length 13, type, width, height, five
  // one-byte fields and the CRC.
  static constexpr std::uint8_t kHeaderChunk[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  constexpr std::size_t kThroughHeaderChunk = 8 + 8 + 13 + 4;
  if (count < kThroughHeaderChunk || std::memcmp(bytes + 8, kHeaderChunk, sizeof kHeaderChunk) != 0) {
    return std::nullopt;
  }
  return DeclaredSize{readBe32(bytes + 16), readBe32(bytes + 20)};
}

enum class JpegMarkerKind { Frame, Segment, Parameterless, Refused };

JpegMarkerKind jpegMarkerKind(std::uint8_t marker) {
  switch (marker) {
    case 0xC0: case 0xC1: case 0xC2: case 0xC9: case 0xCA:  // frame types the decoders support
      return JpegMarkerKind::Frame;
    case 0xC4:                     // Huffman tables
    case 0xCC:                     // arithmetic coding conditioning
    case 0xDB:                     // quantisation tables
    case 0xDC:                     // number of lines
    case 0xDD:                     // restart interval
    case 0xFE:                     // comment
      return JpegMarkerKind::Segment;
    case 0x01:                     // TEM
    case 0xD0: case 0xD1: case 0xD2: case 0xD3: case 0xD4: case 0xD5: case 0xD6: case 0xD7:
      return JpegMarkerKind::Parameterless;
    default:
      break;
  }
  if (marker >= 0xE0 && marker <= 0xEF) {
    return JpegMarkerKind::Segment;  // application segments
  }
  // A second start of image, the start of scan or the end of image before any frame
  // header, the frame types the decoders refuse (lossless, hierarchical and the
  // rest) and unknown markers: the decoders stop with an error at every one of them.
  return JpegMarkerKind::Refused;
}

std::optional<DeclaredSize> jpegDeclaredSize(const std::uint8_t* bytes, std::size_t count) {
  std::size_t at = 2;  // after the start-of-image marker
  for (;;) {
    // The next marker: FF, any FF fill bytes, then a code other than 00. Other bytes
    // before it, and FF 00 pairs, are passed over as libjpeg passes over them.
    std::uint8_t marker = 0;
    while (marker == 0) {
      while (at < count && bytes[at] != 0xFF) ++at;
      while (at < count && bytes[at] == 0xFF) ++at;
      if (at >= count) {
        return std::nullopt;
      }
      marker = bytes[at++];
    }
    switch (jpegMarkerKind(marker)) {
      case JpegMarkerKind::Parameterless:
        break;
      case JpegMarkerKind::Refused:
        return std::nullopt;
      case JpegMarkerKind::Frame:
        // length (2), precision (1), height (2), width (2); the decoder reads these
        // whatever the length says.
        if (count - at < 7) {
          return std::nullopt;
        }
        return DeclaredSize{readBe16(bytes + at + 5), readBe16(bytes + at + 3)};
      case JpegMarkerKind::Segment: {
        if (count - at < 2) {
          return std::nullopt;
        }
        const std::size_t length = readBe16(bytes + at);
        // A length of 0 or 1 skips nothing beyond the length field itself.
        at += length < 2 ? 2 : length;
        break;
      }
    }
  }
}

// The sides and the pixel array of an uncompressed BMP, as its headers declare them.
struct BmpLayout {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::uint64_t pixelBytes = 0;   // saturates at UINT64_MAX
  std::uint64_t pixelOffset = 0;  // where the decoder reads the pixel array
};

// None when the header is not one that is read here: too short, another header
// size, a compression other than none or bit fields, or a side or bit count of 0.
std::optional<BmpLayout> uncompressedBmpLayout(const std::uint8_t* bytes, std::size_t count) {
  constexpr std::size_t kFileHeader = 14;
  if (count < kFileHeader + 4) {
    return std::nullopt;
  }
  const std::uint32_t infoSize = readLe32(bytes + kFileHeader);
  BmpLayout layout;
  std::uint32_t bitsPerPixel = 0;
  if (infoSize == 12) {  // BITMAPCOREHEADER: 16-bit sides, no compression
    if (count < kFileHeader + 12) return std::nullopt;
    layout.width = readLe16(bytes + 18);
    layout.height = readLe16(bytes + 20);
    bitsPerPixel = readLe16(bytes + 24);
  } else if (infoSize >= 40) {  // BITMAPINFOHEADER and its later versions
    if (count < kFileHeader + 40) return std::nullopt;
    const auto signedWidth = static_cast<std::int32_t>(readLe32(bytes + 18));
    const auto signedHeight = static_cast<std::int32_t>(readLe32(bytes + 22));
    bitsPerPixel = readLe16(bytes + 28);
    const std::uint32_t compression = readLe32(bytes + 30);
    constexpr std::uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;
    if (compression != kRgb && compression != kBitFields && compression != kAlphaBitFields) {
      return std::nullopt;  // run-length, JPEG or PNG data: the decoder judges it
    }
    if (signedWidth <= 0) return std::nullopt;  // refused by the frame size check
    layout.width = static_cast<std::uint64_t>(signedWidth);
    // A negative height stores the rows top-down.
    layout.height = signedHeight < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(std::int64_t{signedHeight})
                                     : static_cast<std::uint64_t>(signedHeight);
  } else {
    return std::nullopt;
  }
  if (bitsPerPixel == 0 || layout.width == 0 || layout.height == 0) {
    return std::nullopt;
  }
  // The decoder reads the pixels at the file header's offset, wherever it points
  // (even back into the information header), not after the headers.
  layout.pixelOffset = readLe32(bytes + 10);
  // Rows are padded to four bytes. width * bits stays below 2^48; the product
  // saturates instead of wrapping.
  const std::uint64_t rowBytes = (layout.width * bitsPerPixel + 31) / 32 * 4;
  layout.pixelBytes = layout.height > UINT64_MAX / rowBytes ? UINT64_MAX : rowBytes * layout.height;
  return layout;
}

bool exceedsData(const BmpLayout& layout, std::size_t count) {
  return layout.pixelOffset > count || layout.pixelBytes > count - layout.pixelOffset;
}

}  // namespace

std::optional<DeclaredSize> declaredImageSize(const std::uint8_t* bytes, std::size_t count,
                                              ImageFormat format) {
  if (format == ImageFormat::Png) {
    return pngDeclaredSize(bytes, count);
  }
  if (format == ImageFormat::Jpeg && count >= 2) {
    return jpegDeclaredSize(bytes, count);
  }
  return std::nullopt;
}

bool bmpPixelArrayExceedsData(const std::uint8_t* bytes, std::size_t count) {
  if (imageFormatOf(bytes, count) != ImageFormat::Bmp) {
    return false;
  }
  const std::optional<BmpLayout> layout = uncompressedBmpLayout(bytes, count);
  return layout && exceedsData(*layout, count);
}

std::optional<std::uint64_t> pngDecoderCopyBytes(const std::uint8_t* bytes, std::size_t count) {
  const std::optional<DeclaredSize> size = pngDeclaredSize(bytes, count);
  if (!size) {
    return std::nullopt;
  }
  const std::uint64_t depth = bytes[24];
  const std::uint32_t colourType = bytes[25];
  // A colour key: a tRNS chunk among the chunks before the first image data, found as
  // the decoder reads them (length, type, data, CRC).
  bool colourKey = false;
  for (std::size_t at = 33; count - at >= 8;) {
    const std::uint64_t length = readBe32(bytes + at);
    if (std::memcmp(bytes + at + 4, "IDAT", 4) == 0) break;
    if (std::memcmp(bytes + at + 4, "tRNS", 4) == 0) {
      colourKey = true;
      break;
    }
    if (length + 12 > count - at) break;
    at += static_cast<std::size_t>(length) + 12;
  }
  std::uint64_t channels = 1;
  switch (colourType) {
    case 0: channels = colourKey && depth == 16 ? 4 : 1; break;  // grey
    case 2: channels = colourKey ? 4 : 3; break;                 // RGB
    case 4: case 6: channels = 4; break;                         // grey or RGB with alpha
    default: channels = 1; break;                                // palette, or refused by the decoder
  }
  const std::uint64_t rowBytes = (std::uint64_t{size->width} * channels * depth + 7) / 8;
  return rowBytes * size->height;
}

void requireDeclaredSizeWithinLimits(const std::uint8_t* bytes, std::size_t count,
                                     ImageFormat format) {
  if (format == ImageFormat::Png || format == ImageFormat::Jpeg) {
    const std::optional<DeclaredSize> size = declaredImageSize(bytes, count, format);
    if (!size) {
      // The decoder could not read such data either.
      throw ImageError("Image operation failed");
    }
    requirePixelLimits(size->width, size->height);
    // Text and profiles that would inflate past the cap: the decoder would hold
    // them whole beside the image (the image's own copy is within the promise for
    // every layout: pngDecoderCopyBytes is at most 8 bytes a pixel).
    if (format == ImageFormat::Png &&
        pngInflatedMetadataBytes(bytes, count, kMaxInflatedPngMetadataBytes) > kMaxInflatedPngMetadataBytes) {
      throw ImageError("Pixel limit");
    }
  } else if (format == ImageFormat::Tiff) {
    const TiffDirectoryWalk walk = walkTiffFirstDirectory(bytes, count);
    if (walk.refusal == TiffRefusal::PixelLimits || walk.refusal == TiffRefusal::PieceMemory) {
      throw ImageError("Pixel limit");
    }
    if (walk.refusal != TiffRefusal::None) {
      throw ImageError("Image operation failed");
    }
  } else if (format == ImageFormat::Bmp) {
    if (const std::optional<BmpLayout> layout = uncompressedBmpLayout(bytes, count)) {
      // Sides over the limits get the answer the frame size would give; within
      // them, a pixel array that is not in the data ends here, before the decoder
      // asks for memory to read it into.
      constexpr std::uint64_t kPast = std::uint64_t{kMaxImageSide} + 1;
      requirePixelLimits(static_cast<std::uint32_t>(std::min(layout->width, kPast)),
                         static_cast<std::uint32_t>(std::min(layout->height, kPast)));
      if (exceedsData(*layout, count)) {
        throw ImageError("Image operation failed");
      }
    }
  }
}

}  // namespace tessary

// The header walk that runs before any image decoder is created, compared with the
// reference readers the platform's decoders are built on (libjpeg, libpng): wherever
// a reference reader accepts a header and reports a size, the walk reports the same
// size or refuses the data. The walk, the pre-decoder check and the BMP pixel-array
// check must also hold up on any bytes at all.
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "imaging/image_format.h"
#include "imaging/pixels.h"

namespace {

using tessary::DeclaredSize;
using tessary::ImageFormat;

struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void jpegFails(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1); }
void jpegQuiet(j_common_ptr, int) {}
void jpegSilent(j_common_ptr) {}

// The size libjpeg reads from the header, or none when it refuses the header.
std::optional<DeclaredSize> libjpegSize(const std::uint8_t* data, std::size_t size) {
  jpeg_decompress_struct info;
  JpegErrors errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = jpegFails;
  errors.manager.emit_message = jpegQuiet;
  errors.manager.output_message = jpegSilent;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&info);
    return std::nullopt;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  std::optional<DeclaredSize> result;
  if (jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK) {
    result = DeclaredSize{info.image_width, info.image_height};
  }
  jpeg_destroy_decompress(&info);
  return result;
}

struct PngInput {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at;
};

void pngRead(png_structp png, png_bytep out, png_size_t count) {
  auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
  if (input->size - input->at < count) png_error(png, "end of data");
  std::memcpy(out, input->data + input->at, count);
  input->at += count;
}
void pngFails(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngQuiet(png_structp, png_const_charp) {}

// The size libpng reads from the header (everything up to the first image data), or
// none when it refuses the header.
std::optional<DeclaredSize> libpngSize(const std::uint8_t* data, std::size_t size) {
  // libpng reads every chunk before the first image data whole (and clears a buffer
  // of the declared length first): data that cannot hold those chunks is refused
  // here as libpng would refuse it at its end, without the gigabyte buffer.
  for (std::size_t at = 8;;) {
    if (size - at < 8) return std::nullopt;
    const std::size_t length = (std::size_t{data[at]} << 24) | (std::size_t{data[at + 1]} << 16) |
                               (std::size_t{data[at + 2]} << 8) | data[at + 3];
    if (std::memcmp(data + at + 4, "IDAT", 4) == 0) break;
    if (length > size - at - 8 || size - at - 8 - length < 4) return std::nullopt;
    at += 12 + length;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFails, pngQuiet);
  if (png == nullptr) std::abort();
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) std::abort();
  PngInput input{data, size, 0};
  std::optional<DeclaredSize> result;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_set_read_fn(png, &input, pngRead);
    png_read_info(png, info);
    result = DeclaredSize{png_get_image_width(png, info), png_get_image_height(png, info)};
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return result;
}

void requireAgreement(const char* reader, const std::optional<DeclaredSize>& reference,
                      const std::optional<DeclaredSize>& walk) {
  if (reference && walk && (reference->width != walk->width || reference->height != walk->height)) {
    std::fprintf(stderr, "%s reads %u x %u, the walk %u x %u\n", reader, reference->width,
                 reference->height, walk->width, walk->height);
    std::abort();
  }
}

// The check before the decoder: passes, or refuses with one of its two texts.
void requireKnownOutcome(const std::uint8_t* data, std::size_t size, ImageFormat format) {
  try {
    tessary::requireDeclaredSizeWithinLimits(data, size, format);
    if (format == ImageFormat::Png || format == ImageFormat::Jpeg) {
      const auto size2 = tessary::declaredImageSize(data, size, format);
      if (!size2 || !tessary::withinPixelLimits(size2->width, size2->height)) std::abort();
    }
  } catch (const tessary::ImageError& error) {
    if (std::strcmp(error.what(), "Pixel limit") != 0 && std::strcmp(error.what(), "Cannot read image") != 0) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Data that already opens with a signature is taken as it is; otherwise the first
  // byte chooses a signature to put in front of the rest, so that most runs reach
  // the marker and chunk walks.
  std::vector<std::uint8_t> bytes(data, data + size);
  if (size > 0 && !tessary::imageFormatOf(data, size)) {
    static constexpr std::uint8_t kPng[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    static constexpr std::uint8_t kJpeg[] = {0xFF, 0xD8};
    static constexpr std::uint8_t kBmp[] = {'B', 'M'};
    bytes.erase(bytes.begin());
    switch (data[0] % 3) {
      case 0: bytes.insert(bytes.begin(), std::begin(kJpeg), std::end(kJpeg)); break;
      case 1: bytes.insert(bytes.begin(), std::begin(kPng), std::end(kPng)); break;
      default: bytes.insert(bytes.begin(), std::begin(kBmp), std::end(kBmp)); break;
    }
  }
  const std::uint8_t* p = bytes.data();
  const std::size_t n = bytes.size();

  if (n >= 2 && p[0] == 0xFF && p[1] == 0xD8) {
    requireAgreement("libjpeg", libjpegSize(p, n), tessary::declaredImageSize(p, n, ImageFormat::Jpeg));
  }
  if (n >= 8 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0) {
    requireAgreement("libpng", libpngSize(p, n), tessary::declaredImageSize(p, n, ImageFormat::Png));
  }
  if (const auto format = tessary::imageFormatOf(p, n)) {
    requireKnownOutcome(p, n, *format);
  }
  // Must simply hold up, whatever the bytes.
  (void)tessary::bmpPixelArrayExceedsData(p, n);
  (void)tessary::declaredImageSize(p, n, ImageFormat::Tiff);
  return 0;
}

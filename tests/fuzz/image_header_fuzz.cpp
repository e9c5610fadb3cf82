// The header walks that run before any image decoder is created, compared with the
// reference readers the platform's decoders are built on (libjpeg, libpng, libtiff):
//  - wherever a reference reader accepts a header and reports a size, the walk reports
//    the same size or refuses the data;
//  - the PNG and JPEG walks are never stricter than libpng and libjpeg: a header that
//    they read and the walk refuses is a finding;
//  - the TIFF walk may refuse a first directory that libtiff reads only for one of its
//    reasons written down as stricter (TiffRefusal in imaging/tiff_directory.h); a
//    refusal for a reason libtiff shares is a finding. With TESSARY_FUZZ_STRICTER set
//    in the environment, the run ends by printing how many inputs libtiff read and the
//    walk refused, by reason ("stricter: TIFF <reason> <inputs>"), how many both read
//    ("agreed: TIFF <inputs>") and how many the walk let through that libtiff refused
//    ("looser: TIFF <inputs>"; the decoder refuses those in its turn), for scripts/fuzz.sh.
// The walks, the pre-decoder check, the BMP pixel-array check and the count of what a
// PNG's compressed text and profiles inflate to must also hold up on any bytes at all;
// that count never stops far past its cap.
#include <algorithm>
#include <csetjmp>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "imaging/image_format.h"
#include "imaging/pixels.h"
#include "imaging/png_metadata.h"
#include "imaging/tiff_directory.h"

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

// libtiff reading from memory through its client procedures, without mapping, as the
// platform's TIFF decoder reads from a stream.
struct TiffInput {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at;
};

tmsize_t tiffRead(thandle_t handle, void* out, tmsize_t count) {
  auto* input = static_cast<TiffInput*>(handle);
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), input->size - std::min(input->at, input->size));
  if (n > 0) std::memcpy(out, input->data + input->at, n);
  input->at += n;
  return static_cast<tmsize_t>(n);
}
tmsize_t tiffWrite(thandle_t, void*, tmsize_t) { return 0; }
toff_t tiffSeek(thandle_t handle, toff_t offset, int whence) {
  auto* input = static_cast<TiffInput*>(handle);
  std::uint64_t base = whence == SEEK_CUR ? input->at : whence == SEEK_END ? input->size : 0;
  input->at = static_cast<std::size_t>(base + offset);
  return input->at;
}
int tiffClose(thandle_t) { return 0; }
toff_t tiffSize(thandle_t handle) { return static_cast<TiffInput*>(handle)->size; }
int tiffMap(thandle_t, void**, toff_t*) { return 0; }
void tiffUnmap(thandle_t, void*, toff_t) {}
int tiffQuiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// The size libtiff reads from the first directory, or none when it refuses it.
std::optional<DeclaredSize> libtiffSize(const std::uint8_t* data, std::size_t size) {
  static TIFFOpenOptions* options = [] {
    TIFFOpenOptions* o = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(o, 64 << 20);
    TIFFOpenOptionsSetErrorHandlerExtR(o, tiffQuiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(o, tiffQuiet, nullptr);
    return o;
  }();
  TiffInput input{data, size, 0};
  TIFF* tiff = TIFFClientOpenExt("fuzz", "r", &input, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize,
                                 tiffMap, tiffUnmap, options);
  if (tiff == nullptr) return std::nullopt;
  std::uint32_t width = 0, height = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFClose(tiff);
  return DeclaredSize{width, height};
}

void requireSameSize(const char* reader, const std::optional<DeclaredSize>& reference,
                     const std::optional<DeclaredSize>& walk) {
  if (reference && walk && (reference->width != walk->width || reference->height != walk->height)) {
    std::fprintf(stderr, "%s reads %u x %u, the walk %u x %u\n", reader, reference->width,
                 reference->height, walk->width, walk->height);
    std::abort();
  }
}

// The PNG and JPEG walks: the same size, and never stricter than the reference reader.
void requireAgreement(const char* reader, const std::optional<DeclaredSize>& reference,
                      const std::optional<DeclaredSize>& walk) {
  requireSameSize(reader, reference, walk);
  if (reference && !walk) {
    std::fprintf(stderr, "%s reads %u x %u, the walk refuses\n", reader, reference->width, reference->height);
    std::abort();
  }
}

// Inputs by outcome, printed when the run ends (see the top of the file).
struct TiffTally {
  std::uint64_t stricter[static_cast<int>(tessary::TiffRefusal::ReducedImage) + 1] = {};
  std::uint64_t agreed = 0;
  std::uint64_t looser = 0;
  ~TiffTally() {
    if (std::getenv("TESSARY_FUZZ_STRICTER") == nullptr) return;
    std::fprintf(stderr, "agreed: TIFF %llu\n", static_cast<unsigned long long>(agreed));
    for (int i = 0; i <= static_cast<int>(tessary::TiffRefusal::ReducedImage); ++i) {
      if (stricter[i] != 0) {
        std::fprintf(stderr, "stricter: TIFF %s %llu\n", tessary::tiffRefusalName(static_cast<tessary::TiffRefusal>(i)),
                     static_cast<unsigned long long>(stricter[i]));
      }
    }
    std::fprintf(stderr, "looser: TIFF %llu\n", static_cast<unsigned long long>(looser));
  }
};
TiffTally tiffTally;

void compareTiff(const std::uint8_t* data, std::size_t size) {
  const std::optional<DeclaredSize> reference = libtiffSize(data, size);
  const tessary::TiffDirectoryWalk walk = tessary::walkTiffFirstDirectory(data, size);
  requireSameSize("libtiff", reference, walk.size);
  if (!reference && walk.refusal == tessary::TiffRefusal::None) {
    ++tiffTally.looser;  // the decoder refuses it in its turn
  }
  if (reference && walk.refusal == tessary::TiffRefusal::None) {
    ++tiffTally.agreed;
  }
  if (!reference || walk.refusal == tessary::TiffRefusal::None) {
    return;
  }
  const char* reason = tessary::tiffRefusalName(walk.refusal);
  if (tessary::libtiffRefusesToo(walk.refusal)) {
    std::fprintf(stderr, "libtiff reads %u x %u, the walk refuses it for a reason libtiff shares: %s\n",
                 reference->width, reference->height, reason);
    std::abort();
  }
  ++tiffTally.stricter[static_cast<int>(walk.refusal)];
}

// The check before the decoder: passes only what the walks let through, or refuses
// with one of its two texts.
void requireKnownOutcome(const std::uint8_t* data, std::size_t size, ImageFormat format) {
  try {
    tessary::requireDeclaredSizeWithinLimits(data, size, format);
    if (format == ImageFormat::Png || format == ImageFormat::Jpeg) {
      const auto size2 = tessary::declaredImageSize(data, size, format);
      if (!size2 || !tessary::withinPixelLimits(size2->width, size2->height)) std::abort();
    }
    if (format == ImageFormat::Tiff &&
        tessary::walkTiffFirstDirectory(data, size).refusal != tessary::TiffRefusal::None) {
      std::abort();
    }
  } catch (const tessary::ImageError& error) {
    if (std::strcmp(error.what(), "Pixel limit") != 0 && std::strcmp(error.what(), "Image operation failed") != 0) {
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
    static constexpr std::uint8_t kTiffLittle[] = {'I', 'I', 0x2A, 0x00};
    static constexpr std::uint8_t kTiffBig[] = {'M', 'M', 0x00, 0x2A};
    bytes.erase(bytes.begin());
    switch (data[0] % 5) {
      case 0: bytes.insert(bytes.begin(), std::begin(kJpeg), std::end(kJpeg)); break;
      case 1: bytes.insert(bytes.begin(), std::begin(kPng), std::end(kPng)); break;
      case 2: bytes.insert(bytes.begin(), std::begin(kBmp), std::end(kBmp)); break;
      case 3: bytes.insert(bytes.begin(), std::begin(kTiffLittle), std::end(kTiffLittle)); break;
      default: bytes.insert(bytes.begin(), std::begin(kTiffBig), std::end(kTiffBig)); break;
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
  if (tessary::imageFormatOf(p, n) == ImageFormat::Tiff) {
    compareTiff(p, n);
  }
  if (const auto format = tessary::imageFormatOf(p, n)) {
    requireKnownOutcome(p, n, *format);
  }
  // Must simply hold up, whatever the bytes.
  (void)tessary::bmpPixelArrayExceedsData(p, n);
  (void)tessary::declaredImageSize(p, n, ImageFormat::Tiff);
  (void)tessary::pngDecoderCopyBytes(p, n);
  // A small cap, so that the fuzzer reaches the stop; one scratch buffer past it at most.
  constexpr std::uint64_t kCap = 1000;
  if (tessary::pngInflatedMetadataBytes(p, n, kCap) > kCap + (64u << 10)) std::abort();
  return 0;
}

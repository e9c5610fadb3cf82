#pragma once
// libpng as the reference reader of PNG data (native builds only): the pixels it
// decodes, as straight-alpha BGRA (alpha 255 for images without alpha), or none when
// it refuses the data. Only 8-bit RGB and RGBA are converted; anything else is
// refused here too.
#include <png.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace tessary::imagetest {

struct LibpngImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> bgra;
};

namespace detail {
struct LibpngInput {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at;
};
inline void libpngRead(png_structp png, png_bytep out, png_size_t count) {
  auto* input = static_cast<LibpngInput*>(png_get_io_ptr(png));
  if (input->size - input->at < count) png_error(png, "end of data");
  std::memcpy(out, input->data + input->at, count);
  input->at += count;
}
inline void libpngFails(png_structp png, png_const_charp) { png_longjmp(png, 1); }
inline void libpngQuiet(png_structp, png_const_charp) {}
}  // namespace detail

// `maxPixels` keeps a hostile header from making the reference allocate gigabytes.
inline std::optional<LibpngImage> libpngBgra(const std::uint8_t* data, std::size_t size,
                                             std::uint64_t maxPixels = 200'000'000) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, detail::libpngFails, detail::libpngQuiet);
  if (png == nullptr) std::abort();
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) std::abort();
  detail::LibpngInput input{data, size, 0};
  // Declared before setjmp, so that a jump back leaves them usable.
  LibpngImage image;
  std::vector<png_bytep> rows;
  bool ok = false;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_set_read_fn(png, &input, detail::libpngRead);
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int depth = png_get_bit_depth(png, info);
    const int colour = png_get_color_type(png, info);
    if (depth == 8 && (colour == PNG_COLOR_TYPE_RGB || colour == PNG_COLOR_TYPE_RGB_ALPHA) &&
        static_cast<std::uint64_t>(width) * height <= maxPixels) {
      png_set_bgr(png);
      if (colour == PNG_COLOR_TYPE_RGB) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
      png_read_update_info(png, info);
      image.width = width;
      image.height = height;
      image.bgra.resize(static_cast<std::size_t>(width) * height * 4);
      rows.resize(height);
      for (png_uint_32 y = 0; y < height; ++y) rows[y] = image.bgra.data() + static_cast<std::size_t>(y) * width * 4;
      png_read_image(png, rows.data());
      png_read_end(png, nullptr);
      ok = true;
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  if (!ok) return std::nullopt;
  return image;
}

}  // namespace tessary::imagetest

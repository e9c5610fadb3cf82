#pragma once
// The one in-memory image: straight-alpha 32-bit BGRA pixels of the first frame,
// the SHA-256 of the undecoded source bytes, and a drawing bitmap over the same
// memory. Built once, then shared read-only (std::shared_ptr<const Pixels>).
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace tessary {

// An allocator whose new elements are left as the memory holds them instead of
// being zeroed. Pixel buffers are written whole by whoever fills them (a decoder, a
// reduction): zeroing them first would be one more pass over hundreds of megabytes,
// and would touch every fresh page on one thread before the threads that fill the
// buffer could.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
  using value_type = T;
  template <typename U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  UninitialisedAllocator() noexcept = default;
  template <typename U>
  UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;  // default-initialised: no value written
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// Bytes of pixels. resize() leaves new bytes unset (resize(n, 0) or assign(n, 0)
// clears them); everything else is std::vector's.
using PixelBytes = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

// Raised by the image intake with its fixed internal texts ("Pixel limit", ...).
struct ImageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A reduced copy of the pixels, for drawing at small zooms only. Never saved,
// never exported, never hashed.
struct DisplayLevel {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  PixelBytes bgra;
  std::shared_ptr<void> bitmap;  // platform drawing bitmap over `bgra`; declared last, destroyed first
};

struct Pixels {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  PixelBytes bgra;                 // width * height * 4 bytes, rows top to bottom, no gaps
  std::string sha256;              // 64 lower-case hex characters of the source bytes
  std::vector<DisplayLevel> displayLevels;  // each half the previous, largest first
  // Platform drawing bitmap whose scan lines are `bgra` itself. Declared last so it
  // is destroyed first and never outlives the memory it wraps.
  std::shared_ptr<void> bitmap;
};

}  // namespace tessary

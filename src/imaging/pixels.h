#pragma once
// The one in-memory image: straight-alpha 32-bit BGRA pixels of the first frame,
// the SHA-256 of the undecoded source bytes, and a drawing bitmap over the same
// memory. Built once, then shared read-only (std::shared_ptr<const Pixels>).
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessary {

// Raised by the image intake with its fixed internal texts ("Pixel limit", ...).
struct ImageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A reduced copy of the pixels, for drawing at small zooms only. Never saved,
// never exported, never hashed.
struct DisplayLevel {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> bgra;
  std::shared_ptr<void> bitmap;  // platform drawing bitmap over `bgra`; declared last, destroyed first
};

struct Pixels {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> bgra;  // width * height * 4 bytes, rows top to bottom, no gaps
  std::string sha256;              // 64 lower-case hex characters of the source bytes
  std::vector<DisplayLevel> displayLevels;  // each half the previous, largest first
  // Platform drawing bitmap whose scan lines are `bgra` itself. Declared last so it
  // is destroyed first and never outlives the memory it wraps.
  std::shared_ptr<void> bitmap;
};

}  // namespace tessary

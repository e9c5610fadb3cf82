#include "imaging/plate_decoder_win.h"

#include <windows.h>

#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "imaging/com_support_win.h"
#include "imaging/display_levels.h"
#include "imaging/image_decoder_win.h"
#include "imaging/image_format.h"
#include "imaging/plate_resource_win.h"
#include "imaging/sha256_win.h"

namespace tessary {

std::shared_ptr<Pixels> decodePlateBytes(const std::uint8_t* bytes, std::size_t count,
                                         const std::string* knownDigest, const PngWorkerStart& start) {
  std::optional<SegmentedPng> png;
  if (count >= 1 && count <= kMaxImageSourceBytes) {
    png = findPngSegments(bytes, count);
  }
  // Outside the limits the ordinary decoder gives the failure, before any pixel
  // memory exists.
  if (!png || !withinPixelLimits(png->width, png->height)) {
    return decodeImage(bytes, count);
  }

  // The digest needs only the bytes: it is computed beside the decode.
  std::optional<BackgroundDigest> digest;
  if (knownDigest == nullptr) {
    digest.emplace(bytes, count);
  }

  auto pixels = std::make_shared<Pixels>();
  std::optional<FirstDisplayLevelAlongside> levels;
  bool decoded = false;
  try {
    // Left unset: the decoder's workers write every byte, each touching its own
    // pages first.
    pixels->bgra.resize(static_cast<std::size_t>(png->width) * png->height * 4);
    // The first display level is made by the same workers, each pair of rows as soon
    // as it is written. Without the memory for it the levels are made afterwards,
    // or not at all (they only speed up drawing).
    PngRowWritten rowWritten;
    try {
      levels.emplace(pixels->bgra.data(), png->width, png->height);
      rowWritten = [&levels](std::uint32_t row, std::uint32_t segmentFirstRow) {
        levels->rowWritten(row, segmentFirstRow);
      };
    } catch (const std::bad_alloc&) {
      levels.reset();
    }
    decoded = decodePngSegments(*png, pixels->bgra.data(), pngDecodeWorkers(png->segments.size()), start,
                                rowWritten);
  } catch (const std::bad_alloc&) {
    decoded = false;
  }
  if (!decoded) {
    // The partial pixels go before the ordinary decode allocates its own, and the
    // digest thread is waited for (the ordinary decode hashes the bytes itself).
    levels.reset();
    pixels.reset();
    digest.reset();
    return decodeImage(bytes, count);
  }
  pixels->width = png->width;
  pixels->height = png->height;
  if (levels) {
    // The further levels are made while the digest may still be computed.
    std::vector<std::uint32_t> segmentFirstRows;
    for (const PngSegment& segment : png->segments) segmentFirstRows.push_back(segment.firstRow);
    try {
      levels->finish(*pixels, segmentFirstRows);
    } catch (const std::bad_alloc&) {
      pixels->displayLevels.clear();
    }
  }
  pixels->sha256 = knownDigest != nullptr ? *knownDigest : digest->take();
  pixels->bitmap = createDrawingBitmap(pixels->width, pixels->height, pixels->bgra.data());
  return pixels;
}

namespace {

// What the program keeps about its plate between loads: the digest of the bytes,
// and the decode started ahead of the first load. One object, so that at exit its
// thread is joined before anything it uses is gone.
class OwnPlate {
 public:
  ~OwnPlate() { finish(); }

  std::shared_ptr<Pixels> decode(HMODULE module) {
    const PlateBytes plate = plateResourceBytes(module);
    std::string known;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (digestModule_ == module) known = digest_;
    }
    std::shared_ptr<Pixels> image = decodePlateBytes(plate.data, plate.size, known.empty() ? nullptr : &known);
    if (known.empty()) {
      std::lock_guard<std::mutex> lock(mutex_);
      digestModule_ = module;
      digest_ = image->sha256;
    }
    return image;
  }

  void startAhead(HMODULE module) noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    if (aheadPending_) return;
    try {
      ahead_ = std::thread([this, module] { runAhead(module); });
      aheadModule_ = module;
      aheadPending_ = true;
    } catch (...) {
      // No thread: the first load decodes the plate itself.
    }
  }

  // Gives the decode started ahead for `module`, waiting for it; false when there is none.
  bool takeAhead(HMODULE module, std::shared_ptr<Pixels>& image) {
    std::thread thread;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!aheadPending_ || aheadModule_ != module) return false;
      aheadPending_ = false;
      thread = std::move(ahead_);
    }
    thread.join();
    std::exception_ptr failure;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      image = std::move(aheadImage_);
      failure = std::exchange(aheadFailure_, nullptr);
    }
    if (failure) std::rethrow_exception(failure);
    return true;
  }

  void finish() noexcept {
    std::thread thread;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      aheadPending_ = false;
      thread = std::move(ahead_);
    }
    if (thread.joinable()) thread.join();
    std::shared_ptr<Pixels> dropped;
    std::exception_ptr failure;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      dropped = std::move(aheadImage_);
      failure = std::exchange(aheadFailure_, nullptr);
    }
  }

 private:
  void runAhead(HMODULE module) noexcept {
    std::shared_ptr<Pixels> image;
    std::exception_ptr failure;
    {
      // As in any load job: the ordinary decoder, if the plate goes to it, uses COM.
      ScopedCoInitialize com(COINIT_MULTITHREADED);
      try {
        image = decode(module);
      } catch (...) {
        failure = std::current_exception();
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    aheadImage_ = std::move(image);
    aheadFailure_ = failure;
  }

  std::mutex mutex_;
  HMODULE digestModule_ = nullptr;
  std::string digest_;  // of the plate of digestModule_, once computed
  std::thread ahead_;
  HMODULE aheadModule_ = nullptr;
  bool aheadPending_ = false;  // started and not yet taken
  std::shared_ptr<Pixels> aheadImage_;
  std::exception_ptr aheadFailure_;
};

OwnPlate& ownPlate() {
  static OwnPlate plate;
  return plate;
}

HMODULE moduleOrProgram(HMODULE module) { return module != nullptr ? module : GetModuleHandleW(nullptr); }

}  // namespace

std::shared_ptr<Pixels> decodeOwnPlate(HMODULE module) {
  module = moduleOrProgram(module);
  std::shared_ptr<Pixels> image;
  if (ownPlate().takeAhead(module, image)) return image;
  return ownPlate().decode(module);
}

void startOwnPlateDecodeAhead(HMODULE module) noexcept { ownPlate().startAhead(moduleOrProgram(module)); }

void finishOwnPlateDecodeAhead() noexcept { ownPlate().finish(); }

}  // namespace tessary

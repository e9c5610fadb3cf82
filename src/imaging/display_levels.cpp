#include "imaging/display_levels.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>
#include <thread>

namespace tessary {
namespace {

inline std::uint32_t halfUp(std::uint32_t v) { return v / 2 + (v & 1u); }

// Mean of `n` pixels (1, 2 or 4) given by pointers, alpha-weighted colour.
inline void meanOf(const std::uint8_t* const* p, std::uint32_t n, std::uint8_t* out) {
  std::uint32_t alpha = 0;
  for (std::uint32_t i = 0; i < n; ++i) alpha += p[i][3];
  const std::uint32_t half = n / 2;
  if (alpha == 255u * n || alpha == 0) {
    // Opaque (the common case) or wholly transparent: plain means.
    for (int c = 0; c < 3; ++c) {
      std::uint32_t sum = 0;
      for (std::uint32_t i = 0; i < n; ++i) sum += p[i][c];
      out[c] = static_cast<std::uint8_t>((sum + half) / n);
    }
  } else {
    for (int c = 0; c < 3; ++c) {
      std::uint32_t sum = 0;
      for (std::uint32_t i = 0; i < n; ++i) sum += static_cast<std::uint32_t>(p[i][c]) * p[i][3];
      out[c] = static_cast<std::uint8_t>((sum + alpha / 2) / alpha);
    }
  }
  out[3] = static_cast<std::uint8_t>((alpha + half) / n);
}

// The plain mean of a 2 x 2 block (two pixels of each row), all four bytes at once:
// the bytes are spread into 16-bit lanes of 64-bit words, so one addition sums
// four channels and nothing overflows (at most 4 x 255 + 2).
inline void meanOfOpaqueBlock(const std::uint8_t* r0, const std::uint8_t* r1, std::uint8_t* out) {
  static_assert(std::endian::native == std::endian::little);
  constexpr std::uint64_t lanes = 0x00FF00FF00FF00FFull;
  std::uint64_t top = 0;
  std::uint64_t bottom = 0;
  std::memcpy(&top, r0, 8);
  std::memcpy(&bottom, r1, 8);
  std::uint64_t even = (top & lanes) + (bottom & lanes);              // blue, red of both pixels
  std::uint64_t odd = ((top >> 8) & lanes) + ((bottom >> 8) & lanes);  // green, alpha of both pixels
  even += even >> 32;  // left pixel plus right pixel in the low half
  odd += odd >> 32;
  even = ((even + 0x00020002u) >> 2) & 0x00FF00FFu;
  odd = ((odd + 0x00020002u) >> 2) & 0x00FF00FFu;
  const auto result = static_cast<std::uint32_t>(even | (odd << 8));
  std::memcpy(out, &result, 4);
}

// True when the first `count` pixels of both rows are opaque.
inline bool rowsOpaque(const std::uint8_t* r0, const std::uint8_t* r1, std::size_t count) {
  std::uint8_t all = 255;
  for (std::size_t i = 0; i < count; ++i) all &= static_cast<std::uint8_t>(r0[i * 4 + 3] & r1[i * 4 + 3]);
  return all == 255;
}

}  // namespace

std::vector<LevelSize> displayLevelSizes(std::uint32_t width, std::uint32_t height, std::uint32_t minimumWidth,
                                         std::uint32_t minimumHeight) {
  std::vector<LevelSize> sizes;
  LevelSize current{width, height};
  while (current.width > 1 || current.height > 1) {
    const LevelSize next{halfUp(current.width), halfUp(current.height)};
    if (next.width < minimumWidth && next.height < minimumHeight) break;
    sizes.push_back(next);
    current = next;
  }
  return sizes;
}

void halvePixels(const std::uint8_t* bgra, std::uint32_t width, std::uint32_t height, std::uint8_t* out) {
  halvePixelRows(bgra, width, height, out, 0, halfUp(height));
}

void halvePixelRows(const std::uint8_t* bgra, std::uint32_t width, std::uint32_t height, std::uint8_t* out,
                    std::uint32_t firstRow, std::uint32_t endRow) {
  const std::uint32_t outWidth = halfUp(width);
  const std::uint32_t outHeight = halfUp(height);
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
  const std::uint32_t pairs = width / 2;  // whole 2-pixel column pairs
  for (std::uint32_t y = firstRow; y < endRow && y < outHeight; ++y) {
    const std::uint8_t* r0 = bgra + rowBytes * (2 * static_cast<std::size_t>(y));
    const bool twoRows = 2 * y + 1 < height;
    const std::uint8_t* r1 = twoRows ? r0 + rowBytes : r0;
    std::uint8_t* o = out + static_cast<std::size_t>(y) * outWidth * 4;
    if (twoRows && rowsOpaque(r0, r1, static_cast<std::size_t>(pairs) * 2)) {
      // Opaque rows, the bulk of every photograph: plain means of all four bytes
      // (alpha comes out 255).
      for (std::uint32_t x = 0; x < pairs; ++x, r0 += 8, r1 += 8, o += 4) meanOfOpaqueBlock(r0, r1, o);
      if (width & 1u) {
        const std::uint8_t* p[2] = {r0, r1};
        meanOf(p, 2, o);
      }
    } else if (twoRows) {
      for (std::uint32_t x = 0; x < pairs; ++x, r0 += 8, r1 += 8, o += 4) {
        if ((r0[3] & r0[7] & r1[3] & r1[7]) == 255) {
          // Four opaque pixels: the plain mean, the bulk of every photograph.
          o[0] = static_cast<std::uint8_t>((r0[0] + r0[4] + r1[0] + r1[4] + 2u) >> 2);
          o[1] = static_cast<std::uint8_t>((r0[1] + r0[5] + r1[1] + r1[5] + 2u) >> 2);
          o[2] = static_cast<std::uint8_t>((r0[2] + r0[6] + r1[2] + r1[6] + 2u) >> 2);
          o[3] = 255;
        } else {
          const std::uint8_t* p[4] = {r0, r0 + 4, r1, r1 + 4};
          meanOf(p, 4, o);
        }
      }
      if (width & 1u) {
        const std::uint8_t* p[2] = {r0, r1};
        meanOf(p, 2, o);
      }
    } else {
      for (std::uint32_t x = 0; x < pairs; ++x, r0 += 8, o += 4) {
        const std::uint8_t* p[2] = {r0, r0 + 4};
        meanOf(p, 2, o);
      }
      if (width & 1u) {
        const std::uint8_t* p[1] = {r0};
        meanOf(p, 1, o);
      }
    }
  }
}

unsigned displayLevelWorkers() {
  return std::min(kMaxDisplayLevelWorkers, std::max(1u, std::thread::hardware_concurrency()));
}

void halvePixelsInBands(const std::uint8_t* bgra, std::uint32_t width, std::uint32_t height, std::uint8_t* out,
                        unsigned workers) {
  const std::uint32_t outHeight = halfUp(height);
  const std::uint64_t outPixels = static_cast<std::uint64_t>(halfUp(width)) * outHeight;
  const std::uint32_t bands = (outHeight + kDisplayLevelBandRows - 1) / kDisplayLevelBandRows;
  if (workers <= 1 || bands <= 1 || outPixels < kDisplayLevelParallelPixels) {
    halvePixelRows(bgra, width, height, out, 0, outHeight);
    return;
  }
  // Bands of rows taken in turn by every worker, the calling thread included: each
  // output row is made by the same code whichever worker makes it.
  std::atomic<std::uint32_t> next{0};
  auto work = [&]() noexcept {
    for (std::uint32_t band = next.fetch_add(1); band < bands; band = next.fetch_add(1)) {
      const std::uint32_t first = band * kDisplayLevelBandRows;
      halvePixelRows(bgra, width, height, out, first, std::min(outHeight, first + kDisplayLevelBandRows));
    }
  };
  std::vector<std::thread> others;
  try {
    const unsigned wanted = std::min(workers, bands) - 1;
    others.reserve(wanted);
    for (unsigned i = 0; i < wanted; ++i) others.emplace_back(work);
  } catch (...) {
    // Fewer workers than wished: those that started, and this thread, do it all.
  }
  work();
  for (std::thread& t : others) t.join();
}

namespace {

// Appends the levels of `sizes` from index `from` on to `levels`, each halved from the
// one before it (the first of them from `source`, of sourceWidth x sourceHeight).
void appendLevels(std::vector<DisplayLevel>& levels, const std::vector<LevelSize>& sizes, std::size_t from,
                  const std::uint8_t* source, std::uint32_t sourceWidth, std::uint32_t sourceHeight) {
  const unsigned workers = displayLevelWorkers();
  levels.reserve(sizes.size());
  for (std::size_t i = from; i < sizes.size(); ++i) {
    DisplayLevel level;
    level.width = sizes[i].width;
    level.height = sizes[i].height;
    // Left unset: the workers write every byte, each first touching its own pages.
    level.bgra.resize(static_cast<std::size_t>(level.width) * level.height * 4);
    halvePixelsInBands(source, sourceWidth, sourceHeight, level.bgra.data(), workers);
    levels.push_back(std::move(level));
    // The buffer moved with the level; its address is unchanged.
    source = levels.back().bgra.data();
    sourceWidth = levels.back().width;
    sourceHeight = levels.back().height;
  }
}

}  // namespace

void buildDisplayLevels(Pixels& image, std::uint32_t minimumWidth, std::uint32_t minimumHeight) {
  image.displayLevels.clear();
  const std::vector<LevelSize> sizes = displayLevelSizes(image.width, image.height, minimumWidth, minimumHeight);
  if (sizes.empty() || image.bgra.size() != static_cast<std::size_t>(image.width) * image.height * 4) return;
  std::vector<DisplayLevel> levels;
  appendLevels(levels, sizes, 0, image.bgra.data(), image.width, image.height);
  image.displayLevels = std::move(levels);
}

FirstDisplayLevelAlongside::FirstDisplayLevelAlongside(const std::uint8_t* bgra, std::uint32_t width,
                                                       std::uint32_t height, std::uint32_t minimumWidth,
                                                       std::uint32_t minimumHeight)
    : bgra_(bgra), width_(width), height_(height),
      sizes_(displayLevelSizes(width, height, minimumWidth, minimumHeight)) {
  if (sizes_.empty()) return;
  first_.width = sizes_.front().width;
  first_.height = sizes_.front().height;
  // Left unset: every row is written, by the worker that halves it.
  first_.bgra.resize(static_cast<std::size_t>(first_.width) * first_.height * 4);
}

void FirstDisplayLevelAlongside::halveRow(std::uint32_t outRow) noexcept {
  halvePixelRows(bgra_, width_, height_, first_.bgra.data(), outRow, outRow + 1);
}

void FirstDisplayLevelAlongside::rowWritten(std::uint32_t row, std::uint32_t segmentFirstRow) noexcept {
  if (first_.bgra.empty()) return;
  if ((row & 1u) != 0) {
    // Rows row - 1 and row: both written once row is, when they share a segment.
    if (row > segmentFirstRow) halveRow(row / 2);
  } else if (row + 1 == height_) {
    // The last row of an odd height is halved alone.
    halveRow(row / 2);
  }
}

void FirstDisplayLevelAlongside::finish(Pixels& image, const std::vector<std::uint32_t>& segmentFirstRows) {
  image.displayLevels.clear();
  if (first_.bgra.empty()) return;
  // The pairs split between two segments: an odd first row and the row above it.
  for (std::uint32_t firstRow : segmentFirstRows) {
    if ((firstRow & 1u) != 0) halveRow(firstRow / 2);
  }
  std::vector<DisplayLevel> levels;
  levels.push_back(std::move(first_));
  appendLevels(levels, sizes_, 1, levels.front().bgra.data(), levels.front().width, levels.front().height);
  image.displayLevels = std::move(levels);
}

int displayLevelIndexForZoom(std::uint32_t width, std::uint32_t height, const std::vector<LevelSize>& levels,
                             double zoom) {
  if (!(zoom > 0.0) || !(zoom < 1.0)) return -1;
  const double neededWidth = static_cast<double>(width) * zoom;
  const double neededHeight = static_cast<double>(height) * zoom;
  int chosen = -1;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    if (levels[i].width < neededWidth || levels[i].height < neededHeight) break;
    chosen = static_cast<int>(i);
  }
  return chosen;
}

const DisplayLevel* displayLevelForZoom(const Pixels& image, double zoom) {
  std::vector<LevelSize> sizes;
  sizes.reserve(image.displayLevels.size());
  for (const DisplayLevel& level : image.displayLevels) sizes.push_back({level.width, level.height});
  const int index = displayLevelIndexForZoom(image.width, image.height, sizes, zoom);
  return index < 0 ? nullptr : &image.displayLevels[static_cast<std::size_t>(index)];
}

}  // namespace tessary

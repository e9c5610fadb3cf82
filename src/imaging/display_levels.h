#pragma once
// Reduced copies of an image's pixels, for drawing at small zooms only. Each level
// is half the previous one (rounded up), made with a 2 x 2 box filter, so that a
// reduced view never has to filter more than twice the pixels it shows. Markers,
// crops, exports and hashes always use the original pixels; nothing reduced is
// ever saved.
#include <cstdint>
#include <vector>

#include "imaging/pixels.h"

namespace tessary {

// Levels continue until the next one would be smaller than this on both sides.
// Below the canvas size the levels cost next to nothing (all of them together
// hold a third of the pixels, the small ones a tiny part of that), and with them
// every zoom down to the smallest one still reduces by at most two.
inline constexpr std::uint32_t kDisplayLevelMinimumSide = 64;

struct LevelSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool operator==(const LevelSize&) const = default;
};

// The sizes of the levels of a width x height image, largest first: each is the
// previous one halved and rounded up, and the list ends before the first level
// that would be narrower than minimumWidth and lower than minimumHeight.
std::vector<LevelSize> displayLevelSizes(std::uint32_t width, std::uint32_t height,
                                         std::uint32_t minimumWidth = kDisplayLevelMinimumSide,
                                         std::uint32_t minimumHeight = kDisplayLevelMinimumSide);

// Halves straight-alpha BGRA pixels (width x height, no row gaps) into `out`, which
// must hold ceil(width / 2) x ceil(height / 2) x 4 bytes. Each target pixel is the
// mean of its 2 x 2 source block, or of the 2 or 1 pixels that a last odd column or
// row has. Colours are weighted by alpha, so fully transparent pixels lend no
// colour to their neighbours; alpha is the plain mean. Means are rounded half up.
void halvePixels(const std::uint8_t* bgra, std::uint32_t width, std::uint32_t height, std::uint8_t* out);

// Rows [firstRow, endRow) of halvePixels' result (rows past the halved height are
// ignored): the same bytes, made a band at a time.
void halvePixelRows(const std::uint8_t* bgra, std::uint32_t width, std::uint32_t height, std::uint8_t* out,
                    std::uint32_t firstRow, std::uint32_t endRow);

// The levels are made on every core, in bands of this many rows that the workers
// take in turn; a level of fewer pixels than kDisplayLevelParallelPixels is made on
// the calling thread alone (starting threads would cost more than it saves).
inline constexpr std::uint32_t kDisplayLevelBandRows = 32;
inline constexpr std::uint64_t kDisplayLevelParallelPixels = 1u << 18;
inline constexpr unsigned kMaxDisplayLevelWorkers = 16;

// One worker a core (at most kMaxDisplayLevelWorkers; 1 when unknown).
unsigned displayLevelWorkers();

// halvePixels on `workers` workers, the calling thread being one of them: the same
// bytes whatever the number of workers. When fewer threads can be started, the
// ones that started do the whole work.
void halvePixelsInBands(const std::uint8_t* bgra, std::uint32_t width, std::uint32_t height, std::uint8_t* out,
                        unsigned workers);

// Fills `image.displayLevels` (replacing what was there) from the image's pixels:
// the first level from the original, every further one from the level before it,
// each on every core (halvePixelsInBands). The drawing bitmaps are left empty.
// Raises std::bad_alloc when memory runs out; the original pixels are never
// changed.
void buildDisplayLevels(Pixels& image, std::uint32_t minimumWidth = kDisplayLevelMinimumSide,
                        std::uint32_t minimumHeight = kDisplayLevelMinimumSide);

// The first display level made while an image's rows are being decoded, each pair
// of rows halved by the worker that has just written them (while they are fresh in
// its cache), then finished once every row is there: the rows whose two source rows
// came from two segments, then the further levels from the first, on every core.
// The levels are byte for byte those of buildDisplayLevels.
class FirstDisplayLevelAlongside {
 public:
  // For a width x height image whose rows will be decoded into `bgra`. Allocates
  // the first level (raises std::bad_alloc); holds nothing when the image gets no
  // levels.
  FirstDisplayLevelAlongside(const std::uint8_t* bgra, std::uint32_t width, std::uint32_t height,
                             std::uint32_t minimumWidth = kDisplayLevelMinimumSide,
                             std::uint32_t minimumHeight = kDisplayLevelMinimumSide);

  // Row `row` of the image is written, in the segment that starts at
  // `segmentFirstRow` (rows of one segment in order). Rows of different segments
  // may be told from different threads at once.
  void rowWritten(std::uint32_t row, std::uint32_t segmentFirstRow) noexcept;

  // Every row is written (the segments started at `segmentFirstRows`): fills
  // `image.displayLevels`, `image` being the image of `bgra`. Raises std::bad_alloc.
  void finish(Pixels& image, const std::vector<std::uint32_t>& segmentFirstRows);

 private:
  void halveRow(std::uint32_t outRow) noexcept;

  const std::uint8_t* bgra_;
  std::uint32_t width_;
  std::uint32_t height_;
  std::vector<LevelSize> sizes_;
  DisplayLevel first_;
};

// Which level to draw a width x height image from at `zoom`: the index of the
// smallest level that still has at least width x zoom by height x zoom pixels, so
// that the filter never reduces by more than two; -1 for the original pixels (at
// 100 % and above, between 50 % and 100 %, when no level is large enough, and for
// a zoom that is not a positive number).
int displayLevelIndexForZoom(std::uint32_t width, std::uint32_t height, const std::vector<LevelSize>& levels,
                             double zoom);

// The level of `image` to draw at `zoom` by the same rule, or null for the
// original pixels.
const DisplayLevel* displayLevelForZoom(const Pixels& image, double zoom);

// Windows build (display_levels_win.cpp): gives every level a drawing bitmap over
// its own pixels, as the original has. Raises ImageError("Image unavailable") or
// std::bad_alloc.
void createDisplayLevelBitmaps(Pixels& image);

}  // namespace tessary

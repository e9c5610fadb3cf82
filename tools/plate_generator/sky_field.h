#pragma once
// A synthetic deep-sky field: an emission nebula with a dusty cloud wall, bright
// ionisation fronts and dark dust lanes, a field of stars with a realistic count
// against brightness, a young cluster, point-spread halos with six-pointed
// diffraction spikes, and small background galaxies behind the dust.
#include <cstdint>
#include <vector>

namespace plate {

struct SkySettings {
  std::uint32_t width = 14575;
  std::uint32_t height = 8441;
  std::uint64_t seed = 6;  // chosen for its composition
  unsigned threads = 2;  // for the preparation only; never changes the result
};

class SkyField {
 public:
  explicit SkyField(const SkySettings& settings);
  // Rows [y0, y1) as 8-bit RGB, width * 3 bytes a row. A row's bytes do not depend
  // on the range it is rendered in.
  void renderRows(std::uint32_t y0, std::uint32_t y1, std::uint8_t* rgb) const;

  std::size_t starCount() const { return starCount_; }
  std::size_t galaxyCount() const { return galaxyCount_; }

 private:
  struct Source {
    enum Kind : std::uint8_t { Star, Galaxy } kind = Star;
    float x = 0, y = 0;          // centre in pixels (pixel x spans [x, x + 1))
    float flux = 0;              // total linear flux
    float colour[3] = {1, 1, 1}; // linear, luminance 1, after dust
    std::int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;  // bounding box of the round part (inclusive)
    // stars
    float haloRadius = 0;
    float spikeLength = 0;       // 0: no spikes
    // galaxies
    float re = 0, axis = 1, angle = 0, sersic = 1, arms = 0, armPhase = 0, pitch = 0.3f;
    float bulge = 0;
  };

  void buildNebula();
  void buildCatalogue();
  void addSource(const Source& s);
  void renderStar(const Source& s, std::uint32_t y0, std::uint32_t y1, float* lin) const;
  void renderGalaxy(const Source& s, std::uint32_t y0, std::uint32_t y1, float* lin) const;
  void nebulaRow(std::uint32_t y, float* lin) const;
  float transmissionAt(float x, float y) const;

  SkySettings s_;
  float unit_ = 1;  // pixels per nebula unit (the image height)
  // Nebula on a grid: the light of the gas seen through the dust and of the dust
  // itself (linear RGB each), the dust density, the clouds' warped coordinates and
  // the amount of fine detail.
  enum GridChannel { kGasR, kGasG, kGasB, kDustR, kDustG, kDustB, kDensity, kWarpedX, kWarpedY, kDetailAmount,
                     kLitDust, kChannelCount };
  int step_ = 4;
  int gw_ = 0, gh_ = 0;
  std::vector<float> grid_[kChannelCount];
  std::vector<Source> sources_;
  static constexpr std::uint32_t kBlockRows = 32;
  std::vector<std::vector<std::uint32_t>> blocks_;  // source indices touching each block of rows
  std::size_t starCount_ = 0;
  std::size_t galaxyCount_ = 0;
};

}  // namespace plate

#include "sky_field.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "noise.h"

namespace plate {
namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kEps = 0.00025f;  // linear level below which a source is not drawn

struct Rgb {
  float r, g, b;
};

Rgb mix(const Rgb& a, const Rgb& b, float t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Colour of a black body of temperature t (kelvin), as linear RGB with luminance 1
// (a fit to the CIE colour matching of Planck's law, good from 1,500 to 40,000 K).
Rgb blackBody(double t) {
  const double k = t / 100.0;
  double r, g, b;
  if (k <= 66.0) {
    r = 255.0;
    g = 99.4708025861 * std::log(k) - 161.1195681661;
    b = k <= 19.0 ? 0.0 : 138.5177312231 * std::log(k - 10.0) - 305.0447927307;
  } else {
    r = 329.698727446 * std::pow(k - 60.0, -0.1332047592);
    g = 288.1221695283 * std::pow(k - 60.0, -0.0755148492);
    b = 255.0;
  }
  auto lin = [](double v) {
    v = std::clamp(v, 0.0, 255.0) / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  Rgb c{static_cast<float>(lin(r)), static_cast<float>(lin(g)), static_cast<float>(lin(b))};
  const float y = 0.2126f * c.r + 0.7152f * c.g + 0.0722f * c.b;
  return {c.r / y, c.g / y, c.b / y};
}

// Catmull-Rom weights for a fraction t.
inline void cubicWeights(float t, float w[4]) {
  const float t2 = t * t;
  const float t3 = t2 * t;
  w[0] = 0.5f * (-t3 + 2.0f * t2 - t);
  w[1] = 0.5f * (3.0f * t3 - 5.0f * t2 + 2.0f);
  w[2] = 0.5f * (-3.0f * t3 + 4.0f * t2 + t);
  w[3] = 0.5f * (t3 - t2);
}

template <typename F>
void parallelRows(int rows, unsigned threads, F&& body) {
  std::atomic<int> next{0};
  auto run = [&]() {
    for (int r = next.fetch_add(1); r < rows; r = next.fetch_add(1)) body(r);
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < std::max(1u, threads); ++t) pool.emplace_back(run);
  run();
  for (auto& t : pool) t.join();
}

// Seeds of the independent noise fields.
enum : std::uint32_t {
  kWarpX = 0x1001, kWarpY, kFineX, kFineY, kSurface, kSurfaceDetail, kCloudTexture, kFilaments, kGasTexture,
  kGasRidges, kFrontRidges, kRedWisps, kGlowRidges, kInterior, kTint, kLanes, kFineGrain, kGrain, kStarDensity, kDetail
};

}  // namespace

SkyField::SkyField(const SkySettings& settings) : s_(settings) {
  unit_ = static_cast<float>(s_.height);
  buildNebula();
  buildCatalogue();
}

// ---------------------------------------------------------------------------
// Nebula

namespace {

// A field sampled on a regular grid whose point (i, j) sits at pixel centre
// ((i - 1) * step, (j - 1) * step); read back with Catmull-Rom interpolation.
struct Grid {
  int step = 1, w = 0, h = 0;
  std::vector<float> v;
  Grid(int stepPixels, std::uint32_t width, std::uint32_t height)
      : step(stepPixels),
        w(static_cast<int>((width + stepPixels - 1) / stepPixels) + 4),
        h(static_cast<int>((height + stepPixels - 1) / stepPixels) + 4),
        v(static_cast<std::size_t>(w) * h) {}
  float pixelX(int i) const { return static_cast<float>((i - 1) * step) + 0.5f; }
  float at(int i, int j) const {
    return v[static_cast<std::size_t>(std::clamp(j, 0, h - 1)) * w + std::clamp(i, 0, w - 1)];
  }
  // Value at a pixel centre position.
  float sample(float px, float py) const {
    const float gx = (px - 0.5f) / static_cast<float>(step) + 1.0f;
    const float gy = (py - 0.5f) / static_cast<float>(step) + 1.0f;
    const int i = static_cast<int>(std::floor(gx));
    const int j = static_cast<int>(std::floor(gy));
    float wx[4], wy[4];
    cubicWeights(gx - static_cast<float>(i), wx);
    cubicWeights(gy - static_cast<float>(j), wy);
    float sum = 0.0f;
    for (int b = 0; b < 4; ++b) {
      float row = 0.0f;
      for (int a = 0; a < 4; ++a) row += wx[a] * at(i - 1 + a, j - 1 + b);
      sum += wy[b] * row;
    }
    return sum;
  }
};

}  // namespace

void SkyField::buildNebula() {
  step_ = 4;
  const std::uint32_t seed = static_cast<std::uint32_t>(s_.seed ^ (s_.seed >> 32));
  const float aspect = static_cast<float>(s_.width) / unit_;

  // Towers rising from the cloud wall.
  Random rng(s_.seed ^ 0x51ab7e3ull);
  struct Tower {
    float x, height, width, lean;
  };
  std::vector<Tower> towers;
  const int towerCount = 5;
  for (int i = 0; i < towerCount; ++i) {
    const float x = static_cast<float>((0.04 + 0.92 * (i + rng.range(0.1, 0.9)) / towerCount) * aspect);
    towers.push_back({x, static_cast<float>(0.05 + 0.2 * std::pow(rng.uniform(), 0.7)),
                      static_cast<float>(rng.range(0.018, 0.06)), static_cast<float>(rng.range(-0.6, 0.6))});
  }
  // Large scales on a coarse grid: the domain warps that shape the clouds, the
  // undulating surface of the wall, the slow change of the gas colour.
  Grid qxg(16, s_.width, s_.height), qyg = qxg, rxg = qxg, ryg = qxg, surfaceg = qxg, tintg = qxg;
  parallelRows(qxg.h, s_.threads, [&](int j) {
    const float py = qxg.pixelX(j) / unit_;
    for (int i = 0; i < qxg.w; ++i) {
      const float px = qxg.pixelX(i) / unit_;
      const std::size_t k = static_cast<std::size_t>(j) * qxg.w + i;
      const float qx = px + 0.07f * fbm(px * 2.1f, py * 2.1f, 5, seed + kWarpX);
      const float qy = py + 0.07f * fbm(px * 2.1f + 3.1f, py * 2.1f + 7.7f, 5, seed + kWarpY);
      const float rx = qx + 0.02f * fbm(qx * 8.0f, qy * 8.0f, 4, seed + kFineX);
      const float ry = qy + 0.02f * fbm(qx * 8.0f + 5.3f, qy * 8.0f - 2.9f, 4, seed + kFineY);
      qxg.v[k] = qx;
      qyg.v[k] = qy;
      rxg.v[k] = rx;
      ryg.v[k] = ry;
      // The wall climbs gently from left to right.
      surfaceg.v[k] = 0.66f - 0.09f * (rx / aspect - 0.5f) + 0.11f * gradientNoise(rx * 1.3f, 0.37f, seed + kSurface) +
                      0.035f * fbm(rx * 4.5f, ry * 4.5f, 4, seed + kSurfaceDetail);
      tintg.v[k] = 0.5f + 0.5f * fbm(px * 1.2f, py * 1.2f, 3, seed + kTint);
    }
  });

  // Detail on the fine grid.
  Grid fine(step_, s_.width, s_.height);
  gw_ = fine.w;
  gh_ = fine.h;
  const std::size_t n = static_cast<std::size_t>(gw_) * gh_;
  std::vector<float> rho(n), detail(n), warpedX(n), warpedY(n), gasBlue(n), front(n), wisps(n), glowTexture(n), interior(n), tint(n);
  parallelRows(gh_, s_.threads, [&](int j) {
    const float pyPixels = fine.pixelX(j);
    const float py = pyPixels / unit_;
    for (int i = 0; i < gw_; ++i) {
      const float pxPixels = fine.pixelX(i);
      const std::size_t k = static_cast<std::size_t>(j) * gw_ + i;
      const float qx = qxg.sample(pxPixels, pyPixels);
      const float qy = qyg.sample(pxPixels, pyPixels);
      // A last, small-scale warp makes edges wispy when seen close up.
      const float rx0 = rxg.sample(pxPixels, pyPixels);
      const float ry0 = ryg.sample(pxPixels, pyPixels);
      const float rx = rx0 + 0.0035f * fbm(rx0 * 45.0f, ry0 * 45.0f, 4, seed + kFineX + 7);
      const float ry = ry0 + 0.0035f * fbm(rx0 * 45.0f + 2.2f, ry0 * 45.0f + 8.1f, 4, seed + kFineY + 7);
      float surface = surfaceg.sample(pxPixels, pyPixels);
      const float base = surface;
      for (const Tower& t : towers) {
        const float cx = t.x + t.lean * (base - ry);
        const float d = (rx - cx) / (t.width * (0.6f + 0.4f * smoothstep(base - t.height, base, ry)));
        // Steeper than a bell curve: a column with a rounded head, not a cone.
        surface -= t.height * std::exp(-std::fabs(d * d * d));
      }
      const float s = ry - surface;  // > 0 inside the wall
      const float texture = 0.55f + 0.5f * fbm(rx * 7.0f, ry * 7.0f, 8, seed + kCloudTexture, 0.58f);
      float density = smoothstep(-0.012f, 0.045f, s) * std::max(0.12f, texture);
      // Dust lanes inside the wall and filaments across the glowing cavity.
      const float lanes = ridged(rx * 3.0f, ry * 3.0f, 8, seed + kLanes, 0.6f);
      density += 0.9f * smoothstep(0.58f, 0.9f, lanes) * smoothstep(-0.25f, 0.05f, s);
      const float fil = ridged(rx * 2.4f + 1.7f, ry * 2.4f, 9, seed + kFilaments, 0.6f);
      density += 0.5f * smoothstep(0.66f, 0.95f, fil) * smoothstep(0.02f, 0.3f, ry);
      rho[k] = density;

      const float above = std::max(0.0f, -s);
      const float gasTex = 0.5f + 0.5f * fbm(qx * 3.3f, qy * 3.3f, 9, seed + kGasTexture, 0.6f);
      const float gasRidge = ridged(rx * 2.2f, ry * 2.2f, 9, seed + kGasRidges, 0.62f);
      gasBlue[k] = (0.2f + 1.0f * std::exp(-above / 0.3f)) * gasTex * gasTex * (0.35f + 1.1f * gasRidge) *
                   smoothstep(-0.3f, 0.45f, py + 0.15f * gasTex);
      const float frontRidge = ridged(rx * 16.0f, ry * 16.0f, 6, seed + kFrontRidges, 0.62f);
      front[k] = std::exp(-above / 0.02f) * (0.3f + 1.3f * frontRidge);
      const float w = ridged(rx * 4.2f, ry * 4.2f, 8, seed + kRedWisps, 0.62f);
      wisps[k] = smoothstep(0.45f, 0.95f, w) * (0.25f + std::exp(-above / 0.2f));
      glowTexture[k] = 0.4f + 1.0f * ridged(rx * 22.0f, ry * 22.0f, 6, seed + kGlowRidges, 0.65f);
      interior[k] = 0.5f + 0.5f * fbm(rx * 14.0f, ry * 14.0f, 7, seed + kInterior, 0.62f);
      tint[k] = tintg.sample(pxPixels, pyPixels);
      warpedX[k] = rx * unit_;
      warpedY[k] = ry * unit_;
      detail[k] = smoothstep(0.4f, 0.75f, 0.5f + 0.5f * fbm(qx * 6.0f, qy * 6.0f, 3, seed + kDetail));
    }
  });

  // Light of the young cluster above reaches the dust from the top, slightly from
  // the right: the optical depth accumulates down each slanted column, so the
  // surfaces facing the cluster glow and the shadowed sides stay dark.
  std::vector<float> depth(n, 0.0f);
  const float perCell = 120.0f * static_cast<float>(step_) / unit_;
  const float slant = -0.22f;  // columns shift this many cells to the left per row down
  for (int j = 1; j < gh_; ++j) {
    for (int i = 0; i < gw_; ++i) {
      const float src = static_cast<float>(i) - slant;
      int i0 = static_cast<int>(std::floor(src));
      const float t = src - static_cast<float>(i0);
      const int i1 = std::min(gw_ - 1, std::max(0, i0 + 1));
      i0 = std::min(gw_ - 1, std::max(0, i0));
      const std::size_t up = static_cast<std::size_t>(j - 1) * gw_;
      const float above = depth[up + i0] * (1.0f - t) + depth[up + i1] * t;
      depth[static_cast<std::size_t>(j) * gw_ + i] = above + perCell * rho[up + i];
    }
  }

  const Rgb background{0.0045f, 0.0052f, 0.0085f};
  const Rgb gasA{0.16f, 0.36f, 1.0f};
  const Rgb gasB{0.24f, 0.70f, 0.95f};
  const Rgb frontColour{1.0f, 0.66f, 0.34f};
  const Rgb wispColour{0.95f, 0.22f, 0.40f};
  const Rgb rimColour{1.0f, 0.72f, 0.42f};
  const Rgb glowColour{1.0f, 0.42f, 0.16f};
  const Rgb interiorColour{0.55f, 0.20f, 0.09f};
  for (auto& g : grid_) g.assign(n, 0.0f);
  parallelRows(gh_, s_.threads, [&](int j) {
    for (int i = 0; i < gw_; ++i) {
      const std::size_t k = static_cast<std::size_t>(j) * gw_ + i;
      const float transmission = std::exp(-4.5f * rho[k]);
      const Rgb gas = mix(gasA, gasB, tint[k]);
      const float blue = 0.55f * gasBlue[k];
      const float lit = std::exp(-depth[k]);
      const Rgb glowC = mix(glowColour, rimColour, lit * lit);
      const float glow = 2.6f * std::min(rho[k], 1.2f) * lit * glowTexture[k];
      const float warm = 0.07f * rho[k] * interior[k] * interior[k] * (0.35f + 0.65f * std::exp(-0.06f * depth[k]));
      const float fr = 0.5f * front[k];
      const float red = 0.2f * wisps[k];
      // Light of the gas seen through the dust, and light of the dust itself.
      grid_[kGasR][k] = background.r + transmission * (blue * gas.r + fr * frontColour.r + red * wispColour.r);
      grid_[kGasG][k] = background.g + transmission * (blue * gas.g + fr * frontColour.g + red * wispColour.g);
      grid_[kGasB][k] = background.b + transmission * (blue * gas.b + fr * frontColour.b + red * wispColour.b);
      grid_[kDustR][k] = glow * glowC.r + warm * interiorColour.r;
      grid_[kDustG][k] = glow * glowC.g + warm * interiorColour.g;
      grid_[kDustB][k] = glow * glowC.b + warm * interiorColour.b;
      grid_[kDensity][k] = rho[k];
      grid_[kWarpedX][k] = warpedX[k];
      grid_[kWarpedY][k] = warpedY[k];
      // How much fine filamentary texture this part carries when seen close up:
      // most on lit surfaces and in the brighter gas.
      grid_[kDetailAmount][k] = std::min(1.0f, 0.35f + 0.65f * detail[k] + 0.8f * lit * std::min(rho[k], 1.0f));
      grid_[kLitDust][k] = std::min(1.0f, lit * std::min(rho[k], 1.0f) * 1.5f);
    }
  });
}

float SkyField::transmissionAt(float x, float y) const {
  const float gx = x / static_cast<float>(step_) + 1.0f - 0.5f / static_cast<float>(step_);
  const float gy = y / static_cast<float>(step_) + 1.0f - 0.5f / static_cast<float>(step_);
  const int i = std::clamp(static_cast<int>(std::floor(gx)), 0, gw_ - 2);
  const int j = std::clamp(static_cast<int>(std::floor(gy)), 0, gh_ - 2);
  const float tx = std::clamp(gx - static_cast<float>(i), 0.0f, 1.0f);
  const float ty = std::clamp(gy - static_cast<float>(j), 0.0f, 1.0f);
  const auto& g = grid_[kDensity];
  const std::size_t k = static_cast<std::size_t>(j) * gw_ + i;
  const float top = g[k] * (1 - tx) + g[k + 1] * tx;
  const float bottom = g[k + gw_] * (1 - tx) + g[k + gw_ + 1] * tx;
  return std::exp(-4.5f * (top * (1 - ty) + bottom * ty));
}

// One row of the nebula at full resolution: the grid interpolated with Catmull-Rom,
// then fine structure below the grid's scale. Thin filaments are drawn in the
// clouds' own warped coordinates, so they follow the flow of the larger shapes;
// where they cross dust they act as dust (dimming the gas behind it, brightening
// lit surfaces), in clear gas as fine wisps.
void SkyField::nebulaRow(std::uint32_t y, float* lin) const {
  const float gy = (static_cast<float>(y) + 0.5f) / static_cast<float>(step_) + 1.0f - 0.5f / static_cast<float>(step_);
  const int j = static_cast<int>(std::floor(gy));
  float wy[4];
  cubicWeights(gy - static_cast<float>(j), wy);
  std::vector<float> column(static_cast<std::size_t>(gw_) * kChannelCount);
  for (int i = 0; i < gw_; ++i) {
    for (int c = 0; c < kChannelCount; ++c) {
      float v = 0.0f;
      for (int t = 0; t < 4; ++t) {
        const int jj = std::clamp(j - 1 + t, 0, gh_ - 1);
        v += wy[t] * grid_[c][static_cast<std::size_t>(jj) * gw_ + i];
      }
      column[static_cast<std::size_t>(i) * kChannelCount + c] = v;
    }
  }
  const std::uint32_t seed = static_cast<std::uint32_t>(s_.seed ^ (s_.seed >> 32));
  for (std::uint32_t x = 0; x < s_.width; ++x) {
    const float gx = (static_cast<float>(x) + 0.5f) / static_cast<float>(step_) + 1.0f - 0.5f / static_cast<float>(step_);
    const int i = static_cast<int>(std::floor(gx));
    float wx[4];
    cubicWeights(gx - static_cast<float>(i), wx);
    float v[kChannelCount] = {};
    for (int t = 0; t < 4; ++t) {
      const float* col = column.data() + static_cast<std::size_t>(std::clamp(i - 1 + t, 0, gw_ - 1)) * kChannelCount;
      for (int c = 0; c < kChannelCount; ++c) v[c] += wx[t] * col[c];
    }
    const float ux = v[kWarpedX];
    const float uy = v[kWarpedY];
    float c1 = 1.0f - std::fabs(gradientNoise(ux * (1.0f / 41.0f), uy * (1.0f / 41.0f), seed + kFineGrain));
    float c2 = 1.0f - std::fabs(gradientNoise(ux * (1.0f / 17.0f) + 3.1f, uy * (1.0f / 17.0f), seed + kFineGrain + 1));
    const float mottle = gradientNoise(ux * (1.0f / 7.5f), uy * (1.0f / 7.5f) + 5.7f, seed + kFineGrain + 2);
    c1 *= c1;
    c1 *= c1;
    c2 *= c2;
    c2 *= c2;
    // The second octave breaks the first one's closed loops into strands.
    const float crest = c1 * (0.45f + 0.75f * c2);
    const float amount = std::clamp(v[kDetailAmount], 0.0f, 1.0f);
    const float delta = amount * 2.2f * (crest - 0.3f);
    const float rho = std::max(0.0f, v[kDensity]);
    // Thin lanes dim the gas only where there is some dust to thicken; deep inside
    // the wall the gas is gone anyway and the texture would only add speckle.
    const float gasFactor = std::exp(-2.2f * std::min(rho, 0.15f) * delta) *
                            std::max(0.0f, 1.0f + amount * (0.35f * (crest - 0.3f) + 0.1f * mottle));
    const float lit = std::clamp(v[kLitDust], 0.0f, 1.0f);
    const float dustDelta = (0.2f + 0.8f * lit) * 2.2f * (crest - 0.3f);
    const float dustFactor = std::max(0.0f, 1.0f + 0.85f * dustDelta + 0.08f * mottle);
    for (int c = 0; c < 3; ++c) {
      lin[static_cast<std::size_t>(x) * 3 + c] =
          std::max(0.0f, v[kGasR + c]) * gasFactor + std::max(0.0f, v[kDustR + c]) * dustFactor;
    }
  }
}

// ---------------------------------------------------------------------------
// Stars and galaxies

void SkyField::addSource(const Source& src) { sources_.push_back(src); }

void SkyField::buildCatalogue() {
  Random rng(s_.seed ^ 0xc47a1095ull);
  const double area = static_cast<double>(s_.width) * s_.height;
  const double fullArea = 14575.0 * 8441.0;
  const float w = static_cast<float>(s_.width);
  const float h = static_cast<float>(s_.height);
  const std::uint32_t seed = static_cast<std::uint32_t>(s_.seed);

  auto finishStar = [&](Source& st, double temperature, double depth) {
    const Rgb c = blackBody(temperature);
    // Dust in front of the star dims it and reddens it (blue light suffers most).
    const float t = std::max(transmissionAt(st.x, st.y), 1e-4f);
    const float dimR = std::pow(t, static_cast<float>(depth) * 0.70f);
    const float dimG = std::pow(t, static_cast<float>(depth) * 1.00f);
    const float dimB = std::pow(t, static_cast<float>(depth) * 1.40f);
    st.colour[0] = c.r * dimR;
    st.colour[1] = c.g * dimG;
    st.colour[2] = c.b * dimB;
    const float peak = st.flux * std::max({st.colour[0], st.colour[1], st.colour[2]});
    // Core (Gaussian) reaches ~4 sigma; the halo (Moffat) reaches where it fades below kEps.
    float radius = 4.0f;
    const float haloNorm = peak * 0.05f * 0.8f / (kPi * 81.0f);
    if (haloNorm > kEps) radius = std::max(radius, 9.0f * std::sqrt(std::pow(haloNorm / kEps, 1.0f / 1.8f) - 1.0f));
    const float innerNorm = peak * 0.13f * 1.5f / (kPi * 2.2f * 2.2f);
    if (innerNorm > kEps) radius = std::max(radius, 2.2f * std::sqrt(std::pow(innerNorm / kEps, 1.0f / 2.5f) - 1.0f));
    st.haloRadius = std::min(radius, 400.0f);
    st.spikeLength = peak > 5.0f ? std::min(9.0f * std::sqrt(peak), 900.0f) : 0.0f;
    const float reach = std::max(st.haloRadius, st.spikeLength);
    st.x0 = static_cast<std::int32_t>(std::floor(st.x - st.haloRadius));
    st.x1 = static_cast<std::int32_t>(std::ceil(st.x + st.haloRadius));
    st.y0 = static_cast<std::int32_t>(std::floor(st.y - reach));
    st.y1 = static_cast<std::int32_t>(std::ceil(st.y + reach));
  };

  // Field stars: counts grow by about 2.2 times a magnitude toward the faint end,
  // over 13 magnitudes; denser toward the lower right, patchy on large scales.
  const std::size_t fieldStars = static_cast<std::size_t>(std::llround(470000.0 * area / fullArea));
  const double alpha = 0.34;
  const double range = 13.0;
  const double brightest = 2600.0;
  for (std::size_t i = 0; i < fieldStars; ++i) {
    Source st;
    for (;;) {
      st.x = static_cast<float>(rng.uniform() * w);
      st.y = static_cast<float>(rng.uniform() * h);
      const float density = 0.55f + 0.25f * (st.x / w + st.y / h) * 0.5f +
                            0.2f * gradientNoise(st.x / h * 2.5f, st.y / h * 2.5f, seed + kStarDensity);
      if (rng.uniform() < density) break;
    }
    const double m = std::log10(1.0 + rng.uniform() * (std::pow(10.0, alpha * range) - 1.0)) / alpha;
    st.flux = static_cast<float>(brightest * std::pow(10.0, -0.4 * m));
    const double pick = rng.uniform();
    double temperature;
    if (pick < 0.62) {
      temperature = 3000.0 + 3200.0 * std::pow(rng.uniform(), 1.4);  // cool dwarfs and giants
    } else if (pick < 0.9) {
      temperature = 5200.0 + 2800.0 * rng.uniform();  // sun-like
    } else {
      temperature = 8000.0 * std::pow(30000.0 / 8000.0, rng.uniform());  // hot
    }
    const double depth = rng.uniform() < 0.3 ? 0.0 : rng.uniform();
    finishStar(st, temperature, depth);
    addSource(st);
  }
  // The young cluster whose light carves the cavity: hot, bright, in front.
  const std::size_t clusterStars = static_cast<std::size_t>(std::llround(420.0 * area / fullArea)) + 12;
  const float cx = 0.64f * w;
  const float cy = 0.13f * h;
  const float core = 0.05f * h;
  for (std::size_t i = 0; i < clusterStars; ++i) {
    Source st;
    // Plummer sphere projected: radius from the inverse of its cumulative profile.
    const double u = std::max(1e-6, rng.uniform() * 0.97);
    const double r = core / std::sqrt(std::pow(u, -2.0 / 3.0) - 1.0) * 0.8;
    const double a = rng.uniform() * 6.283185307179586;
    st.x = static_cast<float>(cx + r * std::cos(a));
    st.y = static_cast<float>(cy + r * std::sin(a) * 0.8);
    if (st.x < 0 || st.y < 0 || st.x >= w || st.y >= h) continue;
    const double m = 1.0 + std::log10(1.0 + rng.uniform() * (std::pow(10.0, 0.3 * 9.0) - 1.0)) / 0.3;
    st.flux = static_cast<float>(brightest * std::pow(10.0, -0.4 * m));
    const double temperature = 9000.0 * std::pow(35000.0 / 9000.0, rng.uniform());
    finishStar(st, temperature, 0.0);
    addSource(st);
  }
  starCount_ = sources_.size();

  // Galaxies far behind everything: small, faint, many shapes.
  const std::size_t galaxies = static_cast<std::size_t>(std::llround(2600.0 * area / fullArea));
  for (std::size_t i = 0; i < galaxies; ++i) {
    Source g;
    g.kind = Source::Galaxy;
    g.x = static_cast<float>(rng.uniform() * w);
    g.y = static_cast<float>(rng.uniform() * h);
    const bool large = rng.uniform() < 0.04;
    g.re = static_cast<float>(large ? rng.range(7.0, 22.0) : 1.3 * std::pow(6.0, rng.uniform()));
    const bool disk = rng.uniform() < 0.6;
    g.sersic = disk ? 1.0f : static_cast<float>(rng.range(2.5, 4.0));
    g.axis = static_cast<float>(disk ? rng.range(0.18, 1.0) : rng.range(0.55, 1.0));
    g.angle = static_cast<float>(rng.uniform() * kPi);
    g.arms = (disk && g.re > 3.5f && g.axis > 0.45f) ? static_cast<float>(rng.range(0.4, 0.8)) : 0.0f;
    g.armPhase = static_cast<float>(rng.uniform() * 2.0 * kPi);
    g.pitch = static_cast<float>(rng.range(0.22, 0.45));
    g.bulge = disk ? static_cast<float>(rng.range(0.1, 0.35)) : 0.0f;
    const double surface = rng.range(0.006, 0.03);
    g.flux = static_cast<float>(surface * kPi * g.re * g.re * (disk ? 1.0 : 1.6));
    const Rgb c = disk ? Rgb{0.85f, 0.95f, 1.25f} : Rgb{1.25f, 0.95f, 0.62f};
    const float t = std::max(transmissionAt(g.x, g.y), 1e-4f);
    g.colour[0] = c.r * std::pow(t, 0.7f);
    g.colour[1] = c.g * t;
    g.colour[2] = c.b * std::pow(t, 1.4f);
    const float reach = std::min(g.re * (disk ? 5.5f : 9.0f), 220.0f);
    g.x0 = static_cast<std::int32_t>(std::floor(g.x - reach));
    g.x1 = static_cast<std::int32_t>(std::ceil(g.x + reach));
    g.y0 = static_cast<std::int32_t>(std::floor(g.y - reach));
    g.y1 = static_cast<std::int32_t>(std::ceil(g.y + reach));
    addSource(g);
  }
  galaxyCount_ = sources_.size() - starCount_;

  blocks_.assign((s_.height + kBlockRows - 1) / kBlockRows, {});
  for (std::uint32_t idx = 0; idx < sources_.size(); ++idx) {
    const Source& src = sources_[idx];
    const std::int64_t top = std::max<std::int64_t>(0, src.y0);
    const std::int64_t bottom = std::min<std::int64_t>(static_cast<std::int64_t>(s_.height) - 1, src.y1);
    if (top > bottom || src.x1 < 0 || src.x0 >= static_cast<std::int32_t>(s_.width) + 1000) continue;
    for (std::int64_t b = top / kBlockRows; b <= bottom / kBlockRows; ++b) blocks_[b].push_back(idx);
  }
}

void SkyField::renderStar(const Source& st, std::uint32_t y0, std::uint32_t y1, float* lin) const {
  const std::int32_t width = static_cast<std::int32_t>(s_.width);
  auto add = [&](std::int32_t x, std::int32_t y, float v) {
    float* p = lin + (static_cast<std::size_t>(y - static_cast<std::int32_t>(y0)) * s_.width + x) * 3;
    p[0] += v * st.colour[0];
    p[1] += v * st.colour[1];
    p[2] += v * st.colour[2];
  };
  // Round part: a Gaussian core integrated over each pixel, and two Moffat halos.
  const std::int32_t ya = std::max(st.y0 + 0, static_cast<std::int32_t>(std::floor(st.y - st.haloRadius)));
  const std::int32_t top = std::max(ya, static_cast<std::int32_t>(y0));
  const std::int32_t bottom = std::min(static_cast<std::int32_t>(std::ceil(st.y + st.haloRadius)),
                                       static_cast<std::int32_t>(y1) - 1);
  const std::int32_t left = std::max(st.x0, 0);
  const std::int32_t right = std::min(st.x1, width - 1);
  constexpr float sigma = 0.85f;
  const float inv = 1.0f / (sigma * 1.41421356f);
  const float coreFlux = 0.82f * st.flux;
  const float inner = st.flux * 0.13f * 1.5f / (kPi * 2.2f * 2.2f);
  const float outer = st.flux * 0.05f * 0.8f / (kPi * 81.0f);
  const float r2max = st.haloRadius * st.haloRadius;
  for (std::int32_t y = top; y <= bottom; ++y) {
    const float dy = static_cast<float>(y) + 0.5f - st.y;
    const float gy = 0.5f * (std::erf((static_cast<float>(y) + 1.0f - st.y) * inv) -
                             std::erf((static_cast<float>(y) - st.y) * inv));
    for (std::int32_t x = left; x <= right; ++x) {
      const float dx = static_cast<float>(x) + 0.5f - st.x;
      const float r2 = dx * dx + dy * dy;
      if (r2 > r2max) continue;
      float v = 0.0f;
      if (r2 < 25.0f) {
        const float gx = 0.5f * (std::erf((static_cast<float>(x) + 1.0f - st.x) * inv) -
                                 std::erf((static_cast<float>(x) - st.x) * inv));
        v += coreFlux * gx * gy;
      }
      const float a = 1.0f + r2 / (2.2f * 2.2f);
      v += inner / (a * a * std::sqrt(a));  // beta 2.5
      v += outer * std::pow(1.0f + r2 / 81.0f, -1.8f);
      if (v > kEps * 0.25f) add(x, y, v);
    }
  }
  if (st.spikeLength <= 0.0f) return;
  // Six-pointed diffraction spikes: three lines through the centre, 60 degrees apart,
  // fading with distance; a little chromatic spread makes their ends redder.
  static constexpr float kAngles[3] = {kPi / 2.0f, kPi / 6.0f, 5.0f * kPi / 6.0f};
  constexpr float width2 = 0.65f;
  const float lambda = st.flux * 0.022f / (width2 * 2.5066f);
  const float len = st.spikeLength;
  for (float angle : kAngles) {
    const float cs = std::cos(angle);
    const float sn = std::sin(angle);
    const float yFirst = std::max(std::floor(st.y - len * std::fabs(sn) - 3.0f), static_cast<float>(y0));
    const float yLast = std::min(std::ceil(st.y + len * std::fabs(sn) + 3.0f), static_cast<float>(y1) - 1.0f);
    for (float fy = yFirst; fy <= yLast; fy += 1.0f) {
      const auto y = static_cast<std::int32_t>(fy);
      const float dy = fy + 0.5f - st.y;
      const float xc = st.x + dy * cs / sn;
      const float halfWidth = 3.0f * width2 / std::fabs(sn) + 1.0f;
      const std::int32_t xa = std::max(0, static_cast<std::int32_t>(std::floor(xc - halfWidth)));
      const std::int32_t xb = std::min(width - 1, static_cast<std::int32_t>(std::ceil(xc + halfWidth)));
      for (std::int32_t x = xa; x <= xb; ++x) {
        const float dx = static_cast<float>(x) + 0.5f - st.x;
        const float along = std::fabs(dx * cs + dy * sn);
        if (along > len || along < 1.5f) continue;
        const float across = -dx * sn + dy * cs;
        const float fade = 1.0f - along / len;
        const float v = lambda * std::pow(3.0f / (3.0f + along), 1.55f) * fade * fade *
                        std::exp(-across * across / (2.0f * width2 * width2));
        if (v > kEps * 0.25f) add(x, y, v);
      }
    }
  }
}

void SkyField::renderGalaxy(const Source& g, std::uint32_t y0, std::uint32_t y1, float* lin) const {
  const std::int32_t width = static_cast<std::int32_t>(s_.width);
  const std::int32_t top = std::max(g.y0, static_cast<std::int32_t>(y0));
  const std::int32_t bottom = std::min(g.y1, static_cast<std::int32_t>(y1) - 1);
  const std::int32_t left = std::max(g.x0, 0);
  const std::int32_t right = std::min(g.x1, width - 1);
  const float n = g.sersic;
  const float b = 2.0f * n - 1.0f / 3.0f + 0.009876f / n;
  // Central surface brightness from the total flux of a Sersic profile.
  const float total = g.re * g.re * 2.0f * kPi * n * std::exp(b) * std::pow(b, -2.0f * n) * std::tgamma(2.0f * n) * g.axis;
  const float diskFlux = g.flux * (1.0f - g.bulge);
  const float ie = diskFlux / total;
  const float rb = std::max(0.6f, 0.18f * g.re);
  const float bulgeB = 7.669f;
  const float bulgeTotal = rb * rb * 2.0f * kPi * 4.0f * std::exp(bulgeB) * std::pow(bulgeB, -8.0f) * std::tgamma(8.0f);
  const float ib = g.flux * g.bulge / bulgeTotal;
  const float cs = std::cos(g.angle);
  const float sn = std::sin(g.angle);
  const float reach2 = static_cast<float>((g.x1 - g.x0) * (g.x1 - g.x0)) * 0.25f;
  for (std::int32_t y = top; y <= bottom; ++y) {
    float* row = lin + static_cast<std::size_t>(y - static_cast<std::int32_t>(y0)) * s_.width * 3;
    for (std::int32_t x = left; x <= right; ++x) {
      const float dx = static_cast<float>(x) + 0.5f - g.x;
      const float dy = static_cast<float>(y) + 0.5f - g.y;
      if (dx * dx + dy * dy > reach2) continue;
      const float u = dx * cs + dy * sn;
      const float v = (-dx * sn + dy * cs) / g.axis;
      const float r = std::max(0.35f, std::sqrt(u * u + v * v));
      float disk = ie * std::exp(-b * (std::pow(r / g.re, 1.0f / n) - 1.0f));
      if (g.arms > 0.0f) {
        const float theta = std::atan2(v, u);
        const float phase = 2.0f * (theta - std::log(r / g.re + 0.15f) / std::tan(g.pitch)) + g.armPhase;
        disk *= 1.0f + g.arms * smoothstep(0.25f * g.re, 0.9f * g.re, r) * std::cos(phase);
      }
      float bulge = 0.0f;
      if (g.bulge > 0.0f) {
        const float rr = std::max(0.3f, std::sqrt(dx * dx + dy * dy));
        bulge = ib * std::exp(-bulgeB * (std::pow(rr / rb, 0.25f) - 1.0f));
      }
      if (disk + bulge < kEps * 0.25f) continue;
      float* p = row + static_cast<std::size_t>(x) * 3;
      // The bulge is yellower than the disk.
      p[0] += disk * g.colour[0] + bulge * g.colour[0] * 1.2f;
      p[1] += disk * g.colour[1] + bulge * g.colour[1] * 0.95f;
      p[2] += disk * g.colour[2] + bulge * g.colour[2] * 0.6f;
    }
  }
}

// ---------------------------------------------------------------------------
// Rows

void SkyField::renderRows(std::uint32_t y0, std::uint32_t y1, std::uint8_t* rgb) const {
  const std::size_t rowValues = static_cast<std::size_t>(s_.width) * 3;
  std::vector<float> lin(rowValues * (y1 - y0));
  for (std::uint32_t y = y0; y < y1; ++y) nebulaRow(y, lin.data() + rowValues * (y - y0));

  // Sources in catalogue order, whatever the range, so every pixel sums the same
  // contributions in the same order.
  std::vector<std::uint32_t> wanted;
  for (std::uint32_t b = y0 / kBlockRows; b <= (y1 - 1) / kBlockRows; ++b) {
    wanted.insert(wanted.end(), blocks_[b].begin(), blocks_[b].end());
  }
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  for (std::uint32_t idx : wanted) {
    const Source& src = sources_[idx];
    if (src.kind == Source::Star) {
      renderStar(src, y0, y1, lin.data());
    } else {
      renderGalaxy(src, y0, y1, lin.data());
    }
  }

  // Display stretch (inverse hyperbolic sine on the luminance, colour kept), bright
  // colours running into white, then sensor-like grain and rounding.
  const std::uint32_t seed = static_cast<std::uint32_t>(s_.seed >> 17);
  constexpr float k = 14.0f;
  const float norm = 1.0f / std::asinh(k * 3.0f);
  for (std::uint32_t y = y0; y < y1; ++y) {
    const float* row = lin.data() + rowValues * (y - y0);
    std::uint8_t* out = rgb + rowValues * (y - y0);
    for (std::uint32_t x = 0; x < s_.width; ++x) {
      float r = row[x * 3], g = row[x * 3 + 1], b = row[x * 3 + 2];
      const float l = std::max(1e-7f, 0.2126f * r + 0.7152f * g + 0.0722f * b);
      const float scale = std::asinh(k * l) * norm / l;
      r *= scale;
      g *= scale;
      b *= scale;
      const float m = std::max({r, g, b});
      if (m > 1.0f) {
        const float white = std::min(1.0f, (m - 1.0f) * 0.6f);
        r = r / m + (1.0f - r / m) * white;
        g = g / m + (1.0f - g / m) * white;
        b = b / m + (1.0f - b / m) * white;
      }
      const float c[3] = {r, g, b};
      const std::uint32_t hx = hash3(x, y, seed);
      for (int ch = 0; ch < 3; ++ch) {
        const std::uint32_t hv = hash32(hx + static_cast<std::uint32_t>(ch) * 0x68e31da4u);
        // Sum of four uniform bytes: close to a normal distribution, unit variance.
        const float gauss = (static_cast<float>((hv & 255u) + ((hv >> 8) & 255u) + ((hv >> 16) & 255u) + (hv >> 24)) -
                             510.0f) * (1.0f / 147.8f);
        const float level = c[ch] * 255.0f;
        const float sigma = 0.75f + 1.3f * std::sqrt(std::max(0.0f, level) / 255.0f);
        const float q = std::floor(level + sigma * gauss + 0.5f);
        out[x * 3 + ch] = static_cast<std::uint8_t>(std::clamp(q, 0.0f, 255.0f));
      }
    }
  }
}

}  // namespace plate

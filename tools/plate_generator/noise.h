#pragma once
// Deterministic hash-based noise for the plate generator. Everything here is a pure
// function of its arguments, so any pixel can be computed on its own, in any thread
// and in any order, and always comes out the same.
#include <cmath>
#include <cstdint>

namespace plate {

inline std::uint32_t hash32(std::uint32_t h) {
  h ^= h >> 16;
  h *= 0x7feb352du;
  h ^= h >> 15;
  h *= 0x846ca68bu;
  h ^= h >> 16;
  return h;
}

// One round suffices for lattice gradients: the multipliers spread neighbouring
// cells and seeds far apart before the mixing.
inline std::uint32_t hash2(std::int32_t x, std::int32_t y, std::uint32_t seed) {
  return hash32(static_cast<std::uint32_t>(x) * 0x8da6b343u + static_cast<std::uint32_t>(y) * 0xd8163841u +
                seed * 0x9e3779b9u);
}

inline std::uint32_t hash3(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  return hash32(a * 0x8da6b343u ^ hash32(b * 0xd8163841u ^ hash32(c * 0xcb1ab31fu + 0x9e3779b9u)));
}

// Uniform in [0, 1) from a hash.
inline float unitFloat(std::uint32_t h) { return static_cast<float>(h >> 8) * (1.0f / 16777216.0f); }

// Sequential generator for the catalogue of stars and galaxies (SplitMix64).
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  double range(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  // Standard normal (Box-Muller; one value per call keeps the sequence simple).
  double normal() {
    double u1 = uniform();
    if (u1 < 1e-300) u1 = 1e-300;
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }

 private:
  std::uint64_t state_;
};

// Gradient noise on the integer lattice with a quintic fade; about -1 to 1.
inline float gradientNoise(float x, float y, std::uint32_t seed) {
  static constexpr float kGrad[16][2] = {
      {1.0f, 0.0f},       {0.92388f, 0.38268f},   {0.70711f, 0.70711f},   {0.38268f, 0.92388f},
      {0.0f, 1.0f},       {-0.38268f, 0.92388f},  {-0.70711f, 0.70711f},  {-0.92388f, 0.38268f},
      {-1.0f, 0.0f},      {-0.92388f, -0.38268f}, {-0.70711f, -0.70711f}, {-0.38268f, -0.92388f},
      {0.0f, -1.0f},      {0.38268f, -0.92388f},  {0.70711f, -0.70711f},  {0.92388f, -0.38268f}};
  const float fx0 = std::floor(x);
  const float fy0 = std::floor(y);
  const auto ix = static_cast<std::int32_t>(fx0);
  const auto iy = static_cast<std::int32_t>(fy0);
  const float dx = x - fx0;
  const float dy = y - fy0;
  auto dot = [&](std::int32_t cx, std::int32_t cy, float gx, float gy) {
    const float* g = kGrad[hash2(ix + cx, iy + cy, seed) & 15u];
    return g[0] * gx + g[1] * gy;
  };
  const float n00 = dot(0, 0, dx, dy);
  const float n10 = dot(1, 0, dx - 1.0f, dy);
  const float n01 = dot(0, 1, dx, dy - 1.0f);
  const float n11 = dot(1, 1, dx - 1.0f, dy - 1.0f);
  const float u = dx * dx * dx * (dx * (dx * 6.0f - 15.0f) + 10.0f);
  const float v = dy * dy * dy * (dy * (dy * 6.0f - 15.0f) + 10.0f);
  const float a = n00 + u * (n10 - n00);
  const float b = n01 + u * (n11 - n01);
  return 1.41421356f * (a + v * (b - a));
}

// Fractal sum of octaves; each octave is rotated so the lattice never lines up.
inline float fbm(float x, float y, int octaves, std::uint32_t seed, float gain = 0.5f) {
  float sum = 0.0f;
  float amp = 1.0f;
  float norm = 0.0f;
  for (int i = 0; i < octaves; ++i) {
    sum += amp * gradientNoise(x, y, seed + 0x9e3779b9u * static_cast<std::uint32_t>(i));
    norm += amp;
    const float rx = 0.8253f * x - 0.5646f * y;
    const float ry = 0.5646f * x + 0.8253f * y;
    x = rx * 2.03f + 17.31f;
    y = ry * 2.03f - 9.17f;
    amp *= gain;
  }
  return sum / norm;
}

// Ridged fractal: sharp bright crests where the noise crosses zero, as in the
// filaments and ionisation fronts of emission nebulae. About 0 to 1.
inline float ridged(float x, float y, int octaves, std::uint32_t seed, float gain = 0.55f) {
  float sum = 0.0f;
  float amp = 1.0f;
  float norm = 0.0f;
  float weight = 1.0f;
  for (int i = 0; i < octaves; ++i) {
    float n = 1.0f - std::fabs(gradientNoise(x, y, seed + 0x7f4a7c15u * static_cast<std::uint32_t>(i)));
    n *= n;
    const float contribution = n * weight;
    weight = contribution * 1.6f;
    if (weight > 1.0f) weight = 1.0f;
    sum += amp * contribution;
    norm += amp;
    const float rx = 0.7374f * x - 0.6755f * y;
    const float ry = 0.6755f * x + 0.7374f * y;
    x = rx * 2.07f - 5.13f;
    y = ry * 2.07f + 11.7f;
    amp *= gain;
  }
  return sum / norm;
}

inline float smoothstep(float e0, float e1, float x) {
  float t = (x - e0) / (e1 - e0);
  t = t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : t);
  return t * t * (3.0f - 2.0f * t);
}

}  // namespace plate

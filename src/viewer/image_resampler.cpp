#include "viewer/image_resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if (defined(__SSE2__) || defined(_M_X64)) && !defined(TESSARY_NO_SIMD)
#include <emmintrin.h>
#define TESSARY_SSE2 1
#endif

namespace tessary {
namespace {

// Fixed-point scales: filter weights sum to 2^14; the intermediate rows hold four
// times the channel value, so a vertical sum is the value times 2^16.
constexpr int kWeightBits = 14;
constexpr int kWeightOne = 1 << kWeightBits;

struct Span {
  std::int32_t begin = 0;
  std::int32_t end = 0;
  bool empty() const { return end <= begin; }
};

// Target pixels whose centres lie in [lo, hi) and inside [clipLo, clipHi).
Span centreSpan(double lo, double hi, std::int32_t clipLo, std::int32_t clipHi) {
  lo = std::max(lo, static_cast<double>(clipLo));
  hi = std::min(hi, static_cast<double>(clipHi));
  if (!(hi > lo)) return {};
  Span span;
  span.begin = static_cast<std::int32_t>(std::ceil(lo - 0.5));
  span.end = static_cast<std::int32_t>(std::ceil(hi - 0.5));
  span.begin = std::clamp(span.begin, clipLo, clipHi);
  span.end = std::clamp(span.end, span.begin, clipHi);
  return span;
}

// Keys' cubic with a = -0.5 (Catmull-Rom): interpolates, sharp, little ringing.
double cubic(double t) {
  t = std::fabs(t);
  if (t < 1.0) return (1.5 * t - 2.5) * t * t + 1.0;
  if (t < 2.0) return ((-0.5 * t + 2.5) * t - 4.0) * t + 2.0;
  return 0.0;
}

// The taps of a one-dimensional resampling: for each output, `count` consecutive
// source positions from `first`, with integer weights summing to 2^14.
struct Taps {
  std::int32_t count = 0;  // even
  std::vector<std::int32_t> first;
  std::vector<std::int16_t> weights;  // outputs x count
};

Taps makeTaps(std::int32_t outBegin, std::int32_t outCount, double origin, double scale) {
  // Reducing widens the kernel so that it covers every source pixel under the
  // output pixel; enlarging keeps the plain interpolating kernel, and so does a
  // reduction by less than a tenth, which cannot alias visibly (and costs a third
  // fewer taps).
  const double f = scale > 0.9 ? 1.0 : scale;
  const double radius = 2.0 / f;
  Taps taps;
  taps.first.resize(static_cast<std::size_t>(outCount));
  std::vector<double> centres(static_cast<std::size_t>(outCount));
  std::int32_t widest = 1;
  for (std::int32_t o = 0; o < outCount; ++o) {
    const double u = (outBegin + o + 0.5 - origin) / scale - 0.5;
    const auto a = static_cast<std::int32_t>(std::floor(u - radius)) + 1;
    const auto b = static_cast<std::int32_t>(std::floor(u + radius));
    centres[static_cast<std::size_t>(o)] = u;
    taps.first[static_cast<std::size_t>(o)] = a;
    widest = std::max(widest, b - a + 1);
  }
  taps.count = (widest + 1) & ~1;
  taps.weights.resize(static_cast<std::size_t>(outCount) * taps.count);
  std::vector<double> w(static_cast<std::size_t>(taps.count));
  for (std::int32_t o = 0; o < outCount; ++o) {
    const double u = centres[static_cast<std::size_t>(o)];
    const std::int32_t a = taps.first[static_cast<std::size_t>(o)];
    double sum = 0;
    for (std::int32_t k = 0; k < taps.count; ++k) {
      w[static_cast<std::size_t>(k)] = cubic((a + k - u) * f);
      sum += w[static_cast<std::size_t>(k)];
    }
    std::int16_t* out = &taps.weights[static_cast<std::size_t>(o) * taps.count];
    std::int32_t total = 0;
    std::int32_t largest = 0;
    for (std::int32_t k = 0; k < taps.count; ++k) {
      out[k] = static_cast<std::int16_t>(std::lround(w[static_cast<std::size_t>(k)] / sum * kWeightOne));
      total += out[k];
      if (out[k] > out[largest]) largest = k;
    }
    out[largest] = static_cast<std::int16_t>(out[largest] + (kWeightOne - total));
  }
  return taps;
}

inline std::uint8_t premultiplied(std::uint8_t c, std::uint8_t a) {
  return static_cast<std::uint8_t>((c * a + 127) / 255);
}

// Puts a premultiplied pixel over a premultiplied target pixel.
inline void blendOver(std::uint8_t* d, const std::uint8_t* s) {
  const int inverse = 255 - s[3];
  for (int c = 0; c < 4; ++c) d[c] = static_cast<std::uint8_t>(s[c] + (d[c] * inverse + 127) / 255);
}

bool opaqueRun(const std::uint8_t* p, std::size_t pixels) {
  std::size_t i = 0;
#ifdef TESSARY_SSE2
  const __m128i colourBits = _mm_set1_epi32(0x00FFFFFF);
  const __m128i ones = _mm_set1_epi32(-1);
  for (; i + 4 <= pixels; i += 4) {
    const __m128i v = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i * 4)), colourBits);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, ones)) != 0xFFFF) return false;
  }
#endif
  for (; i < pixels; ++i) {
    if (p[i * 4 + 3] != 255) return false;
  }
  return true;
}

void drawNearest(const SourcePixels& source, const TargetPixels& target, Span xs, Span ys, double originX,
                 double originY, double scaleX, double scaleY) {
  const std::int32_t lastColumn = static_cast<std::int32_t>(source.width) - 1;
  const std::int32_t lastRow = static_cast<std::int32_t>(source.height) - 1;
  std::vector<std::int32_t> column(static_cast<std::size_t>(xs.end - xs.begin));
  for (std::int32_t x = xs.begin; x < xs.end; ++x) {
    const double u = std::floor((x + 0.5 - originX) / scaleX);
    column[static_cast<std::size_t>(x - xs.begin)] = static_cast<std::int32_t>(std::clamp(u, 0.0, double(lastColumn)));
  }
  const std::size_t rowBytes = static_cast<std::size_t>(xs.end - xs.begin) * 4;
  std::int32_t previousSourceRow = -1;
  bool previousOpaque = false;
  for (std::int32_t y = ys.begin; y < ys.end; ++y) {
    const double v = std::floor((y + 0.5 - originY) / scaleY);
    const auto sy = static_cast<std::int32_t>(std::clamp(v, 0.0, double(lastRow)));
    std::uint8_t* out = target.bgra + static_cast<std::size_t>(y) * target.stride + static_cast<std::size_t>(xs.begin) * 4;
    if (sy == previousSourceRow && previousOpaque) {
      // An enlarged row repeats the one above it exactly.
      std::memcpy(out, out - target.stride, rowBytes);
      continue;
    }
    const std::uint8_t* in = source.bgra + static_cast<std::size_t>(sy) * source.width * 4;
    bool opaque = true;
    for (std::size_t i = 0; i < column.size(); ++i) {
      const std::uint8_t* s = in + static_cast<std::size_t>(column[i]) * 4;
      std::uint8_t* d = out + i * 4;
      if (s[3] == 255) {
        std::memcpy(d, s, 4);
      } else {
        opaque = false;
        const std::uint8_t p[4] = {premultiplied(s[0], s[3]), premultiplied(s[1], s[3]), premultiplied(s[2], s[3]), s[3]};
        blendOver(d, p);
      }
    }
    previousSourceRow = sy;
    previousOpaque = opaque;
  }
}

#ifdef TESSARY_SSE2
// Two neighbouring taps' weights, repeated for the four channels, in the order
// _mm_madd_epi16 pairs them.
struct alignas(16) WeightPair {
  WeightPair() = default;
  WeightPair(std::int16_t first, std::int16_t second) {
    for (int i = 0; i < 8; i += 2) {
      w[i] = first;
      w[i + 1] = second;
    }
  }
  __m128i load() const { return _mm_load_si128(reinterpret_cast<const __m128i*>(w)); }
  std::int16_t w[8] = {};
};
#endif

// Scratch memory of the window thread, kept between paints.
struct Scratch {
  std::vector<std::uint8_t> row;
  std::vector<std::int16_t> rows;
};
Scratch& scratch() {
  static thread_local Scratch s;
  return s;
}

void drawBicubic(const SourcePixels& source, const TargetPixels& target, Span xs, Span ys, double originX,
                 double originY, double scaleX, double scaleY) {
  const std::int32_t outW = xs.end - xs.begin;
  const std::int32_t outH = ys.end - ys.begin;
  const std::int32_t paddedW = (outW + 1) & ~1;
  const Taps hTaps = makeTaps(xs.begin, paddedW, originX, scaleX);
  const Taps vTaps = makeTaps(ys.begin, outH, originY, scaleY);
  const auto sw = static_cast<std::int32_t>(source.width);
  const auto sh = static_cast<std::int32_t>(source.height);

  // Source columns the horizontal taps reach (outside the image: the edge repeats)
  // and source rows the vertical taps reach (clamped to the image).
  const std::int32_t spanLo = hTaps.first.front();
  const std::int32_t spanHi = hTaps.first.back() + hTaps.count;
  const std::int32_t rowLo = std::clamp(vTaps.first.front(), 0, sh - 1);
  const std::int32_t rowHi = std::clamp(vTaps.first.back() + vTaps.count - 1, 0, sh - 1) + 1;
  const std::size_t interStride = static_cast<std::size_t>(paddedW) * 4;  // int16 values per row

  Scratch& s = scratch();
  s.rows.resize(interStride * static_cast<std::size_t>(rowHi - rowLo));
  s.row.resize(static_cast<std::size_t>(spanHi - spanLo) * 4 + 16);

  const std::int32_t clampedLo = std::max(spanLo, 0);
  const std::int32_t clampedHi = std::min(spanHi, sw);
  const bool spanInside = spanLo >= 0 && spanHi <= sw;
  const std::int32_t pairs = hTaps.count / 2;

#ifdef TESSARY_SSE2
  std::vector<WeightPair> hPairs(static_cast<std::size_t>(paddedW) * pairs);
  for (std::int32_t o = 0; o < paddedW; ++o) {
    const std::int16_t* w = &hTaps.weights[static_cast<std::size_t>(o) * hTaps.count];
    for (std::int32_t k = 0; k < pairs; ++k) hPairs[static_cast<std::size_t>(o) * pairs + k] = WeightPair(w[2 * k], w[2 * k + 1]);
  }
#endif

  // Horizontal pass: every reached source row, premultiplied, into the
  // intermediate rows.
  for (std::int32_t r = rowLo; r < rowHi; ++r) {
    const std::uint8_t* in = source.bgra + static_cast<std::size_t>(r) * source.width * 4;
    const bool opaque = opaqueRun(in + static_cast<std::size_t>(clampedLo) * 4,
                                  static_cast<std::size_t>(clampedHi - clampedLo));
    const std::uint8_t* base;  // pixel spanLo of this row
    if (opaque && spanInside) {
      base = in + static_cast<std::size_t>(spanLo) * 4;
    } else {
      std::uint8_t* row = s.row.data();
      for (std::int32_t x = spanLo; x < spanHi; ++x) {
        const std::uint8_t* p = in + static_cast<std::size_t>(std::clamp(x, 0, sw - 1)) * 4;
        std::uint8_t* q = row + static_cast<std::size_t>(x - spanLo) * 4;
        if (opaque) {
          std::memcpy(q, p, 4);
        } else {
          q[0] = premultiplied(p[0], p[3]);
          q[1] = premultiplied(p[1], p[3]);
          q[2] = premultiplied(p[2], p[3]);
          q[3] = p[3];
        }
      }
      base = row;
    }
    std::int16_t* out = &s.rows[static_cast<std::size_t>(r - rowLo) * interStride];
#ifdef TESSARY_SSE2
    const __m128i zero = _mm_setzero_si128();
    const __m128i round = _mm_set1_epi32(1 << (kWeightBits - 3));
    for (std::int32_t o = 0; o < paddedW; ++o) {
      const std::uint8_t* p = base + static_cast<std::size_t>(hTaps.first[static_cast<std::size_t>(o)] - spanLo) * 4;
      const WeightPair* w = &hPairs[static_cast<std::size_t>(o) * pairs];
      __m128i acc = _mm_setzero_si128();
      for (std::int32_t k = 0; k < pairs; ++k) {
        // Two neighbouring pixels, channels paired: b0 b1 g0 g1 r0 r1 a0 a1.
        const __m128i two = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 8 * k));
        const __m128i paired = _mm_unpacklo_epi8(_mm_unpacklo_epi8(two, _mm_srli_si128(two, 4)), zero);
        acc = _mm_add_epi32(acc, _mm_madd_epi16(paired, w[k].load()));
      }
      acc = _mm_srai_epi32(_mm_add_epi32(acc, round), kWeightBits - 2);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + static_cast<std::size_t>(o) * 4), _mm_packs_epi32(acc, acc));
    }
#else
    for (std::int32_t o = 0; o < paddedW; ++o) {
      const std::uint8_t* p = base + static_cast<std::size_t>(hTaps.first[static_cast<std::size_t>(o)] - spanLo) * 4;
      const std::int16_t* w = &hTaps.weights[static_cast<std::size_t>(o) * hTaps.count];
      for (int c = 0; c < 4; ++c) {
        std::int32_t acc = 0;
        for (std::int32_t k = 0; k < hTaps.count; ++k) acc += p[k * 4 + c] * w[k];
        out[o * 4 + c] = static_cast<std::int16_t>((acc + (1 << (kWeightBits - 3))) >> (kWeightBits - 2));
      }
    }
#endif
  }

  // Vertical pass into the target, over what is already there.
  std::vector<const std::int16_t*> rowOf(static_cast<std::size_t>(vTaps.count));
#ifdef TESSARY_SSE2
  std::vector<WeightPair> vPairs(static_cast<std::size_t>(vTaps.count / 2));
#endif
  for (std::int32_t y = 0; y < outH; ++y) {
    const std::int32_t first = vTaps.first[static_cast<std::size_t>(y)];
    const std::int16_t* w = &vTaps.weights[static_cast<std::size_t>(y) * vTaps.count];
    for (std::int32_t k = 0; k < vTaps.count; ++k) {
      const std::int32_t r = std::clamp(first + k, 0, sh - 1);
      rowOf[static_cast<std::size_t>(k)] = &s.rows[static_cast<std::size_t>(r - rowLo) * interStride];
    }
    std::uint8_t* out = target.bgra + static_cast<std::size_t>(ys.begin + y) * target.stride +
                        static_cast<std::size_t>(xs.begin) * 4;
#ifdef TESSARY_SSE2
    for (std::int32_t k = 0; k < vTaps.count / 2; ++k) vPairs[static_cast<std::size_t>(k)] = WeightPair(w[2 * k], w[2 * k + 1]);
    const __m128i round = _mm_set1_epi32(1 << 15);
    for (std::int32_t o = 0; o < outW; o += 2) {
      __m128i acc0 = _mm_setzero_si128();
      __m128i acc1 = _mm_setzero_si128();
      for (std::int32_t k = 0; k < vTaps.count / 2; ++k) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rowOf[2 * k] + o * 4));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rowOf[2 * k + 1] + o * 4));
        const __m128i pair = vPairs[static_cast<std::size_t>(k)].load();
        acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), pair));
        acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), pair));
      }
      acc0 = _mm_srai_epi32(_mm_add_epi32(acc0, round), 16);
      acc1 = _mm_srai_epi32(_mm_add_epi32(acc1, round), 16);
      const __m128i words = _mm_packs_epi32(acc0, acc1);
      const __m128i bytes = _mm_packus_epi16(words, words);
      if (o + 1 < outW && ((_mm_extract_epi16(bytes, 1) & _mm_extract_epi16(bytes, 3)) >> 8) == 255) {
        // Two opaque pixels, the usual case.
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + static_cast<std::size_t>(o) * 4), bytes);
        continue;
      }
      alignas(16) std::uint8_t px[16];
      _mm_store_si128(reinterpret_cast<__m128i*>(px), bytes);
      const int count = std::min<std::int32_t>(2, outW - o);
      for (int i = 0; i < count; ++i) {
        std::uint8_t* p = px + 4 * i;
        std::uint8_t* d = out + static_cast<std::size_t>(o + i) * 4;
        if (p[3] == 255) {
          std::memcpy(d, p, 4);
        } else {
          p[0] = std::min(p[0], p[3]);
          p[1] = std::min(p[1], p[3]);
          p[2] = std::min(p[2], p[3]);
          blendOver(d, p);
        }
      }
    }
#else
    for (std::int32_t o = 0; o < outW; ++o) {
      std::uint8_t p[4];
      for (int c = 0; c < 4; ++c) {
        std::int32_t acc = 0;
        for (std::int32_t k = 0; k < vTaps.count; ++k) acc += rowOf[static_cast<std::size_t>(k)][o * 4 + c] * w[k];
        p[c] = static_cast<std::uint8_t>(std::clamp((acc + (1 << 15)) >> 16, 0, 255));
      }
      std::uint8_t* d = out + static_cast<std::size_t>(o) * 4;
      if (p[3] == 255) {
        std::memcpy(d, p, 4);
      } else {
        for (int c = 0; c < 3; ++c) p[c] = std::min(p[c], p[3]);
        blendOver(d, p);
      }
    }
#endif
  }
}

}  // namespace

void drawScaled(const SourcePixels& source, const TargetPixels& target, const PixelClip& clip, double originX,
                double originY, double scaleX, double scaleY, ResampleFilter filter) {
  if (source.bgra == nullptr || source.width == 0 || source.height == 0 || target.bgra == nullptr) return;
  if (!(scaleX > 0) || !(scaleY > 0) || !std::isfinite(scaleX) || !std::isfinite(scaleY) || !std::isfinite(originX) ||
      !std::isfinite(originY)) {
    return;
  }
  const double extentX = source.extentX > 0 ? std::min<double>(source.extentX, source.width) : source.width;
  const double extentY = source.extentY > 0 ? std::min<double>(source.extentY, source.height) : source.height;
  const Span xs = centreSpan(originX, originX + extentX * scaleX, std::max(clip.left, 0),
                             std::min(clip.right, target.width));
  const Span ys = centreSpan(originY, originY + extentY * scaleY, std::max(clip.top, 0),
                             std::min(clip.bottom, target.height));
  if (xs.empty() || ys.empty()) return;
  if (filter == ResampleFilter::Nearest) {
    drawNearest(source, target, xs, ys, originX, originY, scaleX, scaleY);
  } else {
    drawBicubic(source, target, xs, ys, originX, originY, scaleX, scaleY);
  }
}

}  // namespace tessary

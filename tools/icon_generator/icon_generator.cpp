// Draws the program icon at every size Windows asks for and writes one .ico file
// whose images are PNG-compressed.
//
// The artwork: a dark rounded square (the window background colour) carrying two
// overlapping rounded-square outlines, the upper-left one lavender, the lower-right
// one orange, with a small white crosshair at the centre of the orange one. Every
// shape is described by its signed distance and sampled 4 x 4 times per pixel, so
// edges are anti-aliased at any size.
//
// Usage: icon_generator <output.ico>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Rgb {
  double r, g, b;
};

constexpr Rgb kBackground{25, 30, 49};    // FF191E31
constexpr Rgb kHighlight{185, 177, 249};  // FFB9B1F9
constexpr Rgb kAccent{255, 184, 133};     // FFFFB885
constexpr Rgb kWhite{255, 255, 255};

constexpr int kSizes[] = {16, 20, 24, 32, 48, 64, 128, 256};

// Straight-alpha colour of one sample while it is composed; channels 0..255,
// alpha 0..1.
struct Sample {
  double r = 0, g = 0, b = 0, a = 0;
};

// Signed distance from (px, py) to a rounded rectangle given by its centre, half
// sizes and corner radius; negative inside.
double roundedRectDistance(double px, double py, double cx, double cy, double halfW, double halfH, double radius) {
  const double qx = std::fabs(px - cx) - (halfW - radius);
  const double qy = std::fabs(py - cy) - (halfH - radius);
  const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
  const double inside = std::min(std::max(qx, qy), 0.0);
  return outside + inside - radius;
}

void paintOver(Sample& p, const Rgb& c, double alpha) {
  if (alpha <= 0) return;
  const double outA = alpha + p.a * (1 - alpha);
  p.r = (c.r * alpha + p.r * p.a * (1 - alpha)) / outA;
  p.g = (c.g * alpha + p.g * p.a * (1 - alpha)) / outA;
  p.b = (c.b * alpha + p.b * p.a * (1 - alpha)) / outA;
  p.a = outA;
}

// RGBA rows, top to bottom, straight alpha.
std::vector<std::uint8_t> drawIcon(int size) {
  const double s = size;
  // Line widths grow with the size but never fall below one pixel.
  const double stroke = std::max(1.0, s * 0.065);
  const double crossStroke = std::max(1.0, s * 0.045);

  const double plateHalf = s * 0.5 - std::max(0.5, s * 0.02);
  const double plateRadius = s * 0.2;
  // Two squares of equal size, offset along the diagonal so that they overlap.
  const double squareHalf = s * 0.22;
  const double squareRadius = s * 0.07;
  const double lavenderCentre = s * 0.39;
  const double orangeCentre = s * 0.61;
  const double crossHalf = s * 0.1;

  constexpr int kSamples = 4;
  // Coverage of one sample by a shape whose signed distance (pixels) at the sample
  // is d: a linear ramp one sample wide across the edge.
  auto cover = [](double d) { return std::clamp(0.5 - d * kSamples, 0.0, 1.0); };

  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(size) * size * 4);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      double accR = 0, accG = 0, accB = 0, accA = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const double px = x + (sx + 0.5) / kSamples;
          const double py = y + (sy + 0.5) / kSamples;
          Sample p;
          paintOver(p, kBackground, cover(roundedRectDistance(px, py, s / 2, s / 2, plateHalf, plateHalf, plateRadius)));
          const double lavender =
              roundedRectDistance(px, py, lavenderCentre, lavenderCentre, squareHalf, squareHalf, squareRadius);
          paintOver(p, kHighlight, cover(std::fabs(lavender) - stroke / 2));
          const double orange =
              roundedRectDistance(px, py, orangeCentre, orangeCentre, squareHalf, squareHalf, squareRadius);
          paintOver(p, kAccent, cover(std::fabs(orange) - stroke / 2));
          const double across = roundedRectDistance(px, py, orangeCentre, orangeCentre, crossHalf, crossStroke / 2, 0);
          const double down = roundedRectDistance(px, py, orangeCentre, orangeCentre, crossStroke / 2, crossHalf, 0);
          paintOver(p, kWhite, cover(std::min(across, down)));
          // Average premultiplied, so transparent samples do not darken the edge.
          accR += p.r * p.a;
          accG += p.g * p.a;
          accB += p.b * p.a;
          accA += p.a;
        }
      }
      const double a = accA / (kSamples * kSamples);
      std::uint8_t* out = &rgba[(static_cast<std::size_t>(y) * size + x) * 4];
      if (accA > 0) {
        out[0] = static_cast<std::uint8_t>(std::lround(std::clamp(accR / accA, 0.0, 255.0)));
        out[1] = static_cast<std::uint8_t>(std::lround(std::clamp(accG / accA, 0.0, 255.0)));
        out[2] = static_cast<std::uint8_t>(std::lround(std::clamp(accB / accA, 0.0, 255.0)));
      }
      out[3] = static_cast<std::uint8_t>(std::lround(std::clamp(a * 255.0, 0.0, 255.0)));
    }
  }
  return rgba;
}

void putBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 24));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void putChunk(std::vector<std::uint8_t>& png, const char type[4], const std::vector<std::uint8_t>& data) {
  putBigEndian32(png, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeAt = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  const uLong crc = crc32(0L, png.data() + typeAt, static_cast<uInt>(4 + data.size()));
  putBigEndian32(png, static_cast<std::uint32_t>(crc));
}

// An 8-bit RGBA PNG, not interlaced, every row with filter type 0.
std::vector<std::uint8_t> encodePng(int size, const std::vector<std::uint8_t>& rgba) {
  std::vector<std::uint8_t> raw;
  raw.reserve(static_cast<std::size_t>(size) * (size * 4 + 1));
  for (int y = 0; y < size; ++y) {
    raw.push_back(0);
    const auto row = rgba.begin() + static_cast<std::ptrdiff_t>(y) * size * 4;
    raw.insert(raw.end(), row, row + size * 4);
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) != Z_OK) {
    throw std::runtime_error("zlib compression failed");
  }
  packed.resize(packedSize);

  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  putBigEndian32(header, static_cast<std::uint32_t>(size));
  putBigEndian32(header, static_cast<std::uint32_t>(size));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // depth 8, RGBA, deflate, filter 0, no interlace
  putChunk(png, "IHDR", header);
  putChunk(png, "IDAT", packed);
  putChunk(png, "IEND", {});
  return png;
}

void putLittle16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void putLittle32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// ICONDIR, one ICONDIRENTRY per image, then the PNG images in the same order.
std::vector<std::uint8_t> packIco(const std::vector<std::vector<std::uint8_t>>& pngs) {
  std::vector<std::uint8_t> ico;
  putLittle16(ico, 0);  // reserved
  putLittle16(ico, 1);  // icon
  putLittle16(ico, static_cast<std::uint16_t>(pngs.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * pngs.size());
  for (std::size_t i = 0; i < pngs.size(); ++i) {
    const int size = kSizes[i];
    ico.push_back(static_cast<std::uint8_t>(size >= 256 ? 0 : size));  // 0 means 256
    ico.push_back(static_cast<std::uint8_t>(size >= 256 ? 0 : size));
    ico.push_back(0);     // no palette
    ico.push_back(0);     // reserved
    putLittle16(ico, 1);  // planes
    putLittle16(ico, 32);  // bits per pixel
    putLittle32(ico, static_cast<std::uint32_t>(pngs[i].size()));
    putLittle32(ico, offset);
    offset += static_cast<std::uint32_t>(pngs[i].size());
  }
  for (const auto& png : pngs) ico.insert(ico.end(), png.begin(), png.end());
  return ico;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: icon_generator <output.ico>\n");
    return 2;
  }
  try {
    std::vector<std::vector<std::uint8_t>> pngs;
    for (int size : kSizes) pngs.push_back(encodePng(size, drawIcon(size)));
    const std::vector<std::uint8_t> ico = packIco(pngs);
    const std::string target = argv[1];
    const std::string temporary = target + ".tmp";
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(ico.data()), static_cast<std::streamsize>(ico.size()));
      if (!out.flush()) throw std::runtime_error("cannot write " + temporary);
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) throw std::runtime_error("cannot replace " + target);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "icon_generator: %s\n", e.what());
    return 1;
  }
  return 0;
}

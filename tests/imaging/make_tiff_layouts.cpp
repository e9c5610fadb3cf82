// Host tool behind make_tiff_layouts.sh: writes ordinary TIFFs in many layouts with
// libtiff itself (and, for what libtiff will not write, with the tests' own writer),
// reads each back with libtiff's RGBA reader and prints one line per file:
//   <name> <writer> <libtiff outcome> <path>
// where the outcome is "gradient" when libtiff gives exactly the pixels written (the
// gradient below), "other" when it reads the file with other pixels (lossy JPEG) and
// "refused" when it cannot read it. Files made by ImageMagick are only read here.
//
//   make_tiff_layouts write <folder>        writes the libtiff and own-writer files
//   make_tiff_layouts read <name> <writer> <file>   reads one file, prints its line
//
// The gradient: pixel (x, y) of a width x height image is red 13x, green 17y, blue
// 180 (bytes wrap); grey images hold (13x + 17y) mod 256; alpha is 255; 16-bit samples
// are the 8-bit value times 257, so that every reader's reduction to 8 bits agrees.
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tiff_writer.h"

namespace {

constexpr std::uint32_t kWidth = 40;
constexpr std::uint32_t kHeight = 33;

std::uint8_t sample(std::uint32_t x, std::uint32_t y, std::uint32_t channel, std::uint32_t samples) {
  if (samples <= 2) return channel == 0 ? static_cast<std::uint8_t>(13 * x + 17 * y) : 255;
  switch (channel) {
    case 0: return static_cast<std::uint8_t>(13 * x);
    case 1: return static_cast<std::uint8_t>(17 * y);
    case 2: return 180;
    default: return 255;
  }
}

struct Layout {
  const char* name;
  std::uint16_t samples = 3;
  std::uint16_t bits = 8;
  std::uint16_t planar = PLANARCONFIG_CONTIG;
  std::uint32_t tile = 0;  // tile side, or 0 for strips
  std::uint32_t rowsPerStrip = 5;
  std::uint16_t compression = COMPRESSION_NONE;
  bool bigEndian = false;
  bool dropByteCounts = false;   // the StripByteCounts entry taken out afterwards
  bool reducedFirst = false;     // a half-size reduced-resolution directory first
};

// Writes one image of w x h as the current directory.
bool writeImage(TIFF* tiff, const Layout& l, std::uint32_t w, std::uint32_t h) {
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, l.samples);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, l.bits);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, l.planar);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, l.compression);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, l.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  if (l.samples == 4 || l.samples == 2) {
    const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  if (l.compression == COMPRESSION_JPEG) {
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, 95);
  }
  const std::uint32_t pieceW = l.tile != 0 ? l.tile : w;
  const std::uint32_t pieceH = l.tile != 0 ? l.tile : l.rowsPerStrip;
  if (l.tile != 0) {
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, l.tile);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, l.tile);
  } else {
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, l.rowsPerStrip);
  }
  const std::uint32_t bytesPerSample = l.bits / 8;
  const std::uint32_t planes = l.planar == PLANARCONFIG_SEPARATE ? l.samples : 1;
  const std::uint32_t perPixel = l.planar == PLANARCONFIG_SEPARATE ? 1 : l.samples;
  const std::uint32_t across = (w + pieceW - 1) / pieceW;
  const std::uint32_t down = (h + pieceH - 1) / pieceH;
  std::uint32_t index = 0;
  for (std::uint32_t plane = 0; plane < planes; ++plane) {
    for (std::uint32_t ty = 0; ty < down; ++ty) {
      for (std::uint32_t tx = 0; tx < across; ++tx, ++index) {
        const std::uint32_t rows = l.tile != 0 ? pieceH : std::min(pieceH, h - ty * pieceH);
        std::vector<std::uint8_t> piece(std::size_t{pieceW} * rows * perPixel * bytesPerSample, 0);
        for (std::uint32_t y = 0; y < rows; ++y) {
          for (std::uint32_t x = 0; x < pieceW; ++x) {
            const std::uint32_t ix = tx * pieceW + x, iy = ty * pieceH + y;
            if (ix >= w || iy >= h) continue;
            for (std::uint32_t c = 0; c < perPixel; ++c) {
              const std::uint8_t v = sample(ix, iy, planes > 1 ? plane : c, l.samples);
              std::uint8_t* p = &piece[((std::size_t{y} * pieceW + x) * perPixel + c) * bytesPerSample];
              if (bytesPerSample == 2) {
                const std::uint16_t v16 = static_cast<std::uint16_t>(v * 257);
                std::memcpy(p, &v16, 2);  // native order: libtiff swaps as the file needs
              } else {
                *p = v;
              }
            }
          }
        }
        const tmsize_t written = l.tile != 0
                                     ? TIFFWriteEncodedTile(tiff, index, piece.data(), static_cast<tmsize_t>(piece.size()))
                                     : TIFFWriteEncodedStrip(tiff, index, piece.data(), static_cast<tmsize_t>(piece.size()));
        if (written < 0) return false;
      }
    }
  }
  return TIFFWriteDirectory(tiff) != 0;
}

std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

// Takes the StripByteCounts entry out of the first directory (a classic TIFF).
void dropByteCounts(const std::string& path) {
  std::vector<std::uint8_t> b = readFile(path);
  const bool big = b[0] == 'M';
  const auto u16 = [&](std::size_t at) { return big ? (b[at] << 8) | b[at + 1] : b[at] | (b[at + 1] << 8); };
  const auto u32 = [&](std::size_t at) {
    return big ? (std::uint32_t{b[at]} << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3]
               : b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
  };
  const std::size_t dir = u32(4);
  const std::uint32_t n = u16(dir);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::size_t at = dir + 2 + 12 * i;
    if (u16(at) != TIFFTAG_STRIPBYTECOUNTS) continue;
    // The entries after it and the next-directory offset move up by one entry.
    std::memmove(&b[at], &b[at + 12], 12 * (n - 1 - i) + 4);
    const std::uint32_t m = n - 1;
    b[dir] = static_cast<std::uint8_t>(big ? m >> 8 : m);
    b[dir + 1] = static_cast<std::uint8_t>(big ? m : m >> 8);
    break;
  }
  writeFile(path, b);
}

bool writeLibtiff(const std::string& path, const Layout& l) {
  TIFF* tiff = TIFFOpen(path.c_str(), l.bigEndian ? "wb" : "wl");
  if (tiff == nullptr) return false;
  bool ok = true;
  if (l.reducedFirst) {
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    ok = writeImage(tiff, l, kWidth / 2, kHeight / 2);
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, 0);
  }
  ok = ok && writeImage(tiff, l, kWidth, kHeight);
  TIFFClose(tiff);
  if (ok && l.dropByteCounts) dropByteCounts(path);
  return ok;
}

int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// libtiff's reading of the first directory, as "gradient", "other" or "refused".
std::string libtiffOutcome(const std::string& path) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
  TIFF* tiff = TIFFOpenExt(path.c_str(), "r", options);
  TIFFOpenOptionsFree(options);
  if (tiff == nullptr) return "refused";
  std::uint32_t w = 0, h = 0;
  std::uint16_t samples = 1;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  std::vector<std::uint32_t> raster(std::size_t{w} * h);
  const int ok = TIFFReadRGBAImageOriented(tiff, w, h, raster.data(), ORIENTATION_TOPLEFT, 0);
  TIFFClose(tiff);
  if (!ok) return "refused";
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      const std::uint32_t p = raster[std::size_t{y} * w + x];
      const std::uint8_t r = sample(x, y, 0, samples);
      const std::uint8_t g = samples <= 2 ? r : sample(x, y, 1, samples);
      const std::uint8_t b = samples <= 2 ? r : sample(x, y, 2, samples);
      if (TIFFGetR(p) != r || TIFFGetG(p) != g || TIFFGetB(p) != b || TIFFGetA(p) != 255) return "other";
    }
  }
  return "gradient";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "read") == 0) {
    std::printf("%s %s %s %s\n", argv[2], argv[3], libtiffOutcome(argv[4]).c_str(), argv[4]);
    return 0;
  }
  if (argc != 3 || std::strcmp(argv[1], "write") != 0) {
    std::fprintf(stderr, "usage: make_tiff_layouts write <folder> | read <name> <writer> <file>\n");
    return 2;
  }
  const std::string folder = argv[2];
  const Layout layouts[] = {
      {.name = "strips-5-none-rgb8"},
      {.name = "strips-5-lzw-rgb8", .compression = COMPRESSION_LZW},
      {.name = "strips-5-deflate-rgb8", .compression = COMPRESSION_ADOBE_DEFLATE},
      {.name = "strips-5-packbits-rgb8", .compression = COMPRESSION_PACKBITS},
      {.name = "strips-5-none-rgb16", .bits = 16},
      {.name = "strips-8-lzw-rgba16", .samples = 4, .bits = 16, .rowsPerStrip = 8, .compression = COMPRESSION_LZW},
      {.name = "strips-5-deflate-rgba8", .samples = 4, .compression = COMPRESSION_ADOBE_DEFLATE},
      {.name = "strips-5-lzw-grey8", .samples = 1, .compression = COMPRESSION_LZW},
      {.name = "strips-5-packbits-grey16", .samples = 1, .bits = 16, .compression = COMPRESSION_PACKBITS},
      {.name = "strips-5-none-rgb16-mm", .bits = 16, .bigEndian = true},
      {.name = "strips-5-lzw-rgb8-mm", .compression = COMPRESSION_LZW, .bigEndian = true},
      {.name = "one-strip-none-rgb8-no-bytecounts", .rowsPerStrip = kHeight, .dropByteCounts = true},
      {.name = "one-strip-lzw-rgb8-no-bytecounts", .rowsPerStrip = kHeight, .compression = COMPRESSION_LZW,
       .dropByteCounts = true},
      {.name = "one-strip-none-rgb16-no-bytecounts", .bits = 16, .rowsPerStrip = kHeight, .dropByteCounts = true},
      {.name = "tiles-16-none-rgb8", .tile = 16},
      {.name = "tiles-16-lzw-rgb16", .bits = 16, .tile = 16, .compression = COMPRESSION_LZW},
      {.name = "tiles-16-deflate-rgba8", .samples = 4, .tile = 16, .compression = COMPRESSION_ADOBE_DEFLATE},
      {.name = "tiles-16-packbits-grey8", .samples = 1, .tile = 16, .compression = COMPRESSION_PACKBITS},
      {.name = "tiles-256-deflate-rgb8", .tile = 256, .compression = COMPRESSION_ADOBE_DEFLATE},
      {.name = "tiles-256-packbits-rgba16", .samples = 4, .bits = 16, .tile = 256, .compression = COMPRESSION_PACKBITS},
      {.name = "tiles-256-lzw-rgb16-mm", .bits = 16, .tile = 256, .compression = COMPRESSION_LZW, .bigEndian = true},
      {.name = "planar2-strips-5-none-rgb8", .planar = PLANARCONFIG_SEPARATE},
      {.name = "planar2-strips-5-lzw-rgb16", .bits = 16, .planar = PLANARCONFIG_SEPARATE, .compression = COMPRESSION_LZW},
      {.name = "planar2-tiles-16-deflate-rgb8", .planar = PLANARCONFIG_SEPARATE, .tile = 16,
       .compression = COMPRESSION_ADOBE_DEFLATE},
      {.name = "reduced-first-strips-5-lzw-rgb8", .compression = COMPRESSION_LZW, .reducedFirst = true},
      {.name = "strips-16-jpeg-ycbcr8", .rowsPerStrip = 16, .compression = COMPRESSION_JPEG},
  };
  for (const Layout& l : layouts) {
    const std::string path = folder + "/" + l.name + ".tif";
    if (!writeLibtiff(path, l)) {
      std::fprintf(stderr, "libtiff could not write %s\n", l.name);
      return 1;
    }
    std::printf("%s libtiff %s %s\n", l.name, libtiffOutcome(path).c_str(), path.c_str());
  }
  // Tiles whose sides are not multiples of 16: libtiff reads them (with a warning) but
  // will not write them, so the tests' own writer makes them.
  namespace it = tessary::imagetest;
  struct Own {
    const char* name;
    it::TiffFile tiff;
  };
  it::TiffFile longLists = it::rgbTiff(kWidth, kHeight, 0, 5);
  longLists.find(273)->values.push_back(it::kTiffPiece);  // one strip offset and byte count too many
  longLists.find(279)->values.push_back(longLists.find(279)->values.back());
  const Own own[] = {
      {"tiles-24-none-rgb8", it::rgbTiff(kWidth, kHeight, 24, 24)},
      {"tiles-24x40-none-rgb8-mm", it::rgbTiff(kWidth, kHeight, 24, 40, true)},
      {"strips-5-none-rgb8-lists-one-long", longLists},
  };
  for (const Own& o : own) {
    const std::string path = folder + "/" + o.name + ".tif";
    writeFile(path, o.tiff.bytes());
    std::printf("%s own %s %s\n", o.name, libtiffOutcome(path).c_str(), path.c_str());
  }
  return 0;
}

#pragma once
// Writers of the three small self-test images (16 x 12 gradient whose pixel (x, y)
// is blue 180, green 17 * y, red 13 * x) as a 24-bit BMP, an uncompressed RGB TIFF
// and a baseline JPEG, built byte by byte. Header-only and free of any platform
// library, so the build's generator and the image tests share the very same bytes.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace tessary::testimages {

// Pixels top to bottom, left to right, three bytes each in the order red, green, blue.
struct RgbImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgb;
};

inline RgbImage gradientImage(std::uint32_t width = 16, std::uint32_t height = 12) {
  RgbImage image{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 3)};
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint8_t* p = &image.rgb[(std::size_t{y} * width + x) * 3];
      p[0] = static_cast<std::uint8_t>(13 * x);
      p[1] = static_cast<std::uint8_t>(17 * y);
      p[2] = 180;
    }
  }
  return image;
}

namespace detail {

inline void putLe16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void putLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  putLe16(out, v & 0xFFFF);
  putLe16(out, v >> 16);
}
inline void putBe16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

}  // namespace detail

// A 24-bit BMP (BITMAPINFOHEADER, no compression, rows bottom-up, each padded to a
// multiple of four bytes).
inline std::vector<std::uint8_t> encodeBmp24(const RgbImage& image) {
  using detail::putLe16;
  using detail::putLe32;
  const std::uint32_t rowBytes = (image.width * 3 + 3) / 4 * 4;
  const std::uint32_t dataBytes = rowBytes * image.height;
  std::vector<std::uint8_t> out;
  out.reserve(54 + dataBytes);
  out.push_back('B');
  out.push_back('M');
  putLe32(out, 54 + dataBytes);  // file size
  putLe32(out, 0);               // reserved
  putLe32(out, 54);              // offset of the pixel data
  putLe32(out, 40);              // BITMAPINFOHEADER
  putLe32(out, image.width);
  putLe32(out, image.height);    // positive: bottom-up rows
  putLe16(out, 1);               // planes
  putLe16(out, 24);              // bits per pixel
  putLe32(out, 0);               // BI_RGB
  putLe32(out, dataBytes);
  putLe32(out, 2835);            // 72 dpi
  putLe32(out, 2835);
  putLe32(out, 0);
  putLe32(out, 0);
  for (std::uint32_t row = image.height; row-- > 0;) {
    for (std::uint32_t x = 0; x < image.width; ++x) {
      const std::uint8_t* p = &image.rgb[(std::size_t{row} * image.width + x) * 3];
      out.push_back(p[2]);
      out.push_back(p[1]);
      out.push_back(p[0]);
    }
    for (std::uint32_t pad = image.width * 3; pad < rowBytes; ++pad) {
      out.push_back(0);
    }
  }
  return out;
}

// An uncompressed, chunky 8-bit RGB TIFF with one strip per page, one directory per
// page in order; little-endian ("II") unless bigEndian ("MM").
inline std::vector<std::uint8_t> encodeTiffRgb(const std::vector<RgbImage>& pages,
                                               bool bigEndian = false) {
  std::vector<std::uint8_t> out;
  auto put16 = [&](std::uint32_t v) {
    if (bigEndian) {
      out.push_back(static_cast<std::uint8_t>(v >> 8));
      out.push_back(static_cast<std::uint8_t>(v));
    } else {
      out.push_back(static_cast<std::uint8_t>(v));
      out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  };
  auto put32 = [&](std::uint32_t v) {
    if (bigEndian) {
      put16(v >> 16);
      put16(v & 0xFFFF);
    } else {
      put16(v & 0xFFFF);
      put16(v >> 16);
    }
  };
  auto set32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      const int shift = bigEndian ? 24 - 8 * i : 8 * i;
      out[at + i] = static_cast<std::uint8_t>(v >> shift);
    }
  };
  if (bigEndian) {
    out = {'M', 'M', 0x00, 0x2A};
  } else {
    out = {'I', 'I', 0x2A, 0x00};
  }
  std::size_t nextDirectoryField = out.size();
  put32(0);

  constexpr std::uint16_t kShort = 3, kLong = 4, kRational = 5;
  constexpr std::uint32_t kEntries = 13;
  for (const RgbImage& page : pages) {
    const std::uint32_t directoryAt = static_cast<std::uint32_t>(out.size());
    set32(nextDirectoryField, directoryAt);
    const std::uint32_t extraAt = directoryAt + 2 + kEntries * 12 + 4;
    const std::uint32_t bitsAt = extraAt;          // 3 shorts (padded to 8 bytes)
    const std::uint32_t xResolutionAt = extraAt + 8;
    const std::uint32_t yResolutionAt = extraAt + 16;
    const std::uint32_t dataAt = extraAt + 24;
    const std::uint32_t dataBytes = page.width * page.height * 3;

    auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                     std::uint32_t value) {
      put16(tag);
      put16(type);
      put32(count);
      if (type == kShort && count == 1) {
        put16(value);  // a short value sits in the first two bytes of the field
        put16(0);
      } else {
        put32(value);
      }
    };
    put16(kEntries);
    entry(256, kLong, 1, page.width);       // ImageWidth
    entry(257, kLong, 1, page.height);      // ImageLength
    entry(258, kShort, 3, bitsAt);          // BitsPerSample 8, 8, 8
    entry(259, kShort, 1, 1);               // Compression: none
    entry(262, kShort, 1, 2);               // PhotometricInterpretation: RGB
    entry(273, kLong, 1, dataAt);           // StripOffsets
    entry(277, kShort, 1, 3);               // SamplesPerPixel
    entry(278, kLong, 1, page.height);      // RowsPerStrip
    entry(279, kLong, 1, dataBytes);        // StripByteCounts
    entry(282, kRational, 1, xResolutionAt);
    entry(283, kRational, 1, yResolutionAt);
    entry(284, kShort, 1, 1);               // PlanarConfiguration: chunky
    entry(296, kShort, 1, 2);               // ResolutionUnit: inch
    nextDirectoryField = out.size();
    put32(0);
    put16(8);
    put16(8);
    put16(8);
    put16(0);
    put32(72);
    put32(1);
    put32(72);
    put32(1);
    out.insert(out.end(), page.rgb.begin(), page.rgb.end());
    if (out.size() % 2 != 0) {
      out.push_back(0);  // directories start on a word boundary
    }
  }
  return out;
}

// A baseline (sequential, Huffman) JPEG with the JFIF marker, three components
// without subsampling, the example quantisation tables of the JPEG standard scaled
// to `quality` (1 to 100) and its example Huffman tables.
inline std::vector<std::uint8_t> encodeBaselineJpeg(const RgbImage& image, int quality = 90) {
  using detail::putBe16;
  static constexpr std::array<std::uint8_t, 64> kZigzag = {
      0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
      12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
      35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
      58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
  static constexpr std::array<std::uint8_t, 64> kLumaQuant = {
      16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
      14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
      18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
      49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
  static constexpr std::array<std::uint8_t, 64> kChromaQuant = {
      17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
      24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
      99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
      99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
  static constexpr std::array<std::uint8_t, 16> kDcLumaBits = {0, 1, 5, 1, 1, 1, 1, 1,
                                                               1, 0, 0, 0, 0, 0, 0, 0};
  static constexpr std::array<std::uint8_t, 16> kDcChromaBits = {0, 3, 1, 1, 1, 1, 1, 1,
                                                                 1, 1, 1, 0, 0, 0, 0, 0};
  static constexpr std::array<std::uint8_t, 12> kDcValues = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  static constexpr std::array<std::uint8_t, 16> kAcLumaBits = {0, 2, 1, 3, 3, 2, 4, 3,
                                                               5, 5, 4, 4, 0, 0, 1, 0x7d};
  static constexpr std::array<std::uint8_t, 162> kAcLumaValues = {
      0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
      0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
      0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
      0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
      0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
      0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
      0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
      0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
      0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
      0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
      0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
  static constexpr std::array<std::uint8_t, 16> kAcChromaBits = {0, 2, 1, 2, 4, 4, 3, 4,
                                                                 7, 5, 4, 4, 0, 1, 2, 0x77};
  static constexpr std::array<std::uint8_t, 162> kAcChromaValues = {
      0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
      0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
      0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
      0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
      0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
      0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
      0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
      0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
      0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
      0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
      0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

  if (image.width == 0 || image.height == 0 || image.width > 65535 || image.height > 65535 ||
      quality < 1 || quality > 100) {
    throw std::invalid_argument("JPEG size or quality out of range");
  }

  // Huffman code of each symbol, from the code-length counts (canonical order).
  struct Code {
    std::uint16_t bits = 0;
    std::uint8_t length = 0;
  };
  using CodeTable = std::array<Code, 256>;
  auto buildCodes = [](const std::array<std::uint8_t, 16>& counts, const std::uint8_t* values) {
    CodeTable table{};
    std::uint32_t code = 0;
    std::size_t k = 0;
    for (int length = 1; length <= 16; ++length) {
      for (int i = 0; i < counts[length - 1]; ++i) {
        table[values[k++]] = Code{static_cast<std::uint16_t>(code), static_cast<std::uint8_t>(length)};
        ++code;
      }
      code <<= 1;
    }
    return table;
  };
  const CodeTable dcLuma = buildCodes(kDcLumaBits, kDcValues.data());
  const CodeTable dcChroma = buildCodes(kDcChromaBits, kDcValues.data());
  const CodeTable acLuma = buildCodes(kAcLumaBits, kAcLumaValues.data());
  const CodeTable acChroma = buildCodes(kAcChromaBits, kAcChromaValues.data());

  const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  auto scaled = [scale](const std::array<std::uint8_t, 64>& base) {
    std::array<std::uint8_t, 64> q{};
    for (int i = 0; i < 64; ++i) {
      int v = (base[i] * scale + 50) / 100;
      q[i] = static_cast<std::uint8_t>(v < 1 ? 1 : (v > 255 ? 255 : v));
    }
    return q;
  };
  const std::array<std::uint8_t, 64> lumaQuant = scaled(kLumaQuant);
  const std::array<std::uint8_t, 64> chromaQuant = scaled(kChromaQuant);

  std::vector<std::uint8_t> out = {0xFF, 0xD8};
  // APP0: JFIF 1.01, no density unit, aspect 1:1, no thumbnail.
  out.insert(out.end(), {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x00,
                         0x00, 0x01, 0x00, 0x01, 0x00, 0x00});
  // DQT: two 8-bit tables in zigzag order.
  out.insert(out.end(), {0xFF, 0xDB});
  putBe16(out, 2 + 2 * 65);
  for (int table = 0; table < 2; ++table) {
    out.push_back(static_cast<std::uint8_t>(table));
    const auto& q = table == 0 ? lumaQuant : chromaQuant;
    for (int k = 0; k < 64; ++k) {
      out.push_back(q[kZigzag[k]]);
    }
  }
  // SOF0: 8-bit samples, three components at full resolution.
  out.insert(out.end(), {0xFF, 0xC0});
  putBe16(out, 17);
  out.push_back(8);
  putBe16(out, image.height);
  putBe16(out, image.width);
  out.push_back(3);
  out.insert(out.end(), {1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1});
  // DHT: the four tables.
  auto putTable = [&out](std::uint8_t classAndId, const std::array<std::uint8_t, 16>& counts,
                         const std::uint8_t* values, std::size_t valueCount) {
    out.insert(out.end(), {0xFF, 0xC4});
    putBe16(out, static_cast<std::uint32_t>(2 + 1 + 16 + valueCount));
    out.push_back(classAndId);
    out.insert(out.end(), counts.begin(), counts.end());
    out.insert(out.end(), values, values + valueCount);
  };
  putTable(0x00, kDcLumaBits, kDcValues.data(), kDcValues.size());
  putTable(0x10, kAcLumaBits, kAcLumaValues.data(), kAcLumaValues.size());
  putTable(0x01, kDcChromaBits, kDcValues.data(), kDcValues.size());
  putTable(0x11, kAcChromaBits, kAcChromaValues.data(), kAcChromaValues.size());
  // SOS: all three components, full spectral range.
  out.insert(out.end(), {0xFF, 0xDA});
  putBe16(out, 12);
  out.insert(out.end(), {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});

  // Entropy-coded data.
  std::uint32_t bitBuffer = 0;
  int bitCount = 0;
  auto putBits = [&](std::uint32_t bits, int length) {
    for (int i = length - 1; i >= 0; --i) {
      bitBuffer = (bitBuffer << 1) | ((bits >> i) & 1u);
      if (++bitCount == 8) {
        const auto byte = static_cast<std::uint8_t>(bitBuffer);
        out.push_back(byte);
        if (byte == 0xFF) {
          out.push_back(0x00);  // byte stuffing
        }
        bitBuffer = 0;
        bitCount = 0;
      }
    }
  };
  auto putCode = [&](const CodeTable& table, std::uint8_t symbol) {
    const Code c = table[symbol];
    if (c.length == 0) {
      throw std::logic_error("JPEG symbol without a Huffman code");
    }
    putBits(c.bits, c.length);
  };
  auto magnitude = [](int value, int& category) {
    int a = value < 0 ? -value : value;
    category = 0;
    while (a > 0) {
      ++category;
      a >>= 1;
    }
    return static_cast<std::uint32_t>(value < 0 ? value + (1 << category) - 1 : value);
  };

  const double pi = std::acos(-1.0);
  double cosines[8][8];
  for (int x = 0; x < 8; ++x) {
    for (int u = 0; u < 8; ++u) {
      cosines[x][u] = std::cos((2 * x + 1) * u * pi / 16.0);
    }
  }
  int previousDc[3] = {0, 0, 0};
  const std::uint32_t blocksAcross = (image.width + 7) / 8;
  const std::uint32_t blocksDown = (image.height + 7) / 8;
  for (std::uint32_t by = 0; by < blocksDown; ++by) {
    for (std::uint32_t bx = 0; bx < blocksAcross; ++bx) {
      double samples[3][8][8];
      for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
          // Edge pixels repeat into the part of the block beyond the image.
          std::uint32_t sx = bx * 8 + x;
          std::uint32_t sy = by * 8 + y;
          if (sx >= image.width) sx = image.width - 1;
          if (sy >= image.height) sy = image.height - 1;
          const std::uint8_t* p = &image.rgb[(std::size_t{sy} * image.width + sx) * 3];
          const double r = p[0], g = p[1], b = p[2];
          samples[0][y][x] = 0.299 * r + 0.587 * g + 0.114 * b - 128.0;
          samples[1][y][x] = -0.168736 * r - 0.331264 * g + 0.5 * b;
          samples[2][y][x] = 0.5 * r - 0.418688 * g - 0.081312 * b;
        }
      }
      for (int component = 0; component < 3; ++component) {
        const auto& quant = component == 0 ? lumaQuant : chromaQuant;
        const CodeTable& dcTable = component == 0 ? dcLuma : dcChroma;
        const CodeTable& acTable = component == 0 ? acLuma : acChroma;
        int coefficients[64];
        for (int v = 0; v < 8; ++v) {
          for (int u = 0; u < 8; ++u) {
            double sum = 0;
            for (int y = 0; y < 8; ++y) {
              for (int x = 0; x < 8; ++x) {
                sum += samples[component][y][x] * cosines[x][u] * cosines[y][v];
              }
            }
            const double cu = u == 0 ? std::sqrt(0.5) : 1.0;
            const double cv = v == 0 ? std::sqrt(0.5) : 1.0;
            const double value = 0.25 * cu * cv * sum;
            coefficients[v * 8 + u] = static_cast<int>(std::lround(value / quant[v * 8 + u]));
          }
        }
        int category = 0;
        const int dc = coefficients[0];
        const std::uint32_t dcBits = magnitude(dc - previousDc[component], category);
        previousDc[component] = dc;
        putCode(dcTable, static_cast<std::uint8_t>(category));
        putBits(dcBits, category);
        int run = 0;
        for (int k = 1; k < 64; ++k) {
          const int ac = coefficients[kZigzag[k]];
          if (ac == 0) {
            ++run;
            continue;
          }
          while (run > 15) {
            putCode(acTable, 0xF0);  // sixteen zeros
            run -= 16;
          }
          const std::uint32_t acBits = magnitude(ac, category);
          putCode(acTable, static_cast<std::uint8_t>((run << 4) | category));
          putBits(acBits, category);
          run = 0;
        }
        if (run > 0) {
          putCode(acTable, 0x00);  // end of block
        }
      }
    }
  }
  if (bitCount > 0) {
    putBits(0x7F, 8 - bitCount);  // pad the last byte with one-bits
  }
  out.insert(out.end(), {0xFF, 0xD9});
  return out;
}

}  // namespace tessary::testimages

#pragma once
// A small TIFF writer for test files: one directory of any entries (written in the
// order given, any type and count), then the strips or tiles. Enough to make a valid
// striped or tiled RGB image and then break one field of it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tessary::imagetest {

constexpr std::uint16_t kTiffShort = 3;
constexpr std::uint16_t kTiffLong = 4;

// An entry value of kTiffPiece + i is written as the offset of piece i.
constexpr std::uint32_t kTiffPiece = 0xF0000000u;

struct TiffEntry {
  std::uint16_t tag = 0;
  std::uint16_t type = kTiffLong;
  std::vector<std::uint32_t> values;
  std::optional<std::uint32_t> count;  // written instead of the number of values
};

struct TiffFile {
  std::vector<TiffEntry> entries;
  std::vector<std::vector<std::uint8_t>> pieces;
  bool bigEndian = false;

  TiffEntry* find(std::uint16_t tag) {
    for (TiffEntry& entry : entries) {
      if (entry.tag == tag) return &entry;
    }
    return nullptr;
  }
  // Replaces the entry of `tag` (or adds it at the end).
  TiffFile& set(std::uint16_t tag, std::uint16_t type, std::vector<std::uint32_t> values) {
    if (TiffEntry* entry = find(tag)) {
      *entry = TiffEntry{tag, type, std::move(values), std::nullopt};
    } else {
      entries.push_back(TiffEntry{tag, type, std::move(values), std::nullopt});
    }
    return *this;
  }
  TiffFile& remove(std::uint16_t tag) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [tag](const TiffEntry& e) { return e.tag == tag; }),
                  entries.end());
    return *this;
  }

  // Header, the directory, the values that do not fit in their entries, the pieces;
  // then, when `next` is given, its directory (the second) and its data.
  std::vector<std::uint8_t> bytes(const TiffFile* next = nullptr) const {
    std::vector<std::uint8_t> out = bigEndian ? std::vector<std::uint8_t>{'M', 'M', 0, 42}
                                              : std::vector<std::uint8_t>{'I', 'I', 42, 0};
    put32(out, 8);
    const std::size_t nextField = appendDirectory(out);
    if (next != nullptr) {
      if (out.size() % 2 != 0) out.push_back(0);  // directories start on a word boundary
      set32(out, nextField, static_cast<std::uint32_t>(out.size()));
      next->appendDirectory(out);
    }
    return out;
  }

 private:
  void put16(std::vector<std::uint8_t>& to, std::uint32_t v) const {
    const std::uint8_t hi = static_cast<std::uint8_t>(v >> 8), lo = static_cast<std::uint8_t>(v);
    to.push_back(bigEndian ? hi : lo);
    to.push_back(bigEndian ? lo : hi);
  }
  void put32(std::vector<std::uint8_t>& to, std::uint32_t v) const {
    put16(to, bigEndian ? v >> 16 : v & 0xFFFF);
    put16(to, bigEndian ? v & 0xFFFF : v >> 16);
  }
  void set32(std::vector<std::uint8_t>& to, std::size_t at, std::uint32_t v) const {
    std::vector<std::uint8_t> value;
    put32(value, v);
    std::copy(value.begin(), value.end(), to.begin() + static_cast<std::ptrdiff_t>(at));
  }

  // Writes this directory at the end of `out`, then its values and pieces; returns
  // where its next-directory field is (written as 0).
  std::size_t appendDirectory(std::vector<std::uint8_t>& out) const {
    const std::uint32_t start = static_cast<std::uint32_t>(out.size());
    const std::uint32_t directoryEnd = start + 2 + 12 * static_cast<std::uint32_t>(entries.size()) + 4;
    std::uint32_t extraBytes = 0;
    for (const TiffEntry& entry : entries) {
      const std::uint32_t size = static_cast<std::uint32_t>(entry.values.size()) * (entry.type == kTiffShort ? 2 : 4);
      if (size > 4) extraBytes += size;
    }
    std::vector<std::uint32_t> pieceAt;
    std::uint32_t at = directoryEnd + extraBytes;
    for (const auto& piece : pieces) {
      pieceAt.push_back(at);
      at += static_cast<std::uint32_t>(piece.size());
    }
    const auto resolved = [&](std::uint32_t v) {
      return v >= kTiffPiece && v - kTiffPiece < pieceAt.size() ? pieceAt[v - kTiffPiece] : v;
    };
    put16(out, static_cast<std::uint32_t>(entries.size()));
    std::vector<std::uint8_t> extra;
    for (const TiffEntry& entry : entries) {
      put16(out, entry.tag);
      put16(out, entry.type);
      put32(out, entry.count.value_or(static_cast<std::uint32_t>(entry.values.size())));
      std::vector<std::uint8_t> values;
      for (std::uint32_t v : entry.values) {
        if (entry.type == kTiffShort) put16(values, resolved(v)); else put32(values, resolved(v));
      }
      if (values.size() > 4) {
        put32(out, directoryEnd + static_cast<std::uint32_t>(extra.size()));
        extra.insert(extra.end(), values.begin(), values.end());
      } else {
        values.resize(4, 0);
        out.insert(out.end(), values.begin(), values.end());
      }
    }
    const std::size_t nextField = out.size();
    put32(out, 0);
    out.insert(out.end(), extra.begin(), extra.end());
    for (const auto& piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
    return nextField;
  }
};

// `size` zero bytes in PackBits runs of 128 (2 bytes each).
inline std::vector<std::uint8_t> packBitsZeros(std::uint64_t size) {
  std::vector<std::uint8_t> out;
  for (std::uint64_t left = size; left > 0;) {
    const std::uint64_t run = std::min<std::uint64_t>(128, left);
    out.push_back(static_cast<std::uint8_t>(257 - run));  // repeat the next byte `run` times
    out.push_back(0);
    left -= run;
  }
  return out;
}

// A square image of `samples` zero samples of `bits` bits (RGB or RGBA; 4 samples
// carry unassociated alpha) in one PackBits strip.
inline TiffFile zeroStripTiff(std::uint32_t side, std::uint32_t bits, std::uint32_t samples) {
  TiffFile tiff;
  tiff.pieces = {packBitsZeros(std::uint64_t{side} * side * samples * bits / 8)};
  tiff.set(256, kTiffLong, {side});
  tiff.set(257, kTiffLong, {side});
  tiff.set(258, kTiffShort, std::vector<std::uint32_t>(samples, bits));
  tiff.set(259, kTiffShort, {32773});  // PackBits
  tiff.set(262, kTiffShort, {2});      // RGB
  tiff.set(273, kTiffLong, {kTiffPiece});
  tiff.set(277, kTiffShort, {samples});
  tiff.set(278, kTiffLong, {side});
  tiff.set(279, kTiffLong, {static_cast<std::uint32_t>(tiff.pieces[0].size())});
  tiff.set(284, kTiffShort, {1});
  if (samples == 4) tiff.set(338, kTiffShort, {2});  // unassociated alpha
  return tiff;
}

// An uncompressed 8-bit RGB image whose pixel (x, y) is red 13x, green 17y, blue 180
// (bytes wrap), in strips of `rows` rows, or in tiles of tileWidth x rows when
// tileWidth is not 0 (the parts of edge tiles outside the image are 0).
inline TiffFile rgbTiff(std::uint32_t width, std::uint32_t height, std::uint32_t tileWidth, std::uint32_t rows,
                        bool bigEndian = false) {
  TiffFile tiff;
  tiff.bigEndian = bigEndian;
  const std::uint32_t pieceWidth = tileWidth != 0 ? tileWidth : width;
  const std::uint32_t across = (width + pieceWidth - 1) / pieceWidth;
  const std::uint32_t down = (height + rows - 1) / rows;
  std::vector<std::uint32_t> offsets, byteCounts;
  for (std::uint32_t ty = 0; ty < down; ++ty) {
    for (std::uint32_t tx = 0; tx < across; ++tx) {
      const std::uint32_t pieceRows = tileWidth != 0 ? rows : std::min(rows, height - ty * rows);
      std::vector<std::uint8_t> piece(std::size_t{pieceWidth} * pieceRows * 3, 0);
      for (std::uint32_t y = 0; y < pieceRows; ++y) {
        for (std::uint32_t x = 0; x < pieceWidth; ++x) {
          const std::uint32_t ix = tx * pieceWidth + x, iy = ty * rows + y;
          if (ix >= width || iy >= height) continue;
          std::uint8_t* p = &piece[(std::size_t{y} * pieceWidth + x) * 3];
          p[0] = static_cast<std::uint8_t>(13 * ix);
          p[1] = static_cast<std::uint8_t>(17 * iy);
          p[2] = 180;
        }
      }
      offsets.push_back(kTiffPiece + static_cast<std::uint32_t>(tiff.pieces.size()));
      byteCounts.push_back(static_cast<std::uint32_t>(piece.size()));
      tiff.pieces.push_back(std::move(piece));
    }
  }
  tiff.set(256, kTiffLong, {width});
  tiff.set(257, kTiffLong, {height});
  tiff.set(258, kTiffShort, {8, 8, 8});
  tiff.set(259, kTiffShort, {1});  // no compression
  tiff.set(262, kTiffShort, {2});  // RGB
  if (tileWidth == 0) tiff.set(273, kTiffLong, offsets);
  tiff.set(277, kTiffShort, {3});
  if (tileWidth == 0) {
    tiff.set(278, kTiffLong, {rows});
    tiff.set(279, kTiffLong, byteCounts);
  }
  tiff.set(284, kTiffShort, {1});
  if (tileWidth != 0) {
    tiff.set(322, kTiffLong, {tileWidth});
    tiff.set(323, kTiffLong, {rows});
    tiff.set(324, kTiffLong, offsets);
    tiff.set(325, kTiffLong, byteCounts);
  }
  return tiff;
}

}  // namespace tessary::imagetest

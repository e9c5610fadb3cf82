#include "imaging/tiff_directory.h"

#include <algorithm>

namespace tessary {
namespace {

constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;

constexpr std::uint16_t kNewSubfileType = 254;
constexpr std::uint16_t kSubfileType = 255;
constexpr std::uint16_t kImageWidth = 256;
constexpr std::uint16_t kImageLength = 257;
constexpr std::uint16_t kBitsPerSample = 258;
constexpr std::uint16_t kStripOffsets = 273;
constexpr std::uint16_t kSamplesPerPixel = 277;
constexpr std::uint16_t kRowsPerStrip = 278;
constexpr std::uint16_t kStripByteCounts = 279;
constexpr std::uint16_t kPlanarConfiguration = 284;
constexpr std::uint16_t kTileWidth = 322;
constexpr std::uint16_t kTileLength = 323;
constexpr std::uint16_t kTileOffsets = 324;
constexpr std::uint16_t kTileByteCounts = 325;

// libtiff's own bound on the entries of one directory.
constexpr std::uint32_t kMaxEntries = 4096;

// The data in the byte order of its header.
class TiffBytes {
 public:
  TiffBytes(const std::uint8_t* bytes, std::size_t count, bool bigEndian)
      : bytes_(bytes), count_(count), bigEndian_(bigEndian) {}

  std::size_t size() const { return count_; }
  bool holds(std::uint64_t at, std::uint64_t length) const {
    return at <= count_ && length <= count_ - at;
  }
  // The caller has checked that the bytes are there.
  std::uint32_t u16(std::uint64_t at) const {
    const std::uint8_t* p = bytes_ + at;
    return bigEndian_ ? (std::uint32_t{p[0]} << 8) | p[1] : std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8);
  }
  std::uint32_t u32(std::uint64_t at) const {
    return bigEndian_ ? (u16(at) << 16) | u16(at + 2) : u16(at) | (u16(at + 2) << 16);
  }

 private:
  const std::uint8_t* bytes_;
  std::size_t count_;
  bool bigEndian_;
};

// One directory entry: the field's type and count, and where its 4-byte value field is.
struct Entry {
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint64_t valueAt = 0;
};

// The entries of the fields the walk reads, the first of each tag only.
struct Fields {
  std::optional<Entry> newSubfileType, subfileType;
  std::optional<Entry> width, length, bitsPerSample, samplesPerPixel, rowsPerStrip, planar;
  std::optional<Entry> tileWidth, tileLength;
  std::optional<Entry> stripOffsets, stripByteCounts, tileOffsets, tileByteCounts;

  std::optional<Entry>* slot(std::uint32_t tag) {
    switch (tag) {
      case kNewSubfileType: return &newSubfileType;
      case kSubfileType: return &subfileType;
      case kImageWidth: return &width;
      case kImageLength: return &length;
      case kBitsPerSample: return &bitsPerSample;
      case kSamplesPerPixel: return &samplesPerPixel;
      case kRowsPerStrip: return &rowsPerStrip;
      case kPlanarConfiguration: return &planar;
      case kTileWidth: return &tileWidth;
      case kTileLength: return &tileLength;
      case kStripOffsets: return &stripOffsets;
      case kStripByteCounts: return &stripByteCounts;
      case kTileOffsets: return &tileOffsets;
      case kTileByteCounts: return &tileByteCounts;
      default: return nullptr;
    }
  }
};

std::uint32_t typeSize(std::uint16_t type) { return type == kShort ? 2 : 4; }

// One SHORT or LONG value, or none for any other form.
std::optional<std::uint32_t> singleValue(const TiffBytes& data, const Entry& entry) {
  if (entry.count != 1 || (entry.type != kShort && entry.type != kLong)) {
    return std::nullopt;
  }
  return entry.type == kShort ? data.u16(entry.valueAt) : data.u32(entry.valueAt);
}

// Where the values of a SHORT or LONG list lie: in the value field itself when they
// fit in its four bytes, otherwise at the offset it holds. None when they are not in
// the data.
std::optional<std::uint64_t> listAt(const TiffBytes& data, const Entry& entry) {
  const std::uint64_t length = std::uint64_t{entry.count} * typeSize(entry.type);
  const std::uint64_t at = length <= 4 ? entry.valueAt : data.u32(entry.valueAt);
  if (!data.holds(at, length)) {
    return std::nullopt;
  }
  return at;
}

std::uint32_t listValue(const TiffBytes& data, const Entry& entry, std::uint64_t at, std::uint64_t index) {
  return entry.type == kShort ? data.u16(at + 2 * index) : data.u32(at + 4 * index);
}

std::uint64_t piecesAcross(std::uint64_t side, std::uint64_t piece) { return (side + piece - 1) / piece; }

TiffDirectoryWalk refused(TiffDirectoryWalk walk, TiffRefusal refusal) {
  walk.refusal = refusal;
  return walk;
}

}  // namespace

namespace {

// Bits a pixel in the decoder's own layout, at least: samples below 8 bits widened to
// 8, grey with alpha to four channels (Wine's decoder; 128 at most for the layouts it
// reads, more only for layouts it refuses before it holds anything).
std::uint64_t decoderPixelBits(const TiffLayout& layout) {
  const std::uint64_t sampleBits = std::max<std::uint32_t>(layout.bitsPerSample, 8);
  const std::uint64_t channels = layout.samplesPerPixel == 2 ? 4 : layout.samplesPerPixel;
  return sampleBits * channels;
}

// Walks one directory at `directoryAt` into `walk` (its size as soon as it is read,
// its layout when nothing is refused). `next` receives the offset of the next
// directory, 0 when there is none or it is not in the data.
TiffRefusal walkDirectory(const TiffBytes& data, std::uint64_t directoryAt, TiffDirectoryWalk& walk,
                          std::uint64_t& next, bool& reduced) {
  next = 0;
  reduced = false;
  // The directory: a count of entries, then 12 bytes per entry (tag, type, count, value
  // or offset), then the offset of the next directory.
  if (!data.holds(directoryAt, 2)) return TiffRefusal::DirectoryOutsideData;
  const std::uint32_t entryCount = data.u16(directoryAt);
  if (entryCount == 0 || entryCount > kMaxEntries) return TiffRefusal::DirectoryEntryCount;
  if (!data.holds(directoryAt + 2, std::uint64_t{entryCount} * 12)) return TiffRefusal::DirectoryOutsideData;
  const std::uint64_t nextAt = directoryAt + 2 + std::uint64_t{entryCount} * 12;
  if (data.holds(nextAt, 4)) next = data.u32(nextAt);
  Fields fields;
  for (std::uint32_t i = 0; i < entryCount; ++i) {
    const std::uint64_t at = directoryAt + 2 + std::uint64_t{i} * 12;
    std::optional<Entry>* slot = fields.slot(data.u16(at));
    if (slot != nullptr && !*slot) {
      *slot = Entry{static_cast<std::uint16_t>(data.u16(at + 2)), data.u32(at + 4), at + 8};
    }
  }

  // The image size comes first: an image beyond the limits is refused for that.
  if (!fields.width || !fields.length) return TiffRefusal::SizeField;
  const std::optional<std::uint32_t> width = singleValue(data, *fields.width);
  const std::optional<std::uint32_t> height = singleValue(data, *fields.length);
  if (!width || !height) return TiffRefusal::SizeField;
  walk.size = DeclaredSize{*width, *height};
  if (!withinPixelLimits(*width, *height)) return TiffRefusal::PixelLimits;
  // A reduced-resolution copy (SubfileType 2 is the old form of NewSubfileType bit 0;
  // libtiff reads it as that): the caller walks the next directory as well.
  if (fields.newSubfileType) {
    const std::optional<std::uint32_t> kind = singleValue(data, *fields.newSubfileType);
    reduced = !kind || (*kind & 1) != 0;
  }
  if (fields.subfileType) {
    const std::optional<std::uint32_t> kind = singleValue(data, *fields.subfileType);
    reduced = reduced || !kind || *kind == 2;
  }
  TiffLayout layout;
  layout.width = *width;
  layout.height = *height;

  // Samples, their depth and their arrangement (TIFF 6.0's defaults when absent).
  // SamplesPerPixel is a SHORT in TIFF 6.0 and in libtiff: a LONG above 65,535 is
  // refused, which also keeps the size of a decoded piece far from wrapping around.
  if (fields.samplesPerPixel) {
    const std::optional<std::uint32_t> samples = singleValue(data, *fields.samplesPerPixel);
    if (!samples || *samples == 0 || *samples > 0xFFFF) return TiffRefusal::LayoutField;
    layout.samplesPerPixel = *samples;
  }
  if (fields.bitsPerSample) {
    const Entry& bits = *fields.bitsPerSample;
    if ((bits.type != kShort && bits.type != kLong) ||
        (bits.count != 1 && bits.count != layout.samplesPerPixel)) {
      return TiffRefusal::LayoutField;
    }
    const std::optional<std::uint64_t> at = listAt(data, bits);
    if (!at) return TiffRefusal::LayoutField;
    layout.bitsPerSample = 0;
    for (std::uint32_t i = 0; i < bits.count; ++i) {
      const std::uint32_t value = listValue(data, bits, *at, i);
      if (value == 0 || value > 0xFFFF) return TiffRefusal::LayoutField;
      layout.bitsPerSample = std::max(layout.bitsPerSample, value);
    }
  }
  if (fields.planar) {
    const std::optional<std::uint32_t> planar = singleValue(data, *fields.planar);
    if (!planar || (*planar != 1 && *planar != 2)) return TiffRefusal::LayoutField;
    layout.separatePlanes = *planar == 2 && layout.samplesPerPixel > 1;
  }
  const std::uint64_t planes = layout.separatePlanes ? layout.samplesPerPixel : 1;

  // Strips or tiles, never both.
  layout.tiled = fields.tileWidth || fields.tileLength;
  const std::optional<Entry>& offsets = layout.tiled ? fields.tileOffsets : fields.stripOffsets;
  const std::optional<Entry>& byteCounts = layout.tiled ? fields.tileByteCounts : fields.stripByteCounts;
  const std::optional<Entry>& otherOffsets = layout.tiled ? fields.stripOffsets : fields.tileOffsets;
  const std::optional<Entry>& otherByteCounts = layout.tiled ? fields.stripByteCounts : fields.tileByteCounts;
  if (!offsets || otherOffsets || otherByteCounts || (layout.tiled && (!fields.tileWidth || !fields.tileLength))) {
    return TiffRefusal::PieceFields;
  }
  if (layout.tiled) {
    const std::optional<std::uint32_t> tileWidth = singleValue(data, *fields.tileWidth);
    const std::optional<std::uint32_t> tileLength = singleValue(data, *fields.tileLength);
    if (!tileWidth || !tileLength) return TiffRefusal::LayoutField;
    // The decoder computes a tile's row and size in 32 bits and divides by its sides.
    const std::uint64_t rowBits = decoderPixelBits(layout) * *tileWidth;
    if (*tileWidth == 0 || *tileLength == 0 || rowBits > 0xFFFFFFFFu ||
        (rowBits + 7) / 8 * *tileLength > 0xFFFFFFFFu) {
      return TiffRefusal::TileShape;
    }
    layout.pieceWidth = *tileWidth;
    layout.pieceRows = *tileLength;
    layout.pieceCount = piecesAcross(layout.width, *tileWidth) * piecesAcross(layout.height, *tileLength) * planes;
  } else {
    std::uint32_t rows = layout.height;  // absent: one strip holds the whole image
    if (fields.rowsPerStrip) {
      const std::optional<std::uint32_t> rowsPerStrip = singleValue(data, *fields.rowsPerStrip);
      if (!rowsPerStrip || *rowsPerStrip == 0) return TiffRefusal::LayoutField;
      rows = std::min(*rowsPerStrip, layout.height);
    }
    layout.pieceWidth = layout.width;
    layout.pieceRows = rows;
    layout.pieceCount = piecesAcross(layout.height, rows) * planes;
  }

  // Byte counts may be absent where libtiff estimates them (one strip or tile a
  // plane); anywhere else libtiff refuses the directory.
  if (!byteCounts && layout.pieceCount != planes) return TiffRefusal::PieceFields;
  if ((offsets->type != kShort && offsets->type != kLong) ||
      (byteCounts && byteCounts->type != kShort && byteCounts->type != kLong)) {
    return TiffRefusal::LayoutField;
  }
  // The pieces the lists hold, each inside the data. libtiff reads as many values as
  // the layout has pieces whatever the counts say (pieces left out get no bytes at
  // all and are read as empty), so only those are read here.
  const auto listed = [&](const Entry& list) {
    Entry used = list;
    used.count = static_cast<std::uint32_t>(std::min<std::uint64_t>(list.count, layout.pieceCount));
    return used;
  };
  const Entry usedOffsets = listed(*offsets);
  const std::optional<Entry> usedByteCounts = byteCounts ? std::optional<Entry>(listed(*byteCounts)) : std::nullopt;
  const std::optional<std::uint64_t> offsetsAt = listAt(data, usedOffsets);
  const std::optional<std::uint64_t> byteCountsAt =
      usedByteCounts ? listAt(data, *usedByteCounts) : std::optional<std::uint64_t>(0);
  if (!offsetsAt || !byteCountsAt) return TiffRefusal::PieceOutsideData;
  for (std::uint64_t i = 0; i < usedOffsets.count; ++i) {
    const std::uint64_t pieceAt = listValue(data, usedOffsets, *offsetsAt, i);
    const std::uint64_t pieceBytes =
        usedByteCounts && i < usedByteCounts->count ? listValue(data, *usedByteCounts, *byteCountsAt, i) : 0;
    if (!data.holds(pieceAt, pieceBytes)) return TiffRefusal::PieceOutsideData;
  }

  // The decoder's piece may hold what the whole frame would at the decoder's depth
  // (a strip never holds more), or the allowance when a tile overhangs a smaller
  // image, and never more than the widest frame any decoder holds.
  TiffLayout frame = layout;
  frame.pieceWidth = layout.width;
  frame.pieceRows = layout.height;
  const std::uint64_t pieceBytes = tiffDecodedPieceBytes(layout);
  if (pieceBytes > kMaxDecoderCopyBytes ||
      pieceBytes > std::max(tiffDecodedPieceBytes(frame), kTileOverhangAllowanceBytes)) {
    return TiffRefusal::PieceMemory;
  }
  walk.layout = layout;
  return TiffRefusal::None;
}

// Reduced-resolution copies met before the image a decoder might show, at most.
constexpr int kMaxReducedCopies = 16;

}  // namespace

TiffDirectoryWalk walkTiffFirstDirectory(const std::uint8_t* bytes, std::size_t count) {
  TiffDirectoryWalk walk;
  if (bytes == nullptr || count < 8 || !(bytes[0] == bytes[1] && (bytes[0] == 'I' || bytes[0] == 'M'))) {
    return refused(walk, TiffRefusal::NotTiff);
  }
  const TiffBytes data(bytes, count, bytes[0] == 'M');
  const std::uint32_t version = data.u16(2);
  if (version == 43) {
    return refused(walk, TiffRefusal::BigTiff);
  }
  if (version != 42) {
    return refused(walk, TiffRefusal::NotTiff);
  }
  std::uint64_t next = 0;
  bool reduced = false;
  const TiffRefusal first = walkDirectory(data, data.u32(4), walk, next, reduced);
  if (first != TiffRefusal::None || !reduced) return refused(walk, first);
  // The first directory is a reduced-resolution copy. Wine 8's decoder and Windows'
  // show it; a decoder that passes over such copies shows the first full-resolution
  // directory after it, so every directory up to that one must pass as well (the
  // result stays the first directory's). A chain that loops, leaves the data or runs
  // past kMaxReducedCopies copies ends the walk there: such a decoder would find no
  // other image either.
  std::uint64_t previous = data.u32(4);
  for (int copies = 1; reduced && next != 0 && next > previous && copies <= kMaxReducedCopies; ++copies) {
    TiffDirectoryWalk later;
    previous = next;
    const TiffRefusal refusal = walkDirectory(data, next, later, next, reduced);
    if (refusal != TiffRefusal::None) {
      walk.refusal = refusal == TiffRefusal::PixelLimits || refusal == TiffRefusal::PieceMemory
                         ? refusal
                         : TiffRefusal::ReducedImage;
      return walk;
    }
  }
  return walk;
}

bool libtiffRefusesToo(TiffRefusal refusal) {
  return refusal == TiffRefusal::NotTiff || refusal == TiffRefusal::DirectoryOutsideData ||
         refusal == TiffRefusal::DirectoryEntryCount;
}

const char* tiffRefusalName(TiffRefusal refusal) {
  switch (refusal) {
    case TiffRefusal::None: return "None";
    case TiffRefusal::NotTiff: return "NotTiff";
    case TiffRefusal::DirectoryOutsideData: return "DirectoryOutsideData";
    case TiffRefusal::DirectoryEntryCount: return "DirectoryEntryCount";
    case TiffRefusal::BigTiff: return "BigTiff";
    case TiffRefusal::SizeField: return "SizeField";
    case TiffRefusal::PixelLimits: return "PixelLimits";
    case TiffRefusal::LayoutField: return "LayoutField";
    case TiffRefusal::PieceFields: return "PieceFields";
    case TiffRefusal::TileShape: return "TileShape";
    case TiffRefusal::PieceOutsideData: return "PieceOutsideData";
    case TiffRefusal::PieceMemory: return "PieceMemory";
    case TiffRefusal::ReducedImage: return "ReducedImage";
  }
  return "?";
}

std::uint64_t tiffDecodedPieceBytes(const TiffLayout& layout) {
  // Saturating: a layout from any directory at all, whatever its sides and samples.
  constexpr std::uint64_t kMax = ~std::uint64_t{0};
  const auto times = [](std::uint64_t a, std::uint64_t b) { return b != 0 && a > kMax / b ? kMax : a * b; };
  const std::uint64_t rowBits = times(decoderPixelBits(layout), layout.pieceWidth);
  const std::uint64_t pieceBytes = times(rowBits / 8 + (rowBits % 8 != 0), layout.pieceRows);
  return layout.separatePlanes ? times(pieceBytes, 2) : pieceBytes;
}

}  // namespace tessary

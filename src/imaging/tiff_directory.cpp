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

  // The directory: a count of entries, then 12 bytes per entry (tag, type, count, value
  // or offset). The offset of the next directory after them is not needed here.
  const std::uint64_t directoryAt = data.u32(4);
  if (!data.holds(directoryAt, 2)) {
    return refused(walk, TiffRefusal::DirectoryOutsideData);
  }
  const std::uint32_t entryCount = data.u16(directoryAt);
  if (entryCount == 0 || entryCount > kMaxEntries) {
    return refused(walk, TiffRefusal::DirectoryEntryCount);
  }
  if (!data.holds(directoryAt + 2, std::uint64_t{entryCount} * 12)) {
    return refused(walk, TiffRefusal::DirectoryOutsideData);
  }
  Fields fields;
  for (std::uint32_t i = 0; i < entryCount; ++i) {
    const std::uint64_t at = directoryAt + 2 + std::uint64_t{i} * 12;
    std::optional<Entry>* slot = fields.slot(data.u16(at));
    if (slot != nullptr && !*slot) {
      *slot = Entry{static_cast<std::uint16_t>(data.u16(at + 2)), data.u32(at + 4), at + 8};
    }
  }

  // The image size comes first: an image beyond the limits is refused for that.
  if (!fields.width || !fields.length) {
    return refused(walk, TiffRefusal::SizeField);
  }
  const std::optional<std::uint32_t> width = singleValue(data, *fields.width);
  const std::optional<std::uint32_t> height = singleValue(data, *fields.length);
  if (!width || !height) {
    return refused(walk, TiffRefusal::SizeField);
  }
  walk.size = DeclaredSize{*width, *height};
  if (!withinPixelLimits(*width, *height)) {
    return refused(walk, TiffRefusal::PixelLimits);
  }
  // A decoder may pass over a reduced-resolution copy and show the next directory
  // (SubfileType 2 is the old form of NewSubfileType bit 0; libtiff reads it as that).
  if (fields.newSubfileType) {
    const std::optional<std::uint32_t> kind = singleValue(data, *fields.newSubfileType);
    if (!kind || (*kind & 1) != 0) return refused(walk, TiffRefusal::ReducedImage);
  }
  if (fields.subfileType) {
    const std::optional<std::uint32_t> kind = singleValue(data, *fields.subfileType);
    if (!kind || *kind == 2) return refused(walk, TiffRefusal::ReducedImage);
  }
  TiffLayout& layout = walk.layout;
  layout.width = *width;
  layout.height = *height;

  // Samples, their depth and their arrangement (TIFF 6.0's defaults when
  // absent).
  if (fields.samplesPerPixel) {
    const std::optional<std::uint32_t> samples = singleValue(data, *fields.samplesPerPixel);
    if (!samples || *samples == 0) return refused(walk, TiffRefusal::LayoutField);
    layout.samplesPerPixel = *samples;
  }
  if (fields.bitsPerSample) {
    const Entry& bits = *fields.bitsPerSample;
    if ((bits.type != kShort && bits.type != kLong) ||
        (bits.count != 1 && bits.count != layout.samplesPerPixel)) {
      return refused(walk, TiffRefusal::LayoutField);
    }
    const std::optional<std::uint64_t> at = listAt(data, bits);
    if (!at) return refused(walk, TiffRefusal::LayoutField);
    layout.bitsPerSample = 0;
    for (std::uint32_t i = 0; i < bits.count; ++i) {
      const std::uint32_t value = listValue(data, bits, *at, i);
      if (value == 0 || value > 0xFFFF) return refused(walk, TiffRefusal::LayoutField);
      layout.bitsPerSample = std::max(layout.bitsPerSample, value);
    }
  }
  if (fields.planar) {
    const std::optional<std::uint32_t> planar = singleValue(data, *fields.planar);
    if (!planar || (*planar != 1 && *planar != 2)) return refused(walk, TiffRefusal::LayoutField);
    layout.separatePlanes = *planar == 2 && layout.samplesPerPixel > 1;
  }
  const std::uint64_t planes = layout.separatePlanes ? layout.samplesPerPixel : 1;

  // Strips or tiles, never both.
  layout.tiled = fields.tileWidth || fields.tileLength;
  const std::optional<Entry>& offsets = layout.tiled ? fields.tileOffsets : fields.stripOffsets;
  const std::optional<Entry>& byteCounts = layout.tiled ? fields.tileByteCounts : fields.stripByteCounts;
  const std::optional<Entry>& otherOffsets = layout.tiled ? fields.stripOffsets : fields.tileOffsets;
  const std::optional<Entry>& otherByteCounts = layout.tiled ? fields.stripByteCounts : fields.tileByteCounts;
  if (!offsets || !byteCounts || otherOffsets || otherByteCounts ||
      (layout.tiled && (!fields.tileWidth || !fields.tileLength))) {
    return refused(walk, TiffRefusal::PieceFields);
  }
  if (layout.tiled) {
    const std::optional<std::uint32_t> tileWidth = singleValue(data, *fields.tileWidth);
    const std::optional<std::uint32_t> tileLength = singleValue(data, *fields.tileLength);
    if (!tileWidth || !tileLength) return refused(walk, TiffRefusal::LayoutField);
    const auto sideAllowed = [](std::uint32_t side) { return side >= 16 && side % 16 == 0; };
    if (!sideAllowed(*tileWidth) || !sideAllowed(*tileLength) || !withinPixelLimits(*tileWidth, *tileLength)) {
      return refused(walk, TiffRefusal::TileShape);
    }
    layout.pieceWidth = *tileWidth;
    layout.pieceRows = *tileLength;
    layout.pieceCount = piecesAcross(layout.width, *tileWidth) * piecesAcross(layout.height, *tileLength) * planes;
  } else {
    std::uint32_t rows = layout.height;  // absent: one strip holds the whole image
    if (fields.rowsPerStrip) {
      const std::optional<std::uint32_t> rowsPerStrip = singleValue(data, *fields.rowsPerStrip);
      if (!rowsPerStrip || *rowsPerStrip == 0) return refused(walk, TiffRefusal::LayoutField);
      rows = std::min(*rowsPerStrip, layout.height);
    }
    layout.pieceWidth = layout.width;
    layout.pieceRows = rows;
    layout.pieceCount = piecesAcross(layout.height, rows) * planes;
  }

  // One offset and one byte count per piece, and every piece inside the data.
  if (offsets->count != layout.pieceCount || byteCounts->count != layout.pieceCount) {
    return refused(walk, TiffRefusal::PieceCount);
  }
  if ((offsets->type != kShort && offsets->type != kLong) ||
      (byteCounts->type != kShort && byteCounts->type != kLong)) {
    return refused(walk, TiffRefusal::LayoutField);
  }
  const std::optional<std::uint64_t> offsetsAt = listAt(data, *offsets);
  const std::optional<std::uint64_t> byteCountsAt = listAt(data, *byteCounts);
  if (!offsetsAt || !byteCountsAt) {
    return refused(walk, TiffRefusal::PieceOutsideData);
  }
  for (std::uint64_t i = 0; i < layout.pieceCount; ++i) {
    const std::uint64_t pieceAt = listValue(data, *offsets, *offsetsAt, i);
    const std::uint64_t pieceBytes = listValue(data, *byteCounts, *byteCountsAt, i);
    if (pieceBytes == 0 || !data.holds(pieceAt, pieceBytes)) {
      return refused(walk, TiffRefusal::PieceOutsideData);
    }
  }

  if (tiffDecodedPieceBytes(layout) > kMaxDecoderCopyBytes) {
    return refused(walk, TiffRefusal::PieceMemory);
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
    case TiffRefusal::PieceCount: return "PieceCount";
    case TiffRefusal::PieceOutsideData: return "PieceOutsideData";
    case TiffRefusal::PieceMemory: return "PieceMemory";
    case TiffRefusal::ReducedImage: return "ReducedImage";
  }
  return "?";
}

std::uint64_t tiffDecodedPieceBytes(const TiffLayout& layout) {
  // At most 20,000 x 65,535 x 65,535 bits a row and 20,000 rows: no overflow.
  const std::uint64_t sampleBits = std::max<std::uint32_t>(layout.bitsPerSample, 8);
  const std::uint64_t channels = layout.samplesPerPixel == 2 ? 4 : layout.samplesPerPixel;
  const std::uint64_t rowBytes = (std::uint64_t{layout.pieceWidth} * sampleBits * channels + 7) / 8;
  const std::uint64_t pieceBytes = rowBytes * layout.pieceRows;
  return layout.separatePlanes ? 2 * pieceBytes : pieceBytes;
}

}  // namespace tessary

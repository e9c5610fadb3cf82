#pragma once
// The first image file directory of TIFF data, read by the program itself before the
// platform's TIFF decoder is given the data. That decoder (libtiff underneath) trusts
// the directory: a tile of 65,536 x 65,536 pixels on a 16 x 16 image, for one, makes
// it compute a tile buffer whose size wraps around to almost nothing and then write
// a whole tile into it. The walk reads the same fields the way libtiff reads them and
// lets through only directories whose image size, strips or tiles it can vouch for.
//
// Classic TIFF only (version 42, both byte orders). BigTIFF (version 43) never gets
// here: its leading bytes are not among the accepted formats, so it is refused as an
// unsupported format before any walk.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "imaging/image_format.h"

namespace tessary {

// Why the walk refused the directory. The first group libtiff refuses as well: the
// reference fuzz target checks that libtiff never reads a directory that the walk
// refuses for one of those. The second group is stricter than libtiff, each only
// where the decoder would crash, read outside the data or hold more than a load is
// promised (kMaxDecoderCopyBytes), for the reason given beside it; everything else
// that libtiff reads is left to the decoder (tile sides that are not multiples of 16,
// absent byte counts where libtiff estimates them, pieces of 0 bytes, lists longer or
// shorter than the layout asks for, a reduced-resolution first directory).
enum class TiffRefusal {
  None,
  // libtiff refuses these too.
  NotTiff,               // no "II*\0" or "MM\0*" header
  DirectoryOutsideData,  // the first directory's entry count or entries are not in the data
  DirectoryEntryCount,   // a directory of no entries, or of more than 4,096
  // Stricter than libtiff.
  BigTiff,      // version 43: not an accepted format (see above)
  SizeField,    // ImageWidth or ImageLength absent, or not one SHORT or LONG (the only
                // forms TIFF 6.0 gives them; libtiff also takes other integer types,
                // and reads an absent ImageWidth as 0): without the size the walk
                // cannot hold the image to the pixel limits
  PixelLimits,  // the image's sides or pixel count break the pixel limits: refused for
                // its size alone, whatever its other fields hold
  LayoutField,  // SamplesPerPixel, BitsPerSample, PlanarConfiguration, RowsPerStrip, a
                // tile side or a piece list in another form than TIFF 6.0's (SHORT or
                // LONG, one value, or one per sample for BitsPerSample), a value of 0,
                // more than 65,535 samples (TIFF 6.0 and libtiff keep SamplesPerPixel in
                // 16 bits) or a planar configuration other than 1 and 2: the walk could
                // not size a decoded piece from them
  PieceFields,  // the strips' or tiles' offsets absent, byte counts absent where the
                // image has more than one piece a plane, one tile side without the
                // other (libtiff refuses all three), or strip and tile lists mixed:
                // libtiff keeps one list for both, filled from whichever entry it meets
                // last, so the walk could not tell which pieces the decoder reads
  TileShape,    // a tile side of 0 (the decoder divides by it), or a tile whose row or
                // size, computed as the decoder computes them in 32 bits, wraps around:
                // the decoder would then write and read a whole tile through a buffer
                // of the wrapped size (the 65,536 x 65,536 tiles of a 16 x 16 image that
                // ended the desk)
  PieceOutsideData,  // a list of offsets or byte counts, or a listed strip or tile, that
                     // does not lie wholly inside the data: the decoder would read past
                     // the end of the data
  PieceMemory,  // one strip or tile, decoded, would hold more than the whole frame at
                // the decoder's depth (and more than kTileOverhangAllowanceBytes), or
                // more than kMaxDecoderCopyBytes: the decoder holds one piece beside the
                // pixels it fills, and a load is promised no more than a copy of the
                // frame (a 2 KB file whose tile claims 20,000 x 20,000 pixels would
                // otherwise ask for 1.2 GB)
  ReducedImage,  // the first directory is a reduced-resolution copy (NewSubfileType bit
                 // 0, or SubfileType 2, or either in another form than one SHORT or
                 // LONG), which Wine 8's and Windows' decoders show, and a directory
                 // after it up to the first full-resolution one is refused: a decoder
                 // that passes over such copies (later versions of Wine's do) would
                 // show that one instead
};

// The layout of the image data, as the directory declares it.
struct TiffLayout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t samplesPerPixel = 1;
  std::uint32_t bitsPerSample = 1;  // the largest of the per-sample values
  bool separatePlanes = false;      // PlanarConfiguration 2 with more than one sample
  bool tiled = false;
  std::uint32_t pieceWidth = 0;     // the tile width, or the image width for strips
  std::uint32_t pieceRows = 0;      // the tile length, or the rows of one strip
  std::uint64_t pieceCount = 0;     // strips or tiles in all planes
};

// What one tile may hold when it overhangs a smaller image, even when the whole frame
// would hold less: ordinary writers choose tiles of up to 2,048 pixels a side whatever
// the image's size (256 x 256 is libtiff's and ImageMagick's default), and 2,048 x 2,048
// pixels of four 32-bit samples are 64 MiB.
inline constexpr std::uint64_t kTileOverhangAllowanceBytes = 64u << 20;

struct TiffDirectoryWalk {
  // The image size, as soon as ImageWidth and ImageLength have been read (also when
  // the directory is refused afterwards).
  std::optional<DeclaredSize> size;
  TiffRefusal refusal = TiffRefusal::None;
  TiffLayout layout;  // complete only when nothing was refused
};

// Reads the first directory of `bytes` (any bytes at all) and checks it: image size
// within the pixel limits; a tile the decoder's arithmetic can hold; every listed
// strip and tile inside the data; one decoded piece within the frame's own size (or
// the tile allowance) and kMaxDecoderCopyBytes; and,
// when it is a reduced-resolution copy, the directories after it up to the first
// full-resolution one as well. Where a field appears twice the first one counts, as
// in libtiff.
TiffDirectoryWalk walkTiffFirstDirectory(const std::uint8_t* bytes, std::size_t count);

// True for the refusals that libtiff makes as well (the first group above).
bool libtiffRefusesToo(TiffRefusal refusal);

// The enumerator's name, for reports ("PieceCount", ...).
const char* tiffRefusalName(TiffRefusal refusal);

// An upper estimate of the bytes the platform's decoder holds for one decoded strip
// or tile of `layout` (its layout widens samples below 8 bits to 8, grey with alpha to
// four channels, and separate planes to a second buffer), saturating at UINT64_MAX.
std::uint64_t tiffDecodedPieceBytes(const TiffLayout& layout);

}  // namespace tessary

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
// refuses for one of those. The second group is stricter than libtiff on purpose, each
// for the reason given beside it.
enum class TiffRefusal {
  None,
  // libtiff refuses these too.
  NotTiff,               // no "II*\0" or "MM\0*" header
  DirectoryOutsideData,  // the first directory's entry count or entries are not in the data
  DirectoryEntryCount,   // a directory of no entries, or of more than 4,096
  // Stricter than libtiff.
  BigTiff,      // version 43: not an accepted format (see above)
  SizeField,    // ImageWidth or ImageLength absent, or not one SHORT or LONG (the only
                // forms TIFF 6.0 gives them; libtiff also takes other
                // integer types, and reads an absent ImageWidth as 0)
  PixelLimits,  // the image's sides or pixel count break the pixel limits: refused for
                // its size alone, whatever its other fields hold
  LayoutField,  // SamplesPerPixel, BitsPerSample, PlanarConfiguration, RowsPerStrip or a
                // tile side in another form than TIFF 6.0's (SHORT or LONG,
                // one value, or one per sample for BitsPerSample), or a value of 0 or
                // a planar configuration other than 1 and 2
  PieceFields,  // the strips' or tiles' offsets or byte counts absent, or strip and
                // tile fields mixed, or one tile side without the other: libtiff fills
                // some of these in with estimates of its own, which the walk cannot
                // vouch for
  TileShape,    // a tile side that is not a positive multiple of 16 (TIFF 6.0's
                // rule; libtiff only warns), or tiles beyond the pixel limits: the tile
                // is the decoder's unit of memory
  PieceCount,   // not exactly one offset and one byte count per strip or tile that the
                // image's size asks for (libtiff pads short lists with zeros and cuts
                // long ones)
  PieceOutsideData,  // a list of offsets or byte counts, or a strip or tile, that does not
                     // lie wholly inside the data, or a strip or tile of no bytes
                     // (libtiff reads the directory and fails, or guesses a length, only
                     // when it comes to the piece)
  PieceMemory,  // one strip or tile, decoded, would take more than kMaxDecoderCopyBytes:
                // the decoder holds one piece beside the pixels it fills
  ReducedImage,  // the directory is marked as a reduced-resolution copy (NewSubfileType
                 // bit 0, or SubfileType 2), or either field is in another form than one
                 // SHORT or LONG: a decoder may pass over such a directory and show the
                 // next one, which the walk has not read (later versions of Wine's
                 // decoder do; Wine 8's shows the first)
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

struct TiffDirectoryWalk {
  // The image size, as soon as ImageWidth and ImageLength have been read (also when
  // the directory is refused afterwards).
  std::optional<DeclaredSize> size;
  TiffRefusal refusal = TiffRefusal::None;
  TiffLayout layout;  // complete only when nothing was refused
};

// Reads the first directory of `bytes` (any bytes at all) and checks it: not a
// reduced-resolution copy (the decoder would show another directory); image size
// within the pixel limits; tile sides positive multiples of 16 within the limits;
// exactly one offset and one byte count per strip or tile; every strip and tile
// non-empty and inside the data; one decoded piece within kMaxDecoderCopyBytes.
// Where a field appears twice the first one counts, as in libtiff.
TiffDirectoryWalk walkTiffFirstDirectory(const std::uint8_t* bytes, std::size_t count);

// True for the refusals that libtiff makes as well (the first group above).
bool libtiffRefusesToo(TiffRefusal refusal);

// The enumerator's name, for reports ("PieceCount", ...).
const char* tiffRefusalName(TiffRefusal refusal);

// An upper estimate of the bytes the platform's decoder holds for one decoded strip
// or tile of `layout` (its layout widens samples below 8 bits to 8, grey with alpha to
// four channels, and separate planes to a second buffer).
std::uint64_t tiffDecodedPieceBytes(const TiffLayout& layout);

}  // namespace tessary

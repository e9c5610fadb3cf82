#pragma once
// Decoding of the built-in plate: on every core, straight into the final pixels,
// when the plate's image data is cut into independent segments (as the build's
// generator writes it); through the ordinary decoder otherwise. The calling thread
// must have COM initialised, and GDI+ must be started in the process.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/pixels.h"
#include "imaging/segmented_png_decoder.h"

namespace tessary {

// Decodes the plate's PNG bytes. When segmented_png_decoder takes them (a segmented
// 8-bit RGB or RGBA PNG within the size and pixel limits), its workers decode them
// on every core; whenever it does not, finds them inconsistent on the way, cannot
// start a worker or cannot have the pixel memory, the bytes go to decodeImage as any
// image does. The pixels are the same either way, and so are the failures
// (decodeImage's, and ImageError "Hash failed" or "Image unavailable" after a
// parallel decode as after an ordinary one). `knownDigest`, when given, is taken as
// the SHA-256 of the bytes instead of hashing them again: the caller vouches that
// it was computed from these very bytes. `start` starts the decoder's workers (the
// default: threads). After a parallel decode the image has its display levels
// already (made by the same workers as the rows come); the drawing bitmaps of the
// levels are left to the caller, as after decodeImage.
std::shared_ptr<Pixels> decodePlateBytes(const std::uint8_t* bytes, std::size_t count,
                                         const std::string* knownDigest = nullptr,
                                         const PngWorkerStart& start = {});

// The plate of `module` (resource 301; the program's own module when null), decoded
// by decodePlateBytes. A module's resources are read-only and stay mapped while it
// is loaded, so their digest does not change: it is computed at the plate's first
// load and remembered, and later loads (a return from the tray, the Sky plate
// button) decode the plate again without hashing it again. When a decode of the
// same module's plate was started ahead (startOwnPlateDecodeAhead) and not yet
// taken, this waits for it and gives its image or raises its failure, once. Raises
// ImageError("Missing atlas") without the resource, and what decodePlateBytes
// raises.
std::shared_ptr<Pixels> decodeOwnPlate(HMODULE module = nullptr);

// Starts decoding `module`'s plate on a thread of its own, for the next
// decodeOwnPlate of that module to take. The program calls it as soon as it knows
// that it is the running instance, so that the decode goes on while the window is
// made and first shown. Best effort: without a thread nothing is started, and the
// load decodes the plate itself. Does nothing while an earlier one is untaken.
void startOwnPlateDecodeAhead(HMODULE module = nullptr) noexcept;

// Waits for a decode started ahead and drops what it gave when no load took it. The
// program calls it before GDI+ is shut down (the image holds a GDI+ bitmap).
void finishOwnPlateDecodeAhead() noexcept;

}  // namespace tessary

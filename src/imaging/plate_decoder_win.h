#pragma once
// Decoding of the built-in plate: on every core, straight into the final pixels,
// when the plate's image data is cut into independent segments (as the build's
// generator writes it); through the ordinary decoder otherwise. The calling thread
// must have COM initialised, and GDI+ must be started in the process.
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

// The plate of the program's own module (resource 301), decoded by
// decodePlateBytes. The module's resources are read-only and stay mapped for the
// life of the process, so their digest does not change: it is computed at the
// plate's first load and remembered, and later loads (a return from the tray, the
// Sky plate button) decode the plate again without hashing it again. Raises
// ImageError("Missing atlas") without the resource, and what decodePlateBytes
// raises.
std::shared_ptr<Pixels> decodeOwnPlate();

}  // namespace tessary

#pragma once
// Opening a user's image file: the local-path rules, a read-only whole-file read
// within the size window, then decoding.
#include <memory>
#include <string>

#include "imaging/pixels.h"

namespace tessary {

// Accepts only absolute paths on a local removable, fixed or optical drive; opens the
// file for reading while letting others only read it, reads it whole (2 to
// 209,715,200 bytes), closes it and decodes the bytes. Raises ImageError ("Local
// absolute path required", "Local drive required", "Cannot open file", "File size
// limit", "Cannot read image", or any message of decodeImage) or std::bad_alloc.
// Needs COM initialised on the calling thread and GDI+ started.
std::shared_ptr<Pixels> openImageFile(const std::u16string& path);

}  // namespace tessary

#pragma once
// The JSON record written beside an exported crop: which pixels of which image
// (by the SHA-256 of its source bytes) the PNG holds, and where the image came from.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "exports/crop_geometry.h"

namespace tessary {

inline constexpr const char* kCropRecordFormat = "Tessary crop";
inline constexpr int kCropRecordVersion = 1;
// Credit of a crop taken from a file the user opened.
inline constexpr const char* kLocalImageCredit = "User-provided local image";
// The built-in plate's credit starts with this, followed by its source-page address.
inline constexpr const char* kPlateCreditPrefix = "NASA, ESA, CSA, STScI; ";

struct CropRecord {
  CropRect crop;
  std::uint32_t sourceWidth = 0;
  std::uint32_t sourceHeight = 0;
  std::string sourceSHA256;
  std::string credit;
  std::int64_t createdUTC = 0;
};

nlohmann::json cropRecordJson(const CropRecord& record);
// The record as written: indent 2, keys in ascending byte order, raw UTF-8, no final
// newline. Raises the JSON library's error for text that is not valid UTF-8.
std::string cropRecordText(const CropRecord& record);

}  // namespace tessary

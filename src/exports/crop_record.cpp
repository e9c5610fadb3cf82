#include "exports/crop_record.h"

namespace tessary {

nlohmann::json cropRecordJson(const CropRecord& record) {
  nlohmann::json crop = nlohmann::json::object();
  crop["x"] = record.crop.x;
  crop["y"] = record.crop.y;
  crop["width"] = record.crop.width;
  crop["height"] = record.crop.height;

  nlohmann::json document = nlohmann::json::object();
  document["createdUTC"] = record.createdUTC;
  document["credit"] = record.credit;
  document["crop"] = std::move(crop);
  document["format"] = kCropRecordFormat;
  document["sourceHeight"] = record.sourceHeight;
  document["sourceSHA256"] = record.sourceSHA256;
  document["sourceWidth"] = record.sourceWidth;
  document["version"] = kCropRecordVersion;
  return document;
}

std::string cropRecordText(const CropRecord& record) {
  return cropRecordJson(record).dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
}

}  // namespace tessary

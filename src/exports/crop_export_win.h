#pragma once
// Crop export: the original pixels of the crop as a PNG made by the program's own
// writer on every core, with a JSON crop record beside it, written on the job thread.
#include <filesystem>
#include <memory>
#include <string>

#include "app/session_state.h"
#include "exports/crop_geometry.h"
#include "imaging/pixels.h"

namespace tessary {

// The largest encoded PNG a crop export writes.
inline constexpr std::uint64_t kExportPngLimit = 268435456;

// What the export job is handed and owns: the image (its shared reference keeps the
// pixels alive if the window drops the image meanwhile), the crop, the base path
// of the two files (no extension) and the credit text.
struct CropExportJob {
  std::shared_ptr<const Pixels> image;
  CropRect crop;
  std::filesystem::path basePath;
  std::string credit;
};

// The Export crop PNG command (window thread).
void startCropExport(Session& session);

// The export job's work: the PNG, then the record. Raises on the first failure and
// leaves `result.ok` false; sets it only when both files were written.
void cropExportWorker(const CropExportJob& job, WorkerResult& result);

// Encodes the crop of `image` as an 8-bit RGBA PNG in memory (crop_png.h) and
// writes it to `path` atomically, so a failure leaves no partial file under that
// name. Raises "Crop limit", "Image operation failed" (the encoder failed),
// "Export limit" (more than 256 MiB), "Export write failed", or std::bad_alloc.
void encodeCropPng(const Pixels& image, const CropRect& crop, const std::filesystem::path& path);

}  // namespace tessary

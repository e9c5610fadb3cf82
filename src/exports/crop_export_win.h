#pragma once
// Crop export: the original pixels of the crop as a PNG through the Windows
// Imaging Component, with a JSON crop record beside it, written on the job thread.
#include <filesystem>
#include <memory>
#include <string>

#include "app/session_state.h"
#include "exports/crop_geometry.h"
#include "imaging/pixels.h"

namespace tessary {

// The largest encoded PNG a crop export writes.
inline constexpr std::uint64_t kExportPngLimit = 268435456;

// The most bytes a 32-bit BGRA PNG of width x height can take (stored without
// compression, with all of its framing), capped a little above the export limit:
// the size the export's memory stream is given before the encoder writes to it.
std::uint64_t pngSizeBound(std::uint32_t width, std::uint32_t height);

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

// Encodes the crop of `image` as a 32-bit BGRA PNG in memory and writes it to
// `path` atomically. Raises "Crop limit", "Image operation failed",
// "PNG format unavailable", "Export limit" or "Export write failed".
void encodeCropPng(const Pixels& image, const CropRect& crop, const std::filesystem::path& path);

}  // namespace tessary

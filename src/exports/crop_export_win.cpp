#include "exports/crop_export_win.h"

#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "app/status_and_controls.h"
#include "exports/crop_png.h"
#include "exports/crop_record.h"
#include "exports/export_naming.h"
#include "imaging/background_job_win.h"
#include "imaging/plate_identity.h"
#include "observations/atomic_file.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"

namespace tessary {
namespace {

std::filesystem::path withEnding(const std::filesystem::path& base, const wchar_t* ending) {
  return std::filesystem::path(base.native() + ending);
}

}  // namespace

void encodeCropPng(const Pixels& image, const CropRect& crop, const std::filesystem::path& path) {
  if (!cropFits(crop, image.width, image.height)) {
    throw std::runtime_error("Crop limit");
  }
  PngBytes png;
  try {
    png = cropPngBytes(image, crop);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    throw std::runtime_error("Image operation failed");
  }
  if (png.size() > kExportPngLimit) {
    throw std::runtime_error("Export limit");
  }
  if (!writeFileAtomically(path, png.view(), false)) {
    throw std::runtime_error("Export write failed");
  }
}

void cropExportWorker(const CropExportJob& job, WorkerResult& result) {
  result.isExport = true;
  result.ok = false;
  encodeCropPng(*job.image, job.crop, withEnding(job.basePath, L".png"));
  CropRecord record;
  record.crop = job.crop;
  record.sourceWidth = job.image->width;
  record.sourceHeight = job.image->height;
  record.sourceSHA256 = job.image->sha256;
  record.credit = job.credit;
  record.createdUTC = Session::defaultUnixNow();
  const std::string text = cropRecordText(record);
  if (!writeFileAtomically(withEnding(job.basePath, L".json"), text, false)) {
    throw std::runtime_error("Cannot write metadata");
  }
  result.ok = true;
}

void startCropExport(Session& session) {
  if (!session.currentImage || session.jobRunning) {
    return;
  }
  if (!saveSheet(session)) {
    return;
  }
  const std::shared_ptr<const Pixels> image = session.currentImage;
  if (session.cropRect.width == 0 || session.cropRect.height == 0) {
    showStatus(session, 34, true);
    return;
  }
  if (!cropFits(session.cropRect, image->width, image->height)) {
    showStatus(session, 35, true);
    return;
  }
  CropExportJob job;
  try {
    job.image = image;
    job.crop = session.cropRect;
    job.basePath = exportBasePath(session);
    job.credit = session.currentPath.empty() ? std::string(kPlateCredit) : std::string(kLocalImageCredit);
  } catch (...) {
    showStatus(session, 33, true);
    return;
  }

  session.jobRunning = true;
  showStatus(session, 24, false);
  updateControlStates(session);
  WorkerResult initial;
  initial.isExport = true;
  bool started = false;
  try {
    started = startJobThread(session, std::move(initial),
                             [job = std::move(job)](WorkerResult& result) { cropExportWorker(job, result); });
  } catch (...) {
    started = false;
  }
  if (!started) {
    // No thread, no job: the program must not stay busy.
    session.jobRunning = false;
    showStatus(session, 33, true);
    updateControlStates(session);
  }
}

}  // namespace tessary

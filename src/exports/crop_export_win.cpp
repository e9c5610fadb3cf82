#include "exports/crop_export_win.h"

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "app/status_and_controls.h"
#include "exports/crop_record.h"
#include "exports/export_naming.h"
#include "imaging/background_job_win.h"
#include "imaging/com_support_win.h"
#include "imaging/plate_identity.h"
#include "observations/atomic_file.h"
#include "app/sheet_session.h"
#include "observations/sheet_store.h"

namespace tessary {
namespace {

void check(HRESULT hr) {
  if (FAILED(hr)) {
    throw std::runtime_error("Image operation failed");
  }
}

// Keeps the memory of an HGLOBAL locked for the scope.
class GlobalLockGuard {
 public:
  explicit GlobalLockGuard(HGLOBAL memory) : memory_(memory), data_(GlobalLock(memory)) {
    if (data_ == nullptr) {
      throw std::bad_alloc();
    }
  }
  ~GlobalLockGuard() { GlobalUnlock(memory_); }
  GlobalLockGuard(const GlobalLockGuard&) = delete;
  GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
  const char* data() const { return static_cast<const char*>(data_); }

 private:
  HGLOBAL memory_;
  void* data_;
};

std::filesystem::path withEnding(const std::filesystem::path& base, const wchar_t* ending) {
  return std::filesystem::path(base.native() + ending);
}

}  // namespace

std::uint64_t pngSizeBound(std::uint32_t width, std::uint32_t height) {
  // Raw scan lines (a filter byte and four bytes a pixel each) stored without
  // compression cost 5 bytes a 65,535-byte block, the image data goes out in
  // chunks with 12 bytes of framing each (libpng makes them 8 KiB; the bound allows
  // chunks down to 3 KiB), and the signature, header and end chunks are well inside
  // the fixed margin. Past the export limit the
  // encode fails anyway; a stream a little larger shows that it went past it.
  const std::uint64_t raw = (static_cast<std::uint64_t>(width) * 4 + 1) * height;
  const std::uint64_t bound = raw + raw / 256 + 65536;
  return std::min(bound, kExportPngLimit + 65536);
}

void encodeCropPng(const Pixels& image, const CropRect& crop, const std::filesystem::path& path) {
  if (!cropFits(crop, image.width, image.height)) {
    throw std::runtime_error("Crop limit");
  }
  ComPtr<IWICImagingFactory> factory;
  check(CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                         factory.putVoid()));
  ComPtr<IStream> stream;
  check(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  // A memory stream grows to exactly the end of each write, and under Wine every
  // growth reallocates and copies all that was written before: the export's bytes
  // would be copied over and over. It is sized once, up front, for the largest PNG
  // the crop can give, so no write has to grow it; what was written is then told by
  // the stream position, not by the stream size.
  ULARGE_INTEGER reserve{};
  reserve.QuadPart = pngSizeBound(static_cast<std::uint32_t>(crop.width), static_cast<std::uint32_t>(crop.height));
  check(stream->SetSize(reserve));
  ComPtr<IWICBitmapEncoder> encoder;
  check(CoCreateInstance(CLSID_WICPngEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IWICBitmapEncoder,
                         encoder.putVoid()));
  check(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache));

  ComPtr<IWICBitmapFrameEncode> frame;
  ComPtr<IPropertyBag2> options;
  check(encoder->CreateNewFrame(frame.put(), options.put()));
  check(frame->Initialize(options.get()));
  const UINT width = static_cast<UINT>(crop.width);
  const UINT height = static_cast<UINT>(crop.height);
  check(frame->SetSize(width, height));
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  check(frame->SetPixelFormat(&format));
  if (!IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA)) {
    throw std::runtime_error("PNG format unavailable");
  }

  // Rows go to the encoder straight from the image; the encoder only reads them.
  const UINT stride = width * 4;
  for (UINT i = 0; i < height; ++i) {
    const std::uint64_t offset =
        ((static_cast<std::uint64_t>(crop.y) + i) * image.width + static_cast<std::uint64_t>(crop.x)) * 4;
    BYTE* row = const_cast<BYTE*>(image.bgra.data() + offset);
    check(frame->WritePixels(1, stride, stride, row));
  }
  check(frame->Commit());
  check(encoder->Commit());

  // The encoder writes its bytes in order; where it stopped is the PNG's end.
  ULARGE_INTEGER written{};
  check(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &written));
  if (written.QuadPart > kExportPngLimit) {
    throw std::runtime_error("Export limit");
  }
  HGLOBAL memory = nullptr;
  check(GetHGlobalFromStream(stream.get(), &memory));
  // The file is written straight from the stream's memory: a copy would add the
  // size of the PNG (up to 256 MiB) to the export's peak for nothing.
  GlobalLockGuard lock(memory);
  const std::string_view bytes(lock.data(), static_cast<std::size_t>(written.QuadPart));
  if (!writeFileAtomically(path, bytes, false)) {
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

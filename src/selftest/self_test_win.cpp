// Self-test mode: runs the built-in checks in a fixed order on the calling thread,
// writes "self-test-results.txt" beside the executable and returns the exit code.
// No window, no single-instance lock and no data folder are involved.
#include "selftest/self_test_win.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "exports/crop_export_win.h"
#include "imaging/image_decoder_win.h"
#include "imaging/image_file_win.h"
#include "imaging/pixels.h"
#include "imaging/plate_decoder_win.h"
#include "imaging/plate_identity.h"
#include "imaging/plate_resource_win.h"
#include "imaging/sha256_win.h"
#include "observations/atomic_file.h"
#include "selftest/self_test_checks.h"
#include "selftest/self_test_report.h"

namespace tessary {
namespace {

constexpr int kJpegResource = 331;
constexpr int kBmpResource = 332;
constexpr int kTiffResource = 333;

constexpr std::uint32_t kPlateWidth = 14575;
constexpr std::uint32_t kPlateHeight = 8441;
constexpr std::size_t kPlatePixelBytes = 492110300;

// The bytes of an RCDATA resource of the module, in place. Resource memory belongs
// to the module and needs no release.
struct ResourceBytes {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

bool findResource(HINSTANCE instance, int id, ResourceBytes& out) {
  HRSRC info = FindResourceW(instance, MAKEINTRESOURCEW(id), RT_RCDATA);
  if (info == nullptr) {
    return false;
  }
  HGLOBAL loaded = LoadResource(instance, info);
  if (loaded == nullptr) {
    return false;
  }
  const void* data = LockResource(loaded);
  const DWORD size = SizeofResource(instance, info);
  if (data == nullptr || size == 0) {
    return false;
  }
  out.data = static_cast<const std::uint8_t*>(data);
  out.size = size;
  return true;
}


bool checkPixelLimits() {
  for (const ProbeImage& probe : pixelLimitProbes()) {
    try {
      decodeImage(probe.bytes.data(), probe.bytes.size());
      return false;  // decoded: the limits were not applied
    } catch (const ImageError& error) {
      if (std::string_view(error.what()) != "Pixel limit") {
        return false;
      }
    }
  }
  return true;
}

bool checkKnownVector() {
  static constexpr char kAbc[] = "abc";
  return sha256Hex(kAbc, 3) == "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
}

bool checkFormatRejection() {
  static constexpr char kText[] = "not an image";
  static constexpr std::uint8_t kPngSignature[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  return raises([] { decodeImage(reinterpret_cast<const std::uint8_t*>(kText), 12); }) &&
         raises([] { decodeImage(kPngSignature, sizeof kPngSignature); });
}

bool checkPathRejection() {
  return raises([] { openImageFile(u"sample.png"); }) &&
         raises([] { openImageFile(u"\\\\server\\share\\image.png"); });
}

bool checkTestImage(HINSTANCE instance, int id) {
  ResourceBytes bytes;
  if (!findResource(instance, id, bytes)) {
    return false;
  }
  return testImagePixelMatches(*decodeImage(bytes.data, bytes.size));
}

bool checkCropExport(const std::filesystem::path& scratch) {
  Pixels source;
  source.width = kCropCheckSourceWidth;
  source.height = kCropCheckSourceHeight;
  const std::vector<std::uint8_t> before = cropCheckSourcePixels();
  source.bgra.assign(before.begin(), before.end());
  const CropRect crop{2, 1, 3, 4};
  const std::filesystem::path target = scratch / "crop.png";
  encodeCropPng(source, crop, target);
  const std::wstring wide = target.wstring();
  const auto decoded = openImageFile(std::u16string(wide.begin(), wide.end()));
  return pixelsEqualCrop(*decoded, before, source.width, crop.x, crop.y, crop.width, crop.height) &&
         std::equal(source.bgra.begin(), source.bgra.end(), before.begin(), before.end());
}

// Resource 301 is exactly the plate the build measured when it embedded it.
bool checkPlateIdentity(HINSTANCE instance) {
  const PlateBytes plate = plateResourceBytes(instance);
  return plate.size == kPlateSize && sha256Hex(plate.data, plate.size) == kPlateSha256;
}

// The plate decodes whole at full resolution, as the desk decodes it; a missing
// resource raises "Missing atlas".
bool checkPlateDecode(HINSTANCE instance) {
  const PlateBytes plate = plateResourceBytes(instance);
  const auto image = decodePlateBytes(plate.data, plate.size);
  return image->width == kPlateWidth && image->height == kPlateHeight && image->bgra.size() == kPlatePixelBytes;
}

std::filesystem::path scratchFolder() {
  return std::filesystem::temp_directory_path() / ("Tessary-tests-" + std::to_string(GetCurrentProcessId()));
}

}  // namespace

int runTests(HINSTANCE instance, const std::filesystem::path& exeDir) {
  std::filesystem::path scratch;
  try {
    scratch = scratchFolder();
    std::filesystem::create_directories(scratch);
  } catch (...) {
    // Without a scratch folder no check can run.
    return 1;
  }

  SelfTestLog log;
  try {
    const ObservationSheet sample = selfTestSampleSheet(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
    const std::vector<SelfTestCheck> checks = {
        {kSelfTestCheckNames[0], [] { return checkLanguageChoice(); }},
        {kSelfTestCheckNames[1], [] { return checkUiStringTable(); }},
        {kSelfTestCheckNames[2], [] { return checkTextRejection(); }},
        {kSelfTestCheckNames[3], [] { return checkPixelLimits(); }},
        {kSelfTestCheckNames[4], [] { return checkCropReversal(); }},
        {kSelfTestCheckNames[5], [] { return checkCropRejection(); }},
        {kSelfTestCheckNames[6], [&] { return checkSheetRoundTrip(sample); }},
        {kSelfTestCheckNames[7], [&] { return checkSheetFieldRejection(sample); }},
        {kSelfTestCheckNames[8], [&] { return checkIntegerRejection(sample); }},
        {kSelfTestCheckNames[9], [&] { return checkNotesCsv(sample); }},
        {kSelfTestCheckNames[10], [&] { return checkAtomicReplacement(scratch, sample); }},
        {kSelfTestCheckNames[11], [&] { return checkWriteFailureKeepsData(scratch); }},
        {kSelfTestCheckNames[12], [] { return checkKnownVector(); }},
        {kSelfTestCheckNames[13], [] { return checkFormatRejection(); }},
        {kSelfTestCheckNames[14], [] { return checkPathRejection(); }},
        {kSelfTestCheckNames[15], [=] { return checkTestImage(instance, kJpegResource); }},
        {kSelfTestCheckNames[16], [=] { return checkTestImage(instance, kBmpResource); }},
        {kSelfTestCheckNames[17], [=] { return checkTestImage(instance, kTiffResource); }},
        {kSelfTestCheckNames[18], [&] { return checkCropExport(scratch); }},
        {kSelfTestCheckNames[19], [=] { return checkPlateIdentity(instance); }},
        {kSelfTestCheckNames[20], [=] { return checkPlateDecode(instance); }},
    };
    log = runSelfTestChecks(checks);
  } catch (...) {
    // Only running out of memory while building the list gets here.
    log.failed = log.failed == 0 ? 1 : log.failed;
  }

  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);

  try {
    // A failed report write does not change the outcome.
    writeFileAtomically(exeDir / std::string(kSelfTestReportFileName), selfTestReportText(log), false);
  } catch (...) {
  }
  return selfTestExitCode(log);
}

}  // namespace tessary

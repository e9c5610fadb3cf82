// The path rules and the crop geometry on any input: the path box cleaning removes
// at most one enclosing pair of quotes, the root of a path is a prefix of it, the
// local-path check refuses exactly what the two rules say; every crop formed from
// any two points (infinite and not-a-number ones included) is empty or inside the
// image, and covers both points when they lie inside it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "exports/crop_geometry.h"
#include "imaging/image_path.h"
#include "imaging/pixels.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "path and crop rules: %s\n", what);
  std::abort();
}

void checkPath(const std::u16string& text) {
  const std::u16string cleaned = tessary::cleanPathBoxText(text);
  const bool quoted = text.size() >= 2 && text.front() == u'"' && text.back() == u'"';
  if (cleaned != (quoted ? text.substr(1, text.size() - 2) : text)) fail("path box cleaning");

  const std::u16string root = tessary::pathRoot(cleaned);
  if (root.size() > cleaned.size() || cleaned.compare(0, root.size(), root) != 0) fail("root is not a prefix");
  const bool absolute = tessary::isAbsoluteWindowsPath(cleaned);
  if (absolute && root.empty()) fail("absolute path without a root");
  const bool prefixed = tessary::hasServerOrDevicePrefix(cleaned);
  const bool twoSeparators = cleaned.size() >= 2 && ((cleaned[0] == u'\\' && cleaned[1] == u'\\') ||
                                                     (cleaned[0] == u'/' && cleaned[1] == u'/'));
  if (prefixed != twoSeparators) fail("server or device prefix");
  bool refused = false;
  try {
    tessary::requireLocalAbsolutePathForm(cleaned);
  } catch (const tessary::ImageError& error) {
    if (std::strcmp(error.what(), "Local absolute path required") != 0) fail("path refused with another text");
    refused = true;
  }
  if (refused != (!absolute || prefixed)) fail("local absolute form");
}

void checkCrop(FuzzedDataProvider& input) {
  const auto width = input.ConsumeIntegralInRange<std::uint32_t>(1, 20000);
  const auto height = input.ConsumeIntegralInRange<std::uint32_t>(1, 20000);
  double points[4];
  for (double& p : points) {
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
      case 0: p = input.ConsumeFloatingPoint<double>(); break;  // any value, huge ones included
      case 1: p = input.ConsumeFloatingPointInRange<double>(-2.0, 20002.0); break;
      case 2: p = input.ConsumeIntegralInRange<std::int32_t>(-2, 20002); break;
      default: {
        const double specials[] = {NAN, INFINITY, -INFINITY, -0.0, 0.0, 1e308, -1e308, 0.5, 4.9e-324};
        p = specials[input.ConsumeIntegralInRange<int>(0, 8)];
      }
    }
  }
  const tessary::CropRect crop = tessary::cropFromPoints(points[0], points[1], points[2], points[3], width, height);
  const bool empty = crop.x == 0 && crop.y == 0 && crop.width == 0 && crop.height == 0;
  if (!empty) {
    if (crop.x < 0 || crop.y < 0 || crop.width < 0 || crop.height < 0) fail("crop with a negative field");
    if (std::int64_t{crop.x} + crop.width > width || std::int64_t{crop.y} + crop.height > height) {
      fail("crop outside the image");
    }
  }
  bool inside = true;
  for (int k = 0; k < 4; ++k) {
    const double limit = k % 2 == 0 ? width : height;
    inside = inside && std::isfinite(points[k]) && points[k] >= 0 && points[k] <= limit;
  }
  if (inside) {
    // Every pixel the dragged rectangle touches.
    if (crop.x > std::floor(std::min(points[0], points[2])) || crop.y > std::floor(std::min(points[1], points[3])) ||
        crop.x + crop.width < std::ceil(std::max(points[0], points[2])) ||
        crop.y + crop.height < std::ceil(std::max(points[1], points[3]))) {
      fail("crop does not cover the dragged rectangle");
    }
  }
  if (tessary::cropFits(crop, width, height)) {
    if (crop.width < 1 || crop.height < 1 || std::int64_t{crop.width} * crop.height > tessary::kCropPixelLimit) {
      fail("cropFits let a crop through");
    }
  }
  // Any rectangle at all, whatever its fields: no overflow, and only fitting ones pass.
  tessary::CropRect any;
  any.x = input.ConsumeIntegral<std::int32_t>();
  any.y = input.ConsumeIntegral<std::int32_t>();
  any.width = input.ConsumeIntegral<std::int32_t>();
  any.height = input.ConsumeIntegral<std::int32_t>();
  if (tessary::cropFits(any, width, height) &&
      (any.x < 0 || any.y < 0 || any.width < 1 || any.height < 1 || std::int64_t{any.x} + any.width > width ||
       std::int64_t{any.y} + any.height > height)) {
    fail("cropFits let an outside rectangle through");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  checkCrop(input);
  // The rest as UTF-16 path text; a few characters mapped to the interesting ones.
  const std::string rest = input.ConsumeRemainingBytesAsString();
  std::u16string path;
  for (std::size_t i = 0; i + 1 < rest.size(); i += 2) {
    char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(rest[i]) | (static_cast<unsigned char>(rest[i + 1]) << 8));
    if (unit >= 0xF000) {
      static constexpr char16_t kInteresting[] = u"\\/:?.\" Cc";
      unit = kInteresting[unit % (sizeof kInteresting / sizeof kInteresting[0] - 1)];
    }
    path.push_back(unit);
  }
  checkPath(path);
  return 0;
}

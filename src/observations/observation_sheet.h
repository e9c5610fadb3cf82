#pragma once
// The observation sheet of one image and its JSON document.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace tessary {

// Raised with "Unsupported sheet", "Invalid sheet", "Invalid marker",
// "Integer required", "Integer overflow" or "Integer limit".
struct SheetError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Marker {
  std::int32_t id = 0;
  double x = 0;
  double y = 0;
  std::string note;  // UTF-8, passes acceptText with 8000 bytes
  std::int64_t createdUTC = 0;
};

struct ObservationSheet {
  std::string imageSHA256;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::int32_t nextId = 1;
  std::vector<Marker> marks;
};

inline constexpr std::size_t kMaxMarkers = 200;

nlohmann::json sheetToJson(const ObservationSheet& sheet);
ObservationSheet sheetFromJson(const nlohmann::json& document);
std::int64_t readBoundedInteger(const nlohmann::json& value, const std::string& key,
                                std::int64_t minimum, std::int64_t maximum);
// The printed form of a sheet: indent 2, keys sorted, raw UTF-8, no trailing newline.
std::string printSheet(const ObservationSheet& sheet);

}  // namespace tessary

#include "observations/observation_sheet.h"

#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "text/text_rules.h"

namespace tessary {

namespace {

constexpr std::int64_t kMaxSide = 20000;
constexpr std::int64_t kMaxPixels = 150000000;
constexpr std::int64_t kMaxNextIdValue = 1000000;

bool isLowerHexDigest(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    const bool digit = c >= '0' && c <= '9';
    const bool lowerHex = c >= 'a' && c <= 'f';
    if (!digit && !lowerHex) return false;
  }
  return true;
}

// A member read as a number, integer or fraction alike; any other type fails with
// the library's own type error.
double readNumber(const nlohmann::json& object, const char* key) {
  return object.at(key).get<double>();
}

// Builds the document from the parser's events, in time linear in the input: each
// member name is looked up once in the object being filled, which refuses a name
// repeated within one object at any depth (the library's own reader would keep only
// the last of them). Nesting and the number of values are bounded before anything
// is built, so a crafted file is refused early instead of filling memory.
class BoundedSheetBuilder {
 public:
  explicit BoundedSheetBuilder(nlohmann::json& root) : root_(root) {}

  bool null() { return place(nullptr) != nullptr; }
  bool boolean(bool value) { return place(value) != nullptr; }
  bool number_integer(nlohmann::json::number_integer_t value) { return place(value) != nullptr; }
  bool number_unsigned(nlohmann::json::number_unsigned_t value) { return place(value) != nullptr; }
  bool number_float(nlohmann::json::number_float_t value, const std::string&) { return place(value) != nullptr; }
  bool string(std::string& value) { return place(std::move(value)) != nullptr; }
  // JSON text holds no binary values; the parser's interface asks for the handler.
  bool binary(nlohmann::json::binary_t& value) { return place(nlohmann::json::binary(std::move(value))) != nullptr; }

  bool start_object(std::size_t) { return open(nlohmann::json::value_t::object); }
  bool start_array(std::size_t) { return open(nlohmann::json::value_t::array); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }

  bool key(std::string& name) {
    nlohmann::json& object = *open_.back();
    auto& members = object.get_ref<nlohmann::json::object_t&>();
    const auto [member, inserted] = members.emplace(std::move(name), nullptr);
    if (!inserted) throw SheetError("Invalid sheet");
    member_ = &member->second;
    return true;
  }

  // The library's syntax errors are raised as they are.
  template <typename Error>
  bool parse_error(std::size_t, const std::string&, const Error& error) {
    throw error;
  }

 private:
  nlohmann::json* place(nlohmann::json value) {
    if (++values_ > kMaxSheetValues) throw SheetError("Invalid sheet");
    if (open_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    nlohmann::json& parent = *open_.back();
    if (parent.is_array()) {
      auto& elements = parent.get_ref<nlohmann::json::array_t&>();
      elements.push_back(std::move(value));
      return &elements.back();
    }
    *member_ = std::move(value);
    return member_;
  }

  bool open(nlohmann::json::value_t type) {
    if (open_.size() >= kMaxSheetDepth) throw SheetError("Invalid sheet");
    // The container's place in its parent stays put while it is open: nothing is
    // added to the parent until it closes.
    open_.push_back(place(nlohmann::json(type)));
    return true;
  }

  bool close() {
    open_.pop_back();
    return true;
  }

  nlohmann::json& root_;
  std::vector<nlohmann::json*> open_;
  nlohmann::json* member_ = nullptr;
  std::size_t values_ = 0;
};

// The parser turns a number into a value only once its whole text is read, and a
// long run of digits costs far more than its bytes there (the text is held twice,
// quoted in full in an overflow error, and converted by a library routine that may
// take time growing with the square of its length). Numbers are therefore refused
// by their length first, in one pass that skips over strings.
void refuseLongNumbers(std::string_view bytes) {
  bool inString = false;
  std::size_t run = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (inString) {
      if (c == '\\') {
        ++i;  // the escaped character cannot end the string
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    const bool numberCharacter = (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
    run = numberCharacter ? run + 1 : 0;
    if (run > kMaxSheetNumberLength) throw SheetError("Invalid sheet");
    if (c == '"') inString = true;
  }
}

}  // namespace

nlohmann::json sheetToJson(const ObservationSheet& sheet) {
  nlohmann::json marks = nlohmann::json::array();
  for (const Marker& marker : sheet.marks) {
    nlohmann::json entry = nlohmann::json::object();
    entry["id"] = marker.id;
    entry["x"] = marker.x;
    entry["y"] = marker.y;
    entry["note"] = marker.note;
    entry["createdUTC"] = marker.createdUTC;
    marks.push_back(std::move(entry));
  }
  nlohmann::json document = nlohmann::json::object();
  document["format"] = "Tessary";
  document["version"] = 1;
  document["imageSHA256"] = sheet.imageSHA256;
  document["width"] = sheet.width;
  document["height"] = sheet.height;
  document["nextId"] = sheet.nextId;
  document["marks"] = std::move(marks);
  return document;
}

std::string printSheet(const ObservationSheet& sheet) {
  return sheetToJson(sheet).dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
}

std::int64_t readBoundedInteger(const nlohmann::json& value, const std::string& key,
                                std::int64_t minimum, std::int64_t maximum) {
  // at() raises the library's type error for a non-object and its out-of-range
  // error for a missing key.
  const nlohmann::json& member = value.at(key);
  if (member.is_number_unsigned()) {
    const auto number = member.get<std::uint64_t>();
    // Compared without sign: a non-negative integer above the maximum is an overflow.
    if (number > static_cast<std::uint64_t>(maximum)) throw SheetError("Integer overflow");
    if (maximum < 0 || (minimum > 0 && number < static_cast<std::uint64_t>(minimum))) {
      throw SheetError("Integer limit");
    }
    return static_cast<std::int64_t>(number);
  }
  if (member.is_number_integer()) {
    const auto number = member.get<std::int64_t>();
    if (number < minimum || number > maximum) throw SheetError("Integer limit");
    return number;
  }
  throw SheetError("Integer required");
}

ObservationSheet sheetFromText(std::string_view bytes) {
  // The parser takes a zero byte for the end of the input and would ignore whatever
  // follows it. A raw zero byte is never valid JSON, so it is refused as the
  // non-whitespace it is.
  const std::size_t zero = bytes.find('\0');
  if (zero != std::string_view::npos) {
    throw nlohmann::json::parse_error::create(
        101, zero + 1, "syntax error while parsing value - unexpected zero byte; expected end of input", nullptr);
  }
  refuseLongNumbers(bytes);
  nlohmann::json document;
  BoundedSheetBuilder builder(document);
  nlohmann::json::sax_parse(bytes, &builder, nlohmann::json::input_format_t::json, true, false);
  return sheetFromJson(document);
}

ObservationSheet sheetFromJson(const nlohmann::json& document) {
  const nlohmann::json& format = document.at("format");
  if (!format.is_string() || format.get_ref<const std::string&>() != "Tessary") {
    throw SheetError("Unsupported sheet");
  }
  readBoundedInteger(document, "version", 1, 1);

  ObservationSheet sheet;
  sheet.imageSHA256 = document.at("imageSHA256").get<std::string>();
  const std::int64_t width = readBoundedInteger(document, "width", 1, kMaxSide);
  const std::int64_t height = readBoundedInteger(document, "height", 1, kMaxSide);
  const std::int64_t nextId = readBoundedInteger(document, "nextId", 1, kMaxNextIdValue);

  if (!isLowerHexDigest(sheet.imageSHA256)) throw SheetError("Invalid sheet");
  if (width * height > kMaxPixels) throw SheetError("Invalid sheet");
  const nlohmann::json& marks = document.at("marks");
  if (!marks.is_array() || marks.size() > kMaxMarkers) throw SheetError("Invalid sheet");

  sheet.width = static_cast<std::uint32_t>(width);
  sheet.height = static_cast<std::uint32_t>(height);
  sheet.nextId = static_cast<std::int32_t>(nextId);

  std::set<std::int64_t> seenIds;
  sheet.marks.reserve(marks.size());
  for (const nlohmann::json& element : marks) {
    Marker marker;
    const std::int64_t id = readBoundedInteger(element, "id", 1, nextId - 1);
    marker.x = readNumber(element, "x");
    marker.y = readNumber(element, "y");
    marker.note = acceptText(element.at("note").get<std::string>(), kNoteByteLimit);
    marker.createdUTC = readBoundedInteger(element, "createdUTC", 0, kLatestCreatedUTC);
    if (!seenIds.insert(id).second) throw SheetError("Invalid marker");
    if (!std::isfinite(marker.x) || !std::isfinite(marker.y) || marker.x < 0 || marker.y < 0 ||
        marker.x >= static_cast<double>(width) || marker.y >= static_cast<double>(height)) {
      throw SheetError("Invalid marker");
    }
    marker.id = static_cast<std::int32_t>(id);
    sheet.marks.push_back(std::move(marker));
  }
  return sheet;
}

}  // namespace tessary

#include "exports/crop_record.h"

#include <gtest/gtest.h>

#include <string>

namespace tessary {
namespace {

TEST(CropRecord, ExactText) {
  CropRecord record;
  record.crop = CropRect{2, 1, 3, 4};
  record.sourceWidth = 8;
  record.sourceHeight = 6;
  record.sourceSHA256 = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
  record.credit = kLocalImageCredit;
  record.createdUTC = 1720000000;
  const std::string expected =
      "{\n"
      "  \"createdUTC\": 1720000000,\n"
      "  \"credit\": \"User-provided local image\",\n"
      "  \"crop\": {\n"
      "    \"height\": 4,\n"
      "    \"width\": 3,\n"
      "    \"x\": 2,\n"
      "    \"y\": 1\n"
      "  },\n"
      "  \"format\": \"Tessary crop\",\n"
      "  \"sourceHeight\": 6,\n"
      "  \"sourceSHA256\": \"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\",\n"
      "  \"sourceWidth\": 8,\n"
      "  \"version\": 1\n"
      "}";
  EXPECT_EQ(cropRecordText(record), expected);
}

TEST(CropRecord, NonAsciiCreditIsRawUtf8) {
  CropRecord record;
  record.crop = CropRect{0, 0, 1, 1};
  record.sourceWidth = 1;
  record.sourceHeight = 1;
  record.credit = std::string(kPlateCreditPrefix) + "https://example.org/\xC3\xA9t\xC3\xA9";
  const std::string text = cropRecordText(record);
  EXPECT_NE(text.find("\"credit\": \"NASA, ESA, CSA, STScI; https://example.org/\xC3\xA9t\xC3\xA9\""),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("\\u"), std::string::npos);
  EXPECT_NE(text.back(), '\n');
}

TEST(CropRecord, TypesOfTheMembers) {
  CropRecord record;
  record.crop = CropRect{10, 20, 30, 40};
  record.sourceWidth = 14575;
  record.sourceHeight = 8441;
  record.sourceSHA256 = std::string(64, 'f');
  record.credit = "x";
  record.createdUTC = -5;
  const nlohmann::json parsed = nlohmann::json::parse(cropRecordText(record));
  EXPECT_TRUE(parsed.at("createdUTC").is_number_integer());
  EXPECT_EQ(parsed.at("createdUTC").get<std::int64_t>(), -5);
  EXPECT_EQ(parsed.at("crop").at("x").get<int>(), 10);
  EXPECT_EQ(parsed.at("crop").at("height").get<int>(), 40);
  EXPECT_EQ(parsed.at("sourceWidth").get<int>(), 14575);
  EXPECT_EQ(parsed.at("version"), 1);
  EXPECT_EQ(parsed.size(), 8u);
  EXPECT_EQ(parsed.at("crop").size(), 4u);
}

TEST(CropRecord, InvalidUtf8IsRefused) {
  CropRecord record;
  record.credit = "\xFF";
  EXPECT_THROW(cropRecordText(record), nlohmann::json::type_error);
}

}  // namespace
}  // namespace tessary

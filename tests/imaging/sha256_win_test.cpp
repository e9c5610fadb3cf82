// SHA-256 through the system's cryptography service, against FIPS 180-4 vectors and
// a digest computed independently on the build machine.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/pixels.h"
#include "imaging/sha256_win.h"

namespace tessary {
namespace {

bool isLowerHex64(const std::string& digest) {
  if (digest.size() != 64) return false;
  for (char c : digest) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

TEST(Sha256, FipsExamples) {
  EXPECT_EQ(sha256Hex("abc", 3),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(sha256Hex(twoBlocks.data(), twoBlocks.size()),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  const std::string millionA(1'000'000, 'a');
  EXPECT_EQ(sha256Hex(millionA.data(), millionA.size()),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, EmptyInput) {
  const std::string expected = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  EXPECT_EQ(sha256Hex(nullptr, 0), expected);
  const char byte = 'x';
  EXPECT_EQ(sha256Hex(&byte, 0), expected);
}

TEST(Sha256, MultiMegabyteInputMatchesTheHostDigest) {
  // 5 MiB + 3 bytes: the high byte of each step of x = x * 1103515245 + 12345 (mod 2^32),
  // from x = 1. Digest from the build machine's sha256sum of the same bytes.
  std::vector<std::uint8_t> data(5 * 1024 * 1024 + 3);
  std::uint32_t x = 1;
  for (auto& b : data) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  const std::string digest = sha256Hex(data.data(), data.size());
  EXPECT_EQ(digest, "1041287b73f776cd4875f90c428975415d29a5d1df58ca6b7498536b82eef02e");
  EXPECT_TRUE(isLowerHex64(digest));

  // One byte changed gives another digest; the input is not modified by hashing.
  const std::vector<std::uint8_t> copy = data;
  data[data.size() / 2] ^= 1;
  EXPECT_NE(sha256Hex(data.data(), data.size()), digest);
  data[data.size() / 2] ^= 1;
  EXPECT_EQ(data, copy);
}

TEST(Sha256, OutputIsLowerCaseHexOfSixtyFourCharacters) {
  for (int length = 0; length < 130; length += 7) {
    const std::string input(static_cast<std::size_t>(length), static_cast<char>(0xFF));
    EXPECT_TRUE(isLowerHex64(sha256Hex(input.data(), input.size()))) << length;
  }
}

TEST(Sha256, InputBeyondOneCallIsAFailureNotATruncatedDigest) {
  // The whole input goes to the service in one call with a 32-bit count; a longer
  // range is refused before any byte is read.
  const std::uint8_t byte = 0;
  try {
    sha256Hex(&byte, std::size_t{1} << 32);
    FAIL() << "no error";
  } catch (const ImageError& error) {
    EXPECT_STREQ(error.what(), "Hash failed");
  }
}

}  // namespace
}  // namespace tessary

// SHA-256 through the system's cryptography service, against FIPS 180-4 vectors and
// a digest computed independently on the build machine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <new>
#include <string>
#include <thread>
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

TEST(BackgroundDigest, GivesTheSameDigestAsTheDirectCall) {
  std::vector<std::uint8_t> bytes(3'000'001);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
  for (const std::size_t count : {std::size_t{0}, std::size_t{3}, bytes.size()}) {
    BackgroundDigest digest(bytes.data(), count);
    EXPECT_EQ(digest.take(), sha256Hex(bytes.data(), count)) << count;
  }
  BackgroundDigest abc("abc", 3);
  EXPECT_EQ(abc.take(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(BackgroundDigest, HashesOnAnotherThreadWhileTheCallerWorks) {
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<bool> callerWorked{false};
  std::thread::id hasher;
  bool sawCallerWork = false;
  BackgroundDigest digest("abc", 3, [&](const void* bytes, std::size_t count) {
    hasher = std::this_thread::get_id();
    // The caller's work below happens while this hash is still running.
    for (int i = 0; i < 500 && !callerWorked; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    sawCallerWork = callerWorked;
    return sha256Hex(bytes, count);
  });
  callerWorked = true;
  EXPECT_EQ(digest.take(), sha256Hex("abc", 3));
  EXPECT_NE(hasher, caller);
  EXPECT_TRUE(sawCallerWork);
}

TEST(BackgroundDigest, FailuresOfTheHashReachTheCallerUnchanged) {
  // The service's own refusal of a range longer than one call, raised on the
  // hashing thread, comes out of take() as the same error and text.
  const std::uint8_t byte = 0;
  {
    BackgroundDigest digest(&byte, std::size_t{1} << 32);
    try {
      digest.take();
      FAIL() << "no error";
    } catch (const ImageError& error) {
      EXPECT_STREQ(error.what(), "Hash failed");
    }
  }
  // Out of memory on the hashing thread stays an out-of-memory error.
  BackgroundDigest noMemory(&byte, 1, [](const void*, std::size_t) -> std::string { throw std::bad_alloc(); });
  EXPECT_THROW(noMemory.take(), std::bad_alloc);
}

TEST(BackgroundDigest, DestructionWaitsForTheHashWhenTheDigestIsNeverTaken) {
  // The caller's work failed and the digest is abandoned: the hashing thread must
  // still be finished before the bytes it reads can go away.
  std::atomic<bool> finished{false};
  {
    BackgroundDigest digest("abc", 3, [&](const void* bytes, std::size_t count) {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      std::string hex = sha256Hex(bytes, count);
      finished = true;
      return hex;
    });
  }
  EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace tessary

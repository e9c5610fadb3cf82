#include "imaging/sha256_win.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "imaging/pixels.h"

namespace tessary {
namespace {

[[noreturn]] void hashFailed() { throw ImageError("Hash failed"); }

bool failed(NTSTATUS status) { return status < 0; }

// The algorithm provider, closed at scope exit.
class AlgorithmProvider {
 public:
  AlgorithmProvider() {
    if (failed(BCryptOpenAlgorithmProvider(&handle_, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      handle_ = nullptr;
      hashFailed();
    }
  }
  ~AlgorithmProvider() { BCryptCloseAlgorithmProvider(handle_, 0); }
  AlgorithmProvider(const AlgorithmProvider&) = delete;
  AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// One hash object in a caller-provided buffer, destroyed at scope exit (before the
// buffer and the provider, which are declared ahead of it).
class HashObject {
 public:
  HashObject(BCRYPT_ALG_HANDLE algorithm, std::vector<UCHAR>& objectBuffer) {
    if (failed(BCryptCreateHash(algorithm, &handle_, objectBuffer.data(),
                                static_cast<ULONG>(objectBuffer.size()), nullptr, 0, 0))) {
      handle_ = nullptr;
      hashFailed();
    }
  }
  ~HashObject() { BCryptDestroyHash(handle_); }
  HashObject(const HashObject&) = delete;
  HashObject& operator=(const HashObject&) = delete;
  BCRYPT_HASH_HANDLE get() const { return handle_; }

 private:
  BCRYPT_HASH_HANDLE handle_ = nullptr;
};

}  // namespace

std::string sha256Hex(const void* bytes, std::size_t count) {
  // The whole range goes to the service in one call with a 32-bit count.
  if (count > std::numeric_limits<ULONG>::max()) {
    hashFailed();
  }
  static UCHAR emptyInput = 0;
  PUCHAR input = count == 0 || bytes == nullptr
                     ? &emptyInput
                     : static_cast<PUCHAR>(const_cast<void*>(bytes));

  AlgorithmProvider provider;

  DWORD objectLength = 0;
  ULONG written = 0;
  if (failed(BCryptGetProperty(provider.get(), BCRYPT_OBJECT_LENGTH,
                               reinterpret_cast<PUCHAR>(&objectLength), sizeof(objectLength),
                               &written, 0)) ||
      written != sizeof(objectLength)) {
    hashFailed();
  }
  std::vector<UCHAR> objectBuffer(objectLength, 0);

  HashObject hash(provider.get(), objectBuffer);
  if (failed(BCryptHashData(hash.get(), input, static_cast<ULONG>(count), 0))) {
    hashFailed();
  }
  UCHAR digest[32] = {};
  if (failed(BCryptFinishHash(hash.get(), digest, sizeof(digest), 0))) {
    hashFailed();
  }

  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(64);
  for (UCHAR b : digest) {
    hex.push_back(kHex[b >> 4]);
    hex.push_back(kHex[b & 0x0F]);
  }
  return hex;
}

BackgroundDigest::BackgroundDigest(const void* bytes, std::size_t count, HashFunction hash)
    : bytes_(bytes), count_(count), hash_(std::move(hash)) {
  try {
    thread_ = std::thread([this] {
      try {
        digest_ = hash_(bytes_, count_);
      } catch (...) {
        error_ = std::current_exception();
      }
    });
  } catch (...) {
    // No second thread to be had: take() hashes on the caller's thread.
  }
}

BackgroundDigest::~BackgroundDigest() {
  if (thread_.joinable()) {
    thread_.join();
  }
}

std::string BackgroundDigest::take() {
  if (!thread_.joinable()) {
    return hash_(bytes_, count_);
  }
  thread_.join();
  if (error_) {
    std::rethrow_exception(std::exchange(error_, nullptr));
  }
  return std::move(digest_);
}

}  // namespace tessary

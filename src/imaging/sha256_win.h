#pragma once
// SHA-256 of a byte range through the system's cryptography service (CNG).
#include <cstddef>
#include <exception>
#include <functional>
#include <string>
#include <thread>

namespace tessary {

// The digest as 64 lower-case hexadecimal characters. The input is hashed in place,
// in one call. Raises ImageError("Hash failed") when the service fails.
std::string sha256Hex(const void* bytes, std::size_t count);

// The digest of a byte range computed on a thread of its own while the caller goes
// on with other work on the same bytes (the decoder reads them while they are
// hashed). The bytes must stay unchanged and alive until the digest is taken or
// the object is destroyed; the destructor waits for the hashing thread, so no
// thread outlives the object on any path. When no thread can be started, the
// digest is computed on the caller's thread when it is taken.
class BackgroundDigest {
 public:
  using HashFunction = std::function<std::string(const void*, std::size_t)>;

  BackgroundDigest(const void* bytes, std::size_t count, HashFunction hash = sha256Hex);
  ~BackgroundDigest();
  BackgroundDigest(const BackgroundDigest&) = delete;
  BackgroundDigest& operator=(const BackgroundDigest&) = delete;

  // Waits for the digest and returns it, or raises what the hash raised
  // (ImageError "Hash failed", std::bad_alloc). Call it once.
  std::string take();

 private:
  const void* bytes_;
  std::size_t count_;
  HashFunction hash_;
  std::string digest_;
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace tessary

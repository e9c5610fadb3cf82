#pragma once
// SHA-256 of a byte range through the system's cryptography service (CNG).
#include <cstddef>
#include <string>

namespace tessary {

// The digest as 64 lower-case hexadecimal characters. The input is hashed in place,
// in one call. Raises ImageError("Hash failed") when the service fails.
std::string sha256Hex(const void* bytes, std::size_t count);

}  // namespace tessary

#pragma once
// Small helpers of the native file code: a descriptor closed by its scope, and reads
// and writes that go on after an interrupted call.
#include <cerrno>
#include <cstddef>
#include <unistd.h>

namespace tessary::posixfile {

// Closes a descriptor when the scope ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now and reports whether the close succeeded.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Reads up to `wanted` bytes; -1 on failure.
inline ssize_t readSome(int fd, char* data, std::size_t wanted) {
  for (;;) {
    const ssize_t got = ::read(fd, data, wanted);
    if (got >= 0 || errno != EINTR) return got;
  }
}

// Writes all `length` bytes; false on failure.
inline bool writeAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace tessary::posixfile

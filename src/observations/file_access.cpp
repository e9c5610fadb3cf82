// The platform-free side of the sheet store's file operations.
#include "observations/file_access.h"

#include <algorithm>
#include <fstream>
#include <system_error>
#include <vector>

namespace tessary {

bool sameBytes(const std::filesystem::path& first, const std::filesystem::path& second) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(first, ec);
  if (ec || std::filesystem::file_size(second, ec) != size || ec) return false;
  std::ifstream a(first, std::ios::in | std::ios::binary);
  std::ifstream b(second, std::ios::in | std::ios::binary);
  if (!a || !b) return false;
  std::vector<char> bufferA(1 << 16);
  std::vector<char> bufferB(1 << 16);
  for (;;) {
    a.read(bufferA.data(), static_cast<std::streamsize>(bufferA.size()));
    b.read(bufferB.data(), static_cast<std::streamsize>(bufferB.size()));
    if (a.bad() || b.bad() || a.gcount() != b.gcount()) return false;
    const auto count = static_cast<std::size_t>(a.gcount());
    if (count == 0) return true;
    if (!std::equal(bufferA.begin(), bufferA.begin() + static_cast<std::ptrdiff_t>(count), bufferB.begin())) {
      return false;
    }
  }
}

bool makeFolderTree(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return std::filesystem::is_directory(folder, ec);
}

CopyOutcome copyAside(const std::filesystem::path& from, const std::filesystem::path& to) {
  const CopyOutcome outcome = copyToNewFile(from, to);
  if (outcome != CopyOutcome::Copied) return outcome;
  if (sameBytes(from, to)) return CopyOutcome::Copied;
  std::error_code ec;
  std::filesystem::remove(to, ec);
  return CopyOutcome::Failed;
}

}  // namespace tessary

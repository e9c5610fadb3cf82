#pragma once
// Small file helpers shared by the sheet file tests.
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>

namespace tessary::testing {

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The names of everything in a folder, sorted.
inline std::set<std::string> namesIn(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::u8string name = entry.path().filename().u8string();
    names.insert(std::string(name.begin(), name.end()));
  }
  return names;
}

inline std::filesystem::path withSuffix(const std::filesystem::path& path, const std::string& suffix) {
  std::filesystem::path result = path;
  result += suffix;
  return result;
}

// Takes the write permission away (on Windows: sets the read-only attribute) and
// gives it back when the scope ends, so the folder can be removed.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(std::filesystem::path path) : path_(std::move(path)) {
    std::filesystem::permissions(path_, std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                            std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
  }
  ~ReadOnlyFile() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_write, std::filesystem::perm_options::add, ec);
  }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

 private:
  std::filesystem::path path_;
};

}  // namespace tessary::testing

#include "imaging/image_file_win.h"
#include "imaging/scoped_handle_win.h"

#include <windows.h>

#include <cstdint>
#include <vector>

#include "imaging/image_decoder_win.h"
#include "imaging/image_format.h"
#include "imaging/image_path.h"

namespace tessary {
namespace {

std::wstring toWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

bool isLocalDriveType(UINT type) {
  return type == DRIVE_REMOVABLE || type == DRIVE_FIXED || type == DRIVE_CDROM;
}

}  // namespace

std::shared_ptr<Pixels> openImageFile(const std::u16string& path) {
  // The path checks come before any file access.
  requireLocalAbsolutePathForm(path);
  if (!isLocalDriveType(GetDriveTypeW(toWide(pathRoot(path)).c_str()))) {
    throw ImageError("Local drive required");
  }

  // Others may go on reading the file, but a file open for writing elsewhere is
  // refused, and nobody can start writing it while it is read.
  ScopedHandle file(CreateFileW(toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr));
  if (!file.valid()) {
    throw ImageError("Cannot open file");
  }

  // The size check comes before any allocation for the contents.
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 2 ||
      static_cast<std::uint64_t>(size.QuadPart) > kMaxImageSourceBytes) {
    throw ImageError("File size limit");
  }
  const DWORD byteCount = static_cast<DWORD>(size.QuadPart);

  std::vector<std::uint8_t> bytes(byteCount);
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes.data(), byteCount, &read, nullptr) || read != byteCount) {
    throw ImageError("Cannot read image");
  }
  // The source file is closed before decoding starts.
  file.close();

  return decodeImage(bytes.data(), bytes.size());
}

}  // namespace tessary

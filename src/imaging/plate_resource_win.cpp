#include "imaging/plate_resource_win.h"

#include "imaging/pixels.h"

namespace tessary {

PlateBytes plateResourceBytes(HMODULE module) {
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(kPlateResourceId), RT_RCDATA);
  if (info == nullptr) {
    throw ImageError("Missing atlas");
  }
  const DWORD size = SizeofResource(module, info);
  HGLOBAL loaded = LoadResource(module, info);
  if (loaded == nullptr || size == 0) {
    throw ImageError("Missing atlas");
  }
  const void* data = LockResource(loaded);
  if (data == nullptr) {
    throw ImageError("Missing atlas");
  }
  return PlateBytes{static_cast<const std::uint8_t*>(data), size};
}

}  // namespace tessary

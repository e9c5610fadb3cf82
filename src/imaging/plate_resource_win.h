#pragma once
// The built-in plate: raw-data resource 301 of a module, read in place.
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace tessary {

inline constexpr int kPlateResourceId = 301;

// The plate's PNG bytes inside the module's resources. Resource memory belongs to
// the module: it needs no release and lives as long as the module is loaded.
struct PlateBytes {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

// Finds resource 301 of type RT_RCDATA in `module` (the program's own module, or a
// module loaded as a data file) and returns its bytes without copying them. Raises
// ImageError("Missing atlas") when the resource is absent, empty or cannot be
// loaded.
PlateBytes plateResourceBytes(HMODULE module);

}  // namespace tessary

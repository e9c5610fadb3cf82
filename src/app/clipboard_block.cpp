#include "app/clipboard_block.h"

#include <algorithm>

namespace tessary {

std::optional<std::u16string> textInBlock(const char16_t* block, std::size_t units) {
  if (block == nullptr || units == 0) return std::nullopt;
  const char16_t* end = std::find(block, block + units, u'\0');
  if (end == block + units) return std::nullopt;
  return std::u16string(block, end);
}

}  // namespace tessary

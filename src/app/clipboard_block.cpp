#include "app/clipboard_block.h"

#include <algorithm>
#include <string_view>

#include "text/text_rules.h"

namespace tessary {

std::optional<std::size_t> textLengthInBlock(const char16_t* block, std::size_t units) {
  if (block == nullptr || units == 0) return std::nullopt;
  const char16_t* end = std::find(block, block + units, u'\0');
  if (end == block + units) return std::nullopt;
  return static_cast<std::size_t>(end - block);
}

std::optional<std::u16string> textInBlock(const char16_t* block, std::size_t units) {
  const std::optional<std::size_t> length = textLengthInBlock(block, units);
  if (!length) return std::nullopt;
  return std::u16string(block, *length);
}

bool pasteAccepted(const char16_t* block, std::size_t units, std::size_t boxLength, std::size_t selected,
                   std::size_t limit) {
  const std::optional<std::size_t> length = textLengthInBlock(block, units);
  if (!length) return false;
  const std::size_t kept = boxLength - std::min(selected, boxLength);
  if (*length > limit || kept > limit - *length) return false;
  return isEnabledScript(std::u16string_view(block, *length));
}

}  // namespace tessary

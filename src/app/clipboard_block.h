#pragma once
// Clipboard text lives in a global memory block of a known size. Its text ends at
// the first zero unit inside that block; a block without one holds no text this
// program accepts, and nothing past the block's end is ever read.
#include <cstddef>
#include <optional>
#include <string>

namespace tessary {

// The text of a block of `units` UTF-16 units, or nothing when no zero unit lies
// inside the block.
std::optional<std::u16string> textInBlock(const char16_t* block, std::size_t units);

}  // namespace tessary

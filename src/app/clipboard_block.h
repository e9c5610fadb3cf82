#pragma once
// Clipboard text lives in a global memory block of a known size. Its text ends at
// the first zero unit inside that block; a block without one holds no text this
// program accepts, and nothing past the block's end is ever read.
#include <cstddef>
#include <optional>
#include <string>

namespace tessary {

// The number of units of a block's text: those before the first zero unit inside
// the block of `units` units, or nothing when no zero lies inside it.
std::optional<std::size_t> textLengthInBlock(const char16_t* block, std::size_t units);

// The text of a block of `units` units, or nothing when no zero unit lies inside
// the block.
std::optional<std::u16string> textInBlock(const char16_t* block, std::size_t units);

// Whether the text of a clipboard block may be pasted into a box holding
// `boxLength` units, `selected` of them selected (the paste replaces them), whose
// limit is `limit` units. The length is taken from the block and checked first:
// a text that does not fit is refused whole, without being copied; a text that
// fits is checked for its script where it lies. Text without a terminating zero
// inside its block is refused.
bool pasteAccepted(const char16_t* block, std::size_t units, std::size_t boxLength, std::size_t selected,
                   std::size_t limit);

}  // namespace tessary

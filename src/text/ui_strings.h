#pragma once
// The interface string table (56 strings in English, Spanish and German) and the
// choice of language from a language tag.
#include <string>
#include <string_view>

namespace tessary {

enum class Language { English = 0, Spanish = 1, German = 2 };

inline constexpr int kUiTextCount = 56;

// The entry of string `id` (0..55) in `language`.
const std::u16string& uiText(Language language, int id);
Language languageForTag(std::u16string_view tag);

}  // namespace tessary

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
// The language of the first tag in a list of tags separated by zero units (the
// form the window system returns preferences in); later tags are ignored.
Language languageForFirstTag(std::u16string_view tagList);

}  // namespace tessary

#include "text/ui_language_win.h"

#include <windows.h>

#include <string>
#include <vector>

namespace tessary {

Language pickLanguage() {
  ULONG languageCount = 0;
  ULONG bufferLength = 0;
  if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &languageCount, nullptr, &bufferLength) ||
      bufferLength == 0) {
    return Language::English;
  }
  std::vector<wchar_t> buffer(bufferLength, L'\0');
  if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &languageCount, buffer.data(), &bufferLength)) {
    return Language::English;
  }
  // The list is a sequence of zero-terminated tags; only the first one counts.
  const std::u16string list(buffer.begin(), buffer.end());
  return languageForFirstTag(list);
}

}  // namespace tessary

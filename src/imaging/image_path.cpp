#include "imaging/image_path.h"

#include "imaging/pixels.h"

namespace tessary {
namespace {

bool isSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool isAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool hasDrivePrefix(const std::u16string& path) {
  return path.size() >= 2 && isAsciiLetter(path[0]) && path[1] == u':';
}

// Length of the root name, 0 when there is none.
std::size_t rootNameLength(const std::u16string& path) {
  const std::size_t n = path.size();
  if (n < 2) {
    return 0;
  }
  if (hasDrivePrefix(path)) {
    return 2;
  }
  if (!isSeparator(path[0])) {
    return 0;
  }
  // Device forms \\?\, \??\ and \\.\ (any separator kind in the separator places),
  // not followed by a further separator.
  if (n >= 4 && isSeparator(path[3]) && (n == 4 || !isSeparator(path[4])) &&
      ((isSeparator(path[1]) && (path[2] == u'?' || path[2] == u'.')) ||
       (path[1] == u'?' && path[2] == u'?'))) {
    return 3;
  }
  // Server form: two separators, then a name up to the next separator.
  if (n >= 3 && isSeparator(path[1]) && !isSeparator(path[2])) {
    std::size_t end = 3;
    while (end < n && !isSeparator(path[end])) {
      ++end;
    }
    return end;
  }
  return 0;
}

}  // namespace

std::u16string cleanPathBoxText(const std::u16string& text) {
  if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

bool isAbsoluteWindowsPath(const std::u16string& path) {
  if (hasDrivePrefix(path)) {
    return path.size() >= 3 && isSeparator(path[2]);
  }
  return rootNameLength(path) > 0;
}

bool hasServerOrDevicePrefix(const std::u16string& path) {
  return path.rfind(u"\\\\", 0) == 0 || path.rfind(u"//", 0) == 0;
}

std::u16string pathRoot(const std::u16string& path) {
  std::size_t end = rootNameLength(path);
  while (end < path.size() && isSeparator(path[end])) {
    ++end;
  }
  return path.substr(0, end);
}

void requireLocalAbsolutePathForm(const std::u16string& path) {
  if (!isAbsoluteWindowsPath(path) || hasServerOrDevicePrefix(path)) {
    throw ImageError("Local absolute path required");
  }
}

}  // namespace tessary

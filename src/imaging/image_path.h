#pragma once
// The platform-free path rules of image intake: cleaning the text of the path box,
// which paths count as absolute, the refused server and device prefixes, and the
// root of a path (the part whose drive type decides whether the path is local).
#include <string>

namespace tessary {

// The text of the path box with one enclosing pair of double quotes removed (only
// when the text is at least two characters long and both its first and its last
// character are a double quote). Nothing else is removed. An empty result means no
// load starts.
std::u16string cleanPathBoxText(const std::u16string& text);

// Windows rules: a drive letter and colon followed by a separator, or a root name
// without a drive prefix (two separators then a non-separator; \\?\, \??\, \\.\).
// "C:" alone and "C:photo.png" are not absolute.
bool isAbsoluteWindowsPath(const std::u16string& path);

// True for a path whose first two characters are "\\" or "//" (server shares and
// the device and long-path forms). A mixed pair is not matched here.
bool hasServerOrDevicePrefix(const std::u16string& path);

// The root of a path: its root name (a drive prefix, a server name after two
// separators, or a device prefix) followed by every separator immediately after it.
// For D:\photos\a.png the root is D:\ .
std::u16string pathRoot(const std::u16string& path);

// Steps one and two of opening an image file: raises
// ImageError("Local absolute path required") for a path that is not absolute or
// that begins with "\\" or "//".
void requireLocalAbsolutePathForm(const std::u16string& path);

}  // namespace tessary

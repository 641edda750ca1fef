// Names from outside (package entries, the update list's file names) placed on the disk: they
// always stay inside the folder they are meant for. Texts are system-code-page bytes and end at
// their first zero byte.
#pragma once

#include <string>
#include <string_view>

// The place of a package entry below its target folder, with "/" between its parts: "\" and
// "/" both separate subfolders, empty parts (a leading separator, doubled ones) are dropped, a
// part made only of dots becomes as many "_", control bytes become "_". Empty when nothing is
// left, so the entry has no place.
std::string SafeEntryPath(std::string_view entryName);

// One file name made of an outside text (an update file_name, also a Version.ini key):
// separators, control bytes and "=" become "_", a name made only of dots becomes as many "_".
// Empty stays empty.
std::string SafeFileName(std::string_view name);

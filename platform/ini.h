// Private profile (INI) files in the Windows syntax: "[section]" lines and "key=value" lines,
// names matched without regard to ASCII case, blanks around names and values ignored, a value in
// matching quotes read without them. Texts are bytes of the system code page. Every write
// replaces the file atomically, and one process-wide lock orders reads and writes.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::ini {

// The value of `key` in `section`, or `fallback` when the file, section or key is missing.
std::string GetString(std::string_view file, std::string_view section, std::string_view key,
                      std::string_view fallback = {});
// The leading decimal number of the value ("-" allowed), 0 when it has none, `fallback` when the
// key is missing.
int GetInt(std::string_view file, std::string_view section, std::string_view key, int fallback);
// Sets `key` in `section` (creating the file and the section as needed); true when written.
bool SetString(std::string_view file, std::string_view section, std::string_view key,
               std::string_view value);
// Removes `key` from `section`; true when the file holds no such key afterwards.
bool RemoveKey(std::string_view file, std::string_view section, std::string_view key);
// Removes a whole section; true when the file holds no such section afterwards.
bool RemoveSection(std::string_view file, std::string_view section);
// The (key, value) pairs of a section in file order.
std::vector<std::pair<std::string, std::string>> GetSection(std::string_view file,
                                                            std::string_view section);
// The section names in file order.
std::vector<std::string> GetSectionNames(std::string_view file);

}  // namespace platform::ini

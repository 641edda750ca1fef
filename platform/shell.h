// The desktop shell: programs started at login, launcher entries (the counterparts of shell
// links), and the answers the shell gives about files. Failures are results, never shown.
#pragma once

#include <string>
#include <string_view>

namespace platform::shell {

// Result codes of shell operations, as the callers compare them.
inline constexpr long kOk = 0;
inline constexpr long kFail = static_cast<long>(0x80004005L);  // E_FAIL

// The ending of a launcher entry file (what a shell link is elsewhere).
inline constexpr std::string_view kShortcutExtension = ".desktop";

// Whether an autostart entry starts the program.
enum class AutostartState { Enabled, Disabled };

// Writes the login-start entry `name` for `program` (with `arguments`, may be empty); a
// disabled entry stays in place but starts nothing. True when the entry was written.
bool WriteAutostartEntry(std::string_view name, std::string_view program,
                         std::string_view arguments, AutostartState state);
// The path of the login-start entry `name`.
std::string AutostartEntryPath(std::string_view name);

// Writes a launcher entry at `linkPath` that starts `target` in `workingFolder`, titled
// `description`. Answers kOk, or kFail when the target's full path cannot be formed or the entry
// cannot be written.
long CreateShortcut(std::string_view target, std::string_view description,
                    std::string_view workingFolder, std::string_view linkPath);

// The content type registered for a file extension (".htm", dot included, any letter case):
// from /etc/mime.types, else a small built-in table; empty when none is registered.
std::string GetContentType(std::string_view extension);

}  // namespace platform::shell

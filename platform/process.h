// Other programs: starting a program file as a process of its own that outlives this one (what
// the shell's "open" verb does for a program elsewhere).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::process {

// Starts the program file `path` (system code page) with `arguments`, each handed over as one
// argument exactly as given, in the current folder and environment. The new process is not a
// child that this one has to wait for. True when the program was started; false when the file
// cannot be executed.
bool StartProgram(std::string_view path, const std::vector<std::string>& arguments);

}  // namespace platform::process

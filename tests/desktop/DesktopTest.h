// Helpers of the desktop tests: pages in a fresh folder, waits on the GTK loop, screenshots.
#pragma once

#include "platform/ui.h"
#include "platform/webview.h"
#include "tests/support/TestSupport.h"

#include <chrono>
#include <functional>
#include <string>

namespace desktoptest {

using namespace std::chrono_literals;

// Runs the loop until `done` or the time-out; true when done.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s) {
  return platform::ui::PumpUntil(done, timeout);
}

// Where screenshots go (the build folder's test-output/).
std::string OutputPath(const std::string& name);

// Writes `html` as `name` in `dir` and answers its file:// address.
std::string WritePage(const testsupport::TempDir& dir, const std::string& name,
                      const std::string& html);

// The file:// prefix of a folder (trusted-origin form).
std::string FolderPrefix(const testsupport::TempDir& dir);

// Takes a PNG screenshot of the top-level window of `window` into `path`; false on failure.
bool Screenshot(platform::ui::Window& window, const std::string& path);

}  // namespace desktoptest

// The desktop tests' main: the process's main thread is the user-interface thread.
#include "platform/instance.h"
#include "tests/desktop/DesktopTest.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace desktoptest {

std::string OutputPath(const std::string& name) {
  const char* dir = std::getenv("MURAVEL_TEST_OUTPUT");
  std::string base = dir ? dir : MURAVEL_BINARY_DIR "/test-output";
  ::mkdir(base.c_str(), 0755);
  return base + "/" + name;
}

std::string WritePage(const testsupport::TempDir& dir, const std::string& name,
                      const std::string& html) {
  testsupport::WriteFileOrDie(dir / name, html);
  return FolderPrefix(dir) + name;
}

std::string FolderPrefix(const testsupport::TempDir& dir) { return "file://" + dir.path() + "/"; }

bool Screenshot(platform::ui::Window& window, const std::string& path) {
  return platform::ui::SaveScreenshot(window, path);
}

}  // namespace desktoptest

// The second start of the instance test: 0 when the running instance took the raise request and
// the text, 2 when the lock was free, 3 when nobody listened.
int InstanceClient(const char* text) {
  const auto lock = platform::instance::AcquireInstanceLock("muravel3.0");
  if (!lock.alreadyHeld) return 2;
  if (!platform::instance::RaiseRunningInstance("muravel3.0")) return 3;
  if (!platform::instance::SendCopyDataToRunningInstance("muravel3.0", 0, text)) return 4;
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--instance-client") == 0) return InstanceClient(argv[2]);
  testing::InitGoogleTest(&argc, argv);
  if (!platform::ui::Initialise()) {
    fprintf(stderr, "desktop tests: no display\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}

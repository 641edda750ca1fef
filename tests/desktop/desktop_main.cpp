// The desktop tests' main: the process's main thread is the user-interface thread.
#include "tests/desktop/DesktopTest.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace desktoptest {

std::string OutputPath(const std::string& name) {
  const char* dir = std::getenv("MURAVEL_TEST_OUTPUT");
  std::string base = dir ? dir : MURAVEL_BINARY_DIR "/test-output";
  g_mkdir_with_parents(base.c_str(), 0755);
  return base + "/" + name;
}

std::string WritePage(const testsupport::TempDir& dir, const std::string& name,
                      const std::string& html) {
  testsupport::WriteFileOrDie(dir / name, html);
  return FolderPrefix(dir) + name;
}

std::string FolderPrefix(const testsupport::TempDir& dir) { return "file://" + dir.path() + "/"; }

bool Screenshot(platform::ui::Window& window, const std::string& path) {
  // The screen's own pixels: what the window system shows, web views included.
  const platform::ui::Rect r = window.GetClientRect();
  const platform::ui::Point origin = window.ClientToScreen({0, 0});
  GdkWindow* root = gdk_get_default_root_window();
  GdkPixbuf* shot = gdk_pixbuf_get_from_window(root, origin.x, origin.y, r.Width(), r.Height());
  if (!shot) return false;
  const bool ok = gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, nullptr);
  g_object_unref(shot);
  return ok;
}

}  // namespace desktoptest

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!platform::ui::Initialise()) {
    fprintf(stderr, "desktop tests: no display\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}

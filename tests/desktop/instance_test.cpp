#include "platform/instance.h"
#include "tests/desktop/DesktopTest.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>

namespace {

using namespace platform;
using namespace desktoptest;

std::string SelfPath() {
  char buffer[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

TEST(Instance, ASecondProcessRaisesTheFirstAndForwardsItsPath) {
  testsupport::TempDir runtime;
  testsupport::ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().c_str());
  instance::LockResult lock = instance::AcquireInstanceLock("muravel3.0");
  ASSERT_TRUE(lock.lock);
  std::vector<std::string> copies;
  ui::WindowOptions wo;
  wo.frame = ui::Frame::None;
  wo.rect = {50, 50, 450, 350};
  auto window = ui::CreateWindow(wo, [&](unsigned msg, std::uintptr_t, std::intptr_t l) {
    if (msg == ui::kMsgCopyData) copies.push_back(reinterpret_cast<const ui::CopyData*>(l)->bytes);
    return std::intptr_t{1};
  });
  auto listener = instance::ListenAsInstanceWindow(*window, "muravel3.0");
  ASSERT_TRUE(listener);
  EXPECT_FALSE(window->IsVisible());  // hidden, as in the tray

  testsupport::ChildProcess second;
  ASSERT_TRUE(second.Start({SelfPath(), "--instance-client", "-p /tmp/issue one.exe"}));
  int code = -1;
  ASSERT_TRUE(WaitFor([&] {
    code = second.Wait(std::chrono::milliseconds(0));
    return code != -1;
  }));
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(window->IsVisible());
  EXPECT_EQ(copies, std::vector<std::string>{"-p /tmp/issue one.exe"});

  // Once the window is gone, a later start finds nobody and starts normally.
  listener.reset();
  testsupport::ChildProcess third;
  ASSERT_TRUE(third.Start({SelfPath(), "--instance-client", "-p x"}));
  EXPECT_EQ(third.Wait(std::chrono::seconds(20)), 3);
}

}  // namespace

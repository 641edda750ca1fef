#include "platform/headless/headless.h"
#include "platform/instance.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {

using namespace platform;
using namespace std::chrono_literals;

instance::InstanceTunables In(const testsupport::TempDir& dir) {
  instance::InstanceTunables t;
  t.folder = dir.path();
  t.answerTimeout = 2000ms;
  return t;
}

TEST(Instance, TheLockIsHeldOnceAndFreedWithItsHolder) {
  testsupport::TempDir dir;
  instance::LockResult first = instance::AcquireInstanceLock("muravel3.0", In(dir));
  EXPECT_FALSE(first.alreadyHeld);
  ASSERT_TRUE(first.lock);
  instance::LockResult second = instance::AcquireInstanceLock("muravel3.0", In(dir));
  EXPECT_TRUE(second.alreadyHeld);
  EXPECT_FALSE(second.lock);
  first.lock.reset();
  EXPECT_FALSE(instance::AcquireInstanceLock("muravel3.0", In(dir)).alreadyHeld);
}

TEST(Instance, ALockWithoutAListeningWindowLetsTheSecondStartGoOn) {
  testsupport::TempDir dir;
  auto lock = instance::AcquireInstanceLock("muravel3.0", In(dir));
  EXPECT_FALSE(instance::RaiseRunningInstance("muravel3.0", In(dir)));
  // A socket file that nobody listens on any more (the first instance was killed).
  const std::string path = dir / "muravel3.0.sock";
  {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }
  EXPECT_FALSE(instance::RaiseRunningInstance("muravel3.0", In(dir)));
  EXPECT_FALSE(instance::SendCopyDataToRunningInstance("muravel3.0", 0, "-p /x", In(dir)));
}

TEST(Instance, AFileThatIsNoSocketIsNeverRemovedForTheChannel) {
  testsupport::TempDir dir;
  headless::UiThread loop;
  testsupport::WriteFileOrDie(dir / "m.sock", "precious");
  std::unique_ptr<ui::Window> window;
  std::unique_ptr<instance::InstanceListener> listener;
  ui::InvokeOnUiThread([&] {
    window = ui::CreateWindow({}, [](unsigned, std::uintptr_t, std::intptr_t) {
      return std::intptr_t{0};
    });
    listener = instance::ListenAsInstanceWindow(*window, "m", In(dir));
  });
  EXPECT_FALSE(listener);
  EXPECT_EQ(testsupport::ReadFileOrDie(dir / "m.sock"), "precious");
  ui::InvokeOnUiThread([&] { window.reset(); });
}

TEST(Instance, ASecondStartRaisesTheWindowAndHandsOverItsText) {
  testsupport::TempDir dir;
  headless::UiThread loop;
  std::vector<std::pair<std::uintptr_t, std::string>> copies;
  std::unique_ptr<ui::Window> window;
  std::unique_ptr<instance::InstanceListener> listener;
  ui::InvokeOnUiThread([&] {
    window = ui::CreateWindow({}, [&](unsigned msg, std::uintptr_t, std::intptr_t l) {
      if (msg != ui::kMsgCopyData) return std::intptr_t{0};
      const auto* data = reinterpret_cast<const ui::CopyData*>(l);
      copies.emplace_back(data->dataWord, data->bytes);
      return std::intptr_t{1};
    });
    window->Show(ui::ShowMode::Minimise);
    listener = instance::ListenAsInstanceWindow(*window, "muravel3.0", In(dir));
  });
  ASSERT_TRUE(listener);
  EXPECT_TRUE(instance::RaiseRunningInstance("muravel3.0", In(dir)));
  const std::string text = "-p /home/u/QuorvexDownLoad/中文[55435].exe";
  EXPECT_TRUE(instance::SendCopyDataToRunningInstance("muravel3.0", 0, text, In(dir)));
  // Larger than the channel takes: refused before anything is sent.
  instance::InstanceTunables small = In(dir);
  small.maxCopyBytes = 8;
  EXPECT_FALSE(instance::SendCopyDataToRunningInstance("muravel3.0", 0, text, small));
  ui::InvokeOnUiThread([&] {
    EXPECT_FALSE(window->IsMinimised());
    EXPECT_TRUE(window->IsVisible());
    EXPECT_TRUE(window->IsActive());
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].second, text);
    // Ending the listener (the window mark goes away) on the user-interface thread.
    listener.reset();
    window.reset();
  });
  EXPECT_FALSE(instance::RaiseRunningInstance("muravel3.0", In(dir)));
}

TEST(Instance, MalformedRequestsGetNoAndChangeNothing) {
  testsupport::TempDir dir;
  headless::UiThread loop;
  int copies = 0;
  std::unique_ptr<ui::Window> window;
  std::unique_ptr<instance::InstanceListener> listener;
  ui::InvokeOnUiThread([&] {
    window = ui::CreateWindow({}, [&](unsigned msg, std::uintptr_t, std::intptr_t) {
      if (msg == ui::kMsgCopyData) ++copies;
      return std::intptr_t{0};
    });
    listener = instance::ListenAsInstanceWindow(*window, "m", In(dir));
  });
  for (const std::string& request : std::vector<std::string>{"HELLO\n", "COPY x y\n", "COPY 0 99999999\n", "COPY 0 10\nshort", std::string(300, 'A')}) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = dir / "m.sock";
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    ::shutdown(fd, SHUT_WR);
    char answer[16] = {};
    const ssize_t n = ::recv(fd, answer, sizeof answer - 1, 0);
    ::close(fd);
    EXPECT_TRUE(n <= 0 || std::string(answer).rfind("NO", 0) == 0) << request << answer;
  }
  ui::InvokeOnUiThread([&] {
    EXPECT_EQ(copies, 0);
    listener.reset();
    window.reset();
  });
}

}  // namespace

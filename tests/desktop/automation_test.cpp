#include "platform/surface.h"
#include "tests/desktop/DesktopTest.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

using namespace platform;
using namespace desktoptest;

// A client of the automation socket: one request line, one answer line.
class Client {
 public:
  explicit Client(const char* path) {
    m_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    m_ok = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    timeval tv{10, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~Client() { ::close(m_fd); }
  bool ok() const { return m_ok; }
  std::string Ask(const std::string& line) {
    const std::string out = line + "\n";
    if (::send(m_fd, out.data(), out.size(), MSG_NOSIGNAL) < 0) return {};
    std::string answer;
    char c;
    while (::recv(m_fd, &c, 1, 0) == 1 && c != '\n') answer += c;
    return answer;
  }

 private:
  int m_fd = -1;
  bool m_ok = false;
};

TEST(Automation, TheSocketListsViewsEvaluatesSendsClicksAndTakesScreenshots) {
  const char* path = std::getenv("MURAVEL_AUTOMATION");
  if (!path) GTEST_SKIP() << "runs with MURAVEL_AUTOMATION set (ctest does that)";
  testsupport::TempDir dir;
  std::vector<std::pair<unsigned, std::intptr_t>> got;
  ui::WindowOptions wo;
  wo.rect = {0, 0, 600, 400};
  wo.frame = ui::Frame::None;
  wo.visible = true;
  auto window = ui::CreateWindow(wo, [&](unsigned msg, std::uintptr_t w, std::intptr_t l) {
    if (msg == 20000) got.emplace_back(msg, static_cast<std::intptr_t>(w));
    if (msg == ui::kMsgLButtonDown) got.emplace_back(msg, l);
    return std::intptr_t{msg == 20000 ? 7 : 0};
  });
  ui::WebViewOptions vo;
  vo.rect = {0, 100, 600, 400};
  vo.id = 13824;
  vo.trustedOrigins = {FolderPrefix(dir)};
  vo.methods = {{"C_HtmlLoad", [](const ui::NativeArgs&) { return true; }}};
  bool complete = false;
  vo.events.documentComplete = [&](const std::string&) { complete = true; };
  auto view = ui::CreateWebView(*window, vo);
  view->Navigate(WritePage(dir, "p.html",
                           "<html><head><meta charset=\"utf-8\"></head><body><script>window.external.C_HtmlLoad('一');"
                           "function js_Two(a,b){return a+b;}</script></body></html>"));
  ASSERT_TRUE(WaitFor([&] { return complete; }));

  const std::string shot = OutputPath("automation.png");
  std::vector<std::string> answers;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    Client client(path);
    if (client.ok()) {
      for (const char* request :
           {R"({"cmd":"views"})", R"({"cmd":"eval","view":0,"script":"6*7"})",
            R"({"cmd":"call","view":0,"name":"js_Two","args":["a","b"]})",
            R"({"cmd":"send","message":20000,"wparam":6003,"lparam":0})",
            R"({"cmd":"bridgelog","view":0})", R"({"cmd":"click","x":30,"y":40})",
            "not json", R"({"cmd":"eval","view":5,"script":"1"})"})
        answers.push_back(client.Ask(request));
      answers.push_back(client.Ask(R"({"cmd":"screenshot","path":")" + shot + R"("})"));
    }
    done = true;
  });
  const bool finished = WaitFor([&] { return done.load(); }, 30s);
  worker.join();
  ASSERT_TRUE(finished);
  ASSERT_EQ(answers.size(), 9u);
  EXPECT_NE(answers[0].find("\"id\":13824"), std::string::npos) << answers[0];
  EXPECT_NE(answers[0].find("p.html"), std::string::npos) << answers[0];
  EXPECT_EQ(answers[1], R"({"ok":true,"result":"42"})");
  EXPECT_EQ(answers[2], R"({"ok":true,"result":"ab"})");
  EXPECT_EQ(answers[3], R"({"ok":true,"result":7})");
  EXPECT_EQ(answers[4],
            R"({"ok":true,"calls":[{"method":"C_HtmlLoad","args":["一"],"result":true}]})");
  EXPECT_EQ(answers[5], R"({"ok":true})");
  EXPECT_NE(answers[6].find("\"ok\":false"), std::string::npos);
  EXPECT_NE(answers[7].find("no such view"), std::string::npos);
  EXPECT_EQ(answers[8], R"({"ok":true})");
  EXPECT_EQ(got, (std::vector<std::pair<unsigned, std::intptr_t>>{
                     {20000, 6003}, {ui::kMsgLButtonDown, ui::MakePointParam(30, 40)}}));
  auto picture = Surface::LoadPicture(shot);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->Width(), 600);
}

}  // namespace

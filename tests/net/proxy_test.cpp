// The HTTP-proxy (CONNECT) and SOCKS5 paths against a scripted proxy on a loopback thread that
// records every byte it receives and answers each step with prepared bytes.
#include "net/MyHttp.h"

#include "platform/socket.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// One exchange: read `count` bytes (0: up to and including a blank line), then send `answer`.
struct Step {
  std::size_t count;
  std::string answer;
};

class ScriptedProxy {
 public:
  explicit ScriptedProxy(std::vector<Step> steps) : m_steps(std::move(steps)) {
    m_listener = platform::ListenLoopback(0);
    m_port = platform::LocalPort(m_listener);
    m_thread = std::thread([this] { Run(); });
  }
  ~ScriptedProxy() {
    m_stop = 1;
    if (m_thread.joinable()) m_thread.join();
    platform::CloseSocket(m_listener);
  }
  int port() const { return m_port; }
  // Everything received, after the client is done.
  const std::string& received() {
    m_stop = 1;
    if (m_thread.joinable()) m_thread.join();
    return m_received;
  }

 private:
  void Run() {
    const platform::Socket s = platform::Accept(m_listener, 5000, &m_stop);
    if (s == platform::kInvalidSocket) return;
    for (const Step& step : m_steps) {
      char c;
      if (step.count == 0) {
        std::string part;
        while (part.size() < 4 || part.compare(part.size() - 4, 4, "\r\n\r\n") != 0) {
          if (platform::Recv(s, &c, 1, 5000) != 1) goto done;
          part.push_back(c);
        }
        m_received += part;
      } else {
        std::string part(step.count, '\0');
        if (!platform::RecvExact(s, part.data(), part.size(), 5000)) goto done;
        m_received += part;
      }
      if (platform::SendAll(s, step.answer, 5000) < 0) break;
    }
  done:
    platform::CloseSocket(s);
  }

  std::vector<Step> m_steps;
  platform::Socket m_listener = platform::kInvalidSocket;
  int m_port = 0;
  std::atomic<int> m_stop{0};
  std::string m_received;
  std::thread m_thread;
};

const std::string kReply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

std::string RequestThrough(ScriptedProxy& proxy, int type, const std::string& user,
                           const std::string& password, int* result) {
  CMyHttp http;
  http.SetProxyType(type);
  http.SetProxyHost("127.0.0.1");
  http.SetProxyPort(proxy.port());
  http.SetProxyUser(user);
  http.SetProxyPassword(password);
  std::string body;
  *result = http.Request("http://store.test:8180/ebooks/update.xml", "", 0, "", body);
  return body;
}

// The request line and Host line of what the tunnel carried after the handshake.
std::string RequestStart(const std::string& received, std::size_t handshake) {
  const std::string rest = received.substr(handshake);
  return rest.substr(0, rest.find("\r\nAccept"));
}

TEST(Proxy, HttpConnectWithAndWithoutLogin) {
  {
    ScriptedProxy proxy({{0, "HTTP/1.0 200 Connection established\r\n\r\n"}, {0, kReply}});
    int result = 0;
    EXPECT_EQ(RequestThrough(proxy, 1, "", "", &result), "ok");
    EXPECT_EQ(result, HTTP_OK);
    const std::string connect = "CONNECT store.test:8180 HTTP/1.0\r\n\r\n";
    EXPECT_EQ(proxy.received().substr(0, connect.size()), connect);
    EXPECT_EQ(RequestStart(proxy.received(), connect.size()),
              "GET /ebooks/update.xml HTTP/1.1\r\nHost: store.test");
  }
  {
    // A lower-case status line is accepted (12 characters compared without case).
    ScriptedProxy proxy({{0, "http/1.1 200 ok\r\n\r\n"}, {0, kReply}});
    int result = 0;
    RequestThrough(proxy, 1, "alice", "s3cret", &result);
    EXPECT_EQ(result, HTTP_OK);
    const std::string connect =
        "CONNECT store.test:8180 HTTP/1.0\r\nProxy-Authorization: Basic YWxpY2U6czNjcmV0\r\n\r\n";
    EXPECT_EQ(proxy.received().substr(0, connect.size()), connect);
  }
  {
    // Only a user name: no login is sent.
    ScriptedProxy proxy({{0, "HTTP/1.1 200 OK\r\n\r\n"}, {0, kReply}});
    int result = 0;
    RequestThrough(proxy, 1, "alice", "", &result);
    EXPECT_EQ(proxy.received().find("Proxy-Authorization"), std::string::npos);
  }
}

TEST(Proxy, HttpConnectRefusedIsAConnectFailure) {
  for (const char* answer : {"HTTP/1.1 407 Proxy Authentication Required\r\n\r\n", "HTTP/1.1 2"}) {
    ScriptedProxy proxy({{0, answer}});
    int result = 0;
    std::string body = RequestThrough(proxy, 1, "", "", &result);
    EXPECT_EQ(result, HTTP_ERR_CONNECT) << answer;
  }
}

TEST(Proxy, Socks5WithoutLogin) {
  ScriptedProxy proxy({{3, std::string("\x05\x00", 2)},
                       {7 + 10, std::string("\x05\x00\x00\x01\x7f\x00\x00\x01\x1f\x40", 10)},
                       {0, kReply}});
  int result = 0;
  EXPECT_EQ(RequestThrough(proxy, 2, "", "", &result), "ok");
  EXPECT_EQ(result, HTTP_OK);
  const std::string expected = std::string("\x05\x01\x00", 3) +
                               std::string("\x05\x01\x00\x03\x0a", 5) + "store.test" +
                               std::string("\x1f\xf4", 2);
  EXPECT_EQ(proxy.received().substr(0, expected.size()), expected);
  EXPECT_EQ(RequestStart(proxy.received(), expected.size()),
            "GET /ebooks/update.xml HTTP/1.1\r\nHost: store.test");
}

TEST(Proxy, Socks5WithLogin) {
  ScriptedProxy proxy({{4, std::string("\x05\x02", 2)},
                       {1 + 1 + 5 + 1 + 6, std::string("\x01\x00", 2)},
                       {17, std::string("\x05\x00\x00\x01\x7f\x00\x00\x01\x1f\x40", 10)},
                       {0, kReply}});
  int result = 0;
  RequestThrough(proxy, 2, "alice", "s3cret", &result);
  EXPECT_EQ(result, HTTP_OK);
  const std::string expected = std::string("\x05\x02\x00\x02", 4) + "\x01\x05" "alice" "\x06"
                               "s3cret" + std::string("\x05\x01\x00\x03\x0a", 5) + "store.test";
  EXPECT_EQ(proxy.received().substr(0, expected.size()), expected);
}

TEST(Proxy, Socks5RefusalsAreConnectFailures) {
  struct Case {
    const char* what;
    std::vector<Step> steps;
    bool login;
  };
  const std::string connected("\x05\x00\x00\x01\x7f\x00\x00\x01\x1f\x40", 10);
  const Case cases[] = {
      {"no acceptable method", {{3, std::string("\x05\xff", 2)}}, false},
      {"not version 5", {{3, std::string("\x04\x00", 2)}}, false},
      {"login refused", {{4, std::string("\x05\x02", 2)}, {14, std::string("\x01\x01", 2)}}, true},
      {"method neither none nor login", {{4, std::string("\x05\x01", 2)}}, true},
      {"connect refused", {{3, std::string("\x05\x00", 2)}, {17, std::string("\x05\x05", 2) +
                                                                 connected.substr(2)}}, false},
      {"answer cut short", {{3, std::string("\x05", 1)}}, false},
  };
  for (const Case& c : cases) {
    ScriptedProxy proxy(c.steps);
    int result = 0;
    RequestThrough(proxy, 2, c.login ? "alice" : "", c.login ? "s3cret" : "", &result);
    EXPECT_EQ(result, HTTP_ERR_CONNECT) << c.what;
  }
  // The "none" method chosen although a login was offered is fine.
  ScriptedProxy proxy({{4, std::string("\x05\x00", 2)}, {17, connected}, {0, kReply}});
  int result = 0;
  RequestThrough(proxy, 2, "alice", "s3cret", &result);
  EXPECT_EQ(result, HTTP_OK);
}

TEST(Proxy, UnknownTypeOrUnresolvableProxyFails) {
  CMyHttp http;
  http.SetProxyType(3);
  http.SetProxyHost("127.0.0.1");
  http.SetProxyPort(1);
  std::string body;
  EXPECT_EQ(http.Request("http://store.test/x", "", 0, "", body), HTTP_ERR_CONNECT);
  CMyHttp empty;
  empty.SetProxyType(1);
  EXPECT_EQ(empty.Request("http://store.test/x", "", 0, "", body), HTTP_ERR_CONNECT);
}

}  // namespace

namespace {

// A connection whose peer is already gone: the request cannot be sent.
TEST(Connection, ARequestThatCannotBeSentIs102) {
  const auto deadConnection = [](const UrlParts&) {
    platform::Socket near = platform::kInvalidSocket, far = platform::kInvalidSocket;
    if (!platform::SocketPair(near, far)) return platform::kInvalidSocket;
    platform::CloseSocket(far);
    return near;
  };
  CMyHttp request;
  request.SetConnector(deadConnection);
  std::string body = "unchanged";
  EXPECT_EQ(request.Request("http://store.test/x", "", 0, "", body), HTTP_ERR_SEND);
  EXPECT_EQ(body, "unchanged");
  CMyHttp download;
  download.SetConnector(deadConnection);
  EXPECT_EQ(download.Download("http://store.test/x", "", 0, "", "/dev/null"), HTTP_ERR_CONNECT);
}

}  // namespace

#include "content/HttpServer.h"
#include "content/MyMemFile.h"

#include "platform/fs.h"
#include "platform/listen.h"
#include "platform/shell.h"
#include "tests/content/ContentTestUtil.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <regex>
#include <thread>

using contenttest::Body;
using contenttest::Exchange;
using contenttest::Get;
using contenttest::Header;
using contenttest::StatusLine;
using testsupport::TempDir;

namespace {

// A server of a fresh store on a free port, stopped at the end of the scope.
class RunningServer {
 public:
  explicit RunningServer(ServerSettings settings = ServerSettings()) {
    settings.port = 0;
    settings.selfTest = SelfTest::Skip;
    m_ok = store.StartServer(settings);
    port = store.ServerPort();
  }
  ~RunningServer() { store.StopServer(); }
  bool ok() const { return m_ok; }
  CMyMemFile store;
  int port = 0;

 private:
  bool m_ok = false;
};

ServerSettings DiskRoot(const std::string& root) {
  ServerSettings s;
  s.documentRoot = root;
  s.rootKind = RootKind::Disk;
  return s;
}

const std::regex kDate(R"((Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d GMT)");

TEST(ServerTest, SelfTestReplyByteForByte) {
  RunningServer server;
  ASSERT_TRUE(server.ok());
  EXPECT_TRUE(server.store.IsServerRunning());
  for (const char* url : {"/test_http/", "/TEST_HTTP/"}) {
    const std::string reply = Get(server.port, std::string("GET ") + url + " HTTP/1.0\r\n\r\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        reply, m,
        std::regex("HTTP/1\\.0 200 OK\r\nServer: DOVOvuvErezid/1\\.0\r\nDate: ([^\r]*)\r\n\r\n"
                   "<HTTP_OK>")))
        << reply;
    EXPECT_TRUE(std::regex_match(m[1].str(), kDate)) << m[1];
  }
}

TEST(ServerTest, MemoryFilesWithTheHtmTypeQueryCaseAndPercentDecoding) {
  RunningServer server;
  ASSERT_TRUE(server.ok());
  const std::string bytes("stream\0bytes", 12);
  server.store.AddOwnedFile(IssueFolder("mag", "55435") + u"stream", bytes);
  server.store.AddOwnedFile(IssueFolder("mag", "55435") + u"A.html", "letter A");
  server.store.AddOwnedFile(IssueFolder("mag", "55435") + u"%41", "percent");
  const std::string htm = platform::shell::GetContentType(".htm");
  ASSERT_FALSE(htm.empty());
  struct Case {
    const char* url;
    std::string body;
  } cases[] = {
      {"/mag/55435/stream", bytes},
      {"/mag/55435/STREAM?x=1", bytes},
      {"/mag/55435/%41.html", "letter A"},
      {"/mag%2f55435%2fstream", bytes},
      {"/mag/55435/%%41", "percent"},
      {"/mag/./55435//stream", bytes},
      {"/mag/x/../55435/stream", bytes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const std::string reply = Get(server.port, std::string("GET ") + c.url + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(StatusLine(reply), "HTTP/1.0 200 OK");
    EXPECT_EQ(Header(reply, "Content-type"), htm);
    EXPECT_EQ(Header(reply, "Content-length"), std::to_string(c.body.size()));
    EXPECT_EQ(Body(reply), c.body);
  }
  EXPECT_EQ(StatusLine(Get(server.port, "GET /mag/55435/missing HTTP/1.0\r\n\r\n")),
            "HTTP/1.0 404 Not Found");
  server.store.Clear();
  EXPECT_EQ(StatusLine(Get(server.port, "GET /mag/55435/stream HTTP/1.0\r\n\r\n")),
            "HTTP/1.0 404 Not Found");
}

TEST(ServerTest, LargeMemoryFileArrivesWhole) {
  RunningServer server;
  ASSERT_TRUE(server.ok());
  std::string big(3 * 1024 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131);
  server.store.AddOwnedFile(IssueFolder("book", "9") + u"big.eswf", big);
  const std::string reply = Get(server.port, "GET /book/9/big.eswf HTTP/1.0\r\n\r\n");
  EXPECT_EQ(Header(reply, "Content-length"), std::to_string(big.size()));
  EXPECT_TRUE(Body(reply) == big);
}

TEST(ServerTest, RequestSplitOverManyPacketsAndADeclaredBody) {
  RunningServer server;
  ASSERT_TRUE(server.ok());
  // Split inside the request line and inside a header line, one byte at a time at the end.
  std::vector<std::string> pieces{"GE", "T /test", "_http/ HT", "TP/1.0\r", "\nUser-Ag",
                                  "ent: x\r\n", "\r"};
  pieces.push_back("\n");
  const std::string reply = Exchange(server.port, pieces, std::chrono::milliseconds(20));
  EXPECT_EQ(Body(reply), "<HTTP_OK>");
  // A declared 5-byte body: no reply before the fifth byte; then the body is taken (and a GET
  // with a body is not served).
  const std::string head = "GET /test_http/ HTTP/1.0\r\nContent-Length: 5\r\n\r\n";
  const std::string early =
      Exchange(server.port, {head, "1234"}, std::chrono::milliseconds(10),
               std::chrono::milliseconds(300));
  EXPECT_EQ(early, "");
  const std::string full = Exchange(server.port, {head, "1234", "5"}, std::chrono::milliseconds(50));
  EXPECT_EQ(Body(full), "<HTTP_OK>");
  // POST with a body to a memory file: the own handler answers it too.
  server.store.AddOwnedFile(IssueFolder("mag", "1") + u"a", "file a");
  EXPECT_EQ(Body(Get(server.port, "POST /mag/1/a HTTP/1.0\r\nContent-length: 3\r\n\r\nabc")),
            "file a");
}

TEST(ServerTest, OnlyTheFirstRequestOfAConnectionIsRead) {
  RunningServer server;
  ASSERT_TRUE(server.ok());
  server.store.AddOwnedFile(IssueFolder("mag", "1") + u"a", "AAAA");
  server.store.AddOwnedFile(IssueFolder("mag", "1") + u"b", "BBBB");
  const std::string reply = Get(server.port,
                                "GET /mag/1/a HTTP/1.0\r\n\r\nGET /mag/1/b HTTP/1.0\r\n\r\n");
  EXPECT_EQ(Body(reply), "AAAA");
  EXPECT_EQ(reply.find("BBBB"), std::string::npos);
  // The connection was ended by the server: Exchange saw the end well before its time-out.
  const auto start = std::chrono::steady_clock::now();
  Exchange(server.port, {"GET /mag/1/a HTTP/1.0\r\n\r\n", "GET /mag/1/b HTTP/1.0\r\n\r\n"},
           std::chrono::milliseconds(50));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ServerTest, StartServerRunsTheSelfTestThroughTheHttpClient) {
  CMyMemFile store;
  ServerSettings s;
  s.port = 0;
  ASSERT_TRUE(store.StartServer(s));
  EXPECT_TRUE(store.SelfTestPassed());
  EXPECT_TRUE(store.StartServer(s));  // once: a second call only answers the state
  store.StopServer();
  EXPECT_FALSE(store.IsServerRunning());
}

TEST(ServerTest, PortAlreadyInUse) {
  int error = 0;
  const auto holder = platform::listen::ListenLoopback(0, 5, &error);
  ASSERT_NE(holder, platform::listen::kInvalidSocket);
  ServerSettings s;
  s.port = platform::listen::LocalPort(holder);
  CMyMemFile store;
  EXPECT_FALSE(store.StartServer(s));
  EXPECT_FALSE(store.IsServerRunning());
  EXPECT_EQ(store.GetServerState(), ServerState::ListenFailed);
  store.StopServer();
  platform::listen::Close(holder);
}

TEST(ServerTest, RequestsWithoutAnEndAreClosed) {
  ServerSettings s;
  s.idleTimeout = std::chrono::milliseconds(300);
  s.maxHeaderBytes = 4096;
  RunningServer server(s);
  ASSERT_TRUE(server.ok());
  const auto start = std::chrono::steady_clock::now();
  // Headers forever: closed once they pass the limit, with no reply.
  std::vector<std::string> endless{"GET / HTTP/1.0\r\n"};
  for (int i = 0; i < 100; ++i) endless.push_back("X-Filler: " + std::string(100, 'f') + "\r\n");
  EXPECT_EQ(Exchange(server.port, endless), "");
  // A body shorter than declared, and a request that stops mid-line: closed when idle.
  EXPECT_EQ(Exchange(server.port, {"POST / HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc"}), "");
  EXPECT_EQ(Exchange(server.port, {"GET /test_ht"}), "");
  // A body above the limit is refused at once.
  EXPECT_EQ(Exchange(server.port, {"POST / HTTP/1.0\r\nContent-Length: 99999999\r\n\r\n"}), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  // The server still answers.
  EXPECT_EQ(Body(Get(server.port, "GET /test_http/ HTTP/1.0\r\n\r\n")), "<HTTP_OK>");
}

TEST(ServerTest, AClientThatStopsReadingIsClosedWhenIdle) {
  ServerSettings s;
  s.idleTimeout = std::chrono::milliseconds(300);
  RunningServer server(s);
  ASSERT_TRUE(server.ok());
  server.store.AddOwnedFile(IssueFolder("mag", "1") + u"big", std::string(32 << 20, 'b'));
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  const int small = 4096;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(server.port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const std::string request = "GET /mag/1/big HTTP/1.0\r\n\r\n";
  ASSERT_EQ(::send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // not reading meanwhile
  // Now the end (or a reset) comes long before 32 MiB have been read.
  std::size_t got = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  char buf[65536];
  for (;;) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0 || std::chrono::steady_clock::now() > end) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  EXPECT_LT(got, std::size_t(32) << 20);
  EXPECT_EQ(Body(Get(server.port, "GET /test_http/ HTTP/1.0\r\n\r\n")), "<HTTP_OK>");
}

TEST(ServerTest, ProductionRootServesNoDiskFiles) {
  RunningServer server;
  ASSERT_TRUE(server.ok());
  struct Case {
    const char* url;
    const char* status;
  } cases[] = {
      {"/etc/passwd", "HTTP/1.0 404 Not Found"},
      {"/", "HTTP/1.0 404 Not Found"},
      {"/../../etc/passwd", "HTTP/1.0 400 Bad Request"},
      {"/%2e%2e/%2e%2e/etc/passwd", "HTTP/1.0 400 Bad Request"},
      {"/mag/..%5c..%5c..%5cetc", "HTTP/1.0 400 Bad Request"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StatusLine(Get(server.port, std::string("GET ") + c.url + " HTTP/1.0\r\n\r\n")),
              c.status)
        << c.url;
  }
  EXPECT_EQ(StatusLine(Get(server.port, "PUT /x HTTP/1.0\r\n\r\n")),
            "HTTP/1.0 501 Not Implemented");
}

class DiskRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = dir / "root";
    ASSERT_TRUE(platform::fs::CreateFolders(root + "/withindex"));
    ASSERT_TRUE(platform::fs::CreateFolders(root + "/withbat"));
    ASSERT_TRUE(platform::fs::CreateFolders(root + "/plain/inner folder"));
    testsupport::WriteFileOrDie(root + "/withindex/index.htm", "<p>index</p>");
    testsupport::WriteFileOrDie(root + "/withindex/default.bat", "bat");
    testsupport::WriteFileOrDie(root + "/withbat/default.bat", "bat");
    testsupport::WriteFileOrDie(root + "/plain/small.txt", std::string(1023, 's'));
    testsupport::WriteFileOrDie(root + "/plain/one k.txt", std::string(1024, 'k'));
    testsupport::WriteFileOrDie(root + "/plain/.hidden", "h");
    testsupport::WriteFileOrDie(root + "/a.txt", "text of a");
    testsupport::WriteFileOrDie(root + "/.secret", "s");
    testsupport::WriteFileOrDie(dir / "outside.txt", "outside");
    server = std::make_unique<RunningServer>(DiskRoot(root));
    ASSERT_TRUE(server->ok());
    host = platform::listen::HostName();
  }
  std::string GetUrl(const std::string& url, const std::string& headers = "") {
    return Get(server->port, "GET " + url + " HTTP/1.0\r\n" + headers + "\r\n");
  }
  TempDir dir;
  std::string root;
  std::string host;
  std::unique_ptr<RunningServer> server;
};

TEST_F(DiskRulesTest, DefaultDocumentsRedirectWithTheExactLocation) {
  const std::string port = ":" + std::to_string(server->port);
  std::string reply = GetUrl("/withindex");
  EXPECT_EQ(StatusLine(reply), "HTTP/1.0 302 Redirectio");
  EXPECT_EQ(Header(reply, "Location"), "http://" + host + port + "/withindex/index.htm");
  EXPECT_EQ(Body(reply), "");
  reply = GetUrl("/withbat/");
  EXPECT_EQ(StatusLine(reply), "HTTP/1.0 302 Redirectio");
  EXPECT_EQ(Header(reply, "Location"), "http://" + host + port + "/withbat/default.bat?");
}

TEST_F(DiskRulesTest, RootAndSubfolderListings) {
  const std::string rootList = GetUrl("/");
  EXPECT_EQ(StatusLine(rootList), "HTTP/1.0 200 OK");
  EXPECT_EQ(Header(rootList, "Content-type"), "");
  const std::string body = Body(rootList);
  EXPECT_EQ(body.rfind("<html><h1>http://" + host + "/</h1><p>\n", 0), 0u) << body;
  EXPECT_NE(body.find("The URL specified is a folder that does not contain a default document "
                      "or application. The following is a listing of what documents and "
                      "subfolders it does have; please select one:<p>\n"),
            std::string::npos);
  EXPECT_EQ(body.find("Parent Folder"), std::string::npos);
  EXPECT_EQ(body.find(".secret"), std::string::npos);
  EXPECT_NE(body.find("<pre> Last Modified       Size <img src=/SvrAdmin/Blank.gif align=bottom "
                      "alt=      border=0 width=16 height=16>Name\n<hr>\n"),
            std::string::npos);
  const std::string folderIcon =
      "<img src=/SvrAdmin/Folder.gif align=bottom alt=      border=0 width=16 height=16>";
  EXPECT_NE(body.find("   Folder <a href=/plain>" + folderIcon + "plain</a>\n"), std::string::npos);
  EXPECT_TRUE(body.size() > 2 && body.substr(body.size() - 2) == "\r\n");
  EXPECT_NE(body.find("<hr><em>Do your part to beautify the web! Turn <strong>off</strong> link "
                      "underlining!</em>\n\r\n"),
            std::string::npos);

  const std::string sub = Body(GetUrl("/plain"));
  EXPECT_EQ(sub.find("The URL specified"), std::string::npos);
  EXPECT_NE(sub.find("<hr><h3><a href=.><img src=/SvrAdmin/Prev.gif align=bottom alt=      "
                     "border=0 width=16 height=16> Parent Folder</a></h3>\n"),
            std::string::npos);
  const std::string fileIcon =
      "<img src=/SvrAdmin/File.gif align=bottom alt=      border=0 width=16 height=16>";
  EXPECT_NE(sub.find("     &lt; 1K <a href=/plain/small.txt>" + fileIcon + "small.txt</a>\n"),
            std::string::npos)
      << sub;
  EXPECT_NE(sub.find("       1K <a href=/plain/one%20k.txt>" + fileIcon + "one k.txt</a>\n"),
            std::string::npos);
  EXPECT_NE(sub.find("<a href=/plain/inner%20folder>"), std::string::npos);
  EXPECT_EQ(sub.find(".hidden"), std::string::npos);
  // A listing line: the local time, then the size text.
  EXPECT_TRUE(std::regex_search(sub, std::regex(R"(\n \d\d/\d\d/\d\d \d\d:\d\d      &lt; 1K <a href=/plain/small.txt>)")))
      << sub;
  // An empty folder.
  EXPECT_NE(Body(GetUrl("/plain/inner%20folder/")).find("<strong>empty</strong>\n"),
            std::string::npos);
}

TEST_F(DiskRulesTest, FilesPathsBelowThemAndConditionalRequests) {
  std::string reply = GetUrl("/a.txt/extra/more");
  EXPECT_EQ(StatusLine(reply), "HTTP/1.0 200 OK");
  EXPECT_EQ(Body(reply), "text of a");
  EXPECT_EQ(Header(reply, "Content-type"), "text/plain");
  EXPECT_EQ(Header(reply, "Content-length"), "9");
  // A fixed modification time, then If-Modified-Since equal to it and one second earlier.
  const std::int64_t when = 1700000000;
  utimbuf times{static_cast<time_t>(when), static_cast<time_t>(when)};
  ASSERT_EQ(::utime((root + "/a.txt").c_str(), &times), 0);
  reply = GetUrl("/a.txt");
  EXPECT_EQ(Header(reply, "Last-Modified"), "Tue, 14 Nov 2023 22:13:20 GMT");
  reply = GetUrl("/a.txt", "If-Modified-Since: Tue, 14 Nov 2023 22:13:20 GMT\r\n");
  EXPECT_EQ(StatusLine(reply), "HTTP/1.0 304 Not Modified");
  EXPECT_EQ(Body(reply), "");
  reply = GetUrl("/a.txt", "If-Modified-Since: Tue, 14 Nov 2023 22:13:19 GMT\r\n");
  EXPECT_EQ(StatusLine(reply), "HTTP/1.0 200 OK");
  EXPECT_EQ(Body(reply), "text of a");
  // HEAD: the heading without the file.
  reply = Get(server->port, "HEAD /a.txt HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusLine(reply), "HTTP/1.0 200 OK");
  EXPECT_EQ(Body(reply), "");
}

TEST_F(DiskRulesTest, LargeFilesArriveWholeInChunks) {
  std::string big(2 * 1024 * 1024 + 4097, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 1024);
  testsupport::WriteFileOrDie(root + "/big.bin", big);
  const std::string reply = GetUrl("/big.bin");
  EXPECT_EQ(Header(reply, "Content-length"), std::to_string(big.size()));
  EXPECT_TRUE(Body(reply) == big);
  testsupport::WriteFileOrDie(root + "/empty.txt", "");
  const std::string empty = GetUrl("/empty.txt");
  EXPECT_EQ(StatusLine(empty), "HTTP/1.0 200 OK");
  EXPECT_EQ(Header(empty, "Content-length"), "0");
  EXPECT_EQ(Body(empty), "");
}

TEST_F(DiskRulesTest, ErrorsAndTheRootBoundary) {
  struct Case {
    std::string request;
    const char* status;
  } cases[] = {
      {"GET /missing HTTP/1.0\r\n\r\n", "HTTP/1.0 404 Not Found"},
      {"GET /plain/missing/deeper HTTP/1.0\r\n\r\n", "HTTP/1.0 404 Not Found"},
      {"GET /a.txt?x=1 HTTP/1.0\r\n\r\n", "HTTP/1.0 400 Bad Request"},
      {"GET /../outside.txt HTTP/1.0\r\n\r\n", "HTTP/1.0 400 Bad Request"},
      {"GET /%2e%2e/outside.txt HTTP/1.0\r\n\r\n", "HTTP/1.0 400 Bad Request"},
      {"GET /plain/../../outside.txt HTTP/1.0\r\n\r\n", "HTTP/1.0 400 Bad Request"},
      {"GET /a.txt%00.jpg HTTP/1.0\r\n\r\n", "HTTP/1.0 400 Bad Request"},
      {"GET /.secret HTTP/1.0\r\n\r\n", "HTTP/1.0 403 Forbidden"},
      {"GET /a.txt HTTP/1.0\r\nContent-Length: 2\r\n\r\nab", "HTTP/1.0 501 Not Implemented"},
      {"PUT /a.txt HTTP/1.0\r\n\r\n", "HTTP/1.0 501 Not Implemented"},
      {"DELETE /a.txt HTTP/1.0\r\n\r\n", "HTTP/1.0 501 Not Implemented"},
  };
  for (const Case& c : cases) {
    const std::string reply = Get(server->port, c.request);
    EXPECT_EQ(StatusLine(reply), c.status) << c.request;
    EXPECT_EQ(Body(reply), "") << c.request;
  }
  // A link below the root that points outside it is not followed.
  ASSERT_EQ(::symlink((dir / "outside.txt").c_str(), (root + "/link.txt").c_str()), 0);
  ASSERT_EQ(::symlink(dir.path().c_str(), (root + "/up").c_str()), 0);
  EXPECT_EQ(StatusLine(GetUrl("/link.txt")), "HTTP/1.0 400 Bad Request");
  EXPECT_EQ(StatusLine(GetUrl("/up/outside.txt")), "HTTP/1.0 400 Bad Request");
  ASSERT_EQ(::symlink((root + "/a.txt").c_str(), (root + "/inner-link.txt").c_str()), 0);
  EXPECT_EQ(Body(GetUrl("/inner-link.txt")), "text of a");
  // Dot segments that stay inside are fine.
  EXPECT_EQ(Body(GetUrl("/plain/../a.txt")), "text of a");
}

TEST(HttpTextTest, PercentDecoding) {
  EXPECT_EQ(DecodeUrl("/%41%62"), "/Ab");
  EXPECT_EQ(DecodeUrl("/a%2fb"), "/a/b");
  EXPECT_EQ(DecodeUrl("/%%41"), "/%41");
  EXPECT_EQ(DecodeUrl("/a+b"), "/a+b");
  EXPECT_EQ(DecodeUrl("/50%"), "/50%");
  EXPECT_EQ(DecodeUrl("/5%4"), "/5%4");
  EXPECT_EQ(DecodeUrl("/%zz"), "/%zz");
}

TEST(HttpTextTest, DatesInTheirThreeForms) {
  const std::int64_t t = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
  EXPECT_EQ(FormatHttpDate(t), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), t);
  EXPECT_EQ(ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), t);
  EXPECT_EQ(ParseHttpDate("Sun Nov  6 08:49:37 1994"), t);
  EXPECT_EQ(ParseHttpDate("sun, 06 NOV 1994 08:49:37 GMT"), t);
  EXPECT_EQ(ParseHttpDate("Thursday, 01-Jan-30 00:00:00 GMT"), 1893456000);  // 2030
  EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:61:37 GMT"), std::nullopt);
  EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 0000 08:49:37 GMT"), std::nullopt);
  EXPECT_EQ(ParseHttpDate("Sunday 06-Nov-94"), std::nullopt);
  EXPECT_EQ(ParseHttpDate(""), std::nullopt);
  EXPECT_EQ(FormatHttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
}

TEST(HttpTextTest, UrlToPathStaysInsideTheRoot) {
  std::string path;
  bool inside = false;
  ASSERT_TRUE(UrlToPath("/srv/root", '/', "/a/./b//c/../d", path, inside));
  EXPECT_EQ(path, "/srv/root/a/b/d");
  EXPECT_TRUE(inside);
  ASSERT_TRUE(UrlToPath("/srv/root", '/', "/../rootx", path, inside));
  EXPECT_FALSE(inside);
  ASSERT_TRUE(UrlToPath("x:\\prefix", '\\', "/mag/1/stream", path, inside));
  EXPECT_EQ(path, "x:\\prefix\\mag\\1\\stream");
  ASSERT_TRUE(UrlToPath("x:\\prefix", '\\', "/../../..", path, inside));
  EXPECT_EQ(path, "x:\\");
  EXPECT_FALSE(inside);
  EXPECT_FALSE(UrlToPath("/srv/root", '/', "/" + std::string(300, 'a'), path, inside));
}

}  // namespace

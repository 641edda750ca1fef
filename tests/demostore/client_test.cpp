// The program's own HTTP client against the demo store: the store must be a peer the client
// can use as it is (Host without a port, "Range:bytes=N-", Connection: close, POSTed forms).
#include "net/MyHttp.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using testsupport::ReadFileOrDie;

// tools/demo-store/store.py on a free port with a fresh data folder, stopped at the end.
class DemoStore {
 public:
  explicit DemoStore(std::vector<std::string> extra = {}) {
    m_port = testsupport::FreeLoopbackPort();
    std::vector<std::string> argv = {"python3", testsupport::SourceDir() + "/tools/demo-store/store.py",
                                     "--port", std::to_string(m_port), "--data", m_dir / "data",
                                     "--no-prebuild", "--quiet"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    m_ok = m_child.Start(argv) && testsupport::WaitForPort(m_port, std::chrono::seconds(15));
  }
  bool ok() const { return m_ok; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
  }
  std::string File(const std::string& name) const { return m_dir / name; }

 private:
  testsupport::TempDir m_dir;
  testsupport::ChildProcess m_child;
  int m_port = 0;
  bool m_ok = false;
};

const char kCover[] = "/ebooks/covers/mag/55003.jpg";

std::string Body(const std::string& url, const std::string& post = "") {
  CMyHttp http;
  std::string body;
  EXPECT_EQ(http.Request(url, post, static_cast<int>(post.size()), "", body), HTTP_OK) << url;
  return body;
}

// The value of "key":"value" in a JSON reply.
std::string JsonText(const std::string& json, const std::string& key) {
  const std::string open = "\"" + key + "\": \"";
  const auto at = json.find(open);
  if (at == std::string::npos) return "";
  const auto end = json.find('"', at + open.size());
  return json.substr(at + open.size(), end - at - open.size());
}

TEST(DemoStoreClientTest, CategoryAndIssueRecordReplies) {
  DemoStore store;
  ASSERT_TRUE(store.ok()) << "the demo store did not start";
  const std::string mags = Body(store.Url("/ebooks/api/?vs=1&act=sortClass&class=mag&source="));
  EXPECT_EQ(mags.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0u);
  EXPECT_NE(mags.find("<sort id=\""), std::string::npos);
  const std::string record = Body(store.Url("/ebooks/api/?vs=1&type=mag&pid=55003&source="));
  EXPECT_NE(record.find("<booklist><id>"), std::string::npos);
  // The client sends Host without a port; the record's URLs still name the store's port.
  EXPECT_NE(record.find(store.Url("/ebooks/files/mag/55003.exe")), std::string::npos);
  EXPECT_EQ(Body(store.Url("/ebooks/api/?vs=1&type=mag&pid=1&source=")), "");
}

TEST(DemoStoreClientTest, DroppedDownloadResumesWithRangeToTheWholeFile) {
  DemoStore plain;
  ASSERT_TRUE(plain.ok());
  const std::string whole = Body(plain.Url(kCover));
  ASSERT_GT(whole.size(), 3000u);

  DemoStore store({"--drop", "2000", "--drop-times", "1"});
  ASSERT_TRUE(store.ok());
  const std::string file = store.File("cover.jpg.temp");
  {
    CMyHttp http;
    EXPECT_EQ(http.Download(store.Url(kCover), "", 0, "", file), HTTP_ERR_CONNECT);
  }
  ASSERT_EQ(ReadFileOrDie(file).size(), 2000u);
  CMyHttp http;
  http.SetResumeOffset(2000);
  EXPECT_EQ(http.Download(store.Url(kCover), "", 0, "", file), HTTP_OK);
  EXPECT_EQ(ReadFileOrDie(file), whole);
}

TEST(DemoStoreClientTest, DownloadWithoutLengthAndChunkedComplete) {
  DemoStore store({"--no-length"});
  ASSERT_TRUE(store.ok());
  const std::string whole = Body(store.Url(std::string(kCover) + "?nolength=0"));
  for (const char* flagText : {"", "?chunked=1"}) {
    const std::string flags = flagText;
    CMyHttp http;
    const std::string file = store.File("cover" + std::to_string(flags.size()) + ".jpg");
    EXPECT_EQ(http.Download(store.Url(kCover + flags), "", 0, "", file), HTTP_OK) << flags;
    EXPECT_EQ(ReadFileOrDie(file), whole) << flags;
  }
}

TEST(DemoStoreClientTest, LoginThenPurchaseWithTheReturnedPassword) {
  DemoStore store;
  ASSERT_TRUE(store.ok());
  EXPECT_EQ(Body(store.Url("/ebooks/nivora/index.php/userLogin/login"),
                 "name=demo&pwd=wrong&code=1&codeVal=&checked=1&source=&radio=1"),
            "0");
  const std::string reply = Body(store.Url("/ebooks/nivora/index.php/userLogin/login"),
                                 "name=demo&pwd=demo123&code=1&codeVal=&checked=1&source=&radio=1");
  const std::string uid = JsonText(reply, "id");
  const std::string pwd = JsonText(reply, "password");
  ASSERT_FALSE(uid.empty()) << reply;
  const std::string buy = "/ebooks/system/index.php/index/magBuy/?vs=1&uid=" + uid + "&pwd=" +
                          pwd + "&type=mag&act=client&username=ZGVtbw--&pid=55002&source=";
  EXPECT_EQ(Body(store.Url(buy)), "1");
  EXPECT_EQ(Body(store.Url(buy)), "exist");
}

TEST(DemoStoreClientTest, IssueFileDownloadsAsTheProgramWithItsIssue) {
  const std::string pack = testsupport::BinaryDir() + "/tools/muravel-pack/muravel-pack";
  const std::string program = testsupport::BinaryDir() + "/app/main/muravel";
  if (!std::filesystem::exists(pack) || !std::filesystem::exists(program)) {
    GTEST_SKIP() << "muravel-pack or muravel is not built: no issue files to download";
  }
  DemoStore store({"--pack", pack, "--program", program});
  ASSERT_TRUE(store.ok());
  const std::string record = Body(store.Url("/ebooks/api/?vs=1&type=book&pid=56002&source="));
  EXPECT_EQ(record.find("<exe_size></exe_size>"), std::string::npos) << record;
  const std::string file = store.File("issue.exe.temp");
  CMyHttp http;
  ASSERT_EQ(http.Download(store.Url("/ebooks/files/book/56002.exe"), "", 0, "", file), HTTP_OK);
  const std::string data = ReadFileOrDie(file);
  EXPECT_GT(data.size(), std::filesystem::file_size(program));
  EXPECT_EQ(data.substr(0, 4), "\x7f" "ELF");
}

}  // namespace

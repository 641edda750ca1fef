// Downloads and resumed downloads from nginx, a server of another make.
#include "net/MyHttp.h"

#include "platform/text.h"
#include "tests/net/Peers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using nettest::Pattern;
using testsupport::ReadFileOrDie;
using testsupport::WriteFileOrDie;

class NginxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileOrDie(m_www / "issue.exe", Pattern(kSize));
    m_nginx = std::make_unique<nettest::NginxPeer>(m_www.path());
    ASSERT_TRUE(m_nginx->ok()) << "nginx did not start";
  }

  static constexpr std::size_t kSize = 300001;
  testsupport::TempDir m_www;
  testsupport::TempDir m_out;
  std::unique_ptr<nettest::NginxPeer> m_nginx;
};

TEST_F(NginxTest, DownloadsAWholeFile) {
  CMyHttp http;
  ASSERT_EQ(http.Download(m_nginx->Url("/issue.exe"), "", 0, "", m_out / "a.temp"), HTTP_OK);
  EXPECT_EQ(ReadFileOrDie(m_out / "a.temp"), Pattern(kSize));
}

TEST_F(NginxTest, ResumesFromTheBytesOnDisk) {
  for (std::size_t have : {std::size_t{1}, std::size_t{1024}, std::size_t{123457}, kSize - 1}) {
    WriteFileOrDie(m_out / "r.temp", Pattern(have));
    CMyHttp http;
    http.SetResumeOffset(static_cast<int>(have));
    ASSERT_EQ(http.Download(m_nginx->Url("/issue.exe"), "", 0, "", m_out / "r.temp"), HTTP_OK)
        << have;
    EXPECT_EQ(ReadFileOrDie(m_out / "r.temp"), Pattern(kSize)) << have;
  }
}

TEST_F(NginxTest, ProgressCountsFromTheResumeOffset) {
  HttpTunables quick;
  quick.progressDelayMs = 0;
  WriteFileOrDie(m_out / "p.temp", Pattern(100000));
  CMyHttp http(quick);
  http.SetResumeOffset(100000);
  int firstSoFar = 0, lastSoFar = 0, lastTotal = 0;
  http.SetProgressCallback(
      [&](void*, int soFar, int total) {
        if (firstSoFar == 0) firstSoFar = soFar;
        lastSoFar = soFar;
        lastTotal = total;
      },
      nullptr);
  ASSERT_EQ(http.Download(m_nginx->Url("/issue.exe"), "", 0, "", m_out / "p.temp"), HTTP_OK);
  EXPECT_GT(firstSoFar, 100000);  // nginx honoured the range: counting went on from the offset
  EXPECT_EQ(lastSoFar, static_cast<int>(kSize));
  EXPECT_EQ(lastTotal, static_cast<int>(kSize));
}

TEST_F(NginxTest, FailuresOfTheServer) {
  // A resume from the whole size asks for nothing that exists: 416 is a failure, file kept.
  WriteFileOrDie(m_out / "f.temp", Pattern(kSize));
  CMyHttp done;
  done.SetResumeOffset(static_cast<int>(kSize));
  EXPECT_EQ(done.Download(m_nginx->Url("/issue.exe"), "", 0, "", m_out / "f.temp"),
            HTTP_ERR_CONNECT);
  EXPECT_EQ(ReadFileOrDie(m_out / "f.temp"), Pattern(kSize));

  CMyHttp missing;
  EXPECT_EQ(missing.Download(m_nginx->Url("/none.exe"), "", 0, "", m_out / "m.temp"),
            HTTP_ERR_CONNECT);
  std::string body = "unchanged";
  CMyHttp request;
  EXPECT_EQ(request.Request(m_nginx->Url("/none.exe"), "", 0, "", body), HTTP_ERR_STATUS);
  EXPECT_EQ(body, "unchanged");
}

TEST_F(NginxTest, DoubleByteExeNamesReachTheFile) {
  testsupport::ScopedCodePage gbk(936);
  const std::string utf8Name = "\xE6\x9D\x82\xE5\xBF\x97[42].exe";  // "magazine" in Chinese
  WriteFileOrDie(m_www / utf8Name, "issue bytes");
  CMyHttp http;
  ASSERT_EQ(http.Download(m_nginx->Url("/" + platform::Utf8ToSystem(utf8Name)), "", 0, "",
                          m_out / "d.temp"),
            HTTP_OK);
  EXPECT_EQ(ReadFileOrDie(m_out / "d.temp"), "issue bytes");
}

}  // namespace

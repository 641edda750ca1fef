// The download manager against the stand-in store: real records with Chinese titles, issue
// files made by muravel-pack, covers, and a slow file that is stopped and resumed.
#include "download/DownLoadManager.h"

#include "net/MyHttp.h"
#include "platform/fs.h"
#include "store/ShelfLists.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

namespace {

using namespace std::chrono_literals;

class CompletionSink : public CDownloadEventSink {
 public:
  void SendEvent(int code, void* data) override {
    std::lock_guard<std::mutex> guard(m_lock);
    if (code == EVENT_DOWNLOAD_PROGRESS) {
      auto* p = static_cast<DownloadProgress*>(data);
      if (p->percent == "100") ++m_complete;
      ++m_progress;
    } else if (code == EVENT_DOWNLOAD_STOPPED) {
      ++m_stopped;
    }
    m_changed.notify_all();
  }
  bool WaitFor(int* counter, int value) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, 60s, [&] { return *counter >= value; });
  }
  int m_complete = 0, m_progress = 0, m_stopped = 0;

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
};

class DemoStoreDownloadTest : public ::testing::Test {
 protected:
  // Starts the store; `slow` paces its files (bytes a second, 0 = full speed).
  void StartStore(int slow) {
    const std::string pack = testsupport::BinaryDir() + "/tools/muravel-pack/muravel-pack";
    if (!std::filesystem::exists(pack)) GTEST_SKIP() << "muravel-pack is not built";
    m_port = testsupport::FreeLoopbackPort();
    // The issue files are made from any program file: muravel-pack itself will do.
    ASSERT_TRUE(m_store.Start({"python3", testsupport::SourceDir() + "/tools/demo-store/store.py",
                               "--port", std::to_string(m_port), "--data", m_dir / "store",
                               "--program", pack, "--pack", pack, "--no-prebuild", "--quiet",
                               "--slow", std::to_string(slow)}));
    ASSERT_TRUE(testsupport::WaitForPort(m_port, 20s));
    m_shelf = std::make_unique<CShelfLists>(ShelfFiles{m_dir / "BookShelf.xml",
                                                       m_dir / "MagShelf.xml",
                                                       m_dir / "BookNewRead.xml",
                                                       m_dir / "MagNewRead.xml"});
    DownloadTunables tunables;
    tunables.apiServer = "http://127.0.0.1:" + std::to_string(m_port);
    tunables.downloadFolder = m_dir / "down/";
    tunables.imagesFolder = m_dir / "Images";
    tunables.http.progressDelayMs = 0;
    m_manager = std::make_unique<CDownLoadManager>(*m_shelf, tunables);
    m_manager->SetEventSink(&m_sink);
  }
  void TearDown() override {
    if (m_manager) {
      EXPECT_TRUE(m_manager->StopAllTransfers(StopMode::Wait));
    }
    m_manager.reset();
  }
  std::string Fetch(const std::string& url) {
    CMyHttp http;
    std::string body;
    EXPECT_EQ(http.Request(url, "", 0, "", body), HTTP_OK) << url;
    return body;
  }

  testsupport::TempDir m_dir;
  testsupport::ChildProcess m_store;
  int m_port = 0;
  CompletionSink m_sink;
  std::unique_ptr<CShelfLists> m_shelf;
  std::unique_ptr<CDownLoadManager> m_manager;
};

TEST_F(DemoStoreDownloadTest, AMagazineAndABookWithChineseTitlesArriveWithTheirCovers) {
  StartStore(0);
  ASSERT_TRUE(m_manager->RequestDownload("mag", "55001"));
  ASSERT_TRUE(m_manager->RequestDownload("book", "56001"));
  ASSERT_TRUE(m_sink.WaitFor(&m_sink.m_complete, 2));
  ASSERT_TRUE(m_manager->WaitForIdle(30s));
  for (const auto& [type, pid] : {std::pair{"mag", "55001"}, std::pair{"book", "56001"}}) {
    MagInfoPtr record = m_shelf->FindRecord(type, pid);
    ASSERT_TRUE(record) << pid;
    auto lists = m_shelf->LockLists();
    EXPECT_EQ(record->down, kDownComplete);
    // The title is Chinese text of the system code page; on disk the name is UTF-8.
    const std::string file = platform::fs::NameOf(record->savepath);
    EXPECT_NE(file.find(std::string("[") + pid + "].exe"), std::string::npos);
    EXPECT_TRUE(platform::fs::Exists(record->savepath)) << record->savepath;
    EXPECT_EQ(platform::fs::FileSize(record->savepath).value_or(0),
              static_cast<std::uint64_t>(record->filelen));
    EXPECT_EQ(testsupport::ReadFileOrDie(platform::fs::ToNative(record->savepath)),
              Fetch(record->load_url));
    EXPECT_GT(platform::fs::FileSize(m_dir / "Images/" + type + "/" + pid + ".jpg").value_or(0),
              0u);
  }
}

TEST_F(DemoStoreDownloadTest, AStoppedSlowIssueResumesToTheSameBytes) {
  StartStore(2000000);
  ASSERT_TRUE(m_manager->RequestDownload("mag", "55002"));
  ASSERT_TRUE(m_sink.WaitFor(&m_sink.m_progress, 2));
  MagInfoPtr record = m_shelf->FindRecord("mag", "55002");
  ASSERT_TRUE(record);
  ASSERT_TRUE(m_manager->StopDownload(record, StopMode::Wait));
  const std::string temp = record->savepath + ".temp";
  const std::uint64_t kept = platform::fs::FileSize(temp).value_or(0);
  EXPECT_GT(kept, 0u);
  EXPECT_EQ(m_sink.m_stopped, 1);

  ASSERT_TRUE(m_manager->ResumeDownload("mag", "55002"));
  ASSERT_TRUE(m_sink.WaitFor(&m_sink.m_complete, 1));
  ASSERT_TRUE(m_manager->WaitForIdle(30s));
  EXPECT_FALSE(platform::fs::Exists(temp));
  EXPECT_EQ(testsupport::ReadFileOrDie(platform::fs::ToNative(record->savepath)),
            Fetch(record->load_url + "?slow=0"));
}

}  // namespace

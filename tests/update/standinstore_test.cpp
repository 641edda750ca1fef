// The update check against the stand-in store's own update list and files.
#include "update/AutoUpdate.h"

#include "tests/support/TestSupport.h"
#include "tests/update/InstallFixture.h"

#include <gtest/gtest.h>

#include <filesystem>

using testsupport::ChildProcess;
using testsupport::ReadFileOrDie;

namespace {

// What the stand-in store lists: one single file.
constexpr char kComponent[] = "demo_notice.txt";
constexpr char kComponentText[] =
    "这是演示商店提供的更新文件。\nThis file is the demo store's update component.\n";

class StandInStoreTest : public updatetest::InstallTest {
 protected:
  // Starts the store with extra switches; the update list is asked of it as the program asks.
  bool StartStore(std::vector<std::string> switches = {}) {
    const int port = testsupport::FreeLoopbackPort();
    std::vector<std::string> argv = {"python3",
                                     testsupport::SourceDir() + "/tools/demo-store/store.py",
                                     "--port", std::to_string(port), "--data", m_dir / "store",
                                     "--no-prebuild", "--quiet"};
    argv.insert(argv.end(), switches.begin(), switches.end());
    m_base = "http://127.0.0.1:" + std::to_string(port);
    m_api.emplace("MURAVEL_API_SERVER", m_base.c_str());
    return m_store.Start(argv) && testsupport::WaitForPort(port, std::chrono::seconds(30));
  }
  UpdateTunables Tunables() const {
    UpdateTunables t;  // no list address: the store's own, from the configured API server
    t.http.connectTimeoutMs = 5000;
    t.http.receiveIdleTimeoutMs = 5000;
    return t;
  }

  std::string m_base;
  std::optional<testsupport::ScopedEnv> m_api;
  ChildProcess m_store;
};

TEST_F(StandInStoreTest, InstallsTheListedFileOnceAndNotAgain) {
  ASSERT_TRUE(StartStore());
  EXPECT_EQ(RunUpdateCheck(Tunables()), 1);
  EXPECT_EQ(ReadFileOrDie(exeFiles("1/") + kComponent), kComponentText);
  EXPECT_EQ(recorded(kComponent), "1");

  // Recorded as installed: the equal version is not downloaded again.
  std::filesystem::remove(updateFolder(std::string(kComponent) + ".1"));
  EXPECT_EQ(RunUpdateCheck(Tunables()), 1);
  EXPECT_EQ(FilesBelow(updateFolder()), std::vector<std::string>{});
}

TEST_F(StandInStoreTest, ElevenBrokenDownloadsInstallNothing) {
  ASSERT_TRUE(StartStore({"--drop", "10", "--drop-times", "11"}));
  EXPECT_EQ(RunUpdateCheck(Tunables()), 1);
  EXPECT_EQ(FilesBelow(exeFiles()), std::vector<std::string>{});
  EXPECT_EQ(FilesBelow(updateFolder()), std::vector<std::string>{});
}

TEST_F(StandInStoreTest, TenBrokenDownloadsStillLeaveTheEleventh) {
  ASSERT_TRUE(StartStore({"--drop", "10", "--drop-times", "10"}));
  EXPECT_EQ(RunUpdateCheck(Tunables()), 1);
  EXPECT_EQ(ReadFileOrDie(exeFiles("1/") + kComponent), kComponentText);
  EXPECT_EQ(recorded(kComponent), "1");
}

}  // namespace

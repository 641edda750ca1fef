#include "update/AutoUpdate.h"

#include "platform/text.h"

#include "tests/support/TestSupport.h"
#include "tests/update/InstallFixture.h"
#include "tests/update/PackageFixture.h"

#include <gtest/gtest.h>

#include <filesystem>

using testsupport::ChildProcess;
using testsupport::ReadFileOrDie;
using testsupport::WriteFileOrDie;
using updatetest::MakePackage;

namespace {

// One file of a list as the tests write it.
struct ListedFile {
  std::string name;
  std::string type;
  std::string version;
  std::string url;  // relative to the peer's base when it starts with "/"
};

// The update tests' peer: a Python file server on a free loopback port that logs every path.
class UpdatePeer {
 public:
  explicit UpdatePeer(const testsupport::TempDir& dir)
      : m_root(dir / "peer"), m_log(dir / "peer.log"), m_port(testsupport::FreeLoopbackPort()) {
    std::filesystem::create_directories(m_root);
    WriteFileOrDie(m_log, "");
    m_started = m_process.Start({"python3", testsupport::SourceDir() + "/tests/peers/update_peer.py",
                                 "--port", std::to_string(m_port), "--root", m_root, "--log",
                                 m_log}) &&
                testsupport::WaitForPort(m_port, std::chrono::seconds(20));
  }
  bool started() const { return m_started; }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(m_port); }
  void Serve(const std::string& name, std::string_view bytes) const {
    WriteFileOrDie(m_root + "/" + name, bytes);
  }
  void ServeList(const std::vector<ListedFile>& files) const {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<files>\r\n";
    for (const ListedFile& f : files) {
      xml += "<file><file_name>" + f.name + "</file_name><file_type>" + f.type +
             "</file_type><version>" + f.version + "</version><url>" +
             (f.url.starts_with("/") ? base() + f.url : f.url) + "</url><mode>0</mode></file>\r\n";
    }
    Serve("update.xml", xml + "</files>\r\n");
  }
  // How often a path was asked for.
  int Hits(const std::string& path) const {
    const std::string log = ReadFileOrDie(m_log);
    int n = 0;
    for (std::size_t at = log.find(path + "\n"); at != std::string::npos;
         at = log.find(path + "\n", at + 1)) {
      if (at == 0 || log[at - 1] == '\n') ++n;
    }
    return n;
  }

 private:
  std::string m_root;
  std::string m_log;
  int m_port;
  ChildProcess m_process;
  bool m_started = false;
};

class AutoUpdateTest : public updatetest::InstallTest {
 protected:
  AutoUpdateTest() : m_peer(m_dir) {
    m_tunables.listUrl = m_peer.base() + "/update.xml";
    m_tunables.http.connectTimeoutMs = 5000;
    m_tunables.http.receiveIdleTimeoutMs = 5000;
  }
  void SetUp() override { ASSERT_TRUE(m_peer.started()); }

  UpdatePeer m_peer;
  UpdateTunables m_tunables;
};

TEST_F(AutoUpdateTest, InstallsWhatIsNewerAndLeavesTheRest) {
  m_peer.Serve("skin.pkg", MakePackage({{"MainSkin.xml", "<skin v2/>"}, {"img\\bg.png", "BG"}}));
  m_peer.Serve("data.pkg", MakePackage({{"Bookshelf.html", "old"}}));
  m_peer.Serve("movie", "movie v7");
  m_peer.ServeList({{"skin", "1", "2006", "/skin.pkg"},
                    {"data", "1", "2005", "/data.pkg"},
                    {"read.swf", "0", "7", "/movie"}});
  record("data", 2005);  // equal: neither downloaded nor installed; "skin" is missing: 0

  EXPECT_EQ(RunUpdateCheck(m_tunables), 1);
  EXPECT_EQ(m_peer.Hits("/data.pkg"), 0);
  EXPECT_EQ(m_peer.Hits("/skin.pkg"), 1);
  EXPECT_EQ(FilesBelow(exeFiles("skin_2006")),
            (std::vector<std::string>{"MainSkin.xml", "img/bg.png"}));
  EXPECT_EQ(ReadFileOrDie(exeFiles("skin_2006/img/bg.png")), "BG");
  EXPECT_EQ(recorded("skin"), "2006");
  EXPECT_EQ(recorded("data"), "2005");
  EXPECT_FALSE(std::filesystem::exists(exeFiles("data_2005")));
  EXPECT_EQ(ReadFileOrDie(exeFiles("7/read.swf")), "movie v7");
  EXPECT_EQ(ReadFileOrDie(exeFiles("7/Read.Swf")), "movie v7");
  EXPECT_EQ(recorded("read.swf"), "7");
  EXPECT_EQ(FilesBelow(updateFolder()), (std::vector<std::string>{"read.swf.7", "skin.2006"}));

  // The next start finds everything installed and downloads nothing.
  EXPECT_EQ(RunUpdateCheck(m_tunables), 1);
  EXPECT_EQ(m_peer.Hits("/skin.pkg"), 1);
  EXPECT_EQ(m_peer.Hits("/movie"), 1);
}

TEST_F(AutoUpdateTest, ASingleFileNeverOverwritesButIsRecorded) {
  std::filesystem::create_directories(exeFiles("8"));
  WriteFileOrDie(exeFiles("8/read.swf"), "the movie in use");
  m_peer.Serve("movie", "movie v8");
  m_peer.ServeList({{"read.swf", "0", "8", "/movie"}});
  record("read.swf", 5);
  EXPECT_EQ(RunUpdateCheck(m_tunables), 1);
  EXPECT_EQ(ReadFileOrDie(exeFiles("8/read.swf")), "the movie in use");
  EXPECT_EQ(recorded("read.swf"), "8");
}

TEST_F(AutoUpdateTest, AProgramCopyIsInstalledStartable) {
  m_peer.Serve("program", "#!/bin/sh\nexit 0\n");
  m_peer.ServeList({{"muravel.exe", "0", "2100", "/program"}});
  EXPECT_EQ(RunUpdateCheck(m_tunables), 1);
  EXPECT_EQ(recorded("muravel.exe"), "2100");
  EXPECT_NE(std::filesystem::status(exeFiles("2100/muravel.exe")).permissions() &
                std::filesystem::perms::owner_exec,
            std::filesystem::perms::none);
}

TEST_F(AutoUpdateTest, APackageOutOfRangeIsRefusedAndTheVersionKept) {
  m_peer.Serve("bad.pkg", MakePackage({{"Bookshelf.html", "x"}}, 5001));
  m_peer.ServeList({{"data", "1", "2007", "/bad.pkg"}});
  record("data", 2005);
  EXPECT_EQ(RunUpdateCheck(m_tunables), 1);
  EXPECT_EQ(recorded("data"), "2005");
  EXPECT_EQ(FilesBelow(exeFiles("data_2007")), std::vector<std::string>{});
}

TEST_F(AutoUpdateTest, OtherTypesAreDownloadedButNeverInstalled) {
  m_peer.Serve("tool", "tool bytes");
  m_peer.ServeList({{"AutoUpdate.exe", "2", "3", "/tool"}});
  EXPECT_EQ(RunUpdateCheck(m_tunables), 1);
  EXPECT_EQ(m_peer.Hits("/tool"), 1);
  EXPECT_EQ(ReadFileOrDie(updateFolder("AutoUpdate.exe.3")), "tool bytes");
  EXPECT_EQ(FilesBelow(exeFiles()), std::vector<std::string>{});  // not even Version.ini
}

TEST_F(AutoUpdateTest, ElevenFailedAttemptsEndTheCheckAndInstallNothing) {
  m_peer.Serve("skin.pkg", MakePackage({{"MainSkin.xml", "<skin/>"}}));
  m_peer.Serve("movie", "movie bytes");
  m_peer.ServeList({{"skin", "1", "2006", "/skin.pkg"},
                    {"read.swf", "0", "9", "/missing"},
                    {"data", "1", "2006", "/data.pkg"}});
  EXPECT_EQ(RunUpdateCheck(m_tunables), 1);
  EXPECT_EQ(m_peer.Hits("/skin.pkg"), 1);
  EXPECT_EQ(m_peer.Hits("/missing"), 11);
  EXPECT_EQ(m_peer.Hits("/data.pkg"), 0);  // the check ended before it
  EXPECT_EQ(FilesBelow(exeFiles()), std::vector<std::string>{});
  EXPECT_EQ(FilesBelow(updateFolder()), std::vector<std::string>{"skin.2006"});
}

TEST_F(AutoUpdateTest, TheEleventhAttemptStillCounts) {
  m_peer.Serve("movie", "movie bytes");
  m_peer.ServeList({{"read.swf", "0", "9", "/flaky/10/movie"}});
  EXPECT_EQ(RunUpdateCheck(m_tunables), 1);
  EXPECT_EQ(m_peer.Hits("/flaky/10/movie"), 11);
  EXPECT_EQ(recorded("read.swf"), "9");
}

TEST_F(AutoUpdateTest, AHalfDownloadedFileIsNeverInstalled) {
  m_peer.Serve("skin.pkg", MakePackage({{"MainSkin.xml", std::string(4000, 's')}}));
  m_peer.ServeList({{"skin", "1", "2006", "/short/skin.pkg"}});
  EXPECT_EQ(RunUpdateCheck(m_tunables), 1);
  EXPECT_EQ(m_peer.Hits("/short/skin.pkg"), 11);
  EXPECT_EQ(FilesBelow(updateFolder()), std::vector<std::string>{});  // no partial file left
  EXPECT_EQ(FilesBelow(exeFiles()), std::vector<std::string>{});
}

TEST_F(AutoUpdateTest, NamesFromTheListStayInsideTheirFolders) {
  m_peer.Serve("evil.pkg", MakePackage({{"..\\..\\..\\outside.txt", "1"}, {"/etc/x", "2"}}));
  m_peer.Serve("evil", "3");
  m_peer.ServeList({{"../../pkg", "1", "4", "/evil.pkg"}, {"../../file", "0", "5", "/evil"}});
  EXPECT_EQ(RunUpdateCheck(m_tunables), 1);
  EXPECT_EQ(FilesBelow(m_dir.path()),
            (std::vector<std::string>{
                "ExeFiles/.._.._pkg_4/__/__/__/outside.txt", "ExeFiles/.._.._pkg_4/etc/x",
                "ExeFiles/5/.._.._file", "ExeFiles/Version.ini", "Update/.._.._file.5",
                "Update/.._.._pkg.4", "peer.log", "peer/evil", "peer/evil.pkg",
                "peer/update.xml"}));
  EXPECT_EQ(recorded(".._.._pkg"), "4");
}

TEST_F(AutoUpdateTest, NoListAnEmptyOneOrNamelessFilesEndQuietly) {
  EXPECT_EQ(RunUpdateCheck(m_tunables), 0);  // no update.xml: 404
  m_peer.Serve("update.xml", "<files></files>");
  EXPECT_EQ(RunUpdateCheck(m_tunables), 1);
  m_peer.Serve("update.xml", "not xml at all");
  EXPECT_EQ(RunUpdateCheck(m_tunables), 1);
  m_peer.Serve("nameless", "bytes");
  m_peer.ServeList({{"", "0", "3", "/nameless"}, {" ", "1", "3", "/nameless"}});
  EXPECT_EQ(RunUpdateCheck(m_tunables), 1);
  EXPECT_EQ(m_peer.Hits("/nameless"), 0);
  EXPECT_EQ(FilesBelow(exeFiles()), std::vector<std::string>{});
  EXPECT_EQ(FilesBelow(updateFolder()), std::vector<std::string>{});
}

TEST(ParseUpdateList, ReadsEveryFileInOrder) {
  const std::string gbkName = platform::Utf8ToSystem("皮肤");
  const std::string doc =
      "<?xml version=\"1.0\"?><files>"
      "<file><file_name> data </file_name><file_type>1</file_type><version>2006</version>"
      "<url>http://h/d.pkg</url><mode>1</mode></file>"
      "<other/>"
      "<file><version>12abc</version><file_name>" + gbkName + "</file_name></file>"
      "<file><file_name>big</file_name><version>99999999999</version></file>"
      "</files>";
  const std::vector<CUpdateInfo> list = ParseUpdateList(doc);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].file_name, "data");
  EXPECT_EQ(list[0].file_type, "1");
  EXPECT_EQ(list[0].version, 2006);
  EXPECT_EQ(list[0].url, "http://h/d.pkg");
  EXPECT_EQ(list[0].mode, "1");
  EXPECT_EQ(list[0].state, CUpdateInfo::kListed);
  EXPECT_EQ(list[1].file_name, gbkName);
  EXPECT_EQ(list[1].file_type, "");
  EXPECT_EQ(list[1].url, "");
  EXPECT_EQ(list[1].version, 12);
  EXPECT_EQ(list[2].version, 2147483647);
  EXPECT_TRUE(ParseUpdateList("<list><file/></list>").empty());
  EXPECT_TRUE(ParseUpdateList("").empty());
}

}  // namespace

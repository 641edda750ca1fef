// Issue files made by muravel-pack from a program that starts like the real one, run as
// processes of their own: the first one installs itself, a later one hands over to a newer copy.
#include "tests/support/TestSupport.h"
#include "tests/update/InstallFixture.h"
#include "tests/update/PackageFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

using testsupport::ChildProcess;
using testsupport::ReadFileOrDie;
using testsupport::WriteFileOrDie;
using updatetest::MakePackage;

namespace {

int RunToEnd(const std::vector<std::string>& argv) {
  ChildProcess process;
  if (!process.Start(argv)) return -1;
  return process.Wait(std::chrono::seconds(120));
}

class IssueFileTest : public updatetest::InstallTest {
 protected:
  IssueFileTest() : m_appFolder("UPDATE_PROBE_APP_FOLDER", m_dir.path().c_str()) {}

  // An issue file of the probe carrying the components and an issue that asks to be opened at
  // its first start.
  void MakeIssueFile() {
    const std::string parts = m_dir / "parts";
    std::filesystem::create_directories(parts + "/content");
    WriteFileOrDie(parts + "/skin.pkg", MakePackage({{"MainSkin.xml", "<skin/>"},
                                                     {"images\\close.png", "PNG"}}));
    WriteFileOrDie(parts + "/data.pkg", MakePackage({{"Bookshelf.html", "<html/>"}}));
    WriteFileOrDie(parts + "/movie", "the reader");
    WriteFileOrDie(parts + "/content/page1.jpg", "JPEG");
    const std::string program = parts + "/program";
    ASSERT_EQ(RunToEnd({MURAVEL_PACK_FILE, "resources", UPDATE_PROBE_FILE, program, "--set",
                   "151=" + parts + "/skin.pkg", "--set", "161=" + parts + "/data.pkg", "--set",
                   "152=" + parts + "/movie"}),
              0);
    ASSERT_EQ(RunToEnd({MURAVEL_PACK_FILE, "issue", "--program", program, "--folder",
                   parts + "/content", "--out", m_issue, "--pid", "55435", "--name", "样刊",
                   "--date", "2026年12月", "--type", "mag", "--price-flag", "0",
                   "--reader-kind", "0", "--open-at-first-start", "1"}),
              0);
    std::filesystem::permissions(m_issue, std::filesystem::perms::owner_all);
  }

  // The log of the newer copy once it holds `lines` lines (bounded wait).
  static std::string WaitForLines(const std::string& log, int lines) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string text;
    while (std::chrono::steady_clock::now() < deadline) {
      if (std::filesystem::exists(log)) {
        text = ReadFileOrDie(log);
        if (std::count(text.begin(), text.end(), '\n') >= lines) return text;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return text;
  }

  testsupport::ScopedEnv m_appFolder;
  std::string m_issue = m_dir / "杂志 2026[55435].exe";
};

TEST_F(IssueFileTest, TheFirstIssueFileInstallsItselfAndItsComponents) {
  MakeIssueFile();
  ASSERT_EQ(RunToEnd({m_issue}), 0);
  EXPECT_EQ(ReadFileOrDie(exeFiles("2005/muravel.exe")), ReadFileOrDie(m_issue));
  EXPECT_EQ(ReadFileOrDie(exeFiles("skin_2005/images/close.png")), "PNG");
  EXPECT_EQ(ReadFileOrDie(exeFiles("data_2005/Bookshelf.html")), "<html/>");
  EXPECT_EQ(ReadFileOrDie(exeFiles("2005/read.swf")), "the reader");
  for (const char* key : {"muravel.exe", "skin", "data", "read.swf"}) {
    EXPECT_EQ(recorded(key), "2005") << key;
  }
  // The installed copy starts as the same build: it goes on and installs again what it carries.
  std::filesystem::remove_all(exeFiles("data_2005"));
  ASSERT_EQ(RunToEnd({exeFiles("2005/muravel.exe")}), 0);
  EXPECT_EQ(ReadFileOrDie(exeFiles("data_2005/Bookshelf.html")), "<html/>");
}

TEST_F(IssueFileTest, AnOlderIssueFileHandsOverAndPassesItselfOnce) {
  MakeIssueFile();
  const std::string newer = exeFiles("2010/muravel.exe");
  std::filesystem::create_directories(exeFiles("2010"));
  WriteFileOrDie(newer, "#!/bin/sh\nline=run; for a in \"$@\"; do line=\"$line $a\"; done\n"
                        "echo \"$line\" >> \"$(dirname \"$0\")/starts.log\"\n");
  std::filesystem::permissions(newer, std::filesystem::perms::owner_all);
  record("muravel.exe", 2010);

  ASSERT_EQ(RunToEnd({m_issue}), 3);
  EXPECT_EQ(WaitForLines(exeFiles("2010/starts.log"), 1), "run -p " + m_issue + "\n");
  EXPECT_EQ(platform::ini::GetString(exeFiles("ReadLog.ini"), "mag_55435", "read", ""), "yes");
  ASSERT_EQ(RunToEnd({m_issue}), 3);
  EXPECT_EQ(WaitForLines(exeFiles("2010/starts.log"), 2), "run -p " + m_issue + "\nrun\n");
  EXPECT_FALSE(std::filesystem::exists(exeFiles("2005")));  // nothing of the older build
}

}  // namespace

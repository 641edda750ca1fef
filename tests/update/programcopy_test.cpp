#include "update/ProgramCopy.h"

#include "content/IssueInfo.h"
#include "platform/module.h"

#include "tests/support/TestSupport.h"
#include "tests/update/InstallFixture.h"
#include "tests/update/PackageFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

using platform::module::NewResource;
using testsupport::ReadFileOrDie;
using testsupport::WriteFileOrDie;
using updatetest::MakePackage;

namespace {

constexpr char kMovie[] = "reader movie bytes\x00\x01\x02";

// A program file as the build makes it: an image followed by the component resources, and,
// for an issue file, the issue's texts.
std::string MakeProgramFile(const std::string& path, std::vector<NewResource> extra = {}) {
  const std::string image = "#!/bin/sh\nexit 0\n";
  std::vector<NewResource> resources = {
      {"MYDATA", 151, MakePackage({{"MainSkin.xml", "<skin/>"}, {"images\\close.png", "PNG"}})},
      {"MYDATA", 161, MakePackage({{"Bookshelf.html", "<html/>"}, {"js/jquery.js", "$"}})},
      {"MYDATA", 152, std::string(kMovie, sizeof kMovie - 1)},
  };
  for (NewResource& r : extra) resources.push_back(std::move(r));
  const std::string file =
      image + platform::module::BuildResourceBlock(image.size(), resources);
  WriteFileOrDie(path, file);
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return file;
}

// Resources of an issue file whose issue asks to be opened at its first start.
std::vector<NewResource> OpenFirstIssue(const char* openAtFirstStart) {
  return {{"MYDATA", 162, "55435"}, {"MYDATA", 294, "mag"}, {"MYDATA", 166, openAtFirstStart}};
}

class ProgramCopyTest : public updatetest::InstallTest {
 protected:
  ProgramCopyTest() { m_tunables.programFile = m_dir / "issue[55435].exe"; }

  // A newer program copy that appends one line per start ("run" and its arguments) to its log.
  std::string InstallNewerCopy(int version) {
    const std::string folder = exeFiles(std::to_string(version));
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/muravel.exe";
    WriteFileOrDie(path,
                   "#!/bin/sh\n"
                   "line=run; for a in \"$@\"; do line=\"$line $a\"; done\n"
                   "echo \"$line\" >> \"$(dirname \"$0\")/starts.log\"\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    record("muravel.exe", version);
    return folder + "/starts.log";
  }

  // The log of a newer copy once it holds `lines` lines (bounded wait).
  static std::string WaitForStarts(const std::string& log, int lines) {
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

  ProgramCopyTunables m_tunables;
  CIssueInfo m_ownIssue;
};

TEST_F(ProgramCopyTest, FirstStartInstallsTheCopyAndTheThreeComponents) {
  const std::string program = MakeProgramFile(m_tunables.programFile);
  EXPECT_TRUE(CheckReaderVersion(m_ownIssue, m_tunables));
  ExtractSharedResources(m_tunables);
  ASSERT_TRUE(WaitForProgramCopy(std::chrono::seconds(30)));

  EXPECT_EQ(ReadFileOrDie(exeFiles("2005/muravel.exe")), program);
  EXPECT_NE(std::filesystem::status(exeFiles("2005/muravel.exe")).permissions() &
                std::filesystem::perms::owner_exec,
            std::filesystem::perms::none);
  EXPECT_EQ(FilesBelow(exeFiles("skin_2005")),
            (std::vector<std::string>{"MainSkin.xml", "images/close.png"}));
  EXPECT_EQ(ReadFileOrDie(exeFiles("skin_2005/images/close.png")), "PNG");
  EXPECT_EQ(FilesBelow(exeFiles("data_2005")),
            (std::vector<std::string>{"Bookshelf.html", "js/jquery.js"}));
  EXPECT_EQ(ReadFileOrDie(exeFiles("2005/read.swf")), std::string(kMovie, sizeof kMovie - 1));
  // The locating side spells the movie "Read.Swf"; here names differ in case.
  EXPECT_EQ(ReadFileOrDie(exeFiles("2005/Read.Swf")), std::string(kMovie, sizeof kMovie - 1));
  for (const char* key : {"muravel.exe", "skin", "data", "read.swf"}) {
    EXPECT_EQ(recorded(key), "2005") << key;
  }
  // Nothing half-written is left beside the installed files.
  EXPECT_EQ(FilesBelow(exeFiles("2005")),
            (std::vector<std::string>{"Read.Swf", "muravel.exe", "read.swf"}));
}

TEST_F(ProgramCopyTest, AnExistingCopyIsKeptAndRecorded) {
  MakeProgramFile(m_tunables.programFile);
  std::filesystem::create_directories(exeFiles("2005"));
  WriteFileOrDie(exeFiles("2005/muravel.exe"), "the copy installed before");
  EXPECT_TRUE(CheckReaderVersion(m_ownIssue, m_tunables));
  ASSERT_TRUE(WaitForProgramCopy(std::chrono::seconds(30)));
  EXPECT_EQ(ReadFileOrDie(exeFiles("2005/muravel.exe")), "the copy installed before");
  EXPECT_EQ(recorded("muravel.exe"), "2005");
}

TEST_F(ProgramCopyTest, AFailedCopyStaysUnrecorded) {
  m_tunables.programFile = m_dir / "no such program";
  EXPECT_TRUE(CheckReaderVersion(m_ownIssue, m_tunables));
  ASSERT_TRUE(WaitForProgramCopy(std::chrono::seconds(30)));
  EXPECT_FALSE(std::filesystem::exists(exeFiles("2005/muravel.exe")));
  EXPECT_EQ(recorded("muravel.exe"), "");
}

TEST_F(ProgramCopyTest, HandsOverToANewerCopyWithTheOwnIssueWhenItAsksToBeOpened) {
  MakeProgramFile(m_tunables.programFile, OpenFirstIssue("1"));
  const std::string log = InstallNewerCopy(2010);

  EXPECT_FALSE(CheckReaderVersion(m_ownIssue, m_tunables));
  EXPECT_EQ(WaitForStarts(log, 1), "run -p " + m_tunables.programFile + "\n");
  EXPECT_EQ(platform::ini::GetString(exeFiles("ReadLog.ini"), "mag_55435", "read", ""), "yes");

  // The issue was opened once: the next hand-over passes nothing.
  EXPECT_FALSE(CheckReaderVersion(m_ownIssue, m_tunables));
  EXPECT_EQ(WaitForStarts(log, 2), "run -p " + m_tunables.programFile + "\nrun\n");
  // Handing over installs nothing.
  EXPECT_TRUE(WaitForProgramCopy(std::chrono::seconds(1)));
  EXPECT_FALSE(std::filesystem::exists(exeFiles("2005")));
  EXPECT_EQ(recorded("muravel.exe"), "2010");
}

TEST_F(ProgramCopyTest, HandsOverWithoutArgumentsWhenTheIssueDoesNotAsk) {
  MakeProgramFile(m_tunables.programFile, OpenFirstIssue("0"));
  const std::string log = InstallNewerCopy(2006);
  EXPECT_FALSE(CheckReaderVersion(m_ownIssue, m_tunables));
  EXPECT_EQ(WaitForStarts(log, 1), "run\n");
  EXPECT_EQ(platform::ini::GetString(exeFiles("ReadLog.ini"), "mag_55435", "read", ""), "");
}

TEST_F(ProgramCopyTest, GoesOnWhenTheNewerCopyIsMissingOrCannotStart) {
  MakeProgramFile(m_tunables.programFile, OpenFirstIssue("0"));
  record("muravel.exe", 2010);  // recorded, but the file is not there
  EXPECT_TRUE(CheckReaderVersion(m_ownIssue, m_tunables));

  std::filesystem::create_directories(exeFiles("2010"));
  WriteFileOrDie(exeFiles("2010/muravel.exe"), "not runnable");  // no execute permission
  std::filesystem::permissions(exeFiles("2010/muravel.exe"),
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_TRUE(CheckReaderVersion(m_ownIssue, m_tunables));

  ASSERT_TRUE(WaitForProgramCopy(std::chrono::seconds(30)));
  EXPECT_FALSE(std::filesystem::exists(exeFiles("2005")));  // a newer copy is recorded
  EXPECT_EQ(recorded("muravel.exe"), "2010");
}

TEST_F(ProgramCopyTest, TheSameBuildInstalledDoesNothing) {
  MakeProgramFile(m_tunables.programFile);
  record("muravel.exe", 2005);
  EXPECT_TRUE(CheckReaderVersion(m_ownIssue, m_tunables));
  ASSERT_TRUE(WaitForProgramCopy(std::chrono::seconds(1)));
  EXPECT_FALSE(std::filesystem::exists(exeFiles("2005/muravel.exe")));
}

TEST_F(ProgramCopyTest, ANewerComponentIsLeftAloneAndTheSameBuildIsWrittenAgain) {
  MakeProgramFile(m_tunables.programFile);
  record("skin", 2006);
  record("data", 2005);
  std::filesystem::create_directories(exeFiles("skin_2006"));
  WriteFileOrDie(exeFiles("skin_2006/MainSkin.xml"), "<newer/>");
  std::filesystem::create_directories(exeFiles("data_2005"));
  WriteFileOrDie(exeFiles("data_2005/Bookshelf.html"), "damaged");

  ExtractSharedResources(m_tunables);
  EXPECT_FALSE(std::filesystem::exists(exeFiles("skin_2005")));
  EXPECT_EQ(ReadFileOrDie(exeFiles("skin_2006/MainSkin.xml")), "<newer/>");
  EXPECT_EQ(recorded("skin"), "2006");
  EXPECT_EQ(ReadFileOrDie(exeFiles("data_2005/Bookshelf.html")), "<html/>");
  EXPECT_EQ(recorded("data"), "2005");
  EXPECT_EQ(recorded("read.swf"), "2005");
}

TEST_F(ProgramCopyTest, AComponentThatCannotBeWrittenKeepsTheOlderVersion) {
  // A program file without the component resources, and one whose skin package is damaged.
  WriteFileOrDie(m_tunables.programFile, "#!/bin/sh\nexit 0\n");
  record("skin", 2003);
  ExtractSharedResources(m_tunables);
  EXPECT_EQ(recorded("skin"), "2003");
  EXPECT_EQ(recorded("data"), "");
  EXPECT_EQ(recorded("read.swf"), "");
  EXPECT_FALSE(ExtractResource(151, exeFiles("skin_2005/"), ResourceKind::Package, m_tunables));

  const std::string image = "image";
  WriteFileOrDie(m_tunables.programFile,
                 image + platform::module::BuildResourceBlock(
                             image.size(), {{"MYDATA", 151, MakePackage({{"a", "1"}}, 5001)},
                                            {"MYDATA", 152, "movie"}}));
  ExtractSharedResources(m_tunables);
  EXPECT_EQ(recorded("skin"), "2003");
  EXPECT_EQ(recorded("read.swf"), "2005");
  EXPECT_TRUE(ExtractResource(152, m_dir / "movie.bin", ResourceKind::SingleFile, m_tunables));
  EXPECT_EQ(ReadFileOrDie(m_dir / "movie.bin"), "movie");
  EXPECT_FALSE(ExtractResource(152, m_dir / "no folder/movie.bin", ResourceKind::SingleFile,
                               m_tunables));
}

}  // namespace

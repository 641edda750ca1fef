#include "update/Unpack.h"

#include "tests/support/TestSupport.h"
#include "tests/update/PackageFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using testsupport::ReadFileOrDie;
using testsupport::TempDir;
using updatetest::MakePackage;

namespace {

std::vector<std::string> FilesBelow(const std::string& root) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) names.push_back(std::filesystem::relative(e.path(), root).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(UnpackFolderPackage, WritesEntriesAndCreatesTheirSubfolders) {
  TempDir dir;
  const std::string target = dir / "skin_2005/";
  std::filesystem::create_directory(target);
  const std::string package = MakePackage({{"MainSkin.xml", "<skin/>"},
                                           {"images\\close.png", "PNG1"},
                                           {"images/sub/min.png", "PNG2"},
                                           {"empty.txt", ""}});
  ASSERT_EQ(UnpackFolderPackage(package, target), UnpackResult::Done);
  EXPECT_EQ(FilesBelow(target), (std::vector<std::string>{"MainSkin.xml", "empty.txt",
                                                          "images/close.png",
                                                          "images/sub/min.png"}));
  EXPECT_EQ(ReadFileOrDie(target + "images/close.png"), "PNG1");
  EXPECT_EQ(ReadFileOrDie(target + "images/sub/min.png"), "PNG2");
  EXPECT_EQ(ReadFileOrDie(target + "MainSkin.xml"), "<skin/>");
}

TEST(UnpackFolderPackage, NamesLeadingOutStayInside) {
  TempDir dir;
  const std::string target = dir / "a/b/";
  std::filesystem::create_directories(target);
  const std::string package = MakePackage(
      {{"../../escaped.txt", "1"}, {"/abs.txt", "2"}, {"..\\..\\win.txt", "3"}});
  ASSERT_EQ(UnpackFolderPackage(package, target), UnpackResult::Done);
  EXPECT_EQ(FilesBelow(dir.path()),
            (std::vector<std::string>{"a/b/__/__/escaped.txt", "a/b/__/__/win.txt",
                                      "a/b/abs.txt"}));
}

TEST(UnpackFolderPackage, RefusesAnOutOfRangePackageAndWritesNothing) {
  TempDir dir;
  std::string truncatedDirectory = MakePackage({{"a", "1"}, {"b", "2"}});
  truncatedDirectory.replace(truncatedDirectory.size() - 4, 4, std::string("\x03\0\0\0", 4));
  std::string outside = MakePackage({{"a", "1"}});
  outside[1 + 256 + 4 + 3] = 0x7f;  // the size of entry 0 now reaches past the data

  struct Case {
    const char* what;
    std::string package;
    UnpackResult result;
    std::size_t files;
  } cases[] = {
      {"5001 announced", MakePackage({{"a", "1"}}, 5001), UnpackResult::BadPackage, 0},
      {"negative count", MakePackage({{"a", "1"}}, 0xffffffffLL), UnpackResult::BadPackage, 0},
      {"no entries", MakePackage({}), UnpackResult::Done, 0},
      {"shorter than a trailer", "abc", UnpackResult::BadPackage, 0},
      {"directory past the end", truncatedDirectory, UnpackResult::BadPackage, 0},
      {"entry past the end", outside, UnpackResult::BadPackage, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string target = dir / ("t" + std::to_string(n++));
    std::filesystem::create_directory(target);
    EXPECT_EQ(UnpackFolderPackage(c.package, target), c.result) << c.what;
    EXPECT_EQ(FilesBelow(target).size(), c.files) << c.what;
  }
}

TEST(UnpackFolderPackage, StopsAtTheFirstEntryThatCannotBeWritten) {
  TempDir dir;
  const std::string target = dir / "data_2005";
  std::filesystem::create_directory(target);
  testsupport::WriteFileOrDie(target + "/blocked", "a file where a folder is wanted");
  const std::string package =
      MakePackage({{"first.html", "1"}, {"blocked/inner.js", "2"}, {"after.css", "3"}});
  EXPECT_EQ(UnpackFolderPackage(package, target), UnpackResult::WriteFailed);
  EXPECT_EQ(FilesBelow(target), (std::vector<std::string>{"blocked", "first.html"}));
  EXPECT_EQ(UnpackFolderPackage(MakePackage({{"/", "x"}}), target), UnpackResult::WriteFailed);
}

TEST(WriteFileWhole, ReplacesThroughATemporaryNameAndKeepsEqualFiles) {
  TempDir dir;
  const std::string path = dir / "read.swf";
  ASSERT_TRUE(WriteFileWhole(path, "movie v1", FileMode::Data));
  EXPECT_EQ(ReadFileOrDie(path), "movie v1");
  struct stat before{};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  ASSERT_TRUE(WriteFileWhole(path, "movie v1", FileMode::Data));
  struct stat same{};
  ASSERT_EQ(::stat(path.c_str(), &same), 0);
  EXPECT_EQ(same.st_ino, before.st_ino);  // equal bytes: the file was left alone
  ASSERT_TRUE(WriteFileWhole(path, "movie v2", FileMode::Data));
  EXPECT_EQ(ReadFileOrDie(path), "movie v2");
  EXPECT_EQ(FilesBelow(dir.path()), std::vector<std::string>{"read.swf"});  // no temporary left

  ASSERT_TRUE(WriteFileWhole(dir / "prog", "#!/bin/sh\n", FileMode::Program));
  EXPECT_NE(std::filesystem::status(dir / "prog").permissions() &
                std::filesystem::perms::owner_exec,
            std::filesystem::perms::none);
  EXPECT_FALSE(WriteFileWhole(dir / "missing-folder/x", "x", FileMode::Data));
}

}  // namespace

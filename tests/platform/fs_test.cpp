#include "platform/fs.h"
#include "platform/ini.h"
#include "platform/shell.h"
#include "platform/text.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

namespace fs = platform::fs;
using testsupport::ReadFileOrDie;
using testsupport::TempDir;

namespace {

// "中文书架" in GBK, as the program holds it, and in UTF-8, as the disk holds it.
const std::string kGbkName = "\xD6\xD0\xCE\xC4\xCA\xE9\xBC\xDC";
const std::string kUtf8Name = "\xE4\xB8\xAD\xE6\x96\x87\xE4\xB9\xA6\xE6\x9E\xB6";

TEST(FsTest, ChineseNamesReachTheDiskAsUtf8AndComeBack) {
  TempDir dir;
  const std::string folder = fs::JoinPath(dir.path(), kGbkName);  // temp path is ASCII
  ASSERT_TRUE(fs::CreateFolder(folder));
  EXPECT_TRUE(std::filesystem::is_directory(dir / kUtf8Name));
  const std::string file = fs::JoinPath(folder, kGbkName + ".xml");
  ASSERT_TRUE(fs::WriteFile(file, "data"));
  EXPECT_EQ(ReadFileOrDie(dir / (kUtf8Name + "/" + kUtf8Name + ".xml")), "data");
  const auto entries = fs::ListFolder(folder);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, kGbkName + ".xml");
  EXPECT_EQ(entries[0].kind, fs::Kind::File);
  EXPECT_EQ(entries[0].size, 4u);
  std::string back;
  ASSERT_TRUE(fs::ReadFile(file, back));
  EXPECT_EQ(back, "data");
  EXPECT_EQ(fs::FileSize(file).value_or(0), 4u);
}

TEST(FsTest, FileAndFolderOperations) {
  TempDir dir;
  const std::string a = dir / "a.bin", b = dir / "b.bin";
  EXPECT_EQ(fs::GetKind(a), fs::Kind::None);
  std::string none;
  EXPECT_FALSE(fs::ReadFile(a, none));
  ASSERT_TRUE(fs::WriteFile(a, std::string("x\0y", 3)));
  ASSERT_TRUE(fs::CopyFile(a, b));
  EXPECT_EQ(ReadFileOrDie(b), std::string("x\0y", 3));
  ASSERT_TRUE(fs::MoveFile(b, dir / "c.bin"));
  EXPECT_FALSE(fs::Exists(b));
  EXPECT_TRUE(fs::RemoveFile(dir / "c.bin"));
  EXPECT_TRUE(fs::CreateFolders(dir / "x/y/z"));
  EXPECT_TRUE(fs::IsFolder(dir / "x/y/z"));
  EXPECT_FALSE(fs::CreateFolder(dir / "q/r"));       // one level only
  EXPECT_FALSE(fs::CreateFolders(a + "/below"));     // below a file nothing can be made
  std::string out;
  EXPECT_FALSE(fs::ReadFile(dir.path(), out));       // a folder is not a file
  EXPECT_TRUE(fs::FreeSpace(dir.path()).value_or(0) > 0);
  EXPECT_EQ(fs::ParentOf("/a/b/c.txt"), "/a/b");
  EXPECT_EQ(fs::ParentOf("/c.txt"), "/");
  EXPECT_EQ(fs::NameOf("/a/b/c.txt"), "c.txt");
  EXPECT_EQ(fs::JoinPath("/a/", "b"), "/a/b");
  EXPECT_EQ(fs::JoinPath("/a", "b"), "/a/b");
}

TEST(FsTest, ReplaceFileIsAtomicAndKeepsTheModeAskedFor) {
  TempDir dir;
  const std::string path = dir / "user.xml";
  ASSERT_TRUE(fs::ReplaceFile(path, "old", 0600));
  ASSERT_TRUE(fs::ReplaceFile(path, "new", 0600));
  EXPECT_EQ(ReadFileOrDie(path), "new");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // No temporary file is left beside it.
  EXPECT_EQ(fs::ListFolder(dir.path()).size(), 1u);
  // A failed replace (its folder is gone) leaves nothing behind and reports false.
  EXPECT_FALSE(fs::ReplaceFile(dir / "missing/user.xml", "x"));
}

TEST(FsTest, SpecialFoldersFollowTheXdgVariables) {
  TempDir home;
  testsupport::ScopedEnv h("HOME", home.path().c_str());
  testsupport::ScopedEnv d("XDG_DATA_HOME", nullptr);
  testsupport::ScopedEnv c("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(fs::GetSpecialFolder(fs::SpecialFolder::RoamingData), home / ".local/share");
  EXPECT_EQ(fs::GetSpecialFolder(fs::SpecialFolder::StartPrograms),
            home / ".local/share/applications");
  EXPECT_TRUE(fs::IsFolder(home / ".local/share/applications"));
  EXPECT_EQ(fs::GetSpecialFolder(fs::SpecialFolder::Desktop), "");  // no desktop folder yet
  ASSERT_TRUE(fs::CreateFolder(home / "Desktop"));
  EXPECT_EQ(fs::GetSpecialFolder(fs::SpecialFolder::Desktop), home / "Desktop");
  ASSERT_TRUE(fs::CreateFolders(home / ".config"));
  ASSERT_TRUE(fs::CreateFolder(home / "Schreibtisch"));
  testsupport::WriteFileOrDie(home / ".config/user-dirs.dirs",
                              "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  EXPECT_EQ(fs::GetSpecialFolder(fs::SpecialFolder::Desktop), home / "Schreibtisch");
  const auto roots = fs::ListVolumeRoots();
  ASSERT_FALSE(roots.empty());
  EXPECT_EQ(roots[0].root, home.path() + "/");
  EXPECT_TRUE(roots[0].fixed);
}

TEST(IniTest, ReadsAndWritesInTheWindowsSyntax) {
  TempDir dir;
  const std::string file = dir / "Version.ini";
  EXPECT_EQ(platform::ini::GetInt(file, "Version", "skin", 0), 0);  // no file
  testsupport::WriteFileOrDie(file,
                              "; components\r\n[version]\r\n  Skin = 12 \r\ndata=\"7\"\r\n"
                              "bad=abc\r\nneg=-3x\r\n\r\n[Other]\r\nkey=v\r\n");
  EXPECT_EQ(platform::ini::GetInt(file, "Version", "skin", 0), 12);
  EXPECT_EQ(platform::ini::GetInt(file, "VERSION", "SKIN", 0), 12);
  EXPECT_EQ(platform::ini::GetInt(file, "Version", "data", 0), 7);
  EXPECT_EQ(platform::ini::GetInt(file, "Version", "bad", 5), 0);
  EXPECT_EQ(platform::ini::GetInt(file, "Version", "neg", 5), -3);
  EXPECT_EQ(platform::ini::GetInt(file, "Version", "missing", 5), 5);
  EXPECT_EQ(platform::ini::GetString(file, "Other", "key"), "v");
  ASSERT_TRUE(platform::ini::SetString(file, "Version", "skin", "13"));
  ASSERT_TRUE(platform::ini::SetString(file, "Version", "read.swf", "2005"));
  ASSERT_TRUE(platform::ini::SetString(file, "New", "x", "1"));
  EXPECT_EQ(ReadFileOrDie(file),
            "; components\r\n[version]\r\nskin=13\r\ndata=\"7\"\r\nbad=abc\r\nneg=-3x\r\n"
            "read.swf=2005\r\n\r\n[Other]\r\nkey=v\r\n[New]\r\nx=1\r\n");
  ASSERT_TRUE(platform::ini::RemoveKey(file, "version", "bad"));
  ASSERT_TRUE(platform::ini::RemoveSection(file, "other"));
  EXPECT_EQ(platform::ini::GetSectionNames(file), (std::vector<std::string>{"version", "New"}));
  const auto section = platform::ini::GetSection(file, "Version");
  ASSERT_EQ(section.size(), 4u);
  EXPECT_EQ(section[3], (std::pair<std::string, std::string>{"read.swf", "2005"}));
}

TEST(ShellTest, AutostartEntriesAndLaunchers) {
  TempDir home;
  testsupport::ScopedEnv h("HOME", home.path().c_str());
  testsupport::ScopedEnv c("XDG_CONFIG_HOME", nullptr);
  using platform::shell::AutostartState;
  ASSERT_TRUE(platform::shell::WriteAutostartEntry("Quorvex-MuravelV3.0", "/opt/my app/muravel",
                                                   "hide", AutostartState::Enabled));
  const std::string entryPath = home / ".config/autostart/Quorvex-MuravelV3.0.desktop";
  EXPECT_EQ(platform::shell::AutostartEntryPath("Quorvex-MuravelV3.0"), entryPath);
  EXPECT_EQ(ReadFileOrDie(entryPath),
            "[Desktop Entry]\nType=Application\nName=Quorvex-MuravelV3.0\n"
            "Exec=\"/opt/my app/muravel\" hide\nX-GNOME-Autostart-enabled=true\n");
  ASSERT_TRUE(platform::shell::WriteAutostartEntry("Quorvex-MuravelV3.0", "/opt/a$b", "",
                                                   AutostartState::Disabled));
  EXPECT_EQ(ReadFileOrDie(entryPath),
            "[Desktop Entry]\nType=Application\nName=Quorvex-MuravelV3.0\n"
            "Exec=\"/opt/a\\\\$b\"\nX-GNOME-Autostart-enabled=false\nHidden=true\n");

  const std::string link = home / "Link.desktop";
  EXPECT_EQ(platform::shell::CreateShortcut("", "d", "/w", link), platform::shell::kFail);
  ASSERT_EQ(platform::shell::CreateShortcut("/opt/muravel", kGbkName, "/opt", link),
            platform::shell::kOk);
  EXPECT_EQ(ReadFileOrDie(link), "[Desktop Entry]\nType=Application\nName=" + kUtf8Name +
                                     "\nComment=" + kUtf8Name +
                                     "\nExec=\"/opt/muravel\"\nPath=/opt\nTerminal=false\n");
  struct stat st;
  ASSERT_EQ(::stat(link.c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  EXPECT_EQ(platform::shell::CreateShortcut("/opt/m", "d", "/w", home / "none/x.desktop"),
            platform::shell::kFail);
}

}  // namespace

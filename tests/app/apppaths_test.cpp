#include "app/base/AppPaths.h"
#include "app/base/FileUtil.h"
#include "platform/fs.h"
#include "platform/headless/headless.h"
#include "platform/text.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using platform::ui::MessageBoxAnswer;
using testsupport::ReadFileOrDie;
using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {

// A fresh home with its own configuration, paths built in it.
class AppPathsTest : public ::testing::Test {
 protected:
  AppPathsTest()
      : m_envHome("HOME", m_home.path().c_str()),
        m_envData("XDG_DATA_HOME", nullptr),
        m_envConfig("XDG_CONFIG_HOME", nullptr) {
    paths().SetConfigStore(&m_config);
    paths().SetRoamingFolderForTest("");
    paths().SetDriveRootsForTest({});
  }
  ~AppPathsTest() override {
    paths().SetConfigStore(nullptr);
    paths().SetDriveRootsForTest({});
    platform::headless::TakeShownMessageBoxes();
  }
  static CAppPaths& paths() { return CAppPaths::Instance(); }
  std::string home(std::string_view rest = {}) const {
    return m_home.path() + (rest.empty() ? "" : "/" + std::string(rest));
  }

  TempDir m_home;
  ScopedEnv m_envHome, m_envData, m_envConfig;
  CMemoryConfigStore m_config;
};

TEST_F(AppPathsTest, InitPathsBuildsAndCreatesEveryFolder) {
  paths().SetDriveRootsForTest({{home("disk/"), true, 1 << 20}});
  std::filesystem::create_directory(home("disk"));
  ASSERT_TRUE(paths().InitPaths());
  const std::string app = home(".local/share/quorvex.com/muravel3.0");
  EXPECT_EQ(paths().AppFolder, app);
  EXPECT_EQ(paths().ExeFilesFolder, app + "/ExeFiles");
  EXPECT_EQ(paths().UserFile, app + "/Data/user.xml");
  EXPECT_EQ(paths().ConfigFile, app + "/Data/config.xml");
  EXPECT_EQ(paths().MagShelfFile, app + "/Data/MagShelf.xml");
  EXPECT_EQ(paths().BookNewReadFile, app + "/Data/BookNewRead.xml");
  EXPECT_EQ(paths().MagClassFile, app + "/Data/MagClass.xml");
  for (const char* sub : {"ExeFiles", "Update", "Images", "Images/book", "Images/mag", "Data"}) {
    EXPECT_TRUE(std::filesystem::is_directory(app + "/" + sub)) << sub;
  }
  EXPECT_EQ(paths().AutoUpdatePath, CFileUtil::GetModuleFolder() + "/AutoUpdate.exe");
  EXPECT_EQ(paths().DownloadFolder, home("disk/QuorvexDownLoad/"));
  EXPECT_EQ(paths().GetCoverPath("mag", "55435"), app + "/Images/mag/55435.jpg");
}

TEST_F(AppPathsTest, VersionIniMissingGivesVersionZeroFolders) {
  paths().InitPaths();
  const std::string exe = paths().ExeFilesFolder;
  EXPECT_EQ(paths().GetDataFolderPath(), exe + "/data_0/");
  EXPECT_EQ(paths().GetSkinFolderPath(), exe + "/skin_0/");
  EXPECT_EQ(paths().GetReaderMoviePath(), exe + "/0/Read.Swf");
  EXPECT_EQ(CFileUtil::GetComponentVersion("muravel.exe"), 0);
  ASSERT_TRUE(CFileUtil::SetComponentVersion("skin", 2006));
  ASSERT_TRUE(CFileUtil::SetComponentVersion("read.swf", 2005));
  EXPECT_EQ(paths().GetSkinFolderPath(), exe + "/skin_2006/");
  EXPECT_EQ(paths().GetReaderMoviePath(), exe + "/2005/Read.Swf");
  EXPECT_EQ(ReadFileOrDie(exe + "/Version.ini"), "[Version]\r\nskin=2006\r\nread.swf=2005\r\n");
}

TEST_F(AppPathsTest, DownloadFolderChoice) {
  paths().InitPaths();
  const std::string configured = home("mine/");
  std::filesystem::create_directory(home("mine"));
  std::filesystem::create_directory(home("roomy"));
  testsupport::WriteFileOrDie(home("file"), "x");
  const std::vector<DriveRoot> roomy = {{home("roomy/"), true, 10 << 20}};
  const std::vector<DriveRoot> unwritable = {{home("file/"), true, 10 << 20}};

  // Configured and writable: used as it is, the configuration not rewritten.
  m_config.SetValue("down_save", configured);
  paths().SetDriveRootsForTest(roomy);
  EXPECT_EQ(paths().ChooseDownloadFolder(), configured);
  EXPECT_EQ(m_config.GetValue("down_save"), configured);

  // Configured but unwritable (below a regular file): the roomiest root, stored.
  m_config.SetValue("down_save", home("file/sub/"));
  EXPECT_EQ(paths().ChooseDownloadFolder(), home("roomy/QuorvexDownLoad/"));
  EXPECT_EQ(m_config.GetValue("down_save"), home("roomy/QuorvexDownLoad/"));

  // No root writable: the application folder's, stored.
  m_config.SetValue("down_save", "");
  paths().SetDriveRootsForTest(unwritable);
  EXPECT_EQ(paths().ChooseDownloadFolder(), paths().AppFolder + "/QuorvexDownLoad/");
  EXPECT_EQ(m_config.GetValue("down_save"), paths().AppFolder + "/QuorvexDownLoad/");

  // Nothing writable at all: empty.
  m_config.SetValue("down_save", "");
  paths().AppFolder = home("file/app");
  EXPECT_EQ(paths().ChooseDownloadFolder(), "");
  EXPECT_EQ(m_config.GetValue("down_save"), "");
  EXPECT_TRUE(std::filesystem::is_empty(home("mine")));  // no probe file left behind
}

TEST_F(AppPathsTest, ProbeFileNameBeginsWithASpaceBesideTheFolder) {
  // A folder without trailing separator: the probe lands beside it, named after it.
  std::filesystem::create_directory(home("dl"));
  std::string seen;
  EXPECT_TRUE(paths().IsFolderWritable(home("dl")));
  // Watch the probe's name by making it impossible to create: a folder of that name is there.
  std::filesystem::create_directory(home("dl muravelTestWrite.exe"));
  EXPECT_TRUE(paths().IsFolderWritable(home("dl")));  // it exists, so the test says writable
  std::filesystem::remove(home("dl muravelTestWrite.exe"));
  EXPECT_FALSE(std::filesystem::exists(home("dl muravelTestWrite.exe")));
  EXPECT_TRUE(paths().IsFolderWritable(home("dl/")));
  EXPECT_FALSE(std::filesystem::exists(home("dl/ muravelTestWrite.exe")));
  EXPECT_FALSE(paths().IsFolderWritable(home("nowhere/")));
}

TEST(RoomiestRootTest, StrictlyMoreFreeKibibytesWins) {
  const std::string fallback = "/home/u/";
  const struct {
    std::vector<DriveRoot> roots;
    std::string answer;
  } cases[] = {
      {{}, fallback},
      {{{"/a/", false, 1 << 30}}, fallback},                               // not fixed
      {{{"/a/", true, 1023}}, fallback},                                   // under 1 KiB free
      {{{"/a/", true, 4096}, {"/b/", true, 4096}}, "/a/"},                 // tie: the earlier
      {{{"/a/", true, 4096}, {"/b/", true, 5000}}, "/a/"},                 // same whole KiB
      {{{"/a/", true, 4096}, {"/b/", true, 5120}}, "/b/"},
      {{{"/a/", true, 9000}, {"/b/", false, 1 << 30}, {"/c/", true, 8000}}, "/a/"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CAppPaths::SelectRoomiestRoot(c.roots, fallback), c.answer);
  }
}

TEST_F(AppPathsTest, AutostartAndTheRunValueText) {
  EXPECT_EQ(CAppPaths::FormatRunValue("/opt/muravel", true, true), "/opt/muravel hide");
  EXPECT_EQ(CAppPaths::FormatRunValue("/opt/muravel", true, false), "/opt/muravel");
  EXPECT_EQ(CAppPaths::FormatRunValue("/opt/muravel", false, true), ";/opt/muravel");
  paths().SetAutoStart(true, true);
  const std::string entry = ReadFileOrDie(home(".config/autostart/Quorvex-MuravelV3.0.desktop"));
  EXPECT_NE(entry.find(" hide\n"), std::string::npos) << entry;
  EXPECT_EQ(entry.find("Hidden=true"), std::string::npos);
  paths().SetAutoStart(false, true);
  const std::string off = ReadFileOrDie(home(".config/autostart/Quorvex-MuravelV3.0.desktop"));
  EXPECT_NE(off.find("Hidden=true\n"), std::string::npos);
  EXPECT_EQ(off.find(" hide"), std::string::npos);
}

TEST_F(AppPathsTest, OfferShortcutsAsksForTheDesktopAndAddsTheMenuEntry) {
  paths().InitPaths();
  const std::string menuLink = home(".local/share/applications/Quorvex/Quorvex-MuravelV3.0.desktop");
  const std::string desktopLink = home("Desktop/Quorvex-MuravelV3.0.desktop");

  // No desktop folder: nothing is asked and nothing is made.
  paths().OfferShortcuts("/opt");
  EXPECT_TRUE(platform::headless::TakeShownMessageBoxes().empty());
  EXPECT_FALSE(std::filesystem::exists(menuLink));

  // Saying No: nothing stored, no desktop entry, the menu entry made anyway.
  std::filesystem::create_directory(home("Desktop"));
  platform::headless::ScriptMessageBoxAnswers({MessageBoxAnswer::No});
  paths().OfferShortcuts("/opt");
  auto shown = platform::headless::TakeShownMessageBoxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, platform::ui::MessageBoxKind::YesNo);
  EXPECT_EQ(platform::SystemToUtf8(shown[0].text),
            "Muravel检查到你的桌面还没建立Muravel的快捷方式,\r\n\r\n"
            "为了方便以后打开Muravel,是否为您创建Muravel的桌面快捷方式.");
  EXPECT_EQ(m_config.GetValue("shortcut"), "");
  EXPECT_FALSE(std::filesystem::exists(desktopLink));
  EXPECT_TRUE(std::filesystem::exists(menuLink));

  // The next start asks again; Yes stores "shortcut" and makes the desktop entry.
  platform::headless::ScriptMessageBoxAnswers({MessageBoxAnswer::Yes});
  paths().OfferShortcuts("/opt");
  EXPECT_EQ(platform::headless::TakeShownMessageBoxes().size(), 1u);
  EXPECT_EQ(m_config.GetValue("shortcut"), "1");
  ASSERT_TRUE(std::filesystem::exists(desktopLink));
  EXPECT_NE(ReadFileOrDie(desktopLink).find("Exec=\"" + CFileUtil::GetModulePath() + "\"\n"),
            std::string::npos);
  EXPECT_NE(ReadFileOrDie(desktopLink).find("Path=/opt\n"), std::string::npos);

  // With the entry there, no question.
  paths().OfferShortcuts("/opt");
  EXPECT_TRUE(platform::headless::TakeShownMessageBoxes().empty());
  EXPECT_EQ(paths().CreateDesktopShortcut("/opt"), desktopLink);
}

}  // namespace

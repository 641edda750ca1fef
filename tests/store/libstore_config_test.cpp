// config.xml: settings as attributes of one element, read and written one key at a time, and
// plugged in as the program's configuration.
#include <gtest/gtest.h>

#include <thread>

#include "app/base/AppPaths.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/ConfigFile.h"
#include "tests/store/StoreTestUtil.h"
#include "tests/support/TestSupport.h"

namespace {

using storetest::Golden;

class ConfigFileTest : public ::testing::Test {
 protected:
  testsupport::TempDir m_dir;
  std::string m_file = m_dir / "config.xml";
  CConfigFile m_config{m_file};
};

TEST_F(ConfigFileTest, TheFirstSettingCreatesTheGoldenFile) {
  EXPECT_EQ(m_config.GetConfigValue("down_save"), "");
  ASSERT_TRUE(m_config.SetConfigValue("down_save", "/data/QuorvexDownLoad/"));
  EXPECT_EQ(testsupport::ReadFileOrDie(m_file), Golden("config_new.xml"));
  EXPECT_EQ(m_config.GetConfigValue("down_save"), "/data/QuorvexDownLoad/");
  EXPECT_EQ(m_config.GetConfigValue("auto_start"), "");
}

TEST_F(ConfigFileTest, ASettingKeepsTheOthers) {
  ASSERT_TRUE(m_config.SetConfigValue("down_save", "/d/"));
  ASSERT_TRUE(m_config.SetConfigValue("auto_start", "1"));
  ASSERT_TRUE(m_config.SetConfigValue("taskbar", "0"));
  ASSERT_TRUE(m_config.SetConfigValue("auto_start", "0"));
  EXPECT_EQ(m_config.GetConfigValue("down_save"), "/d/");
  EXPECT_EQ(m_config.GetConfigValue("auto_start"), "0");
  EXPECT_EQ(m_config.GetConfigValue("taskbar"), "0");
  EXPECT_EQ(testsupport::ReadFileOrDie(m_file),
            "<?xml version=\"1.0\" encoding=\"utf-8\" ?>"
            "<Config down_save=\"/d/\" auto_start=\"0\" taskbar=\"0\"/>\r\n");
}

TEST_F(ConfigFileTest, AFileWithoutSettingsIsReplaced) {
  const char* bad[] = {"not xml", "", "<Other down_save=\"/x/\"/>", "<?xml version=\"1.0\"?>"};
  for (const char* text : bad) {
    testsupport::WriteFileOrDie(m_file, text);
    EXPECT_EQ(m_config.GetConfigValue("down_save"), "") << text;
    ASSERT_TRUE(m_config.SetConfigValue("shortcut", "1")) << text;
    EXPECT_EQ(m_config.GetConfigValue("shortcut"), "1") << text;
    EXPECT_EQ(m_config.GetConfigValue("down_save"), "") << text;
    EXPECT_EQ(testsupport::ReadFileOrDie(m_file),
              "<?xml version=\"1.0\" encoding=\"utf-8\" ?><Config shortcut=\"1\"/>\r\n");
  }
}

TEST_F(ConfigFileTest, TextsAreUtf8OnDiskAndEscaped) {
  const std::string folder = platform::Utf8ToSystem("/home/u/下载/");
  ASSERT_TRUE(m_config.SetConfigValue("down_save", folder));
  ASSERT_TRUE(m_config.SetConfigValue("odd", "a\"b'c<d&e>"));
  const std::string disk = testsupport::ReadFileOrDie(m_file);
  EXPECT_NE(disk.find("down_save=\"/home/u/下载/\""), std::string::npos) << disk;
  EXPECT_NE(disk.find("odd=\"a&quot;b&apos;c&lt;d&amp;e&gt;\""), std::string::npos) << disk;
  EXPECT_EQ(m_config.GetConfigValue("down_save"), folder);
  EXPECT_EQ(m_config.GetConfigValue("odd"), "a\"b'c<d&e>");
}

// Files written by earlier versions or by hand: a byte order mark, a line break after the
// declaration, single quotes, other attributes and children.
TEST_F(ConfigFileTest, ReadsFilesOfEarlierVersions) {
  const struct {
    std::string text;
    const char* key;
    std::string want;
  } cases[] = {
      {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Config down_save=\"/a/\"/>\r\n",
       "down_save", "/a/"},
      {"<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Config auto_start='1' taskbar=\"0\">"
       "<x/></Config>",
       "auto_start", "1"},
      {"<Config shortcut=\"1\"/>", "shortcut", "1"},
      {"<?xml version=\"1.0\" encoding=\"utf-8\" ?><Config down_save=\"/\xE4\xB8\x8B/\"/>",
       "down_save", platform::Utf8ToSystem("/下/")},
  };
  for (const auto& c : cases) {
    testsupport::WriteFileOrDie(m_file, c.text);
    EXPECT_EQ(m_config.GetConfigValue(c.key), c.want) << c.text;
    ASSERT_TRUE(m_config.SetConfigValue("new_key", "v")) << c.text;
    EXPECT_EQ(m_config.GetConfigValue(c.key), c.want) << c.text;
    EXPECT_EQ(m_config.GetConfigValue("new_key"), "v") << c.text;
  }
  // The byte order mark is kept.
  testsupport::WriteFileOrDie(m_file, cases[0].text);
  ASSERT_TRUE(m_config.SetConfigValue("taskbar", "1"));
  EXPECT_EQ(testsupport::ReadFileOrDie(m_file).substr(0, 3), "\xEF\xBB\xBF");
}

TEST_F(ConfigFileTest, AFileThatCannotBeWrittenIsReported) {
  CConfigFile nowhere(m_dir / "missing/folder/config.xml");
  EXPECT_FALSE(nowhere.SetConfigValue("down_save", "/d/"));
  EXPECT_EQ(nowhere.GetConfigValue("down_save"), "");
  testsupport::WriteFileOrDie(m_file, "<Config down_save=\"/d/\"/>");
  CConfigFile blocked(m_dir / "config.xml/inner.xml");  // a file stands where a folder must be
  EXPECT_FALSE(blocked.SetConfigValue("down_save", "/e/"));
  EXPECT_EQ(m_config.GetConfigValue("down_save"), "/d/");
}

TEST_F(ConfigFileTest, KeysThatAreNoNamesAreRefused) {
  ASSERT_TRUE(m_config.SetConfigValue("down_save", "/d/"));
  for (const char* key : {"", "two words", "a=\"b\"", "x/>", "1st", "<k", "k>"}) {
    EXPECT_FALSE(m_config.SetConfigValue(key, "v")) << key;
  }
  EXPECT_TRUE(m_config.SetConfigValue("k_2.x-y", "v"));
  EXPECT_EQ(m_config.GetConfigValue("down_save"), "/d/") << "the file stays readable";
  EXPECT_EQ(m_config.GetConfigValue("k_2.x-y"), "v");
}

TEST_F(ConfigFileTest, SavesLeaveNothingBeside) {
  for (int i = 0; i < 5; ++i) m_config.SetConfigValue("k" + std::to_string(i), "v");
  const auto entries = platform::fs::ListFolder(m_dir.path());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "config.xml");
}

TEST_F(ConfigFileTest, ConcurrentSettingsAreAllKept) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 25; ++i) {
        m_config.SetConfigValue("key" + std::to_string(t), std::to_string(i));
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(m_config.GetConfigValue("key" + std::to_string(t)), "24");
}

TEST_F(ConfigFileTest, PluggedInAsTheProgramsConfiguration) {
  CAppPaths& paths = CAppPaths::Instance();
  paths.SetConfigStore(&m_config);
  EXPECT_TRUE(paths.SetConfigValue("auto_start", "1"));
  EXPECT_EQ(paths.GetConfigValue("auto_start"), "1");
  EXPECT_NE(testsupport::ReadFileOrDie(m_file).find("auto_start=\"1\""), std::string::npos);
  paths.SetConfigStore(nullptr);
  EXPECT_EQ(paths.GetConfigValue("auto_start"), "");

  // The process's own store follows the paths object's ConfigFile.
  const std::string old = paths.ConfigFile;
  paths.ConfigFile = m_dir / "own.xml";
  paths.SetConfigStore(&CConfigFile::Instance());
  EXPECT_TRUE(paths.SetConfigValue("taskbar", "1"));
  EXPECT_EQ(CConfigFile(m_dir / "own.xml").GetConfigValue("taskbar"), "1");
  paths.SetConfigStore(nullptr);
  paths.ConfigFile = old;
}

}  // namespace

// The user record and user.xml: the byte layout, the reading rules and the client mode.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "store/UserInfo.h"
#include "tests/store/StoreTestUtil.h"
#include "tests/support/TestSupport.h"

namespace {

using storetest::Golden;

class UserInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { CUserInfo::SetClientMode(1); }
  void TearDown() override { CUserInfo::SetClientMode(1); }

  static unsigned ModeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 0777;
  }

  testsupport::TempDir m_dir;
};

TEST_F(UserInfoTest, AFreshLoginIsWrittenAsTheGoldenFile) {
  CUserInfo user;
  user.userid = "1001";
  user.username = "dGVzdA--";
  user.password = "secret";
  EXPECT_EQ(user.FormatUserXml(), Golden("user_three.xml"));

  const std::string file = m_dir / "user.xml";
  ASSERT_TRUE(user.SaveUser(file));
  EXPECT_EQ(testsupport::ReadFileOrDie(file), Golden("user_three.xml"));
  EXPECT_EQ(ModeOf(file), 0600u);
}

TEST_F(UserInfoTest, ALogoffLeavesOnlyTheClientMode) {
  CUserInfo user;
  user.userid = "1";
  user.money = "9.90";
  CUserInfo::SetClientMode(0);
  user.ClearUser();
  EXPECT_EQ(CUserInfo::GetClientMode(), 0) << "a logoff keeps the mode";
  EXPECT_EQ(user.FormatUserXml(), Golden("user_logged_off.xml"));
}

TEST_F(UserInfoTest, EveryFieldIsWrittenInOrderAndEscaped) {
  CUserInfo user;
  user.userid = "u";
  user.username = "n";
  user.password = "a<b&c>d";
  user.email = "e";
  user.photo = "ph";
  user.attention_count = "1";
  user.fans_count = "2";
  user.comment_count = "3";
  user.vip = "1";
  user.usertype = "t";
  user.ip = "10.0.0.1";
  user.district = "\xB1\xB1\xBE\xA9";  // GBK
  user.lastlogintime = "2026-12-11";
  user.online = "1";
  user.rememberpassword = "r";
  user.autologin = "1";
  user.money = "12.00";
  EXPECT_EQ(user.FormatUserXml(),
            "<userInfo>\r\n<userid>u</userid>\r\n<username>n</username>\r\n"
            "<password>a&lt;b&amp;c&gt;d</password>\r\n<email>e</email>\r\n<photo>ph</photo>\r\n"
            "<attention_count>1</attention_count>\r\n<fans_count>2</fans_count>\r\n"
            "<comment_count>3</comment_count>\r\n<vip>1</vip>\r\n<usertype>t</usertype>\r\n"
            "<ip>10.0.0.1</ip>\r\n<district>\xB1\xB1\xBE\xA9</district>\r\n"
            "<lastlogintime>2026-12-11</lastlogintime>\r\n<online>1</online>\r\n"
            "<rememberpassword>r</rememberpassword>\r\n<autologin>1</autologin>\r\n"
            "<money>12.00</money>\r\n<client_mode>1</client_mode>\r\n</userInfo>\r\n");

  // Read back: every field but rememberpassword and autologin.
  CUserInfo back;
  ASSERT_TRUE(back.ParseUserXml(user.FormatUserXml()));
  EXPECT_EQ(back.password, "a<b&c>d");
  EXPECT_EQ(back.district, user.district);
  EXPECT_EQ(back.money, "12.00");
  EXPECT_EQ(back.online, "1");
  EXPECT_EQ(back.rememberpassword, "");
  EXPECT_EQ(back.autologin, "");
}

TEST_F(UserInfoTest, ElementsOutOfOrderAreSkipped) {
  CUserInfo user;
  user.password = "kept";
  user.money = "kept";
  ASSERT_TRUE(user.ParseUserXml(
      "<userInfo><password>p</password><userid>u</userid><username>n</username>"
      "<money>5</money><vip>1</vip><client_mode>0</client_mode></userInfo>"));
  EXPECT_EQ(user.userid, "u");
  EXPECT_EQ(user.username, "n");
  EXPECT_EQ(user.password, "kept") << "stands before userid: skipped";
  EXPECT_EQ(user.vip, "1");
  EXPECT_EQ(user.money, "kept") << "stands before vip: skipped";
  EXPECT_EQ(CUserInfo::GetClientMode(), 0);
}

TEST_F(UserInfoTest, ClientModeFromTheFile) {
  const struct {
    int before;
    const char* text;
    int after;
  } cases[] = {
      {0, "<userInfo><client_mode>1</client_mode></userInfo>", 1},
      {1, "<userInfo><client_mode>0</client_mode></userInfo>", 0},
      {1, "<userInfo><client_mode>yes</client_mode></userInfo>", 0},
      {1, "<userInfo><client_mode></client_mode></userInfo>", 0},
      {0, "<userInfo><userid>1</userid></userInfo>", 0},
      {1, "<userInfo><userid>1</userid></userInfo>", 1},
      {1, "<other><client_mode>0</client_mode></other>", 1},
  };
  for (const auto& c : cases) {
    CUserInfo::SetClientMode(c.before);
    CUserInfo user;
    user.ParseUserXml(c.text);
    EXPECT_EQ(CUserInfo::GetClientMode(), c.after) << c.text;
  }
}

TEST_F(UserInfoTest, FilesWithoutARecord) {
  CUserInfo user;
  user.userid = "stays";
  EXPECT_FALSE(user.ParseUserXml("<user><userid>x</userid></user>"));
  EXPECT_FALSE(user.ParseUserXml(""));
  EXPECT_EQ(user.userid, "stays");

  CUserInfo fresh;
  EXPECT_FALSE(fresh.LoadUser(m_dir / "missing.xml"));
  EXPECT_EQ(fresh.userid, "");
  EXPECT_EQ(CUserInfo::GetClientMode(), 1);
  testsupport::WriteFileOrDie(m_dir / "empty.xml", "");
  EXPECT_FALSE(fresh.LoadUser(m_dir / "empty.xml"));
}

// A file of an earlier version: LF line ends, indentation, the autologin element present.
TEST_F(UserInfoTest, ReadsAFileOfAnEarlierVersion) {
  const std::string file = m_dir / "user.xml";
  testsupport::WriteFileOrDie(file,
                              "<userInfo>\n  <userid>77</userid>\n  <username>bmFtZQ--</username>\n"
                              "  <password>pw &amp; more</password>\n  <vip>0</vip>\n"
                              "  <autologin>1</autologin>\n  <money>3.5</money>\n"
                              "  <client_mode>0</client_mode>\n</userInfo>\n");
  CUserInfo user;
  ASSERT_TRUE(user.LoadUser(file));
  EXPECT_EQ(user.userid, "77");
  EXPECT_EQ(user.username, "bmFtZQ--");
  EXPECT_EQ(user.password, "pw & more");
  EXPECT_EQ(user.vip, "0");
  EXPECT_EQ(user.autologin, "");
  EXPECT_EQ(user.money, "3.5");
  EXPECT_EQ(CUserInfo::GetClientMode(), 0);
}

TEST_F(UserInfoTest, SavingReplacesTheFileWithOwnerOnlyMode) {
  const std::string file = m_dir / "user.xml";
  testsupport::WriteFileOrDie(file, "old content that is longer than the new one ........");
  ::chmod(file.c_str(), 0644);
  CUserInfo user;
  user.userid = "1";
  ASSERT_TRUE(user.SaveUser(file));
  EXPECT_EQ(testsupport::ReadFileOrDie(file), user.FormatUserXml());
  EXPECT_EQ(ModeOf(file), 0600u);
  EXPECT_FALSE(user.SaveUser(m_dir / "no/such/folder/user.xml"));
  EXPECT_FALSE(user.SaveUser(""));
}

}  // namespace

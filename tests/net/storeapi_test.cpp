// The store's request table: every address from the configured bases.
#include "net/StoreApi.h"

#include <gtest/gtest.h>

#include "net/MyHttp.h"
#include "tests/net/Peers.h"
#include "tests/support/TestSupport.h"

namespace {

StoreHosts Hosts() {
  StoreHosts h;
  h.apiServer = "http://api.test";
  h.webServer = "http://web.test:81";
  h.accountSite = "http://account.test";
  return h;
}

TEST(StoreApi, FormsEveryAddressOfTheTable) {
  const CStoreApi api(Hosts());
  const std::pair<std::string, std::string> rows[] = {
      {api.ApiBase(), "http://api.test/ebooks/api/?vs=1"},
      {api.CategoryUrl("book"),
       "http://api.test/ebooks/api/?vs=1&act=sortClass&class=book&source="},
      {api.CategoryUrl("mag"), "http://api.test/ebooks/api/?vs=1&act=sortClass&class=mag&source="},
      {api.UpdateListUrl(), "http://api.test/ebooks/update.xml"},
      {api.MagazineStoreUrl("dXNlcg--", "pw", ClientMode::Personal),
       "http://api.test/ebooks/magazine/?vs=1&user=dXNlcg--&pass=pw&source="},
      {api.MagazineStoreUrl("", "", ClientMode::Enterprise),
       "http://api.test/enter/magazine/?vs=1&user=&pass=&source="},
      {api.BookStoreUrl("", "", ClientMode::Personal),
       "http://api.test/ebooks/nivora/?vs=1&user=&pass=&source="},
      {api.BookStoreUrl("u", "p", ClientMode::Enterprise),
       "http://api.test/enter/nivora/?vs=1&user=u&pass=p&source="},
      {api.IssueRecordUrl("mag", "123"),
       "http://api.test/ebooks/api/?vs=1&type=mag&pid=123&source="},
      {api.PurchaseUrl("7", "pw", "book", "dXNlcg--", "55"),
       "http://api.test/ebooks/system/index.php/index/magBuy/?vs=1&uid=7&pwd=pw&type=book"
       "&act=client&username=dXNlcg--&pid=55&source="},
      {api.OnlineReadUrl("book", "u", "p", "123", ClientMode::Enterprise),
       "http://web.test:81/book/online_client.php?vs=1&method=clientread&user=u&pass=p"
       "&enpid=123&pid=MTIz&enter=1&source="},
      {api.OnlineReadUrl("mag", "", "", "9", ClientMode::Personal),
       "http://web.test:81/magazine/online_client.php?vs=1&method=clientread&user=&pass="
       "&enpid=9&pid=OQ==&enter=0&source="},
      {api.SubscriptionUrl(),
       "http://web.test:81/magazine/digi_subscription.php?oemname=quorvex&vs=5"},
      {CStoreApi::SelfTestUrl(), "http://127.0.0.1:8024/test_http/"},
      {CStoreApi::SelfTestUrl(4711), "http://127.0.0.1:4711/test_http/"},
      {CStoreApi::LoopbackFileUrl("mag/55/Read.Swf"), "http://127.0.0.1:8024/mag/55/Read.Swf"},
      {CStoreApi::LoopbackFileUrl("/mag/55/p1.jpg"), "http://127.0.0.1:8024/mag/55/p1.jpg"},
      {api.VerifyPictureUrl("0.25", 1700000000123LL),
       "http://api.test/enter/nivora/index.php/UserLogin/clientCode/?r=0.25&code=1700000000123"},
      {api.LoginUrl(ClientMode::Personal),
       "http://api.test/ebooks/nivora/index.php/userLogin/login"},
      {api.LoginUrl(ClientMode::Enterprise),
       "http://api.test/enter/nivora/index.php/userLogin/login"},
      {api.RegisterUrl(), "http://api.test/ebooks/nivora/index.php/userLogin/reg"},
      {api.NetworkListUrl("getUserBuy", StoreSection::Book, "7"),
       "http://api.test/ebook/system/index.php/index/getUserBuy/?class=book&uid=7"},
      {api.NetworkListUrl("getUserFollow", StoreSection::Magazine, "7"),
       "http://api.test/ebook/system/index.php/index/getUserFollow/?class=mag&uid=7"},
      {api.NetworkListUrl("getUserFav", StoreSection::Magazine, "7"),
       "http://api.test/ebook/magazine/index.php/index/getUserFav/?class=mag&uid=7"},
      {api.NetworkListUrl("getUserRead", StoreSection::Book, "7"),
       "http://api.test/ebook/nivora/index.php/index/getUserRead/?class=book&uid=7"},
      {api.NetworkListDeleteUrl("getUserFav", StoreSection::Book, "55", "7"),
       "http://api.test/ebook/nivora/index.php/index/getUserFav/?act=del&class=book&pid=55&uid=7"},
      {api.NetworkListDeleteUrl("getUserFollow", StoreSection::Magazine, "55", "7"),
       "http://api.test/ebook/system/index.php/index/getUserFollow/"
       "?act=del&class=mag&pid=55&uid=7"},
      {api.BookInfoUrl(StoreSection::Book, "55", "getUserFav", ClientMode::Enterprise),
       "http://api.test/ebooks/nivora/index.php/index/bookInfo/?id=55&act=getUserFav"},
      {api.BookInfoUrl(StoreSection::Magazine, "55", "getUserBuy", ClientMode::Personal),
       "http://api.test/ebook/magazine/index.php/index/magOneInfo/?id=55&act=getUserBuy"},
      {api.BookInfoScriptUrl(), "http://api.test/ebook/_jslib/common/dgView.js"},
      {api.ForgetPasswordUrl(), "http://web.test:81/magazine/forgetpass.php"},
      {api.EditPasswordUrl(), "http://account.test/enter/edit_pwd.php"},
  };
  for (const auto& [got, want] : rows) EXPECT_EQ(got, want);
}

TEST(StoreApi, BasesComeFromTheEnvironment) {
  {
    testsupport::ScopedEnv api("MURAVEL_API_SERVER", nullptr);
    testsupport::ScopedEnv web("MURAVEL_WEB_SERVER", "");
    testsupport::ScopedEnv account("MURAVEL_ACCOUNT_SITE", nullptr);
    const StoreHosts h = StoreHosts::FromEnvironment();
    EXPECT_EQ(h.apiServer, "http://127.0.0.1:8180");
    EXPECT_EQ(h.webServer, "http://127.0.0.1:8180");
    EXPECT_EQ(h.accountSite, "http://127.0.0.1:8180");
  }
  testsupport::ScopedEnv api("MURAVEL_API_SERVER", "http://store.test:9000/");
  testsupport::ScopedEnv web("MURAVEL_WEB_SERVER", "http://web.test");
  testsupport::ScopedEnv account("MURAVEL_ACCOUNT_SITE", "http://acc.test//");
  const CStoreApi api2;
  EXPECT_EQ(api2.UpdateListUrl(), "http://store.test:9000/ebooks/update.xml");
  EXPECT_EQ(api2.ForgetPasswordUrl(), "http://web.test/magazine/forgetpass.php");
  EXPECT_EQ(api2.EditPasswordUrl(), "http://acc.test/enter/edit_pwd.php");
}

TEST(StoreApi, TheClientAsksForThePathAndQueryAsFormed) {
  nettest::PythonPeer peer;
  ASSERT_TRUE(peer.ok());
  testsupport::ScopedEnv api("MURAVEL_API_SERVER", peer.Url("").c_str());
  const CStoreApi store;
  for (const std::string& url :
       {store.IssueRecordUrl("mag", "123"), store.CategoryUrl("book"), store.UpdateListUrl()}) {
    CMyHttp http;
    std::string echo;
    ASSERT_EQ(http.Request(url, "", 0, "", echo), HTTP_OK) << url;
    const std::string path = url.substr(peer.Url("").size());
    EXPECT_EQ(echo.substr(0, echo.find("\r\n")), "GET " + path + " HTTP/1.1");
  }
}

}  // namespace

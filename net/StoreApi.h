// Every address the program asks of the store's servers and of its own loopback server, formed
// from the three configured base addresses. Values are inserted as they are (no URL encoding
// here); the HTTP client encodes the double-byte names of issue files itself.
#pragma once

#include <string>
#include <string_view>

// Where the store lives: three bases such as "http://127.0.0.1:8180", without a trailing "/".
struct StoreHosts {
  static constexpr const char* kDefaultBase = "http://127.0.0.1:8180";  // the stand-in store
  std::string apiServer = kDefaultBase;    // client API, update list, store pages
  std::string webServer = kDefaultBase;    // reading and subscription pages, lost password
  std::string accountSite = kDefaultBase;  // the password change page

  // From MURAVEL_API_SERVER, MURAVEL_WEB_SERVER and MURAVEL_ACCOUNT_SITE; unset or empty ones
  // keep the default. Trailing "/" are dropped.
  static StoreHosts FromEnvironment();
};

// The process-wide client mode: which store paths and page variants are used.
enum class ClientMode { Personal = 0, Enterprise = 1 };

// The two store sections of the network library and the book information window.
enum class StoreSection { Magazine, Book };

class CStoreApi {
 public:
  // The loopback server's production port.
  static constexpr int kLoopbackPort = 8024;

  explicit CStoreApi(StoreHosts hosts = StoreHosts::FromEnvironment());
  const StoreHosts& Hosts() const { return m_hosts; }

  // API server + "/ebooks/api/?vs=1": the base that the API requests extend with "&key=value".
  std::string ApiBase() const;
  // The category list of "book" or "mag".
  std::string CategoryUrl(std::string_view cls) const;
  // The update list.
  std::string UpdateListUrl() const;
  // The magazine store page for the user name (as stored) and password; /enter/ in that mode.
  std::string MagazineStoreUrl(std::string_view user, std::string_view pass, ClientMode mode) const;
  // The e-book store page, likewise.
  std::string BookStoreUrl(std::string_view user, std::string_view pass, ClientMode mode) const;
  // The record of one issue ("book" or "mag", issue id).
  std::string IssueRecordUrl(std::string_view type, std::string_view pid) const;
  // The purchase of an issue with the account balance.
  std::string PurchaseUrl(std::string_view uid, std::string_view pwd, std::string_view type,
                          std::string_view username, std::string_view pid) const;
  // The online reading page of an issue (pid also sent in standard Base64).
  std::string OnlineReadUrl(std::string_view type, std::string_view user, std::string_view pass,
                            std::string_view pid, ClientMode mode) const;
  // The subscription page opened in the system's browser.
  std::string SubscriptionUrl() const;
  // The loopback server's self-test address.
  static std::string SelfTestUrl(int port = kLoopbackPort);
  // A file of the open issue on the loopback server ("mag/123/..." or "/mag/123/...").
  static std::string LoopbackFileUrl(std::string_view filePath, int port = kLoopbackPort);
  // The login page's verification picture (random number, time in milliseconds).
  std::string VerifyPictureUrl(std::string_view random, long long timeMs) const;
  // The login form's target.
  std::string LoginUrl(ClientMode mode) const;
  // The registration form's target.
  std::string RegisterUrl() const;
  // A network library list ("getUserBuy", "getUserFav", "getUserRead", "getUserFollow").
  std::string NetworkListUrl(std::string_view list, StoreSection section,
                             std::string_view uid) const;
  // The deletion of one issue from such a list.
  std::string NetworkListDeleteUrl(std::string_view list, StoreSection section,
                                   std::string_view pid, std::string_view uid) const;
  // The book information window of an issue, opened from a list (`listAction` is its name).
  std::string BookInfoUrl(StoreSection section, std::string_view id, std::string_view listAction,
                          ClientMode mode) const;
  // The script of the book information window.
  std::string BookInfoScriptUrl() const;
  // The forgotten-password page.
  std::string ForgetPasswordUrl() const;
  // The password change page.
  std::string EditPasswordUrl() const;

 private:
  StoreHosts m_hosts;
};

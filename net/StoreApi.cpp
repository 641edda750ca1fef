#include "net/StoreApi.h"

#include <cstdlib>

#include "app/base/FileUtil.h"

namespace {

std::string BaseFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  std::string base = value && *value ? value : StoreHosts::kDefaultBase;
  // The paths are appended with their own "/": a base ending in "/" would give "//", which the
  // client's URL rules do not read as the start of a path.
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base.empty() ? std::string(StoreHosts::kDefaultBase) : base;
}

std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out += p;
  return out;
}

const char* StorePrefix(ClientMode mode) {
  return mode == ClientMode::Enterprise ? "/enter/" : "/ebooks/";
}

std::string_view SectionName(StoreSection section) {
  return section == StoreSection::Book ? "nivora" : "magazine";
}

std::string_view SectionClass(StoreSection section) {
  return section == StoreSection::Book ? "book" : "mag";
}

// The lists of purchases and followed issues live in the system section for both kinds.
bool IsSystemList(std::string_view list) { return list == "getUserBuy" || list == "getUserFollow"; }

std::string NetworkListPath(std::string_view list, StoreSection section) {
  if (IsSystemList(list)) return Cat({"/ebook/system/index.php/index/", list, "/?"});
  return Cat({"/ebook/", SectionName(section), "/index.php/index/", list, "/?"});
}

}  // namespace

StoreHosts StoreHosts::FromEnvironment() {
  StoreHosts hosts;
  hosts.apiServer = BaseFromEnvironment("MURAVEL_API_SERVER");
  hosts.webServer = BaseFromEnvironment("MURAVEL_WEB_SERVER");
  hosts.accountSite = BaseFromEnvironment("MURAVEL_ACCOUNT_SITE");
  return hosts;
}

CStoreApi::CStoreApi(StoreHosts hosts) : m_hosts(std::move(hosts)) {}

std::string CStoreApi::ApiBase() const { return m_hosts.apiServer + "/ebooks/api/?vs=1"; }

std::string CStoreApi::CategoryUrl(std::string_view cls) const {
  return Cat({ApiBase(), "&act=sortClass&class=", cls, "&source="});
}

std::string CStoreApi::UpdateListUrl() const { return m_hosts.apiServer + "/ebooks/update.xml"; }

std::string CStoreApi::MagazineStoreUrl(std::string_view user, std::string_view pass,
                                        ClientMode mode) const {
  return Cat({m_hosts.apiServer, StorePrefix(mode), "magazine/?vs=1&user=", user, "&pass=", pass,
              "&source="});
}

std::string CStoreApi::BookStoreUrl(std::string_view user, std::string_view pass,
                                    ClientMode mode) const {
  return Cat({m_hosts.apiServer, StorePrefix(mode), "nivora/?vs=1&user=", user, "&pass=", pass,
              "&source="});
}

std::string CStoreApi::IssueRecordUrl(std::string_view type, std::string_view pid) const {
  return Cat({ApiBase(), "&type=", type, "&pid=", pid, "&source="});
}

std::string CStoreApi::PurchaseUrl(std::string_view uid, std::string_view pwd,
                                   std::string_view type, std::string_view username,
                                   std::string_view pid) const {
  return Cat({m_hosts.apiServer, "/ebooks/system/index.php/index/magBuy/?vs=1", "&uid=", uid,
              "&pwd=", pwd, "&type=", type, "&act=client&username=", username, "&pid=", pid,
              "&source="});
}

std::string CStoreApi::OnlineReadUrl(std::string_view type, std::string_view user,
                                     std::string_view pass, std::string_view pid,
                                     ClientMode mode) const {
  const char* path =
      type == "book" ? "/book/online_client.php?vs=1" : "/magazine/online_client.php?vs=1";
  return Cat({m_hosts.webServer, path, "&method=clientread", "&user=", user, "&pass=", pass,
              "&enpid=", pid, "&pid=", CFileUtil::EncodeBase64(pid),
              "&enter=", mode == ClientMode::Enterprise ? "1" : "0", "&source="});
}

std::string CStoreApi::SubscriptionUrl() const {
  return m_hosts.webServer + "/magazine/digi_subscription.php?oemname=quorvex&vs=5";
}

std::string CStoreApi::SelfTestUrl(int port) {
  return "http://127.0.0.1:" + std::to_string(port) + "/test_http/";
}

std::string CStoreApi::LoopbackFileUrl(std::string_view filePath, int port) {
  if (!filePath.empty() && filePath.front() == '/') filePath.remove_prefix(1);
  return Cat({"http://127.0.0.1:", std::to_string(port), "/", filePath});
}

std::string CStoreApi::VerifyPictureUrl(std::string_view random, long long timeMs) const {
  return Cat({m_hosts.apiServer, "/enter/nivora/index.php/UserLogin/clientCode/?r=", random,
              "&code=", std::to_string(timeMs)});
}

std::string CStoreApi::LoginUrl(ClientMode mode) const {
  return Cat({m_hosts.apiServer, StorePrefix(mode), "nivora/index.php/userLogin/login"});
}

std::string CStoreApi::RegisterUrl() const {
  return m_hosts.apiServer + "/ebooks/nivora/index.php/userLogin/reg";
}

std::string CStoreApi::NetworkListUrl(std::string_view list, StoreSection section,
                                      std::string_view uid) const {
  return Cat({m_hosts.apiServer, NetworkListPath(list, section), "class=", SectionClass(section),
              "&uid=", uid});
}

std::string CStoreApi::NetworkListDeleteUrl(std::string_view list, StoreSection section,
                                            std::string_view pid, std::string_view uid) const {
  return Cat({m_hosts.apiServer, NetworkListPath(list, section),
              "act=del&class=", SectionClass(section), "&pid=", pid, "&uid=", uid});
}

std::string CStoreApi::BookInfoUrl(StoreSection section, std::string_view id,
                                   std::string_view listAction, ClientMode mode) const {
  // The personal bookshelf page asks the "/ebook/" tree, the enterprise one "/ebooks/".
  const char* root = mode == ClientMode::Enterprise ? "/ebooks/" : "/ebook/";
  const char* page = section == StoreSection::Book ? "bookInfo" : "magOneInfo";
  return Cat({m_hosts.apiServer, root, SectionName(section), "/index.php/index/", page, "/?id=", id,
              "&act=", listAction});
}

std::string CStoreApi::BookInfoScriptUrl() const {
  return m_hosts.apiServer + "/ebook/_jslib/common/dgView.js";
}

std::string CStoreApi::ForgetPasswordUrl() const {
  return m_hosts.webServer + "/magazine/forgetpass.php";
}

std::string CStoreApi::EditPasswordUrl() const {
  return m_hosts.accountSite + "/enter/edit_pwd.php";
}

#include "store/UserInfo.h"

#include <atomic>
#include <iterator>

#include "app/base/FileUtil.h"
#include "platform/fs.h"
#include "store/XmlDoc.h"

namespace {

std::atomic<int> g_clientMode{1};

// user.xml holds the password: only its owner may read it.
constexpr unsigned kUserFileMode = 0600;

// The seventeen fields in the order of the file.
constexpr std::string CUserInfo::*kFields[] = {
    &CUserInfo::userid,        &CUserInfo::username,   &CUserInfo::password,
    &CUserInfo::email,         &CUserInfo::photo,      &CUserInfo::attention_count,
    &CUserInfo::fans_count,    &CUserInfo::comment_count, &CUserInfo::vip,
    &CUserInfo::usertype,      &CUserInfo::ip,         &CUserInfo::district,
    &CUserInfo::lastlogintime, &CUserInfo::online,     &CUserInfo::rememberpassword,
    &CUserInfo::autologin,     &CUserInfo::money,
};
constexpr const char* kFieldNames[] = {
    "userid", "username", "password", "email", "photo", "attention_count", "fans_count",
    "comment_count", "vip", "usertype", "ip", "district", "lastlogintime", "online",
    "rememberpassword", "autologin", "money",
};
static_assert(std::size(kFields) == std::size(kFieldNames));

// The fields read back from the file, in this order; rememberpassword and autologin are not.
constexpr std::size_t kReadBack[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16};

constexpr char kRoot[] = "userInfo";
constexpr char kClientMode[] = "client_mode";

}  // namespace

CUserInfo& CUserInfo::Instance() {
  // Never destroyed: download workers may still use it while the process ends.
  static CUserInfo* const user = new CUserInfo();
  return *user;
}

int CUserInfo::GetClientMode() { return g_clientMode.load(); }

void CUserInfo::SetClientMode(int mode) { g_clientMode.store(mode != 0 ? 1 : 0); }

bool CUserInfo::LoadUser(std::string_view path) {
  std::string text;
  if (!CFileUtil::ReadWholeFile(path, text) || text.empty()) return false;
  return ParseUserXml(text);
}

bool CUserInfo::ParseUserXml(std::string_view text) {
  CXmlDoc doc;
  doc.SetDocText(text);
  doc.RewindLevel();
  if (!doc.FindElement(kRoot)) return false;
  doc.IntoElement();
  // Each name is searched forward from the last one found: an element that stands before an
  // earlier-listed one is skipped, and a missing one leaves its field as it was.
  for (const std::size_t i : kReadBack) {
    if (doc.FindElement(kFieldNames[i])) this->*kFields[i] = doc.GetElementData();
  }
  if (doc.FindElement(kClientMode)) SetClientMode(doc.GetElementData() == "1" ? 1 : 0);
  return true;
}

std::string CUserInfo::FormatUserXml() const {
  CXmlDoc doc;
  doc.AddElement(kRoot);
  doc.IntoElement();
  for (std::size_t i = 0; i < std::size(kFields); ++i) {
    const std::string& value = this->*kFields[i];
    if (!value.empty()) doc.AddElement(kFieldNames[i], value);
  }
  doc.AddElement(kClientMode, GetClientMode() ? "1" : "0");
  doc.OutOfElement();
  return std::string(doc.GetDocText());
}

bool CUserInfo::SaveUser(std::string_view path) const {
  if (path.empty()) return false;
  return platform::fs::ReplaceFile(path, FormatUserXml(), kUserFileMode);
}

void CUserInfo::ClearUser() {
  for (const auto field : kFields) (this->*field).clear();
}

#include "content/IssueInfo.h"

#include "app/base/AppPaths.h"
#include "app/base/FileUtil.h"
#include "platform/ini.h"

namespace {

// ReadLog values are read with a buffer of this many bytes, terminator included.
constexpr std::size_t kReadLogBuffer = 100;

std::string ReadLogFile() {
  const CAppPaths& paths = CAppPaths::Instance();
  if (paths.ExeFilesFolder.empty()) return std::string();  // paths not built yet: no log
  return paths.GetReadLogFile();
}

}  // namespace

std::string ReadTextResource(const platform::module::CResourceModule* module, std::uint32_t id) {
  if (!module) return std::string();
  platform::module::ResourceEntry e;
  if (!module->FindResource(platform::module::kResourceType, id, &e)) return std::string();
  if (e.size < 1 || e.size > kMaxTextResource) return std::string();
  std::string text;
  if (!module->LoadResource(platform::module::kResourceType, id, text)) return std::string();
  return text;
}

bool CIssueInfo::LoadFromModule(std::string_view path) {
  using platform::module::CResourceModule;
  m_module.reset();
  if (!path.empty() && CFileUtil::FileExists(path)) m_module = CResourceModule::Open(path);
  std::unique_ptr<CResourceModule> own;
  const CResourceModule* from = m_module.get();
  if (!from) {
    own = CResourceModule::OpenOwn();
    from = own.get();
  }
  namespace r = issue_resource;
  pid = ReadTextResource(from, r::kPid);
  name = ReadTextResource(from, r::kName);
  date = ReadTextResource(from, r::kDate);
  priceFlag = ReadTextResource(from, r::kPriceFlag);
  unused268 = ReadTextResource(from, r::kUnused268);
  sortId = ReadTextResource(from, r::kSortId);
  readerKind = ReadTextResource(from, r::kReaderKind);
  unused289 = ReadTextResource(from, r::kUnused289);
  type = ReadTextResource(from, r::kType);
  price = ReadTextResource(from, r::kPrice);
  openAtFirstStart = ReadTextResource(from, r::kOpenAtFirstStart);
  if (type.empty()) type = "mag";
  return true;
}

bool CIssueInfo::IsFirstOpenOfSelf() { return IsFirstOpenOf(std::string_view()); }

bool CIssueInfo::IsFirstOpenOf(std::string_view path) {
  LoadFromModule(path);
  if (openAtFirstStart == "1" && GetReadLog(*this, "read") != "yes") {
    SetReadLog(*this, "read", "yes");
    return true;
  }
  return false;
}

std::string CIssueInfo::ReadLogSection(const CIssueInfo& issue) {
  return issue.type + "_" + issue.pid;
}

std::string CIssueInfo::GetReadLog(const CIssueInfo& issue, std::string_view key) {
  const std::string file = ReadLogFile();
  if (file.empty()) return std::string();
  std::string value = platform::ini::GetString(file, ReadLogSection(issue), key, "");
  if (value.size() > kReadLogBuffer - 1) value.resize(kReadLogBuffer - 1);
  return value;
}

bool CIssueInfo::SetReadLog(const CIssueInfo& issue, std::string_view key,
                            std::string_view value) {
  const std::string file = ReadLogFile();
  if (file.empty()) return false;
  return platform::ini::SetString(file, ReadLogSection(issue), key, value);
}

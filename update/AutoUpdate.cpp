#include "update/AutoUpdate.h"

#include "app/base/AppPaths.h"
#include "app/base/FileUtil.h"
#include "net/StoreApi.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/XmlDoc.h"
#include "update/ProgramCopy.h"
#include "update/SafeName.h"
#include "update/Unpack.h"

#include <climits>
#include <thread>

namespace fs = platform::fs;

namespace {

// A download becomes the local file only when it is complete.
constexpr char kPartialSuffix[] = ".part";

std::string Trim(std::string text) {
  const char* blanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  const std::size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

// The leading decimal number of a text, as atoi reads it, held within the range of an int.
int DecimalValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) return negative ? INT_MIN : INT_MAX;
  }
  return static_cast<int>(negative ? -value : value);
}

// The value of the child element `name` of the current `file` element.
std::string ChildText(CXmlDoc& doc, std::string_view name) {
  doc.RewindLevel();
  return doc.FindElement(name) ? Trim(doc.GetElementData()) : std::string();
}

// Downloads a record's file to its local name in the update folder; false after the last
// failed attempt.
bool DownloadComponent(CUpdateInfo& info, const std::string& key, const UpdateTunables& t) {
  info.localFile = CAppPaths::Instance().UpdateFolder + "/" + key + "." +
                   std::to_string(info.version);
  const std::string partial = info.localFile + kPartialSuffix;
  for (int attempt = 0; attempt < t.downloadAttempts; ++attempt) {
    CMyHttp http(t.http);
    if (http.Download(info.url, "", 0, "", partial) == HTTP_OK &&
        fs::MoveFile(partial, info.localFile)) {
      info.state = CUpdateInfo::kDownloaded;
      return true;
    }
  }
  fs::RemoveFile(partial);
  return false;
}

// Installs one downloaded record; true when its version was recorded.
bool InstallComponent(const CUpdateInfo& info, const std::string& key) {
  const std::string exeFiles = CAppPaths::Instance().ExeFilesFolder;
  if (info.file_type == "1") {
    const std::string target = exeFiles + "/" + key + "_" + std::to_string(info.version) + "/";
    fs::CreateFolders(target);
    std::string package;
    if (!fs::ReadFile(info.localFile, package)) return false;
    if (UnpackFolderPackage(package, target) != UnpackResult::Done) return false;
    return CFileUtil::SetComponentVersion(key, info.version);
  }
  if (info.file_type == "0") {
    const std::string folder = exeFiles + "/" + std::to_string(info.version) + "/";
    fs::CreateFolders(folder);
    const std::string target = folder + key;
    if (!CFileUtil::FileExists(target)) {  // an installed file is never overwritten
      std::string bytes;
      // The program copy must be startable by the hand-over.
      const FileMode mode = key == kProgramCopyName ? FileMode::Program : FileMode::Data;
      if (fs::ReadFile(info.localFile, bytes)) WriteFileWhole(target, bytes, mode);
    }
    if (!CFileUtil::FileExists(target)) return false;
    if (key == kReaderMovieName) WriteReaderMovieAlias(folder);
    return CFileUtil::SetComponentVersion(key, info.version);
  }
  return false;  // other types are downloaded only
}

}  // namespace

std::vector<CUpdateInfo> ParseUpdateList(std::string_view document) {
  std::vector<CUpdateInfo> list;
  CXmlDoc doc(document);
  if (!doc.FindElement("files") || !doc.IntoElement()) return list;
  while (doc.FindElement("file")) {
    doc.IntoElement();
    CUpdateInfo info;
    info.file_name = ChildText(doc, "file_name");
    info.file_type = ChildText(doc, "file_type");
    info.version = DecimalValue(ChildText(doc, "version"));
    info.url = ChildText(doc, "url");
    info.mode = ChildText(doc, "mode");
    list.push_back(std::move(info));
    doc.OutOfElement();
  }
  return list;
}

int RunUpdateCheck() { return RunUpdateCheck(UpdateTunables()); }

int RunUpdateCheck(const UpdateTunables& tunables) {
  std::string reply;
  {
    CMyHttp http(tunables.http);
    const std::string url = tunables.listUrl.empty() ? CStoreApi().UpdateListUrl() : tunables.listUrl;
    if (http.Request(url, "", 0, "", reply) != HTTP_OK) return 0;
  }
  std::vector<CUpdateInfo> list =
      ParseUpdateList(CFileUtil::ConvertCodePage(reply, platform::kCodePageUtf8, 0));
  if (list.empty()) return 1;

  // Names become keys and file names only in their safe form; a record without a name has no
  // place to go.
  std::vector<std::string> keys;
  bool anyNewer = false;
  for (CUpdateInfo& info : list) {
    keys.push_back(SafeFileName(info.file_name));
    if (!keys.back().empty() && CFileUtil::GetComponentVersion(keys.back()) < info.version) {
      info.state = CUpdateInfo::kNewer;
      anyNewer = true;
    }
  }
  if (!anyNewer) return 1;

  fs::CreateFolders(CAppPaths::Instance().UpdateFolder);
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].state != CUpdateInfo::kNewer) continue;
    if (!DownloadComponent(list[i], keys[i], tunables)) return 1;  // nothing of this run installed
  }
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].state == CUpdateInfo::kDownloaded) InstallComponent(list[i], keys[i]);
  }
  return 1;
}

void StartUpdateCheck() {
  std::thread([] { RunUpdateCheck(); }).detach();
}

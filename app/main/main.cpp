// The program's entry. The main window is not built yet, so a start runs what the window's
// initialisation would run, without a window: the paths and the stored files, the hand-over to a
// newer program copy or the installation of this one's components, the shelf lists, the embedded
// server, interrupted downloads, the category lists and the update check. It reports on the
// console and ends when the work it started has ended.
//
//   muravel                       start, then end once downloads and the update check are done
//   muravel -p ISSUE_FILE         also open that issue file into the embedded server and wait
//   muravel --download TYPE PID   also download one issue of the store (TYPE mag or book)
#include "app/base/AppPaths.h"
#include "content/IssueInfo.h"
#include "content/MyMemFile.h"
#include "download/DownLoadManager.h"
#include "platform/text.h"
#include "store/ConfigFile.h"
#include "store/ShelfLists.h"
#include "store/UserInfo.h"
#include "update/AutoUpdate.h"
#include "update/ProgramCopy.h"

#include <chrono>
#include <csignal>
#include <map>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

// How long a console start waits for what it started.
constexpr auto kDownloadWait = std::chrono::minutes(30);
constexpr auto kServeTime = std::chrono::minutes(10);

std::string Show(const std::string& systemText) { return platform::SystemToUtf8(systemText); }

// The console stands in for the main window: events are printed as they arrive.
class CConsoleSink : public CDownloadEventSink {
 public:
  void SendEvent(int code, void* data) override {
    std::lock_guard<std::mutex> hold(m_lock);
    const auto* record = static_cast<const CMagInfo*>(data);
    switch (code) {
      case EVENT_DOWNLOAD_PROGRESS: {
        const auto* p = static_cast<const DownloadProgress*>(data);
        if (p->percent == m_lastPercent[p->pid]) return;  // the console needs no repeats
        m_lastPercent[p->pid] = p->percent;
        std::printf("  %s %s: %s%%\n", p->type.c_str(), p->pid.c_str(), p->percent.c_str());
        break;
      }
      case EVENT_DOWNLOAD_STARTED:
        std::printf("  started    %s\n", Show(record->name + " " + record->date).c_str());
        break;
      case EVENT_DOWNLOAD_STOPPED:
        std::printf("  ended      %s (state %d, %s)\n", Show(record->name).c_str(), record->down,
                    Show(record->savepath).c_str());
        break;
      case EVENT_REQUEST_FAILED:
        std::printf("  the store gave no record for %s\n",
                    static_cast<const DownloadRequest*>(data)->pid.c_str());
        break;
      case EVENT_RECORD_ADDED:
        std::printf("  on shelf   %s -> %s\n", Show(record->name + " " + record->date).c_str(),
                    Show(record->savepath).c_str());
        break;
      case EVENT_ALREADY_ON_SHELF:
        std::printf("  already on the shelf: %s\n", record ? Show(record->name).c_str() : "-");
        break;
      default:
        break;
    }
    std::fflush(stdout);
  }

 private:
  std::mutex m_lock;
  std::map<std::string, std::string> m_lastPercent;
};

void ShowFolders(CAppPaths& paths) {
  const auto show = [](const char* label, const std::string& value) {
    std::printf("%-16s %s\n", label, Show(value).c_str());
  };
  show("program folder", paths.ModuleFolder);
  show("app folder", paths.AppFolder);
  show("download folder", paths.DownloadFolder.empty() ? "(none writable)" : paths.DownloadFolder);
  show("skin folder", paths.GetSkinFolderPath());
  show("page folder", paths.GetDataFolderPath());
  show("reader movie", paths.GetReaderMoviePath());
}

void ShowShelf() {
  for (const char* key : {"mag", "book"}) {
    const MagList list = CShelfLists::Instance().GetList(key);
    std::printf("shelf %-5s      %zu record(s)\n", key, list.size());
    for (const MagInfoPtr& r : list) {
      std::printf("  [%s] %-40s state %d  %d/%d bytes\n", r->pid.c_str(),
                  Show(r->name + " " + r->date).c_str(), r->down, r->downlen, r->filelen);
    }
  }
}

// Loads an issue file into the memory store, as opening it for reading does, and serves it.
bool OpenIssueFile(const std::string& path, int port) {
  CIssueInfo issue;
  issue.LoadFromModule(path);
  if (issue.pid.empty()) {
    std::printf("%s carries no issue\n", Show(path).c_str());
    return false;
  }
  CMyMemFile& store = CMyMemFile::Instance();
  store.Clear();
  std::string folder8 = std::string(kMemoryFilePrefix) + issue.type + "\\" + issue.pid + "\\";
  const std::u16string folder(folder8.begin(), folder8.end());  // ASCII: widened byte by byte
  const bool loaded = store.LoadIssueContainer(path, folder, issue.priceFlag, Ownership::NotOwned,
                                               issue.price, CUserInfo::Instance().money);
  std::printf("issue %s %s (%s %s): %s, %zu file(s)\n", issue.type.c_str(), issue.pid.c_str(),
              Show(issue.name).c_str(), Show(issue.date).c_str(),
              loaded ? "loaded" : "no container", store.EntryCount());
  if (loaded) {
    std::printf("  served at http://127.0.0.1:%d/%s/%s/ (page index \"stream\", %s)\n", port,
                issue.type.c_str(), issue.pid.c_str(),
                issue.readerKind == "1" ? "view1.html / view2.html" : "reader pages");
  }
  return loaded;
}

volatile std::sig_atomic_t g_interrupted = 0;

}  // namespace

int main(int argc, char** argv) {
  std::string openPath, downloadType, downloadPid;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-p") == 0 && i + 1 < argc) {
      openPath = platform::Utf8ToSystem(argv[++i]);
    } else if (std::strcmp(argv[i], "--download") == 0 && i + 2 < argc) {
      downloadType = argv[++i];
      downloadPid = argv[++i];
    } else {
      std::fprintf(stderr, "usage: muravel [-p ISSUE_FILE] [--download mag|book PID]\n");
      return 2;
    }
  }
  std::signal(SIGINT, [](int) { g_interrupted = 1; });

  // Paths, configuration and the remembered account.
  CUserInfo::SetClientMode(1);
  CAppPaths& paths = CAppPaths::Instance();
  paths.SetConfigStore(&CConfigFile::Instance());
  paths.InitPaths();
  CUserInfo::Instance().LoadUser(paths.UserFile);

  // A newer installed copy takes over; otherwise this copy installs its components.
  CIssueInfo ownIssue;
  if (!CheckReaderVersion(ownIssue)) return 0;
  ExtractSharedResources();
  ShowFolders(paths);
  const CUserInfo& user = CUserInfo::Instance();
  std::printf("account          %s (client mode %d)\n",
              user.userid.empty() ? "none remembered (the login dialog comes with the main window)"
                                  : ("user id " + user.userid + ", balance " + user.money).c_str(),
              CUserInfo::GetClientMode());

  // What the main window's initialisation does, in its order.
  CShelfLists::Instance().LoadAllLists();
  const bool serving = CMyMemFile::Instance().StartServer();
  std::printf("embedded server  %s\n",
              serving ? (CMyMemFile::Instance().SelfTestPassed() ? "listening on 127.0.0.1:8024, self-test passed"
                                                                 : "listening on 127.0.0.1:8024")
                      : "not listening (is another instance running?)");
  CConsoleSink sink;
  CDownLoadManager& downloads = CDownLoadManager::Instance();
  downloads.SetEventSink(&sink);
  for (int i = 0; i < 5 && downloads.StartNextQueued(); ++i) {
  }
  downloads.FetchCategories();
  if (!openPath.empty() && serving) OpenIssueFile(openPath, CMyMemFile::Instance().ServerPort());
  if (!downloadPid.empty()) downloads.RequestDownload(downloadType, downloadPid);

  std::printf("update check     %s\n", RunUpdateCheck() ? "list read" : "no update list");
  WaitForProgramCopy(std::chrono::seconds(60));
  const auto deadline = std::chrono::steady_clock::now() + kDownloadWait;
  while (!g_interrupted && !downloads.WaitForIdle(std::chrono::milliseconds(200)) &&
         std::chrono::steady_clock::now() < deadline) {
  }
  ShowShelf();
  if (!openPath.empty() && serving && !g_interrupted) {
    std::printf("serving the issue for %d minutes (Ctrl-C ends)\n",
                static_cast<int>(std::chrono::duration_cast<std::chrono::minutes>(kServeTime).count()));
    std::fflush(stdout);
    const auto serveEnd = std::chrono::steady_clock::now() + kServeTime;
    while (!g_interrupted && std::chrono::steady_clock::now() < serveEnd) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  }
  downloads.StopAllTransfers(StopMode::Wait);
  downloads.SetEventSink(nullptr);
  std::printf("The main window is not part of this build yet; this start ran everything below it.\n");
  return 0;
}

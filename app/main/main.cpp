// The program's entry. Until the main window exists, a start prepares the application folders
// and the download folder, hands over to a newer installed program copy or installs this one's
// components, and says where everything is.
#include "app/base/AppPaths.h"
#include "content/IssueInfo.h"
#include "platform/text.h"
#include "update/ProgramCopy.h"

#include <chrono>
#include <cstdio>

int main() {
  CAppPaths& paths = CAppPaths::Instance();
  paths.InitPaths();
  CIssueInfo ownIssue;
  if (!CheckReaderVersion(ownIssue)) return 0;  // a newer program copy took over
  ExtractSharedResources();
  const auto show = [](const char* label, const std::string& value) {
    std::printf("%-16s %s\n", label, platform::SystemToUtf8(value).c_str());
  };
  show("program folder", paths.ModuleFolder);
  show("app folder", paths.AppFolder);
  show("data folder", paths.DataFolder);
  show("download folder", paths.DownloadFolder.empty() ? "(none writable)" : paths.DownloadFolder);
  show("skin folder", paths.GetSkinFolderPath());
  show("page folder", paths.GetDataFolderPath());
  show("reader movie", paths.GetReaderMoviePath());
  // This short start would end before the copy worker; let it finish installing the copy.
  WaitForProgramCopy(std::chrono::seconds(60));
  std::printf("The main window is not part of this build yet; the folders above are ready.\n");
  return 0;
}

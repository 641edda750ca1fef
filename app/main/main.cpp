// The program's entry. Until the main window exists, a start prepares the application folders
// and the download folder and says where they are.
#include "app/base/AppPaths.h"
#include "platform/text.h"

#include <cstdio>

int main() {
  CAppPaths& paths = CAppPaths::Instance();
  paths.InitPaths();
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
  std::printf("The main window is not part of this build yet; the folders above are ready.\n");
  return 0;
}

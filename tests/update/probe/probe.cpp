// A program that starts the way the real one does as far as program copies go: it hands over to
// a newer installed copy or installs itself and its components, with the application folder
// taken from UPDATE_PROBE_APP_FOLDER. Exit codes: 0 went on (everything installed), 3 handed
// over, 4 the copy worker did not finish, 2 no folder given.
#include "app/base/AppPaths.h"
#include "content/IssueInfo.h"
#include "update/ProgramCopy.h"

#include <chrono>
#include <cstdlib>
#include <string>

int main() {
  const char* folder = std::getenv("UPDATE_PROBE_APP_FOLDER");
  if (!folder || !*folder) return 2;
  CAppPaths& paths = CAppPaths::Instance();
  paths.ExeFilesFolder = std::string(folder) + "/ExeFiles";
  paths.UpdateFolder = std::string(folder) + "/Update";
  CIssueInfo ownIssue;
  if (!CheckReaderVersion(ownIssue)) return 3;
  ExtractSharedResources();
  return WaitForProgramCopy(std::chrono::seconds(60)) ? 0 : 4;
}

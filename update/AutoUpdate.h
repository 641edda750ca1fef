// The update check: once per start, on a worker thread, the store's update list is compared
// with the installed component versions, and every newer component is downloaded into the
// update folder and installed side by side with the old one in its versioned place under
// ExeFiles. The versions in use are never overwritten; Version.ini says which is newest.
#pragma once

#include "net/MyHttp.h"

#include <string>
#include <string_view>
#include <vector>

// One file of the update list.
struct CUpdateInfo {
  // Where a record stands in one check.
  enum State { kListed = 0, kNewer = 1, kDownloaded = 2 };

  std::string file_name;  // component name: Version.ini key and installed file or folder name
  std::string file_type;  // "1" folder package, "0" single file, else downloaded only
  int version = 0;
  std::string url;
  std::string mode;       // read, no effect
  int state = kListed;
  std::string localFile;  // where the download was stored
};

// Tunables of the update check; the defaults are the production values.
struct UpdateTunables {
  std::string listUrl;       // empty: the store's update list
  int downloadAttempts = 11; // per component; then the whole check ends
  HttpTunables http;
};

// The worker procedure: 1 when the update list was read, 0 otherwise.
int RunUpdateCheck();
int RunUpdateCheck(const UpdateTunables& tunables);
// Starts RunUpdateCheck on a thread of its own that nobody waits for.
void StartUpdateCheck();

// The file records of an update list document (system code page), in document order; element
// values are taken without surrounding blanks, a missing one is empty (version 0).
std::vector<CUpdateInfo> ParseUpdateList(std::string_view document);

// The embedded server for bench/serve.sh: serve_server memory|disk ROOT PORT. "memory" loads
// every file of ROOT into the memory store (URL /mag/1/<name>), as an opened issue is served;
// "disk" serves ROOT through the general file rules (URL /<name>). Runs until killed.
#include "content/MyMemFile.h"
#include "platform/fs.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: serve_server memory|disk ROOT PORT\n");
    return 2;
  }
  const std::string mode = argv[1];
  const std::string root = argv[2];
  ServerSettings settings;
  settings.port = std::atoi(argv[3]);
  settings.selfTest = SelfTest::Skip;
  settings.backlog = 512;  // wrk opens its connections at once
  CMyMemFile& store = CMyMemFile::Instance();
  if (mode == "disk") {
    settings.documentRoot = root;
    settings.rootKind = RootKind::Disk;
  } else {
    for (const auto& e : platform::fs::ListFolder(root)) {
      if (e.kind != platform::fs::Kind::File) continue;
      std::string bytes;
      if (!platform::fs::ReadFile(platform::fs::JoinPath(root, e.name), bytes)) return 1;
      store.AddOwnedFile(IssueFolder("mag", "1") + WidenBytes(e.name), std::move(bytes));
    }
  }
  if (!store.StartServer(settings)) {
    std::fprintf(stderr, "serve_server: cannot listen on port %d\n", settings.port);
    return 1;
  }
  std::printf("listening on %d\n", store.ServerPort());
  std::fflush(stdout);
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

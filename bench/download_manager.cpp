// One run of the download manager with its production settings: the issues named on the command
// line are requested at once from a store on loopback and downloaded into a fresh folder. Prints
// one line of key=value figures for bench/download_manager.sh.
//
//   bench_download_manager SERVER FOLDER TYPE PID...
//   bench_download_manager --client FOLDER URL...   (the HTTP client alone, one thread a URL)
#include "download/DownLoadManager.h"
#include "store/ShelfLists.h"

#include "platform/fs.h"

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

// Takes the events the way the window would, without any work of its own.
class NullSink : public CDownloadEventSink {
 public:
  void SendEvent(int, void*) override {}
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

// The same downloads with the client alone: what the manager adds is the difference.
int RunClientAlone(const std::string& folder, const std::vector<std::string>& urls) {
  std::atomic<long long> bytes{0};
  std::atomic<int> failures{0};
  const double cpuBefore = CpuSeconds();
  const auto began = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < urls.size(); ++i) {
    threads.emplace_back([&, i] {
      const std::string path = folder + "/client" + std::to_string(i) + ".bin";
      CMyHttp http;
      http.SetProgressCallback([](void*, int, int) {}, nullptr);
      if (http.Download(urls[i], "", 0, "", path) != HTTP_OK) ++failures;
      bytes += static_cast<long long>(platform::fs::FileSize(path).value_or(0));
    });
  }
  for (auto& t : threads) t.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  std::printf("ok=%d bytes=%lld seconds=%.3f cpu=%.3f\n", failures == 0 ? 1 : 0, bytes.load(),
              seconds, CpuSeconds() - cpuBefore);
  return failures == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--client") {
    return RunClientAlone(argv[2], std::vector<std::string>(argv + 3, argv + argc));
  }
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s SERVER FOLDER TYPE PID...\n", argv[0]);
    return 2;
  }
  const std::string server = argv[1];
  const std::string folder = argv[2];
  const std::string type = argv[3];
  std::vector<std::string> pids(argv + 4, argv + argc);

  CShelfLists shelf(ShelfFiles{folder + "/BookShelf.xml", folder + "/MagShelf.xml",
                               folder + "/BookNewRead.xml", folder + "/MagNewRead.xml"});
  DownloadTunables tunables;  // production values, apart from where things go
  tunables.apiServer = server;
  tunables.downloadFolder = folder + "/down/";
  tunables.imagesFolder = folder + "/Images";
  NullSink sink;
  CDownLoadManager manager(shelf, tunables);
  manager.SetEventSink(&sink);

  const double cpuBefore = CpuSeconds();
  const auto began = std::chrono::steady_clock::now();
  for (const auto& pid : pids) manager.RequestDownload(type, pid);
  // Every record request and transfer has ended (renames included) when no worker runs.
  bool ok = manager.WaitForIdle(std::chrono::seconds(600));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  const double cpu = CpuSeconds() - cpuBefore;

  long long bytes = 0;
  for (const auto& pid : pids) {
    MagInfoPtr record = shelf.FindRecord(type, pid);
    auto lists = shelf.LockLists();
    if (!record || record->down != kDownComplete) {
      ok = false;
      continue;
    }
    bytes += static_cast<long long>(platform::fs::FileSize(record->savepath).value_or(0));
  }
  const DownloadStats stats = manager.GetStats();
  std::printf("ok=%d bytes=%lld seconds=%.3f cpu=%.3f saves=%llu events=%llu progress=%llu\n",
              ok ? 1 : 0, bytes, seconds, cpu, static_cast<unsigned long long>(stats.shelfSaves),
              static_cast<unsigned long long>(stats.events),
              static_cast<unsigned long long>(stats.progressEvents));
  return ok ? 0 : 1;
}

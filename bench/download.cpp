// Download throughput and CPU time of CMyHttp::Download against curl, both fetching the same URL
// into the same sinks, alternating run by run. Prints a table of medians and RATIO lines (ours /
// curl for speed, curl / ours for CPU: above 1 means we are better).
//
//   bench_download URL BYTES SHM_FILE [ROUNDS]
#include "net/MyHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Sample {
  double seconds = 0;
  double cpu = 0;
  long long bytes = 0;
  bool ok = false;
};

double CpuSeconds(const rusage& r) {
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

long long FileBytes(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  std::fseek(f, 0, SEEK_END);
  const long long n = std::ftell(f);
  std::fclose(f);
  return n;
}

Sample Ours(const std::string& url, const std::string& sink, int piece) {
  HttpTunables tunables;
  tunables.bodyPieceSize = piece;
  CMyHttp http(tunables);
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  const int result = http.Download(url, "", 0, "", sink);
  const auto end = std::chrono::steady_clock::now();
  getrusage(RUSAGE_SELF, &after);
  Sample s;
  s.seconds = std::chrono::duration<double>(end - start).count();
  s.cpu = CpuSeconds(after) - CpuSeconds(before);
  s.ok = result == HTTP_OK;
  return s;
}

// The floor: a bare receive loop with 1 KiB pieces and stdio writes, nothing else per piece.
Sample Plain(const UrlParts& target, const std::string& sink) {
  Sample s;
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(target.port));
  inet_pton(AF_INET, target.host.c_str(), &addr.sin_addr);
  std::FILE* f = std::fopen(sink.c_str(), "wb");
  if (f && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    const std::string request = "GET " + target.path + " HTTP/1.1\r\nHost: " + target.host +
                                "\r\nConnection: close\r\n\r\n";
    send(fd, request.data(), request.size(), 0);
    char piece[1024];
    ssize_t n;
    while ((n = recv(fd, piece, sizeof piece, 0)) > 0) std::fwrite(piece, 1, n, f);
    s.ok = n == 0;
  }
  if (f) std::fclose(f);
  close(fd);
  const auto end = std::chrono::steady_clock::now();
  getrusage(RUSAGE_SELF, &after);
  s.seconds = std::chrono::duration<double>(end - start).count();
  s.cpu = CpuSeconds(after) - CpuSeconds(before);
  return s;
}

Sample Curl(const std::string& url, const std::string& sink) {
  Sample s;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return s;
  if (pid == 0) {
    execlp("curl", "curl", "-s", "-f", "-o", sink.c_str(), url.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  s.cpu = CpuSeconds(usage);
  s.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return s;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Series {
  std::string name;
  std::vector<double> mbps;
  std::vector<double> cpu;
  bool ok = true;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s URL BYTES SHM_FILE [ROUNDS]\n", argv[0]);
    return 2;
  }
  const std::string url = argv[1];
  const long long size = std::atoll(argv[2]);
  const std::string shmFile = argv[3];
  const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;

  struct Sink {
    const char* label;
    std::string path;
  };
  const Sink sinks[] = {{"sink", "/dev/null"}, {"shm", shmFile}};
  // Per sink: ours with 1 KiB pieces, ours with 64 KiB pieces, curl, the bare loop.
  constexpr int kClients = 4;
  std::vector<Series> series;
  for (const Sink& sink : sinks) {
    series.push_back({std::string(sink.label) + " ours 1k", {}, {}});
    series.push_back({std::string(sink.label) + " ours 64k", {}, {}});
    series.push_back({std::string(sink.label) + " curl", {}, {}});
    series.push_back({std::string(sink.label) + " bare loop 1k", {}, {}});
  }
  const UrlParts target = SplitUrl(url);
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t k = 0; k < 2; ++k) {
      const Sink& sink = sinks[k];
      for (int which = 0; which < kClients; ++which) {
        // Alternate the order from round to round, so that neither side always goes first.
        const int client = (round % 2 == 0) ? which : kClients - 1 - which;
        Sample s = client == 3   ? Plain(target, sink.path)
                   : client == 2 ? Curl(url, sink.path)
                                 : Ours(url, sink.path, client == 0 ? 1024 : 65536);
        // The bare loop keeps the header in the file.
        if (sink.path != "/dev/null" && client != 3) s.ok = s.ok && FileBytes(sink.path) == size;
        Series& out = series[k * kClients + static_cast<std::size_t>(client)];
        out.ok = out.ok && s.ok;
        out.mbps.push_back(s.seconds > 0 ? static_cast<double>(size) / 1e6 / s.seconds : 0);
        out.cpu.push_back(s.cpu);
      }
    }
  }
  std::printf("download of %.0f MiB from nginx on loopback, %d rounds, medians\n",
              static_cast<double>(size) / (1 << 20), rounds);
  std::printf("%-16s %10s %10s\n", "client", "MB/s", "CPU s");
  for (const Series& s : series) {
    std::printf("%-16s %10.0f %10.3f %s\n", s.name.c_str(), Median(s.mbps), Median(s.cpu),
                s.ok ? "" : "FAILED");
  }
  bool allOk = true;
  for (std::size_t k = 0; k < 2; ++k) {
    const Series& curl = series[k * kClients + 2];
    for (std::size_t c = 0; c < 2; ++c) {
      const Series& ours = series[k * kClients + c];
      allOk = allOk && ours.ok && curl.ok;
      const std::string tag =
          std::string("download_") + sinks[k].label + (c == 0 ? "_1k" : "_64k");
      const double speed = Median(curl.mbps) > 0 ? Median(ours.mbps) / Median(curl.mbps) : 0;
      const double cpu = Median(ours.cpu) > 0 ? Median(curl.cpu) / Median(ours.cpu) : 0;
      std::printf("RATIO %s_speed %.3f\n", tag.c_str(), speed);
      std::printf("RATIO %s_cpu %.3f\n", tag.c_str(), cpu);
    }
  }
  return allOk ? 0 : 1;
}

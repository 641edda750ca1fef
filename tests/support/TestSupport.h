// Helpers for tests: fresh temporary folders, scoped settings, files, free ports and child
// processes that are always stopped. Every wait here is bounded.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The folder's path (UTF-8 bytes), without trailing separator.
  const std::string& path() const { return m_path; }
  // path() + "/" + name.
  std::string operator/(std::string_view name) const;

 private:
  std::string m_path;
};

// Sets an environment variable (or unsets it when `value` is null) until the end of the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string m_name;
  std::string m_old;
  bool m_hadOld;
};

// Runs the process under another system code page until the end of the scope.
class ScopedCodePage {
 public:
  explicit ScopedCodePage(int codePage);
  ~ScopedCodePage();

 private:
  int m_old;
};

// Whole-file helpers on native (UTF-8) paths; they fail the test on error.
std::string ReadFileOrDie(const std::string& path);
void WriteFileOrDie(const std::string& path, std::string_view data);

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();

// A child process (a peer server of another make, a tool) that is killed and reaped when the
// object ends.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Starts argv[0] (looked up in PATH) with the arguments; false when it cannot be started.
  bool Start(const std::vector<std::string>& argv);
  // Waits up to `timeout` for the process to end; its exit code, or -1 when it did not end.
  int Wait(std::chrono::milliseconds timeout);
  // Stops the process (SIGTERM, then SIGKILL after a second) and reaps it.
  void Stop();
  int pid() const { return m_pid; }

 private:
  int m_pid = -1;
};

// Waits until something listens on 127.0.0.1:port, at most `timeout`; true when it does.
bool WaitForPort(int port, std::chrono::milliseconds timeout);

// The repository's folder (for fixtures) and the build folder.
std::string SourceDir();
std::string BinaryDir();

}  // namespace testsupport

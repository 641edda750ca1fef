#include "platform/process.h"

#include "platform/fs.h"

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace platform::process {
namespace {

// A read that retries on signals; bytes read, 0 at the end, -1 on error.
ssize_t ReadRetrying(int fd, void* buf, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, buf, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace

bool StartProgram(std::string_view path, const std::vector<std::string>& arguments) {
  if (path.empty()) return false;
  // Everything the new process needs is prepared before fork: between fork and exec only
  // async-signal-safe calls are allowed in a process with threads.
  const std::string program = fs::ToNative(path);
  std::vector<std::string> native;
  native.reserve(arguments.size() + 1);
  native.push_back(program);
  for (const std::string& a : arguments) native.push_back(fs::ToNative(a));
  std::vector<char*> argv;
  for (std::string& a : native) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The grandchild reports a failed exec through this pipe; a successful exec closes it.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return false;

  const pid_t child = ::fork();
  if (child < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (child == 0) {
    // The intermediate child ends at once, so the program is adopted by the system and this
    // process never has a child left to reap.
    ::close(report[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::execv(program.c_str(), argv.data());
      const int err = errno;
      ssize_t ignored = ::write(report[1], &err, sizeof err);
      (void)ignored;
      ::_exit(127);
    }
    ::_exit(grandchild < 0 ? 1 : 0);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  bool started = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  int err = 0;
  // The write end lives only until the exec (or its failure), so this read ends promptly.
  if (ReadRetrying(report[0], &err, sizeof err) > 0) started = false;
  ::close(report[0]);
  return started;
}

}  // namespace platform::process

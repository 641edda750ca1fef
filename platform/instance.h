// One running instance: a program-wide lock (the named mutex) and a channel on which the running
// instance's main window hears later starts (the window mark), so that a second start can ask
// it to raise itself and hand it a text (copy data). The lock is a flock on
// "<folder>/<name>.lock", the channel a UNIX socket "<folder>/<name>.sock", where the folder is
// $XDG_RUNTIME_DIR (when that is unset: "/tmp/<name>-<uid>.lock" and ".sock").
#pragma once

#include "platform/ui.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace platform::instance {

// Tunables of the single-instance channel.
struct InstanceTunables {
  std::string folder;                              // empty: $XDG_RUNTIME_DIR, else /tmp
  std::chrono::milliseconds answerTimeout{3000};   // longest wait for the other side
  std::size_t maxCopyBytes = 64 * 1024;            // larger copy data is refused
};

// The held lock; the program keeps it until it ends.
class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
};

// The outcome of taking the lock.
struct LockResult {
  bool alreadyHeld = false;             // another process (or holder) has it
  std::unique_ptr<InstanceLock> lock;   // set when this caller holds it now
};

// Takes the lock `name`. When the lock file cannot be made at all the answer is "not held", so
// that the program starts normally.
LockResult AcquireInstanceLock(std::string_view name, const InstanceTunables& tunables = {});

// While it lives, `window` is the running instance's main window: a later start's raise request
// restores and shows it and brings it to the front, and its copy data reaches it as
// kMsgCopyData (sent, so the handler runs on the user-interface thread).
class InstanceListener {
 public:
  virtual ~InstanceListener() = default;
};
// Starts listening for `window`; null when the channel cannot be opened.
std::unique_ptr<InstanceListener> ListenAsInstanceWindow(ui::Window& window,
                                                         std::string_view name,
                                                         const InstanceTunables& tunables = {});

// A later start: asks the running instance's window to raise itself. False when no window
// listens (a stale lock or channel), so that the caller starts normally.
bool RaiseRunningInstance(std::string_view name, const InstanceTunables& tunables = {});
// A later start: hands `bytes` with `dataWord` to the running instance's window. False when no
// window listens or it did not take them.
bool SendCopyDataToRunningInstance(std::string_view name, std::uintptr_t dataWord,
                                   std::string_view bytes,
                                   const InstanceTunables& tunables = {});

}  // namespace platform::instance

// The memory file store: an opened issue's files held in memory under virtual paths, looked up by
// the embedded HTTP server's thread while the user-interface thread replaces them. The one store
// of the process also holds the start state of that server.
#pragma once

#include "content/HttpServer.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// The namespace of every virtual path (it is also the server's document root); lower case.
inline constexpr char kMemoryFilePrefix[] = "x:\\yuhdjinqbhc_wnhlxqxqa_34_44_43\\";
inline constexpr char16_t kMemoryFilePrefixW[] = u"x:\\yuhdjinqbhc_wnhlxqxqa_34_44_43\\";
// A virtual path holds at most this many characters.
inline constexpr std::size_t kMaxMemFileName = 255;

// One file of the store.
struct MemFileEntry {
  std::u16string name;       // the full virtual path as added, case kept
  const char* data = nullptr;
  std::uint32_t size = 0;
  std::string owned;         // the bytes when the store made them (a rewritten page index)
  std::u16string folded;     // the name in lower case, as lookups compare it
};

// Whether the current user may read the whole of a paid issue.
enum class Ownership { NotOwned, Owned };

// The server's start state.
enum class ServerState { NotStarted = 0, ListenFailed = 1, Listening = 2 };

class CMyMemFile {
 public:
  // The one store of the process.
  static CMyMemFile& Instance();
  CMyMemFile();
  ~CMyMemFile();
  CMyMemFile(const CMyMemFile&) = delete;
  CMyMemFile& operator=(const CMyMemFile&) = delete;

  // Appends a file whose bytes stay the caller's (they must live until Clear). False, and
  // nothing added, for a name longer than 255 characters.
  bool AddFile(std::u16string_view name, const char* data, std::uint32_t size);
  // Appends a file whose bytes the store keeps.
  bool AddOwnedFile(std::u16string_view name, std::string data);
  // The first entry whose name equals `path` without regard to ASCII case, when `path` begins with
  // the memory file prefix; null otherwise. The caller holds the store lock (LockStore).
  const MemFileEntry* FindFile(std::u16string_view path) const;
  // Looks a path up and hands the entry to `use` while holding the store lock; false when absent.
  template <class F>
  bool WithFile(std::u16string_view path, F&& use) const {
    std::lock_guard<std::mutex> hold(m_storeLock);
    const MemFileEntry* e = FindFile(path);
    if (!e) return false;
    use(*e);
    return true;
  }
  // A copy of a file's bytes; false when absent.
  bool ReadFile(std::u16string_view path, std::string& out) const;
  // Removes every entry and frees the container block.
  void Clear();
  // Holds the store lock for the caller's scope.
  std::unique_lock<std::mutex> LockStore() const { return std::unique_lock<std::mutex>(m_storeLock); }
  // Number of entries.
  std::size_t EntryCount() const;
  // The container block (the last loaded container resource), null when none.
  const char* ContainerBlock() const;

  // Loads the container of the issue file at `path` (the running program file when it cannot be
  // opened) under `folder` (ends with "\"); a paid issue the user does not own gets the preview
  // rights in its page index, with `price` for an empty price and `balance` as the user's price.
  bool LoadIssueContainer(std::string_view path, std::u16string_view folder,
                          std::string_view priceFlag, Ownership owned, std::string_view price,
                          std::string_view balance);
  // The same from the bytes of a container resource.
  bool LoadContainerBytes(std::string resource, std::u16string_view folder,
                          std::string_view priceFlag, Ownership owned, std::string_view price,
                          std::string_view balance);

  // Starts the server thread once and waits for its report (at most the settings' start
  // time-out), then makes the self-test request. True when the server listens.
  bool StartServer(const ServerSettings& settings = ServerSettings());
  // True when the server listens.
  bool IsServerRunning() const;
  ServerState GetServerState() const;
  // Stops the server thread and waits for it (tests; the program never stops it).
  void StopServer();
  // The port the server listens on (0 when it does not).
  int ServerPort() const;
  // Whether the last self-test request got "<HTTP_OK>" back.
  bool SelfTestPassed() const { return m_selfTestPassed; }

 private:
  friend class CHttpServer;
  void ReportServerState(ServerState state, int port);

  mutable std::mutex m_storeLock;
  std::vector<std::unique_ptr<MemFileEntry>> m_entries;
  std::unique_ptr<char[]> m_containerBlock;
  // Blocks of earlier loads that were not cleared: entries may still point into them.
  std::vector<std::unique_ptr<char[]>> m_earlierBlocks;

  mutable std::mutex m_serverStartLock;
  std::condition_variable m_serverReported;
  ServerState m_serverState = ServerState::NotStarted;
  int m_serverPort = 0;
  std::thread m_serverThread;
  std::thread::id m_serverThreadId;
  std::unique_ptr<CHttpServer> m_server;
  bool m_selfTestPassed = false;
};

// Widens bytes one by one to 16-bit characters of the same value (no code-page conversion).
std::u16string WidenBytes(std::string_view bytes);
// The virtual folder of an issue: prefix + type + "\" + pid + "\".
std::u16string IssueFolder(std::string_view type, std::string_view pid);
// The page index with preview rights: RW "1", AllowSeeNumbers "16", `price` when its own is
// empty, userprice = `balance`. The text unchanged when it has no XML/configs/config.
std::string RewritePageIndexRights(std::string_view utf8Text, std::string_view price,
                                   std::string_view balance);
// Asks the server on 127.0.0.1:port for its self-test page; true when it answers "<HTTP_OK>".
bool RunServerSelfTest(int port);

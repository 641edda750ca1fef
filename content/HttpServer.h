// The embedded HTTP/1.0 server: one thread, one readiness loop, one request per connection. The
// program's own handler answers the self-test path and the memory files; every other request
// goes to the general file rules under a document root, which in the program is the memory file
// prefix and so never touches the disk.
#pragma once

#include "platform/listen.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CMyMemFile;

// Whether the document root is a disk folder or only the memory namespace.
enum class RootKind { Virtual, Disk };
// Whether StartServer asks the running server for its self-test page.
enum class SelfTest { Run, Skip };

// Tunables of the server; the defaults are the program's.
struct ServerSettings {
  int port = 8024;                                     // 0 picks a free port (tests)
  int backlog = 5;
  std::chrono::milliseconds startTimeout{60000};       // StartServer's wait for the thread
  std::size_t bufferPreset = 1 << 20;                  // output buffer capacity per connection
  std::size_t bufferPoolLimit = 64;                    // idle buffers kept, in presets' worth
  std::size_t maxHeaderBytes = 64 * 1024;              // request line and headers together
  long long maxBodyBytes = 1 << 20;                    // a declared body above this is refused
  std::chrono::milliseconds idleTimeout{30000};        // a connection without progress is closed
  std::size_t maxDrainBytes = 64 * 1024;               // unread request bytes discarded at the end
  std::string documentRoot;                            // empty: the memory file prefix
  RootKind rootKind = RootKind::Virtual;
  bool listingAllowed = true;                          // folders without a default are listed
  bool listingIcons = true;                            // listings carry the small image tags
  SelfTest selfTest = SelfTest::Run;
};

// What one server thread knows about itself.
struct CServerContext {
  std::string serverName;    // the host name of the machine
  std::string documentRoot;  // normalised, without a trailing separator
  char separator = '\\';     // "\" for the memory namespace, "/" for a disk root
  RootKind rootKind = RootKind::Virtual;
  bool listingAllowed = true;
  bool listingIcons = true;
  bool listening = false;
  int port = 8024;
  ServerSettings settings;
  CMyMemFile* store = nullptr;
  std::string htmContentType;  // the type registered for ".htm"
  std::string resolvedRoot;    // a disk root with its links resolved (native bytes)
  // Builds the context for `settings` (server name, normalised root).
  static CServerContext Make(const ServerSettings& settings, CMyMemFile* store);
};

// Where the request state machine stands.
enum class RequestState { Request, Header, Body, Done };

// One request as parsed.
struct CRequest {
  std::string peerHost;
  int peerPort = 0;
  std::string method;
  std::string url;        // percent-decoded, without the query
  std::string version;
  std::string arguments;  // the query after the first "?"
  int executeKind = 0;    // 0 none, 1 query or POST, 2 ".srv", 4 ".dll"
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  long long bodyLength = 0;
  std::string fullPath;   // the target of the general rules
  bool found = false;     // the target exists
  bool isFolder = false;
  std::uint64_t bytesSent = 0;
  std::time_t requestTime = 0;
  bool done = false;
  // A header's value (the name is folded to lower case), empty when absent.
  std::string GetHeader(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
};

// What the server loop does with a connection after an event.
enum class SocketStep { WaitRead, WaitWrite, Finish, Close };

// One accepted connection with its request and reply.
class CRequestSocket {
 public:
  CRequestSocket(CServerContext& context, platform::listen::SocketHandle socket,
                 std::unique_ptr<char[]> buffer, std::size_t capacity);
  virtual ~CRequestSocket();
  CRequestSocket(const CRequestSocket&) = delete;
  CRequestSocket& operator=(const CRequestSocket&) = delete;

  // Socket notifications, called by the server loop.
  SocketStep OnReceive();
  SocketStep OnSend();
  void OnClose();
  // Feeds received bytes through the state machine; false when the request passed its limits.
  bool ProcessReceived(const char* data, std::size_t size);
  // Builds the reply into the output buffer; false (the reply is sent by OnSend).
  bool BuildResponse();
  RequestState state() const { return m_state; }
  CRequest* request() { return m_request.get(); }
  // The reply bytes waiting to be sent.
  std::string_view PendingOutput() const;
  // Gives the output buffer back (the server keeps it for the next connection).
  std::unique_ptr<char[]> TakeBuffer(std::size_t* capacity);
  platform::listen::SocketHandle socket() const { return m_socket; }
  // True when the client sent bytes beyond its request (they are discarded before closing).
  bool sentBeyondRequest() const { return m_beyondRequest; }
  void SetPeer(std::string host, int port);

  // Reply helpers: each appends to the output buffer.
  void StartResponse(std::string_view status);
  void AddHeader(std::string_view name, std::string_view text);
  void AddHeader(std::string_view name, long long number);
  void AddError(std::string_view status);
  void AddText(std::string_view text);
  void AddBytes(const char* data, std::size_t size);

  // The program's own handler; true when it answered.
  virtual bool HandleOwnRequest();
  // Runs a server application target; this one answers "501 Not Implemented".
  virtual bool RunApplication();

 protected:
  CServerContext& m_context;
  // Makes room for `n` more bytes after the output count and answers where they go.
  char* Reserve(std::size_t n);
  void Advance(std::size_t n) { m_outputCount += n; }

 private:
  void EnsureRequest();
  bool GetLine(const char* data, std::size_t count, std::size_t& index);
  void ProcessLine();
  bool HasDeclaredBody();
  void AddToBody(const char* data, std::size_t count, std::size_t index);
  void ApplyGeneralRules();
  bool FindTarget();
  bool ResolvesInsideRoot(const std::string& path) const;
  bool CheckDefault(std::string_view names, bool isApplication);
  std::string PathToUrl(std::string_view path) const;
  bool IsServerApplication();
  bool AddHeading();
  void AddFirstContent();
  void AddContentType();
  void AddListing();
  void CloseFile();

  platform::listen::SocketHandle m_socket;
  std::unique_ptr<CRequest> m_request;
  std::unique_ptr<char[]> m_buffer;
  std::size_t m_capacity = 0;
  std::size_t m_outputCount = 0;
  std::size_t m_sendOffset = 0;
  std::string m_currentLine;
  RequestState m_state = RequestState::Request;
  std::FILE* m_file = nullptr;
  std::uint64_t m_fileLeft = 0;  // bytes of the open file not yet read
  std::size_t m_headerBytes = 0;
  std::string m_peerHost;
  int m_peerPort = 0;
  bool m_killed = false;
  bool m_beyondRequest = false;
};

// The connection class the server creates: its handler answers the self-test path and the
// memory files of the store.
class CMyRequestSocket : public CRequestSocket {
 public:
  using CRequestSocket::CRequestSocket;
  bool HandleOwnRequest() override;
  // Server applications are never run; nothing is written.
  bool RunApplication() override;
};

// The listening socket of a server thread.
class CListenSocket {
 public:
  explicit CListenSocket(CServerContext& context) : m_context(context) {}
  ~CListenSocket();
  // Listens on 127.0.0.1 at the context's port; false with `error` (a Winsock number) otherwise.
  bool Listen(int* error);
  // Accepts one pending connection into a new connection object; null when none is pending.
  std::unique_ptr<CRequestSocket> OnAccept(std::unique_ptr<char[]> buffer, std::size_t capacity);
  platform::listen::SocketHandle handle() const { return m_handle; }

 private:
  CServerContext& m_context;
  platform::listen::SocketHandle m_handle = platform::listen::kInvalidSocket;
};

// The server thread's work: listen, report to the store, run the loop until stopped.
class CHttpServer {
 public:
  CHttpServer(CMyMemFile& store, const ServerSettings& settings);
  ~CHttpServer();
  // The thread procedure.
  void Run();
  // Ends Run from another thread.
  void Stop();
  // The text of the last listen failure (kept, never shown).
  const std::string& listenError() const { return m_listenError; }

 private:
  struct Connection;
  void AcceptAll();
  void Handle(Connection* c, unsigned events);
  void Apply(Connection* c, SocketStep step);
  void Drop(Connection* c, bool graceful);
  void Touch(Connection* c);
  int NextTimeout();
  void ExpireIdle();

  CMyMemFile& m_store;
  CServerContext m_context;
  std::unique_ptr<CListenSocket> m_listen;
  platform::listen::CPoller m_poller;
  std::atomic<bool> m_stop{false};
  std::list<Connection*> m_byActivity;  // least recently active first
  std::vector<std::pair<std::unique_ptr<char[]>, std::size_t>> m_pool;
  std::size_t m_poolBytes = 0;
  std::string m_listenError;
};

// Percent-decodes a URL: "%%" is "%", "%" and two hex digits the byte; "+" stays.
std::string DecodeUrl(std::string_view url);
// "Tue, 08 Dec 2026 21:30:05 GMT" for a time in seconds since 1970.
std::string FormatHttpDate(std::int64_t seconds);
// The time of an HTTP date in its three forms (RFC 1123, RFC 850, asctime), none when invalid.
std::optional<std::int64_t> ParseHttpDate(std::string_view text);
// root + url normalised as a full path (separators, "." and ".."); `inside` tells whether it
// stays inside the root. False when it cannot be formed.
bool UrlToPath(std::string_view root, char separator, std::string_view url, std::string& path,
               bool& inside);

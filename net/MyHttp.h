// The program's one HTTP/1.1 client: one connection per attempt, redirects, one cookie, resumed
// downloads, chunked bodies, progress, a stop from another thread, and HTTP-proxy or SOCKS5
// tunnels. One object serves one operation (a request or a transfer) and is then destroyed.
#pragma once

#include "platform/socket.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Result codes of Request and Download.
inline constexpr int HTTP_OK = 100;           // body received / file complete
inline constexpr int HTTP_ERR_CONNECT = 101;  // connect or tunnel failed; any failure of Download
inline constexpr int HTTP_ERR_SEND = 102;     // the request could not be sent
inline constexpr int HTTP_ERR_STATUS = 103;   // the final status is not 200

// Time-outs and piece sizes of the client; the defaults are the production values.
struct HttpTunables {
  int connectTimeoutMs = 30000;      // a connect (to the server or the proxy) gives up after this
  int receiveIdleTimeoutMs = 60000;  // a reply that stays silent this long has failed
  int bodyPieceSize = 1024;          // bytes asked of each receive of the body
  int progressDelayMs = 2000;        // no progress is reported during the first part of a body
};

// A URL split the client's way; host and path are cut to their capacities.
struct UrlParts {
  static constexpr std::size_t kHostCapacity = 128;   // bytes, with the terminating zero
  static constexpr std::size_t kPathCapacity = 1024;  // bytes, with the terminating zero
  std::string host;  // no port
  std::string path;  // from the first single "/", query included
  int port = 80;
};

// The parsed reply header; texts are cut to their capacities.
struct ResponseHead {
  static constexpr std::size_t kTransferEncodingCapacity = 64;
  static constexpr std::size_t kLocationCapacity = 1024;
  static constexpr std::size_t kSetCookieCapacity = 1024;
  int status = 0;         // 0 when there was no header
  int contentLength = 0;  // 0 when absent
  std::string transferEncoding;
  std::string location;   // Content-Location, replaced by Location when present
  std::string setCookie;
};

// Why chunked decoding stopped.
enum class ChunkedStatus {
  LastChunk,  // the zero-size chunk was reached
  EndOfData,  // the data ended (or a zero byte stood) where a chunk-size line was due
  Truncated,  // a size line without CR LF, or a chunk longer than the data left
};

// What DecodeChunked did.
struct ChunkedResult {
  ChunkedStatus status = ChunkedStatus::EndOfData;
  std::size_t length = 0;     // decoded bytes, now at the start of the buffer
  std::size_t stoppedAt = 0;  // offset in the encoded data where decoding stopped
};

// Splits a URL by the client's character rules (scheme and user skipped, port 80 by default).
UrlParts SplitUrl(std::string_view url);
// Parses a reply header (the bytes up to and including the blank line).
ResponseHead ParseResponseHead(std::string_view header);
// Decodes a chunked body in place; `body` is cut to the decoded bytes. Never reads past them.
ChunkedResult DecodeChunked(std::string& body);

class CMyHttp {
 public:
  // Progress of a Download: (user value, bytes so far, total bytes), resume offset included.
  using ProgressCallback = std::function<void(void* user, int bytesSoFar, int totalBytes)>;
  // Replaces the connection step: the socket for a target, kInvalidSocket for a failed connect.
  using Connector = std::function<platform::Socket(const UrlParts& target)>;

  explicit CMyHttp(const HttpTunables& tunables = HttpTunables());
  CMyHttp(const CMyHttp&) = delete;
  CMyHttp& operator=(const CMyHttp&) = delete;

  // GET (postLength 0) or POST of `url`; on HTTP_OK `response` holds the body, else unchanged.
  int Request(std::string_view url, std::string_view postData, int postLength,
              std::string_view referer, std::string& response);
  // Like Request, but the body goes to `filePath` (appended from the resume offset on).
  int Download(std::string_view url, std::string_view postData, int postLength,
               std::string_view referer, std::string_view filePath);

  // Installs the progress callback and the user value passed back to it.
  void SetProgressCallback(ProgressCallback callback, void* user);
  // Bytes already on disk: a Range is asked for and the file is appended to when > 0.
  void SetResumeOffset(int offset);
  // Asks a running operation to end; callable from any thread, seen within a second.
  void Stop();

  // Proxy: 0 direct, 1 HTTP proxy (CONNECT), 2 SOCKS5.
  void SetProxyType(int type) { m_proxyType = type; }
  void SetProxyHost(std::string_view host) { m_proxyHost = host; }
  void SetProxyPort(int port) { m_proxyPort = port; }
  void SetProxyUser(std::string_view user) { m_proxyUser = user; }
  void SetProxyPassword(std::string_view password) { m_proxyPassword = password; }
  // Header values; empty means the default.
  void SetConnection(std::string_view value) { m_connection = value; }
  void SetUserAgent(std::string_view value) { m_userAgent = value; }
  void SetContentType(std::string_view value) { m_contentType = value; }
  // The cookie kept from the last long enough Set-Cookie of this operation.
  const std::string& GetCookie() const { return m_cookie; }
  // Test seam: prepared connections instead of real ones.
  void SetConnector(Connector connector) { m_connector = std::move(connector); }

 private:
  struct Reply;
  enum class AttemptResult { Answered, ConnectFailed, SendFailed, TooManyRedirects };
  enum class BodyEnd { Closed, Failed, Stopped };

  AttemptResult RunAttempts(std::string_view url, std::string_view postData, int postLength,
                            std::string_view referer, Reply& reply);
  platform::Socket Connect(const UrlParts& target);
  bool OpenTunnel(platform::Socket s, const UrlParts& target);
  std::string BuildRequest(const UrlParts& target, std::string_view postData, int postLength,
                           std::string_view referer) const;
  bool ReadHeader(platform::Socket s, Reply& reply);
  // Receives until the peer closes; `complete` (> 0) is the announced length, enough when the
  // peer then falls silent instead of closing.
  BodyEnd ReadBodyToMemory(platform::Socket s, std::string& body, std::size_t complete);
  bool Stopped() const { return m_stop.load(std::memory_order_relaxed) != 0; }

  HttpTunables m_tunables;
  ProgressCallback m_progress;
  int m_proxyType = 0;
  std::string m_proxyHost;
  int m_proxyPort = 0;
  std::string m_proxyUser;
  std::string m_proxyPassword;
  void* m_user = nullptr;
  std::atomic<int> m_stop{0};
  int m_resumeOffset = 0;
  std::string m_cookie;
  std::string m_connection;
  std::string m_userAgent;
  std::string m_contentType;
  Connector m_connector;
};

#include "net/MyHttp.h"

#include "app/base/FileUtil.h"
#include "platform/fs.h"
#include "platform/text.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxAttempts = 10;
constexpr std::size_t kHeaderPiece = 1024;
constexpr std::size_t kHeaderBuffer = 2050;  // the header and its zero terminator
constexpr std::size_t kProxyBuffer = 1024;
constexpr std::size_t kChunkSizeText = 49;
constexpr std::size_t kMinCookieLength = 9;  // shorter Set-Cookie values are not kept

std::string Cut(std::string_view text, std::size_t capacity) {
  return std::string(text.substr(0, capacity - 1));
}

// atoi over a text that need not be zero-terminated; saturates instead of overflowing.
int ToInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) {
      value = static_cast<long long>(INT_MAX) + 1;
      break;
    }
  }
  if (negative) return value > INT_MAX ? INT_MIN : static_cast<int>(-value);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

int ClampToInt(long long value) {
  return value > INT_MAX ? INT_MAX : (value < INT_MIN ? INT_MIN : static_cast<int>(value));
}

// The value of a header field: from two characters after its name up to the next CR LF. The
// name is searched for anywhere, case-sensitively; `notAfter` skips hits that end a longer name.
std::string FieldValue(std::string_view header, std::string_view name, std::size_t capacity,
                       std::string_view notAfter = {}) {
  std::size_t at = header.find(name);
  while (at != std::string_view::npos && !notAfter.empty() && at >= notAfter.size() &&
         header.substr(at - notAfter.size(), notAfter.size()) == notAfter) {
    at = header.find(name, at + 1);
  }
  if (at == std::string_view::npos) return std::string();
  const std::size_t start = std::min(at + name.size() + 2, header.size());
  std::size_t end = header.find("\r\n", start);
  if (end == std::string_view::npos) end = header.size();
  return Cut(header.substr(start, end - start), capacity);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i], b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

bool IsChunked(std::string_view transferEncoding) {
  return transferEncoding.size() == 7 && StartsWithNoCase(transferEncoding, "chunked");
}

bool HasLeadByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return platform::IsLeadByte(static_cast<unsigned char>(c)); });
}

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Closes the file and says whether every byte written reached it.
bool CloseFile(File& file) {
  std::FILE* f = file.release();
  if (!f) return false;
  const bool ok = std::ferror(f) == 0;
  return std::fclose(f) == 0 && ok;
}

bool WriteAll(std::FILE* f, const char* data, std::size_t size) {
  return size == 0 || std::fwrite(data, 1, size, f) == size;
}

// The socket of one attempt, closed on every way out.
class SocketGuard {
 public:
  SocketGuard() = default;
  ~SocketGuard() { Reset(); }
  SocketGuard(const SocketGuard&) = delete;
  SocketGuard& operator=(const SocketGuard&) = delete;
  void Reset(platform::Socket s = platform::kInvalidSocket) {
    platform::CloseSocket(m_socket);
    m_socket = s;
  }
  platform::Socket get() const { return m_socket; }

 private:
  platform::Socket m_socket = platform::kInvalidSocket;
};

}  // namespace

UrlParts SplitUrl(std::string_view url) {
  UrlParts parts;
  std::string buffer;
  bool hostTaken = false;
  bool readingPort = false;
  std::size_t i = 0;
  const auto at = [&](std::size_t k) { return k < url.size() ? url[k] : '\0'; };
  while (i < url.size()) {
    const char c = url[i];
    if (c == ':') {
      if (at(i + 1) == '/' && at(i + 2) == '/') {
        buffer.clear();
        i += 3;
        continue;
      }
      parts.host = Cut(buffer, UrlParts::kHostCapacity);
      hostTaken = true;
      readingPort = true;
      buffer.clear();
      ++i;
      continue;
    }
    if (c == '@') {
      // A user name and password in front of the host: dropped, the host comes after them.
      buffer.clear();
      if (readingPort) {
        readingPort = false;
        hostTaken = false;
        parts.host.clear();
      }
      ++i;
      continue;
    }
    if (c == '/' && (i == 0 || url[i - 1] != '/') && at(i + 1) != '/') {
      if (!hostTaken) {
        parts.host = Cut(buffer, UrlParts::kHostCapacity);
      } else if (readingPort) {
        const int port = ToInt(buffer);
        if (port != 0) parts.port = port;
      }
      buffer.assign(url.substr(i));
      i = url.size();
      break;
    }
    buffer.push_back(c);
    ++i;
  }
  parts.path = Cut(buffer, UrlParts::kPathCapacity);
  return parts;
}

ResponseHead ParseResponseHead(std::string_view header) {
  ResponseHead head;
  if (header.size() > 9) head.status = ToInt(header.substr(9, 3));
  head.contentLength = ToInt(FieldValue(header, "Content-Length", 32));
  head.location = FieldValue(header, "Content-Location", ResponseHead::kLocationCapacity);
  head.transferEncoding =
      FieldValue(header, "Transfer-Encoding", ResponseHead::kTransferEncodingCapacity);
  // Location wins over Content-Location, in whichever order they come.
  std::string location =
      FieldValue(header, "Location", ResponseHead::kLocationCapacity, "Content-");
  if (!location.empty()) head.location = std::move(location);
  head.setCookie = FieldValue(header, "Set-Cookie", ResponseHead::kSetCookieCapacity);
  return head;
}

ChunkedResult DecodeChunked(std::string& body) {
  ChunkedResult result;
  char* data = body.data();
  const std::size_t total = body.size();
  std::size_t pos = 0;
  std::size_t out = 0;
  for (;;) {
    if (pos >= total || data[pos] == '\0') {
      result.status = ChunkedStatus::EndOfData;
      break;
    }
    const std::string_view rest(data + pos, total - pos);
    const std::size_t lineEnd = rest.find("\r\n");
    if (lineEnd == std::string_view::npos) {
      result.status = ChunkedStatus::Truncated;
      break;
    }
    // The size: hexadecimal digits at the start of the line (an extension after them is ignored).
    std::uint64_t size = 0;
    const std::size_t digits = std::min(lineEnd, kChunkSizeText);
    for (std::size_t k = 0; k < digits; ++k) {
      const int d = HexDigit(rest[k]);
      if (d < 0) break;
      size = size * 16 + static_cast<unsigned>(d);
      if (size > total) break;  // already longer than any data there is
    }
    if (size == 0) {
      result.status = ChunkedStatus::LastChunk;
      break;
    }
    const std::size_t dataStart = pos + lineEnd + 2;
    if (size > total - dataStart) {
      result.status = ChunkedStatus::Truncated;
      break;
    }
    std::memmove(data + out, data + dataStart, static_cast<std::size_t>(size));
    out += static_cast<std::size_t>(size);
    pos = dataStart + static_cast<std::size_t>(size) + 2;
    if (pos >= total) {
      pos = total;
      result.status = ChunkedStatus::EndOfData;
      break;
    }
  }
  result.stoppedAt = std::min(pos, total);
  result.length = out;
  body.resize(out);
  return result;
}

// The state of the last attempt: its socket (still open), its header and the body bytes that
// came with the header.
struct CMyHttp::Reply {
  SocketGuard socket;
  ResponseHead head;
  std::string firstPart;
  bool usedRange = false;
};

CMyHttp::CMyHttp(const HttpTunables& tunables) : m_tunables(tunables) {
  if (m_tunables.bodyPieceSize < 1) m_tunables.bodyPieceSize = 1;
}

void CMyHttp::SetProgressCallback(ProgressCallback callback, void* user) {
  m_progress = std::move(callback);
  m_user = user;
}

void CMyHttp::SetResumeOffset(int offset) { m_resumeOffset = offset; }

void CMyHttp::Stop() { m_stop.store(1, std::memory_order_relaxed); }

platform::Socket CMyHttp::Connect(const UrlParts& target) {
  if (m_connector) return m_connector(target);
  const bool direct = m_proxyType == 0;
  if (!direct && m_proxyType != 1 && m_proxyType != 2) return platform::kInvalidSocket;
  std::uint32_t address = 0;
  if (!platform::ResolveIPv4(direct ? target.host : m_proxyHost, address)) {
    return platform::kInvalidSocket;
  }
  const platform::Socket s = platform::TcpConnect(address, direct ? target.port : m_proxyPort,
                                                  m_tunables.connectTimeoutMs, &m_stop);
  if (s == platform::kInvalidSocket || direct) return s;
  if (!OpenTunnel(s, target)) {
    platform::CloseSocket(s);
    return platform::kInvalidSocket;
  }
  return s;
}

bool CMyHttp::OpenTunnel(platform::Socket s, const UrlParts& target) {
  const int idle = m_tunables.receiveIdleTimeoutMs;
  const bool withLogin = !m_proxyUser.empty() && !m_proxyPassword.empty();
  if (m_proxyType == 1) {
    std::string connect = "CONNECT " + target.host + ":" + std::to_string(target.port) +
                          " HTTP/1.0\r\n";
    if (withLogin) {
      connect += "Proxy-Authorization: Basic " +
                 CFileUtil::EncodeBase64(m_proxyUser + ":" + m_proxyPassword) + "\r\n";
    }
    connect += "\r\n";
    if (platform::SendAll(s, connect, idle, &m_stop) < 1) return false;
    char answer[kProxyBuffer];
    const long n = platform::Recv(s, answer, sizeof answer, idle, &m_stop);
    if (n <= 0) return false;
    const std::string_view reply(answer, static_cast<std::size_t>(n));
    return StartsWithNoCase(reply, "HTTP/1.0 200") || StartsWithNoCase(reply, "HTTP/1.1 200");
  }
  // SOCKS5: method negotiation, optional user/password login, then a connect by host name.
  unsigned char answer[10];
  if (withLogin) {
    if (platform::SendAll(s, std::string_view("\x05\x02\x00\x02", 4), idle, &m_stop) < 1 ||
        !platform::RecvExact(s, answer, 2, idle, &m_stop) || answer[0] != 0x05) {
      return false;
    }
    if (answer[1] == 0x02) {
      // Each length is one byte: longer names are cut rather than sent with a wrong length.
      const std::string user = m_proxyUser.substr(0, 255);
      const std::string password = m_proxyPassword.substr(0, 255);
      std::string login(1, '\x01');
      login.push_back(static_cast<char>(user.size()));
      login += user;
      login.push_back(static_cast<char>(password.size()));
      login += password;
      if (platform::SendAll(s, login, idle, &m_stop) < 1 ||
          !platform::RecvExact(s, answer, 2, idle, &m_stop) || answer[1] != 0x00) {
        return false;
      }
    } else if (answer[1] != 0x00) {
      return false;
    }
  } else {
    if (platform::SendAll(s, std::string_view("\x05\x01\x00", 3), idle, &m_stop) < 1 ||
        !platform::RecvExact(s, answer, 2, idle, &m_stop) || answer[0] != 0x05 ||
        answer[1] != 0x00) {
      return false;
    }
  }
  const std::string host = target.host.substr(0, 255);
  std::string request("\x05\x01\x00\x03", 4);
  request.push_back(static_cast<char>(host.size()));
  request += host;
  request.push_back(static_cast<char>((target.port >> 8) & 0xff));
  request.push_back(static_cast<char>(target.port & 0xff));
  return platform::SendAll(s, request, idle, &m_stop) >= 1 &&
         platform::RecvExact(s, answer, 10, idle, &m_stop) && answer[0] == 0x05 &&
         answer[1] == 0x00;
}

std::string CMyHttp::BuildRequest(const UrlParts& target, std::string_view postData,
                                  int postLength, std::string_view referer) const {
  std::string path = target.path;
  // File names of issues may hold Chinese characters; the servers expect them as UTF-8.
  if (path.find(".exe") != std::string::npos && HasLeadByte(path)) {
    const std::size_t slash = path.rfind('/');
    const std::size_t from = slash == std::string::npos ? 0 : slash + 1;
    const std::string utf8 =
        CFileUtil::ConvertCodePage(path.substr(from), platform::kCodePageSystem,
                                   platform::kCodePageUtf8);
    path = path.substr(0, from) + CFileUtil::UrlEncode(utf8);
  }
  std::string r;
  r.reserve(512 + path.size() + postData.size());
  r += postLength != 0 ? "POST " : "GET ";
  r += path;
  r += " HTTP/1.1\r\nHost: ";
  r += target.host;
  r += "\r\nAccept: */*\r\nReferer: ";
  r += referer;
  r += "\r\n";
  if (m_resumeOffset > 0) r += "Range:bytes=" + std::to_string(m_resumeOffset) + "-\r\n";
  if (!m_cookie.empty()) r += "Cookie: " + m_cookie + "\r\n";
  r += "User-Agent: ";
  r += m_userAgent.empty() ? "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)"
                           : m_userAgent;
  r += "\r\nContent-Type: ";
  r += m_contentType.empty() ? "application/x-www-form-urlencoded" : m_contentType;
  r += "\r\nCache-Control: no-cache\r\nConnection: ";
  r += m_connection.empty() ? "close" : m_connection;
  r += "\r\n";
  if (postLength >= 1) r += "Content-Length: " + std::to_string(postLength) + "\r\n";
  r += "\r\n";
  if (postLength > 0) r += postData;
  return r;
}

bool CMyHttp::ReadHeader(platform::Socket s, Reply& reply) {
  std::string buffer;
  buffer.reserve(kHeaderBuffer);
  char piece[kHeaderPiece];
  for (;;) {
    const long n = platform::Recv(s, piece, sizeof piece, m_tunables.receiveIdleTimeoutMs,
                                  &m_stop);
    if (n <= 0) return false;
    if (buffer.size() + static_cast<std::size_t>(n) > kHeaderBuffer - 1) return false;
    const std::size_t searchFrom = buffer.size() < 3 ? 0 : buffer.size() - 3;
    buffer.append(piece, static_cast<std::size_t>(n));
    const std::size_t end = buffer.find("\r\n\r\n", searchFrom);
    if (end != std::string::npos) {
      reply.head = ParseResponseHead(std::string_view(buffer).substr(0, end + 4));
      reply.firstPart.assign(buffer, end + 4, std::string::npos);
      return true;
    }
  }
}

CMyHttp::AttemptResult CMyHttp::RunAttempts(std::string_view url, std::string_view postData,
                                            int postLength, std::string_view referer,
                                            Reply& reply) {
  std::string current(url);
  std::string currentReferer(referer);
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    const UrlParts target = SplitUrl(current);
    reply.socket.Reset(Connect(target));
    if (reply.socket.get() == platform::kInvalidSocket) return AttemptResult::ConnectFailed;
    const std::string request = BuildRequest(target, postData, postLength, currentReferer);
    reply.usedRange = m_resumeOffset > 0;
    if (platform::SendAll(reply.socket.get(), request, m_tunables.receiveIdleTimeoutMs,
                          &m_stop) < 1) {
      reply.socket.Reset();
      return AttemptResult::SendFailed;
    }
    reply.head = ResponseHead();
    reply.firstPart.clear();
    ReadHeader(reply.socket.get(), reply);  // without a header the status stays 0
    if (reply.head.setCookie.size() >= kMinCookieLength) m_cookie = reply.head.setCookie;
    if (reply.head.location.empty() || reply.head.status == 200) return AttemptResult::Answered;
    currentReferer = current;
    current = reply.head.location;
    reply.socket.Reset();
  }
  return AttemptResult::TooManyRedirects;
}

CMyHttp::BodyEnd CMyHttp::ReadBodyToMemory(platform::Socket s, std::string& body,
                                           std::size_t complete) {
  std::vector<char> piece(static_cast<std::size_t>(m_tunables.bodyPieceSize));
  for (;;) {
    const long n = platform::Recv(s, piece.data(), piece.size(),
                                  m_tunables.receiveIdleTimeoutMs, &m_stop);
    if (n == platform::kRecvTimeout) {
      // A server that keeps the connection open after the whole announced body has sent it all.
      return complete > 0 && body.size() >= complete ? BodyEnd::Closed : BodyEnd::Failed;
    }
    if (n == platform::kRecvStopped) return BodyEnd::Stopped;
    if (n <= 0) return BodyEnd::Closed;
    body.append(piece.data(), static_cast<std::size_t>(n));
    if (Stopped()) return BodyEnd::Stopped;
  }
}

namespace {

std::size_t ContentLengthOf(const ResponseHead& head) {
  return head.contentLength > 0 ? static_cast<std::size_t>(head.contentLength) : 0;
}

}  // namespace

int CMyHttp::Request(std::string_view url, std::string_view postData, int postLength,
                     std::string_view referer, std::string& response) {
  Reply reply;
  switch (RunAttempts(url, postData, postLength, referer, reply)) {
    case AttemptResult::ConnectFailed: return HTTP_ERR_CONNECT;
    case AttemptResult::SendFailed: return HTTP_ERR_SEND;
    case AttemptResult::TooManyRedirects: return HTTP_ERR_STATUS;
    case AttemptResult::Answered: break;
  }
  if (reply.head.status != 200) return HTTP_ERR_STATUS;
  std::string body = std::move(reply.firstPart);
  // A reply cut off by the idle time-out or a stop is not a body.
  if (ReadBodyToMemory(reply.socket.get(), body, ContentLengthOf(reply.head)) != BodyEnd::Closed) {
    return HTTP_ERR_CONNECT;
  }
  reply.socket.Reset();
  if (IsChunked(reply.head.transferEncoding)) DecodeChunked(body);
  response = std::move(body);
  return HTTP_OK;
}

int CMyHttp::Download(std::string_view url, std::string_view postData, int postLength,
                      std::string_view referer, std::string_view filePath) {
  Reply reply;
  if (RunAttempts(url, postData, postLength, referer, reply) != AttemptResult::Answered) {
    return HTTP_ERR_CONNECT;
  }
  const int status = reply.head.status;
  if (status != 200 && status != 206) return HTTP_ERR_CONNECT;
  const platform::Socket s = reply.socket.get();

  if (IsChunked(reply.head.transferEncoding)) {
    std::string body = std::move(reply.firstPart);
    if (ReadBodyToMemory(s, body, 0) != BodyEnd::Closed) return HTTP_ERR_CONNECT;
    reply.socket.Reset();
    // A chunked body that breaks off is not a complete file.
    if (DecodeChunked(body).status == ChunkedStatus::Truncated) return HTTP_ERR_CONNECT;
    // A chunked 206 carries only the rest of the file: it goes after the bytes already there.
    const bool append = status == 206 && reply.usedRange;
    File file(platform::fs::OpenFile(filePath, append ? "ab" : "wb"));
    if (!file) return HTTP_ERR_CONNECT;
    const bool written = WriteAll(file.get(), body.data(), body.size());
    return CloseFile(file) && written ? HTTP_OK : HTTP_ERR_CONNECT;
  }

  // A server that ignores Range sends the whole file with 200: it then replaces the partial
  // file, which would otherwise hold its first bytes twice.
  long long offset = m_resumeOffset > 0 ? m_resumeOffset : 0;
  if (reply.usedRange && status == 200) offset = 0;
  File file(platform::fs::OpenFile(filePath, offset > 0 ? "ab" : "wb"));
  if (!file) return HTTP_ERR_CONNECT;
  bool failed = !WriteAll(file.get(), reply.firstPart.data(), reply.firstPart.size());
  long long received = static_cast<long long>(reply.firstPart.size());
  const long long total = offset + reply.head.contentLength;

  std::vector<char> piece(static_cast<std::size_t>(m_tunables.bodyPieceSize));
  const auto start = Clock::now();
  const auto progressFrom = start + std::chrono::milliseconds(m_tunables.progressDelayMs);
  bool reporting = false;
  while (!failed) {
    const long n = platform::Recv(s, piece.data(), piece.size(),
                                  m_tunables.receiveIdleTimeoutMs, &m_stop);
    if (n == platform::kRecvTimeout &&
        !(reply.head.contentLength > 0 && received >= reply.head.contentLength)) {
      failed = true;
      break;
    }
    if (n == platform::kRecvStopped) {
      failed = true;
      break;
    }
    if (n <= 0) break;
    if (!WriteAll(file.get(), piece.data(), static_cast<std::size_t>(n))) {
      failed = true;
      break;
    }
    received += n;
    if (Stopped()) {
      failed = true;
      break;
    }
    if (m_progress) {
      if (!reporting) reporting = Clock::now() > progressFrom;
      if (reporting) m_progress(m_user, ClampToInt(offset + received), ClampToInt(total));
    }
  }
  reply.socket.Reset();
  if (!CloseFile(file) || failed) return HTTP_ERR_CONNECT;
  if (reply.head.contentLength != 0 && received != reply.head.contentLength) {
    return HTTP_ERR_CONNECT;
  }
  return HTTP_OK;
}

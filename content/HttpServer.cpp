#include "content/HttpServer.h"

#include "content/MyMemFile.h"
#include "platform/fs.h"
#include "platform/shell.h"
#include "platform/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <filesystem>

namespace lsn = platform::listen;
namespace fs = platform::fs;

namespace {

constexpr char kServerHeader[] = "DOVOvuvErezid/1.0";
constexpr char kDefaultDocuments[] = "default.html\ndefault.htm\nindex.html\nindex.htm";
constexpr char kDefaultApplications[] = "default.exe\ndefault.bat";
constexpr char kBlankIcon[] =
    "<img src=/SvrAdmin/Blank.gif align=bottom alt=      border=0 width=16 height=16>";
constexpr char kPrevIcon[] =
    "<img src=/SvrAdmin/Prev.gif align=bottom alt=      border=0 width=16 height=16>";
constexpr char kFolderIcon[] =
    "<img src=/SvrAdmin/Folder.gif align=bottom alt=      border=0 width=16 height=16>";
constexpr char kFileIcon[] =
    "<img src=/SvrAdmin/File.gif align=bottom alt=      border=0 width=16 height=16>";
constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}
std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Days since 1970-01-01 of a civil date (any month and day, carried over).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

// A number read digit by digit from a fixed field after its leading blanks.
int Field(std::string_view text, std::size_t at, std::size_t length) {
  if (at >= text.size()) return 0;
  std::string_view f = TrimLeft(text.substr(at, length));
  int v = 0;
  for (char c : f) {
    if (c < '0' || c > '9') break;
    v = v * 10 + (c - '0');
  }
  return v;
}

int MonthField(std::string_view text, std::size_t at) {
  if (at >= text.size()) return 0;
  const std::string_view f = text.substr(at, 3);
  for (int i = 0; i < 12; ++i) {
    if (platform::EqualsNoCaseAscii(f, kMonths[i])) return i + 1;
  }
  return 0;
}

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
  char buf[1024];
  va_list args;
  va_start(args, fmt);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  if (n < 0) return std::string();
  return std::string(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1));
}

// Folds a text to an in-place normalised full path with `sep` between its parts.
bool NormalisePath(std::string_view full, char sep, std::string& out) {
  std::string s(full);
  for (char& c : s) {
    if (c == '/' || c == '\\') c = sep;
  }
  std::string head;
  std::size_t pos = 0;
  if (s.size() >= 2 && s[1] == ':') {  // a drive ("x:") is the top that ".." cannot leave
    head = s.substr(0, 2);
    pos = 2;
  } else if (s.empty() || s[0] != sep) {
    return false;  // only full paths are formed here
  }
  const bool trailing = !s.empty() && s.back() == sep;
  std::vector<std::string_view> parts;
  const std::string_view view(s);
  while (pos < view.size()) {
    std::size_t end = view.find(sep, pos);
    if (end == std::string_view::npos) end = view.size();
    const std::string_view part = view.substr(pos, end - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = end + 1;
  }
  out = head;
  out.push_back(sep);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out.push_back(sep);
    out.append(parts[i]);
  }
  if (trailing && !parts.empty()) out.push_back(sep);
  return true;
}

bool ReadFileChunk(std::FILE* f, char* out, std::size_t size, std::size_t* got) {
  *got = std::fread(out, 1, size, f);
  return *got > 0;
}

}  // namespace

std::string DecodeUrl(std::string_view url) {
  std::string out;
  out.reserve(url.size());
  for (std::size_t i = 0; i < url.size();) {
    if (url[i] == '%' && i + 1 < url.size() && url[i + 1] == '%') {
      out.push_back('%');
      i += 2;
    } else if (url[i] == '%' && i + 2 < url.size() && HexValue(url[i + 1]) >= 0 &&
               HexValue(url[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(url[i + 1]) * 16 + HexValue(url[i + 2])));
      i += 3;
    } else {
      out.push_back(url[i]);
      ++i;
    }
  }
  return out;
}

std::string FormatHttpDate(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  const int weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  return Format("%s, %02u %s %04d %02d:%02d:%02d GMT", kDays[weekday], d, kMonths[m - 1], y,
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
}

std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
  if (text.size() < 4) return std::nullopt;
  int day, month, year, hour, minute, second;
  if (text[3] == ' ') {  // asctime: Sun Nov  6 08:49:37 1994
    day = Field(text, 8, 2);
    month = MonthField(text, 4);
    year = Field(text, 20, 4);
    hour = Field(text, 11, 2);
    minute = Field(text, 14, 2);
    second = Field(text, 17, 2);
  } else if (text[3] == ',') {  // RFC 1123: Sun, 06 Nov 1994 08:49:37 GMT
    day = Field(text, 5, 2);
    month = MonthField(text, 8);
    year = Field(text, 12, 4);
    hour = Field(text, 17, 2);
    minute = Field(text, 20, 2);
    second = Field(text, 23, 2);
  } else {  // RFC 850: Sunday, 06-Nov-94 08:49:37 GMT
    const std::size_t i = text.find(", ");
    if (i == std::string_view::npos) return std::nullopt;
    day = Field(text, i + 2, 2);
    month = MonthField(text, i + 5);
    year = Field(text, i + 9, 2);
    year += year < 51 ? 2000 : 1900;
    hour = Field(text, i + 12, 2);
    minute = Field(text, i + 15, 2);
    second = Field(text, i + 18, 2);
  }
  if (year == 0 || month == 0) return std::nullopt;
  const std::int64_t t = DaysFromCivil(year, static_cast<unsigned>(month),
                                       static_cast<unsigned>(day)) * 86400 +
                         static_cast<std::int64_t>(hour) * 3600 + minute * 60 + second;
  // Impossible fields carry over into the next unit; such a date is no date.
  if ((t / 60) % 60 != minute) return std::nullopt;
  return t;
}

bool UrlToPath(std::string_view root, char separator, std::string_view url, std::string& path,
               bool& inside) {
  inside = false;
  path.clear();
  if (url.find('\0') != std::string_view::npos) return false;  // no name holds a zero byte
  std::string full(root);
  full.append(url);
  if (!NormalisePath(full, separator, path) || path.size() > fs::kMaxPath) {
    path.clear();
    return false;
  }
  inside = path == root ||
           (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
            path[root.size()] == separator) ||
           (root.size() == 1 && root[0] == separator);  // "/" holds everything
  return true;
}

// ---------------------------------------------------------------------------------------------

CServerContext CServerContext::Make(const ServerSettings& settings, CMyMemFile* store) {
  CServerContext c;
  c.settings = settings;
  c.store = store;
  c.port = settings.port;
  c.rootKind = settings.rootKind;
  c.listingAllowed = settings.listingAllowed;
  c.listingIcons = settings.listingIcons;
  c.serverName = lsn::HostName();
  if (c.serverName.empty()) c.serverName = "LOCALHOST";
  c.separator = settings.rootKind == RootKind::Disk ? fs::kSeparator : '\\';
  const std::string root = settings.documentRoot.empty() ? std::string(kMemoryFilePrefix)
                                                         : settings.documentRoot;
  std::string normalised;
  if (!NormalisePath(root, c.separator, normalised)) normalised = root;
  while (normalised.size() > 1 && normalised.back() == c.separator) normalised.pop_back();
  c.documentRoot = normalised;
  c.htmContentType = platform::shell::GetContentType(".htm");
  if (c.rootKind == RootKind::Disk) {
    std::error_code ec;
    c.resolvedRoot = std::filesystem::weakly_canonical(fs::ToNative(c.documentRoot), ec).string();
  }
  return c;
}

std::string CRequest::GetHeader(std::string_view name) const {
  const auto it = headers.find(platform::ToLowerAscii(name));
  return it == headers.end() ? std::string() : it->second;
}

bool CRequest::HasHeader(std::string_view name) const {
  return headers.find(platform::ToLowerAscii(name)) != headers.end();
}

// ---------------------------------------------------------------------------------------------

CRequestSocket::CRequestSocket(CServerContext& context, lsn::SocketHandle socket,
                               std::unique_ptr<char[]> buffer, std::size_t capacity)
    : m_context(context), m_socket(socket), m_buffer(std::move(buffer)), m_capacity(capacity) {
  if (!m_buffer) {
    m_capacity = context.settings.bufferPreset;
    m_buffer.reset(new char[m_capacity]);
  }
}

CRequestSocket::~CRequestSocket() {
  CloseFile();
  if (m_request) m_request->done = true;
  if (m_socket != lsn::kInvalidSocket) lsn::Close(m_socket);
}

void CRequestSocket::SetPeer(std::string host, int port) {
  m_peerHost = std::move(host);
  m_peerPort = port;
}

std::unique_ptr<char[]> CRequestSocket::TakeBuffer(std::size_t* capacity) {
  *capacity = m_capacity;
  m_capacity = 0;
  m_outputCount = 0;
  return std::move(m_buffer);
}

std::string_view CRequestSocket::PendingOutput() const {
  return std::string_view(m_buffer.get() + m_sendOffset, m_outputCount - m_sendOffset);
}

void CRequestSocket::EnsureRequest() {
  if (m_request) return;
  m_request = std::make_unique<CRequest>();
  m_request->peerHost = m_peerHost;
  m_request->peerPort = m_peerPort;
  m_request->requestTime = std::time(nullptr);
}

SocketStep CRequestSocket::OnReceive() {
  EnsureRequest();
  if (m_state == RequestState::Done) return SocketStep::WaitWrite;
  const long n = lsn::Receive(m_socket, m_buffer.get(), m_capacity);
  if (n == lsn::kWouldBlock) return SocketStep::WaitRead;
  if (n == lsn::kFailed || n == 0) {
    OnClose();
    return SocketStep::Close;
  }
  if (!ProcessReceived(m_buffer.get(), static_cast<std::size_t>(n))) return SocketStep::Close;
  if (m_state != RequestState::Done) return SocketStep::WaitRead;
  // The reply is built from empty in the same buffer; data after the request is never read.
  m_outputCount = 0;
  m_sendOffset = 0;
  BuildResponse();
  return OnSend();
}

SocketStep CRequestSocket::OnSend() {
  for (;;) {
    if (m_sendOffset < m_outputCount) {
      const long n = lsn::Send(m_socket, m_buffer.get() + m_sendOffset,
                               m_outputCount - m_sendOffset);
      if (n == lsn::kWouldBlock) return SocketStep::WaitWrite;
      if (n == lsn::kFailed) {
        m_killed = true;
        return SocketStep::Close;
      }
      m_sendOffset += static_cast<std::size_t>(n);
      if (m_request) m_request->bytesSent += static_cast<std::uint64_t>(n);
      continue;
    }
    m_sendOffset = 0;
    m_outputCount = 0;
    if (!m_file) break;
    std::size_t got = 0;
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(m_capacity, m_fileLeft));
    if (want && ReadFileChunk(m_file, m_buffer.get(), want, &got)) {
      m_outputCount = got;
      m_fileLeft -= got;
    } else {
      CloseFile();
    }
  }
  m_killed = true;
  return SocketStep::Finish;
}

void CRequestSocket::OnClose() { m_killed = true; }

bool CRequestSocket::ProcessReceived(const char* data, std::size_t count) {
  EnsureRequest();
  std::size_t index = 0;
  if (m_state == RequestState::Request || m_state == RequestState::Header) {
    while (index < count) {
      const std::size_t before = index;
      const bool ended = GetLine(data, count, index);
      m_headerBytes += index - before;
      if (m_headerBytes > m_context.settings.maxHeaderBytes) return false;
      if (!ended) break;
      if (!m_currentLine.empty()) {
        ProcessLine();
        continue;
      }
      m_state = RequestState::Body;
      break;
    }
    if (m_state == RequestState::Body) {
      if (HasDeclaredBody()) {
        if (m_request->bodyLength > m_context.settings.maxBodyBytes) return false;
        AddToBody(data, count, index);
      } else {
        m_state = RequestState::Done;
        m_beyondRequest = index < count;
      }
    }
  } else if (m_state == RequestState::Body) {
    AddToBody(data, count, 0);
  }
  return true;
}

bool CRequestSocket::GetLine(const char* data, std::size_t count, std::size_t& index) {
  while (index < count) {
    const char c = data[index++];
    if (c == '\n') return true;
    if (c != '\r') m_currentLine.push_back(c);
  }
  return false;
}

void CRequestSocket::ProcessLine() {
  CRequest& r = *m_request;
  const std::string_view line(m_currentLine);
  if (m_state == RequestState::Request) {
    const std::size_t space = line.find(' ');
    if (space != std::string_view::npos) {
      r.method = std::string(line.substr(0, space));
      const std::string_view rest = TrimLeft(line.substr(space + 1));
      const std::size_t second = rest.find(' ');
      std::string url;
      if (second != std::string_view::npos) {
        url = std::string(rest.substr(0, second));
        r.version = std::string(TrimLeft(rest.substr(second + 1)));
      } else {
        url = std::string(TrimRight(rest));
      }
      const std::size_t q = url.find('?');
      if (q != std::string::npos) {
        r.arguments = url.substr(q + 1);
        url.resize(q);
        r.executeKind = 1;
      }
      r.url = DecodeUrl(url);
    }
    m_state = RequestState::Header;
  } else if (m_state == RequestState::Header) {
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
      r.headers[platform::ToLowerAscii(line.substr(0, colon))] = std::string(TrimLeft(line.substr(colon + 1)));
    }
  }
  m_currentLine.clear();
}

bool CRequestSocket::HasDeclaredBody() {
  const std::string value = m_request->GetHeader("Content-Length");
  if (value.empty()) return false;
  std::string_view v = TrimLeft(value);
  bool negative = false;
  if (!v.empty() && (v.front() == '+' || v.front() == '-')) {
    negative = v.front() == '-';
    v.remove_prefix(1);
  }
  long long n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') break;
    n = std::min<long long>(n * 10 + (c - '0'), 1LL << 40);
  }
  m_request->bodyLength = negative ? -n : n;
  return true;
}

void CRequestSocket::AddToBody(const char* data, std::size_t count, std::size_t index) {
  CRequest& r = *m_request;
  if (index < count) r.body.append(data + index, count - index);
  const auto wanted = static_cast<std::size_t>(std::max<long long>(r.bodyLength, 0));
  if (r.body.size() >= wanted) {
    m_beyondRequest = r.body.size() > wanted;
    r.body.resize(wanted);
    m_state = RequestState::Done;
  }
}

// ---------------------------------------------------------------------------------------------
// Reply helpers.

char* CRequestSocket::Reserve(std::size_t n) {
  if (m_outputCount + n > m_capacity) {
    const std::size_t grown = m_outputCount + (n / 1024) * 1024 + 1024;
    std::unique_ptr<char[]> bigger(new char[grown]);
    if (m_outputCount) std::memcpy(bigger.get(), m_buffer.get(), m_outputCount);
    m_buffer = std::move(bigger);
    m_capacity = grown;
  }
  return m_buffer.get() + m_outputCount;
}

void CRequestSocket::AddBytes(const char* data, std::size_t size) {
  if (!size) return;
  std::memcpy(Reserve(size), data, size);
  m_outputCount += size;
}

void CRequestSocket::AddText(std::string_view text) { AddBytes(text.data(), text.size()); }

void CRequestSocket::StartResponse(std::string_view status) {
  AddText("HTTP/1.0 ");
  AddText(status);
  AddText("\r\n");
  AddHeader("Server", kServerHeader);
  // One date text per second is enough for every reply of that second.
  thread_local std::time_t cachedSecond = -1;
  thread_local std::string cachedDate;
  const std::time_t now = std::time(nullptr);
  if (now != cachedSecond) {
    cachedSecond = now;
    cachedDate = FormatHttpDate(static_cast<std::int64_t>(now));
  }
  AddHeader("Date", cachedDate);
}

void CRequestSocket::AddHeader(std::string_view name, std::string_view text) {
  AddText(name);
  AddText(": ");
  AddText(text);
  AddText("\r\n");
}

void CRequestSocket::AddHeader(std::string_view name, long long number) {
  AddHeader(name, std::to_string(number));
}

void CRequestSocket::AddError(std::string_view status) {
  StartResponse(status);
  AddText("\r\n");
}

bool CRequestSocket::HandleOwnRequest() { return false; }

bool CRequestSocket::RunApplication() {
  AddError("501 Not Implemented");
  return false;
}

bool CRequestSocket::BuildResponse() {
  EnsureRequest();
  if (HandleOwnRequest()) return RunApplication();
  ApplyGeneralRules();
  return false;
}

// ---------------------------------------------------------------------------------------------
// The general rules over the document root.

void CRequestSocket::ApplyGeneralRules() {
  CRequest& r = *m_request;
  if (r.bodyLength == 0 && platform::EqualsNoCaseAscii(r.method, "GET")) {
    if (FindTarget()) return;
    if (r.executeKind != 0) {
      RunApplication();
    } else if (AddHeading()) {
      AddFirstContent();
    }
  } else if (r.bodyLength == 0 && m_state == RequestState::Done && platform::EqualsNoCaseAscii(r.method, "HEAD")) {
    if (FindTarget()) return;
    if (r.executeKind != 0) {
      RunApplication();
    } else {
      AddHeading();
      CloseFile();
    }
  } else if (r.bodyLength > 0 && m_state == RequestState::Done && platform::EqualsNoCaseAscii(r.method, "POST")) {
    r.executeKind = 1;
    if (!FindTarget()) RunApplication();
  } else {
    AddError("501 Not Implemented");
  }
}

bool CRequestSocket::FindTarget() {
  CRequest& r = *m_request;
  const char sep = m_context.separator;
  std::string path;
  bool inside = false;
  if (!UrlToPath(m_context.documentRoot, sep, r.url, path, inside) || !inside) {
    AddError("400 Bad Request");
    return true;
  }
  // The memory namespace is never a disk folder: nothing there is found on the disk.
  const bool disk = m_context.rootKind == RootKind::Disk;
  auto kindOf = [&](const std::string& p) { return disk ? fs::GetKind(p) : fs::Kind::None; };
  fs::Kind kind = kindOf(path);
  if (kind == fs::Kind::None) {
    for (;;) {
      const std::size_t cut = path.rfind(sep);
      if (cut == std::string::npos || cut == 0) {
        path.clear();
        break;
      }
      path.resize(cut);
      kind = kindOf(path);
      if (kind == fs::Kind::Folder) {
        path.clear();
        break;
      }
      if (kind != fs::Kind::None) break;
    }
  }
  if (path.empty()) {
    AddError("404 Not Found");
    return true;
  }
  while (path.size() > 1 && path.back() == sep) path.pop_back();
  if (disk && !ResolvesInsideRoot(path)) {
    AddError("400 Bad Request");
    return true;
  }
  r.fullPath = path;
  r.found = true;
  r.isFolder = kind == fs::Kind::Folder;
  if (r.isFolder) {
    if (CheckDefault(kDefaultDocuments, false)) return true;
    if (CheckDefault(kDefaultApplications, true)) return true;
    return false;
  }
  if (r.executeKind != 0 && !IsServerApplication()) {
    AddError("400 Bad Request");
    return true;
  }
  return false;
}

bool CRequestSocket::ResolvesInsideRoot(const std::string& path) const {
  // A link below the root may point anywhere; what it resolves to must still be inside.
  const std::string& root = m_context.resolvedRoot;
  if (root.empty()) return false;
  std::error_code ec;
  const std::string real = std::filesystem::canonical(fs::ToNative(path), ec).string();
  if (ec) return false;
  return real == root || (real.size() > root.size() && real.compare(0, root.size(), root) == 0 &&
                          (real[root.size()] == '/' || root == "/"));
}

bool CRequestSocket::CheckDefault(std::string_view names, bool isApplication) {
  const std::string& full = m_request->fullPath;
  std::size_t start = 0;
  while (start <= names.size()) {
    std::size_t end = names.find('\n', start);
    if (end == std::string_view::npos) end = names.size();
    const std::string candidate =
        full + m_context.separator + std::string(names.substr(start, end - start));
    const fs::Kind kind = fs::GetKind(candidate);
    if (kind != fs::Kind::None && kind != fs::Kind::Folder) {
      std::string url = PathToUrl(candidate);
      if (isApplication) url += "?";
      StartResponse("302 Redirectio");
      AddHeader("Location", url);
      AddText("\r\n");
      return true;
    }
    start = end + 1;
  }
  return false;
}

std::string CRequestSocket::PathToUrl(std::string_view path) const {
  std::string p(path);
  std::replace(p.begin(), p.end(), '\\', '/');
  const std::string& root = m_context.documentRoot;
  std::string rest = p.size() > root.size() ? p.substr(root.size()) : std::string();
  if (rest.empty() || rest.front() != '/') rest.insert(rest.begin(), '/');
  std::string url = "http://" + m_context.serverName;
  if (m_context.port != 80) url += Format(":%d", m_context.port);
  return url + rest;
}

bool CRequestSocket::IsServerApplication() {
  const std::string& full = m_request->fullPath;
  const std::size_t dot = full.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = platform::ToLowerAscii(std::string_view(full).substr(dot + 1));
  if (ext == "srv") {
    m_request->executeKind = 2;
    return true;
  }
  if (ext == "dll") {
    m_request->executeKind = 4;
    return true;
  }
  return false;
}

bool CRequestSocket::AddHeading() {
  CRequest& r = *m_request;
  const std::string name = fs::NameOf(r.fullPath);
  const bool hidden = r.fullPath != m_context.documentRoot && !name.empty() && name[0] == '.';
  if (hidden) {
    AddError("403 Forbidden");
    return false;
  }
  if (r.isFolder) {
    if (m_context.listingAllowed) {
      StartResponse("200 OK");
      AddText("\r\n");
      return true;
    }
    AddError("403 Forbidden");
    return false;
  }
  CloseFile();
  m_file = fs::OpenFile(r.fullPath, "rb");
  if (!m_file) {
    AddError("503 Service Unavailable");
    return false;
  }
  const auto modified = fs::ModifiedTime(r.fullPath);
  const std::string since = r.GetHeader("If-Modified-Since");
  if (!since.empty() && modified) {
    const auto when = ParseHttpDate(since);
    if (when && *modified <= *when) {
      StartResponse("304 Not Modified");
      CloseFile();
      AddText("\r\n");
      return false;
    }
  }
  StartResponse("200 OK");
  AddContentType();
  m_fileLeft = fs::FileSize(r.fullPath).value_or(0);
  AddHeader("Content-length", static_cast<long long>(m_fileLeft));
  if (modified) AddHeader("Last-Modified", FormatHttpDate(*modified));
  AddText("\r\n");
  return true;
}

void CRequestSocket::AddFirstContent() {
  if (m_request->isFolder) {
    AddListing();
    return;
  }
  if (!m_file) return;
  std::size_t got = 0;
  const auto want = static_cast<std::size_t>(
      std::min<std::uint64_t>(m_capacity - std::min(m_capacity, m_outputCount), m_fileLeft));
  if (want && ReadFileChunk(m_file, m_buffer.get() + m_outputCount, want, &got)) {
    m_outputCount += got;
    m_fileLeft -= got;
  }
  // The whole file is read (its length as announced): nothing is left for OnSend.
  // The file read to its announced length, or failing: nothing is left for OnSend. With no room
  // left in the buffer the first chunk simply follows from OnSend.
  if (m_fileLeft == 0 || (want && !got)) CloseFile();
}

void CRequestSocket::AddContentType() {
  const std::string& full = m_request->fullPath;
  const std::size_t dot = full.rfind('.');
  if (dot == std::string::npos) return;
  const std::string type = platform::shell::GetContentType(std::string_view(full).substr(dot));
  if (!type.empty()) AddHeader("Content-type", type);
}

void CRequestSocket::AddListing() {
  CRequest& r = *m_request;
  std::string u = r.url;
  const std::string title = "http://" + m_context.serverName + u;
  if (u.empty() || u.back() != '/') u.push_back('/');
  const bool root = u == "/";
  const bool icons = m_context.listingIcons;
  AddText("<html><h1>" + title + "</h1><p>\n");
  if (root) {
    AddText(
        "The URL specified is a folder that does not contain a default document or "
        "application. The following is a listing of what documents and subfolders it does "
        "have; please select one:<p>\n");
  }
  AddText(Format("<pre> Last Modified       Size %sName\n<hr>\n", icons ? kBlankIcon : ""));
  int lines = 0;
  for (const fs::DirEntry& e : fs::ListFolder(r.fullPath)) {
    if (e.name == "." || e.name == ".." || e.hidden) continue;
    const bool folder = e.kind == fs::Kind::Folder;
    char when[32] = "";
    const std::time_t t = static_cast<std::time_t>(e.modified);
    std::tm local{};
    if (localtime_r(&t, &local)) std::strftime(when, sizeof when, "%m/%d/%y %H:%M", &local);
    std::string size;
    if (folder) {
      size = "  Folder";
    } else if (e.size > 0xFFFFFFFFull) {
      size = "   &gt; 4GB";
    } else if (e.size > 1023) {
      size = Format("%7dK", static_cast<int>(e.size / 1024));
    } else {
      size = "    &lt; 1K";
    }
    std::string link = u;
    for (char c : e.name) {
      if (c == ' ') {
        link += "%20";
      } else {
        link.push_back(c);
      }
    }
    const char* icon = icons ? (folder ? kFolderIcon : kFileIcon) : "";
    AddText(" ");
    AddText(Format("%-15s", when));
    AddText(" " + size + " <a href=" + link + ">" + icon + e.name + "</a>\n");
    ++lines;
  }
  if (lines == 0) AddText("<strong>empty</strong>\n");
  AddText("</pre>\n");
  if (!root) {
    AddText(Format("<hr><h3><a href=.>%s Parent Folder</a></h3>\n", icons ? kPrevIcon : ""));
  }
  AddText(
      "<hr><em>Do your part to beautify the web! Turn <strong>off</strong> link "
      "underlining!</em>\n\r\n");
}

void CRequestSocket::CloseFile() {
  if (m_file) {
    std::fclose(m_file);
    m_file = nullptr;
  }
}

// ---------------------------------------------------------------------------------------------

bool CMyRequestSocket::HandleOwnRequest() {
  const CRequest& r = *request();
  const std::string lower = platform::ToLowerAscii(r.url);
  if (lower == "/test_http/") {
    StartResponse("200 OK");
    AddText("\r\n");
    AddText(platform::ConvertCodePage("<HTTP_OK>", 936, platform::kCodePageUtf8));
    return true;
  }
  CMyMemFile* store = m_context.store;
  if (!store) return false;
  static const std::string root(kMemoryFilePrefix, std::strlen(kMemoryFilePrefix) - 1);
  std::string path;
  bool inside = false;
  if (!UrlToPath(root, '\\', r.url, path, inside)) return false;
  return store->WithFile(WidenBytes(path), [&](const MemFileEntry& e) {
    StartResponse("200 OK");
    AddHeader("Content-type", m_context.htmContentType);
    AddHeader("Content-length", static_cast<long long>(e.size));
    AddText("\r\n");
    // The whole file in one copy; the buffer grows once when the preset does not hold it.
    char* at = Reserve((e.size / 1024 + 1) * 1024);
    if (e.size) std::memcpy(at, e.data, e.size);
    Advance(e.size);
  });
}

bool CMyRequestSocket::RunApplication() { return false; }

// ---------------------------------------------------------------------------------------------

CListenSocket::~CListenSocket() {
  if (m_handle != lsn::kInvalidSocket) lsn::Close(m_handle);
}

bool CListenSocket::Listen(int* error) {
  m_handle = lsn::ListenLoopback(m_context.port, m_context.settings.backlog, error);
  if (m_handle == lsn::kInvalidSocket) return false;
  m_context.port = lsn::LocalPort(m_handle);
  return true;
}

std::unique_ptr<CRequestSocket> CListenSocket::OnAccept(std::unique_ptr<char[]> buffer,
                                                        std::size_t capacity) {
  std::string host;
  int port = 0;
  const lsn::SocketHandle s = lsn::Accept(m_handle, &host, &port);
  if (s == lsn::kInvalidSocket) return nullptr;
  auto socket = std::make_unique<CMyRequestSocket>(m_context, s, std::move(buffer), capacity);
  socket->SetPeer(std::move(host), port);
  return socket;
}

// ---------------------------------------------------------------------------------------------

struct CHttpServer::Connection {
  std::unique_ptr<CRequestSocket> socket;
  std::list<Connection*>::iterator place;
  std::chrono::steady_clock::time_point lastActivity;
  unsigned waiting = 0;  // what the loop waits for; 0 while not registered with it
};

CHttpServer::CHttpServer(CMyMemFile& store, const ServerSettings& settings)
    : m_store(store), m_context(CServerContext::Make(settings, &store)) {}

CHttpServer::~CHttpServer() {
  for (Connection* c : m_byActivity) {
    if (c->waiting) m_poller.Remove(c->socket->socket());
    delete c;
  }
  m_byActivity.clear();
}

void CHttpServer::Stop() {
  m_stop = true;
  m_poller.Wake();
}

void CHttpServer::Run() {
  m_listen = std::make_unique<CListenSocket>(m_context);
  int error = 0;
  bool ok = m_poller.ok() && m_listen->Listen(&error);
  if (ok && !m_poller.Add(m_listen->handle(), lsn::kReadable, m_listen.get())) ok = false;
  if (!ok) {
    // Kept for a look in the debugger; the program shows nothing when it cannot listen.
    const std::string inUse = platform::Utf8ToSystem(
        "端口%d已经被占用！\n请确认是否运行着其它绑定此端口的应用程序。");
    const std::string other =
        "Can't listen on port %d!\nMake sure the TCP/IP transport is set up correctly and that "
        "no other applications are already listening on that port.";
    const std::string& pattern = error == lsn::kErrorAddressInUse ? inUse : other;
    const std::size_t at = pattern.find("%d");
    m_listenError = pattern.substr(0, at) + std::to_string(m_context.port) + pattern.substr(at + 2);
    m_listen.reset();
  }
  m_context.listening = ok;
  m_store.ReportServerState(ok ? ServerState::Listening : ServerState::ListenFailed,
                            ok ? m_context.port : 0);
  if (!ok) return;

  std::vector<lsn::Ready> ready;
  while (!m_stop) {
    m_poller.Wait(ready, NextTimeout());
    for (const lsn::Ready& r : ready) {
      if (r.tag == nullptr) continue;  // a wake-up
      if (r.tag == m_listen.get()) {
        AcceptAll();
      } else {
        Handle(static_cast<Connection*>(r.tag), r.events);
      }
    }
    ExpireIdle();
  }
}

void CHttpServer::AcceptAll() {
  for (int i = 0; i < 256; ++i) {
    std::unique_ptr<char[]> buffer;
    std::size_t capacity = 0;
    if (!m_pool.empty()) {
      buffer = std::move(m_pool.back().first);
      capacity = m_pool.back().second;
      m_poolBytes -= capacity;
      m_pool.pop_back();
    }
    std::unique_ptr<CRequestSocket> s = m_listen->OnAccept(std::move(buffer), capacity);
    if (!s) return;  // nothing pending any more (the buffer went with the object)
    auto* c = new Connection;
    c->socket = std::move(s);
    c->lastActivity = std::chrono::steady_clock::now();
    m_byActivity.push_back(c);
    c->place = std::prev(m_byActivity.end());
    // The request has usually arrived with the connection: read it at once, and wait in the
    // loop only for what is still missing.
    Apply(c, c->socket->OnReceive());
  }
}

void CHttpServer::Handle(Connection* c, unsigned events) {
  CRequestSocket& s = *c->socket;
  SocketStep step;
  if (c->waiting & lsn::kWritable) {
    if (events & (lsn::kHangup | lsn::kError)) {
      s.OnClose();  // the peer is gone while its reply waits for room
      step = SocketStep::Close;
    } else if (events & lsn::kWritable) {
      step = s.OnSend();
    } else {
      return;
    }
  } else {
    step = s.OnReceive();
  }
  Apply(c, step);
}

void CHttpServer::Apply(Connection* c, SocketStep step) {
  switch (step) {
    case SocketStep::WaitRead:
    case SocketStep::WaitWrite: {
      const unsigned want = step == SocketStep::WaitRead ? lsn::kReadable : lsn::kWritable;
      if (c->waiting == 0) {
        if (!m_poller.Add(c->socket->socket(), want, c)) {
          Drop(c, false);
          return;
        }
        c->waiting = want;
      } else if (want != c->waiting) {
        c->waiting = want;
        m_poller.Modify(c->socket->socket(), want, c);
      }
      Touch(c);
      return;
    }
    case SocketStep::Finish:
      Drop(c, true);
      return;
    case SocketStep::Close:
      Drop(c, false);
      return;
  }
}

void CHttpServer::Drop(Connection* c, bool graceful) {
  const lsn::SocketHandle s = c->socket->socket();
  if (c->waiting) m_poller.Remove(s);
  if (graceful && c->socket->sentBeyondRequest()) {
    // The client sent more than its request. What is still unread is discarded, so that closing
    // does not reset the connection under the reply.
    lsn::ShutdownSend(s);
    char scratch[4096];
    std::size_t drained = 0;
    while (drained < m_context.settings.maxDrainBytes) {
      const long n = lsn::Receive(s, scratch, sizeof scratch);
      if (n <= 0) break;
      drained += static_cast<std::size_t>(n);
    }
  }
  std::size_t capacity = 0;
  std::unique_ptr<char[]> buffer = c->socket->TakeBuffer(&capacity);
  // Buffers are kept for the next connections up to a bound in bytes; one that grew for a large
  // reply is kept as it is, so that the next such reply does not grow it again.
  const std::size_t limit = m_context.settings.bufferPoolLimit * m_context.settings.bufferPreset;
  if (buffer && capacity >= m_context.settings.bufferPreset && m_poolBytes + capacity <= limit) {
    m_poolBytes += capacity;
    m_pool.emplace_back(std::move(buffer), capacity);
  }
  m_byActivity.erase(c->place);
  delete c;  // closes the socket
}

void CHttpServer::Touch(Connection* c) {
  c->lastActivity = std::chrono::steady_clock::now();
  m_byActivity.splice(m_byActivity.end(), m_byActivity, c->place);
}

int CHttpServer::NextTimeout() {
  if (m_byActivity.empty()) return -1;
  const auto deadline = m_byActivity.front()->lastActivity + m_context.settings.idleTimeout;
  const auto now = std::chrono::steady_clock::now();
  if (deadline <= now) return 0;
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1);
}

void CHttpServer::ExpireIdle() {
  const auto now = std::chrono::steady_clock::now();
  while (!m_byActivity.empty()) {
    Connection* c = m_byActivity.front();
    if (c->lastActivity + m_context.settings.idleTimeout > now) break;
    c->socket->OnClose();
    Drop(c, false);
  }
}

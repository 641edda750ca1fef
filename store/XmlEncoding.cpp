#include "store/XmlEncoding.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/fs.h"
#include "platform/text.h"
#include "store/XmlDoc.h"
#include "store/XmlScanner.h"
#include "store/XmlTables.inc"

namespace {

using xmlscan::Node;
using xmlscan::NodeKind;
using xmlscan::Scanner;

struct ByteOrderMark {
  const char* bytes;
  std::size_t length;
  const char* encoding;
  std::uint32_t flag;
  std::size_t unit;
};

// Tried in this order when reading, and chosen in this order when writing.
constexpr ByteOrderMark kMarks[] = {
    {"\xEF\xBB\xBF", 3, "UTF-8", kXmlFlagUtf8Bom, 1},
    {"\xFF\xFE", 2, "UTF-16LE", kXmlFlagUtf16LE, 2},
    {"\xFE\xFF", 2, "UTF-16BE", kXmlFlagUtf16BE, 2},
};
constexpr std::uint32_t kMarkFlags = kXmlFlagUtf8Bom | kXmlFlagUtf16LE | kXmlFlagUtf16BE;
constexpr std::size_t kHeadLength = 1024;  // bytes searched for a declared encoding

// Code pages whose conversion cannot tell whether a default character was used.
bool CanReportLoss(int codePage) {
  switch (codePage) {
    case 50220: case 50221: case 50222: case 50225: case 50227: case 50229: case 52936:
    case 54936: case 65000: case 65001:
      return false;
    default:
      return !(codePage >= 57002 && codePage <= 57011);
  }
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

// "file_error" with the system's text for the error (its first line; empty when it does not
// fit 100 characters) and the error number.
void AddFileError(CXmlResultLog& log, int error) {
  std::string msg = std::strerror(error);
  const std::size_t cut = msg.find_first_of("\r\n");
  if (cut != std::string::npos) msg.resize(cut);
  if (msg.size() >= 100) msg.clear();
  log.AddEntry("file_error", "msg", msg, "n", error);
}

// The word after "charset" and "=" in a meta content value.
std::string CharsetOfContent(std::string_view content) {
  auto separator = [](unsigned char c) {
    return xmlscan::IsSpace(c) || c == '!' || c == '"' || c == '\'' || c == '/' || c == ';' ||
           c == '<' || c == '=' || c == '>' || c == '?' || c == '\\';
  };
  std::size_t i = 0;
  while (i < content.size()) {
    while (i < content.size() && separator(static_cast<unsigned char>(content[i]))) ++i;
    const std::size_t word = i;
    while (i < content.size() && !separator(static_cast<unsigned char>(content[i]))) ++i;
    if (!EqualsNoCase(content.substr(word, i - word), "charset")) continue;
    while (i < content.size() && xmlscan::IsSpace(static_cast<unsigned char>(content[i]))) ++i;
    if (i >= content.size() || content[i] != '=') continue;
    ++i;
    while (i < content.size() && separator(static_cast<unsigned char>(content[i]))) ++i;
    const std::size_t value = i;
    while (i < content.size() && !separator(static_cast<unsigned char>(content[i]))) ++i;
    return std::string(content.substr(value, i - value));
  }
  return std::string();
}

// A UTF-16 / UTF-32 name read from an 8-bit text cannot describe it.
bool IsWideName(int codePage) {
  return codePage == 1200 || codePage == 1201 || codePage == 12000 || codePage == 12001 ||
         codePage == kXmlCodePageUtf32;
}

}  // namespace

// ---- result log -------------------------------------------------------------------------------

void CXmlResultLog::Add(std::string_view word) { AddEntry(word, {}, {}, {}, 0); }

void CXmlResultLog::AddValue(std::string_view word, std::string_view valueName,
                             std::string_view value) {
  AddEntry(word, valueName, value, {}, 0);
}

void CXmlResultLog::AddNumber(std::string_view word, std::string_view numberName, long long n) {
  AddEntry(word, {}, {}, numberName, n);
}

void CXmlResultLog::AddEntry(std::string_view word, std::string_view valueName,
                             std::string_view value, std::string_view numberName, long long n,
                             bool withOffset2, long long offset2) {
  if (Full()) return;
  m_log += '<';
  m_log += word;
  if (!valueName.empty()) {
    m_log += ' ';
    m_log += valueName;
    m_log += "=\"";
    m_log += CXmlDoc::EscapeText(value, XmlQuotes::Escape);
    m_log += '"';
  }
  if (!numberName.empty()) {
    m_log += ' ';
    m_log += numberName;
    m_log += "=\"";
    m_log += std::to_string(n);
    m_log += '"';
  }
  if (withOffset2) {
    m_log += " offset2=\"";
    m_log += std::to_string(offset2);
    m_log += '"';
  }
  m_log += "/>";
}

void CXmlResultLog::SetOnFirst(std::string_view word, std::string_view name,
                               std::string_view value) {
  if (Full()) return;
  CXmlDoc entries(m_log);
  if (entries.FindElement(word)) {
    entries.SetAttribute(name, value);
    m_log = entries.GetDocText();
  } else {
    AddValue(word, name, value);
  }
}

// ---- names and conversions --------------------------------------------------------------------

int CXmlEncoding::CodePageOfName(std::string_view name) {
  if (name.empty()) return 0;
  if (name.substr(0, 6) == "UTF-32") return kXmlCodePageUtf32;
  if (name.size() >= 100) return kXmlCodePageUnknown;
  char lower[100];
  unsigned sum = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 'A' && c <= 'Z') c += 32;
    lower[i] = static_cast<char>(c);
    sum += c;
  }
  const char* p = kXmlCodePageBuckets[sum % kXmlCodePageBucketCount];
  while (*p) {
    const std::size_t len = static_cast<std::size_t>((p[0] - '0') * 10 + (p[1] - '0'));
    if (len == name.size() && std::memcmp(p + 7, lower, len) == 0) {
      int cp = 0;
      for (int k = 2; k < 7; ++k) cp = cp * 10 + (p[k] - '0');
      return cp;
    }
    p += 7 + len;
  }
  return kXmlCodePageUnknown;
}

bool CXmlEncoding::NeedsConversion(std::string_view from, std::string_view to) {
  const int a = CodePageOfName(from), b = CodePageOfName(to);
  if (a == kXmlCodePageUnknown || b == kXmlCodePageUnknown) return false;
  return platform::ResolveCodePage(a) != platform::ResolveCodePage(b);
}

bool CXmlEncoding::ConvertText(std::string_view in, std::string_view fromName,
                               std::string_view toName, std::string& out, bool* lossy) {
  if (lossy) *lossy = false;
  out.clear();
  const int from = CodePageOfName(fromName), to = CodePageOfName(toName);
  if (from == kXmlCodePageUnknown || to == kXmlCodePageUnknown || from == kXmlCodePageUtf32 ||
      to == kXmlCodePageUtf32) {
    return false;
  }
  std::u16string wide;
  if (!platform::MultiByteToWide(from, in, wide)) return false;
  bool usedDefault = false;
  const int target = platform::ResolveCodePage(to);
  if (!platform::WideToMultiByte(target, wide, out, &usedDefault)) return false;
  if (lossy) *lossy = CanReportLoss(target) && usedDefault;
  return true;
}

std::string CXmlEncoding::GetDeclaredEncoding(std::string_view text) {
  const Scanner scan(text, xmlscan::CurrentLeadTable());
  Node node;
  bool html = false;
  std::uint32_t pos = 0;
  while (pos < scan.size()) {
    scan.Next(pos, node);
    switch (node.kind) {
      case NodeKind::Bad:
        return std::string();
      case NodeKind::Instruction:
        if (node.start == 0 && node.end >= 7) {
          const std::uint32_t nameEnd = [&] {
            std::uint32_t i = 2;
            while (i < node.end - 2 && !xmlscan::IsSpace(scan.data()[i])) ++i;
            return i;
          }();
          if (scan.NameEquals(2, nameEnd, "xml", true)) {
            Scanner::Attr attr;
            if (scan.FindAttribute(nameEnd, node.end - 2, "encoding", true, attr) &&
                attr.hasValue) {
              return std::string(text.substr(attr.valueStart, attr.valueEnd - attr.valueStart));
            }
            return std::string();
          }
        }
        break;
      case NodeKind::StartTag: {
        const std::uint32_t nameEnd = std::min(node.nameEnd, node.end - 1);
        if (!html) {
          if (!scan.NameEquals(node.start + 1, nameEnd, "html", true)) return std::string();
          html = true;
          break;
        }
        if (!scan.NameEquals(node.start + 1, nameEnd, "meta", true)) break;
        Scanner::Attr attr;
        if (!scan.FindAttribute(nameEnd, node.end - 1, "http-equiv", true, attr) ||
            !attr.hasValue ||
            !EqualsNoCase(text.substr(attr.valueStart, attr.valueEnd - attr.valueStart),
                          "Content-Type")) {
          break;
        }
        if (!scan.FindAttribute(nameEnd, node.end - 1, "content", true, attr) || !attr.hasValue) {
          return std::string();
        }
        return CharsetOfContent(text.substr(attr.valueStart, attr.valueEnd - attr.valueStart));
      }
      case NodeKind::EndTag:
        if (html && scan.NameEquals(node.start + 2, node.nameEnd, "head", true)) {
          return std::string();
        }
        break;
      default:
        break;
    }
    pos = node.end;
  }
  return std::string();
}

// ---- codecs -----------------------------------------------------------------------------------

std::int32_t CXmlEncoding::DecodeUtf8(std::string_view text, std::size_t& pos) {
  if (pos >= text.size()) return -1;
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  int count;
  std::int32_t cp;
  if (!(lead & 0x20)) {
    count = 1;
    cp = lead & 0x1F;
  } else if (!(lead & 0x10)) {
    count = 2;
    cp = lead & 0x0F;
  } else if (!(lead & 0x08)) {
    count = 3;
    cp = lead & 0x07;
  } else {
    return -1;
  }
  if (text.size() - pos - 1 < static_cast<std::size_t>(count)) return -1;
  for (int k = 1; k <= count; ++k) {
    const auto c = static_cast<unsigned char>(text[pos + static_cast<std::size_t>(k)]);
    // A following byte must be a continuation byte (10xxxxxx): with only the top bit tested,
    // most GBK text would pass for UTF-8 and be garbled by the conversion.
    if ((c & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (c & 0x3F);
  }
  pos += static_cast<std::size_t>(count) + 1;
  return cp;
}

int CXmlEncoding::EncodeUtf16(std::uint32_t c, char16_t units[2]) {
  if (c <= 0xFFFF) {
    units[0] = static_cast<char16_t>(c);
    return 1;
  }
  units[0] = static_cast<char16_t>(0xD800 + (((c - 0x10000) >> 10) & 0x3FF));
  units[1] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  return 2;
}

bool CXmlEncoding::IsValidUtf8(std::string_view text, std::size_t* sequences) {
  std::size_t count = 0;
  std::size_t pos = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  bool ok = true;
  while (pos < text.size()) {
    if (p[pos] < 0x80) {
      ++pos;
      continue;
    }
    if (DecodeUtf8(text, pos) < 0) {
      ok = false;
      break;
    }
    ++count;
  }
  if (sequences) *sequences = count;
  return ok;
}

// ---- files ------------------------------------------------------------------------------------

bool CXmlEncoding::LoadFile(std::string_view path, std::string& text, std::string& logText,
                            std::uint32_t& flags, std::size_t logCap) {
  CXmlResultLog log(logText, logCap);
  text.clear();
  std::FILE* file = platform::fs::OpenFile(path, "rb");
  if (!file) {
    AddFileError(log, errno);
    return false;
  }
  std::string data;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long length = std::ftell(file);
    if (length > 0) data.reserve(static_cast<std::size_t>(length));
    std::rewind(file);
  }
  char buffer[65536];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    data.append(buffer, got);
    if (got < sizeof buffer) break;
  }
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) {
    AddFileError(log, error);
    return false;
  }

  // Only the byte-order-mark flags come from the file; a mark of an earlier file must not stay.
  flags &= ~kMarkFlags;
  std::string encoding;
  std::size_t unit = 1;
  std::size_t skip = 0;
  for (const ByteOrderMark& mark : kMarks) {
    if (data.size() >= mark.length && std::memcmp(data.data(), mark.bytes, mark.length) == 0) {
      encoding = mark.encoding;
      flags |= mark.flag;
      unit = mark.unit;
      skip = mark.length;
      log.Add("bom");
      break;
    }
  }
  if (!skip) {
    encoding = GetDeclaredEncoding(std::string_view(data).substr(0, kHeadLength));
    if (encoding.empty() && !data.empty() && data[0] == '<') encoding = "UTF-8";
  }
  const std::string_view body = std::string_view(data).substr(skip);
  log.AddEntry("read", "encoding", encoding, "length",
               static_cast<long long>(body.size() / unit));

  if (unit == 2) {
    std::u16string wide;
    wide.reserve(body.size() / 2);
    std::size_t nulls = 0;
    const bool bigEndian = (flags & kXmlFlagUtf16BE) != 0;
    for (std::size_t i = 0; i + 1 < body.size(); i += 2) {
      const auto a = static_cast<unsigned char>(body[i]), b = static_cast<unsigned char>(body[i + 1]);
      const char16_t u = bigEndian ? static_cast<char16_t>(a << 8 | b) : static_cast<char16_t>(b << 8 | a);
      if (u == 0) {
        ++nulls;
        continue;
      }
      wide.push_back(u);
    }
    if (nulls) log.AddNumber("nulls_removed", "count", static_cast<long long>(nulls));
    if (bigEndian) log.Add("endian_swap");
    bool usedDefault = false;
    platform::WideToMultiByte(platform::kCodePageSystem, wide, text, &usedDefault);
    log.AddEntry("converted_to", "encoding", "", "length", static_cast<long long>(text.size()));
    if (usedDefault && CanReportLoss(platform::GetSystemCodePage())) log.Add("conversion_loss");
    return true;
  }

  std::string bytes;
  if (std::memchr(body.data(), 0, body.size())) {
    bytes.reserve(body.size());
    std::size_t nulls = 0;
    for (char c : body) {
      if (c) {
        bytes.push_back(c);
      } else {
        ++nulls;
      }
    }
    log.AddNumber("nulls_removed", "count", static_cast<long long>(nulls));
  } else if (skip) {
    bytes.assign(body);
  } else {
    bytes = std::move(data);
  }

  const int codePage = CodePageOfName(encoding);
  const bool unknown = encoding.empty() || codePage == kXmlCodePageUnknown || IsWideName(codePage);
  if (!unknown && NeedsConversion(encoding, "")) {
    bool lossy = false;
    if (ConvertText(bytes, encoding, "", text, &lossy)) {
      log.AddEntry("converted_to", "encoding", "", "length", static_cast<long long>(text.size()));
      if (lossy) log.Add("conversion_loss");
    } else {
      // This system cannot convert from that encoding: the bytes are kept as they are.
      text = std::move(bytes);
      log.Add("conversion_loss");
    }
    return true;
  }
  if (unknown) {
    std::size_t sequences = 0;
    const bool utf8 = IsValidUtf8(bytes, &sequences);
    log.Add("utf8_detection");
    if (utf8) {
      log.SetOnFirst("read", "encoding", "UTF-8");
      if (sequences && NeedsConversion("UTF-8", "")) {
        bool lossy = false;
        if (ConvertText(bytes, "UTF-8", "", text, &lossy)) {
          log.AddEntry("converted_to", "encoding", "", "length",
                       static_cast<long long>(text.size()));
          if (lossy) log.Add("conversion_loss");
          return true;
        }
      }
    }
  }
  text = std::move(bytes);
  return true;
}

bool CXmlEncoding::SaveFile(std::string_view path, std::string_view text, std::string& logText,
                            std::uint32_t flags, unsigned mode, std::size_t logCap) {
  CXmlResultLog log(logText, logCap);
  std::string out;
  std::string encoding;
  std::size_t unit = 1;
  const ByteOrderMark* mark = nullptr;
  for (const ByteOrderMark& m : kMarks) {
    if (flags & m.flag) {
      mark = &m;
      break;
    }
  }
  if (mark) {
    out.assign(mark->bytes, mark->length);
    encoding = mark->encoding;
    unit = mark->unit;
    log.Add("bom");
  } else {
    encoding = GetDeclaredEncoding(text);
    if (encoding.empty() && !text.empty()) encoding = "UTF-8";
  }
  std::size_t units = 0;
  if (text.empty()) {
    // Nothing but the mark, if any.
  } else if (unit == 2) {
    std::u16string wide;
    platform::MultiByteToWide(platform::kCodePageSystem, text, wide);
    log.AddEntry("converted_from", "encoding", "", "length", static_cast<long long>(text.size()));
    const bool bigEndian = mark->flag == kXmlFlagUtf16BE;
    if (bigEndian) log.Add("endian_swap");
    out.reserve(out.size() + wide.size() * 2);
    for (char16_t u : wide) {
      const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
      out.push_back(bigEndian ? hi : lo);
      out.push_back(bigEndian ? lo : hi);
    }
    units = wide.size();
  } else {
    const int codePage = CodePageOfName(encoding);
    if (!IsWideName(codePage) && NeedsConversion("", encoding)) {
      std::string converted;
      bool lossy = false;
      if (ConvertText(text, "", encoding, converted, &lossy)) {
        log.AddEntry("converted_from", "encoding", "", "length",
                     static_cast<long long>(text.size()));
        if (lossy) log.Add("conversion_loss");
        out += converted;
        units = converted.size();
      } else {
        // This system cannot convert to that encoding: the text is written as it is.
        log.Add("conversion_loss");
        out.append(text);
        units = text.size();
      }
    } else {
      out.append(text);
      units = text.size();
    }
  }
  errno = 0;
  if (!platform::fs::ReplaceFile(path, out, mode)) {
    AddFileError(log, errno ? errno : EIO);
    return false;
  }
  log.AddEntry("write", "encoding", encoding, "length", static_cast<long long>(units));
  return true;
}

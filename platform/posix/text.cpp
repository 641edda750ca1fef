#include "platform/text.h"

#include <iconv.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <map>
#include <utility>

namespace platform {
namespace {

std::atomic<int> g_systemCodePage{kCodePageDefault};

struct CharsetEntry {
  int codePage;
  const char* charset;
};

// Every code page of the XML encoding-name table that glibc can convert, with the glibc name of
// the nearest charset. Code pages glibc lacks (720, 853, the Mac code pages other than Roman,
// Cyrillic, Ukrainian, Central European and Icelandic, HZ, ISCII, ...) are left out: text in them
// is taken as it stands.
constexpr CharsetEntry kCharsets[] = {
    {154, "PT154"},          {437, "IBM437"},        {708, "ASMO-708"},
    {737, "CP737"},          {775, "CP775"},         {850, "IBM850"},
    {852, "IBM852"},         {855, "IBM855"},        {857, "IBM857"},
    {858, "IBM858"},         {860, "IBM860"},        {861, "IBM861"},
    {862, "IBM862"},         {863, "IBM863"},        {864, "IBM864"},
    {865, "IBM865"},         {866, "IBM866"},        {869, "IBM869"},
    {874, "CP874"},          {932, "CP932"},         {936, "CP936"},
    {949, "CP949"},          {950, "CP950"},         {1125, "CP1125"},
    {1133, "CP1133"},        {1200, "UTF-16LE"},     {1201, "UTF-16BE"},
    {1250, "CP1250"},        {1251, "CP1251"},       {1252, "CP1252"},
    {1253, "CP1253"},        {1254, "CP1254"},       {1255, "CP1255"},
    {1256, "CP1256"},        {1257, "CP1257"},       {1258, "CP1258"},
    {1361, "JOHAB"},         {10000, "MACINTOSH"},   {10007, "MAC-CYRILLIC"},
    {10017, "MACUKRAINIAN"}, {10029, "MAC-CENTRALEUROPE"}, {10079, "MAC-IS"},
    {12000, "UTF-32LE"},     {12001, "UTF-32BE"},    {20000, "EUC-TW"},
    {20106, "ISO646-DE"},    {20107, "ISO646-SE"},   {20108, "ISO646-NO"},
    {20127, "ASCII"},        {20261, "T.61-8BIT"},   {20269, "ISO_6937"},
    {20866, "KOI8-R"},       {20932, "EUC-JP"},      {20936, "EUC-CN"},
    {20949, "EUC-KR"},       {21866, "KOI8-U"},      {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},   {28593, "ISO-8859-3"},  {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"},   {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},   {28599, "ISO-8859-9"},  {28603, "ISO-8859-13"},
    {28605, "ISO-8859-15"},  {38598, "ISO-8859-8"},  {50220, "ISO-2022-JP"},
    {50221, "ISO-2022-JP"},  {50222, "ISO-2022-JP"}, {50225, "ISO-2022-KR"},
    {50227, "ISO-2022-CN"},  {51932, "EUC-JP"},      {51936, "EUC-CN"},
    {51949, "EUC-KR"},       {54936, "GB18030"},     {65000, "UTF-7"},
    {65001, "UTF-8"},
};

// Code pages whose bytes below 0x80 are always ASCII characters on their own, so that runs of
// such bytes can be copied without asking iconv.
bool IsAsciiTransparent(int codePage) {
  switch (codePage) {
    case 1200: case 1201: case 12000: case 12001: case 20106: case 20107: case 20108:
    case 20261: case 50220: case 50221: case 50222: case 50225: case 50227: case 65000:
      return false;
    default:
      return true;
  }
}

// One iconv descriptor per direction and thread: iconv_open is slow and a descriptor keeps
// shift state, so it cannot be shared between threads.
class IconvCache {
 public:
  ~IconvCache() {
    for (auto& [key, cd] : m_open) iconv_close(cd);
  }
  iconv_t Get(const char* from, const char* to) {
    const auto key = std::make_pair(from, to);
    auto it = m_open.find(key);
    if (it != m_open.end()) {
      iconv(it->second, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
      return it->second;
    }
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return cd;
    m_open.emplace(key, cd);
    return cd;
  }

 private:
  std::map<std::pair<const char*, const char*>, iconv_t> m_open;
};

IconvCache& Cache() {
  thread_local IconvCache cache;
  return cache;
}

constexpr char kUtf16[] = "UTF-16LE";
constexpr char16_t kReplacement = 0xFFFD;

void AppendUtf16(std::u16string& out, std::uint32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + ((c >> 10) & 0x3FF)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

// Strict UTF-8 decoding, as the system decoder does: each invalid or cut sequence gives U+FFFD.
void Utf8ToWide(std::string_view in, std::u16string& out) {
  out.clear();
  out.reserve(in.size());
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const auto* end = p + in.size();
  while (p < end) {
    unsigned c = *p;
    if (c < 0x80) {
      out.push_back(static_cast<char16_t>(c));
      ++p;
      continue;
    }
    int len = 0;
    std::uint32_t cp = 0, min = 0;
    if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; min = 0x80; }
    else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; min = 0x800; }
    else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; min = 0x10000; }
    int i = 1;
    if (len) {
      for (; i < len && p + i < end && (p[i] & 0xC0) == 0x80; ++i) cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (!len || i < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(kReplacement);
      p += len && i > 1 ? i : 1;
      continue;
    }
    AppendUtf16(out, cp);
    p += len;
  }
}

void WideToUtf8(std::u16string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    std::uint32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

}  // namespace

int GetSystemCodePage() { return g_systemCodePage.load(std::memory_order_relaxed); }

void SetSystemCodePage(int codePage) {
  g_systemCodePage.store(codePage, std::memory_order_relaxed);
}

int ResolveCodePage(int codePage) {
  return codePage == kCodePageSystem ? GetSystemCodePage() : codePage;
}

bool IsLeadByteEx(int codePage, unsigned char b) {
  switch (ResolveCodePage(codePage)) {
    case 932:
      return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    case 936: case 949: case 950:
      return b >= 0x81 && b <= 0xFE;
    case 1361:
      return (b >= 0x84 && b <= 0xD3) || (b >= 0xD8 && b <= 0xDE) || (b >= 0xE0 && b <= 0xF9);
    default:
      return false;
  }
}

bool IsLeadByte(unsigned char b) { return IsLeadByteEx(GetSystemCodePage(), b); }

const char* CharsetOfCodePage(int codePage) {
  codePage = ResolveCodePage(codePage);
  for (const auto& entry : kCharsets) {
    if (entry.codePage == codePage) return entry.charset;
  }
  return nullptr;
}

bool IsCodePageSupported(int codePage) { return CharsetOfCodePage(codePage) != nullptr; }

bool MultiByteToWide(int codePage, std::string_view in, std::u16string& out) {
  out.clear();
  codePage = ResolveCodePage(codePage);
  if (codePage == kCodePageUtf8) {
    Utf8ToWide(in, out);
    return true;
  }
  const char* charset = CharsetOfCodePage(codePage);
  if (!charset) return false;
  iconv_t cd = Cache().Get(charset, kUtf16);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  const bool ascii = IsAsciiTransparent(codePage);
  out.reserve(in.size());
  std::size_t pos = 0;
  char16_t buffer[1024];
  while (pos < in.size()) {
    if (ascii) {
      while (pos < in.size() && static_cast<unsigned char>(in[pos]) < 0x80) {
        out.push_back(static_cast<char16_t>(in[pos++]));
      }
      if (pos == in.size()) break;
    }
    // Hand iconv the run up to the next ASCII byte (or all of it for stateful code pages).
    std::size_t runEnd = pos + 1;
    if (ascii) {
      while (runEnd < in.size() &&
             (static_cast<unsigned char>(in[runEnd]) >= 0x80 ||
              IsLeadByteEx(codePage, static_cast<unsigned char>(in[runEnd - 1])))) {
        ++runEnd;
      }
    } else {
      runEnd = in.size();
    }
    char* src = const_cast<char*>(in.data() + pos);
    std::size_t srcLeft = runEnd - pos;
    while (srcLeft > 0) {
      char* dst = reinterpret_cast<char*>(buffer);
      std::size_t dstLeft = sizeof buffer;
      const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
      out.append(buffer, (sizeof buffer - dstLeft) / sizeof(char16_t));
      if (r != static_cast<std::size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // An undecodable or cut sequence: one replacement character, then go on after its byte.
      out.push_back(kReplacement);
      ++src;
      --srcLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    pos = runEnd;
  }
  return true;
}

bool WideToMultiByte(int codePage, std::u16string_view in, std::string& out, bool* usedDefault) {
  out.clear();
  if (usedDefault) *usedDefault = false;
  codePage = ResolveCodePage(codePage);
  if (codePage == kCodePageUtf8) {
    WideToUtf8(in, out);
    return true;
  }
  const char* charset = CharsetOfCodePage(codePage);
  if (!charset) return false;
  iconv_t cd = Cache().Get(kUtf16, charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  const bool ascii = IsAsciiTransparent(codePage);
  out.reserve(in.size() * 2);
  std::size_t pos = 0;
  char buffer[2048];
  while (pos < in.size()) {
    if (ascii) {
      while (pos < in.size() && in[pos] < 0x80) out.push_back(static_cast<char>(in[pos++]));
      if (pos == in.size()) break;
    }
    std::size_t runEnd = pos + 1;
    if (ascii) {
      while (runEnd < in.size() && in[runEnd] >= 0x80) ++runEnd;
    } else {
      runEnd = in.size();
    }
    char* src = reinterpret_cast<char*>(const_cast<char16_t*>(in.data() + pos));
    std::size_t srcLeft = (runEnd - pos) * sizeof(char16_t);
    while (srcLeft > 0) {
      char* dst = buffer;
      std::size_t dstLeft = sizeof buffer;
      const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
      out.append(buffer, sizeof buffer - dstLeft);
      if (r != static_cast<std::size_t>(-1)) {
        if (r > 0 && usedDefault) *usedDefault = true;  // iconv used a substitute of its own
        continue;
      }
      if (errno == E2BIG) continue;
      // A character the code page lacks (or a lone surrogate): the default character '?'.
      out.push_back('?');
      if (usedDefault) *usedDefault = true;
      const auto unit = *reinterpret_cast<const char16_t*>(src);
      std::size_t skip = sizeof(char16_t);
      if (unit >= 0xD800 && unit <= 0xDBFF && srcLeft >= 2 * sizeof(char16_t)) {
        const auto next = *reinterpret_cast<const char16_t*>(src + sizeof(char16_t));
        if (next >= 0xDC00 && next <= 0xDFFF) skip *= 2;
      }
      src += skip;
      srcLeft -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    // Flush the shift state of stateful code pages at the end of the text.
    if (runEnd == in.size()) {
      char* dst = buffer;
      std::size_t dstLeft = sizeof buffer;
      iconv(cd, nullptr, nullptr, &dst, &dstLeft);
      out.append(buffer, sizeof buffer - dstLeft);
    }
    pos = runEnd;
  }
  return true;
}

std::string ConvertCodePage(std::string_view in, int from, int to, bool* usedDefault) {
  if (usedDefault) *usedDefault = false;
  std::string out;
  if (in.empty()) return out;
  std::u16string wide;
  if (!MultiByteToWide(from, in, wide)) return out;
  if (!WideToMultiByte(to, wide, out, usedDefault)) out.clear();
  return out;
}

namespace {
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

std::string ToLowerAscii(std::string_view in) {
  std::string out(in);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string SystemToUtf8(std::string_view in) {
  return ConvertCodePage(in, kCodePageSystem, kCodePageUtf8);
}

std::string Utf8ToSystem(std::string_view in) {
  return ConvertCodePage(in, kCodePageUtf8, kCodePageSystem);
}

}  // namespace platform

#include "app/base/FileUtil.h"

#include "app/base/AppPaths.h"
#include "platform/fs.h"
#include "platform/ini.h"
#include "platform/text.h"

#include <cstring>

namespace {

constexpr char kVersionSection[] = "Version";

// Texts of the program end at their first zero byte, as C strings do.
std::string_view UpToZero(std::string_view text) {
  const std::size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

std::string Base64(std::string_view text, const char* alphabet, char pad) {
  text = UpToZero(text);
  std::string out;
  out.reserve((text.size() + 2) / 3 * 4);
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t i = 0;
  for (; i + 3 <= text.size(); i += 3) {
    const unsigned v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
    out.push_back(alphabet[(v >> 18) & 63]);
    out.push_back(alphabet[(v >> 12) & 63]);
    out.push_back(alphabet[(v >> 6) & 63]);
    out.push_back(alphabet[v & 63]);
  }
  const std::size_t rest = text.size() - i;
  if (rest > 0) {
    const unsigned v = (p[i] << 16) | (rest == 2 ? p[i + 1] << 8 : 0);
    out.push_back(alphabet[(v >> 18) & 63]);
    out.push_back(alphabet[(v >> 12) & 63]);
    out.push_back(rest == 2 ? alphabet[(v >> 6) & 63] : pad);
    out.push_back(pad);
  }
  return out;
}

}  // namespace

std::string CFileUtil::GetModulePath() {
  // Not cut at 260 characters: a cut path would name another file, and Linux paths may be longer.
  return platform::fs::GetModulePath();
}

std::string CFileUtil::GetModuleFolder() {
  const std::string path = GetModulePath();
  const std::size_t pos = path.rfind(platform::fs::kSeparator);
  return pos == std::string::npos ? path : path.substr(0, pos);
}

bool CFileUtil::FileExists(std::string_view path) { return platform::fs::Exists(path); }

bool CFileUtil::ReadWholeFile(std::string_view path, std::string& text) {
  return platform::fs::ReadFile(path, text);
}

bool CFileUtil::WriteWholeFile(std::string_view path, std::string_view text) {
  return platform::fs::WriteFile(path, text);
}

std::uint64_t CFileUtil::GetFileLength(std::string_view path) {
  if (platform::fs::GetKind(path) != platform::fs::Kind::File) return 0;
  return platform::fs::FileSize(path).value_or(0);
}

int CFileUtil::GetComponentVersion(std::string_view key) {
  return platform::ini::GetInt(CAppPaths::Instance().GetVersionFile(), kVersionSection, key, 0);
}

bool CFileUtil::SetComponentVersion(std::string_view key, int n) {
  return platform::ini::SetString(CAppPaths::Instance().GetVersionFile(), kVersionSection, key,
                                  std::to_string(n));
}

std::string CFileUtil::ConvertCodePage(std::string_view text, int fromCodePage, int toCodePage) {
  std::string out = platform::ConvertCodePage(UpToZero(text), fromCodePage, toCodePage);
  out.resize(std::strlen(out.c_str()));  // the result ends at its first zero byte
  return out;
}

std::string CFileUtil::UrlEncode(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '@' ||
        c == '*' || c == '_' || c == '-' || c == '.') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::string CFileUtil::EncodeNameBase64(std::string_view text) {
  return Base64(text, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789()", '-');
}

std::string CFileUtil::EncodeBase64(std::string_view text) {
  return Base64(text, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", '=');
}

std::vector<std::string> CFileUtil::SplitTerminated(std::string_view text,
                                                    std::string_view separator) {
  std::vector<std::string> parts;
  if (separator.empty()) return parts;  // nothing to split at: no parts, and no endless loop
  std::string whole(text);
  whole.append(separator);
  std::size_t current = 0;
  std::size_t found = whole.find(separator);
  while (found != std::string::npos && found > 0) {
    parts.push_back(whole.substr(current, found - current));
    current = found + separator.size();
    found = whole.find(separator, current);
  }
  return parts;
}

std::string CFileUtil::GetUrlCacheFile(std::string_view) { return std::string(); }

#include "platform/shell.h"
#include "platform/text.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace platform::shell {
namespace {

// Used when the system has no mime.types file.
const std::map<std::string, std::string>& BuiltIn() {
  static const std::map<std::string, std::string> table = {
      {"htm", "text/html"},        {"html", "text/html"},   {"txt", "text/plain"},
      {"xml", "application/xml"},  {"css", "text/css"},     {"js", "text/javascript"},
      {"jpg", "image/jpeg"},       {"jpeg", "image/jpeg"},  {"gif", "image/gif"},
      {"png", "image/png"},        {"swf", "application/x-shockwave-flash"},
      {"json", "application/json"}, {"svg", "image/svg+xml"},
  };
  return table;
}

std::map<std::string, std::string> LoadMimeTypes() {
  std::map<std::string, std::string> table;
  std::FILE* f = std::fopen("/etc/mime.types", "rb");
  if (!f) return BuiltIn();
  char line[1024];
  while (std::fgets(line, sizeof line, f)) {
    std::string text(line);
    if (const auto hash = text.find('#'); hash != std::string::npos) text.resize(hash);
    std::size_t pos = 0;
    auto next = [&]() {
      while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
      const std::size_t start = pos;
      while (pos < text.size() && !std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
      return text.substr(start, pos - start);
    };
    const std::string type = next();
    if (type.empty()) continue;
    for (std::string ext = next(); !ext.empty(); ext = next()) table.emplace(ToLowerAscii(ext), type);
  }
  std::fclose(f);
  // The page types the program relies on stay what it expects even on a sparse system file.
  for (const auto& [ext, type] : BuiltIn()) table.emplace(ext, type);
  return table;
}

}  // namespace

std::string GetContentType(std::string_view extension) {
  static const std::map<std::string, std::string> table = LoadMimeTypes();
  if (extension.empty() || extension.front() != '.') return std::string();
  const auto it = table.find(ToLowerAscii(extension.substr(1)));
  return it == table.end() ? std::string() : it->second;
}

}  // namespace platform::shell

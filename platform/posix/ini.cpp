#include "platform/ini.h"

#include "platform/fs.h"
#include "platform/text.h"

#include <cstdlib>
#include <mutex>
#include <optional>

namespace platform::ini {
namespace {

std::mutex g_lock;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// A file as its lines, with what each line is.
struct Line {
  std::string text;
  enum Type { Other, Section, Entry } type = Other;
  std::string_view name() const {  // section name or key
    std::string_view t = Trim(text);
    if (type == Section) {
      t.remove_prefix(1);
      const std::size_t end = t.find(']');
      return Trim(t.substr(0, end));
    }
    return Trim(t.substr(0, t.find('=')));
  }
  std::string_view value() const {
    std::string_view t(text);
    std::string_view v = Trim(t.substr(t.find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
      v = v.substr(1, v.size() - 2);
    }
    return v;
  }
};

std::vector<Line> Parse(const std::string& content) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < content.size()) {
    std::size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    Line line;
    line.text = content.substr(pos, end - pos);
    if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
    const std::string_view t = Trim(line.text);
    if (!t.empty() && t.front() == '[') {
      line.type = Line::Section;
    } else if (!t.empty() && t.front() != ';' && t.find('=') != std::string_view::npos) {
      line.type = Line::Entry;
    }
    lines.push_back(std::move(line));
    pos = end + 1;
  }
  return lines;
}

std::vector<Line> Load(std::string_view file) {
  std::string content;
  if (!fs::ReadFile(file, content)) return {};
  return Parse(content);
}

bool Store(std::string_view file, const std::vector<Line>& lines) {
  std::string content;
  for (const Line& line : lines) {
    content += line.text;
    content += "\r\n";
  }
  return fs::ReplaceFile(file, content);
}

// [first, last) line indices of a section's body, or nullopt when there is no such section.
std::optional<std::pair<std::size_t, std::size_t>> FindSection(const std::vector<Line>& lines,
                                                               std::string_view section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].type != Line::Section || !EqualsNoCaseAscii(lines[i].name(), section)) continue;
    std::size_t j = i + 1;
    while (j < lines.size() && lines[j].type != Line::Section) ++j;
    return std::make_pair(i + 1, j);
  }
  return std::nullopt;
}

std::optional<std::size_t> FindKey(const std::vector<Line>& lines, std::string_view section,
                                   std::string_view key) {
  const auto body = FindSection(lines, section);
  if (!body) return std::nullopt;
  for (std::size_t i = body->first; i < body->second; ++i) {
    if (lines[i].type == Line::Entry && EqualsNoCaseAscii(lines[i].name(), key)) return i;
  }
  return std::nullopt;
}

}  // namespace

std::string GetString(std::string_view file, std::string_view section, std::string_view key,
                      std::string_view fallback) {
  std::lock_guard<std::mutex> hold(g_lock);
  const std::vector<Line> lines = Load(file);
  const auto at = FindKey(lines, section, key);
  return std::string(at ? lines[*at].value() : fallback);
}

int GetInt(std::string_view file, std::string_view section, std::string_view key, int fallback) {
  std::lock_guard<std::mutex> hold(g_lock);
  const std::vector<Line> lines = Load(file);
  const auto at = FindKey(lines, section, key);
  if (!at) return fallback;
  const std::string_view v = lines[*at].value();
  std::size_t i = 0;
  bool negative = false;
  if (i < v.size() && v[i] == '-') {
    negative = true;
    ++i;
  }
  long long n = 0;
  for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
    n = n * 10 + (v[i] - '0');
    if (n > 0x7FFFFFFFLL) n = 0x7FFFFFFFLL;  // the value is an int; a longer number saturates
  }
  return static_cast<int>(negative ? -n : n);
}

bool SetString(std::string_view file, std::string_view section, std::string_view key,
               std::string_view value) {
  std::lock_guard<std::mutex> hold(g_lock);
  std::vector<Line> lines = Load(file);
  Line entry;
  entry.type = Line::Entry;
  entry.text = std::string(key) + "=" + std::string(value);
  if (const auto at = FindKey(lines, section, key)) {
    lines[*at] = entry;
  } else if (const auto body = FindSection(lines, section)) {
    // After the section's last entry, so that blank lines before the next section stay there.
    std::size_t insert = body->second;
    while (insert > body->first && Trim(lines[insert - 1].text).empty()) --insert;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert), entry);
  } else {
    Line head;
    head.type = Line::Section;
    head.text = "[" + std::string(section) + "]";
    lines.push_back(head);
    lines.push_back(entry);
  }
  return Store(file, lines);
}

bool RemoveKey(std::string_view file, std::string_view section, std::string_view key) {
  std::lock_guard<std::mutex> hold(g_lock);
  std::vector<Line> lines = Load(file);
  const auto at = FindKey(lines, section, key);
  if (!at) return true;
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(*at));
  return Store(file, lines);
}

bool RemoveSection(std::string_view file, std::string_view section) {
  std::lock_guard<std::mutex> hold(g_lock);
  std::vector<Line> lines = Load(file);
  const auto body = FindSection(lines, section);
  if (!body) return true;
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(body->first - 1),
              lines.begin() + static_cast<std::ptrdiff_t>(body->second));
  return Store(file, lines);
}

std::vector<std::pair<std::string, std::string>> GetSection(std::string_view file,
                                                            std::string_view section) {
  std::lock_guard<std::mutex> hold(g_lock);
  std::vector<std::pair<std::string, std::string>> out;
  const std::vector<Line> lines = Load(file);
  const auto body = FindSection(lines, section);
  if (!body) return out;
  for (std::size_t i = body->first; i < body->second; ++i) {
    if (lines[i].type == Line::Entry) {
      out.emplace_back(std::string(lines[i].name()), std::string(lines[i].value()));
    }
  }
  return out;
}

std::vector<std::string> GetSectionNames(std::string_view file) {
  std::lock_guard<std::mutex> hold(g_lock);
  std::vector<std::string> out;
  for (const Line& line : Load(file)) {
    if (line.type == Line::Section) out.emplace_back(line.name());
  }
  return out;
}

}  // namespace platform::ini

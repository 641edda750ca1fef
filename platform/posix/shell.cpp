#include "platform/shell.h"

#include "platform/fs.h"
#include "platform/text.h"

namespace platform::shell {
namespace {

// Desktop-entry values are UTF-8 and escape their own specials.
std::string EscapeValue(std::string_view utf8) {
  std::string out;
  for (char c : utf8) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

// One argument of an Exec line: quoted, with the characters the quoting rule names escaped.
// Inside a value the backslash of that escape is itself escaped.
std::string QuoteExecArgument(std::string_view utf8) {
  std::string quoted = "\"";
  for (char c : utf8) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted.push_back('\\');
    if (c == '%') {
      quoted += "%%";
      continue;
    }
    quoted.push_back(c);
  }
  quoted += "\"";
  std::string out;
  for (char c : quoted) {
    if (c == '\\') out += "\\\\";
    else out.push_back(c);
  }
  return out;
}

std::string FullPath(std::string_view path) {
  if (path.empty()) return std::string();
  if (path.front() == fs::kSeparator) return std::string(path);
  const std::string cwd = fs::GetCurrentFolder();
  if (cwd.empty()) return std::string();
  return fs::JoinPath(cwd, path);
}

}  // namespace

std::string AutostartEntryPath(std::string_view name) {
  const std::string folder = fs::GetSpecialFolder(fs::SpecialFolder::Autostart);
  if (folder.empty()) return std::string();
  return fs::JoinPath(folder, std::string(name) + std::string(kShortcutExtension));
}

bool WriteAutostartEntry(std::string_view name, std::string_view program,
                         std::string_view arguments, AutostartState state) {
  const std::string path = AutostartEntryPath(name);
  if (path.empty()) return false;
  std::string exec = QuoteExecArgument(SystemToUtf8(program));
  if (!arguments.empty()) exec += " " + EscapeValue(SystemToUtf8(arguments));
  std::string entry = "[Desktop Entry]\nType=Application\n";
  entry += "Name=" + EscapeValue(SystemToUtf8(name)) + "\n";
  entry += "Exec=" + exec + "\n";
  entry += "X-GNOME-Autostart-enabled=" +
           std::string(state == AutostartState::Enabled ? "true" : "false") + "\n";
  if (state == AutostartState::Disabled) entry += "Hidden=true\n";
  return fs::ReplaceFile(path, entry, 0644);
}

long CreateShortcut(std::string_view target, std::string_view description,
                    std::string_view workingFolder, std::string_view linkPath) {
  const std::string full = FullPath(target);
  if (full.empty()) return kFail;
  std::string entry = "[Desktop Entry]\nType=Application\n";
  entry += "Name=" + EscapeValue(SystemToUtf8(description)) + "\n";
  entry += "Comment=" + EscapeValue(SystemToUtf8(description)) + "\n";
  entry += "Exec=" + QuoteExecArgument(SystemToUtf8(full)) + "\n";
  if (!workingFolder.empty()) entry += "Path=" + EscapeValue(SystemToUtf8(workingFolder)) + "\n";
  entry += "Terminal=false\n";
  // Launchers on a desktop are started only when they are executable.
  return fs::ReplaceFile(linkPath, entry, 0755) ? kOk : kFail;
}

}  // namespace platform::shell

#include "update/SafeName.h"

#include "platform/text.h"

#include <vector>

namespace {

std::string_view UpToZero(std::string_view text) {
  const std::size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Bytes below 0x20 have no business in a file name (and a line break would split an INI line).
bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// The length of the character at `text[i]`: two bytes for a lead byte of the system code page
// followed by a trail byte (0x40-0x7e, 0x80-0xfe), so that a trail byte that happens to be "\"
// (0x5c) is never taken for a separator.
std::size_t CharLength(std::string_view text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c < 0x80 || i + 1 >= text.size() || !platform::IsLeadByte(c)) return 1;
  const auto trail = static_cast<unsigned char>(text[i + 1]);
  return trail >= 0x40 && trail != 0x7f && trail != 0xff ? 2 : 1;
}

// "." and ".." (and longer runs of dots) would name the folder itself or one above it.
void NeutraliseDots(std::string& part) {
  if (!part.empty() && part.find_first_not_of('.') == std::string::npos) {
    part.assign(part.size(), '_');
  }
}

}  // namespace

std::string SafeEntryPath(std::string_view entryName) {
  const std::string_view name = UpToZero(entryName);
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t len = CharLength(name, i);
    if (len == 1 && IsSeparator(name[i])) {
      if (!parts.back().empty()) parts.emplace_back();
    } else if (len == 1 && IsControl(name[i])) {
      parts.back().push_back('_');
    } else {
      parts.back().append(name.substr(i, len));
    }
    i += len;
  }
  std::string path;
  for (std::string& part : parts) {
    if (part.empty()) continue;
    NeutraliseDots(part);
    if (!path.empty()) path.push_back('/');
    path += part;
  }
  return path;
}

std::string SafeFileName(std::string_view name) {
  const std::string_view text = UpToZero(name);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = CharLength(text, i);
    const char c = text[i];
    if (len == 1 && (IsSeparator(c) || IsControl(c) || c == '=')) {
      out.push_back('_');
    } else {
      out.append(text.substr(i, len));
    }
    i += len;
  }
  NeutraliseDots(out);
  return out;
}

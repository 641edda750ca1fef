// Bytes from the store as an update list and as package entry names: the list parses, and every
// name it gives (and the bytes themselves taken as a name) comes out as a name that stays inside
// its folder.
#include "update/AutoUpdate.h"
#include "update/SafeName.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

bool OnlyDots(std::string_view part) {
  return !part.empty() && part.find_first_not_of('.') == std::string_view::npos;
}

bool HasControl(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  }
  return false;
}

void CheckEntryPath(std::string_view name) {
  const std::string path = SafeEntryPath(name);
  if (path.empty()) return;
  if (path.front() == '/' || path.back() == '/' || HasControl(path)) std::abort();
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const std::string_view part =
        std::string_view(path).substr(start, slash == std::string::npos ? slash : slash - start);
    if (part.empty() || OnlyDots(part)) std::abort();
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
}

void CheckFileName(std::string_view name) {
  const std::string safe = SafeFileName(name);
  if (safe.find('/') != std::string::npos || safe.find('=') != std::string::npos ||
      OnlyDots(safe) || HasControl(safe)) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckEntryPath(bytes);
  CheckFileName(bytes);
  for (const CUpdateInfo& info : ParseUpdateList(bytes)) {
    CheckFileName(info.file_name);
    CheckEntryPath(info.file_name);
  }
  return 0;
}

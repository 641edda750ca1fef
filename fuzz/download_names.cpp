// The file names the download manager forms from a server's record texts: whatever the texts,
// the issue file and the cover stay directly inside their folders and the names stay short.
#include "download/DownLoadManager.h"
#include "platform/fs.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// No separator, no "..", no control byte outside two-byte characters.
void CheckPart(std::string_view part) {
  Check(part.find("..") == std::string_view::npos);
  Check(part.find('/') == std::string_view::npos);
  Check(part.find('\0') == std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The input is split at 0x01 bytes into name, date, pid and type.
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string parts[4];
  for (int i = 0; i < 4; ++i) {
    const std::size_t cut = text.find('\x01');
    parts[i] = std::string(text.substr(0, cut));
    text = cut == std::string_view::npos ? std::string_view() : text.substr(cut + 1);
  }
  const std::string& name = parts[0];
  const std::string& date = parts[1];
  const std::string& pid = parts[2];
  const std::string& type = parts[3];

  CheckPart(CDownLoadManager::SafeNamePart(text));
  const std::string save = CDownLoadManager::MakeSavePath("/down/", name, date, pid);
  if (pid.empty()) {
    Check(save.empty());
  } else {
    Check(save.rfind("/down/", 0) == 0);
    const std::string file = save.substr(6);
    CheckPart(file);
    Check(file.size() <= 200);
    Check(file.size() >= 6 && file.compare(file.size() - 5, 5, "].exe") == 0);
  }
  const std::string cover = CDownLoadManager::MakeCoverPath("/img", type, pid);
  if (!type.empty() && !pid.empty()) {
    Check(cover.rfind("/img/", 0) == 0);
    const std::string rest = cover.substr(5);
    const std::size_t slash = rest.find('/');
    Check(slash != std::string::npos && slash > 0);
    CheckPart(rest.substr(0, slash));
    CheckPart(rest.substr(slash + 1));
  }
  return 0;
}

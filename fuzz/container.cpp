// Bytes as a container resource: the directory reader, then loading into the store with the
// preview rights, so that page indexes go through the rights rewrite too.
#include "content/FolderPackage.h"
#include "content/MyMemFile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<PackageEntry> entries;
  std::size_t stop = 0;
  const PackageStatus status = ReadFolderPackage(bytes, entries, &stop);
  if (stop > size) __builtin_trap();
  if (status == PackageStatus::Ok) {
    for (const PackageEntry& e : entries) {
      if (e.offset > size || e.size > size - e.offset) __builtin_trap();
    }
  }
  CMyMemFile store;
  store.LoadContainerBytes(bytes, IssueFolder("mag", "1"), "1", Ownership::NotOwned, "5.00", "3");
  std::string out;
  store.ReadFile(IssueFolder("mag", "1") + u"stream", out);
  return 0;
}

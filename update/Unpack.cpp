#include "update/Unpack.h"

#include "platform/fs.h"
#include "update/SafeName.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace fs = platform::fs;

namespace {

// TODO(content merge): replaced by the shared folder-package reader.
struct PackageEntry {
  std::string name;
  std::string_view bytes;
};

constexpr std::size_t kTrailerSize = 12;
constexpr std::size_t kEntrySize = 264;
constexpr std::size_t kNameSize = 256;
constexpr std::int32_t kMaxEntries = 5000;

std::uint32_t ReadLe32(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

bool ReadPackage(std::string_view data, std::vector<PackageEntry>& entries) {
  if (data.size() < kTrailerSize) return false;
  const char* trailer = data.data() + data.size() - kTrailerSize;
  const std::uint64_t dirOffset = ReadLe32(trailer);
  const auto count = static_cast<std::int32_t>(ReadLe32(trailer + 8));
  if (count < 0 || count > kMaxEntries) return false;
  if (dirOffset + static_cast<std::uint64_t>(count) * kEntrySize > data.size()) return false;
  for (std::int32_t i = 0; i < count; ++i) {
    const char* e = data.data() + dirOffset + static_cast<std::uint64_t>(i) * kEntrySize;
    const std::uint64_t offset = ReadLe32(e + kNameSize);
    const std::uint64_t size = ReadLe32(e + kNameSize + 4);
    if (offset + size > data.size()) return false;
    entries.push_back({std::string(e, strnlen(e, kNameSize)), data.substr(offset, size)});
  }
  return true;
}

}  // namespace

bool WriteFileWhole(std::string_view path, std::string_view data, FileMode mode) {
  std::string existing;
  const unsigned bits = mode == FileMode::Program ? 0755 : 0644;
  if (fs::GetKind(path) == fs::Kind::File && fs::ReadFile(path, existing) && existing == data) {
    return true;
  }
  return fs::ReplaceFile(path, data, bits);
}

UnpackResult UnpackFolderPackage(std::string_view package, std::string_view targetFolder) {
  std::vector<PackageEntry> entries;
  if (!ReadPackage(package, entries)) return UnpackResult::BadPackage;
  for (const PackageEntry& entry : entries) {
    const std::string relative = SafeEntryPath(entry.name);
    if (relative.empty()) return UnpackResult::WriteFailed;
    const std::string path = fs::JoinPath(targetFolder, relative);
    const std::string parent = fs::ParentOf(path);
    if (!parent.empty() && !fs::IsFolder(parent) && !fs::CreateFolders(parent)) {
      return UnpackResult::WriteFailed;
    }
    if (!WriteFileWhole(path, entry.bytes, FileMode::Data)) return UnpackResult::WriteFailed;
  }
  return UnpackResult::Done;
}

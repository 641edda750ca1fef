#include "update/Unpack.h"

#include "content/FolderPackage.h"
#include "platform/fs.h"
#include "update/SafeName.h"

#include <vector>

namespace fs = platform::fs;

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
  if (ReadFolderPackage(package, entries) != PackageStatus::Ok) return UnpackResult::BadPackage;
  for (const PackageEntry& entry : entries) {
    const std::string relative = SafeEntryPath(entry.name);
    if (relative.empty()) return UnpackResult::WriteFailed;
    const std::string path = fs::JoinPath(targetFolder, relative);
    const std::string parent = fs::ParentOf(path);
    if (!parent.empty() && !fs::IsFolder(parent) && !fs::CreateFolders(parent)) {
      return UnpackResult::WriteFailed;
    }
    if (!WriteFileWhole(path, package.substr(entry.offset, entry.size), FileMode::Data)) {
      return UnpackResult::WriteFailed;
    }
  }
  return UnpackResult::Done;
}

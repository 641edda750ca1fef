#include "content/FolderPackage.h"

#include "platform/fs.h"

#include <algorithm>
#include <cstring>

namespace {

std::uint32_t U32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

void Put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void Collect(const std::string& folder, const std::string& prefix,
             std::vector<PackageFile>& files, std::string* error, bool& ok) {
  auto entries = platform::fs::ListFolder(folder);
  for (const auto& e : entries) {
    if (!ok) return;
    const std::string path = platform::fs::JoinPath(folder, e.name);
    const std::string name = prefix.empty() ? e.name : prefix + "\\" + e.name;
    if (e.kind == platform::fs::Kind::Folder) {
      Collect(path, name, files, error, ok);
    } else if (e.kind == platform::fs::Kind::File) {
      PackageFile f;
      f.name = name;
      if (f.name.size() > kPackageNameField - 1) {
        if (error) *error = "name longer than 255 bytes: " + name;
        ok = false;
        return;
      }
      if (!platform::fs::ReadFile(path, f.data)) {
        if (error) *error = "cannot read " + path;
        ok = false;
        return;
      }
      files.push_back(std::move(f));
    }
  }
}

}  // namespace

PackageStatus ReadFolderPackage(std::string_view data, std::vector<PackageEntry>& entries,
                                std::size_t* stopOffset) {
  entries.clear();
  auto stop = [&](PackageStatus s, std::size_t at) {
    if (stopOffset) *stopOffset = at;
    if (s != PackageStatus::Ok) entries.clear();
    return s;
  };
  const std::uint64_t size = data.size();
  if (size < kPackageTrailerSize) return stop(PackageStatus::TooShort, 0);
  const char* trailer = data.data() + size - kPackageTrailerSize;
  const std::uint64_t dirOffset = U32(trailer);
  const auto count = static_cast<std::int32_t>(U32(trailer + 8));
  if (count < 0 || count > kMaxPackageEntries) {
    return stop(PackageStatus::BadCount, static_cast<std::size_t>(size - 4));
  }
  const std::uint64_t dirSize = static_cast<std::uint64_t>(count) * kPackageEntrySize;
  if (dirOffset > size || dirSize > size - dirOffset) {
    return stop(PackageStatus::DirectoryOutside, static_cast<std::size_t>(size - 12));
  }
  entries.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    const std::size_t at = static_cast<std::size_t>(dirOffset + static_cast<std::uint64_t>(i) *
                                                                    kPackageEntrySize);
    const char* e = data.data() + at;
    PackageEntry entry;
    entry.name.assign(e, strnlen(e, kPackageNameField));
    entry.offset = U32(e + kPackageNameField);
    entry.size = U32(e + kPackageNameField + 4);
    if (entry.offset > size || entry.size > size - entry.offset) {
      return stop(PackageStatus::EntryOutside, at);
    }
    entries.push_back(std::move(entry));
  }
  return stop(PackageStatus::Ok, static_cast<std::size_t>(size));
}

const char* PackageStatusText(PackageStatus status) {
  switch (status) {
    case PackageStatus::Ok: return "ok";
    case PackageStatus::TooShort: return "shorter than its 12-byte trailer";
    case PackageStatus::BadCount: return "entry count out of range (0 to 5000)";
    case PackageStatus::DirectoryOutside: return "directory outside the data";
    case PackageStatus::EntryOutside: return "an entry's bytes lie outside the data";
  }
  return "unknown";
}

std::string BuildFolderPackage(const std::vector<PackageFile>& files) {
  std::string out;
  std::vector<std::uint32_t> offsets;
  for (const PackageFile& f : files) {
    offsets.push_back(static_cast<std::uint32_t>(out.size()));
    out += f.data;
  }
  const auto dirOffset = static_cast<std::uint32_t>(out.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string name = files[i].name.substr(0, kPackageNameField - 1);
    name.resize(kPackageNameField, '\0');
    out += name;
    Put32(out, offsets[i]);
    Put32(out, static_cast<std::uint32_t>(files[i].data.size()));
  }
  Put32(out, dirOffset);
  Put32(out, 0);
  Put32(out, static_cast<std::uint32_t>(files.size()));
  return out;
}

bool CollectFolderFiles(std::string_view folder, std::vector<PackageFile>& files,
                        std::string* error) {
  files.clear();
  if (!platform::fs::IsFolder(folder)) {
    if (error) *error = "not a folder: " + std::string(folder);
    return false;
  }
  bool ok = true;
  Collect(std::string(folder), std::string(), files, error, ok);
  if (!ok) return false;
  std::sort(files.begin(), files.end(),
            [](const PackageFile& a, const PackageFile& b) { return a.name < b.name; });
  if (files.size() > static_cast<std::size_t>(kMaxPackageEntries)) {
    if (error) *error = "more than 5000 files";
    return false;
  }
  return true;
}

bool IsSafePackageName(std::string_view name) {
  if (name.empty() || name.front() == '\\' || name.front() == '/') return false;
  if (name.size() >= 2 && name[1] == ':') return false;  // a drive letter
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

bool ExtractFolderPackage(std::string_view data, std::string_view folder, std::string* error) {
  std::vector<PackageEntry> entries;
  const PackageStatus status = ReadFolderPackage(data, entries);
  if (status != PackageStatus::Ok) {
    if (error) *error = PackageStatusText(status);
    return false;
  }
  bool ok = true;
  for (const PackageEntry& e : entries) {
    if (!IsSafePackageName(e.name)) {
      if (error) *error += "skipped unsafe name: " + e.name + "\n";
      ok = false;
      continue;
    }
    std::string relative = e.name;
    std::replace(relative.begin(), relative.end(), '\\', platform::fs::kSeparator);
    const std::string path = platform::fs::JoinPath(folder, relative);
    const std::string parent = platform::fs::ParentOf(path);
    if (!parent.empty() && !platform::fs::CreateFolders(parent)) {
      if (error) *error += "cannot create " + parent + "\n";
      ok = false;
      continue;
    }
    if (!platform::fs::WriteFile(path, data.substr(e.offset, e.size))) {
      if (error) *error += "cannot write " + path + "\n";
      ok = false;
    }
  }
  return ok;
}

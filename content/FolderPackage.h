// The folder package: the one archive format of the program (an issue's files, the skin and
// page-data packages, update packages). The files' bytes, then a directory of 264-byte entries
// (a 256-byte zero-terminated name, the offset and the size of the bytes), then a 12-byte
// trailer (directory offset, a field nobody reads, entry count); integers 32-bit little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A package holds at most this many entries.
inline constexpr std::int32_t kMaxPackageEntries = 5000;
// Bytes of a directory entry and of its name field.
inline constexpr std::size_t kPackageEntrySize = 264;
inline constexpr std::size_t kPackageNameField = 256;
inline constexpr std::size_t kPackageTrailerSize = 12;

// One directory entry as read from a package.
struct PackageEntry {
  std::string name;          // bytes up to the zero byte of the name field
  std::uint32_t offset = 0;  // of the bytes, from the start of the package
  std::uint32_t size = 0;
};

// Why a package was refused.
enum class PackageStatus {
  Ok,
  TooShort,          // shorter than its trailer
  BadCount,          // count below 0 or above kMaxPackageEntries
  DirectoryOutside,  // the directory does not lie inside the package
  EntryOutside,      // an entry's bytes do not lie inside the package
};

// One file to be packed: its name in the package ("\" between folders) and its bytes.
struct PackageFile {
  std::string name;
  std::string data;
};

// Reads the directory of a package; a package with any part outside the data is refused as a
// whole (`entries` then empty). `stopOffset` gets where reading stopped.
PackageStatus ReadFolderPackage(std::string_view data, std::vector<PackageEntry>& entries,
                                std::size_t* stopOffset = nullptr);
// A short English text for a status (tool messages).
const char* PackageStatusText(PackageStatus status);
// The package of `files`, in the order given.
std::string BuildFolderPackage(const std::vector<PackageFile>& files);
// Every file below `folder` (system-code-page path), named relative to it with "\" between
// folders, in byte order of the names, so that the same folder always packs the same way.
// False (with `error` set) when a file cannot be read, a name is longer than 255 bytes, or there
// are more files than a package holds.
bool CollectFolderFiles(std::string_view folder, std::vector<PackageFile>& files,
                        std::string* error);
// True when an entry name stays inside the folder it is extracted to: not empty, no absolute
// path, no "." or ".." segment.
bool IsSafePackageName(std::string_view name);
// Writes the package's files below `folder`, creating subfolders; entries whose names would leave
// the folder are skipped and reported. False when anything was skipped or failed.
bool ExtractFolderPackage(std::string_view data, std::string_view folder, std::string* error);

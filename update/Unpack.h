// Placing component files on the disk: folder packages unpacked into a folder, single files
// written whole. A file is always written under a temporary name beside its place and renamed
// into it, so that a crash never leaves a half-written file under the name that counts.
#pragma once

#include <string>
#include <string_view>

// How unpacking a folder package ended.
enum class UnpackResult {
  Done,         // every entry was written
  BadPackage,   // the trailer or the directory is out of range; nothing was written
  WriteFailed,  // an entry had no usable name or could not be written; the unpacking stopped
};

// Who may run a written file.
enum class FileMode { Data, Program };

// Writes each entry of the folder package `package` to `targetFolder` + its safe name
// (SafeEntryPath), creating the subfolders an entry names inside the target, in directory order,
// and stops at the first entry that cannot be written.
UnpackResult UnpackFolderPackage(std::string_view package, std::string_view targetFolder);

// Makes `path` hold exactly `data` (a temporary file beside it, renamed over it). A file that
// already holds these bytes is left as it is. True when the file holds them afterwards.
bool WriteFileWhole(std::string_view path, std::string_view data, FileMode mode);

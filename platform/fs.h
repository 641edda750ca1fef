// Files and folders. Every path is a text in the system code page, with "/" as separator; it is
// converted to UTF-8 at the system call, and names the system returns are converted back.
// Failures are plain results (false, empty, nullopt), never exceptions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::fs {

inline constexpr char kSeparator = '/';
inline constexpr std::size_t kMaxPath = 260;  // paths the program forms stay within this

// What a path names.
enum class Kind { None, File, Folder, Other };

// One entry of a folder listing.
struct DirEntry {
  std::string name;          // system code page, no folder part
  Kind kind = Kind::None;
  std::uint64_t size = 0;    // bytes, for files
  std::int64_t modified = 0; // seconds since 1970 (UTC)
  bool hidden = false;       // the name begins with "."
  bool readOnly = false;     // the user cannot write it
};

// Status of a path (stat).
Kind GetKind(std::string_view path);
// True when the path names anything at all.
bool Exists(std::string_view path);
// True when the path names a folder.
bool IsFolder(std::string_view path);
// Length of a file in bytes, nullopt when it has no status.
std::optional<std::uint64_t> FileSize(std::string_view path);
// Last modification time in seconds since 1970 (UTC), nullopt when it has no status.
std::optional<std::int64_t> ModifiedTime(std::string_view path);

// Creates one folder (its parent must exist); true when it exists afterwards.
bool CreateFolder(std::string_view path);
// Creates a folder and the missing folders above it; true when it exists afterwards.
bool CreateFolders(std::string_view path);
// Removes a file; true when it is gone.
bool RemoveFile(std::string_view path);
// Removes an empty folder; true when it is gone.
bool RemoveFolder(std::string_view path);
// Moves a file, replacing the target (on one file system this is atomic).
bool MoveFile(std::string_view from, std::string_view to);
// Copies a file's bytes, replacing the target through a temporary file beside it.
bool CopyFile(std::string_view from, std::string_view to);
// The entries of a folder without "." and "..", in the order the system gives them.
std::vector<DirEntry> ListFolder(std::string_view path);

// Reads a whole file; false when it cannot be opened or read.
bool ReadFile(std::string_view path, std::string& out);
// Replaces a file's content (plain open-for-writing, truncating); false on any failure.
bool WriteFile(std::string_view path, std::string_view data);
// Replaces a file's content atomically: a temporary file beside it, flushed, then renamed over
// it, so that a crash leaves either the old or the new content. `mode` is the new file's mode.
bool ReplaceFile(std::string_view path, std::string_view data, unsigned mode = 0644);

// Opens a file in stdio mode ("rb", "wb", "ab", "r+b"); the caller closes it with fclose.
std::FILE* OpenFile(std::string_view path, const char* mode);

// Free bytes available to the user on the file system holding `path`, nullopt when unknown.
std::optional<std::uint64_t> FreeSpace(std::string_view path);

// A place the system keeps for the user.
enum class SpecialFolder {
  RoamingData,    // per-user application data ($XDG_DATA_HOME, else ~/.local/share)
  Desktop,        // the desktop folder (XDG_DESKTOP_DIR); empty when the user has none
  StartPrograms,  // the launcher entries (~/.local/share/applications), created on demand
  Autostart,      // programs started at login ($XDG_CONFIG_HOME/autostart), created on demand
  Home,           // the home folder
};
// The folder's path without trailing separator, or empty when there is none.
std::string GetSpecialFolder(SpecialFolder which);

// A root that downloads could go to (the counterpart of a fixed drive).
struct VolumeRoot {
  std::string root;            // ends with "/"
  bool fixed = false;          // a local disk the user can write to
  std::uint64_t freeBytes = 0; // free bytes available to the user
};
// The candidate roots in order: the home folder first, then the mount points of
// /proc/self/mounts. Only `fixed` ones are disk file systems the user may write to.
std::vector<VolumeRoot> ListVolumeRoots();

// Full path of the running program file.
std::string GetModulePath();
// The current folder.
std::string GetCurrentFolder();

// Path helpers on system-code-page texts (they never split a two-byte character).
// Joins two parts with one separator.
std::string JoinPath(std::string_view folder, std::string_view name);
// Everything before the last separator ("" when there is none).
std::string ParentOf(std::string_view path);
// Everything after the last separator.
std::string NameOf(std::string_view path);

// Converts a path to and from the bytes the system calls take.
std::string ToNative(std::string_view path);
std::string FromNative(std::string_view native);

}  // namespace platform::fs

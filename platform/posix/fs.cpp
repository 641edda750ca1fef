#include "platform/fs.h"

#include "platform/text.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform::fs {
namespace {

std::atomic<unsigned> g_tempCounter{0};

bool StatPath(std::string_view path, struct stat& st) {
  if (path.empty()) return false;
  return ::stat(ToNative(path).c_str(), &st) == 0;
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string HomeNative() {
  std::string home = Env("HOME");
  if (home.empty()) home = "/";
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return home;
}

// XDG_DESKTOP_DIR from user-dirs.dirs ("$HOME/Desktop" style values), else ~/Desktop.
std::string DesktopNative() {
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty()) config = HomeNative() + "/.config";
  std::string text;
  std::string dirs;
  if (FILE* f = std::fopen((config + "/user-dirs.dirs").c_str(), "rb")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  std::size_t pos = text.find("XDG_DESKTOP_DIR=\"");
  if (pos != std::string::npos && (pos == 0 || text[pos - 1] == '\n')) {
    pos += std::strlen("XDG_DESKTOP_DIR=\"");
    const std::size_t end = text.find('"', pos);
    if (end != std::string::npos) {
      dirs = text.substr(pos, end - pos);
      if (dirs.rfind("$HOME", 0) == 0) dirs = HomeNative() + dirs.substr(5);
    }
  }
  if (dirs.empty()) dirs = HomeNative() + "/Desktop";
  // A desktop that is the home folder itself means "no desktop" in the XDG convention.
  if (dirs == HomeNative()) return std::string();
  return dirs;
}

bool IsDiskFileSystem(std::string_view type) {
  static constexpr std::string_view kDisk[] = {
      "ext2", "ext3", "ext4", "xfs", "btrfs", "f2fs", "jfs", "reiserfs", "zfs", "vfat",
      "exfat", "ntfs", "ntfs3", "fuseblk", "hfsplus", "nilfs2", "bcachefs", "overlay"};
  for (auto t : kDisk) {
    if (t == type) return true;
  }
  return false;
}

// /proc/self/mounts escapes blanks and backslashes as octal (\040).
std::string UnescapeMountField(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const int v = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      out.push_back(static_cast<char>(v));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

std::optional<std::uint64_t> FreeSpaceNative(const std::string& native) {
  struct statvfs vfs;
  if (::statvfs(native.c_str(), &vfs) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

std::string TempNameBeside(std::string_view path) {
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".tmp%d-%u", static_cast<int>(::getpid()),
                g_tempCounter.fetch_add(1));
  return std::string(path) + suffix;
}

bool WriteAllFd(int fd, std::string_view data) {
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string ToNative(std::string_view path) {
  if (GetSystemCodePage() == kCodePageUtf8) return std::string(path);
  bool ascii = true;
  for (char c : path) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  return ascii ? std::string(path) : SystemToUtf8(path);
}

std::string FromNative(std::string_view native) {
  if (GetSystemCodePage() == kCodePageUtf8) return std::string(native);
  bool ascii = true;
  for (char c : native) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  return ascii ? std::string(native) : Utf8ToSystem(native);
}

Kind GetKind(std::string_view path) {
  struct stat st;
  if (!StatPath(path, st)) return Kind::None;
  if (S_ISREG(st.st_mode)) return Kind::File;
  if (S_ISDIR(st.st_mode)) return Kind::Folder;
  return Kind::Other;
}

bool Exists(std::string_view path) { return GetKind(path) != Kind::None; }

bool IsFolder(std::string_view path) { return GetKind(path) == Kind::Folder; }

std::optional<std::uint64_t> FileSize(std::string_view path) {
  struct stat st;
  if (!StatPath(path, st)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::int64_t> ModifiedTime(std::string_view path) {
  struct stat st;
  if (!StatPath(path, st)) return std::nullopt;
  return static_cast<std::int64_t>(st.st_mtime);
}

bool CreateFolder(std::string_view path) {
  if (path.empty()) return false;
  const std::string native = ToNative(path);
  if (::mkdir(native.c_str(), 0755) == 0) return true;
  return IsFolder(path);
}

bool CreateFolders(std::string_view path) {
  if (path.empty()) return false;
  if (IsFolder(path)) return true;
  std::string parent = ParentOf(path);
  while (parent.size() > 1 && parent.back() == kSeparator) parent.pop_back();
  if (!parent.empty() && parent != path && !IsFolder(parent) && !CreateFolders(parent)) {
    return false;
  }
  return CreateFolder(path);
}

bool RemoveFile(std::string_view path) {
  if (path.empty()) return false;
  return ::unlink(ToNative(path).c_str()) == 0 || errno == ENOENT;
}

bool RemoveFolder(std::string_view path) {
  if (path.empty()) return false;
  return ::rmdir(ToNative(path).c_str()) == 0 || errno == ENOENT;
}

bool MoveFile(std::string_view from, std::string_view to) {
  if (from.empty() || to.empty()) return false;
  return ::rename(ToNative(from).c_str(), ToNative(to).c_str()) == 0;
}

bool CopyFile(std::string_view from, std::string_view to) {
  const int in = ::open(ToNative(from).c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    return false;
  }
  const std::string temp = TempNameBeside(to);
  const std::string tempNative = ToNative(temp);
  const int out = ::open(tempNative.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                         st.st_mode & 0777);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = true;
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (!WriteAllFd(out, std::string_view(buf, static_cast<std::size_t>(n)))) {
      ok = false;
      break;
    }
  }
  ::close(in);
  ok = ::fsync(out) == 0 && ok;
  ok = ::close(out) == 0 && ok;
  if (ok) ok = ::rename(tempNative.c_str(), ToNative(to).c_str()) == 0;
  if (!ok) ::unlink(tempNative.c_str());
  return ok;
}

std::vector<DirEntry> ListFolder(std::string_view path) {
  std::vector<DirEntry> entries;
  const std::string native = ToNative(path);
  DIR* dir = ::opendir(native.c_str());
  if (!dir) return entries;
  while (const dirent* d = ::readdir(dir)) {
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
    DirEntry e;
    e.name = FromNative(d->d_name);
    e.hidden = d->d_name[0] == '.';
    struct stat st;
    const std::string full = native + "/" + d->d_name;
    if (::stat(full.c_str(), &st) == 0) {
      e.kind = S_ISREG(st.st_mode) ? Kind::File : S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Other;
      e.size = static_cast<std::uint64_t>(st.st_size);
      e.modified = static_cast<std::int64_t>(st.st_mtime);
      e.readOnly = ::access(full.c_str(), W_OK) != 0;
    }
    entries.push_back(std::move(e));
  }
  ::closedir(dir);
  return entries;
}

bool ReadFile(std::string_view path, std::string& out) {
  out.clear();
  const int fd = ::open(ToNative(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  if (S_ISREG(st.st_mode)) out.reserve(static_cast<std::size_t>(st.st_size));
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      out.clear();
      return false;
    }
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

bool WriteFile(std::string_view path, std::string_view data) {
  const int fd = ::open(ToNative(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool ok = WriteAllFd(fd, data);
  return ::close(fd) == 0 && ok;
}

bool ReplaceFile(std::string_view path, std::string_view data, unsigned mode) {
  if (path.empty()) return false;
  const std::string tempNative = ToNative(TempNameBeside(path));
  const int fd = ::open(tempNative.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return false;
  ::fchmod(fd, mode);  // the umask must not widen or narrow the mode asked for
  bool ok = WriteAllFd(fd, data);
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(tempNative.c_str(), ToNative(path).c_str()) == 0;
  if (!ok) ::unlink(tempNative.c_str());
  return ok;
}

std::FILE* OpenFile(std::string_view path, const char* mode) {
  if (path.empty()) return nullptr;
  return std::fopen(ToNative(path).c_str(), mode);
}

std::optional<std::uint64_t> FreeSpace(std::string_view path) {
  return FreeSpaceNative(ToNative(path));
}

std::string GetSpecialFolder(SpecialFolder which) {
  std::string native;
  switch (which) {
    case SpecialFolder::Home:
      native = HomeNative();
      break;
    case SpecialFolder::RoamingData:
      native = Env("XDG_DATA_HOME");
      if (native.empty() || native[0] != '/') native = HomeNative() + "/.local/share";
      CreateFolders(FromNative(native));
      break;
    case SpecialFolder::Desktop:
      native = DesktopNative();
      if (native.empty() || !IsFolder(FromNative(native))) return std::string();
      break;
    case SpecialFolder::StartPrograms: {
      std::string data = Env("XDG_DATA_HOME");
      if (data.empty() || data[0] != '/') data = HomeNative() + "/.local/share";
      native = data + "/applications";
      CreateFolders(FromNative(native));
      break;
    }
    case SpecialFolder::Autostart: {
      std::string config = Env("XDG_CONFIG_HOME");
      if (config.empty() || config[0] != '/') config = HomeNative() + "/.config";
      native = config + "/autostart";
      CreateFolders(FromNative(native));
      break;
    }
  }
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  return FromNative(native);
}

std::vector<VolumeRoot> ListVolumeRoots() {
  std::vector<VolumeRoot> roots;
  const std::string home = HomeNative();
  {
    VolumeRoot r;
    r.root = FromNative(home == "/" ? home : home + "/");
    r.fixed = ::access(home.c_str(), W_OK) == 0;
    r.freeBytes = FreeSpaceNative(home).value_or(0);
    roots.push_back(r);
  }
  std::string mounts;
  if (!ReadFile("/proc/self/mounts", mounts)) return roots;
  std::size_t pos = 0;
  while (pos < mounts.size()) {
    std::size_t end = mounts.find('\n', pos);
    if (end == std::string::npos) end = mounts.size();
    const std::string_view line(mounts.data() + pos, end - pos);
    pos = end + 1;
    // device mountpoint type options ...
    const std::size_t a = line.find(' ');
    if (a == std::string_view::npos) continue;
    const std::size_t b = line.find(' ', a + 1);
    if (b == std::string_view::npos) continue;
    const std::size_t c = line.find(' ', b + 1);
    const std::string_view device = line.substr(0, a);
    const std::string mountPoint = UnescapeMountField(line.substr(a + 1, b - a - 1));
    const std::string_view type =
        line.substr(b + 1, c == std::string_view::npos ? std::string_view::npos : c - b - 1);
    const std::string_view options =
        c == std::string_view::npos ? std::string_view() : line.substr(c + 1);
    VolumeRoot r;
    r.root = FromNative(mountPoint == "/" ? mountPoint : mountPoint + "/");
    const bool readOnlyMount = options.substr(0, 3) == "ro," || options == "ro";
    r.fixed = IsDiskFileSystem(type) && !readOnlyMount && !device.empty() &&
              ::access(mountPoint.c_str(), W_OK) == 0;
    r.freeBytes = r.fixed ? FreeSpaceNative(mountPoint).value_or(0) : 0;
    roots.push_back(r);
  }
  return roots;
}

std::string GetModulePath() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return FromNative(std::string_view(buf, static_cast<std::size_t>(n)));
}

std::string GetCurrentFolder() {
  char buf[PATH_MAX];
  if (!::getcwd(buf, sizeof buf)) return std::string();
  return FromNative(buf);
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && out.back() != kSeparator) out.push_back(kSeparator);
  out.append(name);
  return out;
}

std::string ParentOf(std::string_view path) {
  const std::size_t pos = path.rfind(kSeparator);
  if (pos == std::string_view::npos) return std::string();
  if (pos == 0) return std::string(1, kSeparator);
  return std::string(path.substr(0, pos));
}

std::string NameOf(std::string_view path) {
  const std::size_t pos = path.rfind(kSeparator);
  return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

}  // namespace platform::fs

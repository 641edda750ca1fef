#include "platform/module.h"

#include "platform/fs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <limits>

namespace platform::module {
namespace {

// The appended block: the resources' bytes, then a table of 32-byte rows (type[16], id, size,
// offset from the block's start as 64 bits), then a 24-byte footer (magic, the block's start in
// the file, the row count, zero). The footer ends the file.
constexpr char kBlockMagic[8] = {'M', 'R', 'V', 'R', 'S', 'R', 'C', '1'};
constexpr std::size_t kFooterSize = 24;
constexpr std::size_t kRowSize = 32;
constexpr std::size_t kTypeField = 16;
constexpr std::uint32_t kMaxBlockRows = 65536;
// A PE resource tree with more entries than this is not one we made or accept.
constexpr std::size_t kMaxPeEntries = 65536;

std::uint16_t U16(const char* p) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(p[0]) |
                                    (static_cast<unsigned char>(p[1]) << 8));
}
std::uint32_t U32(const char* p) {
  return static_cast<std::uint32_t>(U16(p)) | (static_cast<std::uint32_t>(U16(p + 2)) << 16);
}
std::uint64_t U64(const char* p) {
  return static_cast<std::uint64_t>(U32(p)) | (static_cast<std::uint64_t>(U32(p + 4)) << 32);
}
void Put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Put64(std::string& out, std::uint64_t v) {
  Put32(out, static_cast<std::uint32_t>(v));
  Put32(out, static_cast<std::uint32_t>(v >> 32));
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// A module over a file read on demand.
class FileModule final : public CResourceModule {
 public:
  explicit FileModule(int fd, std::uint64_t size) : m_fd(fd) { m_fileSize = size; }
  ~FileModule() override { ::close(m_fd); }
  bool ReadAt(std::uint64_t offset, std::size_t size, char* out) const override {
    if (offset > m_fileSize || size > m_fileSize - offset) return false;
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pread(m_fd, out + done, size - done, static_cast<off_t>(offset + done));
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int m_fd;
};

class MemoryModule final : public CResourceModule {
 public:
  explicit MemoryModule(std::string bytes) : m_bytes(std::move(bytes)) {
    m_fileSize = m_bytes.size();
  }
  bool ReadAt(std::uint64_t offset, std::size_t size, char* out) const override {
    if (offset > m_fileSize || size > m_fileSize - offset) return false;
    if (size) std::memcpy(out, m_bytes.data() + offset, size);
    return true;
  }

 private:
  std::string m_bytes;
};

}  // namespace

// Reads the structure of a freshly opened module into its fields.
class ModuleParser {
 public:
  explicit ModuleParser(CResourceModule& m) : m_module(m) {}

  OpenStatus Run() {
    const std::uint64_t size = m_module.FileSize();
    m_module.m_imageSize = size;
    char head[4] = {};
    const bool hasHead = m_module.ReadAt(0, 4, head);
    bool blockBad = false;
    std::vector<ResourceEntry> block;
    const int blockFound = ReadBlock(block);  // 1 found, 0 none, -1 bad
    if (blockFound < 0) blockBad = true;

    bool peBad = false;
    std::vector<ResourceEntry> pe;
    if (hasHead && head[0] == 'M' && head[1] == 'Z') {
      const int r = ReadPe(pe);
      if (r == 0) return OpenStatus::NotAProgram;  // "MZ" without a valid PE header
      if (r < 0) peBad = true;
      m_module.m_format = Format::Pe;
    } else if (hasHead && std::memcmp(head, "\x7F" "ELF", 4) == 0) {
      m_module.m_format = Format::Elf;
    } else if (blockFound == 0) {
      return OpenStatus::NotAProgram;
    }
    if (peBad || blockBad) {
      // A resource table that leaves the file is not trusted in any part.
      m_module.m_resources.clear();
      return OpenStatus::BadResources;
    }
    m_module.m_resources = std::move(pe);
    for (ResourceEntry& e : block) m_module.m_resources.push_back(std::move(e));
    return OpenStatus::Ok;
  }

 private:
  int ReadBlock(std::vector<ResourceEntry>& out) {
    const std::uint64_t size = m_module.FileSize();
    if (size < kFooterSize) return 0;
    char footer[kFooterSize];
    if (!m_module.ReadAt(size - kFooterSize, kFooterSize, footer)) return 0;
    if (std::memcmp(footer, kBlockMagic, sizeof kBlockMagic) != 0) return 0;
    const std::uint64_t start = U64(footer + 8);
    const std::uint32_t count = U32(footer + 16);
    if (count > kMaxBlockRows) return -1;
    const std::uint64_t tableSize = static_cast<std::uint64_t>(count) * kRowSize;
    if (tableSize > size - kFooterSize) return -1;
    const std::uint64_t tableStart = size - kFooterSize - tableSize;
    if (start > tableStart) return -1;
    std::string table(static_cast<std::size_t>(tableSize), '\0');
    if (!m_module.ReadAt(tableStart, table.size(), table.data())) return -1;
    const std::uint64_t dataSize = tableStart - start;
    for (std::uint32_t i = 0; i < count; ++i) {
      const char* row = table.data() + static_cast<std::size_t>(i) * kRowSize;
      ResourceEntry e;
      e.type = UpperAscii(std::string(row, strnlen(row, kTypeField)));
      e.id = U32(row + 16);
      e.size = U32(row + 20);
      const std::uint64_t offset = U64(row + 24);
      if (offset > dataSize || e.size > dataSize - offset) return -1;
      e.offset = start + offset;
      e.appended = true;
      out.push_back(std::move(e));
    }
    m_module.m_imageSize = start;
    return 1;
  }

  // 1: a PE file (resources in `out`), 0: not a PE file, -1: a PE file with a bad directory.
  int ReadPe(std::vector<ResourceEntry>& out) {
    const std::uint64_t size = m_module.FileSize();
    char dos[64];
    if (!m_module.ReadAt(0, sizeof dos, dos)) return 0;
    const std::uint32_t peOffset = U32(dos + 0x3C);
    char coff[24];
    if (!m_module.ReadAt(peOffset, sizeof coff, coff)) return 0;
    if (std::memcmp(coff, "PE\0\0", 4) != 0) return 0;
    const std::uint16_t sectionCount = U16(coff + 4 + 2);
    const std::uint16_t optionalSize = U16(coff + 4 + 16);
    const std::uint64_t optionalStart = static_cast<std::uint64_t>(peOffset) + 24;
    std::string optional(optionalSize, '\0');
    if (!m_module.ReadAt(optionalStart, optional.size(), optional.data())) return 0;
    if (optional.size() < 2) return 0;
    const std::uint16_t magic = U16(optional.data());
    std::size_t countAt = 0, dirsAt = 0;
    if (magic == 0x10B) {
      countAt = 92;
      dirsAt = 96;
    } else if (magic == 0x20B) {
      countAt = 108;
      dirsAt = 112;
    } else {
      return 0;
    }
    if (optional.size() < dirsAt) return 0;
    // A valid PE file from here on; what follows is its resource directory.
    const std::uint32_t dirCount = U32(optional.data() + countAt);
    if (dirCount < 3 || optional.size() < dirsAt + 3 * 8) return 1;  // no resource directory
    const std::uint32_t rsrcRva = U32(optional.data() + dirsAt + 16);
    const std::uint32_t rsrcSize = U32(optional.data() + dirsAt + 20);
    if (rsrcRva == 0 || rsrcSize == 0) return 1;

    if (sectionCount > 96) return -1;
    std::string sections(static_cast<std::size_t>(sectionCount) * 40, '\0');
    if (!m_module.ReadAt(optionalStart + optionalSize, sections.size(), sections.data())) {
      return -1;
    }
    for (std::size_t i = 0; i < sectionCount; ++i) {
      const char* s = sections.data() + i * 40;
      Section sec{U32(s + 12), U32(s + 16), U32(s + 20)};
      if (sec.rawSize && (static_cast<std::uint64_t>(sec.rawOffset) > size ||
                          sec.rawSize > size - sec.rawOffset)) {
        // Raw data past the end of the file: keep only the part that is in it.
        sec.rawSize = sec.rawOffset > size ? 0 : static_cast<std::uint32_t>(size - sec.rawOffset);
      }
      m_sections.push_back(sec);
    }
    std::uint64_t rsrcFile = 0;
    if (!MapRva(rsrcRva, 16, &rsrcFile)) return -1;
    // The directory is read from the part of its section that lies in the file.
    std::uint64_t avail = 0;
    for (const Section& sec : m_sections) {
      if (rsrcRva >= sec.va && rsrcRva - sec.va < sec.rawSize) {
        avail = sec.rawSize - (rsrcRva - sec.va);
      }
    }
    m_rsrc.assign(static_cast<std::size_t>(std::min<std::uint64_t>(avail, rsrcSize)), '\0');
    if (!m_module.ReadAt(rsrcFile, m_rsrc.size(), m_rsrc.data())) return -1;
    return WalkTree(out) ? 1 : -1;
  }

  struct Section {
    std::uint32_t va, rawSize, rawOffset;
  };

  bool MapRva(std::uint64_t rva, std::uint64_t length, std::uint64_t* fileOffset) const {
    for (const Section& sec : m_sections) {
      if (rva >= sec.va && rva - sec.va < sec.rawSize) {
        const std::uint64_t inSection = rva - sec.va;
        if (length > sec.rawSize - inSection) return false;
        *fileOffset = sec.rawOffset + inSection;
        return true;
      }
    }
    return false;
  }

  // The entries of the directory at `offset` of the resource section; false when it leaves it.
  bool Directory(std::uint32_t offset, std::vector<std::pair<std::uint32_t, std::uint32_t>>& out) {
    if (offset > m_rsrc.size() || m_rsrc.size() - offset < 16) return false;
    const char* d = m_rsrc.data() + offset;
    const std::size_t n = static_cast<std::size_t>(U16(d + 12)) + U16(d + 14);
    if (n > (m_rsrc.size() - offset - 16) / 8) return false;
    m_entriesSeen += n;
    if (m_entriesSeen > kMaxPeEntries) return false;
    for (std::size_t i = 0; i < n; ++i) {
      const char* e = d + 16 + i * 8;
      out.emplace_back(U32(e), U32(e + 4));
    }
    return true;
  }

  // The name of a type entry: its upper-case text, or "#<n>" for a numbered one.
  bool TypeName(std::uint32_t name, std::string& out) const {
    if (!(name & 0x80000000u)) {
      out = "#" + std::to_string(name);
      return true;
    }
    const std::uint32_t at = name & 0x7FFFFFFFu;
    if (at > m_rsrc.size() || m_rsrc.size() - at < 2) return false;
    const std::size_t length = U16(m_rsrc.data() + at);
    if (length > (m_rsrc.size() - at - 2) / 2) return false;
    out.clear();
    for (std::size_t i = 0; i < length; ++i) {
      const std::uint16_t c = U16(m_rsrc.data() + at + 2 + 2 * i);
      out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    out = UpperAscii(out);
    return true;
  }

  bool WalkTree(std::vector<ResourceEntry>& out) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> types;
    if (!Directory(0, types)) return false;
    for (const auto& [typeName, typeOffset] : types) {
      std::string type;
      if (!TypeName(typeName, type)) return false;
      if (!(typeOffset & 0x80000000u)) return false;  // a type is always a directory
      std::vector<std::pair<std::uint32_t, std::uint32_t>> names;
      if (!Directory(typeOffset & 0x7FFFFFFFu, names)) return false;
      for (const auto& [name, nameOffset] : names) {
        if (!(nameOffset & 0x80000000u)) return false;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> languages;
        if (!Directory(nameOffset & 0x7FFFFFFFu, languages)) return false;
        for (const auto& [language, dataOffset] : languages) {
          if (dataOffset & 0x80000000u) return false;  // a fourth level is not a resource
          if (dataOffset > m_rsrc.size() || m_rsrc.size() - dataOffset < 16) return false;
          const char* leaf = m_rsrc.data() + dataOffset;
          ResourceEntry e;
          e.type = type;
          const std::uint32_t dataSize = U32(leaf + 4);
          if (!MapRva(U32(leaf), dataSize, &e.offset)) return false;
          e.size = dataSize;
          e.language = static_cast<std::uint16_t>(language);
          // Resources named by text are not reachable by an integer id; they are skipped.
          if (name & 0x80000000u) continue;
          e.id = name;
          out.push_back(std::move(e));
        }
      }
    }
    return true;
  }

  CResourceModule& m_module;
  std::vector<Section> m_sections;
  std::string m_rsrc;
  std::size_t m_entriesSeen = 0;
};

std::unique_ptr<CResourceModule> CResourceModule::Open(std::string_view path, OpenStatus* status) {
  if (status) *status = OpenStatus::CannotRead;
  if (path.empty()) return nullptr;
  const int fd = ::open(fs::ToNative(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  auto m = std::make_unique<FileModule>(fd, static_cast<std::uint64_t>(st.st_size));
  const OpenStatus s = ModuleParser(*m).Run();
  if (status) *status = s;
  if (s == OpenStatus::NotAProgram) return nullptr;
  m->m_status = s;
  return m;
}

std::unique_ptr<CResourceModule> CResourceModule::OpenOwn(OpenStatus* status) {
  return Open(fs::GetModulePath(), status);
}

std::unique_ptr<CResourceModule> CResourceModule::FromBytes(std::string bytes,
                                                            OpenStatus* status) {
  auto m = std::make_unique<MemoryModule>(std::move(bytes));
  const OpenStatus s = ModuleParser(*m).Run();
  if (status) *status = s;
  if (s == OpenStatus::NotAProgram) return nullptr;
  m->m_status = s;
  return m;
}

std::uint64_t CResourceModule::FileSize() const { return m_fileSize; }

bool CResourceModule::FindResource(std::string_view type, std::uint32_t id,
                                   ResourceEntry* found) const {
  const std::string wanted = UpperAscii(type);
  // The appended block's last row wins over everything; among PE resources the first language
  // listed is taken.
  const ResourceEntry* pick = nullptr;
  for (const ResourceEntry& e : m_resources) {
    if (e.id != id || e.type != wanted) continue;
    if (e.appended || !pick) pick = &e;
  }
  if (!pick) return false;
  if (found) *found = *pick;
  return true;
}

bool CResourceModule::LoadResource(std::string_view type, std::uint32_t id,
                                   std::string& out) const {
  ResourceEntry e;
  if (!FindResource(type, id, &e)) return false;
  out.assign(e.size, '\0');
  if (!ReadAt(e.offset, e.size, out.data())) {
    out.clear();
    return false;
  }
  return true;
}

std::string BuildResourceBlock(std::uint64_t imageSize, const std::vector<NewResource>& resources) {
  std::string data;
  std::string table;
  for (const NewResource& r : resources) {
    const std::uint64_t offset = data.size();
    data += r.data;
    std::string type = UpperAscii(r.type.substr(0, kTypeField - 1));
    type.resize(kTypeField, '\0');
    table += type;
    Put32(table, r.id);
    Put32(table, static_cast<std::uint32_t>(r.data.size()));
    Put64(table, offset);
  }
  std::string footer(kBlockMagic, sizeof kBlockMagic);
  Put64(footer, imageSize);
  Put32(footer, static_cast<std::uint32_t>(resources.size()));
  Put32(footer, 0);
  return data + table + footer;
}

}  // namespace platform::module

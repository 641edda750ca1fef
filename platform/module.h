// Program files opened as resource modules: their resources are read, their code is never run.
// Two kinds of program files carry resources: Windows executables (PE32 and PE32+, the ".rsrc"
// directory) and our own program files (an ELF executable, or any file, followed by an appended
// resource block). Resources of the appended block hide PE resources with the same type and id.
// Every offset and size is checked against the file: a directory or block that leaves it is
// refused as a whole (the module then has no resources), nothing is read outside a resource.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::module {

// The resource type every program resource of ours has.
inline constexpr std::string_view kResourceType = "MYDATA";

// What kind of file a module was opened from.
enum class Format { Elf, Pe, Other };

// What was found while opening.
enum class OpenStatus {
  Ok,            // a program file; its resources (possibly none) are readable
  CannotRead,    // the file cannot be opened or read
  NotAProgram,   // neither a PE nor an ELF file, and no appended block
  BadResources,  // a program file whose resource directory or block leaves the file: no resources
};

// One resource as the module lists it.
struct ResourceEntry {
  std::string type;            // upper-case name ("MYDATA"), or "#<n>" for a numbered type
  std::uint32_t id = 0;        // integer name
  std::uint16_t language = 0;  // PE language id, 0 in the appended block
  std::uint64_t offset = 0;    // position of the bytes in the file
  std::uint32_t size = 0;      // number of bytes
  bool appended = false;       // from our appended block (else from the PE directory)
};

// One resource to be written into an appended block.
struct NewResource {
  std::string type;  // at most 15 bytes ("MYDATA")
  std::uint32_t id = 0;
  std::string data;
};

class CResourceModule {
 public:
  virtual ~CResourceModule() = default;
  // Opens a program file for reading its resources; nullptr when it is no program file or cannot
  // be read (`status` tells which).
  static std::unique_ptr<CResourceModule> Open(std::string_view path, OpenStatus* status = nullptr);
  // The running program file.
  static std::unique_ptr<CResourceModule> OpenOwn(OpenStatus* status = nullptr);
  // A module over bytes held in memory (tools and fuzzing).
  static std::unique_ptr<CResourceModule> FromBytes(std::string bytes,
                                                    OpenStatus* status = nullptr);

  // The resource of `type` (compared without regard to ASCII case) and `id`, any language;
  // false when there is none.
  bool FindResource(std::string_view type, std::uint32_t id, ResourceEntry* found = nullptr) const;
  // The bytes of a resource; false when there is none or it cannot be read.
  bool LoadResource(std::string_view type, std::uint32_t id, std::string& out) const;
  // Every resource in file order (PE directory order, then the block's table order).
  const std::vector<ResourceEntry>& Resources() const { return m_resources; }
  // The length of the file without our appended block (the program image).
  std::uint64_t ImageSize() const { return m_imageSize; }
  // The length of the whole file.
  std::uint64_t FileSize() const;
  // Reads bytes of the file; false when they are not all inside it.
  virtual bool ReadAt(std::uint64_t offset, std::size_t size, char* out) const = 0;
  Format format() const { return m_format; }
  OpenStatus status() const { return m_status; }

 protected:
  CResourceModule() = default;
  std::uint64_t m_fileSize = 0;

 private:
  friend class ModuleParser;
  std::vector<ResourceEntry> m_resources;
  std::uint64_t m_imageSize = 0;
  Format m_format = Format::Other;
  OpenStatus m_status = OpenStatus::Ok;
};

// The appended block that follows a program image of `imageSize` bytes and holds `resources`
// (in this order). Append it to the image to form the program file.
std::string BuildResourceBlock(std::uint64_t imageSize, const std::vector<NewResource>& resources);

}  // namespace platform::module

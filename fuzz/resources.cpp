// Bytes as a program file: the PE resource directory and our appended block.
#include "content/IssueInfo.h"
#include "platform/module.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto m = platform::module::CResourceModule::FromBytes(
      std::string(reinterpret_cast<const char*>(data), size));
  if (!m) return 0;
  for (const auto& e : m->Resources()) {
    if (e.offset > size || e.size > size - e.offset) __builtin_trap();
    std::string out;
    m->LoadResource(e.type, e.id, out);
  }
  if (m->ImageSize() > size) __builtin_trap();
  ReadTextResource(m.get(), issue_resource::kPid);
  return 0;
}

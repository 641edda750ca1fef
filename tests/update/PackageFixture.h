// Folder packages made in memory for tests: the entries' bytes, then the directory of 264-byte
// entries, then the 12-byte trailer.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace updatetest {

inline void PutLe32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

// A package of (name, bytes) entries; `announced` (when >= 0) replaces the count in the trailer.
inline std::string MakePackage(const std::vector<std::pair<std::string, std::string>>& entries,
                               std::int64_t announced = -1) {
  std::string out;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> places;
  for (const auto& e : entries) {
    places.emplace_back(static_cast<std::uint32_t>(out.size()),
                        static_cast<std::uint32_t>(e.second.size()));
    out += e.second;
  }
  const auto dirOffset = static_cast<std::uint32_t>(out.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::string name(256, '\0');
    std::memcpy(name.data(), entries[i].first.data(), std::min<std::size_t>(255, entries[i].first.size()));
    out += name;
    PutLe32(out, places[i].first);
    PutLe32(out, places[i].second);
  }
  PutLe32(out, dirOffset);
  PutLe32(out, 0);
  PutLe32(out, static_cast<std::uint32_t>(announced >= 0 ? announced : entries.size()));
  return out;
}

}  // namespace updatetest

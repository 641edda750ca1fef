// The descriptive texts of one issue, read from the MYDATA resources of an issue file (a copy of
// the program carrying one issue), and the per-issue reading log ReadLog.ini.
#pragma once

#include "platform/module.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Resource ids of an issue file (type "MYDATA").
namespace issue_resource {
inline constexpr std::uint32_t kPid = 162;
inline constexpr std::uint32_t kName = 163;
inline constexpr std::uint32_t kDate = 226;
inline constexpr std::uint32_t kPriceFlag = 227;
inline constexpr std::uint32_t kUnused268 = 268;
inline constexpr std::uint32_t kReaderKind = 280;
inline constexpr std::uint32_t kUnused289 = 289;
inline constexpr std::uint32_t kType = 294;
inline constexpr std::uint32_t kPrice = 299;
inline constexpr std::uint32_t kSortId = 165;
inline constexpr std::uint32_t kOpenAtFirstStart = 166;
inline constexpr std::uint32_t kContainer = 188;
inline constexpr std::uint32_t kSkinPackage = 151;
inline constexpr std::uint32_t kReaderMovie = 152;
inline constexpr std::uint32_t kDataPackage = 161;
}  // namespace issue_resource

// A text resource counts only with 1 to this many bytes.
inline constexpr std::size_t kMaxTextResource = 1024;

class CIssueInfo {
 public:
  // Reads the texts from the issue file at `path`; from the running program file when `path` is
  // empty, names no file, or is no program file. Always true.
  bool LoadFromModule(std::string_view path);
  // True once for the issue the running program file carries when it asks to be opened at its
  // first start; records that in ReadLog.ini.
  bool IsFirstOpenOfSelf();
  // The same for the program file at `path` (the running one when empty).
  bool IsFirstOpenOf(std::string_view path);
  // The ReadLog.ini section of an issue: type + "_" + pid.
  static std::string ReadLogSection(const CIssueInfo& issue);
  // A value of the issue's ReadLog.ini section (at most 99 bytes), empty when unset.
  static std::string GetReadLog(const CIssueInfo& issue, std::string_view key);
  // Stores a value in the issue's ReadLog.ini section.
  static bool SetReadLog(const CIssueInfo& issue, std::string_view key, std::string_view value);
  // The module the texts were read from (null for the running program file).
  const platform::module::CResourceModule* module() const { return m_module.get(); }

  std::string pid;
  std::string name;
  std::string date;
  std::string priceFlag;
  std::string unused268;
  std::string sortId;
  std::string readerKind;
  std::string unused289;
  std::string type;
  std::string price;
  std::string openAtFirstStart;

 private:
  std::unique_ptr<platform::module::CResourceModule> m_module;
};

// The text of a MYDATA resource: its bytes when it has 1 to 1024 of them, else empty.
std::string ReadTextResource(const platform::module::CResourceModule* module, std::uint32_t id);

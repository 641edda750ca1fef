// The application settings in config.xml: attributes of one `Config` element, read and written
// one key at a time (nothing is cached). Start-up plugs it into the paths object before the
// paths are built, so that every configuration access goes to the file:
//   CAppPaths::Instance().SetConfigStore(&CConfigFile::Instance());
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/base/AppPaths.h"

class CConfigFile : public CConfigStore {
 public:
  // The one instance of the process; its file is the application paths' ConfigFile.
  static CConfigFile& Instance();

  // A store whose file is taken from the application paths at every access.
  CConfigFile() = default;
  // A store kept in the given file (tests, tools).
  explicit CConfigFile(std::string path) : m_path(std::move(path)) {}

  // The attribute `key` of `Config`; empty when the file, the element or the key is missing.
  std::string GetConfigValue(std::string_view key);
  // Sets `key` = value, keeping the other keys; a missing or unreadable file is replaced by a
  // new one with this key alone. The file is replaced atomically; false when it could not be or
  // the key is no attribute name.
  bool SetConfigValue(std::string_view key, std::string_view value);

  std::string GetValue(std::string_view key) override { return GetConfigValue(key); }
  bool SetValue(std::string_view key, std::string_view value) override {
    return SetConfigValue(key, value);
  }

  // The text a new config.xml starts with.
  static constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>";

 private:
  std::string FilePath() const;

  std::mutex m_lock;  // one change at a time, so that no concurrent change is lost
  std::optional<std::string> m_path;
};

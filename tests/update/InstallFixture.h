// A fresh application folder for the installation tests: ExeFiles and Update in a temporary
// folder, the paths object pointed at them for the length of a test.
#pragma once

#include "app/base/AppPaths.h"
#include "platform/ini.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace updatetest {

class InstallTest : public ::testing::Test {
 protected:
  InstallTest() {
    CAppPaths& paths = CAppPaths::Instance();
    m_oldExeFiles = paths.ExeFilesFolder;
    m_oldUpdate = paths.UpdateFolder;
    paths.ExeFilesFolder = m_dir / "ExeFiles";
    paths.UpdateFolder = m_dir / "Update";
    std::filesystem::create_directories(paths.ExeFilesFolder);
    std::filesystem::create_directories(paths.UpdateFolder);
  }
  ~InstallTest() override {
    CAppPaths& paths = CAppPaths::Instance();
    paths.ExeFilesFolder = m_oldExeFiles;
    paths.UpdateFolder = m_oldUpdate;
  }

  std::string exeFiles(const std::string& rest = {}) const {
    return m_dir / "ExeFiles" + (rest.empty() ? "" : "/" + rest);
  }
  std::string updateFolder(const std::string& rest = {}) const {
    return m_dir / "Update" + (rest.empty() ? "" : "/" + rest);
  }
  std::string versionFile() const { return exeFiles("Version.ini"); }
  // The recorded version of a key, or "" when the key is missing.
  std::string recorded(const std::string& key) const {
    return platform::ini::GetString(versionFile(), "Version", key, "");
  }
  void record(const std::string& key, int version) const {
    ASSERT_TRUE(platform::ini::SetString(versionFile(), "Version", key, std::to_string(version)));
  }
  // Every file below `root`, relative to it, sorted.
  static std::vector<std::string> FilesBelow(const std::string& root) {
    std::vector<std::string> names;
    if (!std::filesystem::exists(root)) return names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
      if (!e.is_directory()) names.push_back(std::filesystem::relative(e.path(), root).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  testsupport::TempDir m_dir;

 private:
  std::string m_oldExeFiles;
  std::string m_oldUpdate;
};

}  // namespace updatetest

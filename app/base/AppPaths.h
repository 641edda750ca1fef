// Every folder and file the program uses, built once at start, and the small operations that
// belong to the application folder: configuration access, the download folder, the versioned
// component folders, autostart and shortcuts.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Where configuration values live (config.xml in the program; a map in tests).
class CConfigStore {
 public:
  virtual ~CConfigStore() = default;
  // The value of `key`, empty when it has none.
  virtual std::string GetValue(std::string_view key) = 0;
  // Stores `key` = value; false when it could not be stored.
  virtual bool SetValue(std::string_view key, std::string_view value) = 0;
};

// A configuration held in memory only, used until config.xml is plugged in.
class CMemoryConfigStore : public CConfigStore {
 public:
  std::string GetValue(std::string_view key) override;
  bool SetValue(std::string_view key, std::string_view value) override;

 private:
  std::mutex m_lock;
  std::map<std::string, std::string, std::less<>> m_values;
};

// One candidate root of the download folder (a fixed drive elsewhere).
struct DriveRoot {
  std::string root;             // ends with the separator
  bool fixed = false;           // a local disk the user can write to
  std::uint64_t freeBytes = 0;  // free bytes available to the user
};

class CAppPaths {
 public:
  // The one instance of the process.
  static CAppPaths& Instance();

  // Builds every field and creates the folders; always true.
  bool InitPaths();
  // The download folder: configured, else the roomiest root's, else the application folder's,
  // else empty. Stores a newly chosen folder as "down_save".
  std::string ChooseDownloadFolder();
  // True when a probe file can be written beside `folder` + " muravelTestWrite.exe".
  bool IsFolderWritable(std::string_view folder);
  // The root of the roomiest candidate (home folder or writable local mount), ending in "/".
  std::string FindRoomiestFixedDrive();
  // The selection rule alone: the first fixed root with strictly the most free KiB, or
  // `fallback` when none reports free space.
  static std::string SelectRoomiestRoot(const std::vector<DriveRoot>& roots,
                                        std::string_view fallback);
  // ExeFiles/data_<version>/ with the "data" version of Version.ini.
  std::string GetDataFolderPath();
  // ExeFiles/skin_<version>/ with the "skin" version.
  std::string GetSkinFolderPath();
  // ExeFiles/<version>/Read.Swf with the "read.swf" version.
  std::string GetReaderMoviePath();
  // ExeFiles/Version.ini.
  std::string GetVersionFile() const;
  // ExeFiles/ReadLog.ini.
  std::string GetReadLogFile() const;
  // The cover picture path of an issue: Images/<type>/<pid>.jpg.
  std::string GetCoverPath(std::string_view type, std::string_view pid) const;

  // The autostart value text: the program path (+ " hide"), or ";" + the path when disabled.
  static std::string FormatRunValue(std::string_view modulePath, bool enable, bool hidden);
  // Writes the login-start entry of the program (enabled or disabled).
  void SetAutoStart(bool enable, bool hidden);
  // Writes a launcher entry for `target`; the shell's result code (0, or E_FAIL).
  long CreateShortcutFile(std::string_view target, std::string_view description,
                          std::string_view workingFolder, std::string_view linkPath);
  // Makes sure the desktop entry exists; its path, or empty when it does not exist afterwards.
  std::string CreateDesktopShortcut(std::string_view workingFolder);
  // Asks once per start whether to add the desktop entry; adds the launcher menu entry silently.
  void OfferShortcuts(std::string_view workingFolder);

  // A configuration value ("down_save", "autorun", "shortcut", ...), empty when unset.
  std::string GetConfigValue(std::string_view key);
  // Stores a configuration value; false when it could not be stored.
  bool SetConfigValue(std::string_view key, std::string_view value);
  // Plugs in where configuration values live (not owned; must outlive its use).
  void SetConfigStore(CConfigStore* store);

  // Tunables for tests: the folder above "muravel3.0" (empty = the system's roaming data
  // folder) and the candidate roots (empty = asked from the system).
  void SetRoamingFolderForTest(std::string_view folder) { m_roamingOverride = folder; }
  void SetDriveRootsForTest(std::vector<DriveRoot> roots) { m_rootsOverride = std::move(roots); }

  std::string ModuleFolder;
  std::string AutoUpdatePath;
  std::string AppFolder;
  std::string ExeFilesFolder;
  std::string UpdateFolder;
  std::string ImagesFolder;
  std::string DataFolder;
  std::string UserFile;
  std::string ConfigFile;
  std::string BookClassFile;
  std::string MagClassFile;
  std::string DownloadFolder;
  std::string BookNewReadFile;
  std::string MagNewReadFile;
  std::string BookShelfFile;
  std::string MagShelfFile;

 private:
  std::string m_roamingOverride;
  std::vector<DriveRoot> m_rootsOverride;
  CMemoryConfigStore m_memoryConfig;
  CConfigStore* m_config = &m_memoryConfig;
};

// Names the program uses for itself in the shell.
inline constexpr char kVendorFolder[] = "quorvex.com";
inline constexpr char kAppFolderName[] = "muravel3.0";
inline constexpr char kShellName[] = "Quorvex-MuravelV3.0";
inline constexpr char kStartMenuFolder[] = "Quorvex";
inline constexpr char kDownloadFolderName[] = "QuorvexDownLoad";

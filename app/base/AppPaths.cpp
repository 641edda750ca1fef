#include "app/base/AppPaths.h"

#include "app/base/FileUtil.h"
#include "platform/fs.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/ui.h"

namespace fs = platform::fs;

namespace {

constexpr char kProbeName[] = " muravelTestWrite.exe";  // begins with a space, by design
constexpr char kProbeContent[] = "write_ok";
constexpr char kMessageCaption[] = "Nivora";
// The desktop-shortcut question, in UTF-8 here and in the system code page when shown.
constexpr char kShortcutQuestion[] =
    "Muravel检查到你的桌面还没建立Muravel的快捷方式,\r\n\r\n"
    "为了方便以后打开Muravel,是否为您创建Muravel的桌面快捷方式.";

std::string WithSeparator(std::string folder) {
  if (folder.empty() || folder.back() != fs::kSeparator) folder.push_back(fs::kSeparator);
  return folder;
}

std::string ShortcutPathIn(const std::string& folder) {
  return WithSeparator(folder) + kShellName + std::string(platform::shell::kShortcutExtension);
}

}  // namespace

std::string CMemoryConfigStore::GetValue(std::string_view key) {
  std::lock_guard<std::mutex> hold(m_lock);
  const auto it = m_values.find(key);
  return it == m_values.end() ? std::string() : it->second;
}

bool CMemoryConfigStore::SetValue(std::string_view key, std::string_view value) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_values[std::string(key)] = std::string(value);
  return true;
}

CAppPaths& CAppPaths::Instance() {
  static CAppPaths paths;
  return paths;
}

bool CAppPaths::InitPaths() {
  ModuleFolder = CFileUtil::GetModuleFolder();
  AutoUpdatePath = ModuleFolder + "/AutoUpdate.exe";

  std::string roaming = m_roamingOverride.empty()
                            ? fs::GetSpecialFolder(fs::SpecialFolder::RoamingData)
                            : m_roamingOverride;
  roaming = WithSeparator(roaming) + kVendorFolder + "/";
  fs::CreateFolder(roaming);
  AppFolder = roaming + kAppFolderName;
  fs::CreateFolder(AppFolder);

  ExeFilesFolder = AppFolder + "/ExeFiles";
  fs::CreateFolder(ExeFilesFolder);
  UpdateFolder = AppFolder + "/Update";
  fs::CreateFolder(UpdateFolder);
  ImagesFolder = AppFolder + "/Images";
  fs::CreateFolder(ImagesFolder);
  fs::CreateFolder(ImagesFolder + "/book");
  fs::CreateFolder(ImagesFolder + "/mag");
  DataFolder = AppFolder + "/Data";
  fs::CreateFolder(DataFolder);

  UserFile = DataFolder + "/user.xml";
  ConfigFile = DataFolder + "/config.xml";
  BookClassFile = DataFolder + "/BookClass.xml";
  MagClassFile = DataFolder + "/MagClass.xml";

  DownloadFolder = ChooseDownloadFolder();

  BookNewReadFile = DataFolder + "/BookNewRead.xml";
  MagNewReadFile = DataFolder + "/MagNewRead.xml";
  BookShelfFile = DataFolder + "/BookShelf.xml";
  MagShelfFile = DataFolder + "/MagShelf.xml";
  return true;
}

std::string CAppPaths::ChooseDownloadFolder() {
  const std::string configured = GetConfigValue("down_save");
  if (!configured.empty()) {
    fs::CreateFolder(configured);
    if (IsFolderWritable(configured)) return configured;  // the configuration stays as it is
  }
  const std::string candidates[] = {
      FindRoomiestFixedDrive() + kDownloadFolderName + "/",
      AppFolder + "/" + kDownloadFolderName + "/",
  };
  for (const std::string& candidate : candidates) {
    fs::CreateFolder(candidate);
    if (IsFolderWritable(candidate)) {
      SetConfigValue("down_save", candidate);
      return candidate;
    }
  }
  return std::string();
}

bool CAppPaths::IsFolderWritable(std::string_view folder) {
  const std::string probe = std::string(folder) + kProbeName;
  if (std::FILE* f = fs::OpenFile(probe, "wb")) {
    std::fwrite(kProbeContent, 1, sizeof kProbeContent - 1, f);
    std::fclose(f);
  }
  if (!fs::Exists(probe)) return false;
  fs::RemoveFile(probe);
  return true;
}

std::string CAppPaths::SelectRoomiestRoot(const std::vector<DriveRoot>& roots,
                                          std::string_view fallback) {
  std::string best(fallback);
  std::uint64_t bestFree = 0;
  for (const DriveRoot& r : roots) {
    if (!r.fixed) continue;
    const std::uint64_t freeKiB = r.freeBytes / 1024;
    if (freeKiB > bestFree) {
      best = r.root;
      bestFree = freeKiB;
    }
  }
  return best;
}

std::string CAppPaths::FindRoomiestFixedDrive() {
  std::vector<DriveRoot> roots = m_rootsOverride;
  if (roots.empty()) {
    for (const fs::VolumeRoot& v : fs::ListVolumeRoots()) {
      roots.push_back({v.root, v.fixed, v.freeBytes});
    }
  }
  const std::string fallback = WithSeparator(fs::GetSpecialFolder(fs::SpecialFolder::Home));
  return SelectRoomiestRoot(roots, fallback);
}

std::string CAppPaths::GetDataFolderPath() {
  return ExeFilesFolder + "/data_" + std::to_string(CFileUtil::GetComponentVersion("data")) + "/";
}

std::string CAppPaths::GetSkinFolderPath() {
  return ExeFilesFolder + "/skin_" + std::to_string(CFileUtil::GetComponentVersion("skin")) + "/";
}

std::string CAppPaths::GetReaderMoviePath() {
  return ExeFilesFolder + "/" + std::to_string(CFileUtil::GetComponentVersion("read.swf")) +
         "/Read.Swf";
}

std::string CAppPaths::GetVersionFile() const { return ExeFilesFolder + "/Version.ini"; }

std::string CAppPaths::GetReadLogFile() const { return ExeFilesFolder + "/ReadLog.ini"; }

std::string CAppPaths::GetCoverPath(std::string_view type, std::string_view pid) const {
  return ImagesFolder + "/" + std::string(type) + "/" + std::string(pid) + ".jpg";
}

std::string CAppPaths::FormatRunValue(std::string_view modulePath, bool enable, bool hidden) {
  if (!enable) return ";" + std::string(modulePath);
  return std::string(modulePath) + (hidden ? " hide" : "");
}

void CAppPaths::SetAutoStart(bool enable, bool hidden) {
  // The entry carries what the Run value would: the program, " hide" when enabled hidden, and
  // a disabled entry that starts nothing.
  platform::shell::WriteAutostartEntry(
      kShellName, CFileUtil::GetModulePath(), enable && hidden ? "hide" : "",
      enable ? platform::shell::AutostartState::Enabled : platform::shell::AutostartState::Disabled);
}

long CAppPaths::CreateShortcutFile(std::string_view target, std::string_view description,
                                   std::string_view workingFolder, std::string_view linkPath) {
  return platform::shell::CreateShortcut(target, description, workingFolder, linkPath);
}

std::string CAppPaths::CreateDesktopShortcut(std::string_view workingFolder) {
  const std::string desktop = fs::GetSpecialFolder(fs::SpecialFolder::Desktop);
  if (desktop.empty()) return std::string();
  const std::string link = ShortcutPathIn(desktop);
  if (!fs::Exists(link)) {
    CreateShortcutFile(CFileUtil::GetModulePath(), kShellName, workingFolder, link);
  }
  return fs::Exists(link) ? link : std::string();
}

void CAppPaths::OfferShortcuts(std::string_view workingFolder) {
  const std::string desktop = fs::GetSpecialFolder(fs::SpecialFolder::Desktop);
  if (desktop.empty()) return;
  const std::string desktopLink = ShortcutPathIn(desktop);
  if (!fs::Exists(desktopLink)) {
    const auto answer = platform::ui::ShowMessageBox(
        platform::Utf8ToSystem(kShortcutQuestion), platform::Utf8ToSystem(kMessageCaption),
        platform::ui::MessageBoxKind::YesNo);
    if (answer == platform::ui::MessageBoxAnswer::Yes) {
      SetConfigValue("shortcut", "1");
      CreateDesktopShortcut(workingFolder);
    }
  }
  const std::string programs = fs::GetSpecialFolder(fs::SpecialFolder::StartPrograms);
  if (programs.empty()) return;
  const std::string folder = WithSeparator(programs) + kStartMenuFolder + "/";
  const std::string link = ShortcutPathIn(folder);
  if (!fs::Exists(link)) {
    fs::CreateFolder(folder);
    CreateShortcutFile(CFileUtil::GetModulePath(), kShellName, workingFolder, link);
  }
}

std::string CAppPaths::GetConfigValue(std::string_view key) { return m_config->GetValue(key); }

bool CAppPaths::SetConfigValue(std::string_view key, std::string_view value) {
  return m_config->SetValue(key, value);
}

void CAppPaths::SetConfigStore(CConfigStore* store) {
  m_config = store ? store : &m_memoryConfig;
}

#include "update/ProgramCopy.h"

#include "app/base/AppPaths.h"
#include "app/base/FileUtil.h"
#include "content/IssueInfo.h"
#include "platform/fs.h"
#include "platform/module.h"
#include "platform/process.h"
#include "update/Unpack.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace fs = platform::fs;

namespace {

// The copy workers started by this process, so that an orderly end (and a test) can wait for
// them; the workers themselves are detached.
struct CopyWorkers {
  std::mutex lock;
  std::condition_variable done;
  int running = 0;
};

CopyWorkers& Workers() {
  static CopyWorkers* workers = new CopyWorkers;  // outlives detached workers at exit
  return *workers;
}

std::string ProgramFile(const ProgramCopyTunables& tunables) {
  return tunables.programFile.empty() ? CFileUtil::GetModulePath() : tunables.programFile;
}

std::string ExeFiles() { return CAppPaths::Instance().ExeFilesFolder; }

// ExeFiles/<version>/
std::string VersionFolder(int version) {
  return ExeFiles() + "/" + std::to_string(version) + "/";
}

void StartCopyWorker(const ProgramCopyTunables& tunables) {
  CopyWorkers& w = Workers();
  {
    std::lock_guard<std::mutex> hold(w.lock);
    ++w.running;
  }
  std::thread([tunables] {
    InstallProgramCopy(tunables);
    CopyWorkers& workers = Workers();
    std::lock_guard<std::mutex> hold(workers.lock);
    --workers.running;
    workers.done.notify_all();
  }).detach();
}

// One component the program file carries.
struct Component {
  const char* key;
  int resource;
  ResourceKind kind;
};

constexpr Component kComponents[] = {
    {"skin", issue_resource::kSkinPackage, ResourceKind::Package},
    {"data", issue_resource::kDataPackage, ResourceKind::Package},
    {kReaderMovieName, issue_resource::kReaderMovie, ResourceKind::SingleFile},
};

}  // namespace

bool CheckReaderVersion(CIssueInfo& ownIssue, const ProgramCopyTunables& tunables) {
  const int installed = CFileUtil::GetComponentVersion(kProgramCopyName);
  if (installed < kBuildNumber) {
    StartCopyWorker(tunables);
    return true;
  }
  if (installed == kBuildNumber) return true;

  const std::string newer = VersionFolder(installed) + kProgramCopyName;
  if (!CFileUtil::FileExists(newer)) return true;
  std::vector<std::string> arguments;
  const bool firstOpen = tunables.programFile.empty()
                             ? ownIssue.IsFirstOpenOfSelf()
                             : ownIssue.IsFirstOpenOf(tunables.programFile);
  if (firstOpen) arguments = {"-p", ProgramFile(tunables)};
  // A copy that cannot be started must not leave the user with no program at all: this one
  // goes on instead.
  return !platform::process::StartProgram(newer, arguments);
}

void ExtractSharedResources(const ProgramCopyTunables& tunables) {
  for (const Component& c : kComponents) {
    if (CFileUtil::GetComponentVersion(c.key) > kBuildNumber) continue;  // a newer one is in use
    std::string target;
    std::string folder;
    if (c.kind == ResourceKind::Package) {
      folder = ExeFiles() + "/" + c.key + "_" + std::to_string(kBuildNumber) + "/";
      target = folder;
    } else {
      folder = VersionFolder(kBuildNumber);
      target = folder + c.key;
    }
    fs::CreateFolders(folder);
    bool ok = ExtractResource(c.resource, target, c.kind, tunables);
    if (ok && c.kind == ResourceKind::SingleFile) ok = WriteReaderMovieAlias(folder);
    // Only a complete component is recorded, so that an older complete one stays in use.
    if (ok) CFileUtil::SetComponentVersion(c.key, kBuildNumber);
  }
}

bool ExtractResource(int id, std::string_view target, ResourceKind kind,
                     const ProgramCopyTunables& tunables) {
  using platform::module::CResourceModule;
  const std::unique_ptr<CResourceModule> module =
      tunables.programFile.empty() ? CResourceModule::OpenOwn()
                                   : CResourceModule::Open(tunables.programFile);
  if (!module || id < 0) return false;
  std::string bytes;
  if (!module->LoadResource(platform::module::kResourceType, static_cast<std::uint32_t>(id),
                            bytes)) {
    return false;
  }
  if (kind == ResourceKind::Package) {
    return UnpackFolderPackage(bytes, target) == UnpackResult::Done;
  }
  return WriteFileWhole(target, bytes, FileMode::Data);
}

void InstallProgramCopy(const ProgramCopyTunables& tunables) {
  const std::string folder = VersionFolder(kBuildNumber);
  fs::CreateFolders(folder);
  const std::string target = folder + kProgramCopyName;
  // An existing copy is kept; a new one appears under its name only once it is complete.
  if (!CFileUtil::FileExists(target)) fs::CopyFile(ProgramFile(tunables), target);
  if (CFileUtil::FileExists(target)) {
    CFileUtil::SetComponentVersion(kProgramCopyName, kBuildNumber);
  }
}

bool WaitForProgramCopy(std::chrono::milliseconds timeout) {
  CopyWorkers& w = Workers();
  std::unique_lock<std::mutex> hold(w.lock);
  return w.done.wait_for(hold, timeout, [&w] { return w.running == 0; });
}

bool WriteReaderMovieAlias(std::string_view folder) {
  const std::string movie = fs::JoinPath(folder, kReaderMovieName);
  std::string bytes;
  if (!fs::ReadFile(movie, bytes)) return false;
  return WriteFileWhole(fs::JoinPath(folder, kReaderMovieAlias), bytes, FileMode::Data);
}

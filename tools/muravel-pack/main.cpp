// muravel-pack: makes folder packages, lists and extracts them, sets MYDATA resources of a
// program file, and makes issue files (a program file carrying one issue).
#include "content/FolderPackage.h"
#include "content/IssueInfo.h"
#include "platform/fs.h"
#include "platform/module.h"
#include "platform/text.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = platform::fs;
namespace mod = platform::module;

namespace {

constexpr char kUsage[] =
    "usage:\n"
    "  muravel-pack package DIR OUT\n"
    "  muravel-pack list FILE\n"
    "  muravel-pack extract FILE OUTDIR\n"
    "  muravel-pack resources PROGRAM OUT --set ID=FILE [--set ID=FILE ...]\n"
    "  muravel-pack issue --program PROGRAM --folder CONTENT_DIR --out OUT_FILE --pid P\n"
    "               --name NAME --date DATE --type mag|book --price-flag 0|1 --reader-kind 0|1\n"
    "               [--price TEXT] [--sort-id S] [--open-at-first-start 0|1]\n"
    "Texts are given in UTF-8 and stored in the system code page (GBK).\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "muravel-pack: %s\n", message.c_str());
  return 1;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "muravel-pack: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// Paths on the command line are UTF-8; the platform layer takes system-code-page texts.
std::string PathArg(const std::string& utf8) { return platform::Utf8ToSystem(utf8); }

bool WriteOutput(const std::string& path, const std::string& bytes, bool executable) {
  if (!fs::ReplaceFile(path, bytes, executable ? 0755 : 0644)) return false;
  if (executable) {
    std::error_code ec;
    std::filesystem::permissions(fs::ToNative(path),
                                 std::filesystem::perms::owner_exec |
                                     std::filesystem::perms::group_exec |
                                     std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add, ec);
  }
  return true;
}

// The container bytes of FILE: resource 188 of a program file, else the file itself.
bool ContainerOf(const std::string& path, std::string& out, std::string* what) {
  auto module = mod::CResourceModule::Open(path);
  if (module && module->LoadResource(mod::kResourceType, issue_resource::kContainer, out)) {
    if (what) *what = "resource 188 of a program file";
    return true;
  }
  if (!fs::ReadFile(path, out)) return false;
  if (what) *what = "folder package";
  return true;
}

// A copy of the program at `program` whose appended block holds its old block resources, minus
// those replaced, plus `set` (in this order).
bool WriteProgramWithResources(const std::string& program, const std::string& out,
                               const std::vector<mod::NewResource>& set, std::string* error,
                               const std::vector<std::uint32_t>& drop = {}) {
  std::string bytes;
  if (!fs::ReadFile(program, bytes)) {
    *error = "cannot read " + program;
    return false;
  }
  mod::OpenStatus status;
  auto module = mod::CResourceModule::FromBytes(bytes, &status);
  if (!module) {
    *error = program + " is not a program file (PE, ELF or one with a resource block)";
    return false;
  }
  if (status == mod::OpenStatus::BadResources) {
    *error = program + " has a damaged resource directory or block";
    return false;
  }
  std::vector<mod::NewResource> kept;
  for (const mod::ResourceEntry& e : module->Resources()) {
    if (!e.appended) continue;  // PE resources stay in the image itself
    bool replaced = false;
    for (const mod::NewResource& n : set) {
      if (n.id == e.id && n.type == e.type) {
        replaced = true;
      }
    }
    for (std::uint32_t id : drop) {
      if (e.id == id && e.type == mod::kResourceType) replaced = true;
    }
    if (replaced) continue;
    mod::NewResource r;
    r.type = e.type;
    r.id = e.id;
    r.data.assign(e.size, '\0');
    if (!module->ReadAt(e.offset, e.size, r.data.data())) {
      *error = "cannot read a resource of " + program;
      return false;
    }
    kept.push_back(std::move(r));
  }
  for (const mod::NewResource& n : set) kept.push_back(n);
  const std::uint64_t imageSize = module->ImageSize();
  std::string result = bytes.substr(0, static_cast<std::size_t>(imageSize));
  result += mod::BuildResourceBlock(imageSize, kept);
  if (!WriteOutput(out, result, true)) {
    *error = "cannot write " + out;
    return false;
  }
  return true;
}

int CmdPackage(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("package takes DIR OUT");
  std::vector<PackageFile> files;
  std::string error;
  if (!CollectFolderFiles(PathArg(args[0]), files, &error)) return Fail(error);
  if (!WriteOutput(PathArg(args[1]), BuildFolderPackage(files), false)) {
    return Fail("cannot write " + args[1]);
  }
  std::printf("%zu files packed into %s\n", files.size(), args[1].c_str());
  return 0;
}

int CmdList(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("list takes FILE");
  const std::string path = PathArg(args[0]);
  mod::OpenStatus status;
  if (auto module = mod::CResourceModule::Open(path, &status)) {
    if (status == mod::OpenStatus::BadResources) {
      std::printf("program file with a damaged resource directory or block\n");
    }
    for (const mod::ResourceEntry& e : module->Resources()) {
      std::printf("resource %s %u lang %u %u bytes%s\n", e.type.c_str(), e.id, e.language,
                  e.size, e.appended ? "" : " (PE)");
    }
  }
  std::string data, what;
  if (!ContainerOf(path, data, &what)) return Fail("cannot read " + args[0]);
  std::vector<PackageEntry> entries;
  const PackageStatus s = ReadFolderPackage(data, entries);
  if (s != PackageStatus::Ok) return Fail(what + ": " + PackageStatusText(s));
  std::printf("%s, %zu entries\n", what.c_str(), entries.size());
  for (const PackageEntry& e : entries) {
    std::printf("%10u  %s\n", e.size, platform::SystemToUtf8(e.name).c_str());
  }
  return 0;
}

int CmdExtract(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("extract takes FILE OUTDIR");
  std::string data;
  if (!ContainerOf(PathArg(args[0]), data, nullptr)) return Fail("cannot read " + args[0]);
  const std::string folder = PathArg(args[1]);
  if (!fs::CreateFolders(folder)) return Fail("cannot create " + args[1]);
  std::string error;
  if (!ExtractFolderPackage(data, folder, &error)) return Fail(error);
  return 0;
}

bool ParseId(const std::string& text, std::uint32_t& id) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  id = static_cast<std::uint32_t>(std::stoul(text));
  return true;
}

int CmdResources(const std::vector<std::string>& args) {
  if (args.size() < 2) return Usage("resources takes PROGRAM OUT --set ID=FILE ...");
  std::vector<mod::NewResource> set;
  for (std::size_t i = 2; i < args.size(); ++i) {
    if (args[i] != "--set" || i + 1 >= args.size()) return Usage("expected --set ID=FILE");
    const std::string& setting = args[++i];
    const std::size_t eq = setting.find('=');
    mod::NewResource r;
    r.type = std::string(mod::kResourceType);
    if (eq == std::string::npos || !ParseId(setting.substr(0, eq), r.id)) {
      return Usage("bad --set " + setting);
    }
    if (!fs::ReadFile(PathArg(setting.substr(eq + 1)), r.data)) {
      return Fail("cannot read " + setting.substr(eq + 1));
    }
    set.push_back(std::move(r));
  }
  std::string error;
  if (!WriteProgramWithResources(PathArg(args[0]), PathArg(args[1]), set, &error)) {
    return Fail(error);
  }
  return 0;
}

int CmdIssue(const std::vector<std::string>& args) {
  std::map<std::string, std::string> opt;
  static const char* known[] = {"program",    "folder", "out",         "pid",
                                "name",       "date",   "type",        "price-flag",
                                "reader-kind", "price", "sort-id",     "open-at-first-start"};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) != 0 || i + 1 >= args.size()) return Usage("bad argument " + a);
    const std::string key = a.substr(2);
    bool ok = false;
    for (const char* k : known) ok = ok || key == k;
    if (!ok) return Usage("unknown option " + a);
    opt[key] = args[++i];
  }
  for (const char* required : {"program", "folder", "out", "pid", "name", "date", "type",
                               "price-flag", "reader-kind"}) {
    if (!opt.count(required)) return Usage(std::string("missing --") + required);
  }
  if (opt["type"] != "mag" && opt["type"] != "book") return Usage("--type is mag or book");
  for (const char* flag : {"price-flag", "reader-kind", "open-at-first-start"}) {
    if (opt.count(flag) && opt[flag] != "0" && opt[flag] != "1") {
      return Usage(std::string("--") + flag + " is 0 or 1");
    }
  }
  std::vector<PackageFile> files;
  std::string error;
  if (!CollectFolderFiles(PathArg(opt["folder"]), files, &error)) return Fail(error);

  std::vector<mod::NewResource> set;
  auto text = [&](std::uint32_t id, const char* key) -> bool {
    if (!opt.count(key)) return true;
    mod::NewResource r;
    r.type = std::string(mod::kResourceType);
    r.id = id;
    r.data = platform::ConvertCodePage(opt[key], platform::kCodePageUtf8, 936);
    if (r.data.empty() || r.data.size() > kMaxTextResource) {
      error = std::string("--") + key + " must be 1 to 1024 bytes in GBK";
      return false;
    }
    set.push_back(std::move(r));
    return true;
  };
  namespace r = issue_resource;
  if (!text(r::kPid, "pid") || !text(r::kName, "name") || !text(r::kDate, "date") ||
      !text(r::kPriceFlag, "price-flag") || !text(r::kReaderKind, "reader-kind") ||
      !text(r::kType, "type") || !text(r::kPrice, "price") || !text(r::kSortId, "sort-id") ||
      !text(r::kOpenAtFirstStart, "open-at-first-start")) {
    return Usage(error);
  }
  mod::NewResource container;
  container.type = std::string(mod::kResourceType);
  container.id = r::kContainer;
  container.data = BuildFolderPackage(files);
  set.push_back(std::move(container));
  // A program that is itself an issue file loses all of its issue's resources, so that no text
  // of the old issue (a price, a sort id) survives into the new one.
  const std::vector<std::uint32_t> issueIds{
      r::kPid,        r::kName,  r::kDate,  r::kPriceFlag, r::kUnused268,        r::kReaderKind,
      r::kUnused289, r::kType,  r::kPrice, r::kSortId,    r::kOpenAtFirstStart, r::kContainer};
  if (!WriteProgramWithResources(PathArg(opt["program"]), PathArg(opt["out"]), set, &error,
                                 issueIds)) {
    return Fail(error);
  }
  std::printf("issue %s (%zu files) written to %s\n", opt["pid"].c_str(), files.size(),
              opt["out"].c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::SetSystemCodePage(936);
  if (argc < 2) return Usage("no command");
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "package") return CmdPackage(args);
  if (command == "list") return CmdList(args);
  if (command == "extract") return CmdExtract(args);
  if (command == "resources") return CmdResources(args);
  if (command == "issue") return CmdIssue(args);
  if (command == "--help" || command == "-h" || command == "help") {
    std::printf("%s", kUsage);
    return 0;
  }
  return Usage("unknown command " + command);
}

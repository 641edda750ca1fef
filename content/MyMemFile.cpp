#include "content/MyMemFile.h"

#include "content/FolderPackage.h"
#include "content/IssueInfo.h"
#include "platform/module.h"
#include "platform/text.h"

#include <cstring>

namespace {

std::u16string Fold(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return out;
}

bool ContainsStream(std::string_view name) {
  return platform::ToLowerAscii(name).find("stream") != std::string::npos;
}

}  // namespace

std::u16string WidenBytes(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (char c : bytes) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

std::u16string IssueFolder(std::string_view type, std::string_view pid) {
  return kMemoryFilePrefixW + WidenBytes(type) + u"\\" + WidenBytes(pid) + u"\\";
}

CMyMemFile& CMyMemFile::Instance() {
  static CMyMemFile store;
  return store;
}

CMyMemFile::CMyMemFile() = default;

CMyMemFile::~CMyMemFile() {
  StopServer();
  Clear();
}

bool CMyMemFile::AddFile(std::u16string_view name, const char* data, std::uint32_t size) {
  // A longer name would not fit the entry; cutting it could make it hide another file.
  if (name.size() > kMaxMemFileName) return false;
  auto e = std::make_unique<MemFileEntry>();
  e->name = std::u16string(name);
  e->folded = Fold(name);
  e->data = data;
  e->size = size;
  std::lock_guard<std::mutex> hold(m_storeLock);
  m_entries.push_back(std::move(e));
  return true;
}

bool CMyMemFile::AddOwnedFile(std::u16string_view name, std::string data) {
  if (name.size() > kMaxMemFileName) return false;
  auto e = std::make_unique<MemFileEntry>();
  e->name = std::u16string(name);
  e->folded = Fold(name);
  e->owned = std::move(data);
  e->data = e->owned.data();
  e->size = static_cast<std::uint32_t>(e->owned.size());
  std::lock_guard<std::mutex> hold(m_storeLock);
  m_entries.push_back(std::move(e));
  return true;
}

const MemFileEntry* CMyMemFile::FindFile(std::u16string_view path) const {
  static const std::u16string_view prefix(kMemoryFilePrefixW);
  const std::u16string folded = Fold(path);
  if (folded.compare(0, prefix.size(), prefix) != 0) return nullptr;
  for (const auto& e : m_entries) {
    if (e->folded == folded) return e.get();
  }
  return nullptr;
}

bool CMyMemFile::ReadFile(std::u16string_view path, std::string& out) const {
  return WithFile(path, [&](const MemFileEntry& e) { out.assign(e.data, e.size); });
}

void CMyMemFile::Clear() {
  std::lock_guard<std::mutex> hold(m_storeLock);
  m_entries.clear();
  m_containerBlock.reset();
  m_earlierBlocks.clear();
}

std::size_t CMyMemFile::EntryCount() const {
  std::lock_guard<std::mutex> hold(m_storeLock);
  return m_entries.size();
}

const char* CMyMemFile::ContainerBlock() const {
  std::lock_guard<std::mutex> hold(m_storeLock);
  return m_containerBlock.get();
}

bool CMyMemFile::LoadIssueContainer(std::string_view path, std::u16string_view folder,
                                    std::string_view priceFlag, Ownership owned,
                                    std::string_view price, std::string_view balance) {
  using platform::module::CResourceModule;
  std::unique_ptr<CResourceModule> module = CResourceModule::Open(path);
  if (!module) module = CResourceModule::OpenOwn();
  if (!module) return false;
  std::string resource;
  if (!module->LoadResource(platform::module::kResourceType, issue_resource::kContainer,
                            resource)) {
    return false;
  }
  module.reset();
  return LoadContainerBytes(std::move(resource), folder, priceFlag, owned, price, balance);
}

bool CMyMemFile::LoadContainerBytes(std::string resource, std::u16string_view folder,
                                    std::string_view priceFlag, Ownership owned,
                                    std::string_view price, std::string_view balance) {
  std::vector<PackageEntry> entries;
  if (ReadFolderPackage(resource, entries) != PackageStatus::Ok) return false;
  // The block is one byte longer than the resource and ends with a zero byte.
  std::unique_ptr<char[]> block(new char[resource.size() + 1]);
  if (!resource.empty()) std::memcpy(block.get(), resource.data(), resource.size());
  block[resource.size()] = '\0';
  const char* base = block.get();
  {
    std::lock_guard<std::mutex> hold(m_storeLock);
    if (m_containerBlock) m_earlierBlocks.push_back(std::move(m_containerBlock));
    m_containerBlock = std::move(block);
  }
  const bool preview = priceFlag == "1" && owned == Ownership::NotOwned;
  for (const PackageEntry& e : entries) {
    const std::u16string name = std::u16string(folder) + WidenBytes(e.name);
    if (ContainsStream(e.name)) {
      std::string copy(base + e.offset, e.size);
      if (preview) copy = RewritePageIndexRights(copy, price, balance);
      AddOwnedFile(name, std::move(copy));
    } else {
      AddFile(name, base + e.offset, e.size);
    }
  }
  return true;
}

bool CMyMemFile::StartServer(const ServerSettings& settings) {
  {
    std::lock_guard<std::mutex> hold(m_serverStartLock);
    if (m_server) return m_serverState == ServerState::Listening;
    m_serverState = ServerState::NotStarted;
    m_server = std::make_unique<CHttpServer>(*this, settings);
  }
  CHttpServer* server = m_server.get();
  m_serverThread = std::thread([server] { server->Run(); });
  m_serverThreadId = m_serverThread.get_id();
  {
    std::unique_lock<std::mutex> hold(m_serverStartLock);
    m_serverReported.wait_for(hold, settings.startTimeout,
                              [&] { return m_serverState != ServerState::NotStarted; });
  }
  m_selfTestPassed = false;
  if (IsServerRunning() && settings.selfTest == SelfTest::Run) {
    m_selfTestPassed = RunServerSelfTest(ServerPort());
  }
  return IsServerRunning();
}

void CMyMemFile::ReportServerState(ServerState state, int port) {
  {
    std::lock_guard<std::mutex> hold(m_serverStartLock);
    m_serverState = state;
    m_serverPort = port;
  }
  m_serverReported.notify_all();
}

bool CMyMemFile::IsServerRunning() const { return GetServerState() == ServerState::Listening; }

ServerState CMyMemFile::GetServerState() const {
  std::lock_guard<std::mutex> hold(m_serverStartLock);
  return m_serverState;
}

int CMyMemFile::ServerPort() const {
  std::lock_guard<std::mutex> hold(m_serverStartLock);
  return m_serverPort;
}

void CMyMemFile::StopServer() {
  if (m_server) m_server->Stop();
  if (m_serverThread.joinable()) m_serverThread.join();
  std::lock_guard<std::mutex> hold(m_serverStartLock);
  m_server.reset();
  m_serverState = ServerState::NotStarted;
  m_serverPort = 0;
}

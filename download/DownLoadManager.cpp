#include "download/DownLoadManager.h"

#include "app/base/AppPaths.h"
#include "app/base/FileUtil.h"
#include "net/MyHttp.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/MagInfo.h"
#include "store/ShelfLists.h"

#include <algorithm>
#include <climits>

namespace fs = platform::fs;

namespace {

constexpr char kTempSuffix[] = ".temp";

// File names stay well inside the 255 bytes a name may have once converted to UTF-8 (a GBK
// character of two bytes becomes three).
constexpr std::size_t kMaxNameBytes = 96;
constexpr std::size_t kMaxDateBytes = 32;
constexpr std::size_t kMaxPidBytes = 32;

// Cuts a text to at most `limit` bytes without splitting a two-byte character.
std::string CutText(std::string_view text, std::size_t limit) {
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t step =
        (platform::IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2
                                                                                           : 1;
    if (i + step > limit) break;
    i += step;
  }
  return std::string(text.substr(0, i));
}

// Second bytes of two-byte characters lie at 0x40 and above in every double-byte code page, so
// a lead byte before "/", "." or a control byte is no character but a stray byte.
bool IsTrailByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x40 && byte != 0x7f && byte != 0xff;
}

int ClampToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, 0, INT_MAX));
}

std::int64_t TempLength(const std::string& savepath) {
  const std::string temp = savepath + kTempSuffix;
  if (!CFileUtil::FileExists(temp)) return 0;
  return static_cast<std::int64_t>(CFileUtil::GetFileLength(temp));
}

bool IsShelfType(const std::string& type) { return type == "book" || type == "mag"; }

// Ids go into a request line as they are; bytes that would end or split it are refused.
bool IsSafeId(const std::string& id) {
  if (id.empty()) return false;
  return std::none_of(id.begin(), id.end(),
                      [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; });
}

bool SameKey(const TransferKey& a, const TransferKey& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case TransferKey::Kind::Record:
      return a.record && a.record == b.record;
    case TransferKey::Kind::Category:
    case TransferKey::Kind::Cover:
      return !a.tag.empty() && a.tag == b.tag;
    default:
      return false;  // covers without a path and record requests never collide
  }
}

}  // namespace

// One background transfer: shared by the registry (to stop it) and its worker (to run it).
struct CDownLoadManager::Transfer {
  TransferKey key;
  std::string url;
  std::string path;
  std::int64_t offset = 0;
  TransferDoneFn onDone;
  TransferProgressFn onProgress;
  std::function<void()> onStart;  // run by the worker before the transfer begins
  std::atomic<bool> stopRequested{false};
  std::mutex httpLock;     // guards `http` between the worker and a stopping thread
  CMyHttp* http = nullptr; // the worker's client while it runs
  std::chrono::steady_clock::time_point lastReport{};
  bool reported = false;

  void Stop() {
    stopRequested = true;
    std::lock_guard<std::mutex> guard(httpLock);
    if (http) http->Stop();
  }
};

// The download lock, then the lists' lock: every change of a shared record's fields holds both,
// so that no save of the lists reads a half-written field. Always taken in this order.
struct CDownLoadManager::RecordGuard {
  explicit RecordGuard(CDownLoadManager& manager)
      : download(manager.m_downloadLock), lists(manager.m_shelf.LockLists()) {}
  std::lock_guard<std::mutex> download;
  std::unique_lock<std::recursive_mutex> lists;
};

struct CDownLoadManager::Worker {
  std::thread thread;
  bool done = false;
};

CDownLoadManager& CDownLoadManager::Instance() {
  static CDownLoadManager manager(CShelfLists::Instance());
  return manager;
}

CDownLoadManager::CDownLoadManager(CShelfLists& shelf, DownloadTunables tunables)
    : m_shelf(shelf), m_tunables(std::move(tunables)) {}

CDownLoadManager::~CDownLoadManager() {
  m_closed = true;
  StopAllTransfers(StopMode::NoWait);
  m_sink = nullptr;  // the window may be gone; workers still finish their bookkeeping
  {
    std::unique_lock<std::mutex> guard(m_workersLock);
    // Bounded: every transfer was stopped and the client sees a stop within a second.
    m_workersChanged.wait_for(guard, m_tunables.stopWaitTimeout,
                              [this] { return m_runningWorkers == 0; });
  }
  ReapWorkers(true);
}

void CDownLoadManager::SetEventSink(CDownloadEventSink* sink) { m_sink = sink; }

// ---------------------------------------------------------------------------------------------
// Names and numbers

std::string CDownLoadManager::SafeNamePart(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (platform::IsLeadByte(byte) && i + 1 < text.size() && IsTrailByte(text[i + 1])) {
      // A two-byte character: its second byte may be 0x5C ("\") and is not a separator.
      out += text[i];
      out += text[i + 1];
      ++i;
      continue;
    }
    if (byte < 0x20 || byte == 0x7f || byte == '/' || byte == '\\' ||
        platform::IsLeadByte(byte)) {
      out += '_';
    } else {
      out += static_cast<char>(byte);
    }
  }
  // No "..": a run of dots becomes underscores (a dot is never the second byte of a character).
  for (std::size_t i = 0; i + 1 < out.size(); ++i) {
    if (out[i] == '.' && out[i + 1] == '.') {
      std::size_t end = i;
      while (end < out.size() && out[end] == '.') out[end++] = '_';
      i = end;
    }
  }
  return out;
}

std::string CDownLoadManager::MakeSavePath(std::string_view folder, std::string_view name,
                                           std::string_view date, std::string_view pid) {
  if (folder.empty() || pid.empty()) return std::string();
  std::string path(folder);
  if (path.back() != '/') path += '/';
  // Again over the joined texts: a name ending in "." and a date beginning with one make "..".
  path += SafeNamePart(CutText(SafeNamePart(name), kMaxNameBytes) +
                       CutText(SafeNamePart(date), kMaxDateBytes));
  path += '[';
  path += CutText(SafeNamePart(pid), kMaxPidBytes);
  path += "].exe";
  return path;
}

std::string CDownLoadManager::MakeCoverPath(std::string_view imagesFolder, std::string_view type,
                                            std::string_view pid) {
  if (imagesFolder.empty() || type.empty() || pid.empty()) return std::string();
  const std::string folder =
      fs::JoinPath(imagesFolder, CutText(SafeNamePart(type), kMaxPidBytes));
  std::string file = CutText(SafeNamePart(pid), kMaxPidBytes);
  if (file.back() == '.') file.back() = '_';  // no ".." before the extension either
  return fs::JoinPath(folder, file + ".jpg");
}

int CDownLoadManager::Percent(std::int64_t bytes, std::int64_t total, bool complete) {
  if (complete) return 100;
  if (total <= 0 || bytes <= 0) return 0;
  const std::int64_t percent = std::min<std::int64_t>(bytes, total) * 100 / total;
  return static_cast<int>(std::clamp<std::int64_t>(percent, 0, 100));
}

std::string CDownLoadManager::DownloadFolder() const {
  return m_tunables.downloadFolder.empty() ? CAppPaths::Instance().DownloadFolder
                                           : m_tunables.downloadFolder;
}

std::string CDownLoadManager::ImagesFolder() const {
  return m_tunables.imagesFolder.empty() ? CAppPaths::Instance().ImagesFolder
                                         : m_tunables.imagesFolder;
}

CStoreApi CDownLoadManager::StoreApi() const {
  StoreHosts hosts = StoreHosts::FromEnvironment();
  if (!m_tunables.apiServer.empty()) hosts.apiServer = m_tunables.apiServer;
  return CStoreApi(hosts);
}

// ---------------------------------------------------------------------------------------------
// Events and saves

void CDownLoadManager::Send(int code, void* data) {
  ++m_events;
  if (code == EVENT_DOWNLOAD_PROGRESS) ++m_progressEvents;
  if (CDownloadEventSink* sink = m_sink.load()) sink->SendEvent(code, data);
}

void CDownLoadManager::SendProgress(const CMagInfo& record, int percent) {
  DownloadProgress progress;
  {
    RecordGuard guard(*this);
    progress.pid = record.pid;
    progress.type = record.type;
  }
  progress.percent = std::to_string(percent);
  Send(EVENT_DOWNLOAD_PROGRESS, &progress);
}

void CDownLoadManager::SaveList(const std::string& type) {
  ++m_saves;
  m_shelf.SaveList(type);
}

DownloadStats CDownLoadManager::GetStats() {
  return DownloadStats{m_events.load(), m_progressEvents.load(), m_saves.load()};
}

int CDownLoadManager::GetActiveCount() {
  std::lock_guard<std::mutex> guard(m_downloadLock);
  return m_activeCount;
}

// ---------------------------------------------------------------------------------------------
// Workers and the transfer registry

bool CDownLoadManager::SpawnWorker(std::function<void()> body) {
  ReapWorkers(false);
  auto worker = std::make_shared<Worker>();
  std::lock_guard<std::mutex> guard(m_workersLock);
  try {
    worker->thread = std::thread([this, worker, body = std::move(body)] {
      body();
      std::lock_guard<std::mutex> done(m_workersLock);
      worker->done = true;
      --m_runningWorkers;
      m_workersChanged.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  ++m_runningWorkers;
  m_workers.push_back(std::move(worker));
  return true;
}

void CDownLoadManager::ReapWorkers(bool all) {
  std::list<std::shared_ptr<Worker>> finished;
  {
    std::lock_guard<std::mutex> guard(m_workersLock);
    for (auto it = m_workers.begin(); it != m_workers.end();) {
      if ((*it)->done || all) {
        finished.push_back(*it);
        it = m_workers.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& worker : finished) {
    if (worker->thread.joinable() && worker->thread.get_id() != std::this_thread::get_id()) {
      worker->thread.join();
    } else if (worker->thread.joinable()) {
      worker->thread.detach();
    }
  }
}

bool CDownLoadManager::WaitForIdle(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    {
      std::unique_lock<std::mutex> guard(m_workersLock);
      if (m_runningWorkers == 0) break;
      m_workersChanged.wait_for(guard, std::chrono::milliseconds(20));
    }
    if (CDownloadEventSink* sink = m_sink.load()) sink->DeliverPending();
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
  ReapWorkers(false);
  return true;
}

bool CDownLoadManager::WaitUntil(const std::function<bool()>& done,
                                 std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    {
      std::unique_lock<std::mutex> guard(m_registryLock);
      if (done()) return true;
      m_registryChanged.wait_for(guard, std::chrono::milliseconds(20));
      if (done()) return true;
    }
    // The worker may be blocked delivering an event to this very thread.
    if (CDownloadEventSink* sink = m_sink.load()) sink->DeliverPending();
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
}

std::shared_ptr<CDownLoadManager::Transfer> CDownLoadManager::FindTransfer(const TransferKey& key) {
  std::lock_guard<std::mutex> guard(m_registryLock);
  for (const auto& transfer : m_transfers) {
    if (SameKey(transfer->key, key)) return transfer;
  }
  return nullptr;
}

bool CDownLoadManager::IsTransferRunning(const std::shared_ptr<CMagInfo>& record) {
  return FindTransfer(TransferKey{TransferKey::Kind::Record, record, {}}) != nullptr;
}

bool CDownLoadManager::StartTransfer(TransferKey key, const std::string& url,
                                     const std::string& path, std::int64_t resumeOffset,
                                     TransferDoneFn onDone, TransferProgressFn onProgress) {
  return StartTransferAnnounced(std::move(key), url, path, resumeOffset, std::move(onDone),
                                std::move(onProgress), nullptr);
}

bool CDownLoadManager::StartTransferAnnounced(TransferKey key, const std::string& url,
                                              const std::string& path, std::int64_t resumeOffset,
                                              TransferDoneFn onDone, TransferProgressFn onProgress,
                                              std::function<void()> onStart) {
  if (m_closed || path.empty()) return false;
  auto transfer = std::make_shared<Transfer>();
  transfer->key = std::move(key);
  transfer->url = url;
  transfer->path = path;
  transfer->offset = std::max<std::int64_t>(resumeOffset, 0);
  transfer->onDone = std::move(onDone);
  transfer->onProgress = std::move(onProgress);
  transfer->onStart = std::move(onStart);
  {
    // Registered before the worker runs, so that a second start for the same key is refused
    // at once rather than after the worker got going.
    std::lock_guard<std::mutex> guard(m_registryLock);
    for (const auto& other : m_transfers) {
      if (SameKey(other->key, transfer->key)) return false;
    }
    m_transfers.push_back(transfer);
  }
  if (SpawnWorker([this, transfer] { RunTransfer(transfer); })) return true;
  std::lock_guard<std::mutex> guard(m_registryLock);
  m_transfers.erase(std::remove(m_transfers.begin(), m_transfers.end(), transfer),
                    m_transfers.end());
  m_registryChanged.notify_all();
  return false;
}

void CDownLoadManager::RunTransfer(std::shared_ptr<Transfer> transfer) {
  // The worker announces its own start, so that the announcement comes before any progress.
  if (transfer->onStart) transfer->onStart();
  const std::string temp = transfer->path + kTempSuffix;
  fs::CreateFolders(fs::ParentOf(transfer->path));
  int code = 0;
  {
    CMyHttp http(m_tunables.http);
    {
      std::lock_guard<std::mutex> guard(transfer->httpLock);
      transfer->http = &http;
    }
    if (transfer->stopRequested) http.Stop();
    if (transfer->onProgress) {
      // The client reports every piece; the owner hears of it at most once per interval,
      // and always of the piece that completes a known length.
      http.SetProgressCallback(
          [this](void* user, int bytes, int reported) {
            auto* t = static_cast<Transfer*>(user);
            if (t->stopRequested) return;
            // Without a Content-Length the client's total is only the resume offset: unknown.
            const std::int64_t total = reported > t->offset ? reported : 0;
            const auto now = std::chrono::steady_clock::now();
            const bool last = total > 0 && bytes >= total;
            if (!last && t->reported && now - t->lastReport < m_tunables.progressInterval) return;
            t->reported = true;
            t->lastReport = now;
            t->onProgress(t->key, bytes, total);
          },
          transfer.get());
    }
    if (transfer->offset > 0) http.SetResumeOffset(ClampToInt(transfer->offset));
    code = http.Download(transfer->url, std::string(), 0, std::string(), temp);
    std::lock_guard<std::mutex> guard(transfer->httpLock);
    transfer->http = nullptr;
  }

  TransferResult result = TransferResult::Failed;
  if (transfer->stopRequested) {
    // A stopped transfer is never complete, even when the client could not tell a short body.
    result = TransferResult::Stopped;
  } else if (code == HTTP_OK) {
    fs::RemoveFile(transfer->path);
    if (fs::MoveFile(temp, transfer->path)) result = TransferResult::Complete;
  }
  if (transfer->onDone) transfer->onDone(transfer->key, transfer->path, result);

  std::lock_guard<std::mutex> guard(m_registryLock);
  m_transfers.erase(std::remove(m_transfers.begin(), m_transfers.end(), transfer),
                    m_transfers.end());
  m_registryChanged.notify_all();
}

// ---------------------------------------------------------------------------------------------
// Record requests

bool CDownLoadManager::RequestDownload(const std::string& type, const std::string& pid,
                                       const std::string& extra) {
  DownloadRequest request{pid, type, extra};
  if (!IsShelfType(type) || !IsSafeId(pid) || m_closed) {
    Send(EVENT_REQUEST_FAILED, &request);
    return false;
  }
  if (m_shelf.HasRecord(type, pid)) {
    std::shared_ptr<CMagInfo> record = m_shelf.FindRecord(type, pid);
    if (record) {
      Send(EVENT_ALREADY_ON_SHELF, record.get());
      return true;
    }
  }
  const std::string url = StoreApi().IssueRecordUrl(type, pid);
  if (SpawnWorker([this, request, url] { RunRecordRequest(request, url); })) return true;
  Send(EVENT_REQUEST_FAILED, &request);
  return false;
}

void CDownLoadManager::RunRecordRequest(DownloadRequest request, std::string url) {
  auto transfer = std::make_shared<Transfer>();
  transfer->key.kind = TransferKey::Kind::RecordRequest;
  transfer->url = url;
  {
    std::lock_guard<std::mutex> guard(m_registryLock);
    m_transfers.push_back(transfer);
  }
  if (m_closed) transfer->stopRequested = true;  // the program closes: no request goes out
  std::string reply;
  {
    CMyHttp http(m_tunables.http);
    {
      std::lock_guard<std::mutex> guard(transfer->httpLock);
      transfer->http = &http;
    }
    if (transfer->stopRequested) http.Stop();
    std::string body;
    if (http.Request(url, std::string(), 0, std::string(), body) == HTTP_OK && !transfer->stopRequested) {
      reply = CFileUtil::ConvertCodePage(body, platform::kCodePageUtf8, platform::kCodePageSystem);
    }
    std::lock_guard<std::mutex> guard(transfer->httpLock);
    transfer->http = nullptr;
  }
  OnRecordReply(request, reply);
  std::lock_guard<std::mutex> guard(m_registryLock);
  m_transfers.erase(std::remove(m_transfers.begin(), m_transfers.end(), transfer),
                    m_transfers.end());
  m_registryChanged.notify_all();
}

void CDownLoadManager::OnRecordReply(const DownloadRequest& request, const std::string& reply) {
  if (reply.empty()) {
    DownloadRequest copy = request;
    Send(EVENT_REQUEST_FAILED, &copy);
    return;
  }
  std::shared_ptr<CMagInfo> record;
  {
    // Under the download lock: a merged record is waiting (3) until its fields are set, and no
    // StartNextQueued may take it in between.
    RecordGuard guard(*this);
    record = m_shelf.AddFromBooklistXml(reply, request.type);
    if (record) {
      record->downlen = 0;
      record->filelen = 0;
      record->savepath = MakeSavePath(DownloadFolder(), record->name, record->date, record->pid);
      record->type = request.type;
      record->down = 0;
    }
  }
  if (!record) {
    Send(EVENT_ALREADY_ON_SHELF, nullptr);
    return;
  }
  if (CDownloadEventSink* sink = m_sink.load()) sink->SetPendingShelfSelection(request.type);
  Send(EVENT_RECORD_ADDED, record.get());
  {
    RecordGuard guard(*this);
    if (m_activeCount < m_tunables.maxActive) StartRecordTransfer(record, 0, StartEvent::None);
  }
  StartCover(record);
  SaveList(request.type);
}

// Called with the download lock held, so that the worker's OnFileDone, which takes that lock,
// always comes after the count went up. Counts the download only when its worker really started.
bool CDownLoadManager::StartRecordTransfer(const std::shared_ptr<CMagInfo>& record,
                                           std::int64_t offset, StartEvent event) {
  if (record->savepath.empty()) {
    record->savepath = MakeSavePath(DownloadFolder(), record->name, record->date, record->pid);
  }
  TransferKey key{TransferKey::Kind::Record, record, {}};
  std::function<void()> onStart;
  if (event == StartEvent::Send) {
    onStart = [this, record] { Send(EVENT_DOWNLOAD_STARTED, record.get()); };
  }
  const bool started = StartTransferAnnounced(
      key, record->load_url, record->savepath, offset,
      [this](const TransferKey& k, const std::string& path, TransferResult result) {
        OnFileDone(k.record, path, result);
      },
      [this](const TransferKey& k, std::int64_t bytes, std::int64_t total) {
        OnFileProgress(k.record, bytes, total);
      },
      std::move(onStart));
  if (started) {
    record->down = 1;
    ++m_activeCount;
  }
  return started;
}

void CDownLoadManager::StartCover(const std::shared_ptr<CMagInfo>& record) {
  std::string url, cover;
  {
    RecordGuard guard(*this);
    url = record->pic1;
    cover = MakeCoverPath(ImagesFolder(), record->type, record->pid);
  }
  if (url.empty() || cover.empty()) return;
  fs::CreateFolders(fs::ParentOf(cover));
  const std::string cached = CFileUtil::GetUrlCacheFile(url);
  if (!cached.empty()) {
    if (!CFileUtil::FileExists(cover)) fs::CopyFile(cached, cover);
    if (CFileUtil::FileExists(cover)) {
      RecordGuard guard(*this);
      record->pic1 = cover;
    }
    return;
  }
  if (CFileUtil::FileExists(cover)) return;  // an existing cover is kept
  StartTransfer(TransferKey{TransferKey::Kind::Cover, record, cover}, url, cover, 0, nullptr,
                nullptr);
}

// ---------------------------------------------------------------------------------------------
// Issue downloads

void CDownLoadManager::OnFileProgress(const std::shared_ptr<CMagInfo>& record, std::int64_t bytes,
                                      std::int64_t total) {
  std::string type;
  {
    RecordGuard guard(*this);
    record->downlen = ClampToInt(bytes);
    record->filelen = ClampToInt(total);
    type = record->type;
  }
  SendProgress(*record, Percent(bytes, total, false));
  SaveList(type);
}

void CDownLoadManager::OnFileDone(const std::shared_ptr<CMagInfo>& record,
                                  const std::string& finalPath, TransferResult result) {
  const bool complete = result == TransferResult::Complete && CFileUtil::FileExists(finalPath);
  if (!complete) Send(EVENT_DOWNLOAD_STOPPED, record.get());
  std::string type;
  {
    RecordGuard guard(*this);
    if (complete) {
      record->down = 2;
      // The last report of a complete file carries its full size, whatever the server said.
      const int size = ClampToInt(static_cast<std::int64_t>(CFileUtil::GetFileLength(finalPath)));
      record->downlen = size;
      record->filelen = size;
    } else {
      record->down = 0;
      record->downlen = ClampToInt(TempLength(finalPath));
    }
    if (m_activeCount > 0) --m_activeCount;
    type = record->type;
  }
  // Sent after the lock is released: the window's thread takes it in ResumeDownload.
  if (complete) SendProgress(*record, 100);
  SaveList(type);
  StartNextQueued();
}

bool CDownLoadManager::StartNextQueued() {
  std::shared_ptr<CMagInfo> record;
  std::string type;
  bool started = false;
  {
    RecordGuard guard(*this);
    if (m_closed) return false;
    record = m_shelf.FindFirstStopped();
    if (!record) return false;
    type = record->type;
    if (IsTransferRunning(record)) {
      // Already downloading: it is counted since it started; nothing new starts.
      record->down = 1;
    } else {
      const std::int64_t offset = TempLength(record->savepath);
      record->downlen = ClampToInt(offset);
      // 10001 is sent by the new worker itself, before any of its progress.
      started = StartRecordTransfer(record, offset, StartEvent::Send);
      // A record that could not start stays waiting for the next call.
    }
  }
  SaveList(type);
  return started;
}

bool CDownLoadManager::ResumeDownload(const std::string& type, const std::string& pid) {
  std::shared_ptr<CMagInfo> record = m_shelf.FindRecord(type, pid);
  if (!record) return false;
  bool started = false;
  {
    RecordGuard guard(*this);
    if (IsTransferRunning(record)) return false;
    if (record->down == 2 && CFileUtil::FileExists(record->savepath)) return false;
    const std::int64_t offset = TempLength(record->savepath);
    record->downlen = ClampToInt(offset);
    started = StartRecordTransfer(record, offset, StartEvent::None);
  }
  SaveList(type);
  return started;
}

bool CDownLoadManager::StopDownload(const std::shared_ptr<CMagInfo>& record, StopMode mode) {
  if (!record) return true;
  std::vector<std::shared_ptr<Transfer>> stopped;
  {
    std::lock_guard<std::mutex> guard(m_registryLock);
    for (const auto& transfer : m_transfers) {
      if (transfer->key.record == record) stopped.push_back(transfer);  // the file and its cover
    }
  }
  for (const auto& transfer : stopped) transfer->Stop();
  if (mode == StopMode::NoWait) return true;
  return WaitUntil(
      [this, &record] {
        return std::none_of(m_transfers.begin(), m_transfers.end(),
                            [&record](const auto& t) { return t->key.record == record; });
      },
      m_tunables.stopWaitTimeout);
}

bool CDownLoadManager::StopAllTransfers(StopMode mode) {
  m_closed = true;
  std::vector<std::shared_ptr<Transfer>> stopped;
  {
    std::lock_guard<std::mutex> guard(m_registryLock);
    stopped = m_transfers;
  }
  for (const auto& transfer : stopped) transfer->Stop();
  if (mode == StopMode::NoWait) return true;
  return WaitForIdle(m_tunables.stopWaitTimeout);
}

void CDownLoadManager::FetchCategories() {
  CAppPaths& paths = CAppPaths::Instance();
  const std::string book =
      m_tunables.bookClassFile.empty() ? paths.BookClassFile : m_tunables.bookClassFile;
  const std::string mag =
      m_tunables.magClassFile.empty() ? paths.MagClassFile : m_tunables.magClassFile;
  // A failed fetch leaves the file of the previous start: the reply is written to ".temp" and
  // renamed only when complete.
  StartTransfer(TransferKey{TransferKey::Kind::Category, nullptr, "BOOK"},
                StoreApi().CategoryUrl("book"), book, 0, nullptr, nullptr);
  StartTransfer(TransferKey{TransferKey::Kind::Category, nullptr, "MAG"},
                StoreApi().CategoryUrl("mag"), mag, 0, nullptr, nullptr);
}

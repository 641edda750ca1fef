// The download manager: turns a page's request for one issue into a shelf record and an issue
// file in the download folder. It asks the store for the record, downloads the file to a ".temp"
// file that is renamed when complete, fetches the cover, runs at most five new downloads at once,
// resumes from the bytes on disk, and reports every step to the main window through one event
// sink. The same background transfers fetch the two category files at start-up.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/MyHttp.h"
#include "net/StoreApi.h"
#include "store/MagInfo.h"

class CShelfLists;

// Event codes the manager sends to the main window.
enum DownloadEventCode : int {
  EVENT_DOWNLOAD_PROGRESS = 9001,   // data: DownloadProgress
  EVENT_DOWNLOAD_STARTED = 10001,   // data: CMagInfo (a waiting record was started)
  EVENT_DOWNLOAD_STOPPED = 10002,   // data: CMagInfo (ended without a complete file)
  EVENT_REQUEST_FAILED = 10003,     // data: DownloadRequest (the record request gave nothing)
  EVENT_RECORD_ADDED = 10004,       // data: CMagInfo (added and its download set up)
  EVENT_ALREADY_ON_SHELF = 10005,   // data: CMagInfo, or null when the reply held no record
};

// Data of event 9001.
struct DownloadProgress {
  std::string pid;
  std::string type;
  std::string percent;  // "%d", 0 to 100
};

// A page's request for one issue (data of event 10003).
struct DownloadRequest {
  std::string pid;
  std::string type;
  std::string extra;  // the page's third text; not read here
};

// Where the manager's events go (the main window). Every call is synchronous: the data lives on
// the sender's stack and is valid only until the call returns.
class CDownloadEventSink {
 public:
  virtual ~CDownloadEventSink() = default;
  // Delivers one event; called on worker threads and on the user-interface thread.
  virtual void SendEvent(int code, void* data) = 0;
  // Stores the type of a record just added, for the next switch to the bookshelf (called on a
  // worker thread).
  virtual void SetPendingShelfSelection(const std::string& type) {}
  // Handles events that workers are blocked delivering; called by a thread that waits for a
  // worker to end (StopDownload with StopMode::Wait), so that the two never wait for each other.
  virtual void DeliverPending() {}
};

// Tunables; the defaults are the production values.
struct DownloadTunables {
  int maxActive = 5;                                   // new requests start at most this many
  std::chrono::milliseconds progressInterval{200};     // per transfer, between progress reports
  std::chrono::milliseconds stopWaitTimeout{15000};    // StopDownload / StopAllTransfers waits
  std::string apiServer;       // e.g. "http://127.0.0.1:8180"; empty = the configured server
  std::string downloadFolder;  // empty = CAppPaths::DownloadFolder
  std::string imagesFolder;    // empty = CAppPaths::ImagesFolder
  std::string bookClassFile;   // empty = CAppPaths::BookClassFile
  std::string magClassFile;    // empty = CAppPaths::MagClassFile
  HttpTunables http;           // the clients of the transfers
};

// What a transfer is for: its key in the transfer registry.
struct TransferKey {
  enum class Kind { None, Record, Category, Cover, RecordRequest };
  Kind kind = Kind::None;
  std::shared_ptr<CMagInfo> record;  // Record and Cover
  std::string tag;                   // Category ("BOOK", "MAG"); Cover: its path
};

// How a transfer ended.
enum class TransferResult { Complete, Failed, Stopped };

// Whether a stop waits for the worker's end.
enum class StopMode { NoWait, Wait };

// Completion callback of a transfer: key, final path, how it ended.
using TransferDoneFn = std::function<void(const TransferKey&, const std::string&, TransferResult)>;
// Progress callback of a transfer: key, bytes so far (resume offset included), total (0 unknown).
using TransferProgressFn = std::function<void(const TransferKey&, std::int64_t, std::int64_t)>;

// Counters for the benchmark and the tests.
struct DownloadStats {
  std::uint64_t events = 0;       // events sent
  std::uint64_t progressEvents = 0;
  std::uint64_t shelfSaves = 0;   // shelf list saves asked by the manager
};

class CDownLoadManager {
 public:
  // The one manager of the program (on the shelf lists of the program).
  static CDownLoadManager& Instance();

  explicit CDownLoadManager(CShelfLists& shelf, DownloadTunables tunables = {});
  // Stops every transfer and waits for every worker.
  ~CDownLoadManager();
  CDownLoadManager(const CDownLoadManager&) = delete;
  CDownLoadManager& operator=(const CDownLoadManager&) = delete;

  // Plugs in the main window (not owned; null = events are dropped).
  void SetEventSink(CDownloadEventSink* sink);

  // A page asks for an issue (UI thread): already on the shelf gives 10005, otherwise the
  // record is asked from the store on a worker. A refused request (type not "book" or "mag",
  // pid empty or holding blanks or control bytes, program closing) sends 10003 and is false.
  bool RequestDownload(const std::string& type, const std::string& pid,
                       const std::string& extra = {});
  // The store's reply to a record request (worker thread); reply empty when the request failed.
  void OnRecordReply(const DownloadRequest& request, const std::string& reply);
  // Starts one worker that downloads `url` to `path` + ".temp" and renames it when complete.
  // False when a transfer with the same key is running or no worker could be started.
  bool StartTransfer(TransferKey key, const std::string& url, const std::string& path,
                     std::int64_t resumeOffset, TransferDoneFn onDone,
                     TransferProgressFn onProgress);
  // Progress of an issue download (worker thread), already limited to one per interval.
  void OnFileProgress(const std::shared_ptr<CMagInfo>& record, std::int64_t bytes,
                      std::int64_t total);
  // End of an issue download (worker thread).
  void OnFileDone(const std::shared_ptr<CMagInfo>& record, const std::string& finalPath,
                  TransferResult result);
  // Starts the first waiting record (magazines first); its worker sends 10001 before any
  // progress. False when none was started.
  bool StartNextQueued();
  // The bookshelf resumes a stopped download; false when nothing was started.
  bool ResumeDownload(const std::string& type, const std::string& pid);
  // Stops the record's transfer, if one runs; the ".temp" file stays. With StopMode::Wait it
  // returns once the worker has ended (true), or false after the time-out. After a waited stop
  // the worker neither writes nor renames the record's files again.
  bool StopDownload(const std::shared_ptr<CMagInfo>& record, StopMode mode = StopMode::NoWait);
  // Stops every transfer because the program closes: nothing new starts afterwards. With
  // StopMode::Wait it returns once every worker has ended (true), or false after the time-out.
  bool StopAllTransfers(StopMode mode = StopMode::NoWait);
  // Starts the two category transfers ("BOOK", "MAG") into the category files.
  void FetchCategories();

  // Whether a transfer is registered for the record.
  bool IsTransferRunning(const std::shared_ptr<CMagInfo>& record);
  // Issue downloads running now.
  int GetActiveCount();
  // Waits until no worker runs (never call it on a worker); false after `timeout`.
  bool WaitForIdle(std::chrono::milliseconds timeout);
  // Counters since construction.
  DownloadStats GetStats();

  // The final file name of an issue: folder + name + date + "[" + pid + "].exe", with the
  // server's texts made safe; empty when pid is empty.
  static std::string MakeSavePath(std::string_view folder, std::string_view name,
                                  std::string_view date, std::string_view pid);
  // The cover path: folder/type/pid.jpg, with safe parts; empty when type or pid is empty.
  static std::string MakeCoverPath(std::string_view imagesFolder, std::string_view type,
                                   std::string_view pid);
  // A server text made fit to be part of one file name: path separators, control bytes
  // (NUL among them) and ".." are replaced; two-byte characters are kept whole.
  static std::string SafeNamePart(std::string_view text);
  // The percentage of bytes in total: 0 when total is unknown, 100 for a complete file,
  // otherwise bytes * 100 / total in 64 bits, kept within 0..100.
  static int Percent(std::int64_t bytes, std::int64_t total, bool complete);

 private:
  struct Transfer;
  struct Worker;
  struct RecordGuard;

  void Send(int code, void* data);
  void SaveList(const std::string& type);
  void SendProgress(const CMagInfo& record, int percent);
  enum class StartEvent { None, Send };
  bool StartRecordTransfer(const std::shared_ptr<CMagInfo>& record, std::int64_t offset,
                           StartEvent event);
  bool StartTransferAnnounced(TransferKey key, const std::string& url, const std::string& path,
                              std::int64_t resumeOffset, TransferDoneFn onDone,
                              TransferProgressFn onProgress, std::function<void()> onStart);
  void StartCover(const std::shared_ptr<CMagInfo>& record);
  void RunTransfer(std::shared_ptr<Transfer> transfer);
  void RunRecordRequest(DownloadRequest request, std::string url);
  bool SpawnWorker(std::function<void()> body);
  void ReapWorkers(bool all);
  bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  std::shared_ptr<Transfer> FindTransfer(const TransferKey& key);
  std::string DownloadFolder() const;
  std::string ImagesFolder() const;
  CStoreApi StoreApi() const;

  CShelfLists& m_shelf;
  DownloadTunables m_tunables;
  std::atomic<CDownloadEventSink*> m_sink{nullptr};
  std::atomic<bool> m_closed{false};  // set when the program closes: no new transfer starts

  // The download lock: the active count and the down states of shelf records.
  std::mutex m_downloadLock;
  int m_activeCount = 0;

  // The transfer registry, with its own lock; its condition tells waiters that one ended.
  std::mutex m_registryLock;
  std::condition_variable m_registryChanged;
  std::vector<std::shared_ptr<Transfer>> m_transfers;

  // Worker threads, joined when they are done and at the end.
  std::mutex m_workersLock;
  std::condition_variable m_workersChanged;
  std::list<std::shared_ptr<Worker>> m_workers;
  int m_runningWorkers = 0;

  std::atomic<std::uint64_t> m_events{0};
  std::atomic<std::uint64_t> m_progressEvents{0};
  std::atomic<std::uint64_t> m_saves{0};
};

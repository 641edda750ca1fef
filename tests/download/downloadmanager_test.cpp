#include "download/DownLoadManager.h"

#include "platform/fs.h"
#include "platform/text.h"
#include "store/ShelfLists.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using testsupport::ReadFileOrDie;
using testsupport::WriteFileOrDie;

// One event as the window saw it, with the record's fields at that moment.
struct SeenEvent {
  int code = 0;
  std::string pid, type, percent;
  const void* data = nullptr;
  int down = -1, downlen = -1, filelen = -1;
  std::thread::id thread;
};

// Records every event; the base of the two sinks below.
class RecordingSink : public CDownloadEventSink {
 public:
  explicit RecordingSink(CShelfLists& shelf) : m_shelf(shelf) {}

  void SendEvent(int code, void* data) override { Record(code, data); }
  void SetPendingShelfSelection(const std::string& type) override {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pending = type;
  }

  void Record(int code, void* data) {
    SeenEvent e;
    e.code = code;
    e.data = data;
    e.thread = std::this_thread::get_id();
    if (code == EVENT_DOWNLOAD_PROGRESS) {
      auto* p = static_cast<DownloadProgress*>(data);
      e.pid = p->pid;
      e.type = p->type;
      e.percent = p->percent;
    } else if (code == EVENT_REQUEST_FAILED) {
      auto* r = static_cast<DownloadRequest*>(data);
      e.pid = r->pid;
      e.type = r->type;
    }
    if (data && (code == EVENT_DOWNLOAD_PROGRESS || code == EVENT_REQUEST_FAILED)) {
      // nothing more: these are not records
    } else if (data) {
      auto lists = m_shelf.LockLists();
      auto* m = static_cast<CMagInfo*>(data);
      e.pid = m->pid;
      e.type = m->type;
      e.down = m->down;
      e.downlen = m->downlen;
      e.filelen = m->filelen;
    }
    if (code == EVENT_DOWNLOAD_PROGRESS) {
      // The record of the progress, for its byte counts.
      if (MagInfoPtr m = m_shelf.FindRecord(e.type, e.pid)) {
        auto lists = m_shelf.LockLists();
        e.downlen = m->downlen;
        e.filelen = m->filelen;
      }
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_events.push_back(e);
    m_changed.notify_all();
  }

  // Waits until `pred` holds over the events seen so far; false after `timeout`.
  bool WaitFor(const std::function<bool(const std::vector<SeenEvent>&)>& pred,
               std::chrono::milliseconds timeout = 20s) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, timeout, [&] { return pred(m_events); });
  }
  bool WaitForEvent(int code, const std::string& pid, std::chrono::milliseconds timeout = 20s) {
    return WaitFor([&](const auto& events) { return CountOf(events, code, pid) > 0; }, timeout);
  }
  std::vector<SeenEvent> Events() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_events;
  }
  int Count(int code, const std::string& pid) { return CountOf(Events(), code, pid); }
  std::string Pending() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pending;
  }
  static int CountOf(const std::vector<SeenEvent>& events, int code, const std::string& pid) {
    return static_cast<int>(std::count_if(events.begin(), events.end(), [&](const SeenEvent& e) {
      return e.code == code && e.pid == pid;
    }));
  }

 protected:
  CShelfLists& m_shelf;
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<SeenEvent> m_events;
  std::string m_pending;
};

// Delivers events the way the main window does: on one user-interface thread, with the sender
// waiting until the event is handled. That thread handles them while it pumps, or while it
// waits for a worker inside the manager (DeliverPending).
class UiThreadSink : public RecordingSink {
 public:
  explicit UiThreadSink(CShelfLists& shelf) : RecordingSink(shelf) {}

  void SendEvent(int code, void* data) override {
    if (std::this_thread::get_id() == m_ui) {
      Record(code, data);
      return;
    }
    auto job = std::make_shared<Job>(Job{code, data, false});
    std::unique_lock<std::mutex> guard(m_queueLock);
    m_queue.push_back(job);
    m_queueChanged.notify_all();
    // Bounded, so that a broken manager fails the test instead of hanging it.
    if (!m_queueChanged.wait_for(guard, 30s, [&] { return job->done; })) {
      ADD_FAILURE() << "event " << code << " was never delivered";
      m_queue.erase(std::remove(m_queue.begin(), m_queue.end(), job), m_queue.end());
    }
  }
  void DeliverPending() override { RunQueued(); }

  // The user-interface loop for a while.
  void Pump(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
      RunQueued();
      std::this_thread::sleep_for(5ms);
    }
  }
  // Whether a worker waits for this thread now.
  bool HasWaitingSender() {
    std::lock_guard<std::mutex> guard(m_queueLock);
    return !m_queue.empty();
  }

 private:
  struct Job {
    int code;
    void* data;
    bool done;
  };
  void RunQueued() {
    while (true) {
      std::shared_ptr<Job> job;
      {
        std::lock_guard<std::mutex> guard(m_queueLock);
        if (m_queue.empty()) return;
        job = m_queue.front();
        m_queue.pop_front();
      }
      Record(job->code, job->data);
      std::lock_guard<std::mutex> guard(m_queueLock);
      job->done = true;
      m_queueChanged.notify_all();
    }
  }

  std::thread::id m_ui = std::this_thread::get_id();
  std::mutex m_queueLock;
  std::condition_variable m_queueChanged;
  std::deque<std::shared_ptr<Job>> m_queue;
};

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
  return bytes;
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// A fresh download folder, shelf and test store for every test.
class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_root = m_dir / "peer";
    std::filesystem::create_directories(m_root + "/records");
    std::filesystem::create_directories(m_root + "/files");
    std::filesystem::create_directories(m_dir / "down");
    m_port = testsupport::FreeLoopbackPort();
    ASSERT_TRUE(m_peer.Start({"python3", testsupport::SourceDir() + "/tests/peers/download_peer.py",
                              "--port", std::to_string(m_port), "--root", m_root}));
    ASSERT_TRUE(testsupport::WaitForPort(m_port, 15s));
    m_base = "http://127.0.0.1:" + std::to_string(m_port);
    m_shelf = std::make_unique<CShelfLists>(ShelfFiles{m_dir / "BookShelf.xml",
                                                       m_dir / "MagShelf.xml",
                                                       m_dir / "BookNewRead.xml",
                                                       m_dir / "MagNewRead.xml"});
    m_tunables.apiServer = m_base;
    m_tunables.downloadFolder = m_dir / "down/";
    m_tunables.imagesFolder = m_dir / "Images";
    m_tunables.bookClassFile = m_dir / "BookClass.xml";
    m_tunables.magClassFile = m_dir / "MagClass.xml";
    m_tunables.stopWaitTimeout = 10s;
    m_tunables.http.connectTimeoutMs = 5000;
    m_tunables.http.receiveIdleTimeoutMs = 10000;
    m_tunables.http.progressDelayMs = 0;  // the production delay only slows the tests down
  }

  void TearDown() override {
    if (m_manager) {
      EXPECT_TRUE(m_manager->StopAllTransfers(StopMode::Wait));
    }
    m_manager.reset();
  }

  template <class Sink = RecordingSink>
  Sink& Start() {
    auto sink = std::make_unique<Sink>(*m_shelf);
    Sink& ref = *sink;
    m_sink = std::move(sink);
    m_manager = std::make_unique<CDownLoadManager>(*m_shelf, m_tunables);
    m_manager->SetEventSink(m_sink.get());
    return ref;
  }

  // The store's booklist reply for one issue; `query` is added to the file's URL.
  void ServeRecord(const std::string& type, const std::string& pid, const std::string& name,
                   const std::string& date, const std::string& file, const std::string& cover = {},
                   const std::string& replyPid = {}) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<api>\r\n<booklist>";
    xml += "<id>1</id>\r\n<pid>" + (replyPid.empty() ? pid : replyPid) + "</pid>\r\n";
    xml += "<sort_id>7</sort_id>\r\n<name><![CDATA[" + name + "]]></name>\r\n";
    xml += "<date>" + date + "</date>\r\n";
    xml += "<load_url><![CDATA[" + m_base + "/files/" + file + "]]></load_url>\r\n";
    if (!cover.empty()) xml += "<pic1>" + m_base + "/files/" + cover + "</pic1>\r\n";
    xml += "<type>" + type + "</type>\r\n</booklist></api>\r\n";
    WriteFileOrDie(m_root + "/records/" + type + "_" + pid + ".xml", xml);
  }
  std::string ServeFile(const std::string& name, std::size_t size) {
    std::string bytes = Pattern(size);
    WriteFileOrDie(m_root + "/files/" + name, bytes);
    return bytes;
  }
  // A record already on the shelf, as the lists give it after loading (waiting, state 3).
  MagInfoPtr ShelfRecord(const std::string& type, const std::string& pid, const std::string& file,
                         int down = kDownWaiting) {
    auto record = std::make_shared<CMagInfo>();
    record->pid = pid;
    record->type = type;
    record->name = "Issue";
    record->date = "2026";
    record->load_url = m_base + "/files/" + file;
    record->savepath = CDownLoadManager::MakeSavePath(m_tunables.downloadFolder, record->name,
                                                      record->date, pid);
    record->down = down;
    EXPECT_TRUE(m_shelf->AddRecord(record, type, InsertAt::Back));
    return record;
  }
  std::vector<std::string> RequestLog() {
    std::vector<std::string> lines;
    std::ifstream in(m_root + "/requests.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  int RequestsFor(const std::string& text) {
    auto lines = RequestLog();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.find(text) != std::string::npos;
    }));
  }
  int Down(const MagInfoPtr& record) {
    auto lists = m_shelf->LockLists();
    return record->down;
  }

  testsupport::TempDir m_dir;
  std::string m_root;
  int m_port = 0;
  std::string m_base;
  testsupport::ChildProcess m_peer;
  std::unique_ptr<CShelfLists> m_shelf;
  DownloadTunables m_tunables;
  std::unique_ptr<RecordingSink> m_sink;
  std::unique_ptr<CDownLoadManager> m_manager;
};

// ---------------------------------------------------------------------------------------------
// Names and numbers

TEST(DownloadNamesTest, ServerTextsStayInsideTheirFolder) {
  const struct {
    std::string name, date, pid, expected;
  } cases[] = {
      {"Weekly", "2026-01", "55435", "/d/Weekly2026-01[55435].exe"},
      {"../../etc/passwd", "", "1", "/d/______etc_passwd[1].exe"},
      {"a\\b", "c/d", "2", "/d/a_bc_d[2].exe"},
      {std::string("x\0y", 3), "\r\n", "3", "/d/x_y__[3].exe"},
      {"...", "..", "..", "/d/_____[__].exe"},
      {"v1.5", "", "4", "/d/v1.5[4].exe"},
      // A GBK character whose second byte is 0x5C ("\") stays whole.
      {"\xB1\x5C", "", "5", "/d/\xB1\x5C[5].exe"},
      // A lead byte before "/" or "." is a stray byte, not a character hiding the separator.
      {"\xC7/..\xC7.", "", "\xC7/6", "/d/_____.[__6].exe"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CDownLoadManager::MakeSavePath("/d/", c.name, c.date, c.pid), c.expected) << c.name;
  }
  EXPECT_EQ(CDownLoadManager::MakeSavePath("/d", "n", "", "1"), "/d/n[1].exe");
  EXPECT_EQ(CDownLoadManager::MakeSavePath("/d/", "n", "", ""), "");  // an empty pid is refused
  EXPECT_EQ(CDownLoadManager::MakeSavePath("", "n", "", "1"), "");

  EXPECT_EQ(CDownLoadManager::MakeCoverPath("/i", "mag", "55435"), "/i/mag/55435.jpg");
  EXPECT_EQ(CDownLoadManager::MakeCoverPath("/i", "../x", "../../y"), "/i/___x/______y.jpg");
  EXPECT_EQ(CDownLoadManager::MakeCoverPath("/i", "mag", ""), "");

  // Long titles are cut so that the file name fits a file system's 255 bytes after conversion
  // to UTF-8, never in the middle of a two-byte character.
  std::string longName;
  for (int i = 0; i < 200; ++i) longName += "\xD6\xD0";
  const std::string path = CDownLoadManager::MakeSavePath("/d/", "x" + longName, "2026", "9");
  const std::string file = platform::fs::NameOf(path);
  EXPECT_LT(platform::SystemToUtf8(file + ".temp").size(), 255u);
  EXPECT_NE(platform::SystemToUtf8(file).find("[9].exe"), std::string::npos);
  EXPECT_EQ(platform::SystemToUtf8(file).find('?'), std::string::npos);
}

TEST(DownloadNamesTest, PercentNeverDividesByZero) {
  const struct {
    std::int64_t bytes, total;
    bool complete;
    int expected;
  } cases[] = {
      {0, 0, false, 0},           {5000, 0, false, 0},     {5000, 0, true, 100},
      {50, 100, false, 50},       {150, 100, false, 100},  {-1, 100, false, 0},
      {99, 100, false, 99},       {100, 100, false, 100},
      {3000000000LL, 6000000000LL, false, 50},  // beyond 32 bits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CDownLoadManager::Percent(c.bytes, c.total, c.complete), c.expected)
        << c.bytes << "/" << c.total;
  }
}

// ---------------------------------------------------------------------------------------------
// Requests

TEST_F(DownloadTest, AnIssueAlreadyOnTheShelfOnlySends10005) {
  MagInfoPtr record = ShelfRecord("mag", "11", "none.bin", kDownComplete);
  RecordingSink& sink = Start();
  EXPECT_TRUE(m_manager->RequestDownload("mag", "11"));
  auto events = sink.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, EVENT_ALREADY_ON_SHELF);
  EXPECT_EQ(events[0].data, record.get());
  EXPECT_TRUE(m_manager->WaitForIdle(5s));
  EXPECT_TRUE(RequestLog().empty());
}

TEST_F(DownloadTest, ANewRequestAddsDownloadsRenamesAndCompletes) {
  const std::string bytes = ServeFile("issue21.bin", 300000);
  ServeFile("cover21.jpg", 2000);
  ServeRecord("mag", "21", "Weekly", "2026-01", "issue21.bin?rate=400000", "cover21.jpg");
  RecordingSink& sink = Start();
  ASSERT_TRUE(m_manager->RequestDownload("mag", "21"));
  ASSERT_TRUE(sink.WaitFor([](const auto& events) {
    return !events.empty() && events.back().code == EVENT_DOWNLOAD_PROGRESS &&
           events.back().percent == "100";
  }));
  ASSERT_TRUE(m_manager->WaitForIdle(10s));

  const std::string savepath = m_tunables.downloadFolder + "Weekly2026-01[21].exe";
  auto events = sink.Events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events.front().code, EVENT_RECORD_ADDED);
  EXPECT_EQ(events.front().down, kDownNone);  // set up, not yet started when 10004 is sent
  EXPECT_EQ(sink.Count(EVENT_DOWNLOAD_STOPPED, "21"), 0);
  int last = -1;
  for (const auto& e : events) {
    if (e.code != EVENT_DOWNLOAD_PROGRESS) continue;
    EXPECT_GE(std::stoi(e.percent), last);
    last = std::stoi(e.percent);
  }
  EXPECT_EQ(sink.Pending(), "mag");

  MagInfoPtr record = m_shelf->FindRecord("mag", "21");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->down, kDownComplete);
  EXPECT_EQ(record->savepath, savepath);
  EXPECT_EQ(record->downlen, 300000);
  EXPECT_EQ(record->filelen, 300000);
  EXPECT_EQ(ReadFileOrDie(savepath), bytes);
  EXPECT_FALSE(Exists(savepath + ".temp"));
  EXPECT_EQ(ReadFileOrDie(m_tunables.imagesFolder + "/mag/21.jpg").size(), 2000u);
  EXPECT_EQ(m_manager->GetActiveCount(), 0);
  EXPECT_NE(ReadFileOrDie(m_dir / "MagShelf.xml").find("<down>2</down>"), std::string::npos);
}

TEST_F(DownloadTest, FailedAndEmptyRecordRequests) {
  RecordingSink& sink = Start();
  // No record on the store: the request fails (404).
  EXPECT_TRUE(m_manager->RequestDownload("mag", "404"));
  ASSERT_TRUE(sink.WaitForEvent(EVENT_REQUEST_FAILED, "404"));
  // A reply without a record.
  WriteFileOrDie(m_root + "/records/book_31.xml", "<?xml version=\"1.0\"?><api></api>");
  EXPECT_TRUE(m_manager->RequestDownload("book", "31"));
  ASSERT_TRUE(sink.WaitFor([](const auto& events) {
    return std::any_of(events.begin(), events.end(), [](const SeenEvent& e) {
      return e.code == EVENT_ALREADY_ON_SHELF && e.data == nullptr;
    });
  }));
  // Requests that never reach the network.
  EXPECT_FALSE(m_manager->RequestDownload("mag", ""));
  EXPECT_FALSE(m_manager->RequestDownload("comic", "5"));
  EXPECT_FALSE(m_manager->RequestDownload("mag", "5\r\nX-Injected: 1"));
  ASSERT_TRUE(m_manager->WaitForIdle(10s));

  auto events = sink.Events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(RecordingSink::CountOf(events, EVENT_REQUEST_FAILED, "404"), 1);
  EXPECT_EQ(RecordingSink::CountOf(events, EVENT_REQUEST_FAILED, ""), 1);
  EXPECT_EQ(RecordingSink::CountOf(events, EVENT_REQUEST_FAILED, "5"), 1);
  EXPECT_EQ(RequestLog().size(), 2u);
  EXPECT_TRUE(m_shelf->GetList("mag").empty());
  EXPECT_TRUE(m_shelf->GetList("book").empty());
}

TEST_F(DownloadTest, TheSixthNewRequestWaitsStoppedAndGetsNoProgress) {
  for (int i = 1; i <= 6; ++i) {
    const std::string pid = "6" + std::to_string(i);
    ServeFile("slow" + pid + ".bin", 400000);
    ServeRecord("mag", pid, "Slow", "", "slow" + pid + ".bin?rate=40000");
  }
  RecordingSink& sink = Start();
  for (int i = 1; i <= 5; ++i) {
    const std::string pid = "6" + std::to_string(i);
    ASSERT_TRUE(m_manager->RequestDownload("mag", pid));
    ASSERT_TRUE(sink.WaitForEvent(EVENT_RECORD_ADDED, pid));
  }
  EXPECT_TRUE(sink.WaitFor([](const auto& events) {
    return std::count_if(events.begin(), events.end(), [](const SeenEvent& e) {
             return e.code == EVENT_DOWNLOAD_PROGRESS;
           }) >= 5;
  }));
  ASSERT_TRUE(m_manager->RequestDownload("mag", "66"));
  ASSERT_TRUE(sink.WaitForEvent(EVENT_RECORD_ADDED, "66"));
  std::this_thread::sleep_for(700ms);

  MagInfoPtr sixth = m_shelf->FindRecord("mag", "66");
  ASSERT_TRUE(sixth);
  EXPECT_EQ(Down(sixth), kDownNone);
  EXPECT_FALSE(m_manager->IsTransferRunning(sixth));
  EXPECT_EQ(m_manager->GetActiveCount(), 5);
  EXPECT_EQ(sink.Count(EVENT_DOWNLOAD_PROGRESS, "66"), 0);
  EXPECT_EQ(RequestsFor("slow66"), 0);

  ASSERT_TRUE(m_manager->StopAllTransfers(StopMode::Wait));
  EXPECT_EQ(m_manager->GetActiveCount(), 0);
  for (int i = 1; i <= 5; ++i) {
    const std::string pid = "6" + std::to_string(i);
    EXPECT_EQ(sink.Count(EVENT_DOWNLOAD_STOPPED, pid), 1) << pid;
    EXPECT_TRUE(Exists(m_tunables.downloadFolder + "Slow[" + pid + "].exe.temp")) << pid;
    EXPECT_FALSE(Exists(m_tunables.downloadFolder + "Slow[" + pid + "].exe")) << pid;
  }
}

// ---------------------------------------------------------------------------------------------
// Waiting records, resume and stop

TEST_F(DownloadTest, ATempFileOf5000BytesResumesFromThere) {
  const std::string bytes = ServeFile("resume.bin", 200000);
  MagInfoPtr record = ShelfRecord("book", "41", "resume.bin?rate=150000");
  WriteFileOrDie(record->savepath + ".temp", bytes.substr(0, 5000));
  RecordingSink& sink = Start();
  ASSERT_TRUE(m_manager->StartNextQueued());
  EXPECT_EQ(m_manager->GetActiveCount(), 1);
  ASSERT_TRUE(sink.WaitFor([](const auto& events) {
    return !events.empty() && events.back().percent == "100";
  }));
  ASSERT_TRUE(m_manager->WaitForIdle(10s));

  auto log = RequestLog();
  ASSERT_EQ(log.size(), 1u);
  // The start is announced before any progress, however fast the first piece comes.
  EXPECT_NE(log[0].find("range=bytes=5000-"), std::string::npos) << log[0];
  auto events = sink.Events();
  ASSERT_EQ(events.front().code, EVENT_DOWNLOAD_STARTED);
  EXPECT_EQ(events.front().downlen, 5000);
  const auto first = std::find_if(events.begin(), events.end(), [](const SeenEvent& e) {
    return e.code == EVENT_DOWNLOAD_PROGRESS;
  });
  ASSERT_NE(first, events.end());
  EXPECT_GE(first->downlen, 5000);
  EXPECT_EQ(first->filelen, 200000);
  EXPECT_EQ(Down(record), kDownComplete);
  EXPECT_EQ(ReadFileOrDie(record->savepath), bytes);
  EXPECT_FALSE(Exists(record->savepath + ".temp"));
}

TEST_F(DownloadTest, AStopKeepsTheTempSends10002AndStartsTheNextWaitingRecord) {
  ServeFile("stopme.bin", 1000000);
  ServeFile("next.bin", 1000000);
  MagInfoPtr running = ShelfRecord("mag", "51", "stopme.bin?rate=50000", kDownNone);
  RecordingSink& sink = Start();
  ASSERT_TRUE(m_manager->ResumeDownload("mag", "51"));
  EXPECT_FALSE(m_manager->ResumeDownload("mag", "51"));  // no second transfer for the record
  EXPECT_EQ(m_manager->GetActiveCount(), 1);             // and no count for the refused one
  MagInfoPtr waiting = ShelfRecord("book", "52", "next.bin?rate=50000");
  ASSERT_TRUE(sink.WaitForEvent(EVENT_DOWNLOAD_PROGRESS, "51"));

  ASSERT_TRUE(m_manager->StopDownload(running, StopMode::Wait));
  EXPECT_FALSE(m_manager->IsTransferRunning(running));
  EXPECT_EQ(Down(running), kDownNone);
  EXPECT_TRUE(Exists(running->savepath + ".temp"));
  EXPECT_FALSE(Exists(running->savepath));
  EXPECT_EQ(sink.Count(EVENT_DOWNLOAD_STOPPED, "51"), 1);
  EXPECT_TRUE(sink.WaitForEvent(EVENT_DOWNLOAD_STARTED, "52"));
  EXPECT_EQ(Down(waiting), kDownRunning);
  EXPECT_TRUE(m_manager->IsTransferRunning(waiting));
  EXPECT_EQ(m_manager->GetActiveCount(), 1);
}

TEST_F(DownloadTest, AStoppedDownloadOfUnknownLengthIsNotTakenForComplete) {
  const std::string bytes = ServeFile("nolen.bin", 1000000);
  MagInfoPtr record = ShelfRecord("mag", "53", "nolen.bin?rate=50000&nolength=1");
  // Resumed: the client's total is then the resume offset, which is no total at all.
  WriteFileOrDie(record->savepath + ".temp", bytes.substr(0, 5000));
  RecordingSink& sink = Start();
  ASSERT_TRUE(m_manager->StartNextQueued());
  ASSERT_TRUE(sink.WaitForEvent(EVENT_DOWNLOAD_PROGRESS, "53"));
  ASSERT_TRUE(m_manager->StopDownload(record, StopMode::Wait));
  EXPECT_FALSE(Exists(record->savepath));
  EXPECT_TRUE(Exists(record->savepath + ".temp"));
  EXPECT_EQ(Down(record), kDownNone);
  EXPECT_EQ(sink.Count(EVENT_DOWNLOAD_STOPPED, "53"), 1);
  for (const auto& e : sink.Events()) {
    if (e.code == EVENT_DOWNLOAD_PROGRESS) {
      EXPECT_EQ(e.percent, "0");  // no total, no division
    }
  }
}

TEST_F(DownloadTest, ACompleteDownloadOfUnknownLengthEndsAt100WithItsSize) {
  const std::string bytes = ServeFile("nolen2.bin", 50000);
  MagInfoPtr record = ShelfRecord("mag", "54", "nolen2.bin?nolength=1");
  RecordingSink& sink = Start();
  ASSERT_TRUE(m_manager->StartNextQueued());
  ASSERT_TRUE(sink.WaitFor([](const auto& events) {
    return !events.empty() && events.back().percent == "100";
  }));
  ASSERT_TRUE(m_manager->WaitForIdle(10s));
  EXPECT_EQ(ReadFileOrDie(record->savepath), bytes);
  auto lists = m_shelf->LockLists();
  EXPECT_EQ(record->down, kDownComplete);
  EXPECT_EQ(record->downlen, 50000);
  EXPECT_EQ(record->filelen, 50000);
}

TEST_F(DownloadTest, StartUpStartsAtMostFiveWaitingRecords) {
  std::vector<MagInfoPtr> records;
  for (int i = 1; i <= 7; ++i) {
    const std::string pid = "7" + std::to_string(i);
    ServeFile("wait" + pid + ".bin", 400000);
    records.push_back(ShelfRecord(i % 2 ? "mag" : "book", pid, "wait" + pid + ".bin?rate=40000"));
  }
  RecordingSink& sink = Start();
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(m_manager->StartNextQueued());
  EXPECT_EQ(m_manager->GetActiveCount(), 5);
  int running = 0, waiting = 0;
  for (const auto& r : records) {
    running += Down(r) == kDownRunning;
    waiting += Down(r) == kDownWaiting;
  }
  EXPECT_EQ(running, 5);
  EXPECT_EQ(waiting, 2);
  // Magazines are taken first: the four magazines (71, 73, 75, 77) and the first book.
  for (const char* pid : {"71", "73", "75", "77", "72"}) {
    EXPECT_TRUE(sink.WaitForEvent(EVENT_DOWNLOAD_STARTED, pid)) << pid;
    EXPECT_EQ(sink.Count(EVENT_DOWNLOAD_STARTED, pid), 1) << pid;
  }
  ASSERT_TRUE(m_manager->StopAllTransfers(StopMode::Wait));
  EXPECT_EQ(m_manager->GetActiveCount(), 0);
  EXPECT_FALSE(m_manager->StartNextQueued());  // the program is closing: nothing new starts
}

// The window's thread waits for a worker that is itself blocked delivering an event to that
// thread: the waited stop still ends, and the events reach the window on its own thread.
TEST_F(DownloadTest, AWaitedStopOnTheWindowThreadNeverDeadlocks) {
  ServeFile("ui.bin", 2000000);
  MagInfoPtr record = ShelfRecord("mag", "81", "ui.bin?rate=100000");
  ServeFile("ui2.bin", 2000000);
  ShelfRecord("mag", "82", "ui2.bin?rate=100000");
  UiThreadSink& sink = Start<UiThreadSink>();
  ASSERT_TRUE(m_manager->StartNextQueued());
  sink.Pump(800ms);
  // Stop pumping until a worker is blocked sending progress to this thread.
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (!sink.HasWaitingSender() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(sink.HasWaitingSender());
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(m_manager->StopDownload(record, StopMode::Wait));
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
  EXPECT_FALSE(m_manager->IsTransferRunning(record));
  EXPECT_EQ(sink.Count(EVENT_DOWNLOAD_STOPPED, "81"), 1);
  // The next waiting record's worker announces itself; the window hears it when it pumps.
  for (int i = 0; i < 100 && sink.Count(EVENT_DOWNLOAD_STARTED, "82") == 0; ++i) sink.Pump(50ms);
  EXPECT_EQ(sink.Count(EVENT_DOWNLOAD_STARTED, "82"), 1);
  for (const auto& e : sink.Events()) EXPECT_EQ(e.thread, std::this_thread::get_id());
  // Closing waits the same way.
  ASSERT_TRUE(m_manager->StopAllTransfers(StopMode::Wait));
}

TEST_F(DownloadTest, ProgressAndSavesComeAtMostEvery200ms) {
  ServeFile("fast.bin", 1500000);
  MagInfoPtr record = ShelfRecord("mag", "91", "fast.bin?rate=1000000");
  RecordingSink& sink = Start();
  const auto began = std::chrono::steady_clock::now();
  ASSERT_TRUE(m_manager->StartNextQueued());
  ASSERT_TRUE(sink.WaitFor([](const auto& events) {
    return !events.empty() && events.back().percent == "100";
  }));
  ASSERT_TRUE(m_manager->WaitForIdle(10s));
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began)
          .count();
  const DownloadStats stats = m_manager->GetStats();
  // About 1500 pieces of 1 KiB were received; reports: one per 200 ms, the piece that completes
  // the length and the completion itself.
  const std::uint64_t allowed = static_cast<std::uint64_t>(ms / 200) + 3;
  EXPECT_LE(stats.progressEvents, allowed) << ms << " ms";
  EXPECT_GE(stats.progressEvents, 3u);
  EXPECT_LE(stats.shelfSaves, allowed + 3);  // plus the start and the end
  EXPECT_EQ(Down(record), kDownComplete);
}

// ---------------------------------------------------------------------------------------------
// Covers, names and categories

TEST_F(DownloadTest, CoversAreFetchedOnceAndAnExistingCoverIsKept) {
  ServeFile("c1.bin", 1000);
  ServeFile("c1.jpg", 3000);
  ServeFile("c2.bin", 1000);
  ServeFile("c2.jpg", 3000);
  ServeRecord("mag", "101", "Cover", "", "c1.bin", "c1.jpg");
  ServeRecord("mag", "102", "Kept", "", "c2.bin", "c2.jpg");
  std::filesystem::create_directories(m_tunables.imagesFolder + "/mag");
  WriteFileOrDie(m_tunables.imagesFolder + "/mag/102.jpg", "old cover");
  RecordingSink& sink = Start();
  ASSERT_TRUE(m_manager->RequestDownload("mag", "101"));
  ASSERT_TRUE(m_manager->RequestDownload("mag", "102"));
  ASSERT_TRUE(sink.WaitForEvent(EVENT_RECORD_ADDED, "101"));
  ASSERT_TRUE(sink.WaitForEvent(EVENT_RECORD_ADDED, "102"));
  ASSERT_TRUE(m_manager->WaitForIdle(10s));
  EXPECT_EQ(ReadFileOrDie(m_tunables.imagesFolder + "/mag/101.jpg").size(), 3000u);
  EXPECT_EQ(ReadFileOrDie(m_tunables.imagesFolder + "/mag/102.jpg"), "old cover");
  EXPECT_EQ(RequestsFor("/files/c1.jpg"), 1);
  EXPECT_EQ(RequestsFor("/files/c2.jpg"), 0);

  // Taken off the shelf and asked for again: the cover on disk is used.
  ASSERT_TRUE(m_shelf->DeleteRecord("mag", "101"));
  ASSERT_TRUE(m_manager->RequestDownload("mag", "101"));
  ASSERT_TRUE(sink.WaitFor([](const auto& events) {
    return RecordingSink::CountOf(events, EVENT_RECORD_ADDED, "101") == 2;
  }));
  ASSERT_TRUE(m_manager->WaitForIdle(10s));
  EXPECT_EQ(RequestsFor("/files/c1.jpg"), 1);
}

TEST_F(DownloadTest, AMaliciousNameCannotWriteOutsideTheDownloadFolder) {
  ServeFile("evil.bin", 4000);
  ServeFile("evil.jpg", 100);
  ServeRecord("mag", "666", "../../escaped", "/..", "evil.bin", "evil.jpg", "../../666");
  RecordingSink& sink = Start();
  ASSERT_TRUE(m_manager->RequestDownload("mag", "666"));
  ASSERT_TRUE(sink.WaitFor([](const auto& events) {
    return !events.empty() && events.back().percent == "100";
  }));
  ASSERT_TRUE(m_manager->WaitForIdle(10s));

  MagInfoPtr record = m_shelf->FindRecord("mag", "../../666");
  ASSERT_TRUE(record);
  EXPECT_EQ(platform::fs::ParentOf(record->savepath) + "/", m_tunables.downloadFolder);
  EXPECT_TRUE(Exists(record->savepath));
  // Every file the download wrote lies in the download folder or the images folder.
  const std::string above = platform::fs::ParentOf(m_dir.path());
  for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir.path())) {
    const std::string path = entry.path().string();
    if (entry.is_regular_file() && path.find("escaped") != std::string::npos) {
      EXPECT_EQ(path.rfind(m_tunables.downloadFolder, 0), 0u) << path;
    }
  }
  for (const auto& entry : std::filesystem::directory_iterator(above)) {
    EXPECT_EQ(entry.path().filename().string().find("escaped"), std::string::npos);
  }
  EXPECT_TRUE(Exists(m_tunables.imagesFolder + "/mag/______666.jpg"));
  EXPECT_FALSE(Exists(m_dir / "escaped[______666].exe"));
}

TEST_F(DownloadTest, CategoryFilesAreFetchedAndAFailedFetchKeepsTheOldFile) {
  const std::string reply =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><api><sort id=\"1\" sort_name=\"A\"/></api>";
  WriteFileOrDie(m_root + "/class_book.xml", reply);  // no class_mag.xml: that fetch fails
  WriteFileOrDie(m_tunables.magClassFile, "previous");
  Start();
  m_manager->FetchCategories();
  ASSERT_TRUE(m_manager->WaitForIdle(10s));
  EXPECT_EQ(ReadFileOrDie(m_tunables.bookClassFile), reply);
  EXPECT_EQ(ReadFileOrDie(m_tunables.magClassFile), "previous");
  EXPECT_EQ(RequestsFor("act=sortClass&class=book&source="), 1);
  EXPECT_EQ(RequestsFor("act=sortClass&class=mag&source="), 1);
}

}  // namespace

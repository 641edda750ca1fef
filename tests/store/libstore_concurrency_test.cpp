// Download workers and the user-interface thread use the shelf lists at once: several threads
// add, delete, read recently and save while another reads, and the files end up consistent with
// the lists.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "store/ShelfLists.h"
#include "tests/store/StoreTestUtil.h"
#include "tests/support/TestSupport.h"

namespace {

using storetest::MakeRecord;

std::vector<std::string> Pids(const MagList& list) {
  std::vector<std::string> pids;
  for (const auto& r : list) pids.push_back(r->pid);
  return pids;
}

TEST(ShelfConcurrencyTest, WritersAndAReaderKeepListsAndFilesConsistent) {
  testsupport::TempDir dir;
  const ShelfFiles files{dir / "BookShelf.xml", dir / "MagShelf.xml", dir / "BookNewRead.xml",
                         dir / "MagNewRead.xml"};
  CShelfLists lists(files, ShelfListsTunables{20});
  constexpr int kWriters = 4;
  constexpr int kRounds = 30;
  std::atomic<bool> done{false};
  std::atomic<long> seen{0};

  std::thread reader([&] {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done.load() && std::chrono::steady_clock::now() < until) {
      for (const char* key : {"book", "mag", "book_read", "mag_read"}) {
        for (const MagInfoPtr& r : lists.GetList(key)) seen += static_cast<long>(r->name.size());
      }
      {
        // Fields that workers change are read under the lists' lock.
        auto hold = lists.LockLists();
        if (MagInfoPtr r = lists.FindRecord("book", "w0-1")) seen += r->downlen;
      }
      if (MagInfoPtr r = lists.FindFirstStopped()) seen += static_cast<long>(r->pid.size());
      seen += static_cast<long>(lists.GetSortIdList("mag").size());
    }
  });

  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      const std::string prefix = "w" + std::to_string(w) + "-";
      for (int i = 0; i < kRounds; ++i) {
        const std::string pid = prefix + std::to_string(i);
        const char* type = i % 2 ? "book" : "mag";
        lists.AddRecord(MakeRecord(pid, type, std::to_string(i % 5)), type, InsertAt::Front);
        lists.AddRecentRead(lists.FindRecord(type, pid));
        lists.AddFromBooklistXml("<api><booklist><pid>" + pid + "x</pid><type>mag</type>"
                                 "<name><![CDATA[reply]]></name></booklist></api>",
                                 "mag");
        {
          // A download worker changes a shared record's state, then saves.
          auto hold = lists.LockLists();
          if (MagInfoPtr r = lists.FindRecord(type, pid)) {
            r->down = kDownRunning;
            r->downlen = i;
          }
        }
        if (i % 3 == 0) lists.DeleteRecord(type, pid);
        if (i % 7 == 0) lists.DeleteRecord("mag", prefix + std::to_string(i) + "x");
        if (i % 10 == 0) lists.SaveList("all");
      }
    });
  }
  for (auto& t : writers) t.join();
  done = true;
  reader.join();
  EXPECT_GT(seen.load(), 0);

  ASSERT_TRUE(lists.SaveList("all"));
  CShelfLists reloaded(files, ShelfListsTunables{20});
  reloaded.LoadAllLists();
  for (const char* key : {"book", "mag", "book_read", "mag_read"}) {
    const std::vector<std::string> inMemory = Pids(lists.GetList(key));
    EXPECT_EQ(Pids(reloaded.GetList(key)), inMemory) << key;
    EXPECT_EQ(std::set<std::string>(inMemory.begin(), inMemory.end()).size(), inMemory.size())
        << key << " holds a pid twice";
  }
  // What each writer leaves: its books and magazines not deleted, and the replies not deleted.
  std::size_t books = 0;
  std::size_t mags = 0;
  for (int i = 0; i < kRounds; ++i) {
    if (i % 3 != 0) (i % 2 ? books : mags) += 1;
    if (i % 7 != 0) mags += 1;
  }
  EXPECT_EQ(lists.GetList("book").size(), kWriters * books);
  EXPECT_EQ(lists.GetList("mag").size(), kWriters * mags);
  EXPECT_LE(lists.GetList("mag_read").size(), 20u);
  EXPECT_LE(lists.GetList("book_read").size(), 20u);
}

}  // namespace

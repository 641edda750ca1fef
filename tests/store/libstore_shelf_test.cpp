// The four shelf lists: their rules for adding, reading recently, deleting and loading, and the
// files written after each change.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/fs.h"
#include "store/ShelfLists.h"
#include "tests/store/StoreTestUtil.h"
#include "tests/support/TestSupport.h"

namespace {

using storetest::MakeRecord;

class ShelfListsTest : public ::testing::Test {
 protected:
  ShelfFiles Files() const {
    return {m_dir / "BookShelf.xml", m_dir / "MagShelf.xml", m_dir / "BookNewRead.xml",
            m_dir / "MagNewRead.xml"};
  }
  std::string FileText(const std::string& path) const {
    std::string text;
    platform::fs::ReadFile(path, text);
    return text;
  }
  // The pids of a list file, in file order.
  std::vector<std::string> PidsInFile(const std::string& path) const {
    MagList list;
    CShelfLists::ParseBooklistXml(FileText(path), list, InsertAt::Back);
    std::vector<std::string> pids;
    for (const auto& r : list) pids.push_back(r->pid);
    return pids;
  }
  static std::vector<std::string> Pids(const MagList& list) {
    std::vector<std::string> pids;
    for (const auto& r : list) pids.push_back(r->pid);
    return pids;
  }

  testsupport::TempDir m_dir;
  CShelfLists m_lists{Files()};
};

TEST_F(ShelfListsTest, AddRecordKeepsPidsUniqueAndSaves) {
  EXPECT_TRUE(m_lists.AddRecord(MakeRecord("1"), "mag", InsertAt::Back));
  EXPECT_TRUE(m_lists.AddRecord(MakeRecord("2"), "mag", InsertAt::Back));
  EXPECT_TRUE(m_lists.AddRecord(MakeRecord("0"), "mag", InsertAt::Front));
  EXPECT_EQ(Pids(m_lists.GetList("mag")), (std::vector<std::string>{"0", "1", "2"}));
  const std::string saved = FileText(Files().mag);
  EXPECT_EQ(saved, CShelfLists::WriteBooklistXml(m_lists.GetList("mag")));

  // The same pid again: refused, the list and its file stay as they were.
  auto again = MakeRecord("1");
  again->name = "changed";
  EXPECT_FALSE(m_lists.AddRecord(again, "mag", InsertAt::Front));
  EXPECT_EQ(Pids(m_lists.GetList("mag")), (std::vector<std::string>{"0", "1", "2"}));
  EXPECT_EQ(m_lists.FindRecord("mag", "1")->name, "Issue 1");
  EXPECT_EQ(FileText(Files().mag), saved);

  EXPECT_FALSE(m_lists.AddRecord(MakeRecord("3"), "magazine", InsertAt::Back));
  EXPECT_FALSE(m_lists.AddRecord(nullptr, "mag", InsertAt::Back));
  EXPECT_FALSE(platform::fs::Exists(Files().book));
}

TEST_F(ShelfListsTest, LookupsAreExactAndByKey) {
  m_lists.AddRecord(MakeRecord("Ab", "book"), "book", InsertAt::Back);
  EXPECT_TRUE(m_lists.HasRecord("book", "Ab"));
  EXPECT_FALSE(m_lists.HasRecord("book", "ab"));
  EXPECT_FALSE(m_lists.HasRecord("book", "A"));
  EXPECT_FALSE(m_lists.HasRecord("mag", "Ab"));
  EXPECT_EQ(m_lists.FindRecord("nothing", "Ab"), nullptr);
  EXPECT_TRUE(m_lists.GetList("nothing").empty());
}

TEST_F(ShelfListsTest, TheHundredAndFirstRecentIssueDropsTheOldest) {
  for (int i = 1; i <= 101; ++i) {
    EXPECT_TRUE(m_lists.AddRecentRead(MakeRecord(std::to_string(i))));
  }
  const MagList recent = m_lists.GetList("mag_read");
  ASSERT_EQ(recent.size(), 100u);
  EXPECT_EQ(recent.front()->pid, "101");
  EXPECT_EQ(recent.back()->pid, "2");
  const std::vector<std::string> inFile = PidsInFile(Files().magRead);
  ASSERT_EQ(inFile.size(), 100u);
  EXPECT_EQ(inFile.front(), "101");
  EXPECT_EQ(std::count(inFile.begin(), inFile.end(), "1"), 0) << "the oldest is gone from the file";
}

TEST_F(ShelfListsTest, ReReadingMovesToTheFront) {
  for (const char* pid : {"a", "b", "c"}) m_lists.AddRecentRead(MakeRecord(pid, "book"));
  m_lists.AddRecentRead(MakeRecord("a", "book"));
  EXPECT_EQ(Pids(m_lists.GetList("book_read")), (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(PidsInFile(Files().bookRead), (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_TRUE(m_lists.GetList("mag_read").empty());

  // Only "book" and "mag" records have a recent list.
  EXPECT_TRUE(m_lists.AddRecentRead(MakeRecord("x", "video")));
  EXPECT_FALSE(m_lists.HasRecord("book_read", "x"));
  EXPECT_FALSE(m_lists.HasRecord("mag_read", "x"));
  EXPECT_FALSE(platform::fs::Exists(Files().magRead));
}

TEST_F(ShelfListsTest, ARecordIsSharedBetweenListsAndOutlivesItsRemoval) {
  auto record = MakeRecord("9", "mag");
  ASSERT_TRUE(m_lists.AddRecord(record, "mag", InsertAt::Back));
  m_lists.AddRecentRead(m_lists.FindRecord("mag", "9"));
  EXPECT_EQ(m_lists.FindRecord("mag", "9"), m_lists.FindRecord("mag_read", "9"));

  MagInfoPtr held = m_lists.FindRecord("mag", "9");
  record.reset();
  m_lists.DeleteRecord("mag", "9");
  EXPECT_FALSE(m_lists.HasRecord("mag", "9"));
  EXPECT_FALSE(m_lists.HasRecord("mag_read", "9"));
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(held->name, "Issue 9") << "the caller's pointer keeps the record alive";
}

TEST_F(ShelfListsTest, AStateChangedUnderTheLockIsSavedInBothLists) {
  m_lists.AddRecord(MakeRecord("5"), "mag", InsertAt::Back);
  m_lists.AddRecentRead(m_lists.FindRecord("mag", "5"));
  {
    auto hold = m_lists.LockLists();
    MagInfoPtr r = m_lists.FindRecord("mag", "5");
    r->down = kDownComplete;
    r->savepath = m_dir / "5.exe";
    m_lists.SaveList("all");
  }
  EXPECT_NE(FileText(Files().mag).find("<down>2</down>"), std::string::npos);
  EXPECT_NE(FileText(Files().magRead).find("<down>2</down>"), std::string::npos);
}

// Which lists lose the record and which files are written again for each key.
TEST_F(ShelfListsTest, DeleteRecordSaveRules) {
  const struct {
    const char* key;
    bool book, mag, bookRead, magRead;  // removed from (and saved) for this key
  } cases[] = {
      {"book", true, false, true, false},
      {"mag", false, true, false, true},
      {"book_read", false, false, true, false},
      {"mag_read", false, false, false, true},
      {"all", false, false, false, false},
      {"", false, false, false, false},
  };
  for (const auto& c : cases) {
    CShelfLists lists(Files());
    for (const char* key : {"book", "mag", "book_read", "mag_read"}) {
      lists.AddRecord(MakeRecord("p"), key, InsertAt::Back);
      lists.AddRecord(MakeRecord("q"), key, InsertAt::Back);
    }
    const ShelfFiles files = Files();
    for (const std::string* f : {&files.book, &files.mag, &files.bookRead, &files.magRead}) {
      platform::fs::RemoveFile(*f);
    }
    EXPECT_TRUE(lists.DeleteRecord(c.key, "p"));
    const struct {
      const char* key;
      const std::string& file;
      bool removed;
    } checks[] = {{"book", files.book, c.book},
                  {"mag", files.mag, c.mag},
                  {"book_read", files.bookRead, c.bookRead},
                  {"mag_read", files.magRead, c.magRead}};
    for (const auto& k : checks) {
      EXPECT_EQ(lists.HasRecord(k.key, "p"), !k.removed) << c.key << " / " << k.key;
      EXPECT_TRUE(lists.HasRecord(k.key, "q")) << c.key << " / " << k.key;
      EXPECT_EQ(platform::fs::Exists(k.file), k.removed) << c.key << " saves " << k.key;
      if (k.removed) EXPECT_EQ(PidsInFile(k.file), std::vector<std::string>{"q"});
    }
  }
}

TEST_F(ShelfListsTest, LoadAllListsReadsEachFileAndRestartsDownloads) {
  const std::string present = m_dir / "done.exe";
  testsupport::WriteFileOrDie(present, "MZ");
  auto running = MakeRecord("run");
  running->down = kDownRunning;
  auto idle = MakeRecord("idle");
  idle->down = kDownNone;
  auto done = MakeRecord("done");
  done->down = kDownComplete;
  done->savepath = present;
  auto gone = MakeRecord("gone");
  gone->down = kDownComplete;
  gone->savepath = m_dir / "deleted.exe";
  const ShelfFiles files = Files();
  testsupport::WriteFileOrDie(files.mag,
                              CShelfLists::WriteBooklistXml({running, idle, done, gone}));
  testsupport::WriteFileOrDie(files.bookRead,
                              CShelfLists::WriteBooklistXml({MakeRecord("b1", "book")}));

  CShelfLists lists(files);
  lists.LoadAllLists();
  const MagList mag = lists.GetList("mag");
  EXPECT_EQ(Pids(mag), (std::vector<std::string>{"run", "idle", "done"}));
  EXPECT_EQ(mag[0]->down, kDownWaiting);
  EXPECT_EQ(mag[1]->down, kDownWaiting);
  EXPECT_EQ(mag[2]->down, kDownComplete);
  EXPECT_TRUE(lists.GetList("book").empty()) << "a missing file gives an empty list";
  EXPECT_EQ(Pids(lists.GetList("book_read")), std::vector<std::string>{"b1"});
  EXPECT_EQ(lists.FindFirstStopped(), mag[0]);

  // The dropped record is missing from the file after the next save.
  ASSERT_TRUE(lists.SaveList("mag"));
  EXPECT_EQ(PidsInFile(files.mag), (std::vector<std::string>{"run", "idle", "done"}));

  // Loading again gives the files' contents, not a second copy.
  lists.LoadAllLists();
  EXPECT_EQ(lists.GetList("mag").size(), 3u);
}

TEST_F(ShelfListsTest, AddFromBooklistXmlMergesAtTheFrontAndSaves) {
  m_lists.AddRecord(MakeRecord("1"), "mag", InsertAt::Back);
  const std::string reply =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<api>\r\n"
      "<booklist><pid>2</pid><type>mag</type></booklist>"
      "<booklist><pid>3</pid><type>mag</type></booklist>\r\n</api>\r\n";
  const MagInfoPtr last = m_lists.AddFromBooklistXml(reply, "mag");
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->pid, "3");
  EXPECT_EQ(Pids(m_lists.GetList("mag")), (std::vector<std::string>{"3", "2", "1"}));
  EXPECT_EQ(PidsInFile(Files().mag), (std::vector<std::string>{"3", "2", "1"}));

  // Nothing new: no record answered and no file written.
  const MagInfoPtr intoBooks = m_lists.AddFromBooklistXml(reply, "book");
  EXPECT_EQ(intoBooks, m_lists.FindRecord("book", "3"));
  platform::fs::RemoveFile(Files().book);
  EXPECT_EQ(m_lists.AddFromBooklistXml(reply, "book"), nullptr);
  EXPECT_FALSE(platform::fs::Exists(Files().book));
  EXPECT_EQ(m_lists.AddFromBooklistXml(reply, "bogus"), nullptr);
}

TEST_F(ShelfListsTest, AddFromBooklistXmlCutsARecentList) {
  for (int i = 0; i < 100; ++i) m_lists.AddRecentRead(MakeRecord("old" + std::to_string(i)));
  const MagInfoPtr last = m_lists.AddFromBooklistXml(
      "<api><booklist><pid>n1</pid></booklist><booklist><pid>n2</pid></booklist></api>",
      "mag_read");
  ASSERT_NE(last, nullptr);
  const MagList recent = m_lists.GetList("mag_read");
  ASSERT_EQ(recent.size(), 100u);
  EXPECT_EQ(recent[0]->pid, "n2");
  EXPECT_EQ(recent[1]->pid, "n1");
  EXPECT_EQ(recent.back()->pid, "old2");
  EXPECT_EQ(PidsInFile(Files().magRead).size(), 100u);
}

TEST_F(ShelfListsTest, FindFirstStoppedLooksAtMagazinesFirst) {
  EXPECT_EQ(m_lists.FindFirstStopped(), nullptr);
  auto book = MakeRecord("b", "book");
  m_lists.AddRecord(book, "book", InsertAt::Back);
  EXPECT_EQ(m_lists.FindFirstStopped(), book);
  auto running = MakeRecord("m1");
  running->down = kDownRunning;
  auto waiting = MakeRecord("m2");
  m_lists.AddRecord(running, "mag", InsertAt::Back);
  m_lists.AddRecord(waiting, "mag", InsertAt::Back);
  EXPECT_EQ(m_lists.FindFirstStopped(), waiting);
  // The recent lists are not looked at.
  CShelfLists other(Files());
  other.AddRecentRead(MakeRecord("r"));
  EXPECT_EQ(other.FindFirstStopped(), nullptr);
}

TEST_F(ShelfListsTest, SortIdListHasEachValueOnceWithATrailingComma) {
  const struct {
    std::vector<std::string> sortIds;
    std::string want;
  } cases[] = {
      {{"7", "12", "7"}, "7,12,"},
      {{"12", "2", "1"}, "12,2,1,"},
      {{"5"}, "5,"},
      {{}, ""},
  };
  for (const auto& c : cases) {
    CShelfLists lists(Files());
    int n = 0;
    for (const std::string& s : c.sortIds) {
      lists.AddRecord(MakeRecord(std::to_string(n), "book", s), "book", InsertAt::Back);
      lists.AddRecord(MakeRecord(std::to_string(n), "mag", s), "mag", InsertAt::Back);
      lists.AddRecord(MakeRecord(std::to_string(n++), "book", s), "book_read", InsertAt::Back);
    }
    EXPECT_EQ(lists.GetSortIdList("book"), c.want);
    EXPECT_EQ(lists.GetSortIdList("mag"), c.want);
    EXPECT_EQ(lists.GetSortIdList("book_read"), "");
  }
}

TEST_F(ShelfListsTest, SavesReplaceFilesWholeAndLeaveNothingBeside) {
  for (const char* key : {"book", "mag", "book_read", "mag_read"}) {
    m_lists.AddRecord(MakeRecord(key), key, InsertAt::Back);
  }
  EXPECT_TRUE(m_lists.SaveList("all"));
  EXPECT_FALSE(m_lists.SaveList("shelf"));
  std::vector<std::string> names;
  for (const auto& e : platform::fs::ListFolder(m_dir.path())) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"BookNewRead.xml", "BookShelf.xml",
                                             "MagNewRead.xml", "MagShelf.xml"}));

  // A file that cannot be written: the save fails and the list in memory stays.
  CShelfLists broken({m_dir / "none/BookShelf.xml", m_dir / "none/MagShelf.xml",
                      m_dir / "none/BookNewRead.xml", m_dir / "none/MagNewRead.xml"});
  EXPECT_TRUE(broken.AddRecord(MakeRecord("1"), "mag", InsertAt::Back));
  EXPECT_FALSE(broken.SaveList("mag"));
  EXPECT_TRUE(broken.HasRecord("mag", "1"));
}

}  // namespace

// The booklist format: the byte layout written for a list, and the reading rules for files and
// server replies.
#include <gtest/gtest.h>

#include <climits>

#include "store/ShelfLists.h"
#include "tests/store/StoreTestUtil.h"
#include "tests/support/TestSupport.h"

namespace {

using storetest::Golden;
using storetest::MakeRecord;

// The two records of golden/booklist_two.xml.
MagList TwoRecords() {
  auto a = std::make_shared<CMagInfo>();
  a->id = "101";
  a->pid = "55435";
  a->sort_id = "7";
  a->class_id = "3";
  a->brand_id = "12";
  a->feature = "hot";
  a->name = "\xD4\xD3\xD6\xBE 2026";  // GBK
  a->date = "2026-11";
  a->isFullSwf = "1";
  a->price = "0.00";
  a->exe_size = "12.5M";
  a->load_url = "http://127.0.0.1:8180/down/55435.exe?a=1&b=2";
  a->pic1 = "http://127.0.0.1:8180/pic/55435.jpg";
  a->s_pic = "http://127.0.0.1:8180/pic/55435s.jpg";
  a->description = "A <b>monthly</b> issue";
  a->add_time = "2026-11-02 10:00:00";
  a->downlen = 1024;
  a->filelen = 2048;
  a->down = kDownWaiting;
  a->type = "mag";
  a->savepath = "/home/u/QuorvexDownLoad/x[55435].exe.temp";

  auto b = std::make_shared<CMagInfo>();
  b->id = "102";
  b->pid = "B-9";
  b->sort_id = "12";
  b->feature = "a<b & c";
  b->name = "x]]>y";
  b->isFullSwf = "0";
  b->price = "3.50";
  b->filelen = -1;
  b->down = kDownWaiting;
  b->type = "book";
  return {a, b};
}

void ExpectSameRecord(const CMagInfo& want, const CMagInfo& got) {
  EXPECT_EQ(want.id, got.id);
  EXPECT_EQ(want.pid, got.pid);
  EXPECT_EQ(want.sort_id, got.sort_id);
  EXPECT_EQ(want.class_id, got.class_id);
  EXPECT_EQ(want.brand_id, got.brand_id);
  EXPECT_EQ(want.feature, got.feature);
  EXPECT_EQ(want.name, got.name);
  EXPECT_EQ(want.date, got.date);
  EXPECT_EQ(want.isFullSwf, got.isFullSwf);
  EXPECT_EQ(want.price, got.price);
  EXPECT_EQ(want.exe_size, got.exe_size);
  EXPECT_EQ(want.load_url, got.load_url);
  EXPECT_EQ(want.pic1, got.pic1);
  EXPECT_EQ(want.s_pic, got.s_pic);
  EXPECT_EQ(want.description, got.description);
  EXPECT_EQ(want.rec_content, got.rec_content);
  EXPECT_EQ(want.add_time, got.add_time);
  EXPECT_EQ(want.filelen, got.filelen);
  EXPECT_EQ(want.downlen, got.downlen);
  EXPECT_EQ(want.down, got.down);
  EXPECT_EQ(want.type, got.type);
  EXPECT_EQ(want.savepath, got.savepath);
}

TEST(BooklistFormatTest, WritesTheGoldenBytes) {
  EXPECT_EQ(CShelfLists::WriteBooklistXml(TwoRecords()), Golden("booklist_two.xml"));
  EXPECT_EQ(CShelfLists::WriteBooklistXml({}), Golden("booklist_empty.xml"));
}

TEST(BooklistFormatTest, ReadsTheGoldenFileBackToTheSameRecords) {
  MagList list;
  const MagInfoPtr last =
      CShelfLists::ParseBooklistXml(Golden("booklist_two.xml"), list, InsertAt::Back);
  const MagList want = TwoRecords();
  ASSERT_EQ(list.size(), 2u);
  ExpectSameRecord(*want[0], *list[0]);
  ExpectSameRecord(*want[1], *list[1]);
  EXPECT_EQ(last, list[1]);
}

TEST(BooklistFormatTest, FrontInsertionReversesTheReply) {
  MagList list = {MakeRecord("old")};
  const MagInfoPtr last =
      CShelfLists::ParseBooklistXml(Golden("booklist_two.xml"), list, InsertAt::Front);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]->pid, "B-9");
  EXPECT_EQ(list[1]->pid, "55435");
  EXPECT_EQ(list[2]->pid, "old");
  EXPECT_EQ(last, list[0]);
}

// A file of an earlier version: plain values never escaped, a record without pid, an empty
// booklist, a duplicate pid and elements out of order.
TEST(BooklistFormatTest, ReadsFilesOfEarlierVersionsAsBefore) {
  MagList list;
  CShelfLists::ParseBooklistXml(Golden("booklist_earlier.xml"), list, InsertAt::Back);
  ASSERT_EQ(list.size(), 2u);
  const CMagInfo& a = *list[0];
  EXPECT_EQ(a.pid, "700");
  EXPECT_EQ(a.feature, "Tom & Jerry");
  EXPECT_EQ(a.name, "\xB6\xC1\xD5\xDF <2026>");
  EXPECT_EQ(a.pic1, "http://h/p.jpg?w=1&h=2");
  EXPECT_EQ(a.downlen, 10);
  EXPECT_EQ(a.filelen, 20);
  EXPECT_EQ(a.down, kDownWaiting);  // was downloading when the program ended
  EXPECT_EQ(a.savepath, "/d/700.exe.temp");
  const CMagInfo& b = *list[1];
  EXPECT_EQ(b.pid, "701");
  EXPECT_EQ(b.name, "late name");
  EXPECT_EQ(b.type, "") << "an element before an earlier-found one is skipped";
  EXPECT_EQ(b.down, kDownWaiting);
}

TEST(BooklistFormatTest, EveryValueReadsBackAsWritten) {
  const std::string values[] = {
      "",
      "plain",
      "a<b",
      "&amp; stays a text",
      "&#233;&lt;",
      "]]>",
      "a]]>b]]>c",
      "]]]>",
      "]]]]>>",
      "<![CDATA[x]]>",
      "tail]]",
      " ",
      " padded ",
      "line\r\nbreak",
      "\xD4\xD3\xD6\xBE",        // GBK
      "\x81\x5D]>",              // a GBK character whose trail byte is "]"
      "\x81\x5D\x81\x5D>",
      "'\"quotes\"'",
  };
  for (const std::string& v : values) {
    auto r = MakeRecord("p1");
    r->feature = v;   // a plain element
    r->name = v;      // a CDATA element
    r->add_time = v;
    r->savepath = v;
    MagList list;
    ASSERT_TRUE(CShelfLists::ParseBooklistXml(CShelfLists::WriteBooklistXml({r}), list,
                                              InsertAt::Back))
        << v;
    ASSERT_EQ(list.size(), 1u) << v;
    EXPECT_EQ(list[0]->feature, v);
    EXPECT_EQ(list[0]->name, v);
    EXPECT_EQ(list[0]->add_time, v);
    EXPECT_EQ(list[0]->savepath, v);
  }
}

// A value holding half a two-byte character is written with "?" for it, and the records after
// it stay readable.
TEST(BooklistFormatTest, ACharacterCutInTwoDoesNotSpoilTheFile) {
  const struct {
    std::string value, readBack;
  } cases[] = {
      {"ab\x81", "ab?"},
      {"\x81<x", "?<x"},
      {"\x81&amp;", "?&amp;"},
      {"\x81]]>", "\x81]]>"},  // "]" is a trail byte: a whole character
      {"\xD4\xD3\x81", "\xD4\xD3?"},
      {"\xD4\xD3", "\xD4\xD3"},
  };
  for (const auto& c : cases) {
    auto cut = MakeRecord("1");
    cut->feature = c.value;
    cut->name = c.value;
    MagList list;
    CShelfLists::ParseBooklistXml(CShelfLists::WriteBooklistXml({cut, MakeRecord("2")}), list,
                                  InsertAt::Back);
    ASSERT_EQ(list.size(), 2u) << c.value;
    EXPECT_EQ(list[0]->feature, c.readBack);
    EXPECT_EQ(list[0]->name, c.readBack);
    EXPECT_EQ(list[1]->name, "Issue 2");
  }
}

TEST(BooklistFormatTest, NumbersAreLeadingDecimals) {
  const struct {
    std::string text;
    std::int32_t value;
  } cases[] = {
      {"12", 12},        {"12abc", 12}, {"  7", 7},       {"-5", -5},        {"+3", 3},
      {"abc", 0},        {"", 0},       {"0x10", 0},      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},       {"99999999999", INT32_MAX},
  };
  for (const auto& c : cases) {
    const std::string text = "<api><booklist><pid>p</pid><downlen>" + c.text +
                             "</downlen><filelen>" + c.text + "</filelen></booklist></api>";
    MagList list;
    ASSERT_TRUE(CShelfLists::ParseBooklistXml(text, list, InsertAt::Back)) << c.text;
    EXPECT_EQ(list[0]->downlen, c.value) << c.text;
    EXPECT_EQ(list[0]->filelen, c.value) << c.text;
  }
  auto r = MakeRecord("p");
  r->downlen = INT32_MIN;
  r->filelen = INT32_MAX;
  const std::string text = CShelfLists::WriteBooklistXml({r});
  EXPECT_NE(text.find("<downlen>-2147483648</downlen>\r\n<filelen>2147483647</filelen>\r\n"),
            std::string::npos);
}

TEST(BooklistFormatTest, DownloadStatesAtLoad) {
  testsupport::TempDir dir;
  const std::string present = dir / "present.exe";
  testsupport::WriteFileOrDie(present, "MZ");
  const struct {
    const char* down;
    std::string savepath;
    bool kept;
    std::int32_t state;
  } cases[] = {
      {"0", present, true, kDownWaiting},
      {"1", present, true, kDownWaiting},
      {"3", "", true, kDownWaiting},
      {"7", "", true, kDownWaiting},
      {"2", present, true, kDownComplete},
      {"2", dir / "gone.exe", false, 0},
      {"2", "", false, 0},
  };
  for (const auto& c : cases) {
    const std::string text = std::string("<api><booklist><pid>p</pid><down>") + c.down +
                             "</down><savepath><![CDATA[" + c.savepath +
                             "]]></savepath></booklist></api>";
    MagList list;
    CShelfLists::ParseBooklistXml(text, list, InsertAt::Back);
    ASSERT_EQ(list.size(), c.kept ? 1u : 0u) << c.down << " " << c.savepath;
    if (c.kept) EXPECT_EQ(list[0]->down, c.state) << c.down;
  }
}

TEST(BooklistFormatTest, UniquenessByPid) {
  MagList list = {MakeRecord("1")};
  const std::string reply =
      "<api><booklist><pid>1</pid><name>again</name></booklist>"
      "<booklist><pid>2</pid><name>first</name></booklist>"
      "<booklist><pid>2</pid><name>second</name></booklist>"
      "<booklist><pid>20</pid></booklist></api>";
  const MagInfoPtr last = CShelfLists::ParseBooklistXml(reply, list, InsertAt::Back);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]->name, "Issue 1");
  EXPECT_EQ(list[1]->pid, "2");
  EXPECT_EQ(list[1]->name, "first");
  EXPECT_EQ(list[2]->pid, "20");
  EXPECT_EQ(last, list[2]);
}

TEST(BooklistFormatTest, TextsWithoutRecords) {
  const char* texts[] = {
      "",
      "not xml at all",
      "<other><booklist><pid>1</pid></booklist></other>",
      "<api></api>",
      "<api><booklist></booklist><booklist><name>no pid</name></booklist></api>",
      "<?xml version=\"1.0\"?>\r\n<api>\r\n</api>\r\n",
  };
  for (const char* t : texts) {
    MagList list;
    EXPECT_EQ(CShelfLists::ParseBooklistXml(t, list, InsertAt::Front), nullptr) << t;
    EXPECT_TRUE(list.empty()) << t;
  }
}

// A file cut short anywhere keeps the records that were written whole before the cut.
TEST(BooklistFormatTest, AFileCutShortKeepsItsWholeRecords) {
  const std::string whole = Golden("booklist_two.xml");
  const std::size_t firstEnd = whole.find("</booklist>") + 11;
  const std::size_t secondEnd = whole.find("</booklist>", firstEnd) + 11;
  for (std::size_t cut = firstEnd; cut < whole.size(); ++cut) {
    MagList list;
    CShelfLists::ParseBooklistXml(whole.substr(0, cut), list, InsertAt::Back);
    ASSERT_EQ(list.size(), cut >= secondEnd ? 2u : 1u) << "cut at " << cut;
    EXPECT_EQ(list[0]->pid, "55435");
    EXPECT_EQ(list[0]->savepath, "/home/u/QuorvexDownLoad/x[55435].exe.temp") << cut;
  }
}

}  // namespace

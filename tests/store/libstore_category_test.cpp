// Category replies and files: the sort entries with their items, and the UTF-8 file read into
// the system code page.
#include <gtest/gtest.h>

#include "app/base/AppPaths.h"
#include "platform/text.h"
#include "store/SortInfo.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(CategoryTest, SortsAndItemsInDocumentOrder) {
  const std::vector<CSortInfo> sorts = ParseCategoryXml(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<api>\r\n"
      "<sort id=\"3\" sort_name=\"News\" extra=\"x\">\r\n"
      "  <item id=\"31\" p_id=\"3\" sort_name=\"World\"/>\r\n"
      "  <other id=\"99\"/>\r\n"
      "  <item id=\"32\" p_id=\"3\" sort_name=\"Home\"/>\r\n"
      "</sort>\r\n"
      "<note/>\r\n"
      "<sort id=\"4\" sort_name=\"Sport\"></sort>\r\n"
      "</api>\r\n");
  ASSERT_EQ(sorts.size(), 2u);
  EXPECT_EQ(sorts[0].id, "3");
  EXPECT_EQ(sorts[0].sort_name, "News");
  ASSERT_EQ(sorts[0].items.size(), 2u);
  EXPECT_EQ(sorts[0].items[0].id, "31");
  EXPECT_EQ(sorts[0].items[0].p_id, "3");
  EXPECT_EQ(sorts[0].items[0].sort_name, "World");
  EXPECT_EQ(sorts[0].items[1].id, "32");
  EXPECT_EQ(sorts[1].id, "4");
  EXPECT_TRUE(sorts[1].items.empty());
}

TEST(CategoryTest, RepliesWithoutItemsOrNames) {
  const struct {
    const char* text;
    std::vector<std::pair<std::string, std::string>> want;  // id, sort_name
  } cases[] = {
      {"<api><sort id=\"1\" sort_name=\"A\"/><sort id=\"2\" sort_name=\"B\"/></api>",
       {{"1", "A"}, {"2", "B"}}},
      {"<api><sort id=\"5\"/></api>", {{"5", ""}}},
      {"<api><sort sort_name=\"x &amp; y\"/></api>", {{"", "x & y"}}},
      {"<api></api>", {}},
      {"<root><sort id=\"1\"/></root>", {}},
      {"", {}},
      {"garbage", {}},
  };
  for (const auto& c : cases) {
    const std::vector<CSortInfo> sorts = ParseCategoryXml(c.text);
    ASSERT_EQ(sorts.size(), c.want.size()) << c.text;
    for (std::size_t i = 0; i < sorts.size(); ++i) {
      EXPECT_EQ(sorts[i].id, c.want[i].first) << c.text;
      EXPECT_EQ(sorts[i].sort_name, c.want[i].second) << c.text;
      EXPECT_TRUE(sorts[i].items.empty());
    }
  }
}

TEST(CategoryTest, AUtf8FileIsReadIntoTheSystemCodePage) {
  testsupport::TempDir dir;
  const std::string file = dir / "MagClass.xml";
  testsupport::WriteFileOrDie(
      file,
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<api><sort id=\"8\" sort_name=\"文学小说\">"
      "<item id=\"81\" p_id=\"8\" sort_name=\"诗歌\"/></sort></api>\n");
  const std::vector<CSortInfo> sorts = ReadCategoryFile(file);
  ASSERT_EQ(sorts.size(), 1u);
  EXPECT_EQ(sorts[0].sort_name, "\xCE\xC4\xD1\xA7\xD0\xA1\xCB\xB5");  // GBK
  EXPECT_EQ(sorts[0].sort_name, platform::Utf8ToSystem("文学小说"));
  ASSERT_EQ(sorts[0].items.size(), 1u);
  EXPECT_EQ(sorts[0].items[0].sort_name, platform::Utf8ToSystem("诗歌"));
  EXPECT_TRUE(ReadCategoryFile(dir / "missing.xml").empty());
}

TEST(CategoryTest, TheListOfATypeComesFromItsFile) {
  testsupport::TempDir dir;
  CAppPaths& paths = CAppPaths::Instance();
  const std::string oldBook = paths.BookClassFile;
  const std::string oldMag = paths.MagClassFile;
  paths.BookClassFile = dir / "BookClass.xml";
  paths.MagClassFile = dir / "MagClass.xml";
  testsupport::WriteFileOrDie(paths.BookClassFile, "<api><sort id=\"b\"/></api>");
  testsupport::WriteFileOrDie(paths.MagClassFile, "<api><sort id=\"m\"/></api>");
  const struct {
    const char* type;
    const char* id;
  } cases[] = {{"book", "b"}, {"mag", "m"}, {"", "m"}, {"Book", "m"}};
  for (const auto& c : cases) {
    const std::vector<CSortInfo> sorts = LoadCategoryList(c.type);
    ASSERT_EQ(sorts.size(), 1u) << c.type;
    EXPECT_EQ(sorts[0].id, c.id) << c.type;
  }
  paths.BookClassFile = oldBook;
  paths.MagClassFile = oldMag;
}

}  // namespace

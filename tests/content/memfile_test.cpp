#include "content/FolderPackage.h"
#include "content/MyMemFile.h"

#include <gtest/gtest.h>

namespace {

const std::u16string kStream = u"x:\\yuhdjinqbhc_wnhlxqxqa_34_44_43\\mag\\55435\\stream";

TEST(MemFileTest, LookupsFoldCaseAndRequireThePrefixAtTheStart) {
  CMyMemFile store;
  static const char data[] = "page index";
  ASSERT_TRUE(store.AddFile(kStream, data, 10));
  auto find = [&](std::u16string_view path) {
    auto hold = store.LockStore();
    return store.FindFile(path);
  };
  ASSERT_NE(find(kStream), nullptr);
  EXPECT_EQ(find(kStream)->data, data);
  EXPECT_EQ(find(kStream)->size, 10u);
  EXPECT_NE(find(u"X:\\YUHDJINQBHC_WNHLXQXQA_34_44_43\\MAG\\55435\\STREAM"), nullptr);
  EXPECT_EQ(find(u"c:\\x:\\yuhdjinqbhc_wnhlxqxqa_34_44_43\\mag\\55435\\stream"), nullptr);
  EXPECT_EQ(find(u"x:\\yuhdjinqbhc_wnhlxqxqa_34_44_43mag\\55435\\stream"), nullptr);
  EXPECT_EQ(find(u"x:\\yuhdjinqbhc_wnhlxqxqa_34_44_43\\mag\\55435\\strea"), nullptr);
  EXPECT_EQ(find(u"mag\\55435\\stream"), nullptr);
  EXPECT_EQ(find(u""), nullptr);
}

TEST(MemFileTest, TheFirstOfTwoEqualNamesWins) {
  CMyMemFile store;
  ASSERT_TRUE(store.AddFile(kStream, "first", 5));
  ASSERT_TRUE(store.AddOwnedFile(u"X:\\YUHDJINQBHC_WNHLXQXQA_34_44_43\\MAG\\55435\\Stream",
                                 "second"));
  std::string out;
  ASSERT_TRUE(store.ReadFile(kStream, out));
  EXPECT_EQ(out, "first");
  EXPECT_EQ(store.EntryCount(), 2u);
}

TEST(MemFileTest, ClearForgetsEverythingAndIsHarmlessWhenEmpty) {
  CMyMemFile store;
  store.Clear();
  ASSERT_TRUE(store.LoadContainerBytes(std::string(12, '\0'), u"x:\\", "0", Ownership::NotOwned,
                                       "", ""));
  ASSERT_NE(store.ContainerBlock(), nullptr);
  ASSERT_TRUE(store.AddOwnedFile(kStream, "bytes"));
  store.Clear();
  std::string out;
  EXPECT_FALSE(store.ReadFile(kStream, out));
  EXPECT_EQ(store.ContainerBlock(), nullptr);
  EXPECT_EQ(store.EntryCount(), 0u);
  store.Clear();
}

TEST(MemFileTest, ASecondLoadWithoutClearKeepsTheFirstFilesReadable) {
  CMyMemFile store;
  ASSERT_TRUE(store.LoadContainerBytes(BuildFolderPackage({{"a", "first issue"}}),
                                       IssueFolder("mag", "1"), "0", Ownership::NotOwned, "", ""));
  ASSERT_TRUE(store.LoadContainerBytes(BuildFolderPackage({{"b", "second issue"}}),
                                       IssueFolder("mag", "2"), "0", Ownership::NotOwned, "", ""));
  std::string out;
  ASSERT_TRUE(store.ReadFile(IssueFolder("mag", "1") + u"a", out));
  EXPECT_EQ(out, "first issue");
  ASSERT_TRUE(store.ReadFile(IssueFolder("mag", "2") + u"b", out));
  EXPECT_EQ(out, "second issue");
}

TEST(MemFileTest, NamesLongerThan255CharactersAreNotAdded) {
  CMyMemFile store;
  std::u16string name = kMemoryFilePrefixW;
  name.resize(255, u'a');
  EXPECT_TRUE(store.AddFile(name, "x", 1));
  EXPECT_FALSE(store.AddFile(name + u"a", "y", 1));
  EXPECT_FALSE(store.AddOwnedFile(name + u"b", "z"));
  EXPECT_EQ(store.EntryCount(), 1u);
}

TEST(MemFileTest, IssueFolderAndWideningKeepEveryByte) {
  EXPECT_EQ(IssueFolder("mag", "55435"), u"x:\\yuhdjinqbhc_wnhlxqxqa_34_44_43\\mag\\55435\\");
  EXPECT_EQ(WidenBytes("\xB4\xBA"), std::u16string({char16_t(0xB4), char16_t(0xBA)}));
}

TEST(MemFileTest, ServerIsNotRunningBeforeItReports) {
  CMyMemFile store;
  EXPECT_FALSE(store.IsServerRunning());
  EXPECT_EQ(store.GetServerState(), ServerState::NotStarted);
}

}  // namespace

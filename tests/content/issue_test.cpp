#include "content/FolderPackage.h"
#include "content/IssueInfo.h"
#include "content/MyMemFile.h"

#include "app/base/AppPaths.h"
#include "platform/fs.h"
#include "platform/module.h"
#include "platform/text.h"
#include "tests/content/ContentTestUtil.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace mod = platform::module;
using contenttest::FixtureIssueFolder;
using contenttest::ReadAll;
using contenttest::RunPack;
using testsupport::TempDir;

namespace {

// "春季号" and "2026年第1期" in UTF-8 (the command line) and GBK (the resources).
const std::string kNameUtf8 = "\xE6\x98\xA5\xE5\xAD\xA3\xE5\x8F\xB7";
const std::string kDateUtf8 = "2026\xE5\xB9\xB4\xE7\xAC\xAC" "1\xE6\x9C\x9F";

// An ELF-looking program file to carry the issue (its code is never run here).
std::string WriteProgram(const TempDir& dir) {
  const std::string path = dir / "program";
  testsupport::WriteFileOrDie(path, std::string("\x7F" "ELF", 4) + std::string(64, '\1'));
  return path;
}

std::string MakeIssue(const TempDir& dir, const std::string& priceFlag,
                      const std::vector<std::string>& extra = {}) {
  const std::string out = dir / ("issue" + priceFlag + ".exe");
  std::vector<std::string> args{"issue",       "--program",   WriteProgram(dir),
                                "--folder",    FixtureIssueFolder(),
                                "--out",       out,           "--pid",
                                "55435",       "--name",      kNameUtf8,
                                "--date",      kDateUtf8,     "--type",
                                "mag",         "--price-flag", priceFlag,
                                "--reader-kind", "0"};
  args.insert(args.end(), extra.begin(), extra.end());
  EXPECT_EQ(RunPack(args), 0);
  return out;
}

std::string Stored(const CMyMemFile& store, const std::string& name) {
  std::string out;
  if (!store.ReadFile(IssueFolder("mag", "55435") + WidenBytes(name), out)) return "<none>";
  return out;
}

TEST(IssueInfoTest, TextsOfAnIssueFileMadeByTheTool) {
  TempDir dir;
  const std::string issue = MakeIssue(dir, "1", {"--price", "5.00", "--sort-id", "7"});
  CIssueInfo info;
  EXPECT_TRUE(info.LoadFromModule(issue));
  EXPECT_EQ(info.pid, "55435");
  EXPECT_EQ(info.name, platform::Utf8ToSystem(kNameUtf8));
  EXPECT_EQ(info.name, "\xB4\xBA\xBC\xBE\xBA\xC5");  // GBK bytes
  EXPECT_EQ(info.date, platform::Utf8ToSystem(kDateUtf8));
  EXPECT_EQ(info.priceFlag, "1");
  EXPECT_EQ(info.readerKind, "0");
  EXPECT_EQ(info.type, "mag");
  EXPECT_EQ(info.price, "5.00");
  EXPECT_EQ(info.sortId, "7");
  EXPECT_EQ(info.openAtFirstStart, "");
  EXPECT_NE(info.module(), nullptr);
}

TEST(IssueInfoTest, TextResourcesOutsideOneTo1024BytesReadEmptyAndTypeDefaultsToMag) {
  TempDir dir;
  const std::string image = std::string("\x7F" "ELF", 4);
  const std::string file =
      image + mod::BuildResourceBlock(image.size(), {{"MYDATA", 162, std::string(1024, '7')},
                                                     {"MYDATA", 163, std::string(1025, 'n')},
                                                     {"MYDATA", 226, ""}});
  testsupport::WriteFileOrDie(dir / "odd.exe", file);
  CIssueInfo info;
  EXPECT_TRUE(info.LoadFromModule(dir / "odd.exe"));
  EXPECT_EQ(info.pid, std::string(1024, '7'));
  EXPECT_EQ(info.name, "");
  EXPECT_EQ(info.date, "");
  EXPECT_EQ(info.type, "mag");
}

TEST(IssueInfoTest, MissingOrForeignFilesFallBackToTheOwnModule) {
  TempDir dir;
  testsupport::WriteFileOrDie(dir / "notes.txt", "not a program");
  for (const std::string& path : {std::string(), dir / "missing.exe", dir / "notes.txt"}) {
    CIssueInfo info;
    EXPECT_TRUE(info.LoadFromModule(path));
    EXPECT_EQ(info.module(), nullptr);  // the test program itself carries no issue
    EXPECT_EQ(info.pid, "");
    EXPECT_EQ(info.type, "mag");
  }
}

TEST(IssueInfoTest, FirstOpenOfSelfAnswersTrueOnceWhileReadLogIsKept) {
  TempDir dir;
  CAppPaths& paths = CAppPaths::Instance();
  paths.SetRoamingFolderForTest(dir / "roaming");
  ASSERT_TRUE(platform::fs::CreateFolders(dir / "roaming"));
  paths.InitPaths();
  const std::string issue = MakeIssue(dir, "0", {"--open-at-first-start", "1"});
  CIssueInfo info;
  EXPECT_TRUE(info.IsFirstOpenOf(issue));
  EXPECT_FALSE(info.IsFirstOpenOf(issue));
  EXPECT_EQ(CIssueInfo::GetReadLog(info, "read"), "yes");
  EXPECT_EQ(CIssueInfo::ReadLogSection(info), "mag_55435");
  EXPECT_NE(ReadAll(paths.GetReadLogFile()).find("[mag_55435]"), std::string::npos);
  // Without the flag the answer is always false.
  TempDir other;
  CIssueInfo plain;
  EXPECT_FALSE(plain.IsFirstOpenOf(MakeIssue(other, "0")));
  EXPECT_FALSE(plain.IsFirstOpenOfSelf());
  paths.SetRoamingFolderForTest("");
}

TEST(IssueContainerTest, FreeAndOwnedIssuesAreStoredByteForByte) {
  TempDir dir;
  struct Case {
    const char* flag;
    Ownership owned;
  } cases[] = {{"0", Ownership::NotOwned}, {"0", Ownership::Owned}, {"1", Ownership::Owned}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.flag) + (c.owned == Ownership::Owned ? " owned" : " not owned"));
    const std::string issue = MakeIssue(dir, c.flag);
    CMyMemFile store;
    ASSERT_TRUE(store.LoadIssueContainer(issue, IssueFolder("mag", "55435"), c.flag, c.owned,
                                         "5.00", "12.5"));
    EXPECT_EQ(store.EntryCount(), 6u);
    for (const char* name : {"stream", "view1.html", "view2.html", "coverFlash.jpg"}) {
      EXPECT_EQ(Stored(store, name), ReadAll(FixtureIssueFolder() + "/" + name)) << name;
    }
    EXPECT_EQ(Stored(store, "pages\\p1.eswf"), ReadAll(FixtureIssueFolder() + "/pages/p1.eswf"));
    EXPECT_NE(store.ContainerBlock(), nullptr);
  }
}

TEST(IssueContainerTest, PaidIssueNotOwnedGetsThePreviewRights) {
  TempDir dir;
  const std::string issue = MakeIssue(dir, "1");
  CMyMemFile store;
  ASSERT_TRUE(store.LoadIssueContainer(issue, IssueFolder("mag", "55435"), "1",
                                       Ownership::NotOwned, "5.00", "12.5"));
  const std::string original = ReadAll(FixtureIssueFolder() + "/stream");
  std::string expected = original;
  auto replace = [&](const std::string& from, const std::string& to) {
    const std::size_t at = expected.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    expected.replace(at, from.size(), to);
  };
  replace("RW=\"0\"", "RW=\"1\"");
  replace("AllowSeeNumbers=\"0\"", "AllowSeeNumbers=\"16\"");
  replace("price=\"\"", "price=\"5.00\"");
  replace("userprice=\"\"", "userprice=\"12.5\"");
  // Only the four attributes change; the rest (a UTF-8 title among it) stays byte for byte.
  EXPECT_EQ(Stored(store, "stream"), expected);
  // The other files are not touched.
  EXPECT_EQ(Stored(store, "view1.html"), ReadAll(FixtureIssueFolder() + "/view1.html"));
}

TEST(IssueContainerTest, RightsRewriteKeepsAnExistingPriceAndSkipsIndexesWithoutConfig) {
  EXPECT_EQ(RewritePageIndexRights("<XML><configs><config price=\"8\" RW=\"0\"/></configs></XML>",
                                   "5.00", "3"),
            "<XML><configs><config price=\"8\" RW=\"1\" AllowSeeNumbers=\"16\" "
            "userprice=\"3\"/></configs></XML>");
  EXPECT_EQ(RewritePageIndexRights("\xEF\xBB\xBF<XML><configs><config/></configs></XML>", "5", "3"),
            "\xEF\xBB\xBF<XML><configs><config RW=\"1\" AllowSeeNumbers=\"16\" price=\"5\" "
            "userprice=\"3\"/></configs></XML>");
  for (const char* text : {"<XML><configs/></XML>", "<XML><other><config/></other></XML>",
                           "not xml at all", ""}) {
    EXPECT_EQ(RewritePageIndexRights(text, "5", "3"), text);
  }
  // Every name holding "stream" in any case is a page index; "Streams.xml" too.
  TempDir dir;
  const std::string pkg = BuildFolderPackage(
      {{"STREAM", "<XML><configs><config/></configs></XML>"},
       {"Streams.xml", "<XML><configs><config/></configs></XML>"},
       {"other.xml", "<XML><configs><config/></configs></XML>"}});
  CMyMemFile store;
  ASSERT_TRUE(store.LoadContainerBytes(pkg, IssueFolder("mag", "55435"), "1", Ownership::NotOwned,
                                       "2", "1"));
  EXPECT_NE(Stored(store, "stream").find("AllowSeeNumbers=\"16\""), std::string::npos);
  EXPECT_NE(Stored(store, "streams.xml").find("AllowSeeNumbers=\"16\""), std::string::npos);
  EXPECT_EQ(Stored(store, "other.xml"), "<XML><configs><config/></configs></XML>");
}

// Writes a program whose resource 188 is `container`.
std::string WriteIssueWithContainer(const TempDir& dir, const std::string& container) {
  const std::string image = std::string("\x7F" "ELF", 4);
  const std::string path = dir / "hand.exe";
  testsupport::WriteFileOrDie(
      path, image + mod::BuildResourceBlock(image.size(), {{"MYDATA", 188, container}}));
  return path;
}

TEST(IssueContainerTest, EntryCountsFrom0To5000LoadAndAbove5000AreRefused) {
  TempDir dir;
  // 5000 files made by the tool from a real folder.
  const std::string folder = dir / "many";
  ASSERT_TRUE(platform::fs::CreateFolders(folder));
  for (int i = 0; i < 5000; ++i) {
    testsupport::WriteFileOrDie(folder + "/f" + std::to_string(i), std::to_string(i));
  }
  ASSERT_EQ(RunPack({"issue", "--program", WriteProgram(dir), "--folder", folder, "--out",
                     dir / "5000.exe", "--pid", "1", "--name", "n", "--date", "d", "--type",
                     "book", "--price-flag", "0", "--reader-kind", "1"}),
            0);
  CMyMemFile store;
  EXPECT_TRUE(store.LoadIssueContainer(dir / "5000.exe", IssueFolder("book", "1"), "0",
                                       Ownership::NotOwned, "", ""));
  EXPECT_EQ(store.EntryCount(), 5000u);
  std::string out;
  EXPECT_TRUE(store.ReadFile(IssueFolder("book", "1") + u"f4999", out));
  EXPECT_EQ(out, "4999");
  // One more file is more than a package holds: the tool refuses, and a hand-made container
  // with the count 5001 is refused by the loader.
  testsupport::WriteFileOrDie(folder + "/f5000", "x");
  EXPECT_NE(RunPack({"package", folder, dir / "too-many.pkg"}), 0);
  std::string pkg = BuildFolderPackage({{"a", "1"}});
  pkg[pkg.size() - 4] = static_cast<char>(5001 & 0xFF);
  pkg[pkg.size() - 3] = static_cast<char>(5001 >> 8);
  CMyMemFile refused;
  EXPECT_FALSE(refused.LoadIssueContainer(WriteIssueWithContainer(dir, pkg), u"x:\\", "0",
                                          Ownership::NotOwned, "", ""));
  EXPECT_EQ(refused.EntryCount(), 0u);
  // A count of 0 loads nothing and succeeds.
  CMyMemFile empty;
  EXPECT_TRUE(empty.LoadIssueContainer(WriteIssueWithContainer(dir, BuildFolderPackage({})),
                                       u"x:\\", "0", Ownership::NotOwned, "", ""));
  EXPECT_EQ(empty.EntryCount(), 0u);
}

TEST(IssueContainerTest, NamesEndAtTheirZeroByteWhateverFollows) {
  TempDir dir;
  std::string pkg = BuildFolderPackage({{"view1.html", "page"}});
  const std::size_t nameAt = pkg.size() - kPackageTrailerSize - kPackageEntrySize;
  ASSERT_EQ(pkg.substr(nameAt, 10), "view1.html");
  for (std::size_t i = nameAt + 11; i < nameAt + kPackageNameField; ++i) pkg[i] = 'G';
  CMyMemFile store;
  ASSERT_TRUE(store.LoadIssueContainer(WriteIssueWithContainer(dir, pkg),
                                       IssueFolder("mag", "55435"), "0", Ownership::NotOwned, "",
                                       ""));
  EXPECT_EQ(Stored(store, "view1.html"), "page");
  // A name field without any zero byte is cut at 256 bytes.
  std::string full = BuildFolderPackage({{"v", "x"}});
  const std::size_t at = full.size() - kPackageTrailerSize - kPackageEntrySize;
  for (std::size_t i = at; i < at + kPackageNameField; ++i) full[i] = 'n';
  std::vector<PackageEntry> entries;
  ASSERT_EQ(ReadFolderPackage(full, entries), PackageStatus::Ok);
  EXPECT_EQ(entries[0].name, std::string(256, 'n'));
}

TEST(IssueContainerTest, ContainersThatLeaveTheirDataAreRefusedWhole) {
  const std::string good = BuildFolderPackage({{"a", "1111"}, {"stream", "22"}});
  auto patch = [](std::string s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
  };
  const std::size_t trailer = good.size() - 12;
  const std::size_t second = trailer - kPackageEntrySize;
  struct Case {
    const char* what;
    std::string data;
    PackageStatus status;
  } cases[] = {
      {"shorter than the trailer", std::string(11, '\0'), PackageStatus::TooShort},
      {"negative count", patch(good, trailer + 8, 0xFFFFFFFFu), PackageStatus::BadCount},
      {"directory past the end", patch(good, trailer, 0xFFFFFF00u),
       PackageStatus::DirectoryOutside},
      {"directory too long for the count", patch(good, trailer + 8, 40),
       PackageStatus::DirectoryOutside},
      {"entry offset past the end", patch(good, second + 256, 0x7FFFFFFF),
       PackageStatus::EntryOutside},
      {"entry size past the end", patch(good, second + 260, 0xFFFFFFFFu),
       PackageStatus::EntryOutside},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<PackageEntry> entries;
    EXPECT_EQ(ReadFolderPackage(c.data, entries), c.status);
    EXPECT_TRUE(entries.empty());
    CMyMemFile store;
    EXPECT_FALSE(store.LoadContainerBytes(c.data, u"x:\\", "0", Ownership::NotOwned, "", ""));
    EXPECT_EQ(store.EntryCount(), 0u);
    EXPECT_EQ(store.ContainerBlock(), nullptr);
  }
}

TEST(IssueContainerTest, MissingContainerAnswersFalse) {
  TempDir dir;
  const std::string image = std::string("\x7F" "ELF", 4);
  testsupport::WriteFileOrDie(dir / "bare.exe",
                              image + mod::BuildResourceBlock(image.size(), {{"MYDATA", 162, "1"}}));
  CMyMemFile store;
  EXPECT_FALSE(store.LoadIssueContainer(dir / "bare.exe", u"x:\\", "0", Ownership::NotOwned, "",
                                        ""));
  EXPECT_EQ(store.EntryCount(), 0u);
}

TEST(PackToolTest, PackageListExtractAndResources) {
  TempDir dir;
  ASSERT_EQ(RunPack({"package", FixtureIssueFolder(), dir / "issue.pkg"}), 0);
  std::vector<PackageEntry> entries;
  const std::string pkg = ReadAll(dir / "issue.pkg");
  ASSERT_EQ(ReadFolderPackage(pkg, entries), PackageStatus::Ok);
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  // A stable order: byte order of the names, "\" between folders.
  EXPECT_EQ(names, (std::vector<std::string>{"coverFlash.jpg", "pages\\p1.eswf",
                                             "pages\\p2.eswf", "stream", "view1.html",
                                             "view2.html"}));
  // Packing the same folder again gives the same bytes.
  ASSERT_EQ(RunPack({"package", FixtureIssueFolder(), dir / "again.pkg"}), 0);
  EXPECT_EQ(ReadAll(dir / "again.pkg"), pkg);
  EXPECT_EQ(RunPack({"list", dir / "issue.pkg"}), 0);
  ASSERT_EQ(RunPack({"extract", dir / "issue.pkg", dir / "out"}), 0);
  EXPECT_EQ(ReadAll(dir / "out/pages/p1.eswf"), ReadAll(FixtureIssueFolder() + "/pages/p1.eswf"));
  // resources: replace one of the block's resources and add another; the image stays.
  const std::string issue = MakeIssue(dir, "0");
  testsupport::WriteFileOrDie(dir / "pid.txt", "99");
  testsupport::WriteFileOrDie(dir / "skin.pkg", pkg);
  ASSERT_EQ(RunPack({"resources", issue, dir / "changed.exe", "--set", "162=" + (dir / "pid.txt"),
                     "--set", "151=" + (dir / "skin.pkg")}),
            0);
  auto m = mod::CResourceModule::Open(dir / "changed.exe");
  ASSERT_TRUE(m);
  std::string value;
  EXPECT_TRUE(m->LoadResource("MYDATA", 162, value));
  EXPECT_EQ(value, "99");
  EXPECT_TRUE(m->LoadResource("MYDATA", 151, value));
  EXPECT_EQ(value, pkg);
  EXPECT_TRUE(m->LoadResource("MYDATA", 163, value));
  EXPECT_EQ(value, platform::Utf8ToSystem(kNameUtf8));
  int count162 = 0;
  for (const auto& e : m->Resources()) count162 += e.id == 162;
  EXPECT_EQ(count162, 1);
  EXPECT_EQ(ReadAll(dir / "changed.exe").substr(0, 68), ReadAll(dir / "program"));
  // An issue made from an issue file keeps none of the old issue's texts.
  ASSERT_EQ(RunPack({"issue", "--program", dir / "changed.exe", "--folder", FixtureIssueFolder(),
                     "--out", dir / "second.exe", "--pid", "2", "--name", "n", "--date", "d",
                     "--type", "book", "--price-flag", "0", "--reader-kind", "1"}),
            0);
  CIssueInfo second;
  second.LoadFromModule(dir / "second.exe");
  EXPECT_EQ(second.pid, "2");
  EXPECT_EQ(second.type, "book");
  auto secondModule = mod::CResourceModule::Open(dir / "second.exe");
  ASSERT_TRUE(secondModule);
  EXPECT_TRUE(secondModule->LoadResource("MYDATA", 151, value));  // the program's own stays
  // Bad command lines are refused with a usage error and write nothing.
  EXPECT_EQ(RunPack({"issue", "--program", dir / "program", "--type", "comic"}), 2);
  EXPECT_EQ(RunPack({"resources", issue, dir / "x.exe", "--set", "abc=" + (dir / "pid.txt")}), 2);
  EXPECT_FALSE(platform::fs::Exists(dir / "x.exe"));
  EXPECT_NE(RunPack({"resources", dir / "pid.txt", dir / "y.exe", "--set", "1=" + (dir / "pid.txt")}),
            0);
}

TEST(PackToolTest, ExtractNeverLeavesItsFolder) {
  TempDir dir;
  const std::string pkg =
      BuildFolderPackage({{"..\\evil", "x"}, {"/abs", "y"}, {"ok\\inner.txt", "z"}});
  std::string error;
  EXPECT_FALSE(ExtractFolderPackage(pkg, dir / "out", &error));
  EXPECT_NE(error.find("..\\evil"), std::string::npos);
  EXPECT_FALSE(platform::fs::Exists(dir / "evil"));
  EXPECT_EQ(ReadAll(dir / "out/ok/inner.txt"), "z");
  for (const char* bad : {"", "..", "a\\..\\..\\b", "c:\\x", "a\\\\b", ".\\a"}) {
    EXPECT_FALSE(IsSafePackageName(bad)) << bad;
  }
  EXPECT_TRUE(IsSafePackageName("pages\\p1.eswf"));
}

}  // namespace

#include "platform/module.h"

#include "tests/content/ContentTestUtil.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace mod = platform::module;
using contenttest::BuildPe;
using contenttest::PeKind;
using contenttest::PeResource;

namespace {

std::string Load(const mod::CResourceModule& m, std::uint32_t id) {
  std::string out;
  return m.LoadResource("MYDATA", id, out) ? out : std::string("<none>");
}

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

TEST(ModuleTest, PeResourcesInTwoLanguagesAreFoundInBothLayouts) {
  for (PeKind kind : {PeKind::Pe32, PeKind::Pe32Plus}) {
    SCOPED_TRACE(kind == PeKind::Pe32 ? "PE32" : "PE32+");
    const std::string pe = BuildPe(kind, {{162, 2052, "55435"},
                                          {163, 1033, "Title"},
                                          {188, 2052, std::string("container\0x", 11)},
                                          {227, 1033, "1"},
                                          {227, 2052, "0"}});
    mod::OpenStatus status;
    auto m = mod::CResourceModule::FromBytes(pe, &status);
    ASSERT_TRUE(m);
    EXPECT_EQ(status, mod::OpenStatus::Ok);
    EXPECT_EQ(m->format(), mod::Format::Pe);
    EXPECT_EQ(Load(*m, 162), "55435");
    EXPECT_EQ(Load(*m, 163), "Title");
    EXPECT_EQ(Load(*m, 188), std::string("container\0x", 11));
    EXPECT_EQ(Load(*m, 227), "1");  // the first language listed
    EXPECT_EQ(Load(*m, 999), "<none>");
    std::string out;
    EXPECT_TRUE(m->LoadResource("mydata", 162, out));  // the type without regard to case
    EXPECT_FALSE(m->LoadResource("OTHER", 162, out));
  }
}

TEST(ModuleTest, PeFileOnDiskOpensWithoutRunning) {
  testsupport::TempDir dir;
  testsupport::WriteFileOrDie(dir / "issue.exe", BuildPe(PeKind::Pe32, {{162, 0, "77"}}));
  auto m = mod::CResourceModule::Open(dir / "issue.exe");
  ASSERT_TRUE(m);
  EXPECT_EQ(Load(*m, 162), "77");
  mod::OpenStatus status;
  EXPECT_FALSE(mod::CResourceModule::Open(dir / "missing.exe", &status));
  EXPECT_EQ(status, mod::OpenStatus::CannotRead);
  EXPECT_FALSE(mod::CResourceModule::Open(dir.path(), &status));  // a folder
}

// Damage that leaves the resource data: the whole directory is refused, nothing is read.
TEST(ModuleTest, PeDirectoriesThatLeaveTheSectionAreRefusedWhole) {
  const std::string good = BuildPe(PeKind::Pe32, {{162, 0, "55435"}, {163, 0, "name"}});
  const std::size_t rsrc = contenttest::kPeRsrcFileOffset;
  struct Case {
    const char* what;
    std::size_t at;
    std::uint32_t value;
  } cases[] = {
      {"type directory offset", rsrc + 20, 0x8000FFF0u},
      {"type name offset", rsrc + 16, 0x8000FFF0u},
      {"entry count", rsrc + 12, 0x7FFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bad = good;
    Put32(bad, c.at, c.value);
    mod::OpenStatus status;
    auto m = mod::CResourceModule::FromBytes(bad, &status);
    ASSERT_TRUE(m);  // still a program file
    EXPECT_EQ(status, mod::OpenStatus::BadResources);
    EXPECT_TRUE(m->Resources().empty());
  }
  // A data entry whose bytes run past the section: refused, also the good neighbour.
  auto m = mod::CResourceModule::FromBytes(good);
  ASSERT_TRUE(m);
  ASSERT_EQ(m->Resources().size(), 2u);
  std::string bad = good;
  const std::string needle("55435");
  const std::size_t dataAt = bad.find(needle);
  ASSERT_NE(dataAt, std::string::npos);
  // Find the data entry whose size is 5 and make it huge.
  for (std::size_t p = rsrc; p + 8 < bad.size(); p += 4) {
    if (static_cast<unsigned char>(bad[p + 4]) == 5 && bad[p + 5] == 0 && bad[p + 6] == 0 &&
        bad[p + 7] == 0 && static_cast<unsigned char>(bad[p + 1]) == 0x10) {
      Put32(bad, p + 4, 0x100000);
      break;
    }
  }
  mod::OpenStatus status;
  auto damaged = mod::CResourceModule::FromBytes(bad, &status);
  ASSERT_TRUE(damaged);
  EXPECT_EQ(status, mod::OpenStatus::BadResources);
  EXPECT_EQ(Load(*damaged, 163), "<none>");
}

TEST(ModuleTest, AppendedBlockAfterAnElfImage) {
  const std::string image = std::string("\x7F" "ELF", 4) + std::string(100, 'x');
  const std::string file =
      image + mod::BuildResourceBlock(image.size(), {{"MYDATA", 162, "55435"},
                                                     {"MYDATA", 188, std::string(3, '\0')},
                                                     {"MYDATA", 162, "later"}});
  auto m = mod::CResourceModule::FromBytes(file);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->format(), mod::Format::Elf);
  EXPECT_EQ(m->ImageSize(), image.size());
  EXPECT_EQ(Load(*m, 188), std::string(3, '\0'));
  EXPECT_EQ(Load(*m, 162), "later");  // the last row of the block wins
  // An ELF file without a block is a program without resources.
  auto plain = mod::CResourceModule::FromBytes(image);
  ASSERT_TRUE(plain);
  EXPECT_TRUE(plain->Resources().empty());
  EXPECT_EQ(plain->ImageSize(), image.size());
  // Neither PE nor ELF nor a block: no module.
  mod::OpenStatus status;
  EXPECT_FALSE(mod::CResourceModule::FromBytes("plain text", &status));
  EXPECT_EQ(status, mod::OpenStatus::NotAProgram);
}

TEST(ModuleTest, AppendedBlockOverridesPeResources) {
  const std::string pe = BuildPe(PeKind::Pe32, {{162, 0, "pe-pid"}, {163, 0, "pe-name"}});
  const std::string file = pe + mod::BuildResourceBlock(pe.size(), {{"MYDATA", 162, "block"}});
  auto m = mod::CResourceModule::FromBytes(file);
  ASSERT_TRUE(m);
  EXPECT_EQ(Load(*m, 162), "block");
  EXPECT_EQ(Load(*m, 163), "pe-name");
}

TEST(ModuleTest, BlocksThatLeaveTheFileAreRefusedWhole) {
  const std::string image = std::string("\x7F" "ELF", 4) + std::string(10, 'x');
  const std::string good =
      image + mod::BuildResourceBlock(image.size(), {{"MYDATA", 162, "1"}, {"MYDATA", 163, "22"}});
  const std::size_t footer = good.size() - 24;
  const std::size_t secondRow = footer - 32;
  struct Case {
    const char* what;
    std::size_t at;
    std::uint32_t value;
  } cases[] = {
      {"row size", secondRow + 20, 0xFFFF},
      {"row offset", secondRow + 24, 0x7FFFFFF0},
      {"block start", footer + 8, 0x7FFFFFF0},
      {"row count", footer + 16, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bad = good;
    Put32(bad, c.at, c.value);
    mod::OpenStatus status;
    auto m = mod::CResourceModule::FromBytes(bad, &status);
    ASSERT_TRUE(m);
    EXPECT_EQ(status, mod::OpenStatus::BadResources);
    EXPECT_TRUE(m->Resources().empty());
  }
}

}  // namespace

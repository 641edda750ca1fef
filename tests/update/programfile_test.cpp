// The program file the build made carries the skin, the page data and the reader exactly as they
// stand in pages/.
#include "platform/module.h"
#include "update/Unpack.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using testsupport::ReadFileOrDie;

namespace {

// Every file below a folder by its relative path, with its bytes.
std::map<std::string, std::string> FilesOf(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) {
      files[std::filesystem::relative(e.path(), root).string()] = ReadFileOrDie(e.path().string());
    }
  }
  return files;
}

TEST(ProgramFile, CarriesItsComponentsAsResources) {
#ifndef MURAVEL_PROGRAM_FILE
  GTEST_SKIP() << "this build makes no program file";
#else
  using platform::module::CResourceModule;
  const std::unique_ptr<CResourceModule> module = CResourceModule::Open(MURAVEL_PROGRAM_FILE);
  ASSERT_TRUE(module) << MURAVEL_PROGRAM_FILE;
  EXPECT_EQ(module->format(), platform::module::Format::Elf);
  for (std::uint32_t id : {151u, 152u, 161u}) EXPECT_TRUE(module->FindResource("MYDATA", id)) << id;

  const std::string pages = testsupport::SourceDir() + "/pages";
  testsupport::TempDir dir;
  const struct {
    std::uint32_t id;
    const char* folder;
  } packages[] = {{151, "skin"}, {161, "data"}};
  for (const auto& p : packages) {
    std::string bytes;
    ASSERT_TRUE(module->LoadResource("MYDATA", p.id, bytes)) << p.id;
    const std::string target = dir / p.folder;
    std::filesystem::create_directory(target);
    ASSERT_EQ(UnpackFolderPackage(bytes, target), UnpackResult::Done) << p.id;
    const auto expected = FilesOf(pages + "/" + p.folder);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(FilesOf(target), expected) << p.folder;
  }
  std::string reader;
  ASSERT_TRUE(module->LoadResource("MYDATA", 152, reader));
  EXPECT_EQ(reader, ReadFileOrDie(pages + "/reader/reader.html"));
#endif
}

}  // namespace

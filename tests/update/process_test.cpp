#include "platform/process.h"

#include "platform/text.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

using testsupport::TempDir;

namespace {

// A program that writes its arguments, one a line, to the file named by its folder.
std::string WriteRecorder(const TempDir& dir, const std::string& name) {
  const std::string path = dir / name;
  testsupport::WriteFileOrDie(path,
                              "#!/bin/sh\n"
                              "out=\"$(dirname \"$0\")/args.txt\"\n"
                              "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$out.part\"\n"
                              "mv \"$out.part\" \"$out\"\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path;
}

// Waits a bounded time for a file to appear.
bool WaitForFile(const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (std::filesystem::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(StartProgram, HandsEveryArgumentOverWhole) {
  TempDir dir;
  const std::string program = WriteRecorder(dir, "muravel.exe");
  const std::string issue = "/some folder/杂志 2026[55435].exe";
  ASSERT_TRUE(platform::process::StartProgram(program, {"-p", platform::Utf8ToSystem(issue)}));
  ASSERT_TRUE(WaitForFile(dir / "args.txt"));
  EXPECT_EQ(testsupport::ReadFileOrDie(dir / "args.txt"), "-p\n" + issue + "\n");
}

TEST(StartProgram, ProgramInAFolderWithAChineseName) {
  TempDir dir;
  std::filesystem::create_directory(dir / "程序");
  const std::string program = WriteRecorder(dir, "程序/muravel.exe");
  ASSERT_TRUE(platform::process::StartProgram(platform::Utf8ToSystem(program), {}));
  ASSERT_TRUE(WaitForFile(dir / "程序/args.txt"));
  EXPECT_EQ(testsupport::ReadFileOrDie(dir / "程序/args.txt"), "");
}

TEST(StartProgram, AnswersFalseWhenNothingCanBeStarted) {
  TempDir dir;
  testsupport::WriteFileOrDie(dir / "plain.txt", "not a program\n");
  std::filesystem::permissions(dir / "plain.txt", std::filesystem::perms::owner_read |
                                                      std::filesystem::perms::owner_write);
  EXPECT_FALSE(platform::process::StartProgram(dir / "plain.txt", {}));
  EXPECT_FALSE(platform::process::StartProgram(dir / "missing", {"-p", "x"}));
  EXPECT_FALSE(platform::process::StartProgram("", {}));
}

}  // namespace

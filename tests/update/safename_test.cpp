#include "update/SafeName.h"

#include "platform/text.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
  std::string in;
  std::string out;
};

TEST(SafeEntryPath, KeepsEveryPartInsideTheTarget) {
  const NameCase cases[] = {
      {"MainSkin.xml", "MainSkin.xml"},
      {"images\\btn_close.png", "images/btn_close.png"},
      {"images/btn_close.png", "images/btn_close.png"},
      {"\\\\server\\share\\x", "server/share/x"},
      {"/etc/passwd", "etc/passwd"},
      {"a//b\\\\c", "a/b/c"},
      {"..\\..\\evil.dll", "__/__/evil.dll"},
      {"../x", "__/x"},
      {"a/./b", "a/_/b"},
      {"...", "___"},
      {"..hidden/..", "..hidden/__"},
      {"C:\\Windows\\x.dll", "C:/Windows/x.dll"},
      {"line\nbreak", "line_break"},
      {std::string("cut\0/../rest", 12), "cut"},
      {"", ""},
      {"/", ""},
      {"\\/\\", ""},
  };
  for (const NameCase& c : cases) EXPECT_EQ(SafeEntryPath(c.in), c.out) << c.in;
}

TEST(SafeEntryPath, TrailByteThatLooksLikeABackslashIsNoSeparator) {
  testsupport::ScopedCodePage gbk(936);
  // "嘰" is 0x87 0x5C in GBK: its second byte is the value of "\".
  const std::string name = platform::Utf8ToSystem("嘰.png");
  ASSERT_EQ(name.substr(0, 2), "\x87\x5C");
  EXPECT_EQ(SafeEntryPath(name), name);
  EXPECT_EQ(SafeEntryPath("dir\\" + name), "dir/" + name);
  EXPECT_EQ(SafeFileName(name), name);
  // A lead byte before a byte that cannot follow it stands alone; the control byte is replaced.
  EXPECT_EQ(SafeFileName("\x87\x7f"), "\x87_");
  EXPECT_EQ(SafeEntryPath("\x87/x"), "\x87/x");
}

TEST(SafeFileName, MakesOneNameOfAnyText) {
  const NameCase cases[] = {
      {"read.swf", "read.swf"},
      {"muravel.exe", "muravel.exe"},
      {"data", "data"},
      {"../../.bashrc", ".._.._.bashrc"},
      {"..", "__"},
      {".", "_"},
      {"a\\b/c", "a_b_c"},
      {"key=1", "key_1"},
      {"two\r\nlines", "two__lines"},
      {"", ""},
  };
  for (const NameCase& c : cases) EXPECT_EQ(SafeFileName(c.in), c.out) << c.in;
}

}  // namespace

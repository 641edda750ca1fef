#include "platform/text.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using platform::ConvertCodePage;

namespace {

// "中文" in GBK and in UTF-8.
const std::string kGbk = "\xD6\xD0\xCE\xC4";
const std::string kUtf8 = "\xE4\xB8\xAD\xE6\x96\x87";

TEST(TextTest, ConvertsBetweenCodePagesThroughUtf16) {
  struct Case {
    std::string in;
    int from, to;
    std::string out;
    bool usedDefault;
  } cases[] = {
      {kGbk, 936, 65001, kUtf8, false},
      {kUtf8, 65001, 936, kGbk, false},
      {"plain ascii", 936, 65001, "plain ascii", false},
      {"\x80", 936, 65001, "\xE2\x82\xAC", false},        // 0x80 is the euro sign in 936
      {"\xE9", 1252, 65001, "\xC3\xA9", false},
      {"\xC3\xA9", 65001, 1252, "\xE9", false},
      {"\xE2\x82\xAC", 65001, 1252, "\x80", false},
      {"\xE3\x81\x82", 65001, 932, "\x82\xA0", false},    // hiragana a in Shift-JIS
      {"a\xF0\x9F\x98\x80z", 65001, 936, "a?z", true},    // an emoji GBK lacks: one '?'
      {"\xC3\xA9", 65001, 936, "\xA8\xA6", false},        // e-acute exists in GBK
      {"\xD4\x80", 65001, 936, "?", true},                // Cyrillic Komi letter: no GBK form
  };
  for (const Case& c : cases) {
    bool usedDefault = !c.usedDefault;
    EXPECT_EQ(ConvertCodePage(c.in, c.from, c.to, &usedDefault), c.out) << c.in;
    EXPECT_EQ(usedDefault, c.usedDefault) << c.in;
  }
}

TEST(TextTest, UndecodableBytesBecomeReplacementCharacters) {
  std::u16string wide;
  ASSERT_TRUE(platform::MultiByteToWide(65001, "a\xFF" "b\xE4\xB8", wide));
  EXPECT_EQ(wide, (std::u16string{u'a', 0xFFFD, u'b', 0xFFFD}));
  ASSERT_TRUE(platform::MultiByteToWide(936, "a\xD6", wide));  // a lead byte cut by the end
  EXPECT_EQ(wide, (std::u16string{u'a', 0xFFFD}));
  // A lone surrogate has no UTF-8 form.
  std::string out;
  ASSERT_TRUE(platform::WideToMultiByte(65001, std::u16string(1, char16_t(0xD800)), out));
  EXPECT_EQ(out, "\xEF\xBF\xBD");
}

TEST(TextTest, SystemCodePageIsSettableAndResolved) {
  EXPECT_EQ(platform::GetSystemCodePage(), 936);
  {
    testsupport::ScopedCodePage cp(1252);
    EXPECT_EQ(platform::ResolveCodePage(0), 1252);
    EXPECT_EQ(platform::SystemToUtf8("\xE9"), "\xC3\xA9");
    EXPECT_FALSE(platform::IsLeadByte(0xD6));
  }
  EXPECT_EQ(platform::SystemToUtf8(kGbk), kUtf8);
  EXPECT_TRUE(platform::IsLeadByte(0xD6));
  EXPECT_FALSE(platform::IsLeadByte(0x80));
  EXPECT_FALSE(platform::IsLeadByte(0xFF));
  EXPECT_TRUE(platform::IsLeadByteEx(932, 0x82));
  EXPECT_FALSE(platform::IsLeadByteEx(932, 0xA1));  // half-width katakana is one byte
  EXPECT_FALSE(platform::IsLeadByteEx(65001, 0xE4));
}

TEST(TextTest, EveryMappedCodePageConvertsAscii) {
  const int pages[] = {154,   437,   708,   737,   775,   850,   852,   855,   857,   858,
                       860,   861,   862,   863,   864,   865,   866,   869,   874,   932,
                       936,   949,   950,   1125,  1133,  1250,  1251,  1252,  1253,  1254,
                       1255,  1256,  1257,  1258,  1361,  10000, 10007, 10017, 10029, 10079,
                       20000, 20127, 20866, 20932, 20936, 20949, 21866, 28591, 28592, 28593,
                       28594, 28595, 28596, 28597, 28598, 28599, 28603, 28605, 38598, 50220,
                       50221, 50222, 50225, 50227, 51932, 51936, 51949, 54936, 65000, 65001};
  for (int cp : pages) {
    ASSERT_TRUE(platform::IsCodePageSupported(cp)) << cp;
    EXPECT_EQ(ConvertCodePage("Hello", cp, 65001), "Hello") << cp;
    if (cp != 50225) EXPECT_EQ(ConvertCodePage("Hello", 65001, cp), "Hello") << cp;
  }
  // ISO-2022-KR announces itself once at the start of a text.
  EXPECT_EQ(ConvertCodePage("Hello", 65001, 50225), "\x1B$)CHello");
  std::u16string wide;
  ASSERT_TRUE(platform::MultiByteToWide(1200, std::string("H\0i\0", 4), wide));
  EXPECT_EQ(wide, u"Hi");
  EXPECT_FALSE(platform::IsCodePageSupported(720));
  EXPECT_EQ(ConvertCodePage("x", 720, 65001), "");
}

}  // namespace

namespace {

TEST(TextTest, AsciiCaseHelpersLeaveOtherBytesAlone) {
  EXPECT_EQ(platform::ToLowerAscii("Content-TYPE \xD6\xD0Z"), "content-type \xD6\xD0z");
  EXPECT_TRUE(platform::EqualsNoCaseAscii("If-Modified-Since", "if-modified-since"));
  EXPECT_FALSE(platform::EqualsNoCaseAscii("GET", "GETS"));
  EXPECT_FALSE(platform::EqualsNoCaseAscii("\xC1", "\xE1"));  // not ASCII letters: not folded
}

}  // namespace

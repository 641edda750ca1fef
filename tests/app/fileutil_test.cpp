#include "app/base/FileUtil.h"

#include <gtest/gtest.h>

namespace {

TEST(FileUtilTest, UrlEncodeKeepsOnlyTheSafeCharacters) {
  const struct {
    std::string in, out;
  } cases[] = {
      {" ", "%20"},
      {"-", "-"},
      {"AZaz09@*_-.", "AZaz09@*_-."},
      {"\xD6\xD0", "%D6%D0"},  // each GBK byte of a Chinese character is its own triple
      {"a+b/c=d&e", "a%2Bb%2Fc%3Dd%26e"},
      {std::string("\0\xFF", 2), "%00%FF"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CFileUtil::UrlEncode(c.in), c.out) << c.in;
}

TEST(FileUtilTest, TheTwoBase64Variants) {
  const struct {
    std::string in, name, standard;
  } cases[] = {
      {"", "", ""},
      {"a", "YQ--", "YQ=="},
      {"ab", "YWI-", "YWI="},
      {"abc", "YWJj", "YWJj"},
      {"\xFB\xFF", "()8-", "+/8="},
      {"\xFF\xFF\xFF", "))))", "////"},
      {"\xD5\xC5\xC8\xFD", "1cXI)Q--", "1cXI/Q=="},  // a GBK name
      {std::string("ab\0cd", 5), "YWI-", "YWI="},      // the text ends at its zero byte
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CFileUtil::EncodeNameBase64(c.in), c.name) << c.in;
    EXPECT_EQ(CFileUtil::EncodeBase64(c.in), c.standard) << c.in;
  }
}

TEST(FileUtilTest, SplitTerminated) {
  using V = std::vector<std::string>;
  const struct {
    std::string text, sep;
    V parts;
  } cases[] = {
      {"1,2,3", ",", V{"1", "2", "3"}},
      {",1,2", ",", V{}},
      {"1,,2", ",", V{"1", "", "2"}},
      {"", ",", V{}},
      {"1,2,", ",", V{"1", "2", ""}},
      {"a||b", "||", V{"a", "b"}},
      {"abc", ",", V{"abc"}},
      {"abc", "", V{}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CFileUtil::SplitTerminated(c.text, c.sep), c.parts) << c.text;
  }
}

TEST(FileUtilTest, ConvertCodePageWithACharacterGbkLacks) {
  // UTF-8 "价" + U+0400-range letter GBK lacks + "x": the lacking one becomes '?'.
  EXPECT_EQ(CFileUtil::ConvertCodePage("\xE4\xBB\xB7\xD4\x80x", 65001, 0), "\xBC\xDB?x");
  EXPECT_EQ(CFileUtil::ConvertCodePage("\xBC\xDB", 0, 65001), "\xE4\xBB\xB7");
  EXPECT_EQ(CFileUtil::ConvertCodePage("", 65001, 0), "");
  EXPECT_EQ(CFileUtil::ConvertCodePage(std::string("ab\0cd", 5), 65001, 0), "ab");
  EXPECT_EQ(CFileUtil::GetUrlCacheFile("http://127.0.0.1/a.jpg"), "");
}

}  // namespace

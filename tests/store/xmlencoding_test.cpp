#include "store/XmlEncoding.h"

#include <cstdio>

#include "platform/fs.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "store/XmlDoc.h"
#include "store/XmlTables.inc"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::ReadFileOrDie;
using testsupport::TempDir;
using testsupport::WriteFileOrDie;

const std::string kGbk = "\xD6\xD0\xCE\xC4";                  // "中文" in GBK
const std::string kUtf8 = "\xE4\xB8\xAD\xE6\x96\x87";         // the same in UTF-8
const std::string kUtf16 = std::string("\x2D\x4E\x87\x65", 4);  // the same in UTF-16LE

std::string Utf16LE(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

std::string SwapUnits(const std::string& le) {
  std::string out = le;
  for (std::size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
  return out;
}

TEST(XmlTables, EntityTableHoldsEveryName) {
  int names = 0;
  std::set<std::string> distinct;
  for (int b = 0; b < kXmlEntityBucketCount; ++b) {
    const std::string bucket = kXmlEntityBuckets[b];
    std::size_t i = 0;
    while (i < bucket.size()) {
      const std::size_t len = static_cast<std::size_t>(bucket[i] - '0');
      const std::string name = bucket.substr(i + 5, len);
      unsigned sum = 0;
      for (unsigned char c : name) sum += c;
      EXPECT_EQ(static_cast<int>(sum % kXmlEntityBucketCount), b) << name;
      distinct.insert(name);
      ++names;
      i += 5 + len;
    }
  }
  EXPECT_EQ(names, 253);
  EXPECT_EQ(kXmlEntityNameCount, 253);
  EXPECT_EQ(names - static_cast<int>(distinct.size()), 64) << "case pairs";
}

TEST(XmlTables, CodePageTableHoldsEveryName) {
  int names = 0;
  std::set<int> pages;
  for (int b = 0; b < kXmlCodePageBucketCount; ++b) {
    const std::string bucket = kXmlCodePageBuckets[b];
    std::size_t i = 0;
    while (i < bucket.size()) {
      const std::size_t len = std::stoul(bucket.substr(i, 2));
      const int page = std::stoi(bucket.substr(i + 2, 5));
      const std::string name = bucket.substr(i + 7, len);
      EXPECT_EQ(CXmlEncoding::CodePageOfName(name), page) << name;
      pages.insert(page);
      ++names;
      i += 7 + len;
    }
  }
  EXPECT_EQ(names, 365);
  EXPECT_EQ(pages.size(), 110u);
}

TEST(XmlEncodingNames, CodePageOfName) {
  struct Case {
    std::string name;
    int page;
  } cases[] = {
      {"", 0},           {"UTF-8", 65001},    {"utf8", 65001},      {"GBK", 936},
      {"gb2312", 936},   {"Cp936", 936},      {"UTF-32", 65005},    {"UTF-32BE", 65005},
      {"utf-32", 12000}, {"cp1256 ", 1256},   {"ISO-8859-1", 28591}, {"shifft_jis", 932},
      {"nope", -1},      {std::string(100, 'a'), -1}, {"utf-8 ", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(CXmlEncoding::CodePageOfName(c.name), c.page) << c.name;

  EXPECT_FALSE(CXmlEncoding::NeedsConversion("gb2312", ""));
  EXPECT_FALSE(CXmlEncoding::NeedsConversion("GBK", "cp936"));
  EXPECT_TRUE(CXmlEncoding::NeedsConversion("utf-8", ""));
  EXPECT_FALSE(CXmlEncoding::NeedsConversion("nope", ""));
  testsupport::ScopedCodePage cp(65001);
  EXPECT_FALSE(CXmlEncoding::NeedsConversion("utf-8", ""));
  EXPECT_TRUE(CXmlEncoding::NeedsConversion("gbk", ""));
}

TEST(XmlEncodingNames, DeclaredEncoding) {
  struct Case {
    const char* text;
    const char* encoding;
  } cases[] = {
      {"<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>", "utf-8"},
      {"<?XML encoding='GBK'?>", "GBK"},
      {"<?xml version=\"1.0\"?><a/>", ""},
      {" <?xml encoding=\"utf-8\"?>", ""},
      {"<a/><?xml encoding=\"utf-8\"?>", ""},
      {"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">",
       "gb2312"},
      {"<HTML><HEAD><META HTTP-EQUIV=content-type CONTENT='text/html;charset = big5'>", "big5"},
      {"<html><head><meta name=x><meta http-equiv=\"Content-Type\" content=\"charset=koi8-r\">",
       "koi8-r"},
      {"<html><head><meta http-equiv=\"Content-Type\"><meta http-equiv=\"Content-Type\" "
       "content=\"charset=big5\">",
       ""},
      {"<html><head></head><meta http-equiv=\"Content-Type\" content=\"charset=big5\">", ""},
      {"<body><meta http-equiv=\"Content-Type\" content=\"charset=big5\">", ""},
      {"<html>< <meta http-equiv=\"Content-Type\" content=\"charset=big5\">", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CXmlEncoding::GetDeclaredEncoding(c.text), c.encoding) << c.text;
  }
}

TEST(XmlEncodingCodecs, Utf8AndUtf16) {
  std::size_t pos = 0;
  EXPECT_EQ(CXmlEncoding::DecodeUtf8(kUtf8, pos), 0x4E2D);
  EXPECT_EQ(pos, 3u);
  pos = 0;
  EXPECT_EQ(CXmlEncoding::DecodeUtf8("\xF0\x9F\x98\x80", pos), 0x1F600);
  struct Case {
    std::string text;
    bool valid;
    std::size_t sequences;
  } cases[] = {
      {"ascii", true, 0},         {kUtf8, true, 2},       {kGbk, false, 0},
      {"\xE4\xB8", false, 0},     {"\xF8\x80\x80\x80\x80", false, 0},
      {"a\xC3\xA9z", true, 1},    {"\xC0\x80", true, 1},  // overlong forms pass
  };
  for (const Case& c : cases) {
    std::size_t sequences = 99;
    EXPECT_EQ(CXmlEncoding::IsValidUtf8(c.text, &sequences), c.valid) << c.text;
    if (c.valid) EXPECT_EQ(sequences, c.sequences) << c.text;
  }
  char16_t units[2];
  EXPECT_EQ(CXmlEncoding::EncodeUtf16(0xE9, units), 1);
  EXPECT_EQ(units[0], 0xE9);
  EXPECT_EQ(CXmlEncoding::EncodeUtf16(0x1F600, units), 2);
  EXPECT_EQ(units[0], 0xD83D);
  EXPECT_EQ(units[1], 0xDE00);
}

TEST(XmlEncodingFiles, LoadConvertsToTheSystemCodePage) {
  struct Case {
    const char* what;
    std::string file;
    std::string text;
    std::uint32_t flags;
    std::string log;
  } cases[] = {
      {"declared utf-8", "<?xml version=\"1.0\" encoding=\"utf-8\"?><a>" + kUtf8 + "</a>",
       "<?xml version=\"1.0\" encoding=\"utf-8\"?><a>" + kGbk + "</a>", 0,
       "<read encoding=\"utf-8\" length=\"51\"/><converted_to encoding=\"\" length=\"49\"/>"},
      {"leading <", "<a>" + kUtf8 + "</a>", "<a>" + kGbk + "</a>", 0,
       "<read encoding=\"UTF-8\" length=\"13\"/><converted_to encoding=\"\" length=\"11\"/>"},
      {"utf-8 mark", "\xEF\xBB\xBF<a>" + kUtf8 + "</a>", "<a>" + kGbk + "</a>", kXmlFlagUtf8Bom,
       "<bom/><read encoding=\"UTF-8\" length=\"13\"/><converted_to encoding=\"\" length=\"11\"/>"},
      {"detected utf-8", " " + kUtf8 + "<a/>", " " + kGbk + "<a/>", 0,
       "<read encoding=\"UTF-8\" length=\"11\"/><utf8_detection/>"
       "<converted_to encoding=\"\" length=\"9\"/>"},
      {"not utf-8", " " + kGbk + "<a/>", " " + kGbk + "<a/>", 0,
       "<read encoding=\"\" length=\"9\"/><utf8_detection/>"},
      {"declared gbk", "<?xml version=\"1.0\" encoding=\"GB2312\"?><a>" + kGbk + "</a>",
       "<?xml version=\"1.0\" encoding=\"GB2312\"?><a>" + kGbk + "</a>", 0,
       "<read encoding=\"GB2312\" length=\"50\"/>"},
      {"nul bytes", std::string("<a>x\0y\0</a>", 11), "<a>xy</a>", 0,
       "<read encoding=\"UTF-8\" length=\"11\"/><nulls_removed count=\"2\"/>"
       "<converted_to encoding=\"\" length=\"9\"/>"},
      {"utf-16le", "\xFF\xFE" + Utf16LE("<a>") + kUtf16 + std::string("\0\0", 2) + Utf16LE("</a>"),
       "<a>" + kGbk + "</a>", kXmlFlagUtf16LE,
       "<bom/><read encoding=\"UTF-16LE\" length=\"10\"/><nulls_removed count=\"1\"/>"
       "<converted_to encoding=\"\" length=\"11\"/>"},
      {"utf-16be", "\xFE\xFF" + SwapUnits(Utf16LE("<a>") + kUtf16 + Utf16LE("</a>")),
       "<a>" + kGbk + "</a>", kXmlFlagUtf16BE,
       "<bom/><read encoding=\"UTF-16BE\" length=\"9\"/><endian_swap/>"
       "<converted_to encoding=\"\" length=\"11\"/>"},
      {"html meta", "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                    "charset=gb2312\"></head><body>" + kGbk + "</body></html>",
       "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
       "charset=gb2312\"></head><body>" + kGbk + "</body></html>", 0,
       "<read encoding=\"gb2312\" length=\"111\"/>"},
      {"empty", "", "", 0, "<read encoding=\"UTF-8\" length=\"0\"/><utf8_detection/>"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir / "in.xml";
    WriteFileOrDie(path, c.file);
    CXmlDoc doc;
    doc.SetDocFlags(kXmlFlagUtf16BE);  // left from an earlier file: must not survive
    doc.LoadFile(path);
    EXPECT_EQ(doc.GetDocText(), c.text) << c.what;
    EXPECT_EQ(doc.GetDocFlags(), c.flags) << c.what;
    const std::string log = doc.GetResultText();
    EXPECT_EQ(log.substr(0, c.log.size()), c.log) << c.what;
  }
}

TEST(XmlEncodingFiles, LoadResultAndLogOfTheParse) {
  TempDir dir;
  WriteFileOrDie(dir / "a.xml", "<a><b></a>");
  CXmlDoc doc;
  EXPECT_FALSE(doc.LoadFile(dir / "a.xml"));
  EXPECT_EQ(doc.GetResultText(),
            "<read encoding=\"UTF-8\" length=\"10\"/><converted_to encoding=\"\" length=\"10\"/>"
            "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"7\"/>");
  ASSERT_TRUE(doc.FindElement("a"));
  WriteFileOrDie(dir / "b.xml", "<a/>");
  EXPECT_TRUE(doc.LoadFile(dir / "b.xml"));
  EXPECT_FALSE(doc.LoadFile(dir / "missing.xml"));
  EXPECT_EQ(doc.GetDocText(), "");
  EXPECT_FALSE(doc.FindElement());
  EXPECT_EQ(doc.GetResultText(), "<file_error msg=\"No such file or directory\" n=\"2\"/>");
}

TEST(XmlEncodingFiles, RoundTripsKeepTheFileForm) {
  const std::string files[] = {
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<a>" + kUtf8 + "</a>\r\n",
      "\xFF\xFE" + Utf16LE("<a>") + kUtf16 + Utf16LE("</a>"),
      "\xFE\xFF" + SwapUnits(Utf16LE("<a>") + kUtf16 + Utf16LE("</a>")),
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<a>" + kUtf8 + "</a>\r\n",
      "<?xml version=\"1.0\" encoding=\"gbk\"?>\r\n<a>" + kGbk + "</a>\r\n",
      "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a>\xE9</a>",
      "<a>" + kUtf8 + "</a>",
      "",
  };
  TempDir dir;
  for (const std::string& file : files) {
    WriteFileOrDie(dir / "in.xml", file);
    CXmlDoc doc;
    doc.LoadFile(dir / "in.xml");
    ASSERT_TRUE(doc.SaveFile(dir / "out.xml")) << doc.GetResultText();
    EXPECT_EQ(ReadFileOrDie(dir / "out.xml"), file) << doc.GetResultText();
  }
}

TEST(XmlEncodingFiles, SaveResults) {
  TempDir dir;
  CXmlDoc doc("<a>" + kGbk + "</a>");
  ASSERT_TRUE(doc.SaveFile(dir / "plain.xml"));
  EXPECT_EQ(ReadFileOrDie(dir / "plain.xml"), "<a>" + kUtf8 + "</a>");
  EXPECT_EQ(doc.GetResultText(),
            "<converted_from encoding=\"\" length=\"11\"/><write encoding=\"UTF-8\" length=\"13\"/>");

  CXmlDoc latin("<?xml version=\"1.0\" encoding=\"latin1\"?><a>" + kGbk + "</a>");
  ASSERT_TRUE(latin.SaveFile(dir / "latin.xml"));
  EXPECT_EQ(ReadFileOrDie(dir / "latin.xml"),
            "<?xml version=\"1.0\" encoding=\"latin1\"?><a>?" "?</a>");
  EXPECT_NE(latin.GetResultText().find("<conversion_loss/>"), std::string::npos);

  CXmlDoc wide("<a/>");
  wide.SetDocFlags(kXmlFlagUtf16BE);
  ASSERT_TRUE(wide.SaveFile(dir / "wide.xml"));
  EXPECT_EQ(ReadFileOrDie(dir / "wide.xml"), "\xFE\xFF" + SwapUnits(Utf16LE("<a/>")));
  EXPECT_EQ(wide.GetResultText(),
            "<bom/><converted_from encoding=\"\" length=\"4\"/><endian_swap/>"
            "<write encoding=\"UTF-16BE\" length=\"4\"/>");

  CXmlDoc empty;
  ASSERT_TRUE(empty.SaveFile(dir / "empty.xml"));
  EXPECT_EQ(ReadFileOrDie(dir / "empty.xml"), "");
  EXPECT_EQ(empty.GetResultText(), "<write encoding=\"\" length=\"0\"/>");
}

TEST(XmlEncodingFiles, FailedSaveLeavesTheOldFileWhole) {
  TempDir dir;
  WriteFileOrDie(dir / "keep.xml", "<old/>");
  CXmlDoc doc("<new/>");
  EXPECT_FALSE(doc.SaveFile(dir / "missing/keep.xml"));
  EXPECT_NE(doc.GetResultText().find("<file_error msg=\""), std::string::npos)
      << doc.GetResultText();
  // A target that cannot be replaced (a folder) stays as it is, and no temporary file is left.
  testsupport::WriteFileOrDie(dir / "sub", "");
  std::remove((dir / "sub").c_str());
  ASSERT_TRUE(platform::fs::CreateFolder(dir / "sub"));
  EXPECT_FALSE(doc.SaveFile(dir / "sub"));
  EXPECT_TRUE(platform::fs::IsFolder(dir / "sub"));
  EXPECT_EQ(platform::fs::ListFolder(dir.path()).size(), 2u);
  EXPECT_EQ(ReadFileOrDie(dir / "keep.xml"), "<old/>");
  ASSERT_TRUE(doc.SaveFile(dir / "keep.xml", 0600));
  EXPECT_EQ(ReadFileOrDie(dir / "keep.xml"), "<new/>");
}

}  // namespace

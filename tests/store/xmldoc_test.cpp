#include "store/XmlDoc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/support/TestSupport.h"

namespace {

// Tag names of the elements of one level, in order, found with FindElement("").
std::vector<std::string> LevelNames(CXmlDoc& doc) {
  std::vector<std::string> names;
  doc.RewindLevel();
  while (doc.FindElement()) names.push_back(doc.GetTagName());
  doc.RewindLevel();
  return names;
}

TEST(XmlDocParse, ResultsAndWellFormedness) {
  struct Case {
    const char* text;
    bool wellFormed;
    const char* log;
  } cases[] = {
      {"", false, ""},
      {"<a/>", true, ""},
      {"<?xml version=\"1.0\"?>\r\n<a x='1'>t</a>\r\n", true, ""},
      {"<a><b></a></c>", false,
       "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"7\"/>"
       "<lone_end_tag tagname=\"c\" offset=\"10\"/>"},
      {"<a></b></a>", false, "<lone_end_tag tagname=\"b\" offset=\"3\"/>"},
      {"<a/><b/>", false, "<root_has_sibling/>"},
      {"just text", false, "<no_root_element/>"},
      {"  \r\n", false, "<no_root_element/>"},
      {"<a>< b</a>", false, "<first_tag_syntax offset=\"3\"/><unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"10\"/>"},
      {"<a><!x></a>", false, "<exclamation_tag_syntax offset=\"3\"/>"},
      {"<a><!-x></a>", false, "<comment_tag_syntax offset=\"3\"/>"},
      {"<a><![x></a>", false, "<cdata_section_syntax offset=\"3\"/>"},
      {"<!DOCTYPE a [<!x>]><a/>", false, "<doctype_tag_syntax offset=\"13\"/>"},
      {"<!DOCTYPE a [<!ELEMENT a ANY><!-- c -->]><a/>", true, ""},
      {"<a><!-- <b> --><![CDATA[</a>]]><?pi <x>?></a>", true, ""},
      {"<a", false, "<unterminated_tag_syntax type=\"start_tag\" offset=\"0\"/><no_root_element/>"},
      {"<a></a", false, "<unterminated_tag_syntax type=\"end_tag\" offset=\"3\"/>"
                        "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"6\"/>"},
      {"<a/><!-- x", false,
       "<unterminated_tag_syntax type=\"comment\" offset=\"4\"/>"},
      {"<a/><![CDATA[", false, "<unterminated_tag_syntax type=\"cdata_section\" offset=\"4\"/>"},
      {"<a/><?x", false, "<unterminated_tag_syntax type=\"processing_instruction\" offset=\"4\"/>"},
      {"<!DOCTYPE a [", false,
       "<unterminated_tag_syntax type=\"document_type\" offset=\"0\"/><no_root_element/>"},
      {"<a/><", false, "<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>"},
      {"<a b='x>y' c=\"/>\">&amp; > &</a>", true, ""},
  };
  for (const Case& c : cases) {
    CXmlDoc doc;
    EXPECT_EQ(doc.SetDocText(c.text), c.wellFormed) << c.text;
    EXPECT_EQ(doc.IsWellFormed(), c.wellFormed) << c.text;
    EXPECT_EQ(doc.GetResultText(), c.log) << c.text;
    EXPECT_EQ(doc.GetDocText(), c.text);
  }
}

TEST(XmlDocParse, RecordsOfElements) {
  CXmlDoc doc("<r><a x=\"1\">t</a><e/><u></r>");
  // record 0, r, a, e, u
  ASSERT_EQ(doc.GetElementCount(), 5);
  const XmlElement& root = doc.GetElement(0);
  EXPECT_EQ(root.start, 0);
  EXPECT_EQ(root.length, 28);
  EXPECT_EQ(root.firstChild, 1);
  EXPECT_NE(root.flags & kXmlDocIllFormed, 0u);
  const XmlElement& r = doc.GetElement(1);
  EXPECT_EQ(r.length, 28);
  EXPECT_EQ(r.tagLengths & 0x3FFFFF, 3u);
  EXPECT_EQ(r.tagLengths >> 22, 4u);
  EXPECT_EQ(r.flags & 0xFFFF, 0u);
  EXPECT_EQ(r.flags & kXmlElemContentError, 0u) << "an unended child without errors marks nothing";
  const XmlElement& a = doc.GetElement(2);
  EXPECT_EQ(a.start, 3);
  EXPECT_EQ(a.length, 14);
  EXPECT_EQ(a.flags & 0xFFFF, 1u);
  EXPECT_NE(a.flags & kXmlElemFirstChild, 0u);
  EXPECT_EQ(a.prev, 4) << "the first child points back to the last child";
  EXPECT_EQ(a.next, 3);
  const XmlElement& e = doc.GetElement(3);
  EXPECT_NE(e.flags & kXmlElemEmpty, 0u);
  EXPECT_EQ(e.length, 4);
  EXPECT_EQ(e.prev, 2);
  const XmlElement& u = doc.GetElement(4);
  EXPECT_NE(u.flags & kXmlElemUnended, 0u);
  EXPECT_EQ(u.length, 3);
  EXPECT_EQ(u.parent, 1);
}

TEST(XmlDocParse, UnendedElementsGiveTheirChildrenToTheParent) {
  CXmlDoc doc("<r><u><c1/><v><c2/></r>");
  EXPECT_FALSE(doc.IsWellFormed());
  EXPECT_EQ(doc.GetResultText(),
            "<unended_start_tag tagname=\"v\" offset=\"11\" offset2=\"20\"/>"
            "<unended_start_tag tagname=\"u\" offset=\"3\" offset2=\"20\"/>");
  ASSERT_TRUE(doc.FindElement("r"));
  ASSERT_TRUE(doc.IntoElement());
  EXPECT_EQ(LevelNames(doc), (std::vector<std::string>{"u", "c1", "v", "c2"}));
  for (int i = 2; i < doc.GetElementCount(); ++i) {
    EXPECT_EQ(doc.GetElement(i).flags & 0xFFFF, 1u) << i;
    EXPECT_EQ(doc.GetElement(i).parent, 1) << i;
  }
  // At the end of the text every open element is unended, children go to the top level.
  CXmlDoc open("<a><b><c/>");
  EXPECT_EQ(LevelNames(open), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(open.GetResultText(),
            "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"10\"/>"
            "<unended_start_tag tagname=\"a\" offset=\"0\" offset2=\"10\"/>"
            "<root_has_sibling/>");
}

TEST(XmlDocParse, DeepUnendedNestingStaysLinear) {
  // Many levels closed at once at the end must not take quadratic time or recursion.
  std::string text = "<r>";
  for (int i = 0; i < 200000; ++i) text += "<a><b/>";
  CXmlDoc doc(text);
  EXPECT_FALSE(doc.IsWellFormed());
  ASSERT_TRUE(doc.FindElement("r"));
  ASSERT_TRUE(doc.FindElement("a"));
  EXPECT_EQ(doc.GetElementCount(), 400002);
  EXPECT_LE(doc.GetResultText().size(), 1100u);
}

TEST(XmlDocParse, ResultLogStopsAtItsCap) {
  std::string text = "<a>";
  for (int i = 0; i < 100; ++i) text += "</zz>";
  text += "</a>";
  CXmlDoc doc(text);
  const std::string& log = doc.GetResultText();
  EXPECT_GE(log.size(), 1000u);
  EXPECT_LT(log.size(), 1000u + 60u);
  EXPECT_EQ(log.substr(log.size() - 2), "/>");
}

TEST(XmlDocParse, GbkTrailBytesAreNeverMarkup) {
  // 0x81 0x3C is no valid GBK pair, yet a lead byte always takes the next byte with it; real
  // GBK characters whose trail bytes are '@', '[', ']' and '|' must not disturb anything.
  const std::string kName = "\xB2\xE2\xCA\xD4";         // two characters
  const std::string kTrails = "\x81\x40\x95\x5B\x95\x5D\x81\x7C";  // trail bytes @ [ ] |
  const std::string text = "<" + kName + " v=\"" + kTrails + "\x81\"" + "\"><b>" + kTrails +
                           "\x81<</b></" + kName + ">";
  CXmlDoc doc(text);
  EXPECT_TRUE(doc.IsWellFormed()) << doc.GetResultText();
  ASSERT_TRUE(doc.FindElement(kName));
  EXPECT_EQ(doc.GetAttribute("v"), kTrails + "\x81\"");
  ASSERT_TRUE(doc.IntoElement());
  ASSERT_TRUE(doc.FindElement("b"));
  EXPECT_EQ(doc.GetElementData(), kTrails + "\x81<");
  // Under a single-byte code page the same bytes are markup.
  testsupport::ScopedCodePage cp(1252);
  CXmlDoc latin(text);
  EXPECT_FALSE(latin.IsWellFormed());
}

TEST(XmlDocNavigation, CursorOperations) {
  CXmlDoc doc("<r><x i='1'/><y/><x i='2'><z/></x></r>");
  EXPECT_FALSE(doc.IntoElement()) << "no current element";
  EXPECT_FALSE(doc.OutOfElement()) << "at the top level";
  EXPECT_FALSE(doc.FindElement("x"));
  ASSERT_TRUE(doc.FindElement("r"));
  ASSERT_TRUE(doc.IntoElement());
  ASSERT_TRUE(doc.FindElement("x"));
  EXPECT_EQ(doc.GetAttribute("i"), "1");
  ASSERT_TRUE(doc.FindElement("x"));
  EXPECT_EQ(doc.GetAttribute("i"), "2");
  EXPECT_FALSE(doc.FindElement("x"));
  EXPECT_EQ(doc.GetAttribute("i"), "2") << "a failed search leaves the cursor";
  ASSERT_TRUE(doc.IntoElement());
  ASSERT_TRUE(doc.FindElement("z"));
  ASSERT_TRUE(doc.OutOfElement());
  EXPECT_EQ(doc.GetTagName(), "x");
  ASSERT_TRUE(doc.IntoElement());
  EXPECT_EQ(doc.GetTagName(), "z") << "IntoElement returns to the remembered child";
  ASSERT_TRUE(doc.OutOfElement());
  ASSERT_TRUE(doc.RewindLevel());
  ASSERT_TRUE(doc.FindElement("y"));
  ASSERT_TRUE(doc.IntoElement());
  EXPECT_FALSE(doc.FindElement()) << "empty element has no children";
  ASSERT_TRUE(doc.OutOfElement());
  ASSERT_TRUE(doc.OutOfElement());
  EXPECT_EQ(doc.GetTagName(), "r");
  EXPECT_FALSE(doc.OutOfElement());
}

TEST(XmlDocNavigation, FindElementNames) {
  struct Case {
    const char* name;
    bool found;
    const char* tag;
  } cases[] = {
      {"", true, "a"},       {"b", true, "b"},     {"B", false, ""},
      {"b[2]", true, "b"},   {"b/c", true, "b"},   {"/b", false, ""},
      {"b ", false, ""},     {"c", false, ""},     {"b c", false, ""},
  };
  for (const Case& c : cases) {
    CXmlDoc doc("<r><a/><b/></r>");
    ASSERT_TRUE(doc.FindElement("r"));
    ASSERT_TRUE(doc.IntoElement());
    EXPECT_EQ(doc.FindElement(c.name), c.found) << c.name;
    EXPECT_EQ(doc.GetTagName(), c.tag) << c.name;
  }
  CXmlDoc two("<a/><a/>");
  EXPECT_EQ(LevelNames(two), (std::vector<std::string>{"a", "a"}));
  CXmlDoc broken("<a><b></a>");
  ASSERT_TRUE(broken.FindElement("a"));
  ASSERT_TRUE(broken.IntoElement());
  ASSERT_TRUE(broken.FindElement("b"));
  EXPECT_EQ(broken.GetElement(broken.GetCurrentIndex()).length, 3);
}

TEST(XmlDocData, ElementDataAndInnerMarkup) {
  struct Case {
    const char* text;
    const char* data;
    const char* inner;
  } cases[] = {
      {"<a>x &amp; y</a>", "x & y", "x &amp; y"},
      {"<a><![CDATA[<b>]]></a>", "<b>", "<![CDATA[<b>]]>"},
      {"<a><b/></a>", "", "<b/>"},
      {"<a/>", "", ""},
      {"<a></a>", "", ""},
      {"<a> 1 <!-- c --> <![CDATA[2 &amp;]]>\r\n<?p?> &lt;3</a>", " 1 2 &amp; <3",
       " 1 <!-- c --> <![CDATA[2 &amp;]]>\r\n<?p?> &lt;3"},
      {"<a>  </a>", "  ", "  "},
  };
  for (const Case& c : cases) {
    CXmlDoc doc(c.text);
    ASSERT_TRUE(doc.FindElement("a")) << c.text;
    EXPECT_EQ(doc.GetInnerMarkup(), c.inner) << c.text;
    EXPECT_EQ(doc.GetElementData(), c.data) << c.text;
  }
  CXmlDoc none("<a>x</a>");
  EXPECT_EQ(none.GetElementData(), "");
  EXPECT_EQ(none.GetInnerMarkup(), "");
  EXPECT_EQ(none.GetAttribute("x"), "");
}

TEST(XmlDocData, Attributes) {
  struct Case {
    const char* text;
    const char* name;
    const char* value;
  } cases[] = {
      {"<e v='1 &lt; 2'/>", "v", "1 < 2"},
      {"<e v=abc>", "v", "abc"},
      {"<e a=\"1\" v = \"2\" />", "v", "2"},
      {"<e v=b/>", "v", "b/"},
      {"<e V='1'/>", "v", ""},
      {"<e vv='1'/>", "v", ""},
      {"<e x='v=1'/>", "v", ""},
      {"<e v/>", "v", ""},
      {"<e v=\"a>b\"/>", "v", "a>b"},
      {"<e v=\"&quot;&apos;&#65;&#x42;\">", "v", "\"'AB"},
  };
  for (const Case& c : cases) {
    CXmlDoc doc(c.text);
    ASSERT_TRUE(doc.FindElement("e")) << c.text;
    EXPECT_EQ(doc.GetAttribute(c.name), c.value) << c.text;
  }
  CXmlDoc unquotedSlash("<e v=b/>");
  EXPECT_EQ(unquotedSlash.GetElement(1).flags & kXmlElemEmpty, 0u);
}

TEST(XmlDocEdit, SetAttributeGivesExactTexts) {
  struct Case {
    const char* text;
    const char* name;
    const char* value;
    const char* result;
  } cases[] = {
      {"<e/>", "n", "a\"b", "<e n=\"a&quot;b\"/>"},
      {"<e />", "n", "1", "<e n=\"1\" />"},
      {"<e a='x'>t</e>", "n", "<'&>", "<e a='x' n=\"&lt;&apos;&amp;&gt;\">t</e>"},
      {"<e n='old' m=1>", "n", "new", "<e n=\"new\" m=1>"},
      {"<e n=old>", "n", "v", "<e n=\"v\">"},
      {"<e n>", "n", "v", "<e n=\"v\">"},
      {"<e a=b/>", "n", "v", "<e a=b/ n=\"v\">"},
  };
  for (const Case& c : cases) {
    CXmlDoc doc(c.text);
    ASSERT_TRUE(doc.FindElement("e")) << c.text;
    ASSERT_TRUE(doc.SetAttribute(c.name, c.value)) << c.text;
    EXPECT_EQ(doc.GetDocText(), c.result) << c.text;
    EXPECT_EQ(doc.GetAttribute(c.name), c.value) << c.text;
  }
  CXmlDoc none("<e/>");
  EXPECT_FALSE(none.SetAttribute("n", "v"));
  ASSERT_TRUE(none.FindElement("e"));
  EXPECT_FALSE(none.SetAttribute("bad name", "v"));
  EXPECT_FALSE(none.SetAttribute("", "v"));
  ASSERT_TRUE(none.SetAttribute("n", -42));
  EXPECT_EQ(none.GetDocText(), "<e n=\"-42\"/>");
}

TEST(XmlDocEdit, SetAttributeShiftsEveryPosition) {
  CXmlDoc doc("<r><a>1</a><b k='v'><c/></b><d>4</d></r>");
  ASSERT_TRUE(doc.FindElement("r"));
  ASSERT_TRUE(doc.IntoElement());
  ASSERT_TRUE(doc.FindElement("b"));
  ASSERT_TRUE(doc.SetAttribute("k", "longer value"));
  ASSERT_TRUE(doc.SetAttribute("z", 7));
  // A fresh parse of the edited text gives the same records.
  CXmlDoc fresh(doc.GetDocText());
  ASSERT_EQ(fresh.GetElementCount(), doc.GetElementCount());
  for (int i = 0; i < doc.GetElementCount(); ++i) {
    EXPECT_EQ(doc.GetElement(i).start, fresh.GetElement(i).start) << i;
    EXPECT_EQ(doc.GetElement(i).length, fresh.GetElement(i).length) << i;
    EXPECT_EQ(doc.GetElement(i).tagLengths, fresh.GetElement(i).tagLengths) << i;
  }
  ASSERT_TRUE(doc.FindElement("d"));
  EXPECT_EQ(doc.GetElementData(), "4");
}

TEST(XmlDocEdit, AddElementLayout) {
  CXmlDoc doc("<p/>");
  ASSERT_TRUE(doc.FindElement("p"));
  ASSERT_TRUE(doc.IntoElement());
  ASSERT_TRUE(doc.AddElement("c", "1"));
  EXPECT_EQ(doc.GetDocText(), "<p>\r\n<c>1</c>\r\n</p>");
  ASSERT_TRUE(doc.AddElement("d"));
  EXPECT_EQ(doc.GetDocText(), "<p>\r\n<c>1</c>\r\n<d/>\r\n</p>");
  EXPECT_EQ(doc.GetTagName(), "d");
  ASSERT_TRUE(doc.RewindLevel());
  ASSERT_TRUE(doc.AddElement("e", "a<b"));
  EXPECT_EQ(doc.GetDocText(), "<p>\r\n<c>1</c>\r\n<d/>\r\n<e>a&lt;b</e>\r\n</p>");
  ASSERT_TRUE(doc.RewindLevel());
  ASSERT_TRUE(doc.FindElement("c"));
  ASSERT_TRUE(doc.AddElement("f", "2"));
  EXPECT_EQ(doc.GetDocText(), "<p>\r\n<c>1</c>\r\n<f>2</f>\r\n<d/>\r\n<e>a&lt;b</e>\r\n</p>");
  ASSERT_TRUE(doc.RewindLevel());
  EXPECT_EQ(LevelNames(doc), (std::vector<std::string>{"c", "f", "d", "e"}));

  // The edited index equals that of a fresh parse.
  CXmlDoc fresh(doc.GetDocText());
  EXPECT_TRUE(fresh.IsWellFormed());
  ASSERT_TRUE(fresh.FindElement("p"));
  ASSERT_TRUE(fresh.IntoElement());
  EXPECT_EQ(LevelNames(fresh), (std::vector<std::string>{"c", "f", "d", "e"}));
  ASSERT_TRUE(doc.FindElement("f"));
  EXPECT_EQ(doc.GetElementData(), "2");
  ASSERT_TRUE(doc.OutOfElement());
  EXPECT_EQ(doc.GetElement(doc.GetCurrentIndex()).length,
            static_cast<int>(doc.GetDocText().size()));
}

TEST(XmlDocEdit, AddElementBuildsADocument) {
  CXmlDoc doc("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n");
  ASSERT_TRUE(doc.AddElement("config"));
  ASSERT_TRUE(doc.IntoElement());
  ASSERT_TRUE(doc.AddElement("down_save", "/home/u/\xD6\xD0"));
  ASSERT_TRUE(doc.AddElement("auto", "1"));
  ASSERT_TRUE(doc.OutOfElement());
  EXPECT_EQ(doc.GetDocText(),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<config>\r\n"
            "<down_save>/home/u/\xD6\xD0</down_save>\r\n<auto>1</auto>\r\n</config>\r\n");
  EXPECT_TRUE(CXmlDoc(doc.GetDocText()).IsWellFormed());

  CXmlDoc empty;
  ASSERT_TRUE(empty.AddElement("a"));
  ASSERT_TRUE(empty.IntoElement());
  ASSERT_TRUE(empty.AddElement("b", {}, XmlLineBreaks::None));
  ASSERT_TRUE(empty.AddElement("c", "x", XmlLineBreaks::None));
  EXPECT_EQ(empty.GetDocText(), "<a><b/><c>x</c></a>\r\n");

  CXmlDoc open("<p></p>");
  ASSERT_TRUE(open.FindElement("p"));
  ASSERT_TRUE(open.IntoElement());
  ASSERT_TRUE(open.AddElement("c"));
  EXPECT_EQ(open.GetDocText(), "<p>\r\n<c/>\r\n</p>");
  EXPECT_FALSE(open.AddElement("bad name"));

  CXmlDoc slashes("<p a=\"1\"//>");
  ASSERT_TRUE(slashes.FindElement("p"));
  ASSERT_TRUE(slashes.IntoElement());
  ASSERT_TRUE(slashes.AddElement("c"));
  EXPECT_EQ(slashes.GetDocText(), "<p a=\"1\">\r\n<c/>\r\n</p>");
  EXPECT_TRUE(CXmlDoc(slashes.GetDocText()).IsWellFormed());
  EXPECT_FALSE(open.AddElement(""));
}

TEST(XmlDocEscape, EscapeText) {
  EXPECT_EQ(CXmlDoc::EscapeText("a<b&c>d\"e'f"), "a&lt;b&amp;c&gt;d\"e'f");
  EXPECT_EQ(CXmlDoc::EscapeText("\"'", XmlQuotes::Escape), "&quot;&apos;");
  EXPECT_EQ(CXmlDoc::EscapeText("&amp;"), "&amp;amp;");
  EXPECT_EQ(CXmlDoc::EscapeText("\x81<"), "\x81<") << "the '<' is a trail byte";
  testsupport::ScopedCodePage cp(1252);
  EXPECT_EQ(CXmlDoc::EscapeText("\x81<"), "\x81&lt;");
}

TEST(XmlDocEscape, UnescapeUnderGbk) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"&#233;", "\xA8\xA6"},       {"&#xE9;", "\xA8\xA6"},    {"&eacute;", "\xA8\xA6"},
      {"&agrave;", "\xA8\xA4"},     {"&EACUTE;", "&EACUTE;"},  // É is not in GBK
      {"&foo;", "&foo;"},           {"&amp", "&amp"},          {"&AmP;", "&"},
      {"&#20013;", "\xD6\xD0"},     {"&#x4E2D;", "\xD6\xD0"},  {"&#X4e2d;", "\xD6\xD0"},
      {"&#0;", "&#0;"},             {"&#;", "&#;"},            {"&#x;", "&#x;"},
      {"&#1114112;", "&#1114112;"}, {"&#xD800;", "&#xD800;"},  {"&#x1F600;", "&#x1F600;"},
      {"&lt;&gt;&quot;&apos;", "<>\"'"},
      {"&thetasym;", "&thetasym;"},  // no GBK form
      {"a&b;c&", "a&b;c&"},         {"&&lt;", "&<"},           {"&l\xD6\xD0;", "&l\xD6\xD0;"},
      {"&#65xyz;", "A"},            {"&alpha;&Alpha;&ALPHA;", "\xA6\xC1\xA6\xA1\xA6\xA1"},
      {"&rarr;&rArr;", "\xA1\xFA&rArr;"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CXmlDoc::UnescapeText(c.in), c.out) << c.in;
  }
  EXPECT_EQ(CXmlDoc::UnescapeText("&lt;&lt;", 4), "<");
}

TEST(XmlDocEscape, UnescapeUnder1252AndUtf8) {
  {
    testsupport::ScopedCodePage cp(1252);
    struct Case {
      const char* in;
      const char* out;
    } cases[] = {
        {"&#233;", "\xE9"},   {"&eacute;", "\xE9"}, {"&Eacute;", "\xC9"}, {"&EACUTE;", "\xC9"},
        {"&agrave;", "\xE0"}, {"&Agrave;", "\xC0"}, {"&aGrave;", "\xC0"}, {"&euro;", "\x80"},
        {"&#x4E2D;", "&#x4E2D;"},  {"&alpha;", "&alpha;"}, {"&nbsp;", "\xA0"},
    };
    for (const Case& c : cases) {
      EXPECT_EQ(CXmlDoc::UnescapeText(c.in), c.out) << c.in;
    }
  }
  testsupport::ScopedCodePage cp(65001);
  EXPECT_EQ(CXmlDoc::UnescapeText("&#x1F600;&hearts;"), "\xF0\x9F\x98\x80\xE2\x99\xA5");
}

TEST(XmlDocText, AbsentAndReplacedTexts) {
  CXmlDoc doc("<a/>");
  EXPECT_TRUE(doc.IsWellFormed());
  EXPECT_FALSE(doc.SetDocText(static_cast<const char*>(nullptr)));
  EXPECT_EQ(doc.GetDocText(), "");
  EXPECT_EQ(doc.GetElementCount(), 1);
  EXPECT_FALSE(doc.FindElement());
  EXPECT_TRUE(doc.SetDocText(std::string("<b><c/></b>")));
  ASSERT_TRUE(doc.FindElement("b"));
  ASSERT_TRUE(doc.IntoElement());
  EXPECT_TRUE(doc.FindElement("c"));
  // A new text puts the cursor back at the top level.
  EXPECT_TRUE(doc.SetDocText("<d/>"));
  EXPECT_EQ(doc.GetParentIndex(), 0);
  EXPECT_EQ(doc.GetCurrentIndex(), 0);
}

TEST(XmlDocParse, LargeDocumentsGrowTheTable) {
  std::string text = "<r>";
  for (int i = 0; i < 150000; ++i) text += "<i n=\"" + std::to_string(i) + "\"/>";
  text += "</r>";
  CXmlDoc doc(text);
  EXPECT_TRUE(doc.IsWellFormed());
  ASSERT_TRUE(doc.FindElement("r"));
  ASSERT_TRUE(doc.IntoElement());
  int count = 0;
  std::string last;
  while (doc.FindElement("i")) {
    ++count;
    if (count == 150000) last = doc.GetAttribute("n");
  }
  EXPECT_EQ(count, 150000);
  EXPECT_EQ(last, "149999");
}

TEST(XmlDocParse, OverlongTagsAreRefused) {
  CXmlDoc doc;
  XmlDocLimits limits;
  limits.maxStartTag = 16;
  limits.maxEndTag = 8;
  doc.SetLimits(limits);
  EXPECT_FALSE(doc.SetDocText("<r><a long='attribute'/><b></b     ></r>"));
  EXPECT_EQ(doc.GetResultText(),
            "<tag_too_long type=\"start_tag\" offset=\"3\"/>"
            "<tag_too_long type=\"end_tag\" offset=\"27\"/>"
            "<unended_start_tag tagname=\"b\" offset=\"24\" offset2=\"37\"/>");
}

}  // namespace

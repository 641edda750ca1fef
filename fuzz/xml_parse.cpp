// Parses arbitrary bytes as a document, under the program's code page and under a single-byte
// one, walks every element and reads its data, inner markup and attributes, then edits it.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <tuple>
#include <vector>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "store/XmlDoc.h"
#include "store/XmlEncoding.h"

namespace {

void Walk(CXmlDoc& doc, int depth) {
  doc.RewindLevel();
  while (doc.FindElement()) {
    (void)doc.GetElementData();
    (void)doc.GetInnerMarkup();
    (void)doc.GetAttribute("a");
    (void)doc.GetAttribute("encoding");
    const std::string name = doc.GetTagName();
    if (depth < 64 && doc.IntoElement()) {
      Walk(doc, depth + 1);
      doc.OutOfElement();
    }
  }
}

using Layout = std::vector<std::tuple<int, int, unsigned>>;

Layout LayoutOf(const CXmlDoc& doc) {
  Layout out;
  for (int i = 0; i < doc.GetElementCount(); ++i) {
    const XmlElement& e = doc.GetElement(i);
    out.emplace_back(e.start, e.length, e.tagLengths);
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const int codePage = size && (data[0] & 1) ? 1252 : 936;
  platform::SetSystemCodePage(codePage);
  CXmlDoc doc(text);
  Walk(doc, 0);
  (void)CXmlEncoding::GetDeclaredEncoding(text);
  (void)CXmlDoc::UnescapeText(text);
  // Edits keep the index equal to a fresh parse of the edited text.
  const bool wellFormed = doc.IsWellFormed();
  doc.RewindLevel();
  if (doc.FindElement()) {
    doc.SetAttribute("a", "x<\"y");
    if (doc.IntoElement()) {
      doc.AddElement("n", "1&2");
      doc.OutOfElement();
    }
    doc.AddElement("m");
    Walk(doc, 0);
    // The positions kept by the edits are those a fresh parse of the edited text finds.
    if (wellFormed && LayoutOf(doc) != LayoutOf(CXmlDoc(doc.GetDocText()))) std::abort();
  }
  platform::SetSystemCodePage(platform::kCodePageDefault);
  return 0;
}

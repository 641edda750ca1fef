#include "content/MyMemFile.h"

#include "app/base/FileUtil.h"
#include "platform/text.h"
#include "store/XmlDoc.h"

std::string RewritePageIndexRights(std::string_view utf8Text, std::string_view price,
                                   std::string_view balance) {
  // A byte-order mark has no place in the system code page; it is kept aside and put back.
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  const bool bom = utf8Text.substr(0, kBom.size()) == kBom;
  const std::string text = CFileUtil::ConvertCodePage(utf8Text.substr(bom ? kBom.size() : 0),
                                                      platform::kCodePageUtf8,
                                                      platform::kCodePageSystem);
  CXmlDoc doc;
  doc.SetDocText(text);
  if (!doc.FindElement("XML") || !doc.IntoElement() || !doc.FindElement("configs") ||
      !doc.IntoElement() || !doc.FindElement("config")) {
    return std::string(utf8Text);
  }
  doc.SetAttribute("RW", "1");
  doc.SetAttribute("AllowSeeNumbers", "16");
  if (doc.GetAttribute("price").empty()) doc.SetAttribute("price", price);
  doc.SetAttribute("userprice", balance);
  return (bom ? std::string(kBom) : std::string()) +
         CFileUtil::ConvertCodePage(doc.GetDocText(), platform::kCodePageSystem,
                                    platform::kCodePageUtf8);
}

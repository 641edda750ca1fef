#include "store/SortInfo.h"

#include "app/base/AppPaths.h"
#include "app/base/FileUtil.h"
#include "platform/text.h"
#include "store/XmlDoc.h"

std::vector<CSortInfo> ParseCategoryXml(std::string_view text) {
  std::vector<CSortInfo> result;
  CXmlDoc doc;
  doc.SetDocText(text);
  doc.RewindLevel();
  if (!doc.FindElement("api")) return result;
  doc.IntoElement();
  while (doc.FindElement("sort")) {
    CSortInfo sort;
    sort.id = doc.GetAttribute("id");
    sort.sort_name = doc.GetAttribute("sort_name");
    doc.IntoElement();
    while (doc.FindElement("item")) {
      CBigClassInfo item;
      item.id = doc.GetAttribute("id");
      item.p_id = doc.GetAttribute("p_id");
      item.sort_name = doc.GetAttribute("sort_name");
      sort.items.push_back(std::move(item));
    }
    doc.OutOfElement();
    result.push_back(std::move(sort));
  }
  return result;
}

std::vector<CSortInfo> ReadCategoryFile(std::string_view path) {
  std::string raw;
  if (!CFileUtil::ReadWholeFile(path, raw) || raw.empty()) return {};
  return ParseCategoryXml(
      CFileUtil::ConvertCodePage(raw, platform::kCodePageUtf8, platform::kCodePageSystem));
}

std::vector<CSortInfo> LoadCategoryList(std::string_view type) {
  const CAppPaths& paths = CAppPaths::Instance();
  return ReadCategoryFile(type == "book" ? paths.BookClassFile : paths.MagClassFile);
}

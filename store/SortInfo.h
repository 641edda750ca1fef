// The store's category lists of books and magazines (BookClass.xml, MagClass.xml): the server's
// reply stored unchanged, parsed whenever the bookshelf page builds its category list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// One sub-entry of a category.
class CBigClassInfo {
 public:
  virtual ~CBigClassInfo() = default;

  std::string id;         // sub-entry id
  std::string p_id;       // id of the category above
  std::string sort_name;  // name shown for it
};

// One category.
class CSortInfo {
 public:
  virtual ~CSortInfo() = default;

  std::string id;                    // matched against the sort_id of shelf records
  std::string sort_name;             // name shown on the bookshelf page
  std::vector<CBigClassInfo> items;  // the sub-entries
};

// The categories of a category text (system code page) in document order; empty when it has no
// `api` root.
std::vector<CSortInfo> ParseCategoryXml(std::string_view text);
// Reads a category file (UTF-8 on disk) and parses it; empty when the file is missing.
std::vector<CSortInfo> ReadCategoryFile(std::string_view path);
// The categories of "book" (BookClass.xml) or, for any other type, of magazines (MagClass.xml).
std::vector<CSortInfo> LoadCategoryList(std::string_view type);

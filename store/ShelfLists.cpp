#include "store/ShelfLists.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <unordered_set>

#include "app/base/AppPaths.h"
#include "app/base/FileUtil.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "store/XmlDoc.h"

namespace {

constexpr char kHeader[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<api>\r\n";
constexpr char kFooter[] = "</api>\r\n";

// How one field of a record is written.
enum class Form { Plain, CData, Number };

// The fields in the order of the format; the reader finds them in this order too.
struct FieldDef {
  const char* name;
  Form form;
  std::string CMagInfo::*text;
  std::int32_t CMagInfo::*number;
};

const FieldDef kFields[] = {
    {"id", Form::Plain, &CMagInfo::id, nullptr},
    {"pid", Form::Plain, &CMagInfo::pid, nullptr},
    {"sort_id", Form::Plain, &CMagInfo::sort_id, nullptr},
    {"class_id", Form::Plain, &CMagInfo::class_id, nullptr},
    {"brand_id", Form::Plain, &CMagInfo::brand_id, nullptr},
    {"feature", Form::Plain, &CMagInfo::feature, nullptr},
    {"name", Form::CData, &CMagInfo::name, nullptr},
    {"date", Form::Plain, &CMagInfo::date, nullptr},
    {"isFullSwf", Form::Plain, &CMagInfo::isFullSwf, nullptr},
    {"price", Form::Plain, &CMagInfo::price, nullptr},
    {"exe_size", Form::Plain, &CMagInfo::exe_size, nullptr},
    {"load_url", Form::CData, &CMagInfo::load_url, nullptr},
    {"pic1", Form::Plain, &CMagInfo::pic1, nullptr},
    {"s_pic", Form::Plain, &CMagInfo::s_pic, nullptr},
    {"description", Form::CData, &CMagInfo::description, nullptr},
    {"rec_content", Form::CData, &CMagInfo::rec_content, nullptr},
    {"add_time", Form::Plain, &CMagInfo::add_time, nullptr},
    {"downlen", Form::Number, nullptr, &CMagInfo::downlen},
    {"filelen", Form::Number, nullptr, &CMagInfo::filelen},
    {"down", Form::Number, nullptr, &CMagInfo::down},
    {"type", Form::Plain, &CMagInfo::type, nullptr},
    {"savepath", Form::CData, &CMagInfo::savepath, nullptr},
};

// A lead byte of a two-byte character that no trail byte follows (a character cut in two) would
// make the reader take the markup after it for the character's second byte, and the file would
// be unreadable from there on: such a byte is written as "?", the code page's default character.
// The value itself, or its copy in `fixed` with those bytes replaced.
const std::string& WholeCharacters(const std::string& value, std::string& fixed) {
  const std::string* out = &value;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (!platform::IsLeadByte(static_cast<unsigned char>(value[i]))) continue;
    if (i + 1 < value.size() && static_cast<unsigned char>(value[i + 1]) >= 0x40) {
      ++i;  // a whole character
      continue;
    }
    if (out == &value) {
      fixed = value;
      out = &fixed;
    }
    fixed[i] = '?';
  }
  return *out;
}

// A plain value keeps its bytes except "<" and "&", which would otherwise end the element or
// start a reference; the reader decodes both back. Trail bytes of two-byte characters are never
// either of them, so a byte-wise pass is safe.
void AppendPlain(std::string& out, const std::string& value) {
  std::string fixed;
  for (const char c : WholeCharacters(value, fixed)) {
    if (c == '<') {
      out += "&lt;";
    } else if (c == '&') {
      out += "&amp;";
    } else {
      out.push_back(c);
    }
  }
}

// A CDATA section cannot hold "]]>": such a value is split into two sections between "]]" and
// ">", which the reader joins again.
void AppendCData(std::string& out, const std::string& raw) {
  std::string fixed;
  const std::string& value = WholeCharacters(raw, fixed);
  out += "<![CDATA[";
  std::size_t from = 0;
  for (std::size_t at = value.find("]]>"); at != std::string::npos;
       at = value.find("]]>", from)) {
    out.append(value, from, at + 2 - from);
    out += "]]><![CDATA[";
    from = at + 2;
  }
  out.append(value, from, std::string::npos);
  out += "]]>";
}

// The C conversion of a leading decimal number (leading blanks, a sign, digits); 0 for text
// that is no number, and values beyond 32 bits held at the nearest limit.
std::int32_t LeadingNumber(const std::string& text) {
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

MagInfoPtr ParseRecord(const std::string& markup) {
  CXmlDoc doc;
  doc.SetDocText(markup);
  auto record = std::make_shared<CMagInfo>();
  for (const FieldDef& f : kFields) {
    if (!doc.FindElement(f.name)) continue;  // the cursor stays: later names are still found
    std::string data = doc.GetElementData();
    if (f.form == Form::Number) {
      (*record).*(f.number) = LeadingNumber(data);
    } else {
      (*record).*(f.text) = std::move(data);
    }
  }
  return record;
}

bool Holds(const MagList& list, std::string_view pid) {
  return std::any_of(list.begin(), list.end(),
                     [&](const MagInfoPtr& r) { return r->pid == pid; });
}

void RemovePid(MagList& list, std::string_view pid) {
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const MagInfoPtr& r) { return r->pid == pid; }),
             list.end());
}

}  // namespace

CShelfLists& CShelfLists::Instance() {
  // Never destroyed: download workers may still use it while the process ends.
  static CShelfLists* const lists = new CShelfLists();
  return *lists;
}

CShelfLists::CShelfLists(ShelfListsTunables tunables) : m_tunables(tunables) {}

CShelfLists::CShelfLists(ShelfFiles files, ShelfListsTunables tunables)
    : m_files(std::move(files)), m_tunables(tunables) {}

std::optional<CShelfLists::ListId> CShelfLists::ListOfKey(std::string_view key) {
  if (key == "book") return kBook;
  if (key == "mag") return kMag;
  if (key == "book_read") return kBookRead;
  if (key == "mag_read") return kMagRead;
  return std::nullopt;
}

std::string CShelfLists::FileOf(ListId id) const {
  if (m_files) {
    switch (id) {
      case kBook: return m_files->book;
      case kMag: return m_files->mag;
      case kBookRead: return m_files->bookRead;
      case kMagRead: return m_files->magRead;
      default: return std::string();
    }
  }
  const CAppPaths& paths = CAppPaths::Instance();
  switch (id) {
    case kBook: return paths.BookShelfFile;
    case kMag: return paths.MagShelfFile;
    case kBookRead: return paths.BookNewReadFile;
    case kMagRead: return paths.MagNewReadFile;
    default: return std::string();
  }
}

std::unique_lock<std::recursive_mutex> CShelfLists::LockLists() const {
  return std::unique_lock<std::recursive_mutex>(m_lock);
}

void CShelfLists::LoadAllLists() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  for (const ListId id : {kBook, kMag, kBookRead, kMagRead}) {
    m_lists[id].clear();
    std::string text;
    if (CFileUtil::ReadWholeFile(FileOf(id), text)) {
      ParseBooklistXml(text, m_lists[id], InsertAt::Back);
    }
  }
}

bool CShelfLists::SaveListLocked(ListId id) {
  const std::string path = FileOf(id);
  if (path.empty()) return false;
  // A temporary file renamed over the old one: a crash mid-save leaves the old list whole.
  return platform::fs::ReplaceFile(path, WriteBooklistXml(m_lists[id]));
}

bool CShelfLists::SaveList(std::string_view key) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (key == "all") {
    bool ok = true;
    for (const ListId id : {kBook, kMag, kBookRead, kMagRead}) ok = SaveListLocked(id) && ok;
    return ok;
  }
  const auto id = ListOfKey(key);
  return id && SaveListLocked(*id);
}

MagList CShelfLists::GetList(std::string_view key) const {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  const auto id = ListOfKey(key);
  return id ? m_lists[*id] : MagList();
}

MagInfoPtr CShelfLists::FindRecord(std::string_view key, std::string_view pid) const {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  const auto id = ListOfKey(key);
  if (!id) return nullptr;
  for (const MagInfoPtr& r : m_lists[*id]) {
    if (r->pid == pid) return r;
  }
  return nullptr;
}

bool CShelfLists::HasRecord(std::string_view key, std::string_view pid) const {
  return FindRecord(key, pid) != nullptr;
}

void CShelfLists::CutRecentList(ListId id) {
  MagList& list = m_lists[id];
  if (list.size() > m_tunables.recentReadLimit) list.resize(m_tunables.recentReadLimit);
}

bool CShelfLists::AddRecord(const MagInfoPtr& record, std::string_view key, InsertAt where) {
  if (!record) return false;
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  const auto id = ListOfKey(key);
  if (!id) return false;
  MagList& list = m_lists[*id];
  if (Holds(list, record->pid)) return false;
  if (where == InsertAt::Front) {
    list.insert(list.begin(), record);
  } else {
    list.push_back(record);
  }
  if (*id == kBookRead || *id == kMagRead) CutRecentList(*id);
  SaveListLocked(*id);
  return true;
}

MagInfoPtr CShelfLists::AddFromBooklistXml(std::string_view text, std::string_view key) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  const auto id = ListOfKey(key);
  if (!id) return nullptr;
  MagInfoPtr last = ParseBooklistXml(text, m_lists[*id], InsertAt::Front);
  if (*id == kBookRead || *id == kMagRead) CutRecentList(*id);
  if (last) SaveListLocked(*id);
  return last;
}

bool CShelfLists::DeleteRecord(std::string_view key, std::string_view pid) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  std::optional<ListId> shelf;
  std::optional<ListId> recent;
  if (key == "book") {
    shelf = kBook;
    recent = kBookRead;
  } else if (key == "mag") {
    shelf = kMag;
    recent = kMagRead;
  } else if (key == "book_read") {
    recent = kBookRead;
  } else if (key == "mag_read") {
    recent = kMagRead;
  }
  if (shelf) RemovePid(m_lists[*shelf], pid);
  if (recent) RemovePid(m_lists[*recent], pid);
  if (shelf) SaveListLocked(*shelf);
  if (recent) SaveListLocked(*recent);
  return true;
}

bool CShelfLists::AddRecentRead(const MagInfoPtr& record) {
  if (!record) return true;
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  ListId id;
  if (record->type == "book") {
    id = kBookRead;
  } else if (record->type == "mag") {
    id = kMagRead;
  } else {
    return true;
  }
  MagList& list = m_lists[id];
  RemovePid(list, record->pid);
  list.insert(list.begin(), record);
  CutRecentList(id);
  SaveListLocked(id);
  return true;
}

MagInfoPtr CShelfLists::FindFirstStopped() const {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  for (const ListId id : {kMag, kBook}) {
    for (const MagInfoPtr& r : m_lists[id]) {
      if (r->down == kDownWaiting) return r;
    }
  }
  return nullptr;
}

std::string CShelfLists::GetSortIdList(std::string_view key) const {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (key != "book" && key != "mag") return std::string();
  std::vector<std::string_view> seen;
  std::string out;
  for (const MagInfoPtr& r : m_lists[key == "book" ? kBook : kMag]) {
    if (std::find(seen.begin(), seen.end(), r->sort_id) != seen.end()) continue;
    seen.push_back(r->sort_id);
    out += r->sort_id;
    out += ',';
  }
  return out;
}

MagInfoPtr CShelfLists::ParseBooklistXml(std::string_view text, MagList& list, InsertAt where) {
  if (text.empty()) return nullptr;
  CXmlDoc doc;
  doc.SetDocText(text);
  doc.RewindLevel();
  if (!doc.FindElement("api")) return nullptr;
  std::unordered_set<std::string> listed;
  for (const MagInfoPtr& r : list) listed.insert(r->pid);
  MagInfoPtr last;
  const auto takeRecords = [&] {
    while (doc.FindElement("booklist")) {
      const std::string markup = doc.GetInnerMarkup();
      if (markup.empty()) continue;
      MagInfoPtr record = ParseRecord(markup);
      if (record->pid.empty() || listed.count(record->pid) != 0) continue;
      if (record->down == kDownComplete && !CFileUtil::FileExists(record->savepath)) continue;
      // Unfinished downloads wait to be started again by the download manager.
      if (record->down != kDownComplete) record->down = kDownWaiting;
      listed.insert(record->pid);
      if (where == InsertAt::Front) {
        list.insert(list.begin(), record);
      } else {
        list.push_back(record);
      }
      last = std::move(record);
    }
  };
  doc.IntoElement();
  takeRecords();
  // A file cut short (a full disk, a crash of an earlier version mid-save) leaves `api` unended,
  // and its whole records then stand after it at the top level: they are kept as well, rather
  // than losing the shelf and writing it back empty.
  doc.OutOfElement();
  takeRecords();
  return last;
}

std::string CShelfLists::WriteBooklistXml(const MagList& list) {
  std::string out = kHeader;
  out.reserve(list.size() * 640);
  for (const MagInfoPtr& r : list) {
    if (!r) continue;
    out += "<booklist>";
    for (const FieldDef& f : kFields) {
      out += '<';
      out += f.name;
      out += '>';
      switch (f.form) {
        case Form::Plain:
          AppendPlain(out, (*r).*(f.text));
          break;
        case Form::CData:
          AppendCData(out, (*r).*(f.text));
          break;
        case Form::Number: {
          char digits[16];
          std::snprintf(digits, sizeof digits, "%d", static_cast<int>((*r).*(f.number)));
          out += digits;
          break;
        }
      }
      out += "</";
      out += f.name;
      out += ">\r\n";
    }
    out += "</booklist>";
  }
  out += kFooter;
  return out;
}

#include "store/XmlDoc.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/text.h"
#include "store/XmlEncoding.h"
#include "store/XmlScanner.h"
#include "store/XmlTables.inc"

namespace xmlscan {

const LeadTable& CurrentLeadTable() {
  thread_local int cachedCodePage = -1;
  thread_local LeadTable table;
  const int codePage = platform::GetSystemCodePage();
  if (codePage != cachedCodePage) {
    table.any = false;
    for (int b = 0; b < 256; ++b) {
      const auto c = static_cast<unsigned char>(b);
      table.lead[b] = platform::IsLeadByteEx(codePage, c);
      table.any = table.any || table.lead[b];
      table.name[b] = table.lead[b]                           ? kNameLead
                      : IsSpace(c) || c == '/' || c == '>' ? kNameStop
                                                              : kNameByte;
      table.tag[b] = table.lead[b] ? kTagLead
                     : c == '>'    ? kTagClose
                     : c == '='    ? kTagEquals
                     : c == '/'    ? kTagSlash
                                   : kTagPlain;
    }
    cachedCodePage = codePage;
  }
  return table;
}

}  // namespace xmlscan

namespace {

using namespace xmlscan;  // NOLINT: the scanner's classes and helpers
using xmlscan::IsSpace;
using xmlscan::Node;
using xmlscan::NodeKind;
using xmlscan::Scanner;

// 4,096 records (128 KiB) per segment: small enough that a document never holds much unused
// table, large enough that the segment table stays short.
constexpr std::uint32_t kSegmentBits = 12;
constexpr std::uint32_t kSegmentSize = 1u << kSegmentBits;  // records per segment
constexpr std::uint32_t kSlotMask = kSegmentSize - 1;
constexpr std::uint32_t kStartTagMask = 0x3FFFFF;
constexpr std::uint32_t kLevelMask = 0xFFFF;
constexpr std::size_t kMaxText = 0x7FFFFFF0;  // offsets are 32-bit signed

inline std::uint32_t StartTagLength(const XmlElement& e) { return e.tagLengths & kStartTagMask; }
inline std::uint32_t EndTagLength(const XmlElement& e) { return e.tagLengths >> 22; }
inline std::uint32_t PackTags(std::uint32_t start, std::uint32_t end) {
  return (start & kStartTagMask) | (end << 22);
}
inline std::uint32_t Level(const XmlElement& e) { return e.flags & kLevelMask; }

// A name an element or attribute may carry: not empty, no markup characters, no whitespace.
bool IsPlainName(std::string_view name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (IsSpace(c) || c == '<' || c == '>' || c == '/' || c == '=' || c == '"' || c == '\'' ||
        c == '&' || c == 0) {
      return false;
    }
  }
  return true;
}

// Code point of an entity name; `folded` is the lower-case spelling, `original` the text's.
std::uint32_t LookUpEntity(std::string_view folded, std::string_view original) {
  unsigned sum = 0;
  for (unsigned char c : folded) sum += c;
  const char* p = kXmlEntityBuckets[sum % kXmlEntityBucketCount];
  std::uint32_t first = 0, second = 0;
  while (*p) {
    const std::size_t len = static_cast<std::size_t>(p[0] - '0');
    const std::uint32_t cp = static_cast<std::uint32_t>((p[1] - '0') * 1000 + (p[2] - '0') * 100 +
                                                        (p[3] - '0') * 10 + (p[4] - '0'));
    if (len == folded.size() && std::memcmp(p + 5, folded.data(), len) == 0) {
      if (!first) {
        first = cp;
      } else {
        second = cp;
      }
    }
    p += 5 + len;
  }
  // Of a case pair the capital spelling comes first; only the all-lower-case spelling gets the
  // other one.
  if (second && original == folded) return second;
  return first;
}

// The character of a code point in the system code page, at most 5 bytes; false when the code
// page has none.
bool CodePointToSystem(std::uint32_t cp, std::string& out) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  const int system = platform::GetSystemCodePage();
  if (cp < 0x80 && system != platform::kCodePageUtf7 && system != 1200 && system != 1201) {
    out.assign(1, static_cast<char>(cp));
    return true;
  }
  char16_t units[2];
  const int count = CXmlEncoding::EncodeUtf16(cp, units);
  bool usedDefault = false;
  if (!platform::WideToMultiByte(platform::kCodePageSystem, std::u16string_view(units, count),
                                 out, &usedDefault)) {
    return false;
  }
  return !usedDefault && !out.empty() && out.size() <= 5;
}

}  // namespace

// The element table: segments of 4,096 records reached through a segment table. Indices never
// change; a growing table adds segments and never moves the records of a full segment. Only the
// first segment, while it is smaller than a whole one, is enlarged by reallocation. The size
// follows the growth rule (pre-sized from the text, then by half), but memory is taken only for
// the segments that records actually reach.
struct CXmlDoc::Table {
  std::vector<XmlElement*> segments;
  std::uint32_t size = 0;       // records that may be addressed by the growth rule
  std::uint32_t allocated = 0;  // records with memory behind them

  ~Table() { Release(); }
  void Release() {
    for (XmlElement* s : segments) std::free(s);
    segments.clear();
    segments.shrink_to_fit();
    size = allocated = 0;
  }
  // Keeps the first segment, frees the others (a new text starts small again).
  void Trim() {
    while (segments.size() > 1) {
      std::free(segments.back());
      segments.pop_back();
    }
    if (allocated > kSegmentSize) allocated = kSegmentSize;
    size = allocated;
  }
  XmlElement& At(std::uint32_t i) { return segments[i >> kSegmentBits][i & kSlotMask]; }
  // Makes at least `want` records addressable by the growth rule.
  void Reserve(std::uint32_t want) {
    if (want <= size) return;
    size = want;
    const std::uint32_t needed = (want + kSegmentSize - 1) >> kSegmentBits;
    if (segments.capacity() < needed) segments.reserve(2 * needed + 4);
  }
  // Puts memory behind record `i` (< size); false when memory runs out.
  bool Back(std::uint32_t i) {
    if (i < allocated) return true;
    if (i < kSegmentSize) {
      const std::uint32_t want = std::min(std::max(size, i + 1), kSegmentSize);
      auto* grown = static_cast<XmlElement*>(std::realloc(
          segments.empty() ? nullptr : segments[0], sizeof(XmlElement) * want));
      if (!grown) return false;
      if (segments.empty()) {
        segments.push_back(grown);
      } else {
        segments[0] = grown;
      }
      allocated = want;
      return true;
    }
    if (allocated < kSegmentSize && !Back(kSegmentSize - 1)) return false;
    while (allocated <= i) {
      auto* s = static_cast<XmlElement*>(std::malloc(sizeof(XmlElement) * kSegmentSize));
      if (!s) return false;
      segments.push_back(s);
      allocated += kSegmentSize;
    }
    return true;
  }
};

// One pass over the text with a stack of open elements.
class CXmlParser {
 public:
  explicit CXmlParser(CXmlDoc& doc)
      : m_doc(doc),
        m_table(*doc.m_table),
        m_scan(doc.m_text, xmlscan::CurrentLeadTable()),
        m_log(doc.m_result, doc.m_limits.resultLogCap) {}

  void Run() {
    const std::uint32_t n = m_scan.size();
    const unsigned char* p = m_scan.data();
    m_stack.reserve(64);
    m_stack.push_back(Open{0, 0, 0, 0});
    Node node;
    std::uint32_t pos = 0;
    while (pos < n) {
      if (p[pos] != '<') {
        pos = m_scan.Find('<', pos);
        continue;
      }
      if (pos + 1 < n) {
        const unsigned char c = p[pos + 1];
        if (c == '/') {
          if (m_stack.size() > 1 && CloseInnermost(pos)) continue;
        } else if (c > 0x60 || (c >= 'A' && c <= 'Z')) {
          // A start tag without attributes, "<name>", is the common case.
          const std::uint32_t nameEnd = m_scan.NameEnd(pos + 1);
          if (nameEnd < n && p[nameEnd] == '>') {
            node.kind = NodeKind::StartTag;
            node.start = pos;
            node.end = nameEnd + 1;
            node.nameEnd = nameEnd;
            node.empty = false;
            StartTag(node);
            pos = nameEnd + 1;
            continue;
          }
        }
      }
      m_scan.Next(pos, node);
      switch (node.kind) {
        case NodeKind::StartTag:
          StartTag(node);
          break;
        case NodeKind::EndTag:
          EndTag(node);
          break;
        case NodeKind::Bad:
          Bad(node.error, node.type, node.errorOffset);
          break;
        default:
          break;
      }
      pos = node.end;
    }
    CloseUnended(1, n);
    Close(m_stack[0]);
    if (m_levelsMoved) FixLevels();
    XmlElement& doc = m_table.At(0);
    if (m_illFormed) doc.flags |= kXmlDocIllFormed;
    if (!doc.firstChild) {
      m_log.Add("no_root_element");
    } else if (m_table.At(static_cast<std::uint32_t>(doc.firstChild)).next) {
      m_log.Add("root_has_sibling");
    }
  }

 private:
  struct Open {
    std::int32_t rec;
    std::uint32_t nameStart;
    std::uint32_t nameLength;
    std::int32_t last;  // last child so far
  };

  XmlElement& Rec(std::int32_t i) { return m_table.At(static_cast<std::uint32_t>(i)); }

  std::int32_t NewRecord() {
    auto next = static_cast<std::uint32_t>(m_doc.m_nextFree);
    if (next >= m_table.allocated) {
      if (next >= m_table.size) {
        m_table.Reserve(m_table.size + std::max<std::uint32_t>(m_table.size / 2, 8));
      }
      if (next == 0x7FFFFFFF || !m_table.Back(next)) return 0;
    }
    ++m_doc.m_nextFree;
    return static_cast<std::int32_t>(next);
  }

  void Link(std::int32_t idx, XmlElement& rec) {
    Open& top = m_stack.back();
    rec.parent = top.rec;
    rec.firstChild = 0;
    rec.next = 0;
    if (!top.last) {
      Rec(top.rec).firstChild = idx;
      rec.flags |= kXmlElemFirstChild;
      rec.prev = idx;
    } else {
      Rec(top.last).next = idx;
      rec.prev = top.last;
    }
    top.last = idx;
  }

  void StartTag(const Node& node) {
    const std::uint32_t length = node.end - node.start;
    if (length > m_doc.m_limits.maxStartTag) {
      return Bad("tag_too_long", "start_tag", node.start);
    }
    const std::int32_t idx = NewRecord();
    if (!idx) return Bad("out_of_memory", "start_tag", node.start);
    XmlElement& rec = Rec(idx);
    rec.start = static_cast<std::int32_t>(node.start);
    rec.tagLengths = PackTags(length, 0);
    const std::size_t depth = m_stack.size() - 1;
    rec.flags = static_cast<std::uint32_t>(std::min<std::size_t>(depth, kLevelMask));
    Link(idx, rec);
    if (node.empty) {
      rec.length = static_cast<std::int32_t>(length);
      rec.flags |= kXmlElemEmpty;
    } else {
      rec.length = 0;
      m_stack.push_back(Open{idx, node.start + 1, node.nameEnd - node.start - 1, 0});
    }
  }

  void EndTag(const Node& node) {
    const std::uint32_t length = node.end - node.start;
    const unsigned char* p = m_scan.data();
    const unsigned char* name = p + node.start + 2;
    const std::uint32_t nameLength = node.nameEnd - node.start - 2;
    if (length > m_doc.m_limits.maxEndTag) {
      return Bad("tag_too_long", "end_tag", node.start);
    }
    std::size_t match = 0;
    for (std::size_t k = m_stack.size() - 1; k > 0; --k) {
      const Open& open = m_stack[k];
      if (open.nameLength == nameLength && std::memcmp(p + open.nameStart, name, nameLength) == 0) {
        match = k;
        break;
      }
    }
    if (!match) {
      m_log.AddEntry("lone_end_tag", "tagname",
                     std::string_view(reinterpret_cast<const char*>(name), nameLength), "offset",
                     node.start);
      m_illFormed = true;
      MarkInnermost();
      return;
    }
    if (match + 1 < m_stack.size()) CloseUnended(match + 1, node.start + 1);
    Open& open = m_stack[match];
    XmlElement& rec = Rec(open.rec);
    rec.length = static_cast<std::int32_t>(node.end) - rec.start;
    rec.tagLengths = PackTags(StartTagLength(rec), length);
    Close(open);
    m_stack.pop_back();
  }

  // The common case of an end tag: `</name>` of the innermost open element, exactly. Advances
  // `pos` past it and answers true; anything else is left to the scanner.
  bool CloseInnermost(std::uint32_t& pos) {
    const unsigned char* p = m_scan.data();
    Open& top = m_stack.back();
    const std::uint32_t gt = pos + 2 + top.nameLength;
    if (gt >= m_scan.size() || p[gt] != '>') return false;
    const unsigned char* a = p + pos + 2;
    const unsigned char* b = p + top.nameStart;
    for (std::uint32_t k = 0; k < top.nameLength; ++k) {
      if (a[k] != b[k]) return false;
    }
    const std::uint32_t length = gt + 1 - pos;
    if (length > m_doc.m_limits.maxEndTag) return false;
    XmlElement& rec = Rec(top.rec);
    rec.length = static_cast<std::int32_t>(gt + 1) - rec.start;
    rec.tagLengths = PackTags(StartTagLength(rec), length);
    Close(top);
    m_stack.pop_back();
    pos = gt + 1;
    return true;
  }

  void Bad(const char* word, const char* type, std::uint32_t offset) {
    m_illFormed = true;
    MarkInnermost();
    if (type) {
      m_log.AddEntry(word, "type", type, "offset", offset);
    } else {
      m_log.AddEntry(word, {}, {}, "offset", offset);
    }
  }

  void MarkInnermost() {
    const std::int32_t top = m_stack.back().rec;
    if (top) Rec(top).flags |= kXmlElemContentError;
  }

  // The first child's back link to the last child, once the children are known.
  void Close(const Open& open) {
    if (open.last) Rec(Rec(open.rec).firstChild).prev = open.last;
  }

  // Closes the open elements from stack position `from` upward as unended: each keeps only its
  // start tag, and its children (with the inner unended elements) become following siblings
  // under the element at `from` - 1, in document order. Each record is relinked at most once
  // here, since its new parent is then closed.
  void CloseUnended(std::size_t from, std::uint32_t offset2) {
    if (from >= m_stack.size()) return;
    m_illFormed = true;
    const unsigned char* p = m_scan.data();
    for (std::size_t k = m_stack.size() - 1; k >= from; --k) {
      Open& open = m_stack[k];
      XmlElement& rec = Rec(open.rec);
      rec.flags |= kXmlElemUnended;
      rec.length = static_cast<std::int32_t>(StartTagLength(rec));
      rec.tagLengths = PackTags(StartTagLength(rec), 0);
      m_log.AddEntry("unended_start_tag", "tagname",
                     std::string_view(reinterpret_cast<const char*>(p + open.nameStart),
                                      open.nameLength),
                     "offset", rec.start, true, offset2);
      if ((rec.flags & kXmlElemContentError) && m_stack[k - 1].rec) {
        Rec(m_stack[k - 1].rec).flags |= kXmlElemContentError;
      }
    }
    Open& keeper = m_stack[from - 1];
    std::int32_t tail = m_stack[from].rec;  // already the keeper's last child
    for (std::size_t k = from; k < m_stack.size(); ++k) {
      const std::int32_t u = m_stack[k].rec;
      if (u != tail) {
        XmlElement& ur = Rec(u);
        ur.parent = keeper.rec;
        ur.flags &= ~kXmlElemFirstChild;
        Rec(tail).next = u;
        ur.prev = tail;
        tail = u;
      }
      const std::int32_t stop = k + 1 < m_stack.size() ? m_stack[k + 1].rec : 0;
      std::int32_t c = Rec(u).firstChild;
      while (c && c != stop) {
        XmlElement& cr = Rec(c);
        const std::int32_t next = cr.next;
        cr.parent = keeper.rec;
        cr.flags &= ~kXmlElemFirstChild;
        Rec(tail).next = c;
        cr.prev = tail;
        tail = c;
        c = next;
      }
      Rec(u).firstChild = 0;
      m_levelsMoved = true;
    }
    Rec(tail).next = 0;
    keeper.last = tail;
    m_stack.resize(from);
  }

  // Levels after records moved up: parents always precede their children in the table.
  void FixLevels() {
    const auto count = static_cast<std::uint32_t>(m_doc.m_nextFree);
    for (std::uint32_t i = 1; i < count; ++i) {
      XmlElement& rec = m_table.At(i);
      std::uint32_t level = 0;
      if (rec.parent) level = std::min<std::uint32_t>(Level(Rec(rec.parent)) + 1, kLevelMask);
      rec.flags = (rec.flags & ~kLevelMask) | level;
    }
  }

  CXmlDoc& m_doc;
  CXmlDoc::Table& m_table;
  Scanner m_scan;
  CXmlResultLog m_log;
  std::vector<Open> m_stack;
  bool m_illFormed = false;
  bool m_levelsMoved = false;
};

CXmlDoc::CXmlDoc() : m_table(std::make_unique<Table>()) { ResetTable(0, false); }

CXmlDoc::CXmlDoc(std::string_view text) : CXmlDoc() { SetDocText(text); }

CXmlDoc::~CXmlDoc() = default;
CXmlDoc::CXmlDoc(CXmlDoc&&) noexcept = default;
CXmlDoc& CXmlDoc::operator=(CXmlDoc&&) noexcept = default;

XmlElement& CXmlDoc::Rec(int index) { return m_table->At(static_cast<std::uint32_t>(index)); }
const XmlElement& CXmlDoc::Rec(int index) const {
  return m_table->At(static_cast<std::uint32_t>(index));
}

const XmlElement& CXmlDoc::GetElement(int index) const {
  if (index < 0 || index >= m_nextFree) index = 0;
  return Rec(index);
}

void CXmlDoc::ResetTable(std::size_t textLength, bool release) {
  if (!m_table) m_table = std::make_unique<Table>();
  if (release) {
    m_table->Release();
  } else {
    m_table->Trim();
  }
  m_parentPos = m_current = m_child = 0;
  m_deletedHead = m_nodeType = m_nodeOffset = m_nodeLength = 0;
  m_nextFree = 1;
  const std::size_t want = textLength / 64 + 8;
  m_table->Reserve(static_cast<std::uint32_t>(std::min<std::size_t>(want, kMaxText / 64)));
  if (!m_table->Back(0)) std::abort();  // not even one record: nothing can go on
  XmlElement& doc = Rec(0);
  doc = XmlElement{0, static_cast<std::int32_t>(textLength), 0, 0, 0, 0, 0, 0};
}

bool CXmlDoc::Parse() {
  if (m_text.size() > kMaxText) {
    CXmlResultLog(m_result, m_limits.resultLogCap)
        .AddNumber("document_too_large", "length", static_cast<long long>(m_text.size()));
    m_text.clear();
  }
  ResetTable(m_text.size(), false);
  if (m_text.empty()) return false;
  CXmlParser(*this).Run();
  return IsWellFormed();
}

bool CXmlDoc::SetDocText(std::string_view text) {
  m_result.clear();
  m_text.assign(text.data(), text.size());
  return Parse();
}

bool CXmlDoc::SetDocText(std::string&& text) {
  m_result.clear();
  m_text = std::move(text);
  return Parse();
}

bool CXmlDoc::SetDocText(const char* text) {
  if (!text) {
    m_result.clear();
    m_text.clear();
    m_text.shrink_to_fit();
    ResetTable(0, true);
    return false;
  }
  return SetDocText(std::string_view(text));
}

bool CXmlDoc::LoadFile(std::string_view path) {
  m_result.clear();
  std::string text;
  const bool ok = CXmlEncoding::LoadFile(path, text, m_result, m_docFlags, m_limits.resultLogCap);
  m_text = ok ? std::move(text) : std::string();
  const bool wellFormed = Parse();
  return ok && wellFormed;
}

bool CXmlDoc::SaveFile(std::string_view path, unsigned mode) {
  m_result.clear();
  return CXmlEncoding::SaveFile(path, m_text, m_result, m_docFlags, mode, m_limits.resultLogCap);
}

bool CXmlDoc::IsWellFormed() const {
  const XmlElement& doc = Rec(0);
  if (doc.flags & kXmlDocIllFormed) return false;
  if (!doc.firstChild) return false;
  return Rec(doc.firstChild).next == 0;
}

std::string_view CXmlDoc::TagNameOf(int index) const {
  const XmlElement& rec = Rec(index);
  const Scanner scan(m_text, xmlscan::CurrentLeadTable());
  const auto from = static_cast<std::uint32_t>(rec.start) + 1;
  const std::uint32_t tagEnd = static_cast<std::uint32_t>(rec.start) + StartTagLength(rec);
  const std::uint32_t end = std::min(scan.NameEnd(from), tagEnd);
  return std::string_view(m_text).substr(from, end > from ? end - from : 0);
}

std::string CXmlDoc::GetTagName() const {
  if (!m_current) return std::string();
  return std::string(TagNameOf(m_current));
}

bool CXmlDoc::FindElement(std::string_view name) {
  // Only the leading name counts: a bracketed predicate or further "/" steps are ignored.
  const xmlscan::LeadTable& leads = xmlscan::CurrentLeadTable();
  std::size_t cut = 0;
  while (cut < name.size() && name[cut] != '[' && name[cut] != '/') {
    cut += leads.any && leads.lead[static_cast<unsigned char>(name[cut])] ? 2 : 1;
  }
  if (cut > name.size()) cut = name.size();
  if (cut == 0 && !name.empty() && name[0] == '/') return false;
  const std::string_view leading = name.substr(0, cut);
  std::int32_t c = m_current ? Rec(m_current).next : Rec(m_parentPos).firstChild;
  while (c) {
    if (leading.empty() || TagNameOf(c) == leading) {
      m_current = c;
      m_child = 0;
      m_nodeType = 1;
      return true;
    }
    c = Rec(c).next;
  }
  return false;
}

bool CXmlDoc::IntoElement() {
  if (!m_current) return false;
  m_parentPos = m_current;
  m_current = m_child;
  m_child = 0;
  m_nodeType = m_current ? 1 : 0;
  return true;
}

bool CXmlDoc::OutOfElement() {
  if (!m_parentPos) return false;
  m_child = m_current;
  m_current = m_parentPos;
  m_parentPos = Rec(m_current).parent;
  m_nodeType = 1;
  return true;
}

bool CXmlDoc::RewindLevel() {
  m_current = 0;
  m_child = 0;
  m_nodeType = 0;
  return true;
}

std::string CXmlDoc::GetInnerMarkup() const {
  if (!m_current) return std::string();
  const XmlElement& rec = Rec(m_current);
  if (rec.flags & kXmlElemEmpty) return std::string();
  const std::int64_t length =
      static_cast<std::int64_t>(rec.length) - StartTagLength(rec) - EndTagLength(rec);
  if (length <= 0) return std::string();
  return m_text.substr(static_cast<std::size_t>(rec.start) + StartTagLength(rec),
                       static_cast<std::size_t>(length));
}

std::string CXmlDoc::GetElementData() const {
  if (!m_current) return std::string();
  const XmlElement& rec = Rec(m_current);
  if ((rec.flags & kXmlElemEmpty) || rec.firstChild) return std::string();
  const std::int64_t length =
      static_cast<std::int64_t>(rec.length) - StartTagLength(rec) - EndTagLength(rec);
  if (length <= 0) return std::string();
  const std::string_view content = std::string_view(m_text).substr(
      static_cast<std::size_t>(rec.start) + StartTagLength(rec), static_cast<std::size_t>(length));
  if (content.find('<') == std::string_view::npos) return UnescapeText(content);
  // Text runs decoded, CDATA verbatim; whitespace-only runs, comments and instructions dropped.
  const Scanner scan(content, xmlscan::CurrentLeadTable());
  std::string out;
  Node node;
  std::uint32_t pos = 0;
  while (pos < scan.size()) {
    scan.Next(pos, node);
    if (node.kind == NodeKind::Text) {
      const std::string_view run = content.substr(node.start, node.end - node.start);
      bool blank = true;
      for (unsigned char c : run) {
        if (!IsSpace(c)) {
          blank = false;
          break;
        }
      }
      if (!blank) out += UnescapeText(run);
    } else if (node.kind == NodeKind::CData) {
      const std::uint32_t from = std::min(node.start + 9, node.end - 3);
      out.append(content.substr(from, node.end - 3 - from));
    }
    pos = node.end;
  }
  return out;
}

std::string CXmlDoc::GetAttribute(std::string_view name) const {
  if (!m_current || name.empty()) return std::string();
  const XmlElement& rec = Rec(m_current);
  const Scanner scan(m_text, xmlscan::CurrentLeadTable());
  const auto start = static_cast<std::uint32_t>(rec.start);
  const std::uint32_t limit = start + StartTagLength(rec) - 1;  // the closing '>'
  Scanner::Attr attr;
  if (!scan.FindAttribute(scan.NameEnd(start + 1), limit, name, false, attr)) {
    return std::string();
  }
  if (!attr.hasValue) return std::string();
  return UnescapeText(
      std::string_view(m_text).substr(attr.valueStart, attr.valueEnd - attr.valueStart));
}

bool CXmlDoc::SpliceCheck(std::size_t addLength) const {
  return m_text.size() + addLength <= kMaxText;
}

void CXmlDoc::Splice(std::size_t at, std::size_t removeLength, std::string_view insert) {
  const std::size_t needed = m_text.size() - removeLength + insert.size();
  if (needed > m_text.capacity()) m_text.reserve(needed + needed / 2 + 128);
  m_text.replace(at, removeLength, insert.data(), insert.size());
}

// Moves every element that starts at or after `insertAt` by `delta`, and lengthens `owner` and
// its ancestors (record 0 included) by it.
void CXmlDoc::Shift(int insertAt, int delta, int owner) {
  for (int i = 1; i < m_nextFree; ++i) {
    XmlElement& rec = Rec(i);
    if (rec.start >= insertAt) rec.start += delta;
  }
  for (int a = owner; a; a = Rec(a).parent) Rec(a).length += delta;
  Rec(0).length = static_cast<std::int32_t>(m_text.size());
}

bool CXmlDoc::SetAttribute(std::string_view name, std::string_view value) {
  if (!m_current || !IsPlainName(name)) return false;
  XmlElement& rec = Rec(m_current);
  const Scanner scan(m_text, xmlscan::CurrentLeadTable());
  const auto start = static_cast<std::uint32_t>(rec.start);
  const std::uint32_t limit = start + StartTagLength(rec) - 1;
  Scanner::Attr attr;
  std::uint32_t lastEnd = 0;
  const bool found =
      scan.FindAttribute(scan.NameEnd(start + 1), limit, name, false, attr, &lastEnd);
  const std::string quoted = "\"" + EscapeText(value, XmlQuotes::Escape) + "\"";
  std::size_t at = 0, removeLength = 0;
  std::string insert;
  if (found && attr.hasValue) {
    at = attr.outerStart;
    removeLength = attr.outerEnd - attr.outerStart;
    insert = quoted;
  } else if (found) {
    at = attr.nameEnd;
    insert = "=" + quoted;
  } else {
    at = lastEnd;
    insert = " " + std::string(name) + "=" + quoted;
  }
  const long long delta = static_cast<long long>(insert.size()) - static_cast<long long>(removeLength);
  if (delta > 0 && !SpliceCheck(static_cast<std::size_t>(delta))) return false;
  if (StartTagLength(rec) + delta > m_limits.maxStartTag) return false;
  Splice(at, removeLength, insert);
  const std::uint32_t startTag = static_cast<std::uint32_t>(StartTagLength(rec) + delta);
  rec.tagLengths = PackTags(startTag, EndTagLength(rec));
  Shift(static_cast<int>(at) + 1, static_cast<int>(delta), m_current);
  return true;
}

bool CXmlDoc::SetAttribute(std::string_view name, int value) {
  return SetAttribute(name, std::string_view(std::to_string(value)));
}

bool CXmlDoc::AddElement(std::string_view name, std::string_view data, XmlLineBreaks breaks) {
  if (!IsPlainName(name)) return false;
  if (name.size() + 3 > m_limits.maxEndTag) return false;
  const std::string_view nl = breaks == XmlLineBreaks::CrLf ? "\r\n" : "";
  std::string element;
  if (data.empty()) {
    element = "<" + std::string(name) + "/>";
  } else {
    element = "<" + std::string(name) + ">" + EscapeText(data) + "</" + std::string(name) + ">";
  }
  const std::int32_t parent = m_parentPos;
  std::size_t elementAt = 0;
  if (parent && (Rec(parent).flags & kXmlElemEmpty)) {
    // <p/> opens: its '/' becomes '>' + the new element + "</p".
    XmlElement& p = Rec(parent);
    std::size_t slash = static_cast<std::size_t>(p.start) + StartTagLength(p) - 2;
    if (m_text[slash] != '/') return false;
    // All of a run of slashes goes ("<p//>"), or the tag would still read as empty.
    const Scanner scan(m_text, xmlscan::CurrentLeadTable());
    const auto tagStart = static_cast<std::uint32_t>(p.start);
    std::size_t slashes = 1;
    while (slash - 1 > tagStart && m_text[slash - 1] == '/' &&
           !scan.IsTrail(static_cast<std::uint32_t>(slash - 1), tagStart)) {
      --slash;
      ++slashes;
    }
    const std::string pname(TagNameOf(parent));
    const std::string insert = ">" + std::string(nl) + element + std::string(nl) + "</" + pname;
    if (!SpliceCheck(insert.size())) return false;
    Splice(slash, slashes, insert);
    const int delta = static_cast<int>(insert.size()) - static_cast<int>(slashes);
    Shift(static_cast<int>(slash) + 1, delta, p.parent);
    const std::uint32_t startTag = StartTagLength(p) - static_cast<std::uint32_t>(slashes);
    const auto endTag = static_cast<std::uint32_t>(pname.size() + 3);
    p.tagLengths = PackTags(startTag, endTag);
    p.length = static_cast<std::int32_t>(startTag + nl.size() + element.size() + nl.size() + endTag);
    p.flags &= ~kXmlElemEmpty;
    elementAt = slash + 1 + nl.size();
  } else {
    std::size_t at;
    if (m_current) {
      const XmlElement& c = Rec(m_current);
      at = static_cast<std::size_t>(c.start) + static_cast<std::size_t>(c.length);
    } else if (!parent) {
      at = m_text.size();
    } else {
      const XmlElement& p = Rec(parent);
      at = static_cast<std::size_t>(p.start) + static_cast<std::size_t>(p.length) - EndTagLength(p);
    }
    // Whitespace up to the next tag (or the end) is stepped over, so the element goes in front of
    // that tag.
    std::size_t skip = at;
    while (skip < m_text.size() && IsSpace(static_cast<unsigned char>(m_text[skip]))) ++skip;
    if (skip == m_text.size() || m_text[skip] == '<') at = skip;
    bool emptyContent = false;
    if (parent) {
      const XmlElement& p = Rec(parent);
      emptyContent = EndTagLength(p) > 0 &&
                     static_cast<std::uint32_t>(p.length) == StartTagLength(p) + EndTagLength(p);
    }
    const std::string insert = (emptyContent ? std::string(nl) : std::string()) + element +
                               std::string(nl);
    if (!SpliceCheck(insert.size())) return false;
    Splice(at, 0, insert);
    Shift(static_cast<int>(at), static_cast<int>(insert.size()), parent);
    elementAt = at + (emptyContent ? nl.size() : 0);
  }
  const std::int32_t idx = m_nextFree;
  if (static_cast<std::uint32_t>(idx) >= m_table->size) {
    m_table->Reserve(m_table->size + std::max<std::uint32_t>(m_table->size / 2, 8));
  }
  if (!m_table->Back(static_cast<std::uint32_t>(idx))) return false;
  ++m_nextFree;
  XmlElement& rec = Rec(idx);
  rec.start = static_cast<std::int32_t>(elementAt);
  rec.length = static_cast<std::int32_t>(element.size());
  const auto startTag = static_cast<std::uint32_t>(data.empty() ? element.size() : name.size() + 2);
  rec.tagLengths = PackTags(startTag, data.empty() ? 0 : static_cast<std::uint32_t>(name.size() + 3));
  rec.flags = parent ? std::min<std::uint32_t>(Level(Rec(parent)) + 1, kLevelMask) : 0;
  if (data.empty()) rec.flags |= kXmlElemEmpty;
  rec.parent = parent;
  rec.firstChild = 0;
  XmlElement& p = Rec(parent);
  if (m_current) {
    XmlElement& c = Rec(m_current);
    rec.next = c.next;
    rec.prev = m_current;
    if (c.next) {
      Rec(c.next).prev = idx;
    } else {
      Rec(p.firstChild).prev = idx;
    }
    c.next = idx;
  } else if (!p.firstChild) {
    p.firstChild = idx;
    rec.flags |= kXmlElemFirstChild;
    rec.prev = idx;
    rec.next = 0;
  } else {
    const std::int32_t last = Rec(p.firstChild).prev;
    Rec(last).next = idx;
    rec.prev = last;
    rec.next = 0;
    Rec(p.firstChild).prev = idx;
  }
  m_current = idx;
  m_child = 0;
  m_nodeType = 1;
  return true;
}

std::string CXmlDoc::EscapeText(std::string_view text, XmlQuotes quotes) {
  const xmlscan::LeadTable& leads = xmlscan::CurrentLeadTable();
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (leads.any && leads.lead[c]) {
      out.push_back(text[i]);
      if (i + 1 < text.size()) out.push_back(text[++i]);
      continue;
    }
    switch (c) {
      case '<': out += "&lt;"; break;
      case '&': out += "&amp;"; break;
      case '>': out += "&gt;"; break;
      case '"':
        if (quotes == XmlQuotes::Escape) { out += "&quot;"; } else { out.push_back('"'); }
        break;
      case '\'':
        if (quotes == XmlQuotes::Escape) { out += "&apos;"; } else { out.push_back('\''); }
        break;
      default: out.push_back(static_cast<char>(c)); break;
    }
  }
  return out;
}

std::string CXmlDoc::UnescapeText(std::string_view text, int length) {
  if (length >= 0 && static_cast<std::size_t>(length) < text.size()) {
    text = text.substr(0, static_cast<std::size_t>(length));
  }
  const Scanner scan(text, xmlscan::CurrentLeadTable());
  const auto n = static_cast<std::uint32_t>(text.size());
  std::string out;
  out.reserve(text.size());
  std::string converted;
  std::uint32_t pos = 0;
  while (pos < n) {
    const std::uint32_t amp = scan.Find('&', pos);
    out.append(text.data() + pos, amp - pos);
    if (amp >= n) break;
    // Up to 9 characters after '&' for the ';'; a non-ASCII byte ends the search.
    char folded[10];
    std::uint32_t k = 0;
    bool closed = false;
    for (; k < 9 && amp + 1 + k < n; ++k) {
      const auto c = static_cast<unsigned char>(text[amp + 1 + k]);
      if (c >= 0x80) break;
      if (c == ';') {
        closed = true;
        break;
      }
      folded[k] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    std::uint32_t cp = 0;
    if (closed && k > 0) {
      const std::string_view name(folded, k);
      if (name[0] == '#') {
        std::size_t d = 1;
        const bool hex = name.size() > 1 && name[1] == 'x';
        if (hex) d = 2;
        for (; d < name.size(); ++d) {
          const char c = name[d];
          int digit;
          if (c >= '0' && c <= '9') {
            digit = c - '0';
          } else if (hex && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
          } else {
            break;
          }
          cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
          if (cp > 0x10FFFF) {
            cp = 0x110000;  // out of range: not a character
            break;
          }
        }
      } else {
        cp = LookUpEntity(name, text.substr(amp + 1, k));
      }
    }
    if (cp && CodePointToSystem(cp, converted)) {
      out += converted;
      pos = amp + k + 2;
    } else {
      out.push_back('&');
      pos = amp + 1;
    }
  }
  return out;
}

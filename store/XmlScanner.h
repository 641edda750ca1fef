// The node scanner of the XML engine, shared by the document parser and the encoding detection.
// Internal to store/: it reads a system-code-page text as a sequence of nodes and never reads
// outside it. A byte that follows a lead byte of the system code page belongs to its character
// and is never taken for markup.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace xmlscan {

enum class NodeKind : std::uint8_t {
  Text,         // character data (whitespace-only or not) up to the next '<'
  StartTag,
  EndTag,
  Comment,
  CData,
  Instruction,  // <? ... ?>
  Doctype,
  Bad,          // a syntax error or a node cut by the end of the text
};

struct Node {
  NodeKind kind = NodeKind::Text;
  std::uint32_t start = 0;    // offset of the node's first character
  std::uint32_t end = 0;      // offset after its last character
  std::uint32_t nameEnd = 0;  // tags: offset after the name
  bool empty = false;         // start tags: written as <x/>
  const char* error = nullptr;  // Bad: the result word
  const char* type = nullptr;   // Bad "unterminated_tag_syntax": the node kind word
  std::uint32_t errorOffset = 0;
};

inline bool IsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The lead bytes of one code page, as a table.
// Byte classes of names: a name runs to whitespace, '/' or '>'; a lead byte takes the next byte.
enum : std::uint8_t { kNameByte = 0, kNameStop = 1, kNameLead = 2 };
// Byte classes inside a start tag, after the name.
enum : std::uint8_t { kTagPlain = 0, kTagClose = 1, kTagEquals = 2, kTagSlash = 3, kTagLead = 4 };

struct LeadTable {
  bool any = false;
  bool lead[256] = {};
  std::uint8_t name[256] = {};  // kName* class of each byte
  std::uint8_t tag[256] = {};   // kTag* class of each byte
};
// The table of the current system code page (cached per thread and code page).
const LeadTable& CurrentLeadTable();

class Scanner {
 public:
  Scanner(std::string_view text, const LeadTable& leads)
      : m_p(reinterpret_cast<const unsigned char*>(text.data())),
        m_n(static_cast<std::uint32_t>(text.size())),
        m_leads(leads.any ? leads.lead : nullptr),
        m_name(leads.name),
        m_tag(leads.tag) {}

  std::uint32_t size() const { return m_n; }
  const unsigned char* data() const { return m_p; }
  bool IsLead(unsigned char c) const { return m_leads && m_leads[c]; }

  // True when the byte at `i` is the second byte of a two-byte character, given that `boundary`
  // (<= i) starts a character. Any byte that is not a lead byte ends a character, so the answer
  // is the parity of the run of lead bytes just before `i`.
  bool IsTrail(std::uint32_t i, std::uint32_t boundary) const {
    if (!m_leads) return false;
    std::uint32_t k = i;
    while (k > boundary && m_leads[m_p[k - 1]]) --k;
    return ((i - k) & 1) != 0;
  }

  // Offset of the first byte `c` at or after `from`, whether or not a character of its own;
  // m_n when none.
  __attribute__((always_inline)) std::uint32_t FindByte(unsigned char c,
                                                        std::uint32_t from) const {
    std::uint32_t i = from;
    // Short runs are the common case between tags: a few bytes first, one at a time.
    for (std::uint32_t k = 0; k < 4 && i < m_n; ++k, ++i) {
      if (m_p[i] == c) return i;
    }
#if defined(__SSE2__)
    const __m128i needle = _mm_set1_epi8(static_cast<char>(c));
    while (i + 16 <= m_n) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m_p + i));
      const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, needle));
      if (mask) return i + static_cast<std::uint32_t>(__builtin_ctz(static_cast<unsigned>(mask)));
      i += 16;
    }
    for (; i < m_n; ++i) {
      if (m_p[i] == c) return i;
    }
    return m_n;
#else
    if (i >= m_n) return m_n;
    const void* hit = std::memchr(m_p + i, c, m_n - i);
    return hit ? static_cast<std::uint32_t>(static_cast<const unsigned char*>(hit) - m_p) : m_n;
#endif
  }

  // Offset of the first `c` at or after `from` that is a character of its own; m_n when none.
  // `from` starts a character.
  __attribute__((always_inline)) std::uint32_t Find(unsigned char c, std::uint32_t from) const {
    std::uint32_t boundary = from;
    while (from < m_n) {
      const std::uint32_t i = FindByte(c, from);
      if (i >= m_n) return m_n;
      if (!m_leads || i == boundary || !m_leads[m_p[i - 1]] || !IsTrail(i, boundary)) {
        return i;
      }
      from = i + 1;
      boundary = from;
    }
    return m_n;
  }

  // Offset after the first `a b '>'` at or after `from` (with `a b` both characters of their
  // own), or 0 when none: the ends "-->", "]]>" and (with a == 0) "?>".
  std::uint32_t FindClose(unsigned char a, unsigned char b, std::uint32_t from) const {
    std::uint32_t at = from;
    const std::uint32_t need = a ? 2 : 1;
    while (at < m_n) {
      const std::uint32_t gt = Find('>', at);
      if (gt >= m_n) return 0;
      if (gt >= from + need && m_p[gt - 1] == b && (!a || m_p[gt - 2] == a) &&
          !IsTrail(gt - need, from)) {
        return gt + 1;
      }
      at = gt + 1;
    }
    return 0;
  }

  // Scans the node that starts at `pos` (< size()).
  void Next(std::uint32_t pos, Node& node) const {
    node.start = pos;
    node.empty = false;
    node.error = nullptr;
    node.type = nullptr;
    if (m_p[pos] != '<') {
      node.kind = NodeKind::Text;
      node.end = Find('<', pos);
      return;
    }
    if (pos + 1 >= m_n) return Unterminated(node, "tag");
    const unsigned char c = m_p[pos + 1];
    if (c > 0x60 || (c >= 'A' && c <= 'Z') || c == '_' || c == ':') return StartTag(node);
    switch (c) {
      case '/': return EndTag(node);
      case '?': {
        const std::uint32_t end = FindClose(0, '?', pos + 2);
        if (!end) return Unterminated(node, "processing_instruction");
        node.kind = NodeKind::Instruction;
        node.end = end;
        return;
      }
      case '!': return Exclamation(node);
      default: return Syntax(node, "first_tag_syntax", pos);
    }
  }

  // Offset after the name of a tag whose name starts at `from`: the first whitespace, '/' or '>'.
  std::uint32_t NameEnd(std::uint32_t from) const {
    std::uint32_t i = from;
    while (i < m_n) {
      const std::uint8_t k = m_name[m_p[i]];
      if (k == kNameByte) {
        ++i;
      } else if (k == kNameLead) {
        i += 2;
      } else {
        return i;
      }
    }
    return m_n;
  }

  // One attribute of a start tag, as offsets into the text.
  struct Attr {
    std::uint32_t nameStart = 0, nameEnd = 0;
    bool hasValue = false;
    std::uint32_t valueStart = 0, valueEnd = 0;  // the value without its quotes
    std::uint32_t outerStart = 0, outerEnd = 0;  // the value with its quotes
  };

  // Walks the attributes between `from` (after the tag name) and `limit` (the closing '>' or
  // "?>"), the same way Next() reads them. Stops at the first attribute named `name` (exactly,
  // or without regard to ASCII case) and answers true; `lastEnd` receives the offset after the
  // last attribute seen.
  bool FindAttribute(std::uint32_t from, std::uint32_t limit, std::string_view name,
                     bool ignoreCase, Attr& attr, std::uint32_t* lastEnd = nullptr) const {
    if (limit > m_n) limit = m_n;
    std::uint32_t i = from;
    if (lastEnd) *lastEnd = from;
    while (i < limit) {
      while (i < limit && IsSpace(m_p[i])) ++i;
      if (i >= limit) break;
      if (m_p[i] == '/') {
        ++i;
        continue;
      }
      attr = Attr{};
      attr.nameStart = i;
      while (i < limit) {
        const unsigned char c = m_p[i];
        if (m_leads && m_leads[c]) {
          i += 2;
          continue;
        }
        if (IsSpace(c) || c == '=' || c == '>' || c == '/') break;
        ++i;
      }
      if (i > limit) i = limit;
      attr.nameEnd = i;
      std::uint32_t j = i;
      while (j < limit && IsSpace(m_p[j])) ++j;
      if (j < limit && m_p[j] == '=') {
        ++j;
        while (j < limit && IsSpace(m_p[j])) ++j;
        attr.hasValue = true;
        attr.outerStart = j;
        if (j < limit && (m_p[j] == '"' || m_p[j] == '\'')) {
          std::uint32_t close = Find(m_p[j], j + 1);
          if (close > limit) close = limit;
          attr.valueStart = j + 1;
          attr.valueEnd = close;
          i = close < limit ? close + 1 : limit;
        } else {
          std::uint32_t k = j;
          while (k < limit) {
            const unsigned char v = m_p[k];
            if (m_leads && m_leads[v]) {
              k += 2;
              continue;
            }
            if (IsSpace(v) || v == '>') break;
            ++k;
          }
          if (k > limit) k = limit;
          attr.valueStart = j;
          attr.valueEnd = k;
          i = k;
        }
        attr.outerEnd = i;
      } else if (i == attr.nameStart) {
        ++i;  // a stray character that cannot start a name: step over it
        continue;
      }
      if (lastEnd) *lastEnd = i;
      if (NameEquals(attr.nameStart, attr.nameEnd, name, ignoreCase)) return true;
    }
    return false;
  }

  // True when the text [from, to) equals `name` (optionally without regard to ASCII case).
  bool NameEquals(std::uint32_t from, std::uint32_t to, std::string_view name,
                  bool ignoreCase) const {
    if (to - from != name.size()) return false;
    if (!ignoreCase) return std::memcmp(m_p + from, name.data(), name.size()) == 0;
    for (std::size_t k = 0; k < name.size(); ++k) {
      unsigned char a = m_p[from + k], b = static_cast<unsigned char>(name[k]);
      if (a >= 'A' && a <= 'Z') a += 32;
      if (b >= 'A' && b <= 'Z') b += 32;
      if (a != b) return false;
    }
    return true;
  }

 private:
  void Unterminated(Node& node, const char* type) const {
    node.kind = NodeKind::Bad;
    node.error = "unterminated_tag_syntax";
    node.type = type;
    node.errorOffset = node.start;
    node.end = m_n;
  }

  // A syntax error at `at`: the node runs to the next '>' (or the end).
  void Syntax(Node& node, const char* word, std::uint32_t at) const {
    node.kind = NodeKind::Bad;
    node.error = word;
    node.errorOffset = at;
    const std::uint32_t gt = Find('>', at + 1 < m_n ? at + 1 : m_n);
    node.end = gt < m_n ? gt + 1 : m_n;
  }

  void StartTag(Node& node) const {
    std::uint32_t i = NameEnd(node.start + 1);
    node.nameEnd = i;
    bool slash = false;  // the last character was a '/' that is no part of a value
    while (i < m_n) {
      std::uint8_t k = m_tag[m_p[i]];
      if (k == kTagPlain) {
        slash = false;
        do {
          ++i;
        } while (i < m_n && (k = m_tag[m_p[i]]) == kTagPlain);
        if (i >= m_n) break;
      }
      if (k == kTagClose) {
        node.kind = NodeKind::StartTag;
        node.end = i + 1;
        node.empty = slash;
        return;
      }
      if (k == kTagSlash) {
        slash = true;
        ++i;
        continue;
      }
      slash = false;
      if (k == kTagLead) {
        i += 2;
        continue;
      }
      // '=': a value, quoted or not.
      ++i;
      while (i < m_n && IsSpace(m_p[i])) ++i;
      if (i >= m_n) break;
      const unsigned char q = m_p[i];
      if (q == '"' || q == '\'') {
        const std::uint32_t close = Find(q, i + 1);
        if (close >= m_n) break;
        i = close + 1;
      } else {
        // An unquoted value runs to whitespace or '>'; a '/' at its end is part of it.
        while (i < m_n) {
          const unsigned char v = m_p[i];
          if (m_leads && m_leads[v]) {
            i += 2;
            continue;
          }
          if (IsSpace(v) || v == '>') break;
          ++i;
        }
      }
    }
    Unterminated(node, "start_tag");
  }

  void EndTag(Node& node) const {
    node.nameEnd = NameEnd(node.start + 2);
    const std::uint32_t gt = Find('>', node.nameEnd < m_n ? node.nameEnd : m_n);
    if (gt >= m_n) return Unterminated(node, "end_tag");
    node.kind = NodeKind::EndTag;
    node.end = gt + 1;
  }

  void Exclamation(Node& node) const {
    const std::uint32_t pos = node.start;
    if (pos + 2 >= m_n) return Unterminated(node, "tag");
    const unsigned char c = m_p[pos + 2];
    if (c == '-') {
      if (pos + 3 >= m_n) return Unterminated(node, "comment");
      if (m_p[pos + 3] != '-') return Syntax(node, "comment_tag_syntax", pos);
      const std::uint32_t end = FindClose('-', '-', pos + 4);
      if (!end) return Unterminated(node, "comment");
      node.kind = NodeKind::Comment;
      node.end = end;
      return;
    }
    if (c == '[') {
      if (pos + 3 >= m_n) return Unterminated(node, "cdata_section");
      if (m_p[pos + 3] != 'C') return Syntax(node, "cdata_section_syntax", pos);
      const std::uint32_t end = FindClose(']', ']', pos + 4);
      if (!end) return Unterminated(node, "cdata_section");
      node.kind = NodeKind::CData;
      node.end = end;
      return;
    }
    if (c == 'D') return Doctype(node);
    Syntax(node, "exclamation_tag_syntax", pos);
  }

  void Doctype(Node& node) const {
    std::uint32_t i = node.start + 3;
    bool subset = false;
    while (i < m_n) {
      const unsigned char c = m_p[i];
      if (m_leads && m_leads[c]) {
        i += 2;
        continue;
      }
      if (c == '[') {
        subset = true;
      } else if (c == ']') {
        subset = false;
      } else if (c == '>' && !subset) {
        node.kind = NodeKind::Doctype;
        node.end = i + 1;
        return;
      } else if (c == '<' && subset && i + 1 < m_n && m_p[i + 1] == '!') {
        if (i + 2 >= m_n) break;
        const unsigned char d = m_p[i + 2];
        std::uint32_t end = 0;
        if (d == '-') {
          end = FindClose('-', '-', i + 4 <= m_n ? i + 4 : m_n);
        } else if (d == 'A' || d == 'E' || d == 'N') {
          const std::uint32_t gt = Find('>', i + 3);
          end = gt < m_n ? gt + 1 : 0;
        } else {
          return Syntax(node, "doctype_tag_syntax", i);
        }
        if (!end) break;
        i = end;
        continue;
      }
      ++i;
    }
    Unterminated(node, "document_type");
  }

  const unsigned char* m_p;
  std::uint32_t m_n;
  const bool* m_leads;
  const std::uint8_t* m_name;
  const std::uint8_t* m_tag;
};

}  // namespace xmlscan

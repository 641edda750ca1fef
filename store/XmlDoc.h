// The one XML engine: a document kept as one system-code-page text, an index of element
// positions into that text, and a cursor (parent, current element, remembered child) that moves
// over the elements. Reading never copies the tree; edits splice the text and shift positions, so
// the text is always the exact serialisation of the document. Nothing here throws.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Whether EscapeText escapes the quote characters too (attribute values).
enum class XmlQuotes { Keep, Escape };
// Whether AddElement lays the document out one element per line (CR LF) or adds no line breaks.
enum class XmlLineBreaks { CrLf, None };

// Document flags kept from the file that was loaded, so that a save writes the same form.
inline constexpr std::uint32_t kXmlFlagUtf16LE = 0x01;
inline constexpr std::uint32_t kXmlFlagUtf8Bom = 0x04;
inline constexpr std::uint32_t kXmlFlagUtf16BE = 0x80;

// Element record flags (low 16 bits: nesting level).
inline constexpr std::uint32_t kXmlElemEmpty = 0x10000;       // written as <x/>
inline constexpr std::uint32_t kXmlElemReleased = 0x20000;    // never set by this engine
inline constexpr std::uint32_t kXmlElemFirstChild = 0x80000;  // first child of its parent
inline constexpr std::uint32_t kXmlElemUnended = 0x100000;    // start tag never ended
inline constexpr std::uint32_t kXmlElemContentError = 0x200000;  // content held a parse error
inline constexpr std::uint32_t kXmlDocIllFormed = 0x800000;   // on record 0 only

// One element record: 32 bytes; record 0 stands for the whole document.
struct XmlElement {
  std::int32_t start;      // offset of the '<' of the start tag
  std::int32_t length;     // start tag through end tag (start tag only when empty/unended)
  std::uint32_t tagLengths;  // start-tag length in the low 22 bits, end-tag length in the high 10
  std::uint32_t flags;     // level and kXmlElem* flags
  std::int32_t parent;     // 0 = top level
  std::int32_t firstChild; // 0 = none
  std::int32_t next;       // next sibling, 0 = none
  std::int32_t prev;       // previous sibling; the first child's points to the last child
};

// Limits of the engine, with the production values as defaults.
struct XmlDocLimits {
  std::size_t resultLogCap = 1000;    // no result is added once the log is this long
  std::uint32_t maxStartTag = 4194303;  // a longer start tag is recorded with this length
  std::uint32_t maxEndTag = 1023;       // a longer end tag is recorded with this length
};

class CXmlDoc {
 public:
  // An empty document: no text, cursor at the top level, flags 0.
  CXmlDoc();
  // construct + SetDocText(text).
  explicit CXmlDoc(std::string_view text);
  ~CXmlDoc();
  CXmlDoc(CXmlDoc&&) noexcept;
  CXmlDoc& operator=(CXmlDoc&&) noexcept;
  CXmlDoc(const CXmlDoc&) = delete;
  CXmlDoc& operator=(const CXmlDoc&) = delete;

  // Clears the result log, replaces the text, parses it and puts the cursor at the top level;
  // answers IsWellFormed().
  bool SetDocText(std::string_view text);
  // The same, taking over the text without a copy.
  bool SetDocText(std::string&& text);
  // The same for a C text; nullptr is an absent text (empty document, element table released).
  bool SetDocText(const char* text);
  // The document text.
  const std::string& GetDocText() const { return m_text; }
  // Diagnostics of the last parse, load or save, as a run of empty elements.
  const std::string& GetResultText() const { return m_result; }

  // Reads a file, converting it to the system code page, and parses it; false when the file
  // cannot be read, else IsWellFormed(). A failed read leaves an empty document.
  bool LoadFile(std::string_view path);
  // Writes the document text in the file's encoding, replacing the file atomically (a failed
  // save leaves the old file whole); false when it cannot be written completely.
  bool SaveFile(std::string_view path, unsigned mode = 0644);

  // True when the text parsed without errors into exactly one top-level element.
  bool IsWellFormed() const;

  // Finds the next element of the current level named `name` ("" = any) and makes it current.
  bool FindElement(std::string_view name = {});
  // Steps into the current element: it becomes the parent, the remembered child becomes current.
  bool IntoElement();
  // Steps out: the parent becomes current and the former current is remembered.
  bool OutOfElement();
  // The next FindElement starts again from the first element of the level.
  bool RewindLevel();

  // Decoded text content of the current element ("" for none, empty or with child elements).
  std::string GetElementData() const;
  // Raw content text of the current element.
  std::string GetInnerMarkup() const;
  // Decoded value of an attribute of the current element ("" when absent).
  std::string GetAttribute(std::string_view name) const;
  // Sets (replaces or appends) an attribute of the current element.
  bool SetAttribute(std::string_view name, std::string_view value);
  // The same with a number in decimal ("%d").
  bool SetAttribute(std::string_view name, int value);
  // Adds an element after the current one (or at the end of the level) and makes it current.
  bool AddElement(std::string_view name, std::string_view data = {},
                  XmlLineBreaks breaks = XmlLineBreaks::CrLf);

  // "<" "&" ">" (and the quotes when asked) as entity references; multi-byte characters whole.
  static std::string EscapeText(std::string_view text, XmlQuotes quotes = XmlQuotes::Keep);
  // Replaces character and entity references by system-code-page characters; references that
  // are unknown or have no character in the code page stay as they are. `length` < 0 = all.
  static std::string UnescapeText(std::string_view text, int length = -1);

  // Tag name of the current element ("" when none).
  std::string GetTagName() const;
  // Document flags (kXmlFlag*), as LoadFile found them and SaveFile honours them.
  std::uint32_t GetDocFlags() const { return m_docFlags; }
  void SetDocFlags(std::uint32_t flags) { m_docFlags = flags; }
  // Read access to the element index: number of records (record 0 included) and one record.
  int GetElementCount() const { return m_nextFree; }
  const XmlElement& GetElement(int index) const;
  // Index of the current element and of the parent (0 = none / top level).
  int GetCurrentIndex() const { return m_current; }
  int GetParentIndex() const { return m_parentPos; }
  // Limits for this document (tests shrink them).
  void SetLimits(const XmlDocLimits& limits) { m_limits = limits; }

 private:
  struct Table;
  friend class CXmlParser;
  friend class CXmlResultLog;

  bool Parse();
  XmlElement& Rec(int index);
  const XmlElement& Rec(int index) const;
  int NewRecord();
  void ResetTable(std::size_t textLength, bool release);
  std::string_view TagNameOf(int index) const;
  void Shift(int insertAt, int delta, int owner);
  bool SpliceCheck(std::size_t addLength) const;
  void Splice(std::size_t at, std::size_t removeLength, std::string_view insert);

  std::string m_text;
  std::string m_result;
  std::int32_t m_parentPos = 0;
  std::int32_t m_current = 0;
  std::int32_t m_child = 0;
  std::int32_t m_nextFree = 1;
  std::int32_t m_deletedHead = 0;
  std::int32_t m_nodeType = 0;
  std::int32_t m_nodeOffset = 0;
  std::int32_t m_nodeLength = 0;
  std::uint32_t m_docFlags = 0;
  std::unique_ptr<Table> m_table;
  XmlDocLimits m_limits;
};

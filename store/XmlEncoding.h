// The file side of the XML engine: the encoding of a file (byte order mark, declared encoding,
// UTF-8 test), the encoding-name table, the conversions between a file's encoding and the system
// code page, and the small UTF-8 / UTF-16 codecs. Results go to the document's result log.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Code page numbers of the encoding-name table; 0 is the system code page.
inline constexpr int kXmlCodePageUnknown = -1;
inline constexpr int kXmlCodePageUtf32 = 65005;  // recognised by name only

// Where a file operation writes its results: appends `<word .../>` entries to a log text.
class CXmlResultLog {
 public:
  explicit CXmlResultLog(std::string& log, std::size_t cap = 1000) : m_log(log), m_cap(cap) {}
  // Appends `<word/>`.
  void Add(std::string_view word);
  // Appends `<word valueName="value"/>`.
  void AddValue(std::string_view word, std::string_view valueName, std::string_view value);
  // Appends `<word numberName="n"/>`.
  void AddNumber(std::string_view word, std::string_view numberName, long long n);
  // Appends `<word [valueName="value"] [numberName="n"] [offset2="n2"]/>`; empty names are left out.
  void AddEntry(std::string_view word, std::string_view valueName, std::string_view value,
                std::string_view numberName, long long n, bool withOffset2 = false,
                long long offset2 = 0);
  // Sets an attribute on the first entry of `word` (appends `<word name="value"/>` when none).
  void SetOnFirst(std::string_view word, std::string_view name, std::string_view value);

 private:
  bool Full() const { return m_log.size() >= m_cap; }
  std::string& m_log;
  std::size_t m_cap;
};

class CXmlEncoding {
 public:
  // Code page of an encoding name: 0 for "", 65005 for a name beginning "UTF-32", -1 unknown.
  static int CodePageOfName(std::string_view name);
  // True when both names are known and stand for different code pages (0 = system code page).
  static bool NeedsConversion(std::string_view from, std::string_view to);
  // Re-encodes text between two encoding names through UTF-16; false when a side is unknown or
  // cannot be converted here. `lossy` says whether a character had no equivalent.
  static bool ConvertText(std::string_view in, std::string_view fromName, std::string_view toName,
                          std::string& out, bool* lossy = nullptr);
  // The encoding a text declares: the XML declaration's "encoding", or an HTML meta charset.
  static std::string GetDeclaredEncoding(std::string_view text);

  // One UTF-8 decode at `pos` (advanced past the sequence); -1 for an invalid or cut sequence.
  // Overlong forms and surrogates are not checked.
  static std::int32_t DecodeUtf8(std::string_view text, std::size_t& pos);
  // One code point as UTF-16 units (1 or 2) into `units`; answers the count.
  static int EncodeUtf16(std::uint32_t codePoint, char16_t units[2]);
  // True when every byte of 0x80 or above starts a sequence that decodes; `sequences` (when
  // given) receives how many such sequences there are.
  static bool IsValidUtf8(std::string_view text, std::size_t* sequences = nullptr);

  // Reads a file into `text` in the system code page; `flags` receives the byte-order-mark flags.
  static bool LoadFile(std::string_view path, std::string& text, std::string& log,
                       std::uint32_t& flags, std::size_t logCap = 1000);
  // Writes `text` in the file's encoding, replacing the file atomically.
  static bool SaveFile(std::string_view path, std::string_view text, std::string& log,
                       std::uint32_t flags, unsigned mode = 0644, std::size_t logCap = 1000);
};

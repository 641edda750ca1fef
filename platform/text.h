// Text in the program is 8-bit in the process-wide system code page (936, GBK, by default).
// These are the conversions between code pages, always through UTF-16, as the system's own
// MultiByteToWideChar / WideCharToMultiByte pair would do them.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Code page numbers with a meaning of their own.
inline constexpr int kCodePageSystem = 0;      // "the system code page", whatever it is now
inline constexpr int kCodePageUtf7 = 65000;
inline constexpr int kCodePageUtf8 = 65001;
inline constexpr int kCodePageUtf16LE = 1200;
inline constexpr int kCodePageUtf16BE = 1201;
inline constexpr int kCodePageDefault = 936;   // the system code page of the program's users

// The system code page (GetACP): 936 unless a test set another one.
int GetSystemCodePage();
// Sets the system code page for the whole process (tests run the engine under 1252 or 65001).
void SetSystemCodePage(int codePage);
// Replaces 0 (the system code page) by the current system code page.
int ResolveCodePage(int codePage);

// True when `byte` starts a two-byte character in the system code page (IsDBCSLeadByte).
bool IsLeadByte(unsigned char byte);
// The same for a given code page (IsDBCSLeadByteEx); single-byte code pages and UTF-8 have none.
bool IsLeadByteEx(int codePage, unsigned char byte);

// The iconv charset of a code page number, or nullptr when this system cannot convert it.
const char* CharsetOfCodePage(int codePage);
// True when text in this code page can be converted here.
bool IsCodePageSupported(int codePage);

// Bytes of `codePage` to UTF-16; bytes that do not decode become U+FFFD. False when the code page
// is not supported (then `out` is empty).
bool MultiByteToWide(int codePage, std::string_view in, std::u16string& out);
// UTF-16 to bytes of `codePage`; characters the code page lacks become '?', and `usedDefault`
// (when given) says whether that happened. False when the code page is not supported.
bool WideToMultiByte(int codePage, std::u16string_view in, std::string& out,
                     bool* usedDefault = nullptr);

// Re-encodes `in` from one code page to another through UTF-16; characters the target lacks
// become '?'. An unsupported code page on either side gives the empty text.
std::string ConvertCodePage(std::string_view in, int from, int to, bool* usedDefault = nullptr);

// ASCII letters lower-cased, every other byte unchanged (protocol names, INI keys, extensions:
// bytes of two-byte characters are never letters A-Z, so they pass through whole).
std::string ToLowerAscii(std::string_view in);
// True when the texts are equal with ASCII letters compared without regard to case.
bool EqualsNoCaseAscii(std::string_view a, std::string_view b);

// Shorthands for the boundaries: system code page <-> UTF-8.
std::string SystemToUtf8(std::string_view in);
std::string Utf8ToSystem(std::string_view in);

}  // namespace platform

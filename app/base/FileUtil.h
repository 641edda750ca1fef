// File, version and text helpers shared by every subsystem. They keep no state of their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CFileUtil {
 public:
  // Full path of the running program file.
  static std::string GetModulePath();
  // The program file's folder, without the last separator and what follows it.
  static std::string GetModuleFolder();
  // True when the file system reports a status for the path.
  static bool FileExists(std::string_view path);
  // The file's bytes unchanged; false when it cannot be opened.
  static bool ReadWholeFile(std::string_view path, std::string& text);
  // Replaces the file with the text's bytes; false on any failure.
  static bool WriteWholeFile(std::string_view path, std::string_view text);
  // The file's length in bytes, 0 when it cannot be opened.
  static std::uint64_t GetFileLength(std::string_view path);
  // The integer of `key` in the "Version" section of Version.ini, 0 when missing or no number.
  static int GetComponentVersion(std::string_view key);
  // Writes `key` = n (decimal) into the "Version" section of Version.ini.
  static bool SetComponentVersion(std::string_view key, int n);

  // Re-encodes text (up to its first zero byte) from one code page to another; 0 is the system
  // code page. Characters the target lacks become the default character.
  static std::string ConvertCodePage(std::string_view text, int fromCodePage, int toCodePage);
  // Percent-encodes every byte but A-Z a-z 0-9 @ * _ - . as "%XX" (upper-case hex).
  static std::string UrlEncode(std::string_view bytes);
  // Base64 with "()" in place of "+/" and "-" as padding (the stored user name's form).
  static std::string EncodeNameBase64(std::string_view text);
  // Standard Base64 (RFC 4648, "=" padding).
  static std::string EncodeBase64(std::string_view text);
  // The parts of `text` between separators, after a separator is appended; a text that begins
  // with the separator gives no parts.
  static std::vector<std::string> SplitTerminated(std::string_view text,
                                                  std::string_view separator);
  // A browser-cache copy of a URL's resource; this platform keeps none, so always empty.
  static std::string GetUrlCacheFile(std::string_view url);
};

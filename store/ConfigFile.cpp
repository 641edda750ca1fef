#include "store/ConfigFile.h"

#include "app/base/FileUtil.h"
#include "store/XmlDoc.h"

namespace {

constexpr char kRoot[] = "Config";

// Keys become attribute names: a key that is no name would make the whole file unreadable, and
// the next change would then lose every setting.
bool IsKeyName(std::string_view key) {
  if (key.empty()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(key[i]);
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    const bool other = (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (!letter && !(i > 0 && other)) return false;
  }
  return true;
}

}  // namespace

CConfigFile& CConfigFile::Instance() {
  // Never destroyed: download workers may still use it while the process ends.
  static CConfigFile* const config = new CConfigFile();
  return *config;
}

std::string CConfigFile::FilePath() const {
  return m_path ? *m_path : CAppPaths::Instance().ConfigFile;
}

std::string CConfigFile::GetConfigValue(std::string_view key) {
  const std::string path = FilePath();
  if (path.empty()) return std::string();
  CXmlDoc doc;
  doc.LoadFile(path);  // a file that is not well formed may still hold the element
  if (!doc.FindElement(kRoot)) return std::string();
  return std::string(doc.GetAttribute(key));
}

bool CConfigFile::SetConfigValue(std::string_view key, std::string_view value) {
  const std::string path = FilePath();
  if (path.empty() || !IsKeyName(key)) return false;
  std::lock_guard<std::mutex> hold(m_lock);
  if (CFileUtil::FileExists(path)) {
    CXmlDoc doc;
    doc.LoadFile(path);
    if (doc.FindElement(kRoot)) {
      doc.SetAttribute(key, value);
      // The engine replaces the file atomically: a crash mid-save leaves the old settings whole.
      return doc.SaveFile(path);
    }
  }
  // No file, or none that holds the settings element: a new file with this key alone.
  CXmlDoc doc;
  doc.SetDocText(kDeclaration);
  doc.AddElement(kRoot);
  doc.SetAttribute(key, value);
  return doc.SaveFile(path) && CFileUtil::FileExists(path);
}

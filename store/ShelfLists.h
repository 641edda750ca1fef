// The local bookshelf: four ordered lists of shared shelf records (the magazines and books on the
// shelf and the recently read ones), each stored in its own booklist file and written back after
// every change. One lock guards every list change, lookup and save, because download workers and
// the user-interface thread use the lists at once.
#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "store/MagInfo.h"

// Where a new record goes in its list.
enum class InsertAt { Back, Front };

// The four list files.
struct ShelfFiles {
  std::string book;      // BookShelf.xml
  std::string mag;       // MagShelf.xml
  std::string bookRead;  // BookNewRead.xml
  std::string magRead;   // MagNewRead.xml
};

// Limits of the lists.
struct ShelfListsTunables {
  std::size_t recentReadLimit = 100;  // records kept in a recent-read list, newest first
};

class CShelfLists {
 public:
  // The one instance of the process; its files are the application paths' list files.
  static CShelfLists& Instance();

  // Lists whose files are taken from the application paths at every load and save.
  explicit CShelfLists(ShelfListsTunables tunables = {});
  // Lists stored in the given files (tests, tools).
  explicit CShelfLists(ShelfFiles files, ShelfListsTunables tunables = {});
  virtual ~CShelfLists() = default;
  CShelfLists(const CShelfLists&) = delete;
  CShelfLists& operator=(const CShelfLists&) = delete;

  // Replaces the four lists by the contents of their files; a missing file gives an empty list.
  void LoadAllLists();
  // Writes the list of "book", "mag", "book_read", "mag_read", or all four for "all"; false
  // when a file could not be replaced (the old file then stays whole) or the key is unknown.
  bool SaveList(std::string_view key);
  // A copy of the key's list; the records stay alive while the copy holds them. Empty for an
  // unknown key.
  MagList GetList(std::string_view key) const;
  // The first record of the key's list with this pid (exact), or null.
  MagInfoPtr FindRecord(std::string_view key, std::string_view pid) const;
  // Whether FindRecord finds one.
  bool HasRecord(std::string_view key, std::string_view pid) const;
  // Adds the record and saves the list; false when its pid is already listed, the record is
  // null or the key unknown.
  bool AddRecord(const MagInfoPtr& record, std::string_view key, InsertAt where);
  // Merges a booklist text at the front of the key's list (a recent-read list is then cut) and
  // saves it when a record was added; the last record added, or null.
  MagInfoPtr AddFromBooklistXml(std::string_view text, std::string_view key);
  // Removes the pid from the shelf list and the recent-read list the key names and saves them.
  bool DeleteRecord(std::string_view key, std::string_view pid);
  // Puts the record at the front of the recent-read list of its type, once, and saves it.
  bool AddRecentRead(const MagInfoPtr& record);
  // The first record waiting to be started, magazines before books, or null.
  MagInfoPtr FindFirstStopped() const;
  // The distinct sort ids of the "book" or "mag" list, each followed by ",".
  std::string GetSortIdList(std::string_view key) const;
  // Holds the lists' lock; hold it while changing fields of a shared record so that no save
  // reads a half-written field. The lock is recursive: the holder may call every operation, but
  // must not wait for another thread (a synchronous send to the window) while holding it.
  std::unique_lock<std::recursive_mutex> LockLists() const;

  // Parses a booklist text into `list`: records without pid, with a pid already listed, or
  // complete with their file gone are dropped; unfinished ones become waiting. The last record
  // added, or null.
  static MagInfoPtr ParseBooklistXml(std::string_view text, MagList& list, InsertAt where);
  // The booklist text of a list.
  static std::string WriteBooklistXml(const MagList& list);

 private:
  enum ListId : std::size_t { kBook, kMag, kBookRead, kMagRead, kListCount };

  static std::optional<ListId> ListOfKey(std::string_view key);
  std::string FileOf(ListId id) const;
  bool SaveListLocked(ListId id);
  void CutRecentList(ListId id);

  mutable std::recursive_mutex m_lock;
  std::array<MagList, kListCount> m_lists;
  std::optional<ShelfFiles> m_files;
  ShelfListsTunables m_tunables;
};

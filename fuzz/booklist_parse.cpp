// Booklist texts come from the store's server and from list files: parsing never fails hard, and
// what was read is written so that it reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "store/ShelfLists.h"

namespace {

bool SameRecord(const CMagInfo& a, const CMagInfo& b) {
  return a.id == b.id && a.pid == b.pid && a.sort_id == b.sort_id && a.class_id == b.class_id &&
         a.brand_id == b.brand_id && a.feature == b.feature && a.name == b.name &&
         a.date == b.date && a.isFullSwf == b.isFullSwf && a.price == b.price &&
         a.exe_size == b.exe_size && a.load_url == b.load_url && a.pic1 == b.pic1 &&
         a.s_pic == b.s_pic && a.description == b.description && a.rec_content == b.rec_content &&
         a.add_time == b.add_time && a.filelen == b.filelen && a.downlen == b.downlen &&
         a.down == b.down && a.type == b.type && a.savepath == b.savepath;
}

// Writes the list and reads it back.
MagList RoundTrip(const MagList& list) {
  MagList back;
  CShelfLists::ParseBooklistXml(CShelfLists::WriteBooklistXml(list), back, InsertAt::Back);
  return back;
}

void ExpectSame(const MagList& a, const MagList& b) {
  if (a.size() != b.size()) std::abort();
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!SameRecord(*a[i], *b[i])) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // GBK, the code page of the program's users. A text may hold bytes that are no GBK character
  // (a lead byte before markup); the writer replaces those once, and from then on every write
  // reads back the same.
  platform::SetSystemCodePage(936);
  MagList gbk;
  CShelfLists::ParseBooklistXml(text, gbk, InsertAt::Back);
  const MagList once = RoundTrip(gbk);
  ExpectSame(once, RoundTrip(once));

  // A single-byte code page, where every byte sequence is a text: every value reads back as it
  // was read.
  platform::SetSystemCodePage(1252);
  MagList first;
  CShelfLists::ParseBooklistXml(text, first, InsertAt::Back);
  ExpectSame(first, RoundTrip(first));
  platform::SetSystemCodePage(936);
  return 0;
}

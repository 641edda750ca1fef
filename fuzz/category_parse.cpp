// Category replies come from the store's server: parsing never fails hard, under GBK and with
// the UTF-8 conversion that reading a category file does first.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/base/FileUtil.h"
#include "platform/text.h"
#include "store/SortInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  platform::SetSystemCodePage(936);
  ParseCategoryXml(text);
  ParseCategoryXml(
      CFileUtil::ConvertCodePage(text, platform::kCodePageUtf8, platform::kCodePageSystem));
  return 0;
}

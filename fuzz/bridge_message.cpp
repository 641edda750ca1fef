// The page bridge's and the automation socket's JSON reader, and the trust rule for page
// addresses: whatever a page or a client sends must be parsed or refused without harm, and
// every text the reader gives back must survive being written and read again.
#include "platform/common/Json.h"
#include "platform/common/UiCommon.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void CheckRoundTrip(const platform::json::Value& value) {
  using Kind = platform::json::Value::Kind;
  if (value.kind == Kind::String) {
    platform::json::Value again;
    if (!platform::json::Parse(platform::json::Quote(value.text), again).ok ||
        again.text != value.text)
      std::abort();
  }
  for (const auto& item : value.items) CheckRoundTrip(item);
  for (const auto& [key, item] : value.fields) CheckRoundTrip(item);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  platform::json::Value value;
  const platform::json::ParseResult result = platform::json::Parse(input, value);
  if (result.offset > input.size()) std::abort();
  if (result.ok) CheckRoundTrip(value);
  platform::ui_common::OriginOf(input);
  platform::ui_common::IsTrustedUrl(input, {"http://127.0.0.1:8180", "file:///data/"});
  return 0;
}

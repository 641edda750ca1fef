// Small helpers shared by the local library store tests.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "store/MagInfo.h"
#include "tests/support/TestSupport.h"

namespace storetest {

// A record with the given pid and type and a few typical fields.
inline MagInfoPtr MakeRecord(std::string_view pid, std::string_view type = "mag",
                             std::string_view sortId = "7") {
  auto r = std::make_shared<CMagInfo>();
  r->id = "r" + std::string(pid);
  r->pid = pid;
  r->sort_id = sortId;
  r->name = "Issue " + std::string(pid);
  r->type = type;
  r->down = kDownWaiting;
  return r;
}

// A fixture file of tests/store/golden.
inline std::string GoldenPath(std::string_view name) {
  return testsupport::SourceDir() + "/tests/store/golden/" + std::string(name);
}
inline std::string Golden(std::string_view name) {
  return testsupport::ReadFileOrDie(GoldenPath(name));
}

}  // namespace storetest

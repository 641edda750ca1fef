// Request bytes through the server's state machine and reply building, split into packets at
// places chosen by the first input byte, against the memory namespace (no disk is touched).
#include "content/HttpServer.h"
#include "content/MyMemFile.h"

#include <cstddef>
#include <cstdint>

namespace {

CMyMemFile& Store() {
  static CMyMemFile store;
  static bool filled = false;
  if (!filled) {
    store.AddOwnedFile(IssueFolder("mag", "55435") + u"stream", "<XML/>");
    store.AddOwnedFile(IssueFolder("mag", "55435") + u"view1.html", std::string(3000, 'v'));
    filled = true;
  }
  return store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static CServerContext context = [] {
    ServerSettings s;
    s.bufferPreset = 4096;
    s.maxHeaderBytes = 8192;
    s.maxBodyBytes = 8192;
    return CServerContext::Make(s, &Store());
  }();
  const std::size_t step = 1 + data[0] % 17;
  CMyRequestSocket socket(context, platform::listen::kInvalidSocket, nullptr, 0);
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  std::size_t left = size - 1;
  while (left > 0 && socket.state() != RequestState::Done) {
    const std::size_t n = left < step ? left : step;
    if (!socket.ProcessReceived(bytes, n)) return 0;
    bytes += n;
    left -= n;
  }
  if (socket.state() == RequestState::Done) {
    socket.BuildResponse();
    const std::string_view reply = socket.PendingOutput();
    if (!reply.empty() && reply.substr(0, 9) != "HTTP/1.0 ") __builtin_trap();
  }
  return 0;
}

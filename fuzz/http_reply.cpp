// Arbitrary reply bytes through the whole client: header reading and parsing, redirects and
// cookies, chunked decoding and the body paths of Request and Download. The reply is fed through
// a local socket pair in place of a connection; every attempt gets the same bytes.
#include "net/MyHttp.h"

#include "platform/socket.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// A pair whose far end already holds the reply and has ended its sending side.
platform::Socket PreparedConnection(const std::string& reply) {
  platform::Socket near = platform::kInvalidSocket, far = platform::kInvalidSocket;
  if (!platform::SocketPair(near, far)) return platform::kInvalidSocket;
  if (platform::SendAll(far, reply, 1000) < 0) {
    platform::CloseSocket(near);
    platform::CloseSocket(far);
    return platform::kInvalidSocket;
  }
  platform::ShutdownSend(far);
  // The far end must stay open for the request to be sent; it goes when the client is done.
  // Earlier attempts have closed their near ends by now.
  static std::vector<platform::Socket> farEnds;
  if (farEnds.size() >= 64) {
    for (platform::Socket s : farEnds) platform::CloseSocket(s);
    farEnds.clear();
  }
  farEnds.push_back(far);
  return near;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 65536) return 0;
  const unsigned mode = data[0];
  const std::string reply(reinterpret_cast<const char*>(data) + 1, size - 1);

  // The parsers on their own, over exactly the bytes given.
  ParseResponseHead(reply);
  std::string body(reply);
  DecodeChunked(body);
  SplitUrl(reply.substr(0, 2048));

  HttpTunables tunables;
  tunables.receiveIdleTimeoutMs = 1000;
  tunables.progressDelayMs = 0;
  tunables.bodyPieceSize = (mode & 2) ? 7 : 1024;
  CMyHttp http(tunables);
  http.SetConnector([&](const UrlParts&) { return PreparedConnection(reply); });
  if (mode & 4) http.SetResumeOffset(100);
  if (mode & 1) {
    http.SetProgressCallback([](void*, int, int) {}, nullptr);
    http.Download("http://fuzz.test/a.exe", "", 0, "", "/dev/null");
  } else {
    std::string response;
    http.Request("http://fuzz.test/a", "", 0, "", response);
  }
  return 0;
}

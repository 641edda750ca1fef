#include "tests/content/ContentTestUtil.h"

#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace contenttest {
namespace {

void Put16(std::string& s, std::size_t at, std::uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  Put16(s, at, static_cast<std::uint16_t>(v & 0xFFFF));
  Put16(s, at + 2, static_cast<std::uint16_t>(v >> 16));
}

}  // namespace

std::string PackTool() { return testsupport::BinaryDir() + "/tools/muravel-pack/muravel-pack"; }

int RunPack(const std::vector<std::string>& args) {
  std::vector<std::string> argv{PackTool()};
  argv.insert(argv.end(), args.begin(), args.end());
  testsupport::ChildProcess child;
  if (!child.Start(argv)) return -1;
  return child.Wait(std::chrono::seconds(60));
}

std::string FixtureIssueFolder() {
  return testsupport::SourceDir() + "/tests/content/fixtures/issue";
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string BuildPe(PeKind kind, const std::vector<PeResource>& resources,
                    const std::string& typeName) {
  const bool plus = kind == PeKind::Pe32Plus;
  const std::uint32_t rsrcRva = 0x1000;
  // The resource section: root -> type -> id -> language -> data entry.
  std::map<std::uint32_t, std::vector<const PeResource*>> byId;
  for (const PeResource& r : resources) byId[r.id].push_back(&r);
  std::size_t at = 16 + 8;                        // root with one named type
  const std::size_t typeDir = at;
  at += 16 + 8 * byId.size();
  std::map<std::uint32_t, std::size_t> langDir;
  for (const auto& [id, list] : byId) {
    langDir[id] = at;
    at += 16 + 8 * list.size();
  }
  std::map<const PeResource*, std::size_t> leaf;
  for (const PeResource& r : resources) {
    leaf[&r] = at;
    at += 16;
  }
  const std::size_t nameAt = at;
  at += 2 + 2 * typeName.size();
  std::map<const PeResource*, std::size_t> blob;
  for (const PeResource& r : resources) {
    at = (at + 3) & ~std::size_t(3);
    blob[&r] = at;
    at += r.data.size();
  }
  std::string rsrc(at, '\0');
  Put16(rsrc, 12, 1);  // one named entry
  Put32(rsrc, 16, 0x80000000u | static_cast<std::uint32_t>(nameAt));
  Put32(rsrc, 20, 0x80000000u | static_cast<std::uint32_t>(typeDir));
  Put16(rsrc, typeDir + 14, static_cast<std::uint16_t>(byId.size()));
  std::size_t i = 0;
  for (const auto& [id, list] : byId) {
    Put32(rsrc, typeDir + 16 + 8 * i, id);
    Put32(rsrc, typeDir + 20 + 8 * i, 0x80000000u | static_cast<std::uint32_t>(langDir[id]));
    Put16(rsrc, langDir[id] + 14, static_cast<std::uint16_t>(list.size()));
    for (std::size_t j = 0; j < list.size(); ++j) {
      Put32(rsrc, langDir[id] + 16 + 8 * j, list[j]->language);
      Put32(rsrc, langDir[id] + 20 + 8 * j, static_cast<std::uint32_t>(leaf[list[j]]));
    }
    ++i;
  }
  for (const PeResource& r : resources) {
    Put32(rsrc, leaf[&r], rsrcRva + static_cast<std::uint32_t>(blob[&r]));
    Put32(rsrc, leaf[&r] + 4, static_cast<std::uint32_t>(r.data.size()));
    std::memcpy(&rsrc[blob[&r]], r.data.data(), r.data.size());
  }
  Put16(rsrc, nameAt, static_cast<std::uint16_t>(typeName.size()));
  for (std::size_t k = 0; k < typeName.size(); ++k) {
    Put16(rsrc, nameAt + 2 + 2 * k, static_cast<unsigned char>(typeName[k]));
  }

  const std::size_t optionalSize = plus ? 240 : 224;
  std::string file(kPeRsrcFileOffset, '\0');
  file[0] = 'M';
  file[1] = 'Z';
  Put32(file, 0x3C, 0x40);
  std::memcpy(&file[0x40], "PE\0\0", 4);
  const std::size_t coff = 0x44;
  Put16(file, coff, plus ? 0x8664 : 0x14C);
  Put16(file, coff + 2, 1);
  Put16(file, coff + 16, static_cast<std::uint16_t>(optionalSize));
  const std::size_t opt = coff + 20;
  Put16(file, opt, plus ? 0x20B : 0x10B);
  Put32(file, opt + (plus ? 108 : 92), 16);
  const std::size_t dirs = opt + (plus ? 112 : 96);
  Put32(file, dirs + 16, rsrcRva);
  Put32(file, dirs + 20, static_cast<std::uint32_t>(rsrc.size()));
  const std::size_t section = opt + optionalSize;
  std::memcpy(&file[section], ".rsrc", 5);
  Put32(file, section + 8, static_cast<std::uint32_t>(rsrc.size()));
  Put32(file, section + 12, rsrcRva);
  Put32(file, section + 16, static_cast<std::uint32_t>(rsrc.size()));
  Put32(file, section + 20, kPeRsrcFileOffset);
  return file + rsrc;
}

std::string Exchange(int port, const std::vector<std::string>& pieces,
                     std::chrono::milliseconds pause, std::chrono::milliseconds timeout) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return std::string();
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(s);
    return std::string();
  }
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i && pause.count()) std::this_thread::sleep_for(pause);
    ::send(s, pieces[i].data(), pieces[i].size(), MSG_NOSIGNAL);
  }
  std::string out;
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[65536];
    const ssize_t n = ::recv(s, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(s);
  return out;
}

std::string Get(int port, const std::string& request) { return Exchange(port, {request}); }

std::string StatusLine(const std::string& reply) { return reply.substr(0, reply.find("\r\n")); }

std::string Header(const std::string& reply, const std::string& name) {
  const std::string head = reply.substr(0, reply.find("\r\n\r\n"));
  const std::string key = "\r\n" + name + ": ";
  const std::size_t at = head.find(key);
  if (at == std::string::npos) return std::string();
  const std::size_t start = at + key.size();
  return head.substr(start, head.find("\r\n", start) - start);
}

std::string Body(const std::string& reply) {
  const std::size_t at = reply.find("\r\n\r\n");
  return at == std::string::npos ? std::string() : reply.substr(at + 4);
}

}  // namespace contenttest

// Helpers of the content tests: the real muravel-pack, hand-made PE files, raw HTTP exchanges.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace contenttest {

// The muravel-pack program of this build.
std::string PackTool();
// Runs muravel-pack with `args`; its exit code (-1 when it did not end within 60 s).
int RunPack(const std::vector<std::string>& args);
// The fixture folder of an issue.
std::string FixtureIssueFolder();
// The file's bytes, or empty.
std::string ReadAll(const std::string& path);

// One resource of a hand-made PE file.
struct PeResource {
  std::uint32_t id;
  std::uint16_t language;
  std::string data;
};
// The layout choice of a hand-made PE file.
enum class PeKind { Pe32, Pe32Plus };
// A minimal PE file with one ".rsrc" section holding `resources` under the type `typeName`.
std::string BuildPe(PeKind kind, const std::vector<PeResource>& resources,
                    const std::string& typeName = "MYDATA");
// Offsets inside a BuildPe file, for damaging it on purpose.
inline constexpr std::size_t kPeRsrcFileOffset = 0x200;

// Connects to 127.0.0.1:port, sends the pieces one by one (pausing `pause` between them), and
// reads until the server closes (at most `timeout`). The bytes received.
std::string Exchange(int port, const std::vector<std::string>& pieces,
                     std::chrono::milliseconds pause = std::chrono::milliseconds(0),
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
// One request text sent whole.
std::string Get(int port, const std::string& request);
// The status line of a reply.
std::string StatusLine(const std::string& reply);
// The value of a header of a reply (case-sensitive name), empty when absent.
std::string Header(const std::string& reply, const std::string& name);
// The body of a reply (after the first empty line).
std::string Body(const std::string& reply);

}  // namespace contenttest

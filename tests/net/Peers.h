// Peers of other makes for the client's tests: the Python test server and nginx, each started
// on a free loopback port and stopped when the object ends.
#pragma once

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

namespace nettest {

// Byte i of every body the Python peer makes up.
inline std::string Pattern(std::size_t n, std::size_t start = 0) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((start + i) % 256);
  return s;
}

// tests/peers/http_peer.py on a free port.
class PythonPeer {
 public:
  PythonPeer() {
    m_port = testsupport::FreeLoopbackPort();
    m_ok = m_child.Start({"python3", testsupport::SourceDir() + "/tests/peers/http_peer.py",
                          "--port", std::to_string(m_port)}) &&
           testsupport::WaitForPort(m_port, std::chrono::seconds(10));
  }
  bool ok() const { return m_ok; }
  int port() const { return m_port; }
  // "http://127.0.0.1:PORT" + path.
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
  }

 private:
  testsupport::ChildProcess m_child;
  int m_port = 0;
  bool m_ok = false;
};

// nginx from PATH, else where Debian puts it (ordinary users' PATH lacks /usr/sbin).
inline std::string NginxProgram() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  for (std::size_t from = 0; from <= dirs.size();) {
    std::size_t colon = dirs.find(':', from);
    if (colon == std::string::npos) colon = dirs.size();
    const std::string candidate = dirs.substr(from, colon - from) + "/nginx";
    if (colon > from && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    from = colon + 1;
  }
  return "/usr/sbin/nginx";
}

// nginx serving `root` on a free port, with its configuration and logs in a folder of its own.
class NginxPeer {
 public:
  explicit NginxPeer(const std::string& root) {
    m_port = testsupport::FreeLoopbackPort();
    const std::string d = m_dir.path();
    testsupport::WriteFileOrDie(
        m_dir / "nginx.conf",
        "daemon off;\nmaster_process off;\nworker_processes 1;\nerror_log " + d +
            "/error.log;\npid " + d + "/nginx.pid;\nevents { worker_connections 64; }\n"
            "http {\n  access_log off;\n  default_type application/octet-stream;\n"
            "  client_body_temp_path " + d + "/body;\n  proxy_temp_path " + d + "/proxy;\n"
            "  fastcgi_temp_path " + d + "/fastcgi;\n  uwsgi_temp_path " + d + "/uwsgi;\n"
            "  scgi_temp_path " + d + "/scgi;\n"
            "  server { listen 127.0.0.1:" + std::to_string(m_port) + "; root " + root +
            "; }\n}\n");
    m_ok = m_child.Start({NginxProgram(), "-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log"}) &&
           testsupport::WaitForPort(m_port, std::chrono::seconds(10));
  }
  bool ok() const { return m_ok; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
  }

 private:
  testsupport::TempDir m_dir;
  testsupport::ChildProcess m_child;
  int m_port = 0;
  bool m_ok = false;
};

}  // namespace nettest

#include "content/MyMemFile.h"

#include "net/MyHttp.h"

bool RunServerSelfTest(int port) {
  CMyHttp http;
  std::string body;
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/test_http/";
  return http.Request(url, "", 0, "", body) == HTTP_OK && body == "<HTTP_OK>";
}

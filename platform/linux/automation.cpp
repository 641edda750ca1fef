// The automation socket of the desktop tests: when MURAVEL_AUTOMATION names a socket path, the
// program accepts JSON lines there and answers each with one JSON line. Requests ("cmd"):
//   views                                  the live views (index, id, url, visible)
//   eval {view, script}                    runs script in a view, answers its value
//   call {view, name, args}                calls a page function (CallScript)
//   send {message, wparam, lparam}         sends a message to the main window
//   bridgelog {view}                       the view's last native calls
//   click {x, y}                           a left click at a client point of the main window
//   screenshot {path}                      a PNG of the main window as the screen shows it
// Without the variable nothing of this exists.
#include "platform/common/Json.h"
#include "platform/linux/GtkUi.h"
#include "platform/text.h"
#include "platform/webview.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <thread>

namespace platform::gtk_ui {
namespace {

constexpr std::size_t kMaxLine = 1 << 20;

std::string Error(const std::string& why) { return "{\"ok\":false,\"error\":" + json::Quote(why) + "}"; }

ui::WebView* ViewAt(const json::Value& request) {
  const std::vector<ui::WebView*> views = ui::AllWebViews();
  const double index = request["view"].number;
  if (request["view"].kind != json::Value::Kind::Number || index < 0 ||
      index >= static_cast<double>(views.size()))
    return nullptr;
  return views[static_cast<std::size_t>(index)];
}

// Runs one request on the user-interface thread.
std::string Handle(const json::Value& request) {
  const std::string cmd = request["cmd"].text;
  if (cmd == "views") {
    std::string out = "{\"ok\":true,\"views\":[";
    const std::vector<ui::WebView*> views = ui::AllWebViews();
    for (std::size_t i = 0; i < views.size(); ++i) {
      if (i) out += ",";
      out += "{\"index\":" + std::to_string(i) + ",\"id\":" + std::to_string(views[i]->Id()) +
             ",\"url\":" + json::Quote(SystemToUtf8(views[i]->GetUrl())) +
             ",\"visible\":" + (views[i]->IsVisible() ? "true" : "false") + "}";
    }
    return out + "]}";
  }
  if (cmd == "eval" || cmd == "call") {
    ui::WebView* view = ViewAt(request);
    if (!view) return Error("no such view");
    std::string result;
    bool ok;
    if (cmd == "eval") {
      ok = view->EvaluateScript(Utf8ToSystem(request["script"].text), &result);
    } else {
      std::vector<std::string> args;
      for (const json::Value& a : request["args"].items) args.push_back(Utf8ToSystem(a.AsText()));
      ok = view->CallScript(Utf8ToSystem(request["name"].text), args, &result);
    }
    return std::string("{\"ok\":") + (ok ? "true" : "false") +
           ",\"result\":" + json::Quote(SystemToUtf8(result)) + "}";
  }
  if (cmd == "bridgelog") {
    ui::WebView* view = ViewAt(request);
    if (!view) return Error("no such view");
    std::string out = "{\"ok\":true,\"calls\":[";
    bool first = true;
    for (const ui::BridgeCall& call : view->BridgeLog()) {
      std::vector<std::string> args;
      for (const std::string& a : call.args) args.push_back(SystemToUtf8(a));
      out += (first ? "" : ",");
      first = false;
      out += "{\"method\":" + json::Quote(SystemToUtf8(call.method)) +
             ",\"args\":" + json::QuoteList(args) +
             ",\"result\":" + (call.result ? "true" : "false") + "}";
    }
    return out + "]}";
  }
  ui::Window* main = MainWindow();
  if (!main) return Error("no main window");
  if (cmd == "send") {
    const std::intptr_t result = ui::SendMessage(
        main, static_cast<unsigned>(request["message"].number),
        static_cast<std::uintptr_t>(request["wparam"].number),
        static_cast<std::intptr_t>(request["lparam"].number));
    return "{\"ok\":true,\"result\":" + std::to_string(result) + "}";
  }
  if (cmd == "click") {
    ClickAt(*main, static_cast<int>(request["x"].number), static_cast<int>(request["y"].number));
    return "{\"ok\":true}";
  }
  if (cmd == "screenshot") {
    const std::string path = request["path"].text;
    if (path.empty()) return Error("no path");
    const bool ok = ui::SaveScreenshot(*main, Utf8ToSystem(path));
    return ok ? "{\"ok\":true}" : Error("screenshot failed");
  }
  return Error("unknown command");
}

void ServeClient(int fd) {
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      json::Value request;
      std::string answer;
      if (!json::Parse(line, request).ok || request.kind != json::Value::Kind::Object)
        answer = Error("not a JSON object");
      else
        ui::InvokeOnUiThread([&] { answer = Handle(request); });
      answer += "\n";
      if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) return;
    }
    if (pending.size() > kMaxLine) break;  // a line that never ends is dropped with its client
  }
}

}  // namespace

void StartAutomation() {
  const char* path = std::getenv("MURAVEL_AUTOMATION");
  if (!path || !*path) return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof address.sun_path) return;
  std::strcpy(address.sun_path, path);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  // A socket left by an earlier run is replaced; any other file at the path is kept.
  struct stat info;
  if (::lstat(path, &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) {
      ::close(fd);
      return;
    }
    ::unlink(path);
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 4) != 0) {
    ::close(fd);
    return;
  }
  // The server lives as long as the process; each client is served in turn.
  std::thread([fd] {
    for (;;) {
      const int client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) {
        if (errno == EINTR) continue;
        return;
      }
      ServeClient(client);
      ::close(client);
    }
  }).detach();
}

}  // namespace platform::gtk_ui

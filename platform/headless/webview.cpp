// Scriptable views: the page is a set of C++ functions that tests define, navigation completes
// through the loop as a browser's would, and the page's native calls follow the same rules as
// the desktop bridge (trusted pages only, script calls queued during a call and replayed).
#include "platform/common/UiCommon.h"
#include "platform/headless/headless.h"

#include <deque>
#include <map>
#include <mutex>

namespace platform {
namespace {

std::mutex g_failLock;
std::vector<std::string> g_failingPrefixes;

class HeadlessView final : public ui::WebView {
 public:
  HeadlessView(ui::Window& parent, ui::WebViewOptions options)
      : m_options(std::move(options)), m_visible(m_options.visible) {
    ui_common::RegisterView(this);
  }
  ~HeadlessView() override {
    *m_alive = false;
    ui_common::UnregisterView(this);
  }

  int Id() const override { return m_options.id; }

  void Navigate(std::string_view url) override {
    m_pending = std::string(url);
    bool fails = false;
    {
      std::lock_guard<std::mutex> hold(g_failLock);
      for (const std::string& prefix : g_failingPrefixes)
        if (m_pending.rfind(prefix, 0) == 0) fails = true;
    }
    std::shared_ptr<bool> alive = m_alive;
    std::string target = m_pending;
    ui::PostToUiThread([this, alive, target, fails] {
      if (!*alive || target != m_pending) return;  // replaced by a later navigation
      if (fails) {
        if (m_options.events.navigateError) m_options.events.navigateError(target);
        return;
      }
      m_url = target;
      m_hasDocument = true;
      if (m_options.events.documentComplete) m_options.events.documentComplete(target);
    });
  }
  std::string GetUrl() const override { return m_url; }
  bool HasDocument() const override { return m_hasDocument; }

  bool CallScript(std::string_view name, const std::vector<std::string>& args,
                  std::string* result) override {
    if (!m_hasDocument && m_inCall == 0) return false;
    if (m_inCall > 0) {
      m_queued.push_back({std::string(name), args});
      if (result) result->clear();
      return true;
    }
    return RunPageFunction(std::string(name), args, result);
  }
  bool EvaluateScript(std::string_view script, std::string* result) override {
    // A headless page has no script engine; a bare function name with no arguments runs it.
    return CallScript(script, {}, result);
  }
  void SetRect(const ui::Rect& rect) override { m_options.rect = rect; }
  ui::Rect GetRect() const override { return m_options.rect; }
  void Show(bool visible) override { m_visible = visible; }
  bool IsVisible() const override { return m_visible; }
  void SendKey(std::uintptr_t virtualKey) override { m_keys.push_back(virtualKey); }
  std::vector<ui::BridgeCall> BridgeLog() const override { return m_log; }

  void LoadMovie(std::string_view url) override { Navigate(url); }
  std::string CallFunction(std::string_view request) override {
    std::string reply;
    CallScript("CallFunction", {std::string(request)}, &reply);
    return reply;
  }
  void SetReturnValue(std::string_view value) override {
    if (m_inCall > 0) m_returnValue = std::string(value);
  }

  void SetFunction(const std::string& name, headless::PageFunction fn) {
    m_functions[name] = std::move(fn);
  }

  std::optional<bool> PageCallsNative(const std::string& method,
                                      const std::vector<std::string>& args) {
    if (!m_hasDocument || !ui_common::IsTrustedUrl(m_url, m_options.trustedOrigins))
      return std::nullopt;
    const ui::NativeMethod* found = nullptr;
    for (const ui::NativeMethod& m : m_options.methods)
      if (m.name == method) found = &m;
    if (!found) return std::nullopt;
    std::shared_ptr<bool> alive = m_alive;
    ++m_inCall;
    const bool result = found->call(args);
    if (!*alive) return result;
    --m_inCall;
    ui_common::AppendBridgeLog(m_log, {method, args, result});
    ReplayQueued();
    return result;
  }

  std::optional<std::string> MovieCalls(const std::string& request) {
    if (!m_hasDocument || m_options.kind != ui::ViewKind::Movie ||
        !ui_common::IsTrustedUrl(m_url, m_options.trustedOrigins))
      return std::nullopt;
    std::shared_ptr<bool> alive = m_alive;
    ++m_inCall;
    m_returnValue.reset();
    if (m_options.events.flashCall) m_options.events.flashCall(request);
    if (!*alive) return std::string();
    --m_inCall;
    std::optional<std::string> value = m_returnValue;
    m_returnValue.reset();
    ui_common::AppendBridgeLog(m_log, {"FlashCall", {request}, true});
    ReplayQueued();
    return value.value_or(std::string());
  }

 private:
  struct Queued {
    std::string name;
    std::vector<std::string> args;
  };

  bool RunPageFunction(const std::string& name, const std::vector<std::string>& args,
                       std::string* result) {
    auto it = m_functions.find(name);
    if (it == m_functions.end()) return false;
    std::optional<std::string> value = it->second(args);
    if (!value) return false;
    if (result) *result = *value;
    return true;
  }

  void ReplayQueued() {
    if (m_inCall > 0) return;
    while (!m_queued.empty()) {
      Queued next = std::move(m_queued.front());
      m_queued.pop_front();
      RunPageFunction(next.name, next.args, nullptr);
    }
  }

  ui::WebViewOptions m_options;
  bool m_visible;
  bool m_hasDocument = false;
  std::string m_url;
  std::string m_pending;
  int m_inCall = 0;
  std::deque<Queued> m_queued;
  std::optional<std::string> m_returnValue;
  std::map<std::string, headless::PageFunction> m_functions;
  std::vector<ui::BridgeCall> m_log;
  std::vector<std::uintptr_t> m_keys;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

HeadlessView* Find(ui::WebView* view) {
  for (ui::WebView* v : ui::AllWebViews())
    if (v == view) return static_cast<HeadlessView*>(v);
  return nullptr;
}

}  // namespace

namespace ui {

std::unique_ptr<WebView> CreateWebView(Window& parent, WebViewOptions options) {
  return std::make_unique<HeadlessView>(parent, std::move(options));
}

}  // namespace ui

namespace headless {

void SetPageFunction(ui::WebView* view, const std::string& name, PageFunction function) {
  ui::InvokeOnUiThread([&] {
    if (HeadlessView* v = Find(view)) v->SetFunction(name, std::move(function));
  });
}

void FailNavigationsTo(const std::string& prefix) {
  std::lock_guard<std::mutex> hold(g_failLock);
  g_failingPrefixes.push_back(prefix);
}

std::optional<bool> CallNative(ui::WebView* view, const std::string& method,
                               const std::vector<std::string>& args) {
  std::optional<bool> out;
  ui::InvokeOnUiThread([&] {
    if (HeadlessView* v = Find(view)) out = v->PageCallsNative(method, args);
  });
  return out;
}

std::optional<std::string> FlashCall(ui::WebView* view, const std::string& request) {
  std::optional<std::string> out;
  ui::InvokeOnUiThread([&] {
    if (HeadlessView* v = Find(view)) out = v->MovieCalls(request);
  });
  return out;
}

}  // namespace headless
}  // namespace platform

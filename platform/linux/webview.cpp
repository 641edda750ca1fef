// Web views on WebKitGTK. The page bridge: a script injected at document start in the top frame
// of trusted pages asks the view for the page's token and defines `window.external` as a Proxy
// whose methods send {token, method, arguments} through a prompt() that the view catches in
// "script-dialog" and answers at once,
// so that the page gets the native boolean synchronously. Script calls the native side makes
// into that same page during the call cannot run (its web process waits for the answer); they
// travel back in the answer and the bridge runs them, in order, before the call returns.
#include "platform/common/Json.h"
#include "platform/common/UiCommon.h"
#include "platform/linux/GtkUi.h"
#include "platform/text.h"
#include "platform/webview.h"

#include <webkit2/webkit2.h>

#include <deque>
#include <optional>
#include <random>

namespace platform {
namespace {

constexpr std::string_view kBridgeMark = "\x01muravel-bridge\x01";

// The bridge script; its markers are replaced per view.
constexpr std::string_view kBridgeScript = R"JS((function () {
  "use strict";
  var trusted = @TRUSTED@, mark = @MARK@;
  var here = String(location.href), origin = String(location.origin).toLowerCase();
  var ok = trusted.some(function (t) {
    if (t.indexOf("file://") === 0) {
      var folder = t.charAt(t.length - 1) === "/" ? t : t + "/";
      return here.length > folder.length && here.indexOf(folder) === 0 &&
             here.indexOf("/../") < 0 && !/%2e/i.test(here);
    }
    return t.toLowerCase().replace(/:80$/, "").replace(/^(https:.*):443$/, "$1") === origin;
  });
  if (!ok) return;
  var ask = window.prompt.bind(window), parse = JSON.parse, text = JSON.stringify;
  // The page's token: the view hands it out once per document, to the first asker, which is
  // this script at the start of the top frame's document; frames asking later get nothing.
  var token = ask(mark + text({hello: 1}));
  if (typeof token !== "string" || token === "") return;
  function call(method, args) {
    var list = [];
    for (var i = 0; i < args.length; ++i)
      list.push(args[i] === undefined || args[i] === null ? "" : String(args[i]));
    var reply = ask(mark + text({t: token, m: method, a: list}));
    if (reply === null) throw new TypeError("window.external." + method + " is not available");
    var answer = parse(reply);
    var queued = answer.q || [];
    for (var k = 0; k < queued.length; ++k) {
      try {
        var f = window[queued[k].f];
        if (typeof f === "function") f.apply(window, queued[k].a);
      } catch (e) {}
    }
    if (answer.e) throw new TypeError("window.external." + method + " is not a function");
    return answer.v;
  }
  var methods = Object.create(null);
  var external = new Proxy({}, {
    get: function (target, name) {
      if (typeof name !== "string" || name === "then" || name === "toJSON") return undefined;
      if (!methods[name]) methods[name] = function () { return call(name, arguments); };
      return methods[name];
    },
    set: function () { return false; },
    has: function (target, name) { return typeof name === "string"; }
  });
  Object.defineProperty(window, "external",
                        {value: external, writable: false, configurable: false});
})();)JS";

// Runs a page function by name with arguments given as one JSON text.
constexpr const char* kCallBody =
    "var f = window[n]; if (typeof f !== 'function') return {ok: false};"
    "var r = f.apply(window, JSON.parse(a));"
    "return {ok: true, v: (r === undefined || r === null) ? '' : String(r)};";

constexpr const char* kEvalBody =
    "var r = (0, eval)(s); return (r === undefined || r === null) ? '' : String(r);";

std::string NewToken() {
  std::random_device device;
  static const char* hex = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 32; ++i) token += hex[device() % 16];
  return token;
}

std::string Replace(std::string text, std::string_view marker, const std::string& value) {
  const std::size_t at = text.find(marker);
  if (at != std::string::npos) text.replace(at, marker.size(), value);
  return text;
}

std::string ToUri(std::string_view url) {
  const std::string utf8 = SystemToUtf8(url);
  if (!utf8.empty() && utf8[0] == '/') {
    gchar* uri = g_filename_to_uri(utf8.c_str(), nullptr, nullptr);
    std::string out = uri ? uri : utf8;
    g_free(uri);
    return out;
  }
  return utf8;
}

struct ScriptCall {
  bool finished = false;
  bool ok = false;
  std::string value;
};

class GtkView final : public ui::WebView {
 public:
  GtkView(ui::Window& parent, ui::WebViewOptions options)
      : m_parent(&parent), m_options(std::move(options)) {
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    std::vector<std::string> trusted;
    for (const std::string& t : m_options.trustedOrigins) trusted.push_back(SystemToUtf8(t));
    std::string script(kBridgeScript);
    script = Replace(script, "@TRUSTED@", json::QuoteList(trusted));
    script = Replace(script, "@MARK@", json::Quote(kBridgeMark));
    WebKitUserScript* user = webkit_user_script_new(
        script.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
        nullptr, nullptr);
    webkit_user_content_manager_add_script(content, user);
    webkit_user_script_unref(user);
    m_view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(content));
    g_object_unref(content);
    g_object_ref_sink(m_view);
    WebKitSettings* settings = webkit_web_view_get_settings(m_view);
    webkit_settings_set_enable_javascript(settings, TRUE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
    // The program's own pages are files that fetch their pictures and ask the store's server.
    webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
    webkit_settings_set_allow_universal_access_from_file_urls(settings, TRUE);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_hardware_acceleration_policy(settings,
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    g_signal_connect(m_view, "script-dialog", G_CALLBACK(&GtkView::OnScriptDialog), this);
    g_signal_connect(m_view, "context-menu", G_CALLBACK(&GtkView::OnContextMenu), this);
    g_signal_connect(m_view, "load-changed", G_CALLBACK(&GtkView::OnLoadChanged), this);
    g_signal_connect(m_view, "load-failed", G_CALLBACK(&GtkView::OnLoadFailed), this);
    GtkWidget* widget = GTK_WIDGET(m_view);
    const ui::Rect& r = m_options.rect;
    gtk_widget_set_size_request(widget, std::max(r.Width(), 0), std::max(r.Height(), 0));
    gtk_layout_put(GTK_LAYOUT(gtk_ui::ContainerOf(parent)), widget, r.left, r.top);
    if (m_options.visible) gtk_widget_show(widget);
    ui_common::RegisterView(this);
  }

  ~GtkView() override {
    *m_alive = false;
    ui_common::UnregisterView(this);
    g_signal_handlers_disconnect_by_data(m_view, this);
    if (ui::IsWindow(m_parent)) gtk_widget_destroy(GTK_WIDGET(m_view));
    g_object_unref(m_view);
  }

  int Id() const override { return m_options.id; }

  void Navigate(std::string_view url) override {
    webkit_web_view_load_uri(m_view, ToUri(url).c_str());
  }
  std::string GetUrl() const override {
    const gchar* uri = webkit_web_view_get_uri(m_view);
    return uri ? Utf8ToSystem(uri) : std::string();
  }
  bool HasDocument() const override { return m_hasDocument; }

  bool CallScript(std::string_view name, const std::vector<std::string>& args,
                  std::string* result) override {
    std::vector<std::string> utf8;
    for (const std::string& a : args) utf8.push_back(SystemToUtf8(a));
    // A page inside a native call has a document even before it completes (onload calls).
    if (!m_hasDocument && m_inCall == 0) return false;
    if (m_inCall > 0) {
      // The page waits inside this view's native call: the bridge runs it before returning.
      m_queued.push_back("{\"f\":" + json::Quote(SystemToUtf8(name)) +
                         ",\"a\":" + json::QuoteList(utf8) + "}");
      if (result) result->clear();
      return true;
    }
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&builder, "{sv}", "n",
                          g_variant_new_string(SystemToUtf8(name).c_str()));
    g_variant_builder_add(&builder, "{sv}", "a",
                          g_variant_new_string(json::QuoteList(utf8).c_str()));
    return RunFunction(kCallBody, g_variant_builder_end(&builder), result, true);
  }

  bool EvaluateScript(std::string_view script, std::string* result) override {
    if (!m_hasDocument || m_inCall > 0) return false;
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&builder, "{sv}", "s",
                          g_variant_new_string(SystemToUtf8(script).c_str()));
    return RunFunction(kEvalBody, g_variant_builder_end(&builder), result, false);
  }

  void SetRect(const ui::Rect& rect) override {
    m_options.rect = rect;
    GtkWidget* widget = GTK_WIDGET(m_view);
    gtk_layout_move(GTK_LAYOUT(gtk_ui::ContainerOf(*m_parent)), widget, rect.left, rect.top);
    gtk_widget_set_size_request(widget, std::max(rect.Width(), 0), std::max(rect.Height(), 0));
  }
  ui::Rect GetRect() const override { return m_options.rect; }
  void Show(bool visible) override {
    if (visible) gtk_widget_show(GTK_WIDGET(m_view));
    else gtk_widget_hide(GTK_WIDGET(m_view));
  }
  bool IsVisible() const override { return gtk_widget_get_visible(GTK_WIDGET(m_view)); }

  void SendKey(std::uintptr_t virtualKey) override {
    GtkWidget* widget = GTK_WIDGET(m_view);
    GdkWindow* window = gtk_widget_get_window(widget);
    if (!window) return;
    const guint keyval = virtualKey == ui::kKeyReturn   ? GDK_KEY_Return
                         : virtualKey == ui::kKeyEscape ? GDK_KEY_Escape
                                                        : static_cast<guint>(virtualKey);
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
      GdkEvent* event = gdk_event_new(type);
      event->key.window = GDK_WINDOW(g_object_ref(window));
      event->key.keyval = keyval;
      event->key.time = GDK_CURRENT_TIME;
      GdkKeymapKey* keys = nullptr;
      gint count = 0;
      if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()),
                                            keyval, &keys, &count) && count > 0)
        event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
      g_free(keys);
      GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
      if (seat) gdk_event_set_device(event, gdk_seat_get_keyboard(seat));
      gtk_widget_grab_focus(widget);
      gtk_widget_event(widget, event);
      gdk_event_free(event);
    }
  }

  std::vector<ui::BridgeCall> BridgeLog() const override { return m_log; }

  void LoadMovie(std::string_view url) override { Navigate(url); }
  std::string CallFunction(std::string_view request) override {
    std::string reply;
    CallScript("CallFunction", {std::string(request)}, &reply);
    return reply;
  }
  void SetReturnValue(std::string_view value) override {
    if (m_inCall > 0) m_returnValue = SystemToUtf8(value);
  }

 private:
  bool RunFunction(const char* body, GVariant* arguments, std::string* result, bool wrapped) {
    auto* call = new std::shared_ptr<ScriptCall>(std::make_shared<ScriptCall>());
    std::shared_ptr<ScriptCall> state = *call;
    GCancellable* cancel = g_cancellable_new();
    webkit_web_view_call_async_javascript_function(
        m_view, body, -1, arguments, nullptr, nullptr, cancel,
        wrapped ? &GtkView::OnCallDone : &GtkView::OnEvalDone, call);
    ui::PumpUntil([&] { return state->finished; }, m_options.tunables.scriptTimeout);
    if (!state->finished) g_cancellable_cancel(cancel);
    g_object_unref(cancel);
    if (!state->finished || !state->ok) return false;
    if (result) *result = Utf8ToSystem(state->value);
    return true;
  }

  static void Finish(GObject* source, GAsyncResult* res, gpointer data, bool wrapped) {
    auto* call = static_cast<std::shared_ptr<ScriptCall>*>(data);
    ScriptCall& state = **call;
    GError* error = nullptr;
    JSCValue* value =
        webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), res, &error);
    if (value) {
      if (wrapped) {
        JSCValue* ok = jsc_value_object_get_property(value, "ok");
        state.ok = ok && jsc_value_to_boolean(ok);
        if (ok) g_object_unref(ok);
        if (state.ok) {
          JSCValue* v = jsc_value_object_get_property(value, "v");
          if (v) {
            gchar* text = jsc_value_to_string(v);
            state.value = text ? text : "";
            g_free(text);
            g_object_unref(v);
          }
        }
      } else {
        state.ok = true;
        gchar* text = jsc_value_to_string(value);
        state.value = text ? text : "";
        g_free(text);
      }
      g_object_unref(value);
    }
    if (error) g_error_free(error);
    state.finished = true;
    delete call;
  }
  static void OnCallDone(GObject* source, GAsyncResult* res, gpointer data) {
    Finish(source, res, data, true);
  }
  static void OnEvalDone(GObject* source, GAsyncResult* res, gpointer data) {
    Finish(source, res, data, false);
  }

  // The answer to one bridge message: the native value, the queued calls, or an error.
  std::string Bridge(const std::string& message) {
    json::Value request;
    if (!json::Parse(message, request).ok || request.kind != json::Value::Kind::Object)
      return {};
    const gchar* uri = webkit_web_view_get_uri(m_view);
    if (!uri || !ui_common::IsTrustedUrl(Utf8ToSystem(uri), m_options.trustedOrigins)) return {};
    if (request["hello"].kind != json::Value::Kind::Null) {
      if (m_tokenIssued) return {};
      m_tokenIssued = true;
      m_token = NewToken();
      return m_token;
    }
    if (m_token.empty() || request["t"].text != m_token) return {};
    const std::string method = Utf8ToSystem(request["m"].text);
    ui::NativeArgs args;
    for (const json::Value& a : request["a"].items) args.push_back(Utf8ToSystem(a.AsText()));

    std::shared_ptr<bool> alive = m_alive;
    std::string value = "null";
    bool known = false;
    ++m_inCall;
    if (m_options.kind == ui::ViewKind::Movie && method == "FlashCall") {
      known = true;
      std::optional<std::string> saved = std::move(m_returnValue);
      m_returnValue.reset();
      if (m_options.events.flashCall) m_options.events.flashCall(args.empty() ? "" : args[0]);
      if (!*alive) return "{\"v\":null}";
      if (m_returnValue) value = json::Quote(*m_returnValue);
      m_returnValue = std::move(saved);
      ui_common::AppendBridgeLog(m_log, {method, args, true});
    } else {
      for (const ui::NativeMethod& m : m_options.methods) {
        if (m.name != method) continue;
        known = true;
        const bool result = m.call(args);
        if (!*alive) return "{\"v\":false}";
        value = result ? "true" : "false";
        ui_common::AppendBridgeLog(m_log, {method, args, result});
        break;
      }
    }
    --m_inCall;
    std::string queued = "[";
    // Only the outermost call hands the queue over (a page cannot call while it waits, but a
    // native method that runs a modal loop may see another call of the same view).
    if (m_inCall == 0) {
      for (std::size_t i = 0; i < m_queued.size(); ++i) {
        if (i) queued += ",";
        queued += m_queued[i];
      }
      m_queued.clear();
    }
    queued += "]";
    if (!known) return "{\"e\":1,\"q\":" + queued + "}";
    return "{\"v\":" + value + ",\"q\":" + queued + "}";
  }

  static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, GtkView* self) {
    const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
    const std::string message = webkit_script_dialog_get_message(dialog);
    if (type == WEBKIT_SCRIPT_DIALOG_PROMPT && message.rfind(kBridgeMark, 0) == 0) {
      const std::string reply = self->Bridge(message.substr(kBridgeMark.size()));
      // An empty answer leaves the prompt cancelled: the page sees null and gets no bridge.
      if (!reply.empty()) webkit_script_dialog_prompt_set_text(dialog, reply.c_str());
      return TRUE;
    }
    const std::string text = Utf8ToSystem(message);
    switch (type) {
      case WEBKIT_SCRIPT_DIALOG_ALERT:
        if (self->m_options.events.scriptDialog)
          self->m_options.events.scriptDialog(text, ui::MessageBoxKind::Ok);
        else
          ui::ShowMessageBox(text, self->m_options.title, ui::MessageBoxKind::Ok);
        return TRUE;
      case WEBKIT_SCRIPT_DIALOG_CONFIRM: {
        bool yes;
        if (self->m_options.events.scriptDialog)
          yes = self->m_options.events.scriptDialog(text, ui::MessageBoxKind::YesNo);
        else
          yes = ui::ShowMessageBox(text, self->m_options.title, ui::MessageBoxKind::YesNo) ==
                ui::MessageBoxAnswer::Yes;
        webkit_script_dialog_confirm_set_confirmed(dialog, yes);
        return TRUE;
      }
      case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
        return TRUE;
      default:
        return TRUE;  // other prompts answer null
    }
  }

  static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                                WebKitHitTestResult*, GtkView*) {
    return TRUE;  // no context menu anywhere
  }

  static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, GtkView* self) {
    if (event == WEBKIT_LOAD_STARTED) self->m_failed = false;
    if (event == WEBKIT_LOAD_COMMITTED) {
      // A new document: the old page's token dies with it, the new page may ask for one.
      self->m_token.clear();
      self->m_tokenIssued = false;
    }
    if (event != WEBKIT_LOAD_FINISHED || self->m_failed) return;
    self->m_hasDocument = true;
    if (self->m_options.events.documentComplete) self->m_options.events.documentComplete(self->GetUrl());
  }

  static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                               GtkView* self) {
    if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
        g_error_matches(error, WEBKIT_POLICY_ERROR,
                        WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE))
      return FALSE;
    self->m_failed = true;
    // Reported after the failed load has finished, so that the handler may navigate again.
    std::shared_ptr<bool> alive = self->m_alive;
    const std::string url = Utf8ToSystem(uri ? uri : "");
    ui::PostToUiThread([self, alive, url] {
      if (*alive && self->m_options.events.navigateError) self->m_options.events.navigateError(url);
    });
    return TRUE;  // no error page of the engine's own
  }

  ui::Window* m_parent;
  ui::WebViewOptions m_options;
  std::string m_token;         // of the current document; empty before it asked
  bool m_tokenIssued = false;  // the current document had its token
  WebKitWebView* m_view = nullptr;
  bool m_hasDocument = false;
  bool m_failed = false;
  int m_inCall = 0;
  std::deque<std::string> m_queued;
  std::optional<std::string> m_returnValue;
  std::vector<ui::BridgeCall> m_log;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace

namespace ui {

std::unique_ptr<WebView> CreateWebView(Window& parent, WebViewOptions options) {
  if (!IsUiThread()) return nullptr;
  return std::make_unique<GtkView>(parent, std::move(options));
}

}  // namespace ui
}  // namespace platform

// Embedded web views. A page reaches the program through `window.external`: every method of the
// view's native table is callable by name, synchronously, and answers a boolean. The program
// calls page functions by name with string arguments (CallScript). A movie view is the reader's
// player: the page's `window.external.FlashCall(request)` reaches the FlashCall event and answers
// the return value the handler set; CallFunction calls the page's `CallFunction(request)`.
// Texts are system-code-page bytes; the views convert to and from UTF-8 at the page.
#pragma once

#include "platform/ui.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::ui {

// The arguments of a native method, as the page passed them (missing ones are empty texts).
using NativeArgs = std::vector<std::string>;

// One method of a view's native table.
struct NativeMethod {
  std::string name;
  std::function<bool(const NativeArgs& args)> call;
};

// What a view is for: a page view, or the reader's movie player.
enum class ViewKind { Page, Movie };

// Tunables of a view.
struct WebViewTunables {
  // Longest wait of CallScript for the page function to end.
  std::chrono::milliseconds scriptTimeout{5000};
};

// What happens in the view, reported on the user-interface thread.
struct WebViewEvents {
  // A top-level document finished loading.
  std::function<void(const std::string& url)> documentComplete;
  // A navigation failed (not for a cancelled one); the handler usually shows an error page.
  std::function<void(const std::string& url)> navigateError;
  // Movie views: the movie's request; the handler may call SetReturnValue.
  std::function<void(const std::string& request)> flashCall;
  // Page message boxes (alert, confirm). When unset the view shows a message box titled with
  // the view's title; when set, it answers true for OK.
  std::function<bool(const std::string& text, MessageBoxKind kind)> scriptDialog;
};

// How a view is made.
struct WebViewOptions {
  Rect rect;                  // in the parent's client area
  int id = 0;                 // control id (the caller's own use)
  ViewKind kind = ViewKind::Page;
  std::string title = "Nivora";   // caption of the page's message boxes
  // Pages that get `window.external`: an origin ("http://127.0.0.1:8180") matches pages of that
  // origin, a "file:///folder/" prefix matches the files under it. Other pages get none.
  std::vector<std::string> trustedOrigins;
  std::vector<NativeMethod> methods;
  WebViewEvents events;
  WebViewTunables tunables;
  bool visible = true;
};

// One bridge call as the view saw it (for diagnostics and automation).
struct BridgeCall {
  std::string method;
  NativeArgs args;
  bool result = false;
};

// An embedded browser, a child of a window. User-interface thread only.
class WebView {
 public:
  virtual ~WebView() = default;
  virtual int Id() const = 0;
  // Starts loading `url` (system code page; a plain path is taken as a file).
  virtual void Navigate(std::string_view url) = 0;
  // The address of the current top-level document (empty before the first).
  virtual std::string GetUrl() const = 0;
  // Whether a document completed since the view was made.
  virtual bool HasDocument() const = 0;
  // Calls the page function `name` with string arguments. False when there is no document, no
  // such function, or it failed or timed out; `result` (when given) gets its answer as text.
  // While the page is inside a call of this view's native method the page cannot run script;
  // the call is then queued and runs, in order, before the native call returns to the page.
  virtual bool CallScript(std::string_view name, const std::vector<std::string>& args,
                          std::string* result = nullptr) = 0;
  // Runs a piece of script in the page and answers its value as text; false on error.
  virtual bool EvaluateScript(std::string_view script, std::string* result = nullptr) = 0;
  virtual void SetRect(const Rect& rect) = 0;
  virtual Rect GetRect() const = 0;
  virtual void Show(bool visible) = 0;
  virtual bool IsVisible() const = 0;
  // Gives the page a key press (kKeyReturn...).
  virtual void SendKey(std::uintptr_t virtualKey) = 0;
  // The last native calls of the page, oldest first (at most 200 kept).
  virtual std::vector<BridgeCall> BridgeLog() const = 0;

  // Movie views: loads the movie `url` (the layer is always 0).
  virtual void LoadMovie(std::string_view url) = 0;
  // Movie views: calls the movie with an invoke request and answers its reply text.
  virtual std::string CallFunction(std::string_view request) = 0;
  // Movie views: the value the current FlashCall answers to the movie.
  virtual void SetReturnValue(std::string_view value) = 0;
};

// Creates a view in `parent`. Null when the platform has no browser.
std::unique_ptr<WebView> CreateWebView(Window& parent, WebViewOptions options);

// Every live view, in creation order (automation and tests).
std::vector<WebView*> AllWebViews();

}  // namespace platform::ui

// Controls of the headless backend, for tests: a user-interface loop on a thread of its own,
// what the scripted user answers, what the program showed, and pages made of C++ functions.
#pragma once

#include "platform/surface.h"
#include "platform/ui.h"
#include "platform/webview.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace platform::headless {

// Runs the user-interface loop on a thread of its own while the object lives; windows and views
// are made there (through ui::InvokeOnUiThread). The end stops the loop and joins the thread.
class UiThread {
 public:
  UiThread();
  ~UiThread();
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;

 private:
  std::thread m_thread;
};

// One message box the program showed.
struct ShownMessageBox {
  std::string text;
  std::string caption;
  ui::MessageBoxKind kind;
};

// The answers the next message boxes get, in order; when the script runs out, an OK box is
// answered Ok and a Yes/No box No.
void ScriptMessageBoxAnswers(std::vector<ui::MessageBoxAnswer> answers);
// The message boxes shown since the last call, oldest first.
std::vector<ShownMessageBox> TakeShownMessageBoxes();

// The folder the next folder choosers answer (empty: cancelled).
void ScriptFolderChoice(std::string folder);
// The command the next popup menus choose (0: closed without a choice).
void ScriptMenuChoice(int command);
// Addresses opened in the browser and paths shown in the file manager since the last call.
std::vector<std::string> TakeOpenedUrls();
std::vector<std::string> TakeShownFiles();

// Sets where the pointer is (screen coordinates).
void SetCursorPos(ui::Point point);
// Makes `window`'s top-level the active window (the previous one gets kMsgActivate 0).
void Activate(ui::Window* window);
// Paints `window` into a new surface of its client size (its kMsgPaint) and answers it.
std::unique_ptr<Surface> RenderWindow(ui::Window& window);

// The tray icon as the program set it up.
struct TrayState {
  bool present = false;
  std::string tip;
  std::string iconPath;
  std::vector<ui::MenuItem> menu;
};
TrayState GetTrayState();
// The user activates the icon / chooses a menu command (sent to the owner, answered).
std::intptr_t ActivateTray();
std::intptr_t ChooseTrayCommand(int command);

// A page function: answers the function's value, or nothing when it throws.
using PageFunction = std::function<std::optional<std::string>(const std::vector<std::string>&)>;
// Defines a function of the page shown in `view` (kept across navigations).
void SetPageFunction(ui::WebView* view, const std::string& name, PageFunction function);
// Navigations to addresses starting with `prefix` fail (the view reports navigateError).
void FailNavigationsTo(const std::string& prefix);
// The page calls `window.external[method](args...)`: answers the native result, or nothing
// when the page has no bridge (untrusted page, no document) or the table has no such method.
// Script calls queued during the call run before it returns, as they would in a browser.
std::optional<bool> CallNative(ui::WebView* view, const std::string& method,
                               const std::vector<std::string>& args);
// The movie calls `window.external.FlashCall(request)`: answers the return value set.
std::optional<std::string> FlashCall(ui::WebView* view, const std::string& request);

}  // namespace platform::headless

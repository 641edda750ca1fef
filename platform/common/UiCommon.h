// What both backends share behind ui.h and webview.h: the register of live windows and views,
// message sending on top of the backend's loop, the trust rule of the page bridge.
// Backend-private: only platform/ includes it.
#pragma once

#include "platform/ui.h"
#include "platform/webview.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform::ui_common {

// Every window registers itself while it lives (IsWindow, SendMessage to a dead window).
void RegisterWindow(ui::Window* window);
void UnregisterWindow(ui::Window* window);
// The backend's delivery of a message to a window's handler, on the user-interface thread.
void DeliverOnUiThread(ui::Window* window, unsigned message, std::uintptr_t wParam,
                       std::intptr_t lParam, std::intptr_t* result);

// Every view registers itself while it lives (AllWebViews).
void RegisterView(ui::WebView* view);
void UnregisterView(ui::WebView* view);

// A tray tip cut to 127 characters (whole characters of the system code page).
std::string CutTip(std::string_view tip);

// Whether a page at `url` may use the bridge: its origin is one of `trusted`, or it lies under
// one of the "file:///" folders there.
bool IsTrustedUrl(std::string_view url, const std::vector<std::string>& trusted);
// The "scheme://host[:port]" of an http(s) address, lower case; empty for anything else.
std::string OriginOf(std::string_view url);

// Keeps the last bridge calls of a view.
void AppendBridgeLog(std::vector<ui::BridgeCall>& log, ui::BridgeCall call);

}  // namespace platform::ui_common

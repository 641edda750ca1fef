#include "platform/common/UiCommon.h"
#include "platform/text.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>
#include <set>

namespace platform {
namespace {

constexpr std::size_t kBridgeLogSize = 200;
constexpr std::size_t kTipBytes = 127;

std::mutex g_lock;
std::set<const ui::Window*> g_windows;
std::vector<ui::WebView*> g_views;

bool Alive(const ui::Window* window) {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_windows.count(window) != 0;
}

}  // namespace

namespace ui_common {

void RegisterWindow(ui::Window* window) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_windows.insert(window);
}

void UnregisterWindow(ui::Window* window) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_windows.erase(window);
}

void RegisterView(ui::WebView* view) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_views.push_back(view);
}

void UnregisterView(ui::WebView* view) {
  std::lock_guard<std::mutex> hold(g_lock);
  std::erase(g_views, view);
}

std::string CutTip(std::string_view tip) {
  std::size_t end = 0;
  while (end < tip.size()) {
    const std::size_t step =
        (IsLeadByte(static_cast<unsigned char>(tip[end])) && end + 1 < tip.size()) ? 2 : 1;
    if (end + step > kTipBytes) break;
    end += step;
  }
  return std::string(tip.substr(0, end));
}

std::string OriginOf(std::string_view url) {
  std::string lower;
  for (char c : url.substr(0, 8)) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::size_t start;
  if (lower.rfind("http://", 0) == 0) start = 7;
  else if (lower.rfind("https://", 0) == 0) start = 8;
  else return {};
  std::size_t end = url.find_first_of("/?#", start);
  if (end == std::string_view::npos) end = url.size();
  std::string_view authority = url.substr(start, end - start);
  // User information before the host is no part of the origin.
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority = authority.substr(at + 1);
  if (authority.empty()) return {};
  std::string origin(url.substr(0, start));
  for (char c : authority) origin += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : origin) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // The default port is the same origin as no port.
  if (start == 7 && origin.size() > 3 && origin.ends_with(":80")) origin.resize(origin.size() - 3);
  if (start == 8 && origin.size() > 4 && origin.ends_with(":443")) origin.resize(origin.size() - 4);
  return origin;
}

bool IsTrustedUrl(std::string_view url, const std::vector<std::string>& trusted) {
  const std::string origin = OriginOf(url);
  for (const std::string& entry : trusted) {
    if (entry.rfind("file://", 0) == 0) {
      // A folder prefix: the page must lie under it, and ".." may not climb out of it.
      std::string folder = entry;
      if (!folder.ends_with("/")) folder += "/";
      if (url.size() > folder.size() && url.substr(0, folder.size()) == folder &&
          url.find("/../") == std::string_view::npos && url.find("%2e") == std::string_view::npos &&
          url.find("%2E") == std::string_view::npos)
        return true;
    } else if (!origin.empty() && OriginOf(entry) == origin) {
      return true;
    }
  }
  return false;
}

void AppendBridgeLog(std::vector<ui::BridgeCall>& log, ui::BridgeCall call) {
  if (log.size() >= kBridgeLogSize) log.erase(log.begin());
  log.push_back(std::move(call));
}

}  // namespace ui_common

namespace ui {

std::intptr_t SendMessage(Window* window, unsigned message, std::uintptr_t wParam,
                          std::intptr_t lParam) {
  if (!window) return 0;
  std::intptr_t result = 0;
  InvokeOnUiThread([&] {
    if (Alive(window)) ui_common::DeliverOnUiThread(window, message, wParam, lParam, &result);
  });
  return result;
}

bool PostMessage(Window* window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (!Alive(window)) return false;
  PostToUiThread([=] {
    std::intptr_t ignored = 0;
    if (Alive(window)) ui_common::DeliverOnUiThread(window, message, wParam, lParam, &ignored);
  });
  return true;
}

bool IsWindow(const Window* window) { return window && Alive(window); }

std::vector<WebView*> AllWebViews() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_views;
}

}  // namespace ui
}  // namespace platform

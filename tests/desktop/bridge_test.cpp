#include "platform/surface.h"
#include "platform/text.h"
#include "tests/desktop/DesktopTest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

using namespace platform;
using namespace desktoptest;

// The page of the left view: calls native methods synchronously at load and logs what it sees.
constexpr const char* kCallerPage = R"(<!DOCTYPE html><html><head><meta charset="utf-8">
<style>body{background:#fdf6e3;font:16px sans-serif}</style></head><body>
<h1 id="title">caller</h1><div id="log"></div>
<script>
var log = [];
function note(t) { log.push(t); document.getElementById('log').textContent = log.join(' '); }
function js_Got(x) { note('got' + x); return 'ok'; }
function js_Three(a, b, c) { return a + '|' + b + '|' + c; }
function js_Log() { return log.join(' '); }
function js_Throws() { throw new Error('boom'); }
function js_TellOther() { return String(window.external.C_TellOther('hello')); }
window.onload = function () {
  note('echo=' + window.external.C_Echo('中文标题', 'b'));
  note('cb=' + window.external.C_CallBack());
  note('after');
  var t0 = performance.now();
  for (var i = 0; i < 500; ++i) window.external.C_Nop();
  window.external.C_Report(String((performance.now() - t0) / 500));
  try { window.external.C_NoSuchMethod(); note('unknown-returned'); }
  catch (e) { note('unknown-threw'); }
  window.external.C_Loaded();
};
</script></body></html>)";

constexpr const char* kCalleePage = R"(<!DOCTYPE html><html><head><meta charset="utf-8">
<style>body{background:#268bd2;color:white;font:16px sans-serif}</style></head><body>
<h1>callee</h1><p id="p">waiting</p>
<script>
function js_Show(a) { document.getElementById('p').textContent = a; return a.length; }
function js_HasExternal() { return typeof window.external; }
</script></body></html>)";

struct TwoViews {
  testsupport::TempDir dir;
  std::unique_ptr<ui::Window> window;
  std::unique_ptr<ui::WebView> left, right;
  std::vector<ui::NativeArgs> echoes;
  std::string nopLatency;
  bool loaded = false;
  bool leftComplete = false, rightComplete = false;

  TwoViews() {
    ui::WindowOptions options;
    options.rect = {40, 40, 40 + 1000, 40 + 560};
    options.frame = ui::Frame::None;
    options.title = "two views";
    options.visible = true;
    window = ui::CreateWindow(options, [](unsigned msg, std::uintptr_t, std::intptr_t l) {
      if (msg == ui::kMsgPaint) {
        auto* s = reinterpret_cast<Surface*>(l);
        s->Fill({0, 0, s->Width(), s->Height()}, 0xFF303030u);
      }
      return std::intptr_t{0};
    });
    ui::WebViewOptions lo;
    lo.rect = {10, 10, 495, 550};
    lo.trustedOrigins = {FolderPrefix(dir)};
    lo.methods = {
        {"C_Echo", [this](const ui::NativeArgs& a) { echoes.push_back(a); return true; }},
        {"C_CallBack",
         [this](const ui::NativeArgs&) {
           // Calls into the page that is waiting for this very call: queued, run in order.
           left->CallScript("js_Got", {"1"});
           left->CallScript("js_Got", {"2"});
           return true;
         }},
        {"C_Nop", [](const ui::NativeArgs&) { return false; }},
        {"C_Report", [this](const ui::NativeArgs& a) { nopLatency = a.at(0); return true; }},
        {"C_Loaded", [this](const ui::NativeArgs&) { loaded = true; return true; }},
        {"C_TellOther",
         [this](const ui::NativeArgs& a) {
           // While this page waits, the other view runs script at once and answers.
           std::string length;
           return right->CallScript("js_Show", {a.at(0)}, &length) && length == "5";
         }},
    };
    lo.events.documentComplete = [this](const std::string&) { leftComplete = true; };
    left = ui::CreateWebView(*window, lo);
    ui::WebViewOptions ro;
    ro.rect = {505, 10, 990, 550};
    ro.trustedOrigins = {FolderPrefix(dir)};
    ro.events.documentComplete = [this](const std::string&) { rightComplete = true; };
    right = ui::CreateWebView(*window, ro);
    left->Navigate(WritePage(dir, "caller.html", kCallerPage));
    right->Navigate(WritePage(dir, "callee.html", kCalleePage));
  }
  ~TwoViews() {
    left.reset();
    right.reset();
    window.reset();
  }
};

TEST(Bridge, PageCallsNativeSynchronouslyAndIsCalledBackInOrder) {
  TwoViews t;
  ASSERT_TRUE(WaitFor([&] { return t.loaded && t.leftComplete && t.rightComplete; }));
  EXPECT_TRUE(t.leftComplete);
  ASSERT_EQ(t.echoes.size(), 1u);
  // The page's UTF-8 text arrives in the system code page.
  EXPECT_EQ(t.echoes[0], (ui::NativeArgs{Utf8ToSystem("中文标题"), "b"}));
  std::string log;
  ASSERT_TRUE(t.left->CallScript("js_Log", {}, &log));
  EXPECT_EQ(log, "echo=true got1 got2 cb=true after unknown-threw");
  const auto calls = t.left->BridgeLog();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().method, "C_Loaded");  // the unknown method left no trace
  std::printf("[ latency ] synchronous native call from the page: %s ms\n", t.nopLatency.c_str());
}

TEST(Bridge, ANativeCallMayCallScriptInAnotherViewWhileItsPageWaits) {
  TwoViews t;
  ASSERT_TRUE(WaitFor([&] { return t.loaded && t.leftComplete && t.rightComplete; }));
  std::string answer;
  ASSERT_TRUE(t.left->CallScript("js_TellOther", {}, &answer));
  EXPECT_EQ(answer, "true");
}

TEST(Bridge, CallScriptPassesArgumentsInOrderAndAnswersFalseForUnknownNames) {
  TwoViews t;
  ASSERT_TRUE(WaitFor([&] { return t.loaded && t.leftComplete && t.rightComplete; }));
  std::string result;
  ASSERT_TRUE(t.left->CallScript("js_Three", {Utf8ToSystem("一"), "two", "3"}, &result));
  EXPECT_EQ(result, Utf8ToSystem("一|two|3"));
  EXPECT_FALSE(t.left->CallScript("js_NotThere", {"x"}, &result));
  EXPECT_FALSE(t.left->CallScript("js_Throws", {}, &result));
  ASSERT_TRUE(t.right->CallScript("js_Show", {Utf8ToSystem("从左边来的")}, &result));
  EXPECT_EQ(result, "5");

  // Round trips of a function that only computes, and of one that changes the document.
  for (const char* function : {"js_Three", "js_Show"}) {
    ui::WebView* view = std::string(function) == "js_Three" ? t.left.get() : t.right.get();
    const int rounds = 200;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) ASSERT_TRUE(view->CallScript(function, {"x", "y", "z"}));
    const double ms = std::chrono::duration<double, std::milli>(
                          std::chrono::steady_clock::now() - start).count() / rounds;
    std::printf("[ latency ] CallScript round trip (%s): %.3f ms\n", function, ms);
  }

  // Seen together: both views painted side by side in the frameless window.
  ASSERT_TRUE(t.right->CallScript("js_Show", {"two views"}));
  WaitFor([] { return false; }, 300ms);
  EXPECT_TRUE(Screenshot(*t.window, OutputPath("two-views.png")));
}

TEST(Bridge, ScriptBeforeTheFirstDocumentAnswersFalse) {
  testsupport::TempDir dir;
  ui::WindowOptions options;
  options.visible = true;
  auto window = ui::CreateWindow(options, [](unsigned, std::uintptr_t, std::intptr_t) {
    return std::intptr_t{0};
  });
  ui::WebViewOptions vo;
  vo.rect = {0, 0, 300, 200};
  auto view = ui::CreateWebView(*window, vo);
  EXPECT_FALSE(view->HasDocument());
  EXPECT_FALSE(view->CallScript("anything", {}));
  view.reset();
  window.reset();
}

}  // namespace

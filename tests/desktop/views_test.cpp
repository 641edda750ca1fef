#include "platform/surface.h"
#include "platform/text.h"
#include "tests/desktop/DesktopTest.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace platform;
using namespace desktoptest;

std::unique_ptr<ui::Window> PlainWindow() {
  ui::WindowOptions options;
  options.rect = {0, 0, 640, 400};
  options.visible = true;
  return ui::CreateWindow(options, [](unsigned, std::uintptr_t, std::intptr_t) {
    return std::intptr_t{0};
  });
}

constexpr const char* kProbe = R"(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
<script>
function js_Kind() { return typeof window.external; }
function js_Call() { return String(window.external.C_Any()); }
function js_Frame() {
  try { return String(document.getElementById('f').contentWindow.probe()); }
  catch (e) { return 'frame-error'; }
}
function js_Alert() { alert('你好'); return confirm('sure?') ? 'yes' : 'no'; }
</script>
<iframe id="f" srcdoc="<script>function probe(){try{return prompt('\u0001muravel-bridge\u0001{}');}catch(e){return 'x';}}</script>"></iframe>
</body></html>)";

TEST(Views, OnlyTrustedOriginsGetTheBridge) {
  testsupport::TempDir dir;
  testsupport::WriteFileOrDie(dir / "probe.html", kProbe);
  const int port = testsupport::FreeLoopbackPort();
  testsupport::ChildProcess server;
  ASSERT_TRUE(server.Start({"python3", "-m", "http.server", "--bind", "127.0.0.1",
                            std::to_string(port), "--directory", dir.path()}));
  ASSERT_TRUE(testsupport::WaitForPort(port, 10s));
  auto window = PlainWindow();
  int called = 0;
  ui::WebViewOptions options;
  options.rect = {0, 0, 640, 400};
  options.trustedOrigins = {"http://127.0.0.1:" + std::to_string(port)};
  options.methods = {{"C_Any", [&](const ui::NativeArgs&) { ++called; return true; }}};
  bool complete = false;
  options.events.documentComplete = [&](const std::string&) { complete = true; };
  auto view = ui::CreateWebView(*window, options);

  struct Case {
    std::string url;
    const char* kind;
  } cases[] = {
      {"http://127.0.0.1:" + std::to_string(port) + "/probe.html", "object"},
      // The same server under another name is another origin.
      {"http://localhost:" + std::to_string(port) + "/probe.html", "undefined"},
      {FolderPrefix(dir) + "probe.html", "undefined"},
  };
  for (const Case& c : cases) {
    complete = false;
    view->Navigate(c.url);
    ASSERT_TRUE(WaitFor([&] { return complete; })) << c.url;
    std::string kind;
    ASSERT_TRUE(view->CallScript("js_Kind", {}, &kind)) << c.url;
    EXPECT_EQ(kind, c.kind) << c.url;
    // A frame that forges a bridge message without the page's token is answered with nothing.
    std::string frame;
    ASSERT_TRUE(view->CallScript("js_Frame", {}, &frame));
    EXPECT_EQ(frame, "null") << c.url;
  }
  EXPECT_EQ(called, 0);
  // Back on a trusted page, the new document got a token of its own.
  complete = false;
  view->Navigate(cases[0].url);
  ASSERT_TRUE(WaitFor([&] { return complete; }));
  std::string answer;
  ASSERT_TRUE(view->CallScript("js_Call", {}, &answer));
  EXPECT_EQ(answer, "true");
  EXPECT_EQ(called, 1);
  view.reset();
}

TEST(Views, PageMessageBoxesCarryTheViewsTitle) {
  testsupport::TempDir dir;
  auto window = PlainWindow();
  std::vector<std::pair<std::string, ui::MessageBoxKind>> boxes;
  ui::WebViewOptions options;
  options.rect = {0, 0, 640, 400};
  bool complete = false;
  options.events.documentComplete = [&](const std::string&) { complete = true; };
  options.events.scriptDialog = [&](const std::string& text, ui::MessageBoxKind kind) {
    boxes.emplace_back(text, kind);
    return true;
  };
  auto view = ui::CreateWebView(*window, options);
  view->Navigate(WritePage(dir, "probe.html", kProbe));
  ASSERT_TRUE(WaitFor([&] { return complete; }));
  std::string answer;
  ASSERT_TRUE(view->CallScript("js_Alert", {}, &answer));
  EXPECT_EQ(answer, "yes");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].first, Utf8ToSystem("你好"));
  EXPECT_EQ(boxes[0].second, ui::MessageBoxKind::Ok);
  EXPECT_EQ(boxes[1].second, ui::MessageBoxKind::YesNo);
}

constexpr const char* kMovie = R"(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
<p id="p">movie</p>
<script>
var seen = [];
function CallFunction(request) { seen.push(request); return '<string>ok</string>'; }
function js_Seen() { return seen.join('|'); }
window.onload = function () {
  var where = window.external.FlashCall(
      '<invoke name="C_ShiftPath" returntype="xml"><arguments><string>pages/12.swf</string></arguments></invoke>');
  seen.push('where=' + where);
  var none = window.external.FlashCall('<invoke name="C_GetOpenMag" returntype="xml"><arguments></arguments></invoke>');
  seen.push('none=' + none);
};
</script></body></html>)";

TEST(Views, AMovieViewDeliversFlashCallsAndTakesCallFunction) {
  testsupport::TempDir dir;
  auto window = PlainWindow();
  std::vector<std::string> requests;
  ui::WebView* self = nullptr;
  ui::WebViewOptions options;
  options.kind = ui::ViewKind::Movie;
  options.rect = {0, 0, 640, 400};
  options.trustedOrigins = {FolderPrefix(dir)};
  bool complete = false;
  options.events.documentComplete = [&](const std::string&) { complete = true; };
  options.events.flashCall = [&](const std::string& request) {
    requests.push_back(request);
    if (request.find("C_ShiftPath") != std::string::npos)
      self->SetReturnValue("<string>http://127.0.0.1:8024/mag/55435/12.swf</string>");
    else  // answered with calls into the movie, which wait for the call to return
      self->CallFunction("<invoke name=\"F_OpenMag\" returntype=\"xml\"></invoke>");
  };
  auto view = ui::CreateWebView(*window, options);
  self = view.get();
  view->LoadMovie(WritePage(dir, "read.html", kMovie));
  ASSERT_TRUE(WaitFor([&] { return complete; }));
  ASSERT_EQ(requests.size(), 2u);
  std::string seen;
  ASSERT_TRUE(view->CallScript("js_Seen", {}, &seen));
  EXPECT_EQ(seen,
            "where=<string>http://127.0.0.1:8024/mag/55435/12.swf</string>|"
            "<invoke name=\"F_OpenMag\" returntype=\"xml\"></invoke>|none=null");
  EXPECT_EQ(view->CallFunction("<invoke name=\"F_ReUserBuyInfo\"/>"), "<string>ok</string>");
}

TEST(Views, AScreenshotShowsTheRenderedPage) {
  testsupport::TempDir dir;
  auto window = PlainWindow();
  ui::WebViewOptions options;
  options.rect = {0, 0, 640, 400};
  bool complete = false;
  options.events.documentComplete = [&](const std::string&) { complete = true; };
  auto view = ui::CreateWebView(*window, options);
  view->Navigate(WritePage(dir, "red.html",
                           "<html><body style='margin:0;background:rgb(200,30,40)'>"
                           "<h1 style='color:white'>rendered</h1></body></html>"));
  ASSERT_TRUE(WaitFor([&] { return complete; }));
  WaitFor([] { return false; }, 400ms);  // the first frame reaches the screen
  const std::string path = OutputPath("rendered-page.png");
  ASSERT_TRUE(Screenshot(*window, path));
  auto shot = Surface::LoadPicture(path);
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->Width(), 640);
  EXPECT_EQ(shot->GetPixel(600, 350), 0xFFC81E28u);  // the page's background colour
}

TEST(Views, KeysSentToAViewReachThePage) {
  testsupport::TempDir dir;
  auto window = PlainWindow();
  ui::WebViewOptions options;
  options.rect = {0, 0, 640, 400};
  bool complete = false;
  options.events.documentComplete = [&](const std::string&) { complete = true; };
  auto view = ui::CreateWebView(*window, options);
  view->Navigate(WritePage(dir, "keys.html",
                           "<html><body><script>var keys = [];"
                           "document.addEventListener('keydown', function (e) { keys.push(e.key); });"
                           "function js_Keys() { return keys.join(','); }</script></body></html>"));
  ASSERT_TRUE(WaitFor([&] { return complete; }));
  WaitFor([] { return false; }, 200ms);
  view->SendKey(ui::kKeyReturn);
  std::string keys;
  ASSERT_TRUE(WaitFor([&] { return view->CallScript("js_Keys", {}, &keys) && !keys.empty(); }, 5s));
  EXPECT_EQ(keys, "Enter");
}

}  // namespace

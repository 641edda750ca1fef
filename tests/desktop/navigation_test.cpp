#include "tests/desktop/DesktopTest.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;
using namespace desktoptest;

TEST(Navigation, AFailedNavigationReachesTheErrorPageWhichRetries) {
  testsupport::TempDir dir;
  const std::string errorPage = WritePage(
      dir, "Error.html",
      "<html><body><a id='retry' href='#' onclick='window.external.ReErrorHtml(\"\")'>retry</a>"
      "<script>function js_Retry(){ return window.external.ReErrorHtml(''); }</script>"
      "</body></html>");
  ui::WindowOptions wo;
  wo.visible = true;
  auto window = ui::CreateWindow(wo, [](unsigned, std::uintptr_t, std::intptr_t) {
    return std::intptr_t{0};
  });
  // Nothing listens on this port: the connection is refused.
  const std::string unreachable =
      "http://127.0.0.1:" + std::to_string(testsupport::FreeLoopbackPort()) + "/store/";
  std::vector<std::string> failed, completed;
  std::string failedUrl;
  ui::WebView* self = nullptr;
  ui::WebViewOptions options;
  options.rect = {0, 0, 640, 480};
  options.trustedOrigins = {FolderPrefix(dir)};
  options.methods = {{"ReErrorHtml", [&](const ui::NativeArgs&) {
                        self->Navigate(failedUrl);
                        return true;
                      }}};
  options.events.navigateError = [&](const std::string& url) {
    failed.push_back(url);
    failedUrl = url;
    self->Navigate(errorPage);
  };
  options.events.documentComplete = [&](const std::string& url) { completed.push_back(url); };
  auto view = ui::CreateWebView(*window, options);
  self = view.get();
  view->Navigate(unreachable);
  ASSERT_TRUE(WaitFor([&] { return !completed.empty(); }));
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0], unreachable);
  EXPECT_EQ(completed, std::vector<std::string>{errorPage});  // the failed load completes nothing
  // The retry navigates to the same address again, which fails again.
  ASSERT_TRUE(view->CallScript("js_Retry", {}));
  ASSERT_TRUE(WaitFor([&] { return failed.size() == 2 && completed.size() == 2; }));
  EXPECT_EQ(failed[1], unreachable);
}

}  // namespace

#include "platform/linux/GtkUi.h"
#include "platform/surface.h"
#include "tests/desktop/DesktopTest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace platform;
using namespace desktoptest;

TEST(Windows, WorkersSendSynchronouslyThroughTheGtkLoop) {
  long long sum = 0;
  const auto ui = std::this_thread::get_id();
  bool wrongThread = false;
  ui::WindowOptions wo;
  auto window = ui::CreateWindow(wo, [&](unsigned msg, std::uintptr_t, std::intptr_t l) {
    if (msg != ui::kMsgUser) return std::intptr_t{0};
    if (std::this_thread::get_id() != ui) wrongThread = true;
    sum += *reinterpret_cast<const int*>(l);  // data on the sender's stack
    return std::intptr_t{1};
  });
  std::atomic<int> done{0}, answered{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 10; ++t)
    workers.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        int value = t * 100 + i;
        answered += static_cast<int>(ui::SendMessage(window.get(), ui::kMsgUser, 0,
                                                     reinterpret_cast<std::intptr_t>(&value)));
      }
      ++done;
    });
  ASSERT_TRUE(WaitFor([&] { return done == 10; }));
  for (auto& w : workers) w.join();
  EXPECT_FALSE(wrongThread);
  EXPECT_EQ(answered, 500);
  long long expected = 0;
  for (int t = 0; t < 10; ++t)
    for (int i = 0; i < 50; ++i) expected += t * 100 + i;
  EXPECT_EQ(sum, expected);
}

TEST(Windows, AFramelessWindowGetsSizeTimersPaintAndClientMouse) {
  std::vector<unsigned> seen;
  int ticks = 0, painted = 0;
  ui::Point down{-1, -1};
  std::intptr_t lastSize = 0;
  ui::Window* self = nullptr;
  ui::WindowOptions wo;
  wo.rect = {100, 100, 100 + 500, 100 + 400};
  wo.frame = ui::Frame::None;
  wo.visible = true;
  auto window = ui::CreateWindow(wo, [&](unsigned msg, std::uintptr_t w, std::intptr_t l) {
    switch (msg) {
      case ui::kMsgSize: lastSize = l; break;
      case ui::kMsgTimer:
        if (w == 2 && ++ticks == 3) self->KillTimer(2);
        break;
      case ui::kMsgPaint: {
        ++painted;
        auto* s = reinterpret_cast<Surface*>(l);
        s->Fill({0, 0, s->Width(), s->Height()}, 0xFF00A000u);
        break;
      }
      case ui::kMsgNcHitTest: {
        const ui::Point p = ui::PointFromParam(l);
        return std::intptr_t{p.y < 30 ? ui::kHitCaption : ui::kHitClient};
      }
      case ui::kMsgLButtonDown: down = ui::PointFromParam(l); break;
      default: break;
    }
    seen.push_back(msg);
    return std::intptr_t{0};
  });
  self = window.get();
  window->SetTimer(2, std::chrono::milliseconds(10));
  ASSERT_TRUE(WaitFor([&] {
    return ticks == 3 && painted > 0 && ui::PointFromParam(lastSize) == ui::Point{500, 400};
  }));
  WaitFor([] { return false; }, 100ms);
  EXPECT_EQ(ticks, 3);  // killed
  EXPECT_EQ(ui::PointFromParam(lastSize), (ui::Point{500, 400}));
  gtk_ui::ClickAt(*window, 50, 100);
  EXPECT_EQ(down, (ui::Point{50, 100}));
  // A child window takes the clicks inside its rectangle, in its own coordinates.
  ui::Point childDown{-1, -1};
  ui::WindowOptions co;
  co.parent = window.get();
  co.rect = {200, 200, 300, 250};
  co.visible = true;
  auto child = ui::CreateWindow(co, [&](unsigned msg, std::uintptr_t, std::intptr_t l) {
    if (msg == ui::kMsgLButtonDown) childDown = ui::PointFromParam(l);
    return std::intptr_t{0};
  });
  gtk_ui::ClickAt(*window, 220, 210);
  EXPECT_EQ(childDown, (ui::Point{20, 10}));
  // A press in the caption band starts a move instead of reaching the window as a click.
  down = {-1, -1};
  gtk_ui::ClickAt(*window, 50, 10);
  EXPECT_EQ(down, (ui::Point{-1, -1}));
  EXPECT_EQ(child->GetClientRect(), (ui::Rect{0, 0, 100, 50}));
  child.reset();
  window.reset();
}

TEST(Windows, ModalDialogsRunANestedLoopUntilTheyEnd) {
  ui::Window* self = nullptr;
  int outerTicks = 0;
  auto owner = ui::CreateWindow({}, [&](unsigned msg, std::uintptr_t, std::intptr_t) {
    if (msg == ui::kMsgTimer) ++outerTicks;
    return std::intptr_t{0};
  });
  owner->SetTimer(1, std::chrono::milliseconds(5));
  ui::WindowOptions wo;
  wo.rect = {200, 200, 500, 400};
  wo.title = "dialog";
  auto dialog = ui::CreateWindow(wo, [&](unsigned msg, std::uintptr_t w, std::intptr_t) {
    // Ends once the owner's timer has been seen firing inside the modal loop.
    if (msg == ui::kMsgTimer && w == 9 && outerTicks > 3) self->EndModal(5);
    if (msg == ui::kMsgClose) self->EndModal(2);
    return std::intptr_t{0};
  });
  self = dialog.get();
  dialog->SetTimer(9, std::chrono::milliseconds(20));
  EXPECT_EQ(dialog->RunModal(), 5);
  EXPECT_FALSE(dialog->IsVisible());
  EXPECT_GT(outerTicks, 3);  // the owner's timers ran inside the modal loop
  dialog->KillTimer(9);
}

TEST(Windows, TheTrayIconComesUpWithoutANotificationHost) {
  auto owner = ui::CreateWindow({}, [](unsigned, std::uintptr_t, std::intptr_t) {
    return std::intptr_t{0};
  });
  auto tray = ui::CreateTrayIcon(*owner, 2025, "MuravelV3.0", "",
                                 {{"open", 32771, true}, {"exit", 32772, false}});
  ASSERT_TRUE(tray);
  EXPECT_TRUE(tray->SetTooltip(std::string(200, 'x')));
  WaitFor([] { return false; }, std::chrono::milliseconds(100));
  tray.reset();
}

}  // namespace

#include "platform/headless/headless.h"
#include "platform/surface.h"
#include "platform/ui.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace platform;
using namespace std::chrono_literals;

// A window made on the loop thread, destroyed there too.
struct LoopWindow {
  std::unique_ptr<ui::Window> window;
  explicit LoopWindow(ui::MessageHandler handler, ui::WindowOptions options = {}) {
    ui::InvokeOnUiThread([&] { window = ui::CreateWindow(options, std::move(handler)); });
  }
  ~LoopWindow() {
    ui::InvokeOnUiThread([&] { window.reset(); });
  }
  ui::Window* get() const { return window.get(); }
};

struct Record {
  int value;
  std::thread::id sender;
};

TEST(HeadlessUi, SendMessageFromTenThreadsRunsEveryHandlerOnTheUiThreadAndWaits) {
  headless::UiThread loop;
  std::thread::id uiThread;
  ui::InvokeOnUiThread([&] { uiThread = std::this_thread::get_id(); });
  std::atomic<int> inHandler{0};
  std::atomic<bool> overlapped{false};
  long long sum = 0;  // touched by the handler only, so on one thread
  LoopWindow w([&](unsigned msg, std::uintptr_t, std::intptr_t lParam) -> std::intptr_t {
    if (msg != ui::kMsgUser) return 0;
    if (inHandler.fetch_add(1) != 0) overlapped = true;
    EXPECT_EQ(std::this_thread::get_id(), uiThread);
    // The record lives on the sender's stack: it must still be there.
    const Record* record = reinterpret_cast<const Record*>(lParam);
    sum += record->value;
    std::this_thread::sleep_for(100us);
    inHandler.fetch_sub(1);
    return record->value * 2;
  });
  std::vector<std::thread> senders;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 10; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        Record record{t * 1000 + i, std::this_thread::get_id()};
        if (ui::SendMessage(w.get(), ui::kMsgUser, 0, reinterpret_cast<std::intptr_t>(&record)) !=
            record.value * 2)
          ++wrong;
        record.value = -1;  // the handler is done with it
      }
    });
  }
  for (auto& s : senders) s.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_FALSE(overlapped);
  long long expected = 0;
  for (int t = 0; t < 10; ++t)
    for (int i = 0; i < 200; ++i) expected += t * 1000 + i;
  ui::InvokeOnUiThread([&] { EXPECT_EQ(sum, expected); });
}

TEST(HeadlessUi, PostMessageQueuesInOrderAndDeadWindowsAnswerNothing) {
  headless::UiThread loop;
  std::vector<std::intptr_t> seen;
  auto w = std::make_unique<LoopWindow>([&](unsigned msg, std::uintptr_t, std::intptr_t l) {
    if (msg == ui::kMsgUser) seen.push_back(l);
    return std::intptr_t{7};
  });
  ui::Window* raw = w->get();
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(ui::PostMessage(raw, ui::kMsgUser, 0, i));
  ui::InvokeOnUiThread([] {});  // the posts were queued first, so they ran
  EXPECT_EQ(seen, (std::vector<std::intptr_t>{0, 1, 2, 3, 4}));
  w.reset();
  EXPECT_FALSE(ui::IsWindow(raw));
  EXPECT_EQ(ui::SendMessage(raw, ui::kMsgUser, 0, 9), 0);
  EXPECT_FALSE(ui::PostMessage(raw, ui::kMsgUser, 0, 9));
}

TEST(HeadlessUi, TimersRepeatUntilKilledAndModalLoopsNest) {
  headless::UiThread loop;
  int ticks = 0;
  std::unique_ptr<ui::Window> dialog;
  LoopWindow w([&](unsigned msg, std::uintptr_t wParam, std::intptr_t) -> std::intptr_t {
    if (msg == ui::kMsgTimer && wParam == 2) ++ticks;
    return 0;
  });
  int modalAnswer = -1;
  ui::InvokeOnUiThread([&] {
    w.get()->SetTimer(2, 5ms);
    dialog = ui::CreateWindow({}, [&](unsigned msg, std::uintptr_t wParam, std::intptr_t) {
      if (msg == ui::kMsgTimer && wParam == 9) dialog->EndModal(42);
      return std::intptr_t{0};
    });
    dialog->SetTimer(9, 60ms);
    // Timers of other windows keep firing inside the modal loop.
    modalAnswer = dialog->RunModal();
    w.get()->KillTimer(2);
  });
  EXPECT_EQ(modalAnswer, 42);
  const int after = ticks;
  EXPECT_GE(after, 3);
  std::this_thread::sleep_for(30ms);
  ui::InvokeOnUiThread([&] {
    EXPECT_EQ(ticks, after);
    dialog.reset();
  });
}

TEST(HeadlessUi, PaintHandsOutASurfaceOfTheClientSize) {
  headless::UiThread loop;
  ui::WindowOptions options;
  options.rect = {10, 10, 110, 60};
  LoopWindow w(
      [](unsigned msg, std::uintptr_t, std::intptr_t l) -> std::intptr_t {
        if (msg == ui::kMsgPaint) {
          auto* s = reinterpret_cast<Surface*>(l);
          s->Fill({0, 0, s->Width(), s->Height()}, 0xFF112233u);
        }
        return 0;
      },
      options);
  std::unique_ptr<Surface> shot;
  ui::InvokeOnUiThread([&] { shot = headless::RenderWindow(*w.get()); });
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->Width(), 100);
  EXPECT_EQ(shot->Height(), 50);
  EXPECT_EQ(shot->GetPixel(99, 49), 0xFF112233u);
}

TEST(HeadlessUi, TrayRecordsTheIconAndRoutesItsActions) {
  headless::UiThread loop;
  std::vector<std::pair<unsigned, std::intptr_t>> got;
  LoopWindow w([&](unsigned msg, std::uintptr_t wParam, std::intptr_t l) -> std::intptr_t {
    if (msg == 2025) got.emplace_back(msg, l);
    if (msg == ui::kMsgCommand) got.emplace_back(msg, static_cast<std::intptr_t>(wParam));
    return 1;
  });
  std::unique_ptr<ui::TrayIcon> tray;
  ui::InvokeOnUiThread([&] {
    tray = ui::CreateTrayIcon(*w.get(), 2025, "MuravelV3.0", "",
                              {{"open", 32771, true}, {"exit", 32772, false}});
    tray->SetTooltip(std::string(300, 'x'));
  });
  const headless::TrayState state = headless::GetTrayState();
  EXPECT_TRUE(state.present);
  EXPECT_EQ(state.tip.size(), 127u);
  ASSERT_EQ(state.menu.size(), 2u);
  EXPECT_TRUE(state.menu[0].isDefault);
  headless::ActivateTray();
  headless::ChooseTrayCommand(32772);
  EXPECT_EQ(got, (std::vector<std::pair<unsigned, std::intptr_t>>{{2025, ui::kTrayActivate},
                                                                    {ui::kMsgCommand, 32772}}));
  ui::InvokeOnUiThread([&] { tray.reset(); });
  EXPECT_FALSE(headless::GetTrayState().present);
}

}  // namespace

// The headless user-interface loop: a queue of tasks and a timer list served by one thread,
// windows that are message targets with in-memory paint surfaces, scripted dialogs and a
// recorded tray.
#include "platform/headless/headless.h"
#include "platform/common/UiCommon.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

struct LoopFrame {
  bool quit = false;
  int code = 0;
};

struct Timer {
  ui::Window* window;
  std::uintptr_t id;
  std::chrono::milliseconds period;
  Clock::time_point due;
};

struct Loop {
  std::mutex lock;
  std::condition_variable wake;
  std::deque<std::function<void()>> tasks;
  bool hasUi = false;
  std::thread::id ui;
  // The rest belongs to the user-interface thread.
  std::vector<LoopFrame*> frames;
  std::vector<Timer> timers;
  std::set<ui::Window*> dirty;
};

Loop& TheLoop() {
  static Loop loop;
  return loop;
}

// Scripted user and recorded shell, guarded by their own lock.
std::mutex g_scriptLock;
std::deque<ui::MessageBoxAnswer> g_answers;
std::vector<headless::ShownMessageBox> g_shown;
std::string g_folderChoice;
int g_menuChoice = 0;
std::vector<std::string> g_openedUrls;
std::vector<std::string> g_shownFiles;
ui::Point g_cursor;

void RunOneTask(Loop& loop, Clock::time_point deadline) {
  std::function<void()> task;
  {
    std::unique_lock<std::mutex> hold(loop.lock);
    Clock::time_point until = deadline;
    for (const Timer& t : loop.timers) until = std::min(until, t.due);
    if (loop.tasks.empty() && loop.dirty.empty())
      loop.wake.wait_until(hold, until, [&] { return !loop.tasks.empty(); });
    if (!loop.tasks.empty()) {
      task = std::move(loop.tasks.front());
      loop.tasks.pop_front();
    }
  }
  if (task) {
    task();
    return;
  }
  // Timers that are due fire once each; a handler may kill or restart any of them.
  const Clock::time_point now = Clock::now();
  std::vector<std::pair<ui::Window*, std::uintptr_t>> due;
  for (Timer& t : loop.timers) {
    if (t.due <= now) {
      due.emplace_back(t.window, t.id);
      t.due = now + t.period;
    }
  }
  for (auto& [window, id] : due) ui::SendMessage(window, ui::kMsgTimer, id, 0);
  // Pending paints go last, as a window system delivers them.
  std::set<ui::Window*> dirty;
  dirty.swap(loop.dirty);
  for (ui::Window* window : dirty) {
    if (!ui::IsWindow(window)) continue;
    auto surface = headless::RenderWindow(*window);
    (void)surface;
  }
}

class HeadlessWindow final : public ui::Window {
 public:
  HeadlessWindow(const ui::WindowOptions& options, ui::MessageHandler handler)
      : m_options(options),
        m_rect(options.rect),
        m_visible(options.visible),
        m_handler(std::make_shared<ui::MessageHandler>(std::move(handler))) {
    ui_common::RegisterWindow(this);
  }
  ~HeadlessWindow() override {
    ui::SendMessage(this, ui::kMsgDestroy, 0, 0);
    Loop& loop = TheLoop();
    std::erase_if(loop.timers, [this](const Timer& t) { return t.window == this; });
    loop.dirty.erase(this);
    if (m_modal) m_modal->quit = true;
    ui_common::UnregisterWindow(this);
  }

  std::intptr_t Deliver(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    std::shared_ptr<ui::MessageHandler> handler = m_handler;
    return (handler && *handler) ? (*handler)(message, wParam, lParam) : 0;
  }

  int Id() const override { return m_options.id; }
  ui::Window* Parent() const override { return m_options.parent; }
  void Show(ui::ShowMode mode) override {
    switch (mode) {
      case ui::ShowMode::Hide: m_visible = false; break;
      case ui::ShowMode::Normal: m_visible = true; m_minimised = false; break;
      case ui::ShowMode::Minimise: m_visible = true; m_minimised = true; break;
      case ui::ShowMode::Maximise: m_visible = true; m_minimised = false; m_maximised = true; break;
      case ui::ShowMode::Restore:
        m_visible = true;
        if (m_minimised) m_minimised = false; else m_maximised = false;
        break;
    }
  }
  bool IsVisible() const override { return m_visible; }
  bool IsMinimised() const override { return m_minimised; }
  bool IsMaximised() const override { return m_maximised; }
  bool IsActive() const override;
  void SetForeground() override { headless::Activate(this); }
  void SetTitle(std::string_view title) override { m_options.title = title; }
  ui::Rect GetRect() const override { return m_rect; }
  void SetRect(const ui::Rect& rect) override {
    const bool resized = rect.Width() != m_rect.Width() || rect.Height() != m_rect.Height();
    m_rect = rect;
    if (resized)
      ui::SendMessage(this, ui::kMsgSize, 0, ui::MakePointParam(rect.Width(), rect.Height()));
  }
  ui::Rect GetClientRect() const override { return {0, 0, m_rect.Width(), m_rect.Height()}; }
  ui::Point ClientToScreen(ui::Point p) const override {
    ui::Point origin{m_rect.left, m_rect.top};
    if (m_options.parent) origin = m_options.parent->ClientToScreen(origin);
    return {origin.x + p.x, origin.y + p.y};
  }
  void Invalidate(const ui::Rect*) override { TheLoop().dirty.insert(this); }
  void Update() override {
    if (TheLoop().dirty.erase(this)) headless::RenderWindow(*this);
  }
  void SetTimer(std::uintptr_t id, std::chrono::milliseconds period) override {
    KillTimer(id);
    period = std::max(period, std::chrono::milliseconds(1));
    TheLoop().timers.push_back({this, id, period, Clock::now() + period});
  }
  void KillTimer(std::uintptr_t id) override {
    std::erase_if(TheLoop().timers,
                  [&](const Timer& t) { return t.window == this && t.id == id; });
  }
  void SetCapture() override { s_capture = this; }
  void ReleaseCapture() override {
    if (s_capture == this) s_capture = nullptr;
  }
  bool HasCapture() const override { return s_capture == this; }
  int RunModal() override {
    Show(ui::ShowMode::Normal);
    LoopFrame frame;
    m_modal = &frame;
    Loop& loop = TheLoop();
    loop.frames.push_back(&frame);
    while (!frame.quit) RunOneTask(loop, Clock::now() + std::chrono::hours(1));
    loop.frames.pop_back();
    if (ui::IsWindow(this)) m_modal = nullptr;
    return frame.code;
  }
  void EndModal(int code) override {
    if (m_modal) {
      m_modal->code = code;
      m_modal->quit = true;
    }
    Show(ui::ShowMode::Hide);
  }
  void SetHandler(ui::MessageHandler handler) override {
    m_handler = std::make_shared<ui::MessageHandler>(std::move(handler));
  }

  static inline ui::Window* s_capture = nullptr;
  static inline ui::Window* s_active = nullptr;

 private:
  ui::WindowOptions m_options;
  ui::Rect m_rect;
  bool m_visible;
  bool m_minimised = false;
  bool m_maximised = false;
  LoopFrame* m_modal = nullptr;
  std::shared_ptr<ui::MessageHandler> m_handler;
};

ui::Window* TopLevelOf(ui::Window* window) {
  while (window && window->Parent()) window = window->Parent();
  return window;
}

bool HeadlessWindow::IsActive() const {
  return s_active && s_active == TopLevelOf(const_cast<HeadlessWindow*>(this));
}

// The tray as the program set it up.
struct Tray {
  ui::Window* owner = nullptr;
  unsigned callback = 0;
  headless::TrayState state;
};
Tray g_tray;

class HeadlessTray final : public ui::TrayIcon {
 public:
  ~HeadlessTray() override { g_tray = Tray{}; }
  bool SetTooltip(std::string_view tip) override {
    g_tray.state.tip = ui_common::CutTip(tip);
    return true;
  }
};

}  // namespace

namespace ui_common {

void DeliverOnUiThread(ui::Window* window, unsigned message, std::uintptr_t wParam,
                       std::intptr_t lParam, std::intptr_t* result) {
  *result = static_cast<HeadlessWindow*>(window)->Deliver(message, wParam, lParam);
}

}  // namespace ui_common

namespace ui {

bool Initialise() {
  Loop& loop = TheLoop();
  std::lock_guard<std::mutex> hold(loop.lock);
  if (loop.hasUi) return loop.ui == std::this_thread::get_id();
  loop.hasUi = true;
  loop.ui = std::this_thread::get_id();
  return true;
}

bool IsUiThread() {
  Loop& loop = TheLoop();
  std::lock_guard<std::mutex> hold(loop.lock);
  return loop.hasUi && loop.ui == std::this_thread::get_id();
}

int RunMessageLoop() {
  Loop& loop = TheLoop();
  LoopFrame frame;
  loop.frames.push_back(&frame);
  while (!frame.quit) RunOneTask(loop, Clock::now() + std::chrono::hours(1));
  loop.frames.pop_back();
  return frame.code;
}

void QuitMessageLoop(int code) {
  PostToUiThread([code] {
    Loop& loop = TheLoop();
    // The innermost loop ends, a modal one included (as a quit message ends a modal loop).
    if (!loop.frames.empty()) {
      loop.frames.back()->quit = true;
      loop.frames.back()->code = code;
    }
  });
}

void PostToUiThread(std::function<void()> task) {
  Loop& loop = TheLoop();
  {
    std::lock_guard<std::mutex> hold(loop.lock);
    if (!loop.hasUi) return;  // nobody would ever run it
    loop.tasks.push_back(std::move(task));
  }
  loop.wake.notify_all();
}

void InvokeOnUiThread(const std::function<void()>& task) {
  if (IsUiThread()) {
    task();
    return;
  }
  struct State {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
  };
  auto state = std::make_shared<State>();
  Loop& loop = TheLoop();
  {
    std::lock_guard<std::mutex> hold(loop.lock);
    if (!loop.hasUi) return;
    loop.tasks.push_back([state, &task] {
      task();
      std::lock_guard<std::mutex> h(state->lock);
      state->finished = true;
      state->done.notify_all();
    });
  }
  loop.wake.notify_all();
  std::unique_lock<std::mutex> hold(state->lock);
  state->done.wait(hold, [&] { return state->finished; });
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  Loop& loop = TheLoop();
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    RunOneTask(loop, std::min(deadline, Clock::now() + std::chrono::milliseconds(10)));
  }
  return true;
}

std::unique_ptr<Window> CreateWindow(const WindowOptions& options, MessageHandler handler) {
  auto window = std::make_unique<HeadlessWindow>(options, std::move(handler));
  SendMessage(window.get(), kMsgSize, 0,
              MakePointParam(options.rect.Width(), options.rect.Height()));
  return window;
}

Point GetCursorPos() {
  std::lock_guard<std::mutex> hold(g_scriptLock);
  return g_cursor;
}
Rect GetScreenRect() { return {0, 0, 1920, 1080}; }
Rect GetWorkArea() { return {0, 0, 1920, 1040}; }

int ShowPopupMenu(Window& owner, const std::vector<MenuItem>& items) {
  int choice;
  {
    std::lock_guard<std::mutex> hold(g_scriptLock);
    choice = g_menuChoice;
    g_menuChoice = 0;
  }
  const bool offered = std::any_of(items.begin(), items.end(),
                                   [&](const MenuItem& m) { return m.command == choice; });
  if (choice == 0 || !offered) return 0;
  SendMessage(&owner, kMsgCommand, static_cast<std::uintptr_t>(choice), 0);
  return choice;
}

std::unique_ptr<TrayIcon> CreateTrayIcon(Window& owner, unsigned callbackMessage,
                                         std::string_view tip, std::string_view iconPath,
                                         const std::vector<MenuItem>& menu) {
  g_tray.owner = &owner;
  g_tray.callback = callbackMessage;
  g_tray.state = {true, ui_common::CutTip(tip), std::string(iconPath), menu};
  return std::make_unique<HeadlessTray>();
}

MessageBoxAnswer ShowMessageBox(std::string_view text, std::string_view caption,
                                MessageBoxKind kind) {
  std::lock_guard<std::mutex> hold(g_scriptLock);
  g_shown.push_back({std::string(text), std::string(caption), kind});
  if (!g_answers.empty()) {
    const MessageBoxAnswer answer = g_answers.front();
    g_answers.pop_front();
    return answer;
  }
  return kind == MessageBoxKind::Ok ? MessageBoxAnswer::Ok : MessageBoxAnswer::No;
}

std::string ChooseFolder(Window*, std::string_view, std::string_view) {
  std::lock_guard<std::mutex> hold(g_scriptLock);
  std::string out;
  out.swap(g_folderChoice);
  return out;
}

bool OpenUrl(std::string_view url) {
  std::lock_guard<std::mutex> hold(g_scriptLock);
  g_openedUrls.emplace_back(url);
  return true;
}

bool SaveScreenshot(Window& window, std::string_view path) {
  auto surface = headless::RenderWindow(window);
  return surface && surface->SavePng(path);
}

bool ShowInFileManager(std::string_view path) {
  std::lock_guard<std::mutex> hold(g_scriptLock);
  g_shownFiles.emplace_back(path);
  return true;
}

}  // namespace ui

namespace headless {

UiThread::UiThread() {
  std::mutex started;
  std::condition_variable ready;
  bool up = false;
  m_thread = std::thread([&] {
    ui::Initialise();
    {
      std::lock_guard<std::mutex> hold(started);
      up = true;
    }
    ready.notify_all();
    ui::RunMessageLoop();
    // Work queued after the end still runs, so that no sender waits for ever.
    Loop& loop = TheLoop();
    for (;;) {
      std::function<void()> task;
      {
        std::lock_guard<std::mutex> hold(loop.lock);
        if (loop.tasks.empty()) {
          loop.hasUi = false;
          break;
        }
        task = std::move(loop.tasks.front());
        loop.tasks.pop_front();
      }
      task();
    }
    loop.timers.clear();
    loop.dirty.clear();
    loop.frames.clear();
  });
  std::unique_lock<std::mutex> hold(started);
  ready.wait(hold, [&] { return up; });
}

UiThread::~UiThread() {
  ui::QuitMessageLoop(0);
  m_thread.join();
}

void ScriptMessageBoxAnswers(std::vector<ui::MessageBoxAnswer> answers) {
  std::lock_guard<std::mutex> hold(g_scriptLock);
  g_answers.assign(answers.begin(), answers.end());
}

std::vector<ShownMessageBox> TakeShownMessageBoxes() {
  std::lock_guard<std::mutex> hold(g_scriptLock);
  std::vector<ShownMessageBox> out;
  out.swap(g_shown);
  return out;
}

void ScriptFolderChoice(std::string folder) {
  std::lock_guard<std::mutex> hold(g_scriptLock);
  g_folderChoice = std::move(folder);
}

void ScriptMenuChoice(int command) {
  std::lock_guard<std::mutex> hold(g_scriptLock);
  g_menuChoice = command;
}

std::vector<std::string> TakeOpenedUrls() {
  std::lock_guard<std::mutex> hold(g_scriptLock);
  std::vector<std::string> out;
  out.swap(g_openedUrls);
  return out;
}

std::vector<std::string> TakeShownFiles() {
  std::lock_guard<std::mutex> hold(g_scriptLock);
  std::vector<std::string> out;
  out.swap(g_shownFiles);
  return out;
}

void SetCursorPos(ui::Point point) {
  std::lock_guard<std::mutex> hold(g_scriptLock);
  g_cursor = point;
}

void Activate(ui::Window* window) {
  ui::Window* top = TopLevelOf(window);
  ui::Window* old = HeadlessWindow::s_active;
  if (old == top) return;
  HeadlessWindow::s_active = top;
  if (old && ui::IsWindow(old)) ui::SendMessage(old, ui::kMsgActivate, 0, 0);
  if (top) ui::SendMessage(top, ui::kMsgActivate, 1, 0);
}

std::unique_ptr<Surface> RenderWindow(ui::Window& window) {
  const ui::Rect client = window.GetClientRect();
  auto surface = Surface::Create(std::max(client.Width(), 1), std::max(client.Height(), 1));
  ui::SendMessage(&window, ui::kMsgPaint, 0, reinterpret_cast<std::intptr_t>(surface.get()));
  return surface;
}

TrayState GetTrayState() { return g_tray.state; }

std::intptr_t ActivateTray() {
  if (!g_tray.owner) return 0;
  return ui::SendMessage(g_tray.owner, g_tray.callback, 0, ui::kTrayActivate);
}

std::intptr_t ChooseTrayCommand(int command) {
  if (!g_tray.owner) return 0;
  return ui::SendMessage(g_tray.owner, ui::kMsgCommand, static_cast<std::uintptr_t>(command), 0);
}

}  // namespace headless
}  // namespace platform

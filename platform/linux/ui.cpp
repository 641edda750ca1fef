// Windows and the message loop on GTK 3: the GTK main context is the loop, a window is a
// GtkLayout (its children placed by position) over a drawing area that turns draw and input
// signals into messages.
#include "platform/cairo/SurfaceCairo.h"
#include "platform/common/UiCommon.h"
#include "platform/linux/GtkUi.h"
#include "platform/text.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

std::mutex g_threadLock;
bool g_initialised = false;
std::thread::id g_uiThread;
std::vector<GMainLoop*> g_loops;  // user-interface thread only
int g_quitCode = 0;
std::vector<ui::Window*> g_toplevels;
std::vector<ui::Window*> g_children;

class GtkWin;

struct TimerData {
  GtkWin* window;
  std::uintptr_t id;
};

class GtkWin final : public ui::Window {
 public:
  GtkWin(const ui::WindowOptions& options, ui::MessageHandler handler)
      : m_id(options.id),
        m_parent(options.parent),
        m_rect(options.rect),
        m_handler(std::make_shared<ui::MessageHandler>(std::move(handler))) {
    ui_common::RegisterWindow(this);
    m_layout = gtk_layout_new(nullptr, nullptr);
    m_canvas = gtk_drawing_area_new();
    gtk_widget_add_events(m_canvas, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                        GDK_POINTER_MOTION_MASK | GDK_LEAVE_NOTIFY_MASK |
                                        GDK_ENTER_NOTIFY_MASK);
    gtk_layout_put(GTK_LAYOUT(m_layout), m_canvas, 0, 0);
    gtk_widget_set_size_request(m_canvas, m_rect.Width(), m_rect.Height());
    g_signal_connect(m_canvas, "draw", G_CALLBACK(&GtkWin::OnDraw), this);
    g_signal_connect(m_canvas, "button-press-event", G_CALLBACK(&GtkWin::OnPress), this);
    g_signal_connect(m_canvas, "button-release-event", G_CALLBACK(&GtkWin::OnRelease), this);
    g_signal_connect(m_canvas, "motion-notify-event", G_CALLBACK(&GtkWin::OnMotion), this);
    g_signal_connect(m_canvas, "leave-notify-event", G_CALLBACK(&GtkWin::OnLeave), this);
    g_signal_connect(m_layout, "size-allocate", G_CALLBACK(&GtkWin::OnAllocate), this);
    if (m_parent) {
      m_outer = m_layout;
      gtk_widget_set_size_request(m_layout, m_rect.Width(), m_rect.Height());
      gtk_layout_put(GTK_LAYOUT(gtk_ui::ContainerOf(*m_parent)), m_layout, m_rect.left,
                     m_rect.top);
      gtk_widget_show(m_canvas);
      if (options.visible) gtk_widget_show(m_layout);
      g_children.push_back(this);
    } else {
      m_outer = gtk_window_new(GTK_WINDOW_TOPLEVEL);
      GtkWindow* w = GTK_WINDOW(m_outer);
      gtk_window_set_title(w, SystemToUtf8(options.title).c_str());
      gtk_window_set_decorated(w, options.frame == ui::Frame::System);
      gtk_window_set_default_size(w, std::max(m_rect.Width(), 1), std::max(m_rect.Height(), 1));
      gtk_window_move(w, m_rect.left, m_rect.top);
      gtk_container_add(GTK_CONTAINER(m_outer), m_layout);
      gtk_widget_add_events(m_outer, GDK_KEY_PRESS_MASK);
      g_signal_connect(m_outer, "delete-event", G_CALLBACK(&GtkWin::OnDelete), this);
      g_signal_connect(m_outer, "key-press-event", G_CALLBACK(&GtkWin::OnKey), this);
      g_signal_connect(m_outer, "notify::is-active", G_CALLBACK(&GtkWin::OnActive), this);
      g_signal_connect(m_outer, "window-state-event", G_CALLBACK(&GtkWin::OnState), this);
      g_signal_connect(m_outer, "configure-event", G_CALLBACK(&GtkWin::OnConfigure), this);
      gtk_widget_show(m_canvas);
      gtk_widget_show(m_layout);
      g_toplevels.push_back(this);
      if (options.visible) gtk_widget_show(m_outer);
    }
    g_object_ref(m_outer);
  }

  ~GtkWin() override {
    Deliver(ui::kMsgDestroy, 0, 0);
    MarkGone();
    for (auto& [id, source] : m_timers) g_source_remove(source);
    m_timers.clear();
    if (m_modalLoop && g_main_loop_is_running(m_modalLoop)) g_main_loop_quit(m_modalLoop);
    ReleaseCapture();
    std::erase(g_toplevels, this);
    std::erase(g_children, this);
    ui_common::UnregisterWindow(this);
    g_signal_handlers_disconnect_by_data(m_canvas, this);
    g_signal_handlers_disconnect_by_data(m_layout, this);
    if (m_outer != m_layout) g_signal_handlers_disconnect_by_data(m_outer, this);
    gtk_widget_destroy(m_outer);
    g_object_unref(m_outer);
  }

  std::intptr_t Deliver(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    std::shared_ptr<ui::MessageHandler> handler = m_handler;
    return (handler && *handler) ? (*handler)(message, wParam, lParam) : 0;
  }

  int Id() const override { return m_id; }
  ui::Window* Parent() const override { return m_parent; }

  void Show(ui::ShowMode mode) override {
    GtkWindow* top = m_parent ? nullptr : GTK_WINDOW(m_outer);
    switch (mode) {
      case ui::ShowMode::Hide: gtk_widget_hide(m_outer); break;
      case ui::ShowMode::Normal:
        gtk_widget_show(m_outer);
        if (top) gtk_window_deiconify(top);
        break;
      case ui::ShowMode::Minimise:
        if (top) gtk_window_iconify(top);
        m_minimised = true;
        break;
      case ui::ShowMode::Maximise:
        gtk_widget_show(m_outer);
        if (top) gtk_window_maximize(top);
        m_maximised = true;
        break;
      case ui::ShowMode::Restore:
        gtk_widget_show(m_outer);
        if (top && m_minimised) {
          gtk_window_deiconify(top);
          m_minimised = false;
        } else if (top) {
          gtk_window_unmaximize(top);
          m_maximised = false;
        }
        break;
    }
  }
  bool IsVisible() const override { return gtk_widget_get_visible(m_outer); }
  bool IsMinimised() const override { return m_minimised; }
  bool IsMaximised() const override { return m_maximised; }
  bool IsActive() const override {
    GtkWidget* top = gtk_widget_get_toplevel(m_outer);
    return GTK_IS_WINDOW(top) && gtk_window_is_active(GTK_WINDOW(top));
  }
  void SetForeground() override {
    GtkWidget* top = gtk_widget_get_toplevel(m_outer);
    if (!GTK_IS_WINDOW(top)) return;
    gtk_window_deiconify(GTK_WINDOW(top));
    gtk_window_present_with_time(GTK_WINDOW(top), GDK_CURRENT_TIME);
  }
  void SetTitle(std::string_view title) override {
    if (!m_parent) gtk_window_set_title(GTK_WINDOW(m_outer), SystemToUtf8(title).c_str());
  }
  ui::Rect GetRect() const override {
    if (m_parent) return m_rect;
    int x = 0, y = 0, w = 0, h = 0;
    gtk_window_get_position(GTK_WINDOW(m_outer), &x, &y);
    gtk_window_get_size(GTK_WINDOW(m_outer), &w, &h);
    return {x, y, x + w, y + h};
  }
  void SetRect(const ui::Rect& rect) override {
    const bool resized = rect.Width() != m_rect.Width() || rect.Height() != m_rect.Height();
    m_rect = rect;
    if (m_parent) {
      gtk_layout_move(GTK_LAYOUT(gtk_ui::ContainerOf(*m_parent)), m_layout, rect.left, rect.top);
      gtk_widget_set_size_request(m_layout, std::max(rect.Width(), 0),
                                  std::max(rect.Height(), 0));
      gtk_widget_set_size_request(m_canvas, std::max(rect.Width(), 0),
                                  std::max(rect.Height(), 0));
      // A child hears of its new size at once, as a moved window does.
      if (resized) Deliver(ui::kMsgSize, 0, ui::MakePointParam(rect.Width(), rect.Height()));
      return;
    }
    gtk_window_move(GTK_WINDOW(m_outer), rect.left, rect.top);
    gtk_window_resize(GTK_WINDOW(m_outer), std::max(rect.Width(), 1), std::max(rect.Height(), 1));
  }
  ui::Rect GetClientRect() const override {
    if (m_parent) return {0, 0, m_rect.Width(), m_rect.Height()};
    int w = 0, h = 0;
    gtk_window_get_size(GTK_WINDOW(m_outer), &w, &h);
    return {0, 0, w, h};
  }
  ui::Point ClientToScreen(ui::Point p) const override {
    GdkWindow* gw = gtk_widget_get_window(m_canvas);
    if (gw && gtk_widget_get_realized(m_canvas)) {
      int x = 0, y = 0;
      gdk_window_get_origin(gw, &x, &y);
      return {x + p.x, y + p.y};
    }
    if (m_parent) return m_parent->ClientToScreen({m_rect.left + p.x, m_rect.top + p.y});
    const ui::Rect r = GetRect();
    return {r.left + p.x, r.top + p.y};
  }
  void Invalidate(const ui::Rect* area) override {
    if (area)
      gtk_widget_queue_draw_area(m_canvas, area->left, area->top, area->Width(), area->Height());
    else
      gtk_widget_queue_draw(m_canvas);
  }
  void Update() override {
    GdkWindow* gw = gtk_widget_get_window(m_canvas);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    if (gw) gdk_window_process_updates(gw, FALSE);
    G_GNUC_END_IGNORE_DEPRECATIONS
  }
  void SetTimer(std::uintptr_t id, std::chrono::milliseconds period) override {
    KillTimer(id);
    auto* data = new TimerData{this, id};
    const guint source = g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(std::max<long long>(period.count(), 1)),
        &GtkWin::OnTimer, data, [](gpointer p) { delete static_cast<TimerData*>(p); });
    m_timers[id] = source;
  }
  void KillTimer(std::uintptr_t id) override {
    auto it = m_timers.find(id);
    if (it == m_timers.end()) return;
    g_source_remove(it->second);
    m_timers.erase(it);
  }
  void SetCapture() override {
    if (s_capture == this) return;
    if (s_capture) s_capture->ReleaseCapture();
    s_capture = this;
    GdkWindow* gw = gtk_widget_get_window(m_canvas);
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    if (gw && seat)
      m_grabbed = gdk_seat_grab(seat, gw, GDK_SEAT_CAPABILITY_POINTER, FALSE, nullptr, nullptr,
                                nullptr, nullptr) == GDK_GRAB_SUCCESS;
  }
  void ReleaseCapture() override {
    if (s_capture != this) return;
    s_capture = nullptr;
    if (m_grabbed) gdk_seat_ungrab(gdk_display_get_default_seat(gdk_display_get_default()));
    m_grabbed = false;
  }
  bool HasCapture() const override { return s_capture == this; }
  int RunModal() override {
    if (m_parent) return 0;
    GtkWindow* w = GTK_WINDOW(m_outer);
    for (ui::Window* other : g_toplevels)
      if (other != this && other->IsVisible()) {
        gtk_window_set_transient_for(w, gtk_ui::ToplevelOf(*other));
        break;
      }
    gtk_window_set_modal(w, TRUE);
    gtk_widget_show(m_outer);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    m_modalLoop = loop;
    m_modalCode = 0;
    bool* alive = new bool(true);
    m_alive = alive;
    g_loops.push_back(loop);
    g_main_loop_run(loop);
    std::erase(g_loops, loop);
    g_main_loop_unref(loop);
    const bool stillThere = *alive;
    delete alive;
    if (!stillThere) return 0;
    m_alive = nullptr;
    m_modalLoop = nullptr;
    gtk_window_set_modal(w, FALSE);
    return m_modalCode;
  }
  void EndModal(int code) override {
    m_modalCode = code;
    if (m_modalLoop) g_main_loop_quit(m_modalLoop);
    gtk_widget_hide(m_outer);
  }
  void SetHandler(ui::MessageHandler handler) override {
    m_handler = std::make_shared<ui::MessageHandler>(std::move(handler));
  }

  GtkWidget* layout() const { return m_layout; }
  GtkWidget* outer() const { return m_outer; }
  GtkWidget* canvas() const { return m_canvas; }

  void Click(int x, int y) {
    // The click goes to the deepest shown child window under the point, as the pointer's would.
    for (ui::Window* w : g_children) {
      auto* child = static_cast<GtkWin*>(w);
      if (child->m_parent == this && child->IsVisible() && child->m_rect.Contains(x, y)) {
        child->Click(x - child->m_rect.left, y - child->m_rect.top);
        return;
      }
    }
    const std::intptr_t point = ui::MakePointParam(x, y);
    Deliver(ui::kMsgMouseMove, 0, point);
    Press(x, y, 1, false, GDK_CURRENT_TIME, x, y);
    Deliver(ui::kMsgLButtonUp, 0, point);
  }

  static inline GtkWin* s_capture = nullptr;

 private:
  static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, GtkWin* self) {
    auto surface = cairo_surface::FromContext(cr, gtk_widget_get_allocated_width(widget),
                                              gtk_widget_get_allocated_height(widget));
    self->Deliver(ui::kMsgPaint, 0, reinterpret_cast<std::intptr_t>(surface.get()));
    return FALSE;
  }

  void Press(int x, int y, guint button, bool doubled, guint32 time, int rootX, int rootY) {
    const std::intptr_t point = ui::MakePointParam(x, y);
    if (button == 3) {
      Deliver(ui::kMsgRButtonDown, 0, point);
      return;
    }
    if (button != 1) return;
    const std::intptr_t hit = Deliver(ui::kMsgNcHitTest, 0, point);
    if (hit == ui::kHitCaption) {
      if (doubled) {
        Deliver(ui::kMsgNcLButtonDblClk, static_cast<std::uintptr_t>(hit), point);
      } else if (!m_parent) {
        // The window system moves the window while the caption is dragged.
        gtk_window_begin_move_drag(GTK_WINDOW(m_outer), 1, rootX, rootY, time);
      }
      return;
    }
    if (hit >= ui::kHitLeft && hit <= ui::kHitBottomRight) {
      Deliver(doubled ? ui::kMsgNcLButtonDblClk : ui::kMsgNcLButtonDown,
              static_cast<std::uintptr_t>(hit), point);
      return;
    }
    Deliver(doubled ? ui::kMsgLButtonDblClk : ui::kMsgLButtonDown, 0, point);
  }

  static gboolean OnPress(GtkWidget*, GdkEventButton* e, GtkWin* self) {
    if (e->type == GDK_3BUTTON_PRESS) return TRUE;
    self->Press(static_cast<int>(e->x), static_cast<int>(e->y), e->button,
                e->type == GDK_2BUTTON_PRESS, e->time, static_cast<int>(e->x_root),
                static_cast<int>(e->y_root));
    return TRUE;
  }
  static gboolean OnRelease(GtkWidget*, GdkEventButton* e, GtkWin* self) {
    const std::intptr_t point =
        ui::MakePointParam(static_cast<int>(e->x), static_cast<int>(e->y));
    if (e->button == 1) self->Deliver(ui::kMsgLButtonUp, 0, point);
    if (e->button == 3) self->Deliver(ui::kMsgRButtonUp, 0, point);
    return TRUE;
  }
  static gboolean OnMotion(GtkWidget*, GdkEventMotion* e, GtkWin* self) {
    self->Deliver(ui::kMsgMouseMove, 0,
                  ui::MakePointParam(static_cast<int>(e->x), static_cast<int>(e->y)));
    return TRUE;
  }
  static gboolean OnLeave(GtkWidget*, GdkEventCrossing* e, GtkWin* self) {
    // Leaving into a grab of our own is no leaving.
    if (e->mode == GDK_CROSSING_NORMAL || e->mode == GDK_CROSSING_UNGRAB)
      self->Deliver(ui::kMsgMouseLeave, 0, 0);
    return FALSE;
  }
  static void OnAllocate(GtkWidget*, GdkRectangle* a, GtkWin* self) {
    if (self->m_parent) return;
    gtk_widget_set_size_request(self->m_canvas, a->width, a->height);
    if (a->width == self->m_lastWidth && a->height == self->m_lastHeight) return;
    self->m_lastWidth = a->width;
    self->m_lastHeight = a->height;
    self->Deliver(ui::kMsgSize, 0, ui::MakePointParam(a->width, a->height));
  }
  static gboolean OnConfigure(GtkWidget*, GdkEventConfigure*, GtkWin*) { return FALSE; }
  static gboolean OnDelete(GtkWidget*, GdkEvent*, GtkWin* self) {
    self->Deliver(ui::kMsgClose, 0, 0);
    return TRUE;  // the handler decides what closing means
  }
  static gboolean OnKey(GtkWidget*, GdkEventKey* e, GtkWin* self) {
    std::uintptr_t key = 0;
    switch (e->keyval) {
      case GDK_KEY_Return:
      case GDK_KEY_KP_Enter: key = ui::kKeyReturn; break;
      case GDK_KEY_Escape: key = ui::kKeyEscape; break;
      default: return FALSE;
    }
    return self->Deliver(ui::kMsgKeyDown, key, 0) != 0;
  }
  static void OnActive(GObject*, GParamSpec*, GtkWin* self) {
    const bool active = gtk_window_is_active(GTK_WINDOW(self->m_outer));
    self->Deliver(ui::kMsgActivate, active ? 1 : 0, 0);
    gtk_widget_queue_draw(self->m_outer);
  }
  static gboolean OnState(GtkWidget*, GdkEventWindowState* e, GtkWin* self) {
    self->m_minimised = (e->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
    self->m_maximised = (e->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
    return FALSE;
  }
  static gboolean OnTimer(gpointer p) {
    auto* data = static_cast<TimerData*>(p);
    data->window->Deliver(ui::kMsgTimer, data->id, 0);
    return G_SOURCE_CONTINUE;  // until KillTimer removes the source
  }

  int m_id;
  ui::Window* m_parent;
  ui::Rect m_rect;
  std::shared_ptr<ui::MessageHandler> m_handler;
  GtkWidget* m_outer = nullptr;
  GtkWidget* m_layout = nullptr;
  GtkWidget* m_canvas = nullptr;
  std::map<std::uintptr_t, guint> m_timers;
  bool m_minimised = false;
  bool m_maximised = false;
  bool m_grabbed = false;
  int m_lastWidth = -1, m_lastHeight = -1;
  GMainLoop* m_modalLoop = nullptr;
  int m_modalCode = 0;
  bool* m_alive = nullptr;

 public:
  void MarkGone() {
    if (m_alive) *m_alive = false;
  }
};

struct InvokeState {
  const std::function<void()>* task;
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
};

gboolean RunInvoke(gpointer p) {
  auto* state = static_cast<InvokeState*>(p);
  (*state->task)();
  std::lock_guard<std::mutex> hold(state->lock);
  state->finished = true;
  state->done.notify_all();
  return G_SOURCE_REMOVE;
}

}  // namespace

namespace ui_common {

void DeliverOnUiThread(ui::Window* window, unsigned message, std::uintptr_t wParam,
                       std::intptr_t lParam, std::intptr_t* result) {
  *result = static_cast<GtkWin*>(window)->Deliver(message, wParam, lParam);
}

}  // namespace ui_common

namespace gtk_ui {

GtkWidget* ContainerOf(ui::Window& window) { return static_cast<GtkWin&>(window).layout(); }

GtkWindow* ToplevelOf(ui::Window& window) {
  GtkWidget* top = gtk_widget_get_toplevel(static_cast<GtkWin&>(window).outer());
  return GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr;
}

ui::Window* MainWindow() {
  for (ui::Window* w : g_toplevels)
    if (w->IsVisible()) return w;
  return g_toplevels.empty() ? nullptr : g_toplevels.front();
}

void ClickAt(ui::Window& window, int x, int y) { static_cast<GtkWin&>(window).Click(x, y); }

}  // namespace gtk_ui

namespace ui {

bool Initialise() {
  {
    std::lock_guard<std::mutex> hold(g_threadLock);
    if (g_initialised) return g_uiThread == std::this_thread::get_id();
  }
  if (!gtk_init_check(nullptr, nullptr)) return false;
  {
    std::lock_guard<std::mutex> hold(g_threadLock);
    g_initialised = true;
    g_uiThread = std::this_thread::get_id();
  }
  gtk_ui::StartAutomation();
  return true;
}

bool IsUiThread() {
  std::lock_guard<std::mutex> hold(g_threadLock);
  return g_initialised && g_uiThread == std::this_thread::get_id();
}

int RunMessageLoop() {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_loops.push_back(loop);
  g_main_loop_run(loop);
  std::erase(g_loops, loop);
  g_main_loop_unref(loop);
  return g_quitCode;
}

void QuitMessageLoop(int code) {
  PostToUiThread([code] {
    g_quitCode = code;
    if (!g_loops.empty()) g_main_loop_quit(g_loops.back());
  });
}

void InvokeOnUiThread(const std::function<void()>& task) {
  if (IsUiThread()) {
    task();
    return;
  }
  {
    std::lock_guard<std::mutex> hold(g_threadLock);
    if (!g_initialised) return;
  }
  InvokeState state;
  state.task = &task;
  // Not g_main_context_invoke: while the user-interface thread is between iterations, that
  // acquires the default context and runs the task on the calling worker.
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, &RunInvoke, &state, nullptr);
  g_source_attach(source, g_main_context_default());
  g_source_unref(source);
  std::unique_lock<std::mutex> hold(state.lock);
  state.done.wait(hold, [&] { return state.finished; });
}

void PostToUiThread(std::function<void()> task) {
  auto* owned = new std::function<void()>(std::move(task));
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer p) -> gboolean {
        (*static_cast<std::function<void()>*>(p))();
        return G_SOURCE_REMOVE;
      },
      owned, [](gpointer p) { delete static_cast<std::function<void()>*>(p); });
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  // A ticking source keeps the blocking iteration from sleeping past the deadline.
  const guint tick = g_timeout_add(1, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; },
                                   nullptr);
  bool ok = true;
  while (!done()) {
    if (Clock::now() >= deadline) {
      ok = false;
      break;
    }
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(tick);
  return ok;
}

std::unique_ptr<Window> CreateWindow(const WindowOptions& options, MessageHandler handler) {
  auto window = std::make_unique<GtkWin>(options, std::move(handler));
  if (options.parent)
    window->Deliver(kMsgSize, 0, MakePointParam(options.rect.Width(), options.rect.Height()));
  return window;
}

Point GetCursorPos() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return {};
  GdkSeat* seat = gdk_display_get_default_seat(display);
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  int x = 0, y = 0;
  if (pointer) gdk_device_get_position(pointer, nullptr, &x, &y);
  return {x, y};
}

Rect GetScreenRect() {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
  if (!monitor && display) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return {0, 0, 1024, 768};
  GdkRectangle g;
  gdk_monitor_get_geometry(monitor, &g);
  return {0, 0, g.width, g.height};
}

Rect GetWorkArea() {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
  if (!monitor && display) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return {0, 0, 1024, 768};
  GdkRectangle g;
  gdk_monitor_get_workarea(monitor, &g);
  return {g.x, g.y, g.x + g.width, g.y + g.height};
}

bool SaveScreenshot(Window& window, std::string_view path) {
  // The screen's own pixels: what the window system shows, web views included.
  const Rect r = window.GetClientRect();
  if (r.IsEmpty()) return false;
  const Point origin = window.ClientToScreen({0, 0});
  GdkPixbuf* shot = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), origin.x, origin.y,
                                               r.Width(), r.Height());
  if (!shot) return false;
  const bool ok = gdk_pixbuf_save(shot, SystemToUtf8(path).c_str(), "png", nullptr, nullptr);
  g_object_unref(shot);
  return ok;
}

}  // namespace ui
}  // namespace platform

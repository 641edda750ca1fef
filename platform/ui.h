// Windows, messages, timers, dialogs and the tray. A window is a target of (message, wParam,
// lParam) handled on the user-interface thread; the message numbers are the vocabulary the rest
// of the program speaks. The desktop backend runs them on the GTK main loop, the headless
// backend on a loop thread of its own. Texts are system-code-page bytes unless said otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class Surface;
}

namespace platform::ui {

// ---- Geometry --------------------------------------------------------------------------------

// A rectangle: left and top inclusive, right and bottom exclusive.
struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const Rect&) const = default;
};
// A point.
struct Point {
  int x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

// lParam of mouse messages: the point's x in the low 16 bits, y in the next 16, both signed.
inline std::intptr_t MakePointParam(int x, int y) {
  return static_cast<std::intptr_t>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(y))
                                     << 16) |
                                    static_cast<std::uint16_t>(x));
}
// The point of a mouse message's lParam.
inline Point PointFromParam(std::intptr_t lParam) {
  return {static_cast<std::int16_t>(lParam & 0xFFFF),
          static_cast<std::int16_t>((lParam >> 16) & 0xFFFF)};
}

// ---- Messages the backend delivers ----------------------------------------------------------

inline constexpr unsigned kMsgDestroy = 0x0002;       // the window is going away
inline constexpr unsigned kMsgSize = 0x0005;          // lParam: MakePointParam(width, height)
inline constexpr unsigned kMsgActivate = 0x0006;      // wParam: 1 active, 0 inactive
inline constexpr unsigned kMsgPaint = 0x000F;         // lParam: Surface* of the window
inline constexpr unsigned kMsgClose = 0x0010;         // the system close command (Alt+F4)
inline constexpr unsigned kMsgCopyData = 0x004A;      // lParam: const CopyData*
inline constexpr unsigned kMsgNcHitTest = 0x0084;     // lParam: client point; answer a kHit code
inline constexpr unsigned kMsgNcLButtonDown = 0x00A1; // wParam: hit code, lParam: client point
inline constexpr unsigned kMsgNcLButtonUp = 0x00A2;   // (not delivered: the release after a
                                                      // resize-zone press is kMsgLButtonUp)
inline constexpr unsigned kMsgNcLButtonDblClk = 0x00A3;
inline constexpr unsigned kMsgKeyDown = 0x0100;       // wParam: virtual key; answer nonzero
                                                      // to keep it from the focused view
inline constexpr unsigned kMsgCommand = 0x0111;       // wParam: command id (menus, buttons)
inline constexpr unsigned kMsgSysCommand = 0x0112;    // wParam: kSc... (the caller's own use)
inline constexpr unsigned kMsgTimer = 0x0113;         // wParam: timer id
inline constexpr unsigned kMsgMouseMove = 0x0200;     // lParam: client point (also below)
inline constexpr unsigned kMsgLButtonDown = 0x0201;
inline constexpr unsigned kMsgLButtonUp = 0x0202;
inline constexpr unsigned kMsgLButtonDblClk = 0x0203;
inline constexpr unsigned kMsgRButtonDown = 0x0204;
inline constexpr unsigned kMsgRButtonUp = 0x0205;
inline constexpr unsigned kMsgMouseLeave = 0x02A3;    // the pointer left the window
inline constexpr unsigned kMsgUser = 0x0400;          // first number free for the program
inline constexpr unsigned kMsgApp = 0x8000;

// Hit-test codes answered to kMsgNcHitTest: caption drags move the window, resize codes reach
// the window as kMsgNcLButtonDown so that it can resize itself.
inline constexpr int kHitNowhere = 0, kHitClient = 1, kHitCaption = 2, kHitLeft = 10,
                     kHitRight = 11, kHitTop = 12, kHitTopLeft = 13, kHitTopRight = 14,
                     kHitBottom = 15, kHitBottomLeft = 16, kHitBottomRight = 17;
// System commands of kMsgSysCommand.
inline constexpr std::uintptr_t kScMinimize = 0xF020, kScMaximize = 0xF030, kScRestore = 0xF120,
                                kScClose = 0xF060;
// Virtual keys of kMsgKeyDown.
inline constexpr std::uintptr_t kKeyReturn = 13, kKeyEscape = 27;

// The data of kMsgCopyData (valid while the handler runs).
struct CopyData {
  std::uintptr_t dataWord = 0;
  std::string bytes;
};

// ---- The user-interface thread --------------------------------------------------------------

// Makes the calling thread the user-interface thread. False when there is no display (the
// desktop backend) or when it was already done on another thread.
bool Initialise();
// True on the user-interface thread.
bool IsUiThread();
// Runs the message loop until QuitMessageLoop; answers its code.
int RunMessageLoop();
// Ends the innermost RunMessageLoop with `code` (any thread).
void QuitMessageLoop(int code);
// Runs `task` on the user-interface thread and waits for it (at once when called there).
void InvokeOnUiThread(const std::function<void()>& task);
// Queues `task` for the user-interface thread and returns at once.
void PostToUiThread(std::function<void()> task);
// Runs queued work and events on the user-interface thread until `done` answers true or
// `timeout` passed; true when `done` answered true. Only on the user-interface thread.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// ---- Windows ---------------------------------------------------------------------------------

// Handles one message on the user-interface thread; the answer goes back to the sender.
using MessageHandler =
    std::function<std::intptr_t(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)>;

// How a top-level window is framed.
enum class Frame { System, None };
// How a window is shown.
enum class ShowMode { Hide, Normal, Minimise, Maximise, Restore };

// What a window is made of.
struct WindowOptions {
  class Window* parent = nullptr;  // a child window is placed in its parent's client area
  Rect rect{0, 0, 640, 480};       // screen position of a top-level, client position of a child
  std::string title;               // caption text (system code page)
  Frame frame = Frame::System;     // top-level only
  bool visible = false;
  int id = 0;                      // control id of a child (the caller's own use)
};

// A window: the target of messages, placed and shown by the program. Every operation except
// the message senders belongs to the user-interface thread.
class Window {
 public:
  virtual ~Window() = default;
  // The control id given at creation.
  virtual int Id() const = 0;
  // The parent of a child window, nullptr for a top-level.
  virtual Window* Parent() const = 0;
  // Shows, hides, minimises, maximises or restores the window.
  virtual void Show(ShowMode mode) = 0;
  // Whether the window itself is shown (a child may still lie in a hidden parent).
  virtual bool IsVisible() const = 0;
  virtual bool IsMinimised() const = 0;
  virtual bool IsMaximised() const = 0;
  // Whether the top-level window that holds this one is the active window.
  virtual bool IsActive() const = 0;
  // Brings the top-level window to the front and gives it the focus.
  virtual void SetForeground() = 0;
  virtual void SetTitle(std::string_view title) = 0;
  // Screen rectangle of a top-level, parent-client rectangle of a child.
  virtual Rect GetRect() const = 0;
  // Moves and sizes the window (same coordinates as GetRect).
  virtual void SetRect(const Rect& rect) = 0;
  // The client area's size as (0, 0, width, height).
  virtual Rect GetClientRect() const = 0;
  // Client point to screen point.
  virtual Point ClientToScreen(Point point) const = 0;
  // Asks for a kMsgPaint of the area (the whole client area when `area` is null).
  virtual void Invalidate(const Rect* area = nullptr) = 0;
  // Delivers pending kMsgPaint at once.
  virtual void Update() = 0;
  // Starts (or restarts) timer `id`: kMsgTimer with wParam id every `period` until KillTimer.
  virtual void SetTimer(std::uintptr_t id, std::chrono::milliseconds period) = 0;
  virtual void KillTimer(std::uintptr_t id) = 0;
  // Mouse messages go to this window until ReleaseCapture, wherever the pointer is.
  virtual void SetCapture() = 0;
  virtual void ReleaseCapture() = 0;
  virtual bool HasCapture() const = 0;
  // Runs the window as a modal dialog with a nested message loop: shows it, keeps the other
  // top-level windows from input, and answers the code given to EndModal.
  virtual int RunModal() = 0;
  // Ends RunModal with `code` and hides the window.
  virtual void EndModal(int code) = 0;
  // Replaces the message handler.
  virtual void SetHandler(MessageHandler handler) = 0;
};

// Creates a window. Its handler gets kMsgSize once it has a size. User-interface thread only.
std::unique_ptr<Window> CreateWindow(const WindowOptions& options, MessageHandler handler);

// Delivers a message to `window` and waits for its handler's answer: directly on the
// user-interface thread, from any other thread through the loop. A destroyed window answers 0.
std::intptr_t SendMessage(Window* window, unsigned message, std::uintptr_t wParam,
                          std::intptr_t lParam);
// Queues a message for `window` and returns at once; false when the window is gone.
bool PostMessage(Window* window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
// Whether `window` is a live window (a pointer of a destroyed one answers false).
bool IsWindow(const Window* window);

// Pointer position on the screen.
Point GetCursorPos();
// Size of the screen as (0, 0, width, height).
Rect GetScreenRect();
// The work area of the screen (the screen without panels).
Rect GetWorkArea();
// Writes a PNG of `window`'s client area as it is shown (views included); false on failure.
bool SaveScreenshot(Window& window, std::string_view path);

// ---- Menus and the tray ----------------------------------------------------------------------

// One item of a menu; the chosen item reaches the owner as kMsgCommand with `command`.
struct MenuItem {
  std::string text;
  int command = 0;
  bool isDefault = false;  // shown bold
};

// Shows a popup menu at the pointer; the chosen command is sent to `owner` as kMsgCommand and
// answered (0 when the menu was closed without a choice).
int ShowPopupMenu(Window& owner, const std::vector<MenuItem>& items);

// The icon of the program in the notification area.
class TrayIcon {
 public:
  virtual ~TrayIcon() = default;
  // Replaces the tip text (cut to 127 characters).
  virtual bool SetTooltip(std::string_view tip) = 0;
};

// The callback lParam values the tray sends to its owner with the callback message.
inline constexpr std::intptr_t kTrayActivate = 0x203;  // the icon was activated (double click)
inline constexpr std::intptr_t kTrayMenu = 0x205;      // the menu was asked for

// Adds the tray icon of `owner`: activation sends `callbackMessage` with kTrayActivate; the
// menu's choices reach `owner` as kMsgCommand. `iconPath` is a PNG file (may be empty). Null
// when there is no notification area.
std::unique_ptr<TrayIcon> CreateTrayIcon(Window& owner, unsigned callbackMessage,
                                         std::string_view tip, std::string_view iconPath,
                                         const std::vector<MenuItem>& menu);

// ---- Dialogs and the shell ---------------------------------------------------------------

// The buttons of a message box.
enum class MessageBoxKind { Ok, YesNo };
// The button the user chose (closing a Yes/No box counts as No).
enum class MessageBoxAnswer { Ok, Yes, No };

// Shows a modal message box and answers the chosen button. Texts are system-code-page bytes.
MessageBoxAnswer ShowMessageBox(std::string_view text, std::string_view caption,
                                MessageBoxKind kind);

// Lets the user choose a folder, starting at `initialFolder`; the folder, or empty when the
// user cancelled.
std::string ChooseFolder(Window* owner, std::string_view title, std::string_view initialFolder);

// Opens `url` in the user's default browser; false when nothing could be started.
bool OpenUrl(std::string_view url);
// Shows `path` selected in the file manager (or its folder when that cannot be done).
bool ShowInFileManager(std::string_view path);

}  // namespace platform::ui

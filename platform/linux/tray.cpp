// The tray icon: a StatusNotifier item (libayatana-appindicator3) when the session has a host
// for one, the older status icon otherwise. Menu choices reach the owner as commands,
// activation as the callback message.
#include "platform/common/UiCommon.h"
#include "platform/linux/GtkUi.h"
#include "platform/text.h"

#include <libayatana-appindicator/app-indicator.h>

namespace platform {
namespace {

bool HasStatusNotifierHost() {
  // Without a session bus address GIO would try to start one through X11; there is no host then.
  const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  if (!address || !*address) return false;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return false;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "NameHasOwner", g_variant_new("(s)", "org.kde.StatusNotifierWatcher"),
      G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
  gboolean owned = FALSE;
  if (reply) {
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
  }
  g_object_unref(bus);
  return owned;
}

class GtkTray final : public ui::TrayIcon {
 public:
  GtkTray(ui::Window& owner, unsigned callback, std::string_view tip, std::string_view iconPath,
          const std::vector<ui::MenuItem>& menu)
      : m_owner(&owner), m_callback(callback), m_items(menu) {
    const std::string icon = SystemToUtf8(iconPath);
    if (HasStatusNotifierHost()) {
      m_menu = gtk_menu_new();
      g_object_ref_sink(m_menu);
      for (const ui::MenuItem& item : m_items) {
        GtkWidget* entry = gtk_menu_item_new_with_label(SystemToUtf8(item.text).c_str());
        g_object_set_data(G_OBJECT(entry), "command", GINT_TO_POINTER(item.command));
        g_signal_connect(entry, "activate", G_CALLBACK(&GtkTray::OnItem), this);
        gtk_menu_shell_append(GTK_MENU_SHELL(m_menu), entry);
      }
      gtk_widget_show_all(m_menu);
      m_indicator = app_indicator_new("muravel", icon.empty() ? "applications-internet" : icon.c_str(),
                                      APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
      app_indicator_set_status(m_indicator, APP_INDICATOR_STATUS_ACTIVE);
      app_indicator_set_menu(m_indicator, GTK_MENU(m_menu));
      // A StatusNotifier has no double click: its first item is the activation.
      if (!m_items.empty())
        app_indicator_set_secondary_activate_target(
            m_indicator, GTK_WIDGET(gtk_container_get_children(GTK_CONTAINER(m_menu))->data));
      app_indicator_set_title(m_indicator, SystemToUtf8(ui_common::CutTip(tip)).c_str());
    } else {
      G_GNUC_BEGIN_IGNORE_DEPRECATIONS
      m_status = icon.empty() ? gtk_status_icon_new_from_icon_name("applications-internet")
                              : gtk_status_icon_new_from_file(icon.c_str());
      gtk_status_icon_set_tooltip_text(m_status, SystemToUtf8(ui_common::CutTip(tip)).c_str());
      gtk_status_icon_set_visible(m_status, TRUE);
      G_GNUC_END_IGNORE_DEPRECATIONS
      g_signal_connect(m_status, "activate", G_CALLBACK(&GtkTray::OnActivate), this);
      g_signal_connect(m_status, "popup-menu", G_CALLBACK(&GtkTray::OnPopup), this);
    }
  }
  ~GtkTray() override {
    if (m_indicator) {
      app_indicator_set_status(m_indicator, APP_INDICATOR_STATUS_PASSIVE);
      g_object_unref(m_indicator);
    }
    if (m_menu) {
      gtk_widget_destroy(m_menu);
      g_object_unref(m_menu);
    }
    if (m_status) {
      g_signal_handlers_disconnect_by_data(m_status, this);
      G_GNUC_BEGIN_IGNORE_DEPRECATIONS
      gtk_status_icon_set_visible(m_status, FALSE);
      G_GNUC_END_IGNORE_DEPRECATIONS
      g_object_unref(m_status);
    }
  }
  bool SetTooltip(std::string_view tip) override {
    const std::string text = SystemToUtf8(ui_common::CutTip(tip));
    if (m_indicator) app_indicator_set_title(m_indicator, text.c_str());
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    if (m_status) gtk_status_icon_set_tooltip_text(m_status, text.c_str());
    G_GNUC_END_IGNORE_DEPRECATIONS
    return true;
  }

 private:
  static void OnItem(GtkMenuItem* item, GtkTray* self) {
    const int command = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "command"));
    ui::SendMessage(self->m_owner, ui::kMsgCommand, static_cast<std::uintptr_t>(command), 0);
  }
  static void OnActivate(GtkStatusIcon*, GtkTray* self) {
    ui::SendMessage(self->m_owner, self->m_callback, 0, ui::kTrayActivate);
  }
  static void OnPopup(GtkStatusIcon*, guint, guint, GtkTray* self) {
    ui::ShowPopupMenu(*self->m_owner, self->m_items);
  }

  ui::Window* m_owner;
  unsigned m_callback;
  std::vector<ui::MenuItem> m_items;
  AppIndicator* m_indicator = nullptr;
  GtkWidget* m_menu = nullptr;
  GtkStatusIcon* m_status = nullptr;
};

}  // namespace

namespace ui {

std::unique_ptr<TrayIcon> CreateTrayIcon(Window& owner, unsigned callbackMessage,
                                         std::string_view tip, std::string_view iconPath,
                                         const std::vector<MenuItem>& menu) {
  if (!IsUiThread()) return nullptr;
  return std::make_unique<GtkTray>(owner, callbackMessage, tip, iconPath, menu);
}

}  // namespace ui
}  // namespace platform

// Message boxes, the folder chooser, popup menus and the shell's browser and file manager.
#include "platform/linux/GtkUi.h"
#include "platform/text.h"
#include "platform/ui.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <string>

namespace platform::ui {

MessageBoxAnswer ShowMessageBox(std::string_view text, std::string_view caption,
                                MessageBoxKind kind) {
  const MessageBoxAnswer fallback =
      kind == MessageBoxKind::Ok ? MessageBoxAnswer::Ok : MessageBoxAnswer::No;
  if (!gtk_init_check(nullptr, nullptr)) return fallback;  // no display: nobody to ask
  const std::string body = SystemToUtf8(text);
  const std::string title = SystemToUtf8(caption);
  GtkWidget* dialog = gtk_message_dialog_new(
      nullptr, GTK_DIALOG_MODAL, kind == MessageBoxKind::Ok ? GTK_MESSAGE_INFO : GTK_MESSAGE_QUESTION,
      kind == MessageBoxKind::Ok ? GTK_BUTTONS_OK : GTK_BUTTONS_YES_NO, "%s", body.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  if (kind == MessageBoxKind::Ok) return MessageBoxAnswer::Ok;
  return response == GTK_RESPONSE_YES ? MessageBoxAnswer::Yes : MessageBoxAnswer::No;
}

std::string ChooseFolder(Window* owner, std::string_view title, std::string_view initialFolder) {
  if (!gtk_init_check(nullptr, nullptr)) return {};
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      SystemToUtf8(title).c_str(), owner ? gtk_ui::ToplevelOf(*owner) : nullptr,
      GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel", GTK_RESPONSE_CANCEL, "_OK",
      GTK_RESPONSE_ACCEPT, nullptr);
  if (!initialFolder.empty())
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog),
                                        SystemToUtf8(initialFolder).c_str());
  std::string chosen;
  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
    gchar* folder = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    if (folder) chosen = Utf8ToSystem(folder);
    g_free(folder);
  }
  gtk_widget_destroy(dialog);
  return chosen;
}

int ShowPopupMenu(Window& owner, const std::vector<MenuItem>& items) {
  GtkWidget* menu = gtk_menu_new();
  int chosen = 0;
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  for (const MenuItem& item : items) {
    GtkWidget* entry = gtk_menu_item_new_with_label("");
    GtkWidget* label = gtk_bin_get_child(GTK_BIN(entry));
    gchar* markup = g_markup_printf_escaped(item.isDefault ? "<b>%s</b>" : "%s",
                                            SystemToUtf8(item.text).c_str());
    gtk_label_set_markup(GTK_LABEL(label), markup);
    g_free(markup);
    g_object_set_data(G_OBJECT(entry), "command", GINT_TO_POINTER(item.command));
    g_signal_connect(entry, "activate", G_CALLBACK(+[](GtkMenuItem* self, int* out) {
                       *out = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(self), "command"));
                     }),
                     &chosen);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), entry);
  }
  gtk_widget_show_all(menu);
  g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkMenuShell*, GMainLoop* l) {
                     // The item's activate comes after deactivate; let it run first.
                     g_idle_add([](gpointer p) -> gboolean {
                       g_main_loop_quit(static_cast<GMainLoop*>(p));
                       return G_SOURCE_REMOVE;
                     }, l);
                   }),
                   loop);
  GtkWindow* top = gtk_ui::ToplevelOf(owner);
  if (top) gtk_menu_attach_to_widget(GTK_MENU(menu), GTK_WIDGET(top), nullptr);
  gtk_menu_popup_at_pointer(GTK_MENU(menu), nullptr);
  if (gtk_widget_get_visible(menu)) g_main_loop_run(loop);
  g_main_loop_unref(loop);
  gtk_widget_destroy(menu);
  if (chosen != 0) SendMessage(&owner, kMsgCommand, static_cast<std::uintptr_t>(chosen), 0);
  return chosen;
}

bool OpenUrl(std::string_view url) {
  const std::string uri = SystemToUtf8(url);
  return g_app_info_launch_default_for_uri(uri.c_str(), nullptr, nullptr);
}

bool ShowInFileManager(std::string_view path) {
  const std::string utf8 = SystemToUtf8(path);
  gchar* uri = g_filename_to_uri(utf8.c_str(), nullptr, nullptr);
  if (!uri) return false;
  bool shown = false;
  // The file manager's own interface selects the file; without one the folder is opened.
  const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  GDBusConnection* bus =
      address && *address ? g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr) : nullptr;
  if (bus) {
    const gchar* uris[] = {uri, nullptr};
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
        "org.freedesktop.FileManager1", "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr,
        G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, nullptr);
    if (reply) {
      shown = true;
      g_variant_unref(reply);
    }
    g_object_unref(bus);
  }
  if (!shown) {
    gchar* folder = g_path_get_dirname(utf8.c_str());
    gchar* folderUri = g_filename_to_uri(folder, nullptr, nullptr);
    if (folderUri) shown = g_app_info_launch_default_for_uri(folderUri, nullptr, nullptr);
    g_free(folderUri);
    g_free(folder);
  }
  g_free(uri);
  return shown;
}

}  // namespace platform::ui

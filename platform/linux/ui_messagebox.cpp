#include "platform/text.h"
#include "platform/ui.h"

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

}  // namespace platform::ui

// What the desktop backend's parts share about windows. Backend-private.
#pragma once

#include "platform/ui.h"

#include <gtk/gtk.h>

namespace platform::gtk_ui {

// The container that holds a window's children (views, child windows), placed by position.
GtkWidget* ContainerOf(ui::Window& window);
// The GtkWindow of the top-level that holds `window`.
GtkWindow* ToplevelOf(ui::Window& window);
// The top-level window that is shown and first made (automation's "main window").
ui::Window* MainWindow();
// Delivers a mouse press and release at a client point as the user's click would.
void ClickAt(ui::Window& window, int x, int y);
// Starts the automation socket when MURAVEL_AUTOMATION names one (once, on the UI thread).
void StartAutomation();

}  // namespace platform::gtk_ui

#include "platform/linux/GtkUi.h"

namespace platform::gtk_ui {

void StartAutomation() {}

}  // namespace platform::gtk_ui

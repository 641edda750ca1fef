// Windows, dialogs and messages. This first piece holds the message box; the desktop backend
// shows a real dialog, the headless backend answers from a script that tests set.
#pragma once

#include <string_view>

namespace platform::ui {

// The buttons of a message box.
enum class MessageBoxKind { Ok, YesNo };
// The button the user chose (closing a Yes/No box counts as No).
enum class MessageBoxAnswer { Ok, Yes, No };

// Shows a modal message box and answers the chosen button. Texts are system-code-page bytes.
MessageBoxAnswer ShowMessageBox(std::string_view text, std::string_view caption,
                                MessageBoxKind kind);

}  // namespace platform::ui

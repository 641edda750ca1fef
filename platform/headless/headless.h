// Controls of the headless backend, for tests: what the scripted user answers and what the
// program showed.
#pragma once

#include "platform/ui.h"

#include <string>
#include <vector>

namespace platform::headless {

// One message box the program showed.
struct ShownMessageBox {
  std::string text;
  std::string caption;
  ui::MessageBoxKind kind;
};

// The answers the next message boxes get, in order; when the script runs out, an OK box is
// answered Ok and a Yes/No box No.
void ScriptMessageBoxAnswers(std::vector<ui::MessageBoxAnswer> answers);
// The message boxes shown since the last call, oldest first.
std::vector<ShownMessageBox> TakeShownMessageBoxes();

}  // namespace platform::headless

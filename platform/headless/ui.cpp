#include "platform/headless/headless.h"

#include <deque>
#include <mutex>

namespace platform {
namespace {

std::mutex g_lock;
std::deque<ui::MessageBoxAnswer> g_answers;
std::vector<headless::ShownMessageBox> g_shown;

}  // namespace

namespace headless {

void ScriptMessageBoxAnswers(std::vector<ui::MessageBoxAnswer> answers) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_answers.assign(answers.begin(), answers.end());
}

std::vector<ShownMessageBox> TakeShownMessageBoxes() {
  std::lock_guard<std::mutex> hold(g_lock);
  std::vector<ShownMessageBox> out;
  out.swap(g_shown);
  return out;
}

}  // namespace headless

namespace ui {

MessageBoxAnswer ShowMessageBox(std::string_view text, std::string_view caption,
                                MessageBoxKind kind) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_shown.push_back({std::string(text), std::string(caption), kind});
  if (!g_answers.empty()) {
    const MessageBoxAnswer answer = g_answers.front();
    g_answers.pop_front();
    return answer;
  }
  return kind == MessageBoxKind::Ok ? MessageBoxAnswer::Ok : MessageBoxAnswer::No;
}

}  // namespace ui
}  // namespace platform

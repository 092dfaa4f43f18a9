#include "platform/ui.h"

#include "platform/src/MessageBoxButtons.h"

namespace platform {

void ScriptedUi::DoEvents() {
    ++pumpCount;
    // Actions may add actions; run those that are due now from a copy.
    std::vector<std::function<void()>> due;
    for (const auto& [n, action] : pumpActions_)
        if (n == pumpCount) due.push_back(action);
    for (auto& action : due) action();
}

int ScriptedUi::MessageBox(const std::string& text, int style, const std::string& title) {
    int answer = detail::DefaultAnswer(style);
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    }
    boxes.push_back(Box{text, style, title, answer});
    return answer;
}

std::string ScriptedUi::FileDialog(const FileDialogRequest& request) {
    dialogs.push_back(request);
    if (fileAnswers.empty()) return "";
    std::string path = std::move(fileAnswers.front());
    fileAnswers.pop_front();
    return path;
}

void ScriptedUi::AtPump(long n, std::function<void()> action) { pumpActions_.emplace_back(n, std::move(action)); }

} // namespace platform

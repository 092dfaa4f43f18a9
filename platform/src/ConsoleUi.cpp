#include "platform/ui.h"

#include <cctype>
#include <filesystem>
#include <unistd.h>

#include "platform/src/MessageBoxButtons.h"

namespace platform {

namespace {

constexpr int MaxPromptTries = 5;

std::string WithoutCarriageReturns(const std::string& text) {
    std::string plain;
    plain.reserve(text.size());
    for (char c : text)
        if (c != '\r') plain += c;
    return plain;
}

// What a question is answered when nobody can be asked.
int UnattendedAnswer(int style) {
    switch (style & ButtonMask) {
    case vbYesNo: return IDNO;
    case vbOKCancel:
    case vbYesNoCancel: return IDCANCEL;
    default: return IDOK;
    }
}

const char* LabelOf(int answer) {
    switch (answer) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDYES: return "Yes";
    case IDNO: return "No";
    default: return "?";
    }
}

bool IsQuiet(int style) {
    int icon = style & IconMask;
    return (style & ButtonMask) == vbOKOnly && (icon == 0 || icon == vbInformation);
}

} // namespace

ConsoleUi::ConsoleUi(Options options) : options_(options) {}

std::FILE* ConsoleUi::In() const { return options_.input ? options_.input : stdin; }
std::FILE* ConsoleUi::Out() const { return options_.output ? options_.output : stderr; }

bool ConsoleUi::Interactive() const {
    if (options_.terminal >= 0) return options_.terminal == 1;
    return ::isatty(::fileno(In())) == 1;
}

bool ConsoleUi::ReadLine(std::string* line) const {
    line->clear();
    std::fflush(Out());
    int c;
    while ((c = std::fgetc(In())) != EOF && c != '\n') *line += static_cast<char>(c);
    if (c == EOF && line->empty()) {
        std::clearerr(In()); // after Ctrl-C or the end of input the next prompt may read again
        return false;
    }
    while (!line->empty() && std::isspace(static_cast<unsigned char>(line->back()))) line->pop_back();
    while (!line->empty() && std::isspace(static_cast<unsigned char>(line->front()))) line->erase(0, 1);
    return true;
}

void ConsoleUi::DoEvents() {
    if (onPump) onPump();
}

int ConsoleUi::MessageBox(const std::string& text, int style, const std::string& title) {
    std::vector<detail::Button> buttons = detail::ButtonsOf(style);
    bool question = buttons.size() > 1;
    if (!question && options_.quiet && IsQuiet(style)) return IDOK;

    std::string heading = title.empty() ? "tranquo" : title;
    std::fprintf(Out(), "%s: %s\n", heading.c_str(), WithoutCarriageReturns(text).c_str());
    if (!question) return IDOK;

    if (options_.assumeYes) {
        int answer = buttons.front().answer; // Yes, or OK for OK/Cancel
        std::fprintf(Out(), "  -> %s (--yes)\n", LabelOf(answer));
        return answer;
    }
    if (!Interactive()) {
        int answer = UnattendedAnswer(style);
        std::fprintf(Out(), "  -> %s (no terminal to ask; --yes answers Yes)\n", LabelOf(answer));
        return answer;
    }
    int fallback = detail::DefaultAnswer(style);
    for (int tries = 0; tries < MaxPromptTries; ++tries) {
        std::string choices;
        for (const auto& button : buttons) choices += std::string(choices.empty() ? "" : "/") + button.label;
        std::fprintf(Out(), "  %s [%s]? ", choices.c_str(), LabelOf(fallback));
        std::string line;
        if (!ReadLine(&line)) {
            std::fprintf(Out(), "\n");
            return UnattendedAnswer(style);
        }
        if (line.empty()) return fallback;
        char first = static_cast<char>(std::tolower(static_cast<unsigned char>(line.front())));
        for (const auto& button : buttons)
            if (std::tolower(static_cast<unsigned char>(button.label[0])) == first) return button.answer;
    }
    return UnattendedAnswer(style);
}

void ConsoleUi::QueueFileAnswer(std::string path) { fileAnswers_.push_back(std::move(path)); }

std::string ConsoleUi::FileDialog(const FileDialogRequest& request) {
    for (int tries = 0; tries < MaxPromptTries; ++tries) {
        std::string path;
        if (!fileAnswers_.empty()) {
            path = std::move(fileAnswers_.front());
            fileAnswers_.pop_front();
        } else if (Interactive()) {
            std::fprintf(Out(), "%s (a path, or empty to cancel): ", WithoutCarriageReturns(request.prompt).c_str());
            if (!ReadLine(&path)) return "";
        } else {
            std::fprintf(Out(), "%s: no file was given, cancelled\n", WithoutCarriageReturns(request.prompt).c_str());
            return "";
        }
        if (path.empty()) return "";

        std::error_code ec;
        std::filesystem::path full = std::filesystem::absolute(path, ec);
        if (!ec) path = full.lexically_normal().string();
        bool exists = std::filesystem::exists(path, ec);
        // A symbolic link takes the name even when it points nowhere.
        bool nameTaken = std::filesystem::exists(std::filesystem::symlink_status(path, ec));
        bool isFolder = std::filesystem::is_directory(path, ec);
        if (isFolder) {
            std::fprintf(Out(), "%s: is a folder, not a file\n", path.c_str());
            continue;
        }
        if ((request.flags & OFN_FILEMUSTEXIST) && !exists) {
            std::fprintf(Out(), "%s: file not found\n", path.c_str());
            continue;
        }
        if (request.save && (request.flags & OFN_OVERWRITEPROMPT) && nameTaken) {
            int answer = MessageBox(path + " already exists.\nDo you want to replace it?",
                                    vbYesNo | vbExclamation | vbDefaultButton2, request.prompt);
            if (answer != IDYES) continue;
        }
        return path;
    }
    return "";
}

} // namespace platform

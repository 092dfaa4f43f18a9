// The user-interface services the program's operations call: the message
// pump, message boxes and file dialogs. The desktop program, tranquo-cli and
// the tests each install their own implementation.
#pragma once

#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Message-box styles (combine one button set, one icon, one default button).
constexpr int vbOKOnly = 0;
constexpr int vbOKCancel = 1;
constexpr int vbYesNoCancel = 3;
constexpr int vbYesNo = 4;
constexpr int vbCritical = 16;
constexpr int vbQuestion = 32;
constexpr int vbExclamation = 48;
constexpr int vbInformation = 64;
constexpr int vbDefaultButton2 = 256;
constexpr int vbDefaultButton3 = 512;
constexpr int DefaultButtonMask = 0xF00;
constexpr int ButtonMask = 0x0F;
constexpr int IconMask = 0xF0;

// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// File-dialog flags.
constexpr unsigned OFN_READONLY = 0x1;
constexpr unsigned OFN_OVERWRITEPROMPT = 0x2;
constexpr unsigned OFN_HIDEREADONLY = 0x4;
constexpr unsigned OFN_FILEMUSTEXIST = 0x1000;
constexpr unsigned OFN_NOREADONLYRETURN = 0x8000;

struct FileDialogRequest {
    std::string prompt;
    unsigned flags = 0;
    bool save = false;
    // What a dialog on screen offers besides: the folder it opens at, its
    // file-type filters (the first one chosen, such as "Card images (*.img)")
    // and the extension a typed name without one gets when saving.
    std::string startFolder;
    std::vector<std::string> nameFilters;
    std::string defaultSuffix;
    // Choose an existing folder instead of a file (flags, filters and
    // suffix do not apply).
    bool folder = false;
};

class UiServices {
public:
    virtual ~UiServices() = default;
    // Lets pending events run; where Stop buttons get pressed.
    virtual void DoEvents() = 0;
    // Returns IDOK, IDYES, IDNO or IDCANCEL.
    virtual int MessageBox(const std::string& text, int style, const std::string& title) = 0;
    // The chosen full path, or "" when cancelled.
    virtual std::string FileDialog(const FileDialogRequest& request) = 0;
};

// The services in force (a console one with default answers until a front
// end installs its own).
UiServices& Ui();
// Installs services; null restores the default. The caller keeps ownership.
void SetUi(UiServices* services);

inline void DoEvents() { Ui().DoEvents(); }
inline int MsgBox(const std::string& text, int style = vbOKOnly, const std::string& title = "") {
    return Ui().MessageBox(text, style, title);
}

// For tranquo-cli: prints every box to stderr as "title: text". With
// assumeYes (--yes) every question is answered Yes (OK for OK/Cancel) without
// asking. Otherwise a question is asked on the terminal when there is one
// (an empty answer takes the box's default button; the end of input answers
// No/Cancel); without a terminal it never blocks and answers No for Yes/No
// and Cancel for OK/Cancel and Yes/No/Cancel, so that nothing is written
// unasked.
class ConsoleUi : public UiServices {
public:
    struct Options {
        bool assumeYes = false;
        bool quiet = false;     // information and plain boxes are not printed
        std::FILE* input = nullptr;   // answers; null: stdin
        std::FILE* output = nullptr;  // boxes and prompts; null: stderr
        int terminal = -1;            // -1: ask isatty on the input; 0: no; 1: yes
    };
    explicit ConsoleUi(Options options);
    void DoEvents() override;
    int MessageBox(const std::string& text, int style, const std::string& title) override;
    std::string FileDialog(const FileDialogRequest& request) override;
    // Answers for file dialogs, taken in order (paths from the command line).
    void QueueFileAnswer(std::string path);
    // Called at every pump (Ctrl-C handling in the CLI).
    std::function<void()> onPump;

private:
    bool Interactive() const;
    std::FILE* In() const;
    std::FILE* Out() const;
    // Reads one line from the terminal; false at the end of input.
    bool ReadLine(std::string* line) const;

    Options options_;
    std::deque<std::string> fileAnswers_;
};

// For tests: records every box and dialog; answers from queues (IDOK or the
// default button when a queue is empty); can run a callback at pump N.
class ScriptedUi : public UiServices {
public:
    struct Box {
        std::string text;
        int style;
        std::string title;
        int answer;
    };
    void DoEvents() override;
    int MessageBox(const std::string& text, int style, const std::string& title) override;
    std::string FileDialog(const FileDialogRequest& request) override;

    void QueueAnswer(int answer) { answers.push_back(answer); }
    void QueueFileAnswer(std::string path) { fileAnswers.push_back(std::move(path)); }
    // Runs action when the pump is called for the nth time (1-based).
    void AtPump(long n, std::function<void()> action);

    std::deque<int> answers;
    std::deque<std::string> fileAnswers;
    std::vector<Box> boxes;
    std::vector<FileDialogRequest> dialogs;
    long pumpCount = 0;

private:
    std::vector<std::pair<long, std::function<void()>>> pumpActions_;
};

// Installs services for the lifetime of a scope.
class ScopedUi {
public:
    explicit ScopedUi(UiServices& services) { SetUi(&services); }
    ~ScopedUi() { SetUi(nullptr); }
    ScopedUi(const ScopedUi&) = delete;
    ScopedUi& operator=(const ScopedUi&) = delete;
};

} // namespace platform

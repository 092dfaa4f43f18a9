#include "shell/MainMenu.h"

#include <cstdlib>
#include <iterator>

#include "engine/FileHelpers.h"
#include "platform/shell.h"
#include "platform/ui.h"
#include "shell/LanguageFile.h"
#include "shell/ProgramInstance.h"
#include "shell/frmPasser.h"
#include "support/ProgramFolder.h"

namespace shell {

namespace {

// The captions the window was designed with, entry by entry.
constexpr const char* kDesignTexts[] = {
    "Tranquo - Main Menu",
    "Welcome to Tranquo. Choose what you would like to do, then press Next.",
    "Tranquo",
    "Options",
    "What would you like to do?",
    "Recover lost or deleted photos, videos and music",
    "View the recovered files",
    "Advanced tools: backup, restore and secure erase",
    "Help and support",
    "Next >",
    "Close",
    "Tranquo",
    "Please wait...",
    "Tranquo Is Already Running",
    "Loading...",
    "Starting...",
    "Are you sure you want to close Tranquo?",
    "Close Tranquo",
    "Please choose one of the options, then press Next.",
    "No Option Chosen",
    "Tranquo - Main Menu",
    "Check for updates",
    "Checking for updates opens our web site and needs an Internet connection.",
    "Check for updates",
    "Another copy of Tranquo is already running.",
    "Please switch to the window that is already open.",
};
constexpr int kEntries = static_cast<int>(std::size(kDesignTexts));
static_assert(kEntries == MainMenuSection.count);

} // namespace

MainMenuTexts::MainMenuTexts(std::vector<std::string> entries) : entries_(std::move(entries)) {}

std::string MainMenuTexts::Entry(int n) const {
    if (n < 1 || n > kEntries) return {};
    if (static_cast<std::size_t>(n) <= entries_.size()) return entries_[static_cast<std::size_t>(n) - 1];
    return kDesignTexts[n - 1];
}

MainMenuState LoadMainMenu() {
    MainMenuState state;
    const int endsBefore = EndProgramCount();
    state.programFolder = support::ProgramFolder();
    frmPasser().txtAppPath = state.programFolder;

    state.language = LanguageName();
    state.texts = MainMenuTexts(LoadMainMenuTexts(state.language));
    if (EndProgramCount() != endsBefore) {
        state.ended = true;
        return state;
    }
    LoadFATMiscTexts(state.language);

    if (AnotherCopyIsRunning()) {
        platform::MsgBox(state.texts.Entry(25) + "\r\n\r\n" + state.texts.Entry(26), platform::vbCritical,
                         state.texts.Message(3));
        EndProgram();
        state.ended = true;
        return state;
    }

    if (const char* windir = std::getenv("windir")) state.windowsFolder = windir;
    state.documentsFolder = engine::GetSpecialFolderPath(CSIDL_PERSONAL);
    return state;
}

NextStep NextStepFor(MenuOption option) {
    switch (option) {
    case MenuOption::Recover: return NextStep::ShowWizard;
    case MenuOption::View: return NextStep::ShowViewer;
    case MenuOption::Advanced: return NextStep::ShowTools;
    case MenuOption::Help: return NextStep::ShowAbout;
    case MenuOption::Updates: return NextStep::OpenDownloadPage;
    case MenuOption::None: break;
    }
    return NextStep::AskForOption;
}

const char* WindowFor(NextStep step) {
    switch (step) {
    case NextStep::ShowWizard: return "frmMain";
    case NextStep::ShowViewer: return "frmView";
    case NextStep::ShowTools: return "frmAdvTools";
    case NextStep::ShowAbout: return "frmAbout";
    default: return "";
    }
}

void ShowNoOptionMessage(const MainMenuTexts& texts) {
    platform::MsgBox(texts.Message(8), platform::vbCritical, texts.Message(9));
}

bool ConfirmClose(const MainMenuTexts& texts) {
    return platform::MsgBox(texts.Message(6), platform::vbYesNo | platform::vbQuestion, texts.Message(7)) ==
           platform::IDYES;
}

void ShowWindowMissingMessage(const MainMenuTexts& texts, const std::string& window) {
    const char* what = window == "frmMain"       ? "The recovery wizard"
                       : window == "frmView"     ? "The viewer of recovered files"
                       : window == "frmAdvTools" ? "The advanced tools window"
                                                 : "This window";
    platform::MsgBox(std::string(what) +
                         " is not available in this version of Tranquo yet.\r\n\r\n"
                         "Until it is, tranquo-cli does the same work from a terminal (see the README).",
                     platform::vbInformation, texts.Message(3));
}

} // namespace shell

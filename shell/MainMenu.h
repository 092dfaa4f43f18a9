// The main menu's decisions, below its window: loading it (program folder,
// language, texts, the second-copy check), what Next does with each option,
// and its messages.
#pragma once

#include <string>
#include <vector>

namespace shell {

// The main menu's texts: the 26 entries of [MainMenu] (entry 1 the window's
// caption ... entries 12 to 21 message texts 1 to 10, 25 and 26 the lines
// of the second-copy message). Without a language file the design texts
// stand.
class MainMenuTexts {
public:
    MainMenuTexts() = default;
    explicit MainMenuTexts(std::vector<std::string> entries);

    // Entry n (1-based) as loaded, or its design text.
    std::string Entry(int n) const;
    // Message text n (1..10).
    std::string Message(int n) const { return Entry(11 + n); }
    // The loaded entries (empty when no file was read).
    const std::vector<std::string>& Loaded() const { return entries_; }

private:
    std::vector<std::string> entries_;
};

// What loading the main menu found.
struct MainMenuState {
    bool ended = false;          // the program was ended (second copy, no language file)
    std::string programFolder;   // also in frmPasser().txtAppPath
    std::string language;        // the Language folder name
    MainMenuTexts texts;
    std::string windowsFolder;   // WindowsDrive: the "windir" variable (empty on this system)
    std::string documentsFolder; // the user's documents folder
};

// Stores the program folder for every window, determines the language,
// loads [MainMenu] and [FATMisc], and refuses a second copy (the critical
// message from entries 25 and 26, then the program ends). ended is set when
// the program was ended (the end may return where tests hook it).
MainMenuState LoadMainMenu();

enum class MenuOption { None, Recover, View, Advanced, Help, Updates };

// What Next does with the chosen option.
enum class NextStep {
    AskForOption,     // nothing chosen: the critical message, the menu stays as it is
    ShowWizard,       // show frmMain, hide the menu, clear the option
    ShowViewer,       // show frmView, unload the menu
    ShowTools,        // show frmAdvTools, hide the menu, clear the option
    ShowAbout,        // show frmAbout, the menu takes no input until it unloads, clear the option
    OpenDownloadPage, // the download page in the browser
};
NextStep NextStepFor(MenuOption option);
// The window Next opens for a step, or "" (the download page, or no option).
const char* WindowFor(NextStep step);

// The critical message for Next with no option (message texts 8 and 9).
void ShowNoOptionMessage(const MainMenuTexts& texts);
// The close question (message texts 6 and 7); true when the user answers Yes.
bool ConfirmClose(const MainMenuTexts& texts);
// Tells the user that a window of the program is not available in this
// version (the options whose windows are not built).
void ShowWindowMissingMessage(const MainMenuTexts& texts, const std::string& window);

} // namespace shell

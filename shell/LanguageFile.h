// Language files: <program folder>/Language/<language>/Language.ini, read
// by position. A section starts at the line that is exactly its header; each
// following line is one entry whose text starts at its 11th character (the
// first ten hold a key such as "LANG260 = ", which only documents the line).
// The file is UTF-16 LE when it starts with FF FE, else Windows-1252; texts
// come back as UTF-8.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace shell {

struct LanguageSection {
    const char* header;
    int count;
};

inline constexpr LanguageSection MainMenuSection{"[MainMenu]", 26};
inline constexpr LanguageSection FATMiscSection{"[FATMisc]", 11};
inline constexpr LanguageSection RecoveryWizardSection{"[RecoveryWizard]", 86};
inline constexpr LanguageSection AdvancedToolsSection{"[AdvancedTools]", 27};
inline constexpr LanguageSection AdvToolsMiscSection{"[AdvToolsMisc]", 39};
inline constexpr LanguageSection ImageViewerSection{"[ImageViewer]", 23};
inline constexpr LanguageSection HelpandSupportSection{"[HelpandSupport]", 20};
// Words and messages more than one window shows (see DesktopTexts.h).
inline constexpr LanguageSection DesktopTextsSection{"[DesktopTexts]", 14};
inline constexpr LanguageSection AllSections[] = {
    MainMenuSection,      FATMiscSection,     RecoveryWizardSection, AdvancedToolsSection,
    AdvToolsMiscSection,  ImageViewerSection, HelpandSupportSection, DesktopTextsSection,
};

inline constexpr const char* DefaultLanguage = "English";

// The folder name of the user's language: the locale's English language
// name ("German"); for English, "English - US" when the country is the
// United States, else "English".
std::string LanguageName();

// The file of a language, under frmPasser().txtAppPath (or the program
// folder while that is not yet set).
std::string LanguageFilePath(const std::string& language);

// The entry texts of one section (index 0 holds entry 1), exactly count of
// them: lines missing at the end of the file give empty texts, and when the
// section is shorter than count the lines after it are taken as they come.
// nullopt when the file does not exist or cannot be opened, and when the
// header is not in the file (the search stops at the end of the file and
// the caller keeps its texts).
std::optional<std::vector<std::string>> ReadLanguageSection(const std::string& language,
                                                            const std::string& header, int count);

// ReadLanguageSection for the language; when that gives nothing (file or
// section missing) and the language is not English, the same for English;
// when that gives nothing either, the English texts built into the program.
// Empty only for a section that none of them has.
std::vector<std::string> LoadSectionWithFallback(const std::string& language, const std::string& header,
                                                 int count);

// [FATMisc]: entries 1-5 into frmPasser().LANG[377..381], entries 7-11 into
// LANG[383..387] (entry 6 is not used); English stands in for a missing
// file, the built-in English texts when no file can be read.
void LoadFATMiscTexts(const std::string& language);

// [AdvToolsMisc]: entry n into frmPasser().LANG[230 + n], n = 1..39, with
// the same English fallback.
void LoadAdvToolsMiscTexts(const std::string& language);

// The main menu's texts ([MainMenu], 26 entries, index 0 = entry 1). A
// missing file of a language other than English goes to DefaultToEnglish.
// A missing English file gives an empty result (the menu keeps its own
// captions). A file without the section falls back to English silently.
std::vector<std::string> LoadMainMenuTexts(const std::string& language);

// Proves that the English file exists and loads the main menu's texts from
// it; without it, shows the fatal message (critical icon) and ends the
// program through the end-program hook. Empty when the hook returns.
std::vector<std::string> DefaultToEnglish();

// What "end the program" does after the fatal language message and the
// second-copy message; by default std::exit(1). The desktop program and
// tests install their own; an empty function restores the default.
void SetEndProgramHook(std::function<void()> hook);
// Ends the program through the hook (returns only where a hook returns).
void EndProgram();
// How many times EndProgram was called in this process.
int EndProgramCount();

// The fatal message's texts, as shown.
inline constexpr const char* FatalLanguageTitle = "Calvesse - Photo Edition Error";
std::string FatalLanguageMessage();

} // namespace shell

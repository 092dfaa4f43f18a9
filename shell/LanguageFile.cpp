#include "shell/LanguageFile.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "engine/FileHelpers.h"
#include "platform/locale.h"
#include "platform/ui.h"
#include "shell/frmPasser.h"
#include "support/ProgramFolder.h"

namespace shell {

namespace builtin {
extern const unsigned char EnglishLanguageFile[];
extern const std::size_t EnglishLanguageFileSize;
} // namespace builtin

namespace {

constexpr std::size_t kKeyCharacters = 10;
constexpr int kFirstAdvToolsMiscBox = 231;
constexpr int kFirstFATMiscBox = 377;

std::function<void()>& EndProgramHook() {
    static std::function<void()> hook;
    return hook;
}

int& EndProgramCalls() {
    static int calls = 0;
    return calls;
}

} // namespace

void EndProgram() {
    ++EndProgramCalls();
    if (auto& hook = EndProgramHook()) {
        hook();
        return;
    }
    std::exit(1);
}

int EndProgramCount() { return EndProgramCalls(); }

namespace {

std::string LocaleText(LCTYPE type) {
    const int needed = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, nullptr, 0);
    if (needed <= 0) return {};
    std::string text(static_cast<std::size_t>(needed), '\0');
    const int got = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, text.data(), needed);
    if (got <= 0) return {};
    text.resize(static_cast<std::size_t>(got - 1)); // without the NUL
    return text;
}

// The text of an entry line: everything from its 11th character on. The
// lines are UTF-8, so characters are counted, not bytes.
std::string EntryText(const std::string& line) {
    std::size_t pos = 0;
    for (std::size_t skipped = 0; skipped < kKeyCharacters && pos < line.size(); ++skipped) {
        ++pos;
        while (pos < line.size() && (static_cast<unsigned char>(line[pos]) & 0xC0) == 0x80) ++pos;
    }
    return line.substr(pos);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool IsEnglish(const std::string& language) { return language == DefaultLanguage; }

} // namespace

std::string LanguageName() {
    std::string language = LocaleText(LOCALE_SENGLANGUAGE);
    if (language.empty()) return DefaultLanguage;
    if (IsEnglish(language)) {
        return LocaleText(LOCALE_SENGCOUNTRY) == "United States" ? "English - US" : "English";
    }
    return language;
}

std::string LanguageFilePath(const std::string& language) {
    std::string folder = frmPasser().txtAppPath;
    if (folder.empty()) folder = support::ProgramFolder();
    return folder + "/Language/" + language + "/Language.ini";
}

namespace {

// The section's entries from an open language file; nullopt without its header.
std::optional<std::vector<std::string>> ReadSection(std::FILE* file, const std::string& header, int count) {
    bool isUnicode = false;
    bool found = false;
    while (!engine::EndOfTextFile(file)) {
        if (engine::ReadTextLine(file, isUnicode) == header) {
            found = true;
            break;
        }
    }
    if (!found) return std::nullopt;

    std::vector<std::string> texts;
    texts.reserve(count > 0 ? static_cast<std::size_t>(count) : 0);
    for (int entry = 0; entry < count; ++entry) {
        texts.push_back(EntryText(engine::ReadTextLine(file, isUnicode)));
    }
    return texts;
}

// The English file as built into the program.
std::optional<std::vector<std::string>> ReadBuiltInEnglishSection(const std::string& header, int count) {
    FilePtr file(::fmemopen(const_cast<unsigned char*>(builtin::EnglishLanguageFile),
                            builtin::EnglishLanguageFileSize, "rb"));
    if (!file) return std::nullopt;
    return ReadSection(file.get(), header, count);
}

} // namespace

std::optional<std::vector<std::string>> ReadLanguageSection(const std::string& language,
                                                            const std::string& header, int count) {
    const std::string path = LanguageFilePath(language);
    if (!engine::FileExists(path)) return std::nullopt;
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return std::nullopt;
    return ReadSection(file.get(), header, count);
}

std::vector<std::string> LoadSectionWithFallback(const std::string& language, const std::string& header,
                                                 int count) {
    if (auto texts = ReadLanguageSection(language, header, count)) return std::move(*texts);
    if (!IsEnglish(language)) {
        if (auto texts = ReadLanguageSection(DefaultLanguage, header, count)) return std::move(*texts);
    }
    // No file to read (a damaged installation): the built-in English texts,
    // so that no question is ever asked without its words.
    if (auto texts = ReadBuiltInEnglishSection(header, count)) return std::move(*texts);
    return {};
}

void LoadFATMiscTexts(const std::string& language) {
    const auto texts = LoadSectionWithFallback(language, FATMiscSection.header, FATMiscSection.count);
    if (texts.size() != static_cast<std::size_t>(FATMiscSection.count)) return;
    auto& store = frmPasser();
    for (int entry = 1; entry <= FATMiscSection.count; ++entry) {
        if (entry == 6) continue; // not used
        store.LANG[kFirstFATMiscBox + entry - 1] = texts[entry - 1];
    }
}

void LoadAdvToolsMiscTexts(const std::string& language) {
    const auto texts = LoadSectionWithFallback(language, AdvToolsMiscSection.header, AdvToolsMiscSection.count);
    if (texts.size() != static_cast<std::size_t>(AdvToolsMiscSection.count)) return;
    auto& store = frmPasser();
    for (int entry = 1; entry <= AdvToolsMiscSection.count; ++entry) {
        store.LANG[kFirstAdvToolsMiscBox + entry - 1] = texts[entry - 1];
    }
}

std::vector<std::string> LoadMainMenuTexts(const std::string& language) {
    if (!engine::FileExists(LanguageFilePath(language))) {
        if (IsEnglish(language)) return {};
        return DefaultToEnglish();
    }
    return LoadSectionWithFallback(language, MainMenuSection.header, MainMenuSection.count);
}

std::string FatalLanguageMessage() {
    return "Fatal Error: Calvesse - Photo Edition is attempting to default to English and cannot find the "
           "English language file!\r\n\r\n"
           "Calvesse - Photo Edition cannot contine and will now close!\r\n\r\n"
           "Please re-install the application to resolve this problem!";
}

std::vector<std::string> DefaultToEnglish() {
    const std::string path = LanguageFilePath(DefaultLanguage);
    FilePtr proof(engine::FileExists(path) ? std::fopen(path.c_str(), "rb") : nullptr);
    if (!proof) {
        platform::MsgBox(FatalLanguageMessage(), platform::vbCritical, FatalLanguageTitle);
        EndProgram();
        return {};
    }
    proof.reset();
    return LoadMainMenuTexts(DefaultLanguage);
}

void SetEndProgramHook(std::function<void()> hook) { EndProgramHook() = std::move(hook); }

} // namespace shell

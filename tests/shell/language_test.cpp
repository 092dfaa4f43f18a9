#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "shell/LanguageFile.h"
#include "shell/frmPasser.h"
#include "TestFolder.h"

using testing_support::TestFolder;
using testing_support::Utf16Le;
using testing_support::WriteBytes;

namespace {

// An entry line by the file convention: the key padded to seven characters,
// " = ", then the text from the 11th character on.
std::string Entry(const std::string& key, const std::string& text) {
    std::string line = key;
    line.resize(7, ' ');
    return line + " = " + text + "\r\n";
}

class LanguageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        savedAppPath_ = shell::frmPasser().txtAppPath;
        shell::frmPasser().txtAppPath = dir_.Path();
        shell::frmPasser().LANG.fill("");
        ui_ = std::make_unique<platform::ScopedUi>(scripted_);
        shell::SetEndProgramHook([this] { ++programEnds_; });
    }
    void TearDown() override {
        shell::SetEndProgramHook({});
        ui_.reset();
        shell::frmPasser().txtAppPath = savedAppPath_;
        shell::frmPasser().LANG.fill("");
    }
    void WriteLanguage(const std::string& language, const std::string& bytes) {
        WriteBytes(dir_ / ("Language/" + language + "/Language.ini"), bytes);
    }
    // count entries "KEYnn   = <prefix>n" under header.
    static std::string Section(const std::string& header, int count, const std::string& prefix) {
        std::string text = header + "\r\n";
        for (int n = 1; n <= count; ++n) text += Entry("K" + std::to_string(n), prefix + std::to_string(n));
        return text;
    }

    TestFolder dir_;
    platform::ScriptedUi scripted_;
    std::unique_ptr<platform::ScopedUi> ui_;
    int programEnds_ = 0;
    std::string savedAppPath_;
};

} // namespace

TEST_F(LanguageFiles, EntriesAreTakenByPositionFromTheEleventhCharacter) {
    WriteLanguage("English", "intro line\r\n[Other]\r\n" + Entry("O1", "other") + "[Test]\r\n" +
                                 Entry("B", "second") + // swapped keys: only the position counts
                                 Entry("A", "first") +
                                 "123456789\r\n" +       // nine characters: empty text
                                 "ABC=Hello World\r\n" + // short key: first six text characters lost
                                 Entry("KEY", " lead and trail  "));
    const auto texts = shell::ReadLanguageSection("English", "[Test]", 5);
    ASSERT_TRUE(texts);
    EXPECT_EQ(*texts, (std::vector<std::string>{"second", "first", "", "World", " lead and trail  "}));
}

TEST_F(LanguageFiles, ShortSectionsRunIntoWhatFollows) {
    WriteLanguage("English", "[A]\r\n" + Entry("A1", "one") + "[B]\r\n" + Entry("B1", "two"));
    EXPECT_EQ(*shell::ReadLanguageSection("English", "[A]", 3),
              (std::vector<std::string>{"one", "", "two"})); // "[B]" is shorter than 11 characters
    EXPECT_EQ(*shell::ReadLanguageSection("English", "[B]", 3), (std::vector<std::string>{"two", "", ""}));
}

TEST_F(LanguageFiles, HeaderMustMatchExactly) {
    WriteLanguage("English", " [Test]\r\n[test]\r\n[Test] \r\n" + Entry("X", "x"));
    EXPECT_FALSE(shell::ReadLanguageSection("English", "[Test]", 1));
    EXPECT_FALSE(shell::ReadLanguageSection("Klingon", "[Test]", 1));
}

TEST_F(LanguageFiles, Utf16FileGivesTheSameTextsAsItsOneByteTwin) {
    WriteLanguage("English", "[Test]\r\n" + Entry("K01", "Gr\xFC\xDF" "e") + Entry("K02", "\xA9 Tranquo"));
    WriteLanguage("German", Utf16Le(u"[Test]\r\nK01     = Gr\u00FC\u00DFe\r\nK02     = \u00A9 Tranquo\r\n"));
    const auto single = shell::ReadLanguageSection("English", "[Test]", 2);
    const auto wide = shell::ReadLanguageSection("German", "[Test]", 2);
    ASSERT_TRUE(single && wide);
    EXPECT_EQ(*single, *wide);
    EXPECT_EQ((*wide)[0], "Grüße");
}

TEST_F(LanguageFiles, KeyCharactersAreCountedAsCharactersNotBytes) {
    WriteLanguage("German", Utf16Le(u"[Test]\r\n\u00C4\u00D6\u00DC\u00C4\u00D6\u00DC\u00C4 = Text\r\n"));
    EXPECT_EQ((*shell::ReadLanguageSection("German", "[Test]", 1))[0], "Text");
}

TEST_F(LanguageFiles, FATMiscFillsItsBoxesAndSkipsEntrySix) {
    WriteLanguage("English", Section("[FATMisc]", 11, "en"));
    shell::frmPasser().LANG[382] = "untouched";
    shell::LoadFATMiscTexts("German"); // no German file: English stands in
    const auto& lang = shell::frmPasser().LANG;
    EXPECT_EQ(lang[377], "en1");
    EXPECT_EQ(lang[381], "en5");
    EXPECT_EQ(lang[382], "untouched");
    EXPECT_EQ(lang[383], "en7");
    EXPECT_EQ(lang[387], "en11");
}

TEST_F(LanguageFiles, AdvToolsMiscUsesTheChosenLanguageFirst) {
    WriteLanguage("English", Section("[AdvToolsMisc]", 39, "en"));
    WriteLanguage("German", Section("[AdvToolsMisc]", 39, "de"));
    shell::LoadAdvToolsMiscTexts("German");
    const auto& lang = shell::frmPasser().LANG;
    EXPECT_EQ(lang[231], "de1");
    EXPECT_EQ(lang[260], "de30");
    EXPECT_EQ(lang[269], "de39");
    EXPECT_EQ(lang[230], "");
    EXPECT_EQ(lang[270], "");
}

TEST_F(LanguageFiles, WithoutAnyFileTheBuiltInEnglishTextsStandIn) {
    shell::frmPasser().LANG[231] = "";
    shell::LoadAdvToolsMiscTexts("German");
    // The erase question, never asked without its words.
    EXPECT_NE(shell::frmPasser().LANG[231].find("Secure erase"), std::string::npos);
    const auto viewer = shell::LoadSectionWithFallback("English", "[ImageViewer]", 19);
    ASSERT_EQ(viewer.size(), 19u);
    EXPECT_FALSE(viewer[0].empty());
    EXPECT_TRUE(shell::LoadSectionWithFallback("English", "[NoSuchSection]", 3).empty());
    // The main menu keeps its own rule for a missing English file.
    EXPECT_TRUE(shell::LoadMainMenuTexts("English").empty());
    EXPECT_TRUE(scripted_.boxes.empty());
    EXPECT_EQ(programEnds_, 0);
}

TEST_F(LanguageFiles, SectionMissingFromATranslationFallsBackToEnglish) {
    WriteLanguage("English", Section("[ImageViewer]", 19, "en"));
    WriteLanguage("German", Section("[MainMenu]", 26, "de"));
    const auto texts = shell::LoadSectionWithFallback("German", "[ImageViewer]", 19);
    ASSERT_EQ(texts.size(), 19u);
    EXPECT_EQ(texts[18], "en19");
}

TEST_F(LanguageFiles, MainMenuDefaultsToEnglish) {
    WriteLanguage("English", Section("[MainMenu]", 26, "en"));
    const auto texts = shell::LoadMainMenuTexts("French");
    ASSERT_EQ(texts.size(), 26u);
    EXPECT_EQ(texts[0], "en1");
    EXPECT_EQ(texts[25], "en26");
    EXPECT_TRUE(scripted_.boxes.empty());
}

TEST_F(LanguageFiles, MainMenuWithoutAnyFileShowsTheFatalMessageAndEnds) {
    EXPECT_TRUE(shell::LoadMainMenuTexts("English - US").empty());
    ASSERT_EQ(scripted_.boxes.size(), 1u);
    const auto& box = scripted_.boxes[0];
    EXPECT_EQ(box.title, "Calvesse - Photo Edition Error");
    EXPECT_EQ(box.style & platform::IconMask, platform::vbCritical);
    EXPECT_EQ(box.text,
              "Fatal Error: Calvesse - Photo Edition is attempting to default to English and cannot find the "
              "English language file!\r\n\r\nCalvesse - Photo Edition cannot contine and will now close!\r\n\r\n"
              "Please re-install the application to resolve this problem!");
    EXPECT_EQ(programEnds_, 1);
}

namespace {

class ScopedLocale {
public:
    explicit ScopedLocale(const char* value) {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const char* old = std::getenv(name);
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            ::unsetenv(name);
        }
        ::setenv("LC_ALL", value, 1);
    }
    ~ScopedLocale() {
        for (const auto& [name, value] : saved_) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace

TEST(LanguageName, EnglishDependsOnTheCountry) {
    {
        ScopedLocale locale("en_US.UTF-8");
        EXPECT_EQ(shell::LanguageName(), "English - US");
    }
    {
        ScopedLocale locale("en_GB.UTF-8");
        EXPECT_EQ(shell::LanguageName(), "English");
    }
    {
        ScopedLocale locale("de_DE.UTF-8");
        EXPECT_EQ(shell::LanguageName(), "German");
    }
    {
        ScopedLocale locale("C");
        EXPECT_EQ(shell::LanguageName(), "English - US");
    }
}

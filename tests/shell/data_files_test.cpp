// Checks the program folder's shipped data: the language files and the two
// name lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "shell/LanguageFile.h"
#include "shell/frmPasser.h"

namespace {

const char* const kShippedLanguages[] = {"English", "English - US", "German"};

// The folder the build copies the data files into.
std::string ShippedFolder() {
    if (const char* folder = std::getenv("TRANQUO_PROGRAM_DIR"); folder && *folder) return folder;
    return TRANQUO_BUILT_PROGRAM_DIR;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class ShippedData : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = shell::frmPasser().txtAppPath;
        shell::frmPasser().txtAppPath = ShippedFolder();
    }
    void TearDown() override { shell::frmPasser().txtAppPath = saved_; }
    std::string saved_;
};

} // namespace

TEST_F(ShippedData, EveryLanguageHasEverySectionAtItsCountWithoutEmptyEntries) {
    for (const char* language : kShippedLanguages) {
        for (const auto& section : shell::AllSections) {
            SCOPED_TRACE(std::string(language) + " " + section.header);
            // One line more than the count: it must not be an entry any more.
            const auto texts = shell::ReadLanguageSection(language, section.header, section.count + 1);
            ASSERT_TRUE(texts) << "section missing";
            for (int n = 0; n < section.count; ++n) {
                EXPECT_FALSE((*texts)[n].empty()) << "entry " << n + 1 << " is empty";
                EXPECT_NE((*texts)[n].front(), ' ') << "entry " << n + 1 << " is not at character 11";
            }
            EXPECT_TRUE((*texts)[section.count].empty()) << "more entries than " << section.count;
        }
    }
}

TEST_F(ShippedData, EncodingsAndLineEnds) {
    const std::string folder = ShippedFolder() + "/Language/";
    const std::string german = ReadFile(folder + "German/Language.ini");
    ASSERT_GE(german.size(), 2u);
    EXPECT_EQ(german.substr(0, 2), "\xFF\xFE");
    EXPECT_NE(german.find(std::string("\r\0\n\0", 4)), std::string::npos);
    for (const char* language : {"English", "English - US"}) {
        const std::string text = ReadFile(folder + language + "/Language.ini");
        ASSERT_FALSE(text.empty()) << language;
        EXPECT_NE(text.substr(0, 2), "\xFF\xFE") << language;
        EXPECT_EQ(text.find('\0'), std::string::npos) << language;
        // Every line ends in CR LF.
        for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
            ASSERT_GT(at, 0u);
            ASSERT_EQ(text[at - 1], '\r') << language << " at byte " << at;
        }
    }
}

TEST_F(ShippedData, TranslationsReallyDiffer) {
    const auto english = shell::LoadSectionWithFallback("English", "[MainMenu]", 26);
    const auto german = shell::LoadSectionWithFallback("German", "[MainMenu]", 26);
    ASSERT_EQ(english.size(), 26u);
    ASSERT_EQ(german.size(), 26u);
    EXPECT_EQ(german[10], "Schließen");
    EXPECT_NE(english[10], german[10]);
}

namespace {

// Lines of a name list, trimmed, as the engine keeps them.
std::vector<std::string> ListLines(const std::string& name) {
    const std::string text = ReadFile(ShippedFolder() + "/" + name);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The characters a pattern's base name matches, a bracketed set counting as
// one (a "*" matches any run and is counted as nothing).
std::size_t BaseNameLength(const std::string& pattern) {
    std::size_t length = 0;
    bool inSet = false;
    for (char c : pattern) {
        if (c == '.' && !inSet) break;
        if (c == '[') inSet = true;
        if (inSet) {
            if (c == ']') {
                inSet = false;
                ++length;
            }
        } else if (c != '*') {
            ++length;
        }
    }
    return length;
}

} // namespace

TEST(NameLists, PatternsRestoreALiteralFirstLetter) {
    for (const char* name : {"stddirs.lis", "stdfiles.lis"}) {
        SCOPED_TRACE(name);
        const auto lines = ListLines(name);
        ASSERT_GT(lines.size(), 10u);
        std::set<std::string> seen;
        for (const auto& line : lines) {
            // The first character is what a deleted name gets back.
            EXPECT_EQ(std::string("?*#[").find(line[0]), std::string::npos) << line;
            EXPECT_LE(BaseNameLength(line), 8u) << "no 8.3 short name: " << line;
            EXPECT_TRUE(seen.insert(line).second) << "duplicate " << line;
            int depth = 0;
            for (char c : line) {
                depth += (c == '[') - (c == ']');
                EXPECT_GE(depth, 0) << line;
                EXPECT_FALSE(c >= 'a' && c <= 'z') << "short names are upper case: " << line;
            }
            EXPECT_EQ(depth, 0) << line;
        }
    }
    const auto files = ListLines("stdfiles.lis");
    for (const char* expected : {"DSC?????.JPG", "IMG_####.JPG", "MVI_####.MOV", "MOV?????.AVI", "P???????.JPG"}) {
        EXPECT_NE(std::find(files.begin(), files.end(), expected), files.end()) << expected;
    }
    // The catch-all comes last, or it would hide every more specific name.
    EXPECT_EQ(files.back(), "P???????.JPG");
    const auto dirs = ListLines("stddirs.lis");
    EXPECT_EQ(dirs.front(), "DCIM");
}

// GetLocaleInfoA from the locale variables.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/fileapi.h"
#include "platform/locale.h"

namespace {

class LocaleInfo : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LC_NUMERIC", "LANG"}) {
            if (const char* value = std::getenv(name)) saved_.emplace_back(name, value);
            ::unsetenv(name);
        }
    }
    void TearDown() override {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LC_NUMERIC", "LANG"}) ::unsetenv(name);
        for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
    }
    static std::string Info(LCTYPE type) {
        char text[80] = {};
        int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, text, sizeof text);
        return n > 0 ? std::string(text) : "<failed>";
    }

private:
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(LocaleInfo, LanguageAndCountryComeFromTheFirstVariableSet) {
    ::setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(Info(LOCALE_SENGLANGUAGE), "German");
    EXPECT_EQ(Info(LOCALE_SENGCOUNTRY), "Germany");
    EXPECT_EQ(Info(LOCALE_SNATIVECTRYNAME), "Deutschland");
    EXPECT_EQ(Info(LOCALE_SDECIMAL), ",");

    ::setenv("LC_MESSAGES", "en_US.UTF-8", 1);
    EXPECT_EQ(Info(LOCALE_SENGLANGUAGE), "English");
    EXPECT_EQ(Info(LOCALE_SENGCOUNTRY), "United States");
    EXPECT_EQ(Info(LOCALE_SDECIMAL), ","); // numbers still follow LANG

    ::setenv("LC_ALL", "en_GB", 1);
    EXPECT_EQ(Info(LOCALE_SENGCOUNTRY), "United Kingdom");
    EXPECT_EQ(Info(LOCALE_SNATIVECTRYNAME), "United Kingdom");
    EXPECT_EQ(Info(LOCALE_SDECIMAL), ".");

    ::setenv("LC_ALL", "fr_CA.UTF-8@euro", 1);
    EXPECT_EQ(Info(LOCALE_SENGLANGUAGE), "French");
    EXPECT_EQ(Info(LOCALE_SENGCOUNTRY), "Canada");
    EXPECT_EQ(Info(LOCALE_SISO3166CTRYNAME), "CA");
}

TEST_F(LocaleInfo, PlainAndUnknownLocalesFallBackSensibly) {
    for (const char* plain : {"C", "POSIX", "C.UTF-8", ""}) {
        ::setenv("LANG", plain, 1);
        EXPECT_EQ(Info(LOCALE_SENGLANGUAGE), "English") << plain;
        EXPECT_EQ(Info(LOCALE_SENGCOUNTRY), "United States") << plain;
    }
    ::setenv("LANG", "nl", 1); // no country: the language's own
    EXPECT_EQ(Info(LOCALE_SENGLANGUAGE), "Dutch");
    EXPECT_EQ(Info(LOCALE_SENGCOUNTRY), "Netherlands");
    ::setenv("LANG", "xx_DE", 1); // an unknown language reads as English
    EXPECT_EQ(Info(LOCALE_SENGLANGUAGE), "English");
    EXPECT_EQ(Info(LOCALE_SENGCOUNTRY), "Germany");
}

TEST_F(LocaleInfo, BufferSizesFollowTheWindowsRules) {
    ::setenv("LANG", "de_AT", 1);
    EXPECT_EQ(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SENGCOUNTRY, nullptr, 0), 8); // "Austria" and its NUL
    char exact[8];
    EXPECT_EQ(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SENGCOUNTRY, exact, 8), 8);
    EXPECT_STREQ(exact, "Austria");
    char small[4];
    EXPECT_EQ(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SENGCOUNTRY, small, sizeof small), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, 0x7777, exact, sizeof exact), 0);
    EXPECT_EQ(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE | LOCALE_NOUSEROVERRIDE, exact, 8), 7);
    EXPECT_STREQ(exact, "German");
}

} // namespace

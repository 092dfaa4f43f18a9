// GetLocaleInfoA from the POSIX locale variables, with the names Windows gives.
#include "platform/locale.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/fileapi.h"

namespace {

struct Language {
    const char* code;
    const char* english;
    const char* native;
    const char* country;   // the usual country when none is given
    const char* decimal;
    const char* thousand;
};

struct Country {
    const char* code;
    const char* english;
    const char* native;
};

constexpr Language Languages[] = {
    {"en", "English", "English", "US", ".", ","},
    {"de", "German", "Deutsch", "DE", ",", "."},
    {"fr", "French", "Français", "FR", ",", " "},
    {"es", "Spanish", "Español", "ES", ",", "."},
    {"it", "Italian", "Italiano", "IT", ",", "."},
    {"nl", "Dutch", "Nederlands", "NL", ",", "."},
    {"pt", "Portuguese", "Português", "PT", ",", "."},
    {"pl", "Polish", "Polski", "PL", ",", " "},
    {"sv", "Swedish", "Svenska", "SE", ",", " "},
    {"da", "Danish", "Dansk", "DK", ",", "."},
    {"nb", "Norwegian", "Norsk", "NO", ",", " "},
    {"nn", "Norwegian", "Norsk", "NO", ",", " "},
    {"no", "Norwegian", "Norsk", "NO", ",", " "},
    {"fi", "Finnish", "Suomi", "FI", ",", " "},
    {"cs", "Czech", "Čeština", "CZ", ",", " "},
    {"sk", "Slovak", "Slovenčina", "SK", ",", " "},
    {"hu", "Hungarian", "Magyar", "HU", ",", " "},
    {"ro", "Romanian", "Română", "RO", ",", "."},
    {"sl", "Slovenian", "Slovenščina", "SI", ",", "."},
    {"hr", "Croatian", "Hrvatski", "HR", ",", "."},
    {"sr", "Serbian", "Srpski", "RS", ",", "."},
    {"bg", "Bulgarian", "Български", "BG", ",", " "},
    {"ru", "Russian", "Русский", "RU", ",", " "},
    {"uk", "Ukrainian", "Українська", "UA", ",", " "},
    {"el", "Greek", "Ελληνικά", "GR", ",", "."},
    {"tr", "Turkish", "Türkçe", "TR", ",", "."},
    {"he", "Hebrew", "עברית", "IL", ".", ","},
    {"ar", "Arabic", "العربية", "SA", ".", ","},
    {"ja", "Japanese", "日本語", "JP", ".", ","},
    {"zh", "Chinese", "中文", "CN", ".", ","},
    {"ko", "Korean", "한국어", "KR", ".", ","},
    {"th", "Thai", "ไทย", "TH", ".", ","},
    {"vi", "Vietnamese", "Tiếng Việt", "VN", ",", "."},
    {"id", "Indonesian", "Bahasa Indonesia", "ID", ",", "."},
    {"ms", "Malay", "Bahasa Melayu", "MY", ".", ","},
    {"hi", "Hindi", "हिंदी", "IN", ".", ","},
    {"ca", "Catalan", "Català", "ES", ",", "."},
    {"lt", "Lithuanian", "Lietuvių", "LT", ",", " "},
    {"lv", "Latvian", "Latviešu", "LV", ",", " "},
    {"et", "Estonian", "Eesti", "EE", ",", " "},
    {"is", "Icelandic", "Íslenska", "IS", ",", "."},
    {"af", "Afrikaans", "Afrikaans", "ZA", ",", " "},
};

constexpr Country Countries[] = {
    {"US", "United States", "United States"},
    {"GB", "United Kingdom", "United Kingdom"},
    {"IE", "Ireland", "Ireland"},
    {"AU", "Australia", "Australia"},
    {"NZ", "New Zealand", "New Zealand"},
    {"CA", "Canada", "Canada"},
    {"ZA", "South Africa", "South Africa"},
    {"IN", "India", "India"},
    {"SG", "Singapore", "Singapore"},
    {"PH", "Philippines", "Philippines"},
    {"DE", "Germany", "Deutschland"},
    {"AT", "Austria", "Österreich"},
    {"CH", "Switzerland", "Schweiz"},
    {"LI", "Liechtenstein", "Liechtenstein"},
    {"LU", "Luxembourg", "Luxembourg"},
    {"FR", "France", "France"},
    {"BE", "Belgium", "Belgique"},
    {"ES", "Spain", "España"},
    {"MX", "Mexico", "México"},
    {"AR", "Argentina", "Argentina"},
    {"CO", "Colombia", "Colombia"},
    {"CL", "Chile", "Chile"},
    {"PE", "Peru", "Perú"},
    {"VE", "Venezuela", "Venezuela"},
    {"IT", "Italy", "Italia"},
    {"NL", "Netherlands", "Nederland"},
    {"PT", "Portugal", "Portugal"},
    {"BR", "Brazil", "Brasil"},
    {"PL", "Poland", "Polska"},
    {"SE", "Sweden", "Sverige"},
    {"DK", "Denmark", "Danmark"},
    {"NO", "Norway", "Norge"},
    {"FI", "Finland", "Suomi"},
    {"CZ", "Czech Republic", "Česká republika"},
    {"SK", "Slovakia", "Slovensko"},
    {"HU", "Hungary", "Magyarország"},
    {"RO", "Romania", "România"},
    {"SI", "Slovenia", "Slovenija"},
    {"HR", "Croatia", "Hrvatska"},
    {"RS", "Serbia", "Srbija"},
    {"BG", "Bulgaria", "България"},
    {"RU", "Russia", "Россия"},
    {"UA", "Ukraine", "Україна"},
    {"GR", "Greece", "Ελλάδα"},
    {"TR", "Turkey", "Türkiye"},
    {"IL", "Israel", "ישראל"},
    {"SA", "Saudi Arabia", "المملكة العربية السعودية"},
    {"EG", "Egypt", "مصر"},
    {"JP", "Japan", "日本"},
    {"CN", "People's Republic of China", "中华人民共和国"},
    {"TW", "Taiwan", "台灣"},
    {"HK", "Hong Kong S.A.R.", "香港特別行政區"},
    {"KR", "Korea", "대한민국"},
    {"TH", "Thailand", "ไทย"},
    {"VN", "Vietnam", "Việt Nam"},
    {"ID", "Indonesia", "Indonesia"},
    {"MY", "Malaysia", "Malaysia"},
    {"LT", "Lithuania", "Lietuva"},
    {"LV", "Latvia", "Latvija"},
    {"EE", "Estonia", "Eesti"},
    {"IS", "Iceland", "Ísland"},
};

struct LocaleName {
    std::string language; // "de"
    std::string country;  // "DE", or empty
};

std::string FirstSet(const char* a, const char* b, const char* c) {
    for (const char* name : {a, b, c}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return "";
}

// "de_DE.UTF-8@euro" → de, DE. "C", "POSIX" and anything unreadable → en, US.
LocaleName Parse(const std::string& text) {
    LocaleName name;
    std::size_t end = text.find_first_of(".@");
    std::string base = text.substr(0, end);
    std::size_t separator = base.find_first_of("_-");
    name.language = base.substr(0, separator);
    if (separator != std::string::npos) name.country = base.substr(separator + 1);
    for (char& c : name.language) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : name.country) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name.language.empty() || name.language == "c" || name.language == "posix") return {"en", "US"};
    return name;
}

const Language& LanguageOf(const LocaleName& name) {
    for (const auto& language : Languages)
        if (name.language == language.code) return language;
    return Languages[0];
}

const Country* CountryOf(const std::string& code) {
    for (const auto& country : Countries)
        if (code == country.code) return &country;
    return nullptr;
}

const Country& CountryFor(const LocaleName& name) {
    if (const Country* country = CountryOf(name.country)) return *country;
    if (const Country* usual = CountryOf(LanguageOf(name).country)) return *usual;
    return Countries[0];
}

bool Lookup(LCTYPE type, std::string* text) {
    LocaleName messages = Parse(FirstSet("LC_ALL", "LC_MESSAGES", "LANG"));
    LocaleName numeric = Parse(FirstSet("LC_ALL", "LC_NUMERIC", "LANG"));
    switch (type) {
    case LOCALE_SENGLANGUAGE: *text = LanguageOf(messages).english; return true;
    case LOCALE_SNATIVELANGNAME: *text = LanguageOf(messages).native; return true;
    case LOCALE_SENGCOUNTRY: *text = CountryFor(messages).english; return true;
    case LOCALE_SNATIVECTRYNAME: *text = CountryFor(messages).native; return true;
    case LOCALE_SISO639LANGNAME: *text = LanguageOf(messages).code; return true;
    case LOCALE_SISO3166CTRYNAME: *text = CountryFor(messages).code; return true;
    case LOCALE_SDECIMAL: *text = LanguageOf(numeric).decimal; return true;
    case LOCALE_STHOUSAND: *text = LanguageOf(numeric).thousand; return true;
    default: return false;
    }
}

} // namespace

int GetLocaleInfoA(LCID, LCTYPE type, char* data, int dataSize) {
    std::string text;
    if (!Lookup(type & ~(LOCALE_NOUSEROVERRIDE | 0x40000000u), &text) || dataSize < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int needed = static_cast<int>(text.size()) + 1;
    if (dataSize == 0) return needed;
    if (!data || dataSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(data, text.c_str(), static_cast<std::size_t>(needed));
    return needed;
}

#include "engine/TextEncoding.h"

#include <string_view>

#include "platform/oleauto.h"

namespace engine {

namespace {

// Windows-1252 at 0x80..0x9F; 0 marks the undefined bytes, which keep their
// own code (as Windows' conversion does).
constexpr char32_t Cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

} // namespace

std::string Utf8FromCp1252(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        char32_t cp = b;
        if (b >= 0x80 && b <= 0x9F && Cp1252High[b - 0x80] != 0) cp = Cp1252High[b - 0x80];
        platform::AppendUtf8(out, cp);
    }
    return out;
}

std::string Utf8FromUtf16Units(const char16_t* units, std::size_t count) {
    return platform::Utf8FromUtf16(std::u16string_view(units, count));
}

std::u32string CodePointsOf(const std::string& text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        bool ok = extra >= 0 && i + static_cast<std::size_t>(extra) < text.size() + (extra == 0 ? 1 : 0);
        char32_t cp = 0;
        if (ok) {
            cp = extra == 0 ? c : (c & (0x3F >> extra));
            for (int k = 1; k <= extra && ok; ++k) {
                const auto d = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
                ok = (d & 0xC0) == 0x80;
                cp = (cp << 6) | (d & 0x3F);
            }
        }
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

std::string Utf8FromCodePoints(const std::u32string& text) {
    std::string out;
    for (char32_t cp : text) platform::AppendUtf8(out, cp);
    return out;
}

} // namespace engine

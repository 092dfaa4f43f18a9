#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/oleauto.h"

// Constant-initialised, so other files may use them during their own static
// initialisation.
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_NULL = {};

bool operator==(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads exactly `digits` hex digits at text[pos].
bool ReadHex(const std::string& text, std::size_t pos, int digits, std::uint32_t* value) {
    if (pos + digits > text.size()) return false;
    std::uint32_t v = 0;
    for (int i = 0; i < digits; ++i) {
        int d = HexDigit(text[pos + i]);
        if (d < 0) return false;
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    *value = v;
    return true;
}

} // namespace

bool ParseGuid(const std::string& input, GUID* guid) {
    if (!guid) return false;
    std::string text = input;
    if (!text.empty() && text.front() == '{') {
        if (text.size() < 2 || text.back() != '}') return false;
        text = text.substr(1, text.size() - 2);
    }
    // 8-4-4-4-12
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return false;
    GUID g{};
    std::uint32_t v = 0;
    if (!ReadHex(text, 0, 8, &v)) return false;
    g.Data1 = v;
    if (!ReadHex(text, 9, 4, &v)) return false;
    g.Data2 = static_cast<std::uint16_t>(v);
    if (!ReadHex(text, 14, 4, &v)) return false;
    g.Data3 = static_cast<std::uint16_t>(v);
    static constexpr std::size_t bytePositions[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text, bytePositions[i], 2, &v)) return false;
        g.Data4[i] = static_cast<std::uint8_t>(v);
    }
    *guid = g;
    return true;
}

std::string FormatGuid(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

GUID MakeGuid(const char* text) {
    GUID g{};
    // A malformed constant is a programming error; fail loudly at start-up.
    if (!text || !ParseGuid(text, &g)) throw std::invalid_argument(std::string("malformed GUID constant: ") + (text ? text : "(null)"));
    return g;
}

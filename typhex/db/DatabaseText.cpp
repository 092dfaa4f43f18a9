// The text source of a signature database:
//
//   type "JPG"
//     description "JPEG image"
//     category photo            (photo, video, audio, other, or 1..127)
//     search yes                (yes or no: AllowSearch)
//     signature
//       start FFD8FFxx          (hex, xx for a byte that does not matter)
//       content 4 66747970      (offset in bytes, then the pattern)
//       end FFD9                (one line per end-of-file pattern)
//       fixed 4096              (files of one size; "filesize N" keeps a
//                                size that is not marked fixed)
//
// Lines starting with # are comments. Texts are quoted; \" \\ and \xHH
// escape inside them. Texts are UTF-8 in the source and must lie in the
// stored range (codes above 5 up to 255).
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "DatabaseRecords.h"

namespace typhexdb {
namespace {

const char* const CategoryNames[] = {"", "photo", "video", "audio", "other"};

std::runtime_error LineError(int line, const std::string& message) {
    return std::runtime_error("line " + std::to_string(line) + ": " + message);
}

// UTF-8 to code points, each of which must fit one byte here.
std::u16string DecodeUtf8(const std::string& text, int line) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned code = 0;
        std::size_t extra = 0;
        if (c < 0x80) code = c;
        else if ((c & 0xE0) == 0xC0) code = c & 0x1F, extra = 1;
        else if ((c & 0xF0) == 0xE0) code = c & 0x0F, extra = 2;
        else if ((c & 0xF8) == 0xF0) code = c & 0x07, extra = 3;
        else throw LineError(line, "the text is not UTF-8");
        if (extra && i + extra >= text.size()) throw LineError(line, "the text is not UTF-8");
        for (std::size_t k = 1; k <= extra; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) throw LineError(line, "the text is not UTF-8");
            code = (code << 6) | (next & 0x3F);
        }
        if (code > 0xFF) throw LineError(line, "a character above code 255 cannot be stored");
        out += static_cast<char16_t>(code);
        i += extra + 1;
    }
    return out;
}

std::string EncodeText(const std::u16string& text) {
    std::string out = "\"";
    for (char16_t c : text) {
        if (c == u'"' || c == u'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c > 0xFF) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(c & 0xFF));
            out += escape;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out + "\"";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::u16string ParseQuoted(const std::string& value, int line) {
    if (value.size() < 2 || value.front() != '"' || value.back() != '"')
        throw LineError(line, "a text must be in double quotes");
    std::string raw;
    std::u16string out;
    const std::string inner = value.substr(1, value.size() - 2);
    auto flush = [&] {
        out += DecodeUtf8(raw, line);
        raw.clear();
    };
    for (std::size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] != '\\') {
            if (inner[i] == '"') throw LineError(line, "a quote inside a text must be written \\\"");
            raw += inner[i];
            continue;
        }
        if (i + 1 >= inner.size()) throw LineError(line, "a text ends with a lone backslash");
        char next = inner[++i];
        if (next == '"' || next == '\\') {
            raw += next;
        } else if (next == 'x' && i + 2 < inner.size() && HexDigit(inner[i + 1]) >= 0 && HexDigit(inner[i + 2]) >= 0) {
            flush();
            out += static_cast<char16_t>(HexDigit(inner[i + 1]) * 16 + HexDigit(inner[i + 2]));
            i += 2;
        } else {
            throw LineError(line, "unknown escape in a text");
        }
    }
    flush();
    return out;
}

Pattern ParsePattern(const std::string& value, int line) {
    if (value.size() % 2 != 0) throw LineError(line, "a pattern needs two hex digits (or xx) per byte");
    Pattern pattern;
    for (std::size_t i = 0; i < value.size(); i += 2) {
        if ((value[i] == 'x' || value[i] == 'X') && (value[i + 1] == 'x' || value[i + 1] == 'X')) {
            pattern.push_back(256);
            continue;
        }
        int high = HexDigit(value[i]), low = HexDigit(value[i + 1]);
        if (high < 0 || low < 0) throw LineError(line, "\"" + value + "\" is not a pattern of hex bytes and xx");
        pattern.push_back(static_cast<std::uint16_t>(high * 16 + low));
    }
    if (pattern.size() > 255) throw LineError(line, "a pattern has at most 255 bytes");
    return pattern;
}

std::string PrintPattern(const Pattern& pattern) {
    std::string out;
    char digits[4];
    for (auto entry : pattern) {
        if (entry & 0xFF00) {
            out += "xx";
        } else {
            std::snprintf(digits, sizeof digits, "%02X", entry);
            out += digits;
        }
    }
    return out;
}

std::int32_t ParseNumber(const std::string& value, int line) {
    try {
        std::size_t used = 0;
        long long number = std::stoll(value, &used, 0);
        if (used != value.size() || number < INT32_MIN || number > INT32_MAX) throw std::invalid_argument(value);
        return static_cast<std::int32_t>(number);
    } catch (const std::logic_error&) {
        throw LineError(line, "\"" + value + "\" is not a 32-bit number");
    }
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

} // namespace

Database Parse(const std::string& text) {
    Database database;
    std::istringstream lines(text);
    std::string rawLine;
    int line = 0;
    TypeRecord* type = nullptr;
    SignatureRecord* signature = nullptr;
    while (std::getline(lines, rawLine)) {
        ++line;
        const std::string content = Trim(rawLine);
        if (content.empty() || content[0] == '#') continue;
        const auto space = content.find_first_of(" \t");
        const std::string keyword = content.substr(0, space);
        const std::string value = space == std::string::npos ? std::string() : Trim(content.substr(space));
        if (keyword == "type") {
            database.emplace_back();
            type = &database.back();
            signature = nullptr;
            type->extension = ParseQuoted(value, line);
            if (type->extension.size() != 3) throw LineError(line, "an extension has exactly three characters");
            continue;
        }
        if (!type) throw LineError(line, "\"" + keyword + "\" before the first type");
        if (keyword == "description") {
            type->description = ParseQuoted(value, line);
        } else if (keyword == "category") {
            int category = 0;
            for (int i = 1; i <= 4; ++i)
                if (value == CategoryNames[i]) category = i;
            if (category == 0) category = ParseNumber(value, line);
            if (category < 0 || category > 127) throw LineError(line, "a category is photo, video, audio, other or 0..127");
            type->category = category;
        } else if (keyword == "search") {
            if (value != "yes" && value != "no") throw LineError(line, "search is yes or no");
            type->allowSearch = value == "yes";
        } else if (keyword == "signature") {
            type->signatures.emplace_back();
            signature = &type->signatures.back();
        } else if (!signature) {
            throw LineError(line, "\"" + keyword + "\" is no field of a type (or comes before \"signature\")");
        } else if (keyword == "start") {
            signature->start = ParsePattern(value, line);
        } else if (keyword == "content") {
            const auto gap = value.find_first_of(" \t");
            if (gap == std::string::npos) throw LineError(line, "content needs an offset and a pattern");
            ContentRecord record;
            record.offset = ParseNumber(value.substr(0, gap), line);
            record.entries = ParsePattern(Trim(value.substr(gap)), line);
            if (record.entries.empty()) throw LineError(line, "a content pattern must not be empty");
            signature->contents.push_back(std::move(record));
        } else if (keyword == "end") {
            signature->ends.push_back(ParsePattern(value, line));
        } else if (keyword == "fixed") {
            signature->fixedLength = true;
            signature->fileSize = ParseNumber(value, line);
        } else if (keyword == "filesize") {
            signature->fileSize = ParseNumber(value, line);
        } else {
            throw LineError(line, "unknown keyword \"" + keyword + "\"");
        }
    }
    return database;
}

std::string Print(const Database& database) {
    std::ostringstream out;
    for (const TypeRecord& type : database) {
        out << "type " << EncodeText(type.extension) << "\n";
        out << "  description " << EncodeText(type.description) << "\n";
        if (type.category >= 1 && type.category <= 4) out << "  category " << CategoryNames[type.category] << "\n";
        else out << "  category " << type.category << "\n";
        out << "  search " << (type.allowSearch ? "yes" : "no") << "\n";
        for (const SignatureRecord& signature : type.signatures) {
            out << "  signature\n";
            out << "    start " << PrintPattern(signature.start) << "\n";
            for (const ContentRecord& content : signature.contents)
                out << "    content " << content.offset << " " << PrintPattern(content.entries) << "\n";
            for (const Pattern& end : signature.ends) out << "    end " << PrintPattern(end) << "\n";
            if (signature.fixedLength) out << "    fixed " << signature.fileSize << "\n";
            else if (signature.fileSize != 0) out << "    filesize " << signature.fileSize << "\n";
        }
        out << "\n";
    }
    return out.str();
}

} // namespace typhexdb

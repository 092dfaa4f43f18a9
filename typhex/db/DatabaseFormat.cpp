#include <stdexcept>
#include <string>

#include "DatabaseRecords.h"
#include "platform/littleendian.h"
#include "StoredText.h"

namespace typhexdb {
namespace {

using typhex::TextShift;

class Writer {
public:
    void U8(unsigned value) { platform::AppendU8(bytes, value); }
    void U16(unsigned value) { platform::AppendLe16(bytes, value); }
    void I32(std::int32_t value) { platform::AppendLe32(bytes, static_cast<std::uint32_t>(value)); }
    void Count(std::size_t count, const char* what) {
        if (count > 255) throw std::runtime_error(std::string("more than 255 ") + what);
        U8(static_cast<unsigned>(count));
    }
    void Entries(const Pattern& pattern, const char* what) {
        Count(pattern.size(), what);
        for (auto entry : pattern) U16(entry);
    }
    void Text(const std::u16string& text, const char* what) {
        for (char16_t c : text) {
            if (c <= TextShift || c > 255)
                throw std::runtime_error(std::string(what) + " holds a character that cannot be stored (code " +
                                         std::to_string(static_cast<unsigned>(c)) + ")");
            U8(c - TextShift);
        }
    }
    std::vector<std::uint8_t> bytes;
};

class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    unsigned U8() {
        Need(1);
        return bytes_[position_++];
    }
    unsigned U16() {
        Need(2);
        const unsigned value = platform::ReadLe16(bytes_, position_);
        position_ += 2;
        return value;
    }
    std::int32_t I32() {
        Need(4);
        const std::int32_t value = platform::ReadLeI32(bytes_, position_);
        position_ += 4;
        return value;
    }
    Pattern Entries(unsigned count) {
        Pattern pattern;
        for (unsigned i = 0; i < count; ++i) {
            unsigned entry = U16();
            pattern.push_back(static_cast<std::uint16_t>((entry & 0xFF00) ? 256 : entry));
        }
        return pattern;
    }
    std::size_t Position() const { return position_; }

private:
    void Need(std::size_t count) {
        if (position_ + count > bytes_.size())
            throw std::runtime_error("the data ends early, at byte " + std::to_string(position_));
    }
    const std::vector<std::uint8_t>& bytes_;
    std::size_t position_ = 0;
};

} // namespace

std::vector<std::uint8_t> Encode(const Database& database) {
    Writer out;
    if (database.size() > 32767) throw std::runtime_error("more than 32767 file types");
    out.U16(static_cast<unsigned>(database.size()));
    for (const TypeRecord& type : database) {
        if (type.extension.size() != 3) throw std::runtime_error("an extension must have three characters");
        out.Text(type.extension, "the extension");
        out.Text(type.description, "the description");
        out.U8(0);
        out.U8((static_cast<unsigned>(type.category) & 0x7F) | (type.allowSearch ? 0x80 : 0));
        out.Count(type.signatures.size(), "signatures in a type");
        for (const SignatureRecord& signature : type.signatures) {
            out.U8(signature.fixedLength ? 1 : 0);
            out.I32(signature.fileSize);
            out.Entries(signature.start, "positions in a start pattern");
            out.Count(signature.contents.size(), "contents in a signature");
            for (const ContentRecord& content : signature.contents) {
                if (content.entries.empty()) throw std::runtime_error("a content pattern must not be empty");
                out.I32(content.offset);
                out.Entries(content.entries, "positions in a content pattern");
            }
            out.Count(signature.ends.size(), "end patterns in a signature");
            for (const Pattern& end : signature.ends) out.Entries(end, "positions in an end pattern");
        }
    }
    return out.bytes;
}

Database Decode(const std::vector<std::uint8_t>& bytes) {
    Reader in(bytes);
    Database database;
    const auto count = static_cast<std::int16_t>(in.U16());
    for (int t = 0; t < count; ++t) {
        TypeRecord type;
        for (int i = 0; i < 3; ++i) type.extension += static_cast<char16_t>(in.U8() + TextShift);
        for (unsigned c = in.U8(); c != 0; c = in.U8()) type.description += static_cast<char16_t>(c + TextShift);
        const unsigned flags = in.U8();
        type.category = static_cast<int>(flags & 0x7F);
        type.allowSearch = (flags & 0x80) != 0;
        const unsigned signatures = in.U8();
        for (unsigned s = 0; s < signatures; ++s) {
            SignatureRecord signature;
            signature.fixedLength = in.U8() != 0;
            signature.fileSize = in.I32();
            signature.start = in.Entries(in.U8());
            const unsigned contents = in.U8();
            for (unsigned c = 0; c < contents; ++c) {
                ContentRecord content;
                content.offset = in.I32();
                content.entries = in.Entries(in.U8());
                signature.contents.push_back(std::move(content));
            }
            const unsigned ends = in.U8();
            for (unsigned e = 0; e < ends; ++e) signature.ends.push_back(in.Entries(in.U8()));
            type.signatures.push_back(std::move(signature));
        }
        database.push_back(std::move(type));
    }
    return database;
}

} // namespace typhexdb

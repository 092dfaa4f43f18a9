// The shipped database: it loads, it round-trips through typhex-db and the
// library alike, and each signature recognises a header of its own format
// before any other type does.
#include <cstdio>
#include <fstream>

#include "DatabaseRecords.h"
#include "TyphexTestSupport.h"

namespace typhextest {
namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<BYTE> ReadBytes(const std::string& path) {
    const std::string text = ReadText(path);
    return std::vector<BYTE>(text.begin(), text.end());
}

std::string StartText(const typhexdb::Pattern& pattern) {
    std::string text;
    char digits[3];
    for (auto entry : pattern) {
        if (entry > 255) {
            text += "xx";
        } else {
            std::snprintf(digits, sizeof digits, "%02X", entry);
            text += digits;
        }
    }
    return text;
}

class ShippedDatabaseTest : public LibraryTest {
protected:
    ComPtr<ISupportedFileTypes> LoadShipped(bool editMode) {
        auto set = NewSet();
        set->put_EditMode(editMode ? 1 : 0);
        Text name(TYPHEX_BUILT_DATABASE);
        VARIANT_BOOL ok = 0;
        EXPECT_EQ(set->LoadFromFile(name.get(), &ok), S_OK);
        EXPECT_EQ(ok, 1);
        return set;
    }
};

TEST_F(ShippedDatabaseTest, BuiltFileIsTheCompiledSource) {
    const typhexdb::Database source = typhexdb::Parse(ReadText(TYPHEX_SHIPPED_SOURCE));
    const std::vector<BYTE> built = ReadBytes(TYPHEX_BUILT_DATABASE);
    EXPECT_EQ(typhexdb::Encode(source), built);
    // dump, then build, gives the file back; build of the dump dumps the same.
    const std::string dumped = typhexdb::Print(typhexdb::Decode(built));
    EXPECT_EQ(typhexdb::Encode(typhexdb::Parse(dumped)), built);
    EXPECT_EQ(typhexdb::Print(typhexdb::Parse(dumped)), dumped);
    // The library writes the same bytes back.
    auto set = LoadShipped(true);
    Var bytes;
    set->Serialise(&bytes);
    EXPECT_EQ(BytesOf(bytes.get()), built);
}

TEST_F(ShippedDatabaseTest, EveryTypeIsSearchedForWithAKnownCategory) {
    const typhexdb::Database source = typhexdb::Parse(ReadText(TYPHEX_SHIPPED_SOURCE));
    auto set = LoadShipped(false);
    LONG count = 0;
    set->get_ItemCount(&count);
    EXPECT_EQ(count, static_cast<LONG>(source.size()));
    for (const auto& type : source) {
        EXPECT_TRUE(type.allowSearch);
        EXPECT_TRUE(type.category >= 1 && type.category <= 3);
        EXPECT_FALSE(type.signatures.empty());
    }
}

TEST_F(ShippedDatabaseTest, EachSignatureFindsItsOwnSampleFirst) {
    const typhexdb::Database source = typhexdb::Parse(ReadText(TYPHEX_SHIPPED_SOURCE));
    auto set = LoadShipped(false);
    int checked = 0;
    for (const auto& type : source) {
        const std::string extension = platform::Utf8FromUtf16(type.extension);
        for (std::size_t i = 0; i < type.signatures.size(); ++i) {
            const std::string sample = extension + "-" + std::to_string(i + 1);
            std::vector<BYTE> header = ReadBytes(std::string(TYPHEX_SAMPLES) + "/" + sample + ".bin");
            ASSERT_FALSE(header.empty()) << "no sample " << sample;
            // The sample sits at a sector boundary inside a larger buffer.
            std::vector<BYTE> buffer(1024, 0x20);
            std::copy(header.begin(), header.begin() + std::min<std::size_t>(header.size(), 512),
                      buffer.begin() + 512);
            platform::BorrowedByteArray array(buffer.data(), static_cast<ULONG>(buffer.size()));
            IFileSignature* signature = nullptr;
            Text found;
            VARIANT_BOOL match = 0;
            ASSERT_EQ(set->FindMatchingStart(array.ByRefVariant(), 512, &signature, &found, &match), S_OK);
            ASSERT_EQ(match, 1) << sample;
            EXPECT_EQ(found.str(), extension) << sample;
            Text start;
            signature->ToString(&start);
            EXPECT_EQ(start.str(), StartText(type.signatures[i].start)) << sample;
            signature->Release();
            ++checked;
        }
    }
    EXPECT_GT(checked, 40);
}

} // namespace
} // namespace typhextest

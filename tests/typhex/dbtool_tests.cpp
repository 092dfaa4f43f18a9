// typhex-db's text source: what it accepts, what it refuses, and the tool itself.
#include <cstdlib>
#include <fstream>

#include "DatabaseRecords.h"
#include "TyphexTestSupport.h"

namespace typhextest {
namespace {

std::string ParseError(const std::string& text) {
    try {
        typhexdb::Parse(text);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

TEST(DatabaseText, ParsesEveryField) {
    const auto database = typhexdb::Parse(
        "# comment\n"
        "type \"AB\\x20\"\n"
        "  description \"Say \\\"hi\\\" é\"\n"
        "  category 9\n"
        "  search no\n"
        "  signature\n"
        "    start 00xxFF\n"
        "    content -4 0102\n"
        "    end\n"
        "    fixed 4096\n"
        "  signature\n"
        "    start\n"
        "    filesize 7\n");
    ASSERT_EQ(database.size(), 1u);
    const auto& type = database[0];
    EXPECT_EQ(type.extension, u"AB ");
    EXPECT_EQ(type.description, u"Say \"hi\" \u00E9");
    EXPECT_EQ(type.category, 9);
    EXPECT_FALSE(type.allowSearch);
    ASSERT_EQ(type.signatures.size(), 2u);
    EXPECT_EQ(type.signatures[0].start, (typhexdb::Pattern{0, 256, 255}));
    EXPECT_EQ(type.signatures[0].contents[0].offset, -4);
    ASSERT_EQ(type.signatures[0].ends.size(), 1u);
    EXPECT_TRUE(type.signatures[0].ends[0].empty());
    EXPECT_TRUE(type.signatures[0].fixedLength);
    EXPECT_FALSE(type.signatures[1].fixedLength);
    EXPECT_EQ(type.signatures[1].fileSize, 7);
    // Printed and parsed again, the same records and the same bytes.
    const std::string printed = typhexdb::Print(database);
    EXPECT_EQ(typhexdb::Print(typhexdb::Parse(printed)), printed);
    EXPECT_EQ(typhexdb::Encode(typhexdb::Parse(printed)), typhexdb::Encode(database));
}

TEST(DatabaseText, RefusesBadInputNamingTheLine) {
    EXPECT_EQ(ParseError("type \"JPEG\"\n"), "line 1: an extension has exactly three characters");
    EXPECT_NE(ParseError("type \"JPG\"\n  signature\n    start FFD8F\n").find("line 3:"), std::string::npos);
    EXPECT_NE(ParseError("type \"JPG\"\n  signature\n    start FFZZ\n").find("line 3:"), std::string::npos);
    EXPECT_NE(ParseError("  start FFD8\n").find("line 1:"), std::string::npos);
    EXPECT_NE(ParseError("type \"JPG\"\n  colour red\n").find("line 2:"), std::string::npos);
    EXPECT_NE(ParseError("type \"JPG\"\n  search maybe\n").find("line 2:"), std::string::npos);
    EXPECT_NE(ParseError("type \"JPG\"\n  description \"\xE2\x82\xAC\"\n").find("above code 255"), std::string::npos);
    // Characters at or below the text shift have no stored form.
    auto database = typhexdb::Parse("type \"JPG\"\n  description \"a\\x05b\"\n");
    EXPECT_THROW(typhexdb::Encode(database), std::runtime_error);
}

TEST(DatabaseText, DecodeRefusesTruncatedFiles) {
    EXPECT_THROW(typhexdb::Decode({}), std::runtime_error);
    EXPECT_THROW(typhexdb::Decode({1, 0, 'J' - 5}), std::runtime_error);
    EXPECT_TRUE(typhexdb::Decode({0, 0}).empty());
}

TEST(DatabaseTool, BuildsAndDumps) {
    const std::string folder = PrivateFolder().string();
    const std::string out = folder + "/tool.zq4", dump = folder + "/tool.txt";
    const std::string build = std::string(TYPHEX_DB_TOOL) + " build " + TYPHEX_SHIPPED_SOURCE + " " + out;
    ASSERT_EQ(std::system(build.c_str()), 0);
    ASSERT_EQ(std::system((std::string(TYPHEX_DB_TOOL) + " dump " + out + " > " + dump).c_str()), 0);
    std::ifstream dumped(dump);
    std::string first;
    std::getline(dumped, first);
    EXPECT_EQ(first, "type \"JPG\"");
    // A source with an error: a message, an exit code, and no file written.
    const std::string bad = folder + "/bad.typhex";
    std::ofstream(bad) << "type \"JPG\"\n  signature\n    start QQ\n";
    const std::string refused = folder + "/refused.zq4";
    EXPECT_NE(std::system((std::string(TYPHEX_DB_TOOL) + " build " + bad + " " + refused + " 2>/dev/null").c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(refused));
}

} // namespace
} // namespace typhextest

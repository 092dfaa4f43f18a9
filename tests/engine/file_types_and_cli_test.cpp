// The file-type table over the shipped database, and tranquo-cli recover
// run as a user runs it, on the sample card.
#include "EngineTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

namespace enginetest {
namespace {

TEST_F(EngineTest, ShippedDatabaseAnswersBySearchFlag) {
    if (!fs::exists(support::ProgramFolder() + "/settings.zq4")) GTEST_SKIP() << "settings.zq4 not built";
    engine::UseFileTypeTableForTests({});
    EXPECT_FALSE(engine::IsSearchableExtension("JPG"));  // nothing loaded
    engine::LoadFileTypeData();
    ASSERT_NE(engine::FileTypes(), nullptr);
    EXPECT_GT(engine::FileTypeCount(), 0);
    EXPECT_TRUE(engine::IsSearchableExtension(" jpg "));
    EXPECT_FALSE(engine::IsSearchableExtension("QQQ"));
    for (std::size_t i = 0; i < engine::FileTypeExtensions().size(); ++i) {
        const std::string& ext = engine::FileTypeExtensions()[i];
        if (engine::FileTypeAllowSearch()[i] == support::False) {
            // A known type that may not be searched for is not searchable,
            // unless an earlier type shares its extension.
            const auto& all = engine::FileTypeExtensions();
            if (std::find(all.begin(), all.begin() + static_cast<long>(i), ext) == all.begin() + static_cast<long>(i)) {
                EXPECT_FALSE(engine::IsSearchableExtension(ext)) << ext;
            }
        }
    }
    engine::ReleaseFileTypes();
    EXPECT_EQ(engine::FileTypes(), nullptr);
    EXPECT_FALSE(engine::IsSearchableExtension("JPG"));
}

TEST_F(EngineTest, MissingDatabaseIsARunTimeErrorWithItsTexts) {
    engine::ReleaseFileTypes();
    const std::string saved = getenv("TRANQUO_PROGRAM_DIR") ? getenv("TRANQUO_PROGRAM_DIR") : "";
    // A program folder without settings.zq4 (the library is found through
    // the registration made before).
    engine::UseFileTypeTableForTests({});
    fs::create_directories(root_ / "empty");
    fs::copy_file(support::ProgramFolder() + "/libTyphex.so", root_ / "empty/libTyphex.so");
    setenv("TRANQUO_PROGRAM_DIR", (root_ / "empty").c_str(), 1);
    try {
        engine::LoadFileTypeData();
        ADD_FAILURE() << "no error";
    } catch (const support::RuntimeError& error) {
        EXPECT_EQ(error.Source(), "Fotrida 4");
        EXPECT_EQ(error.Description(), "Unable to load file type data from settings.zq4");
    }
    if (saved.empty()) unsetenv("TRANQUO_PROGRAM_DIR");
    else setenv("TRANQUO_PROGRAM_DIR", saved.c_str(), 1);
    EXPECT_EQ(engine::FileTypes(), nullptr);
}

bool DecodesAsJpeg(const std::vector<std::uint8_t>& bytes) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jerr.error_exit = [](j_common_ptr info) { throw std::runtime_error(std::to_string(info->err->msg_code)); };
    jpeg_create_decompress(&cinfo);
    bool ok = false;
    try {
        jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&cinfo, TRUE);
        jpeg_start_decompress(&cinfo);
        std::vector<unsigned char> row(cinfo.output_width * cinfo.output_components);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW p = row.data();
            jpeg_read_scanlines(&cinfo, &p, 1);
        }
        jpeg_finish_decompress(&cinfo);
        ok = jerr.num_warnings == 0;
    } catch (const std::runtime_error&) {
        ok = false;
    }
    jpeg_destroy_decompress(&cinfo);
    return ok;
}

int RunCli(const std::string& arguments, const fs::path& output) {
    const std::string command = "'" + support::ProgramFolder() + "/tranquo-cli' " + arguments + " >'" +
                                output.string() + "' 2>&1 </dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(EngineTest, RecoverCommandBringsBackTheSampleCard) {
    const std::string maker = (fs::path(support::ProgramFolder()).parent_path() / "tests/make-sample-card").string();
    if (!fs::exists(maker) || !fs::exists(support::ProgramFolder() + "/tranquo-cli")) GTEST_SKIP() << "tools not built";
    const fs::path card = root_ / "card.img";
    ASSERT_EQ(std::system(("'" + maker + "' '" + card.string() + "' >/dev/null").c_str()), 0);
    const fs::path dest = root_ / "out";
    const fs::path log = root_ / "log.txt";
    ASSERT_EQ(RunCli("--attach '" + card.string() + "' recover --turbo-only --dest '" + dest.string() + "'", log), 0)
        << std::string(std::istreambuf_iterator<char>(*std::make_unique<std::ifstream>(log)), {});
    const fs::path folder = dest / "My Recovered Mobile Device/Turbo Scan";
    int photos = 0;
    for (const auto& e : fs::directory_iterator(folder)) {
        ++photos;
        EXPECT_TRUE(DecodesAsJpeg(ReadAll(e.path()))) << e.path();
    }
    EXPECT_EQ(photos, 14);
    EXPECT_TRUE(fs::exists(folder / "Sunset over the harbour.jpg"));
    EXPECT_TRUE(fs::exists(folder / "DSC00003.JPG"));  // deleted, name repaired
    EXPECT_FALSE(fs::exists(folder / "README.TXT"));
    const std::string text(std::istreambuf_iterator<char>(*std::make_unique<std::ifstream>(log)), {});
    EXPECT_NE(text.find("14 of 14 files saved"), std::string::npos) << text;

    EXPECT_EQ(RunCli("recover --sectors-at-once 0", log), 2);
    EXPECT_EQ(RunCli("recover --turbo-only --deep-only", log), 2);
    EXPECT_EQ(RunCli("--attach '" + card.string() + "' recover --drive Q --dest '" + dest.string() + "'", log), 1);
    // A card whose boot sector is gone fails with status 1 and says why.
    auto bytes = ReadAll(card);
    std::fill(bytes.begin() + 11, bytes.begin() + 13, 0);
    const fs::path broken = root_ / "broken.img";
    std::ofstream(broken, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    EXPECT_EQ(RunCli("--attach '" + broken.string() + "' recover --turbo-only --dest '" + dest.string() + "'", log), 1);
}

} // namespace
} // namespace enginetest

// The results viewer's decisions: pictures by extension, the folders it
// lists and creates, its status texts and opening a file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/shell.h"
#include "platform/ui.h"
#include "wizard/ResultsViewer.h"

using namespace wizard;
namespace fs = std::filesystem;

namespace {

class ResultsViewer : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tranquo-viewer-XXXXXX").string();
        root_ = std::string(::mkdtemp(pattern.data())) + "/";
    }
    void TearDown() override {
        platform::SetShellLauncher({});
        fs::remove_all(root_);
    }
    void Touch(const std::string& path) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << "x";
    }
    static ViewerTexts Texts() {
        std::vector<std::string> texts;
        for (int n = 1; n <= ViewerTextCount; ++n) texts.push_back("T" + std::to_string(n));
        return ViewerTexts(texts);
    }

    std::string root_;
    platform::ScriptedUi ui_;
    platform::ScopedUi scoped_{ui_};
};

TEST_F(ResultsViewer, OnlyTheExtensionJpgShowsTheFileItselfWhateverItsCase) {
    EXPECT_EQ(PictureFor("00001.jpg"), Picture::FileItself);
    EXPECT_EQ(PictureFor("00002.avi"), Picture::Movie);
    EXPECT_EQ(PictureFor("00003.xyz"), Picture::Unknown);
    EXPECT_EQ(PictureFor("clip.Mp4"), Picture::Movie);
    EXPECT_EQ(PictureFor("photo.jpeg"), Picture::Unknown);
    EXPECT_EQ(PictureFor("song.v2.Aac"), Picture::Music);
    EXPECT_EQ(PictureFor("scan.TiFf"), Picture::CameraRaw);
    EXPECT_EQ(PictureFor("JPG"), Picture::Unknown); // no point, no extension
    EXPECT_EQ(PictureFor("name."), Picture::Unknown);

    EXPECT_EQ(ThumbnailPicture("/prog", "/r/Deep Scan/", "00001.JPG"), "/r/Deep Scan/00001.JPG");
    EXPECT_EQ(ThumbnailPicture("/prog", "/r/Deep Scan", "00002.avi"), "/prog/Images/movie.jpg");
    EXPECT_EQ(ThumbnailPicture("/prog", "/r", "a.wav"), "/prog/Images/music.jpg");
    EXPECT_EQ(ThumbnailPicture("/prog", "/r", "a.nef"), "/prog/Images/RAW.jpg");
    EXPECT_EQ(ThumbnailPicture("/prog", "/r", "a.xyz"), "/prog/Images/unknown.jpg");
}

TEST_F(ResultsViewer, EmptyFolderStatusNamesTheShownFolderFirst) {
    const ViewerTexts texts = Texts();
    EXPECT_EQ(EmptyFolderStatus(texts, ResultFolder::TurboScan), "T14T9T15T10T16");
    EXPECT_EQ(EmptyFolderStatus(texts, ResultFolder::DeepScan), "T14T10T15T9T16");
    EXPECT_EQ(EmptyFolderStatus(ViewerTexts(), ResultFolder::DeepScan), ""); // no language file: no crash
}

TEST_F(ResultsViewer, ListsEveryFileHiddenOnesTooByNameDateOrSize) {
    const std::string folder = root_ + "list";
    for (const char* name : {"b.jpg", "A.avi", "00010.jpg", "00002.jpg", ".trashed-1733650000-IMG_1.jpg", "a.avi"})
        Touch(folder + "/" + name);
    fs::create_directories(folder + "/sub.jpg");
    EXPECT_EQ(ListResultFiles(folder), (std::vector<std::string>{".trashed-1733650000-IMG_1.jpg", "00002.jpg",
                                                                 "00010.jpg", "A.avi", "a.avi", "b.jpg"}));
    EXPECT_TRUE(ListResultFiles(root_ + "missing").empty());

    const std::string sorted = root_ + "sorted";
    const auto write = [&](const char* name, std::size_t bytes, int hoursAgo) {
        std::ofstream(sorted + "/" + name, std::ios::binary) << std::string(bytes, 'x');
        fs::last_write_time(sorted + "/" + name, fs::file_time_type::clock::now() - std::chrono::hours(hoursAgo));
    };
    fs::create_directories(sorted);
    write("c.jpg", 10, 1);
    write("a.jpg", 30, 2);
    write("b.jpg", 20, 3);
    const auto names = [&](ResultOrder order) {
        std::vector<std::string> shown;
        for (const ResultFile& file : ListResultFiles(sorted, order)) shown.push_back(file.name);
        return shown;
    };
    EXPECT_EQ(names(ResultOrder::Date), (std::vector<std::string>{"b.jpg", "a.jpg", "c.jpg"}));
    EXPECT_EQ(names(ResultOrder::Size), (std::vector<std::string>{"c.jpg", "b.jpg", "a.jpg"}));
    EXPECT_EQ(ListResultFiles(sorted, ResultOrder::Size).back().size, 30u);
}

TEST_F(ResultsViewer, AMissingResultFolderIsCreatedAndListedEmpty) {
    fs::create_directories(root_ + "My Recovered Mobile Device");
    bool unavailable = false;
    const FolderToList listing = PrepareResultFolder(root_, ResultFolder::DeepScan, unavailable, Texts());
    EXPECT_TRUE(listing.available);
    EXPECT_EQ(listing.folder, root_ + "My Recovered Mobile Device/Deep Scan");
    EXPECT_TRUE(fs::is_directory(listing.folder));
    EXPECT_FALSE(unavailable);
    EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(ResultsViewer, AMissingParentFolderMakesTheViewerUnavailableForGood) {
    bool unavailable = false;
    EXPECT_FALSE(PrepareResultFolder(root_, ResultFolder::TurboScan, unavailable, Texts()).available);
    EXPECT_TRUE(unavailable);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, "T11\r\n\r\nT12");
    EXPECT_EQ(ui_.boxes[0].style, platform::vbInformation);
    EXPECT_EQ(ui_.boxes[0].title, "T13");
    EXPECT_TRUE(fs::is_directory(root_ + "My Recovered Mobile Device")); // ready for the next recovery
    EXPECT_FALSE(fs::exists(root_ + "My Recovered Mobile Device/Turbo Scan"));

    // Afterwards nothing is created or listed, and nothing is said again.
    EXPECT_FALSE(PrepareResultFolder(root_, ResultFolder::DeepScan, unavailable, Texts()).available);
    EXPECT_FALSE(fs::exists(root_ + "My Recovered Mobile Device/Deep Scan"));
    EXPECT_EQ(ui_.boxes.size(), 1u);

    // A root that has gone away altogether: the same message, no crash.
    bool gone = false;
    EXPECT_FALSE(PrepareResultFolder(root_ + "gone/", ResultFolder::DeepScan, gone, Texts()).available);
    EXPECT_TRUE(gone);
}

TEST_F(ResultsViewer, TheFirstFolderShownIsTheOneWithFiles) {
    EXPECT_EQ(InitialFolder(root_), ResultFolder::TurboScan);
    Touch(root_ + "My Recovered Mobile Device/Deep Scan/00001.jpg");
    EXPECT_EQ(InitialFolder(root_), ResultFolder::DeepScan);
    Touch(root_ + "My Recovered Mobile Device/Turbo Scan/DSC0001.JPG");
    EXPECT_EQ(InitialFolder(root_), ResultFolder::TurboScan);
}

TEST_F(ResultsViewer, AFileThatCannotBeOpenedIsReported) {
    const std::string folder = root_ + "files";
    Touch(folder + "/00001.jpg");
    std::vector<std::string> launched;
    bool starts = true;
    platform::SetShellLauncher([&](const std::string& target) {
        launched.push_back(target);
        return starts;
    });
    EXPECT_TRUE(OpenRecoveredFile(folder, "00001.jpg", Texts()));
    EXPECT_EQ(launched, std::vector<std::string>{folder + "/00001.jpg"});
    EXPECT_TRUE(ui_.boxes.empty());
    EXPECT_GE(ui_.pumpCount, 1);

    starts = false; // no program for it
    EXPECT_FALSE(OpenRecoveredFile(folder, "00001.jpg", Texts()));
    EXPECT_FALSE(OpenRecoveredFile(folder, "deleted-meanwhile.jpg", Texts()));
    ASSERT_EQ(ui_.boxes.size(), 2u);
    EXPECT_EQ(ui_.boxes[1].text, "T18");
    EXPECT_EQ(ui_.boxes[1].style, platform::vbCritical);
    EXPECT_EQ(ui_.boxes[1].title, "T19");
}

} // namespace

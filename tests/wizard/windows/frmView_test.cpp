// The results viewer on the offscreen platform: the files of a result
// folder as thumbnails, the status texts, opening a file, and a folder of
// thousands of photos loading in the background.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <QAccessible>
#include <QBuffer>
#include <QComboBox>
#include <QFontMetrics>
#include <QLocale>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <unistd.h>

#include "platform/desktop/Forms.h"
#include "tests/windows/Eventually.h"
#include "platform/shell.h"
#include "platform/ui.h"
#include "shell/LanguageFile.h"
#include "shell/VendorLinks.h"
#include "support/ProgramFolder.h"
#include "wizard/ResultsViewer.h"
#include "wizard/windows/ThumbnailLoader.h"
#include "wizard/windows/ThumbnailPanel.h"
#include "wizard/windows/frmView.h"

using namespace wizard;
namespace fs = std::filesystem;

namespace {

QByteArray Jpeg(QSize size, QColor colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return bytes;
}

// The JPEG with an Exif orientation tag (6: turn 90 degrees clockwise to
// show it) right after its start marker.
QByteArray WithOrientation(QByteArray jpeg, char orientation) {
    const char exif[] = "\xFF\xE1\x00\x22"
                        "Exif\0\0"
                        "II*\0\x08\0\0\0"
                        "\x01\0"
                        "\x12\x01\x03\0\x01\0\0\0";
    QByteArray segment(exif, sizeof exif - 1);
    segment += orientation;
    segment += QByteArray(7, '\0'); // the value's second byte and padding; no next directory
    return jpeg.insert(2, segment);
}

void Write(const std::string& path, const QByteArray& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.constData(), bytes.size());
}

QImage Shown(ThumbnailPanel* panel, int row) {
    return panel->model()->index(row, 0).data(Qt::DecorationRole).value<QPixmap>().toImage();
}

QImage Stock(Picture picture) {
    return DecodeThumbnail(QString::fromStdString(StockPicturePath(support::ProgramFolder(), picture)),
                           ThumbnailPanel::PictureBox);
}

class ResultsViewerWindow : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tranquo-view-XXXXXX").string();
        root_ = std::string(::mkdtemp(pattern.data())) + "/";
        turbo_ = root_ + "My Recovered Mobile Device/Turbo Scan/";
        deep_ = root_ + "My Recovered Mobile Device/Deep Scan/";
        texts_ = LoadViewerTexts(shell::LanguageName());
        platform::SetShellLauncher([this](const std::string& target) {
            launched_.push_back(target);
            return launcherStarts_;
        });
    }
    void TearDown() override {
        if (window_) platform::desktop::Unload(window_);
        ASSERT_SOON(window_.isNull());
        platform::SetShellLauncher({});
        fs::remove_all(root_);
    }
    void Open() {
        window_ = ShowResultsViewer(support::ProgramFolder(), root_);
        ASSERT_TRUE(window_);
        panel_ = window_->findChild<ThumbnailPanel*>("ImgThumb");
        status_ = window_->findChild<QLabel*>("lblStatus");
        ASSERT_TRUE(panel_ && status_);
    }
    QRadioButton* Option(const char* name) { return window_->findChild<QRadioButton*>(name); }
    std::string Status() { return status_->isVisibleTo(window_) ? status_->text().toStdString() : ""; }
    void Click(int row) {
        const QRect place = panel_->visualRect(panel_->model()->index(row, 0));
        QTest::mouseClick(panel_->viewport(), Qt::LeftButton, {}, place.center());
    }

    std::string root_, turbo_, deep_;
    ViewerTexts texts_;
    platform::ScriptedUi ui_;
    platform::ScopedUi scoped_{ui_};
    std::vector<std::string> launched_;
    bool launcherStarts_ = true;
    QPointer<QWidget> window_;
    ThumbnailPanel* panel_ = nullptr;
    QLabel* status_ = nullptr;
};

TEST_F(ResultsViewerWindow, EachFileShowsItsPictureUnderItsName) {
    Write(deep_ + "00001.jpg", Jpeg({400, 300}, Qt::red));
    Write(deep_ + "00002.avi", "RIFF");
    Write(deep_ + "00003.xyz", "?");
    Write(deep_ + "00004.jpg", "not a photo after all");
    Write(deep_ + "clip.Mp4", "mp4");
    Write(deep_ + "photo.jpeg", Jpeg({40, 30}, Qt::blue));
    Open();
    ASSERT_SOON(panel_->Count() == 6);
    EXPECT_TRUE(Option("xpDeep")->isChecked()); // the folder with files comes first
    EXPECT_EQ(Status(), texts_(17));
    ASSERT_SOON(!panel_->Loading());

    const QImage photo = Shown(panel_, 0);
    EXPECT_EQ(photo.size(), QSize(96, 72));
    EXPECT_GT(qRed(photo.pixel(48, 36)), 200);
    EXPECT_LT(qBlue(photo.pixel(48, 36)), 60);
    const QImage movie = Stock(Picture::Movie), unknown = Stock(Picture::Unknown);
    ASSERT_FALSE(movie.isNull());
    EXPECT_EQ(Shown(panel_, 1), movie);
    EXPECT_EQ(Shown(panel_, 2), unknown);
    EXPECT_EQ(Shown(panel_, 3), unknown); // unreadable photo
    EXPECT_EQ(Shown(panel_, 4), movie);
    EXPECT_EQ(Shown(panel_, 5), unknown); // only "JPG" shows the file itself

    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(panel_);
    ASSERT_TRUE(list);
    const QStringList names{"00001.jpg", "00002.avi", "00003.xyz", "00004.jpg", "clip.Mp4", "photo.jpeg"};
    for (int row = 0; row < names.size(); ++row) {
        EXPECT_EQ(panel_->Caption(row), names[row]);
        QAccessibleInterface* item = list->child(row);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->text(QAccessible::Name), names[row]);
    }
    ASSERT_SOON(Status() == std::string()); // Timer1 takes the status away once all are shown
}

TEST_F(ResultsViewerWindow, EmptyFoldersPointToEachOtherAndChoosingAgainRereads) {
    fs::create_directories(turbo_);
    Open();
    ASSERT_SOON(Status() == EmptyFolderStatus(texts_, ResultFolder::TurboScan));
    EXPECT_TRUE(Option("xpTurbo")->isChecked());

    QTest::mouseClick(Option("xpDeep"), Qt::LeftButton);
    EXPECT_TRUE(fs::is_directory(deep_)); // made on the way
    EXPECT_EQ(Status(), EmptyFolderStatus(texts_, ResultFolder::DeepScan));
    EXPECT_NE(EmptyFolderStatus(texts_, ResultFolder::DeepScan), EmptyFolderStatus(texts_, ResultFolder::TurboScan));

    Write(deep_ + "00001.wav", "RIFF");
    QTest::mouseClick(Option("xpDeep"), Qt::LeftButton); // chosen twice: shown again
    EXPECT_EQ(panel_->Count(), 1);
    EXPECT_EQ(Status(), texts_(17));
    EXPECT_TRUE(ui_.boxes.empty());

    QPointer<QPushButton> close = window_->findChild<QPushButton*>("butClose");
    QTest::mouseClick(close, Qt::LeftButton);
    ASSERT_SOON(window_.isNull());
}

TEST_F(ResultsViewerWindow, WithoutTheRecoveredFilesFolderNothingIsListed) {
    Open();
    ASSERT_SOON(ui_.boxes.size() == 1u);
    EXPECT_EQ(ui_.boxes[0].text, texts_(11) + "\r\n\r\n" + texts_(12));
    EXPECT_EQ(ui_.boxes[0].title, texts_(13));
    EXPECT_TRUE(fs::is_directory(root_ + "My Recovered Mobile Device"));

    Write(deep_ + "00001.jpg", Jpeg({40, 30}, Qt::red));
    QTest::mouseClick(Option("xpDeep"), Qt::LeftButton);
    EXPECT_EQ(panel_->Count(), 0); // for the rest of this window's life
    EXPECT_EQ(ui_.boxes.size(), 1u);
}

TEST_F(ResultsViewerWindow, AClickOrEnterOpensTheFileAndAFailureIsShown) {
    Write(turbo_ + "DSC0001.JPG", Jpeg({40, 30}, Qt::red));
    Write(turbo_ + "DSC0002.MOV", "moov");
    Open();
    ASSERT_SOON(panel_->Count() == 2);
    Click(1);
    EXPECT_EQ(launched_, std::vector<std::string>{turbo_ + "DSC0002.MOV"});

    panel_->setFocus();
    panel_->setCurrentIndex(panel_->model()->index(0, 0));
    QTest::keyClick(panel_, Qt::Key_Return);
    ASSERT_EQ(launched_.size(), 2u);
    EXPECT_EQ(launched_[1], turbo_ + "DSC0001.JPG");
    EXPECT_TRUE(ui_.boxes.empty());

    launcherStarts_ = false;
    Click(0);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, texts_(18));
    EXPECT_EQ(ui_.boxes[0].style, platform::vbCritical);
    EXPECT_EQ(ui_.boxes[0].title, texts_(19));
}

TEST_F(ResultsViewerWindow, TheWebSiteLinkOpensTheSiteFromTheKeyboardAndSaysWhenItCannot) {
    fs::create_directories(turbo_);
    Open();
    auto* link = window_->findChild<QLabel*>("Label18");
    ASSERT_TRUE(link);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(link);
    EXPECT_EQ(accessible->role(), QAccessible::Link);
    EXPECT_EQ(accessible->text(QAccessible::Name).toStdString(), shell::ShownAddress(shell::WebSiteAddress));
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_));
    // One Tab from Close reaches it; Enter follows it.
    window_->findChild<QPushButton*>("butClose")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), link);
    QTest::keyClick(link, Qt::Key_Return);
    EXPECT_EQ(launched_, std::vector<std::string>{shell::WebSiteAddress});
    EXPECT_TRUE(ui_.boxes.empty());

    launcherStarts_ = false;
    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_NE(ui_.boxes[0].text.find(shell::WebSiteAddress), std::string::npos);
    EXPECT_EQ(ui_.boxes[0].style, platform::vbExclamation);
}

TEST_F(ResultsViewerWindow, HiddenFilesShowUnderARootWithoutItsSlashAndTheScreenReadersToggleSwitchesFolders) {
    Write(turbo_ + ".trashed-1733650000-IMG_20241208_101500.jpg", Jpeg({40, 30}, Qt::red));
    Write(turbo_ + "._DSC00001.JPG", "AppleDouble");
    Write(turbo_ + "DSC00001.JPG", Jpeg({40, 30}, Qt::blue));
    Write(deep_ + "00001.mov", std::string(3000, 'm').c_str());
    Write(deep_ + "00002.mov", "m");
    std::string withoutSlash = root_;
    withoutSlash.pop_back();
    window_ = ShowResultsViewer(support::ProgramFolder(), withoutSlash);
    ASSERT_TRUE(window_);
    panel_ = window_->findChild<ThumbnailPanel*>("ImgThumb");
    ASSERT_SOON(panel_->Count() == 3);
    EXPECT_EQ(panel_->Caption(0), "._DSC00001.JPG");
    EXPECT_EQ(panel_->Caption(1), ".trashed-1733650000-IMG_20241208_101500.jpg");
    EXPECT_FALSE(fs::exists(withoutSlash + "My Recovered Mobile Device")); // nothing made beside the root
    EXPECT_TRUE(ui_.boxes.empty());

    // Checked by the screen reader, not by a click: the deep scan's files.
    QAccessibleInterface* deep = QAccessible::queryAccessibleInterface(Option("xpDeep"));
    ASSERT_TRUE(deep && deep->actionInterface());
    deep->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(Option("xpDeep")->isChecked());
    ASSERT_EQ(panel_->Count(), 2);
    EXPECT_EQ(panel_->Caption(0), "00001.mov");
    // Sorted by size the small one comes first; the tool tip gives the size.
    auto* sort = window_->findChild<QComboBox*>("cboSort");
    ASSERT_TRUE(sort);
    sort->setCurrentIndex(2);
    ASSERT_EQ(panel_->Count(), 2);
    EXPECT_EQ(panel_->Caption(0), "00002.mov");
    const QString tip = panel_->model()->index(1, 0).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.startsWith("00001.mov\n")) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QLocale().formattedDataSize(3000, 2, QLocale::DataSizeTraditionalFormat))) << tip.toStdString();
}

TEST(Thumbnails, CaptionsKeepWholeNamesOnTwoLinesAndShortenOnlyTheirMiddle) {
    const QFontMetrics metrics(QApplication::font());
    const int width = metrics.horizontalAdvance(QStringLiteral("IMG_20241208_1015"));
    EXPECT_EQ(TwoLineCaption("IMG_1.jpg", metrics, width), "IMG_1.jpg");
    const QString dated = "IMG_20241208_101500.jpg";
    const QString twoLines = TwoLineCaption(dated, metrics, width);
    EXPECT_EQ(twoLines, "IMG_20241208_\n101500.jpg"); // broken after "_", nothing lost
    const QString longName = ".trashed-1733650000-IMG_20241208_101500_HDR_portrait_edited.jpg";
    const QStringList lines = TwoLineCaption(longName, metrics, width).split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(longName.startsWith(lines[0]));
    EXPECT_TRUE(lines[1].endsWith(".jpg")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains(QChar(0x2026)));
    for (const QString& line : lines) EXPECT_LE(metrics.horizontalAdvance(line), width);
}

TEST_F(ResultsViewerWindow, ThousandsOfPhotosArriveWhileTheRestStillLoad) {
    constexpr int kPhotos = 3000;
    const QByteArray photo = Jpeg({64, 48}, Qt::darkGreen);
    fs::create_directories(deep_);
    for (int n = 1; n <= kPhotos; ++n) Write(deep_ + QString::asprintf("%05d.jpg", n).toStdString(), photo);

    int countAtFirst = -1, loadedAtFirst = -1;
    Open(); // lists the folder once the window is up
    QObject::connect(panel_->model(), &QAbstractItemModel::dataChanged, panel_, [&] {
        if (countAtFirst >= 0) return;
        countAtFirst = panel_->Count();
        loadedAtFirst = panel_->LoadedCount();
    });
    ASSERT_SOON(countAtFirst >= 0);
    EXPECT_EQ(countAtFirst, kPhotos); // every file is in the panel before its picture
    EXPECT_LT(loadedAtFirst, kPhotos);
    ASSERT_SOON_WITHIN(!panel_->Loading(), 60000);
}

TEST(Thumbnails, PhotosAreDecodedSmallAndUpright) {
    const QByteArray landscape = Jpeg({800, 600}, Qt::red);
    QTemporaryDir dir;
    const QString plain = dir.filePath("plain.jpg"), turned = dir.filePath("turned.jpg");
    Write(plain.toStdString(), landscape);
    Write(turned.toStdString(), WithOrientation(landscape, 6));
    EXPECT_EQ(DecodeThumbnail(plain, {96, 96}).size(), QSize(96, 72));
    EXPECT_EQ(DecodeThumbnail(turned, {96, 96}).size(), QSize(72, 96));
    EXPECT_TRUE(DecodeThumbnail(dir.filePath("tiny.jpg"), {96, 96}).isNull()); // missing
    Write(dir.filePath("tiny.jpg").toStdString(), Jpeg({20, 10}, Qt::red));
    EXPECT_EQ(DecodeThumbnail(dir.filePath("tiny.jpg"), {96, 96}).size(), QSize(20, 10)); // never enlarged

    QByteArray claimsTooMuch = Jpeg({20, 10}, Qt::red); // a damaged frame header: 40000 x 40000
    const int frame = claimsTooMuch.indexOf("\xFF\xC0");
    ASSERT_GT(frame, 0);
    claimsTooMuch.replace(frame + 5, 4, QByteArray("\x9C\x40\x9C\x40", 4));
    Write(dir.filePath("huge.jpg").toStdString(), claimsTooMuch);
    EXPECT_TRUE(DecodeThumbnail(dir.filePath("huge.jpg"), {96, 96}).isNull());
}

} // namespace

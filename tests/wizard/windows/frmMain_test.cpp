// The recovery wizard from the user's side: card images attached as
// drives, the window driven by its buttons, the message boxes answered by
// the scripted user interface.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/FileTypeTable.h"
#include "engine/RawDevice.h"
#include "platform/com.h"
#include "platform/desktop/Forms.h"
#include "platform/drives.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/ui.h"
#include "shell/DestinationChoice.h"
#include "shell/DestinationFolder.h"
#include "shell/VendorLinks.h"
#include "support/ProgramFolder.h"
#include "tests/common/FatImageBuilder.h"
#include "tests/common/JpegPhoto.h"
#include "tests/windows/Eventually.h"
#include "tests/wizard/TestVolume.h"
#include "wizard/WizardState.h"
#include "wizard/WizardTexts.h"

namespace fs = std::filesystem;
using platform::IDNO;
using platform::IDYES;

namespace {

// Answers from the queue, and lets a test act at each box and each pump.
class WizardUi : public platform::ScriptedUi {
public:
    int MessageBox(const std::string& text, int style, const std::string& title) override {
        const int answer = ScriptedUi::MessageBox(text, style, title);
        if (onBox) onBox(boxes.back());
        return answer;
    }
    void DoEvents() override {
        ScriptedUi::DoEvents();
        if (onPump) onPump();
    }
    const Box* Titled(const std::string& title) const {
        for (const Box& box : boxes)
            if (box.title == title) return &box;
        return nullptr;
    }
    std::function<void(const Box&)> onBox;
    std::function<void()> onPump;
};

// A drive of zeros of any size (nothing stored), or an empty reader (0 bytes).
class ZeroVolume : public platform::VolumeBackend {
public:
    explicit ZeroVolume(std::uint64_t sectors) : size_(sectors * 512) {}
    std::uint64_t Size() const override { return size_; }
    std::uint32_t BytesPerSector() const override { return 512; }
    std::int64_t Read(std::uint64_t offset, void* buffer, std::uint32_t count, DWORD*) override {
        if (offset >= size_) return 0;
        const auto n = std::min<std::uint64_t>(count, size_ - offset);
        std::memset(buffer, 0, n);
        return static_cast<std::int64_t>(n);
    }
    std::int64_t Write(std::uint64_t, const void*, std::uint32_t, DWORD* error) override {
        *error = ERROR_WRITE_PROTECT;
        return -1;
    }
    bool BeginWrite(DWORD* error) override {
        *error = ERROR_WRITE_PROTECT;
        return false;
    }
    void EndWrite() override {}

private:
    std::uint64_t size_;
};

std::map<std::string, std::vector<char>> FilesIn(const fs::path& folder) {
    std::map<std::string, std::vector<char>> files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[fs::relative(entry.path(), folder).string()] =
            std::vector<char>(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

class WizardWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = fs::temp_directory_path() / ("tranquo-wizard-window-" + std::to_string(::getpid()));
        fs::create_directories(scratch_);
        setenv("TRANQUO_REGISTRY", (scratch_ / "registry").c_str(), 1);
        platform::ReloadRegistry();
        CoInitialize(nullptr);
        ASSERT_TRUE(SUCCEEDED(platform::RegisterServer(support::ProgramFolder() + "/libTyphex.so")));
        texts_ = wizard::LoadWizardTexts();
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::current_path(fs::temp_directory_path(), ignored);
        fs::remove_all(scratch_, ignored);
    }
    void SetUp() override {
        ::unsetenv("TRANQUO_ATTACH");
        platform::ResetDrives();
        engine::ResetDriveTable();
        wizard::Wizard().NextFileNumber = 0;
        folder_ = scratch_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        ASSERT_TRUE(shell::StoreDestinationRoot((folder_ / "dest").string() + "/"));
        platform::SetUi(&ui);
    }
    void TearDown() override {
        for (const char* name : {"frmMain", "frmView"})
            if (QWidget* window = platform::desktop::FindForm(name)) platform::desktop::Unload(window);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        platform::SetUi(nullptr);
    }

    // Three photos: one on the card, two deleted by the camera.
    char AttachPhotoCard(const std::string& name) {
        testcommon::FatImageBuilder card(testcommon::FatImageOptions::Fat16(32));
        auto dcim = card.AddFolder(card.Root(), "DCIM");
        card.AddFile(dcim, "DSC00001.JPG", testcommon::MakeJpegPhoto(320, 240, 11));
        card.Delete(card.AddFile(dcim, "DSC00002.JPG", testcommon::MakeJpegPhoto(400, 300, 12)), true);
        // Deleted, its clusters still marked in use: only the deep scan finds it.
        card.Delete(card.AddFile(dcim, "DSC00003.JPG", testcommon::MakeJpegPhoto(256, 256, 13)), false);
        return Attach(card, name);
    }
    char AttachBlankCard(const std::string& name) {
        testcommon::FatImageBuilder card(testcommon::FatImageOptions::Fat16(32));
        return Attach(card, name);
    }
    char Attach(testcommon::FatImageBuilder& card, const std::string& name) {
        const std::string path = (folder_ / name).string();
        card.WriteFile(path);
        std::string error;
        const auto letters = platform::AttachImage(path, &error);
        EXPECT_EQ(letters.size(), 1u) << error;
        return letters.empty() ? 0 : letters.front();
    }

    QWidget* Open() {
        QWidget* window = platform::desktop::ShowForm("frmMain");
        EXPECT_NE(window, nullptr);
        return window;
    }
    template <class W>
    W* Find(const char* name) {
        QWidget* window = platform::desktop::FindForm("frmMain");
        W* control = window ? window->findChild<W*>(name) : nullptr;
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    std::string Shown(const char* label) { return Find<QLabel>(label)->text().toStdString(); }
    void Pick(char letter) {
        if (!platform::desktop::FindForm("frmMain")) Open();
        auto* box = Find<QComboBox>("DriveBox");
        const int index = box->findText(QString("Drive %1:").arg(letter), Qt::MatchStartsWith);
        ASSERT_GE(index, 0) << letter;
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    void Start() { QTest::mouseClick(Find<QPushButton>("xpbutStart"), Qt::LeftButton); }
    bool Unloaded() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return platform::desktop::FindForm("frmMain") == nullptr;
    }
    fs::path Results(const char* stage) const { return folder_ / "dest" / "My Recovered Mobile Device" / stage; }
    const std::string T(int n) const { return texts_(n); }

    // tranquo-cli recover --yes on the same image, into its own folder.
    int RecoverWithCli(const std::string& image, const fs::path& dest) {
        const std::string command = "TRANQUO_REGISTRY='" + (scratch_ / "registry").string() + "' '" +
                                    support::ProgramFolder() + "/tranquo-cli' --attach '" + image +
                                    "' -q --yes recover --dest '" + dest.string() + "' </dev/null >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    static inline fs::path scratch_;
    static inline wizard::WizardTexts texts_;
    fs::path folder_;
    WizardUi ui;
};

TEST_F(WizardWindow, BothStagesRecoverWhatTheCommandLineRecoversAndTheClosingQuestionCountsBoth) {
    const char letter = AttachPhotoCard("card.img");
    Open();
    Pick(letter);
    std::string imagesFound;
    ui.onBox = [&](const platform::ScriptedUi::Box& box) {
        if (box.title == T(22)) imagesFound = Shown("LabelInfoImagesFound");
    };
    ui.QueueAnswer(IDYES); // the deep scan
    ui.QueueAnswer(IDNO);  // the closing question: back to the main menu
    Start();

    const auto* deepQuestion = ui.Titled(T(39));
    ASSERT_NE(deepQuestion, nullptr);
    const std::string before = T(37) + " ";
    ASSERT_EQ(deepQuestion->text.rfind(before, 0), 0u) << deepQuestion->text;
    const long turboFound = std::atol(deepQuestion->text.c_str() + before.size());
    const auto turbo = FilesIn(Results("Turbo Scan"));
    const auto deep = FilesIn(Results("Deep Scan"));
    EXPECT_EQ(turbo.size(), static_cast<std::size_t>(turboFound));
    // The two the turbo scan saved whole are not kept twice; the third
    // comes back with its name, in a folder named after its cluster.
    ASSERT_EQ(deep.size(), 1u);
    EXPECT_EQ(fs::path(deep.begin()->first).filename(), "DSC00003.JPG");
    EXPECT_EQ(imagesFound, std::to_string(deep.size()));
    EXPECT_EQ(Shown("LabelInfoStatus"), "1 " + T(86));
    const auto* closing = ui.Titled(T(22));
    ASSERT_NE(closing, nullptr);
    EXPECT_EQ(closing->text, std::to_string(turboFound + deep.size()) + " " + T(21));
    // No stays on the results until Back.
    ASSERT_FALSE(Unloaded());
    EXPECT_TRUE(Find<QLabel>("Label5")->isVisible());
    EXPECT_EQ(Shown("lblOutcome"), T(73) + " " + std::to_string(turboFound + deep.size()));
    EXPECT_FALSE(Find<QPushButton>("xpbutStart")->isEnabled());
    QTest::mouseClick(Find<QPushButton>("xpbutBack"), Qt::LeftButton);
    EXPECT_TRUE(Unloaded());
    EXPECT_EQ(engine::FileTypes(), nullptr); // unloading released the database

    // The command line recovers the same files from the same card.
    wizard::Wizard().NextFileNumber = 0;
    ASSERT_EQ(RecoverWithCli((folder_ / "card.img").string(), folder_ / "cli"), 0);
    const fs::path cli = folder_ / "cli" / "My Recovered Mobile Device";
    EXPECT_EQ(FilesIn(cli / "Turbo Scan"), turbo);
    EXPECT_EQ(FilesIn(cli / "Deep Scan"), deep);
}

TEST_F(WizardWindow, StopDuringTheTurboScanEndsItWithoutOfferingTheDeepScan) {
    Pick(AttachPhotoCard("card.img"));
    std::string statusAtStop, statusAtMessage;
    ui.onPump = [&] {
        if (!statusAtStop.empty()) return;
        QPushButton* stop = Find<QPushButton>("xpbutStop");
        ASSERT_TRUE(stop->isEnabled());
        stop->click();
        statusAtStop = Shown("LabelInfoStatus");
        EXPECT_FALSE(stop->isEnabled());
    };
    ui.onBox = [&](const platform::ScriptedUi::Box& box) {
        if (box.text == T(35)) statusAtMessage = Shown("LabelInfoStatus");
    };
    Start();
    EXPECT_EQ(statusAtStop, T(16));
    EXPECT_EQ(statusAtMessage, T(34));
    const auto* cancelled = ui.Titled(T(32));
    ASSERT_NE(cancelled, nullptr);
    EXPECT_EQ(cancelled->text, T(35));
    EXPECT_EQ(ui.Titled(T(39)), nullptr); // no deep-scan question
    EXPECT_EQ(ui.Titled(T(42)), nullptr);
    const auto* closing = ui.Titled(T(71));
    ASSERT_NE(closing, nullptr);
    EXPECT_EQ(closing->text.rfind(T(72), 0), 0u) << closing->text;
    EXPECT_FALSE(fs::exists(Results("Deep Scan")));
    EXPECT_TRUE(Unloaded()); // Yes: back to the main menu
}

TEST_F(WizardWindow, StopDuringTheDeepScanEndsItAtOnceAndKeepsWhatWasCarved) {
    Pick(AttachPhotoCard("card.img"));
    bool deepScanRunning = false;
    long stoppedAtPump = 0;
    ui.onBox = [&](const platform::ScriptedUi::Box& box) { deepScanRunning = box.title == T(39); };
    std::string percentShown;
    bool paceShown = false;
    ui.onPump = [&] {
        // A few pumps into the deep scan (every 16 sectors of 65,536).
        if (!deepScanRunning || stoppedAtPump || ui.pumpCount % 8 != 0) return;
        percentShown = Find<QLabel>("pbValue")->isVisible() ? Shown("pbValue") : "";
        paceShown = Find<QLabel>("lblPace")->isVisible(); // speed and time left, once known
        Find<QPushButton>("xpbutStop")->click();
        stoppedAtPump = ui.pumpCount;
    };
    ui.QueueAnswer(IDYES);
    ui.QueueAnswer(IDNO);
    Start();
    ASSERT_GT(stoppedAtPump, 0);
    EXPECT_LT(ui.pumpCount - stoppedAtPump, 4); // not one more block
    ASSERT_FALSE(percentShown.empty());
    EXPECT_EQ(percentShown.back(), '%');
    EXPECT_TRUE(paceShown);
    // The closing question says that the scan was stopped, and what was saved.
    const auto* closing = ui.Titled(T(71));
    ASSERT_NE(closing, nullptr);
    EXPECT_EQ(closing->text.rfind(T(72) + "\r\n\r\n" + T(73) + " ", 0), 0u) << closing->text;
    EXPECT_NE(closing->text.find(T(77)), std::string::npos) << closing->text;
    EXPECT_EQ(ui.Titled(T(22)), nullptr);
    EXPECT_FALSE(Unloaded());
}

// Unreadable sectors slow the deep scan down: its pace says that the time
// left cannot be trusted.
TEST_F(WizardWindow, ReadErrorsDuringTheDeepScanMakeItsPaceSaySo) {
    testcommon::FatImageBuilder card(testcommon::FatImageOptions::Fat16(32));
    card.AddFile(card.Root(), "DSC00001.JPG", testcommon::MakeJpegPhoto(320, 240, 11));
    card.WriteFile((folder_ / "card.img").string());
    std::ifstream in(folder_ / "card.img", std::ios::binary);
    auto volume = std::make_shared<wizardtest::MemoryVolume>(
        std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {}), 512);
    volume->failingSectors = {30000};
    Pick(platform::AttachVolume(volume, "card with a bad sector"));
    bool warned = false;
    ui.onPump = [&] { warned = warned || Shown("lblPace").find(T(85)) != std::string::npos; };
    ui.QueueAnswer(IDYES); // the deep scan
    ui.QueueAnswer(IDNO);
    Start();
    EXPECT_NE(Shown("LabelInfoReadErrors"), "0");
    EXPECT_TRUE(warned);
}

// A destination that fills up: the files that could not be written are
// listed in the window and counted in one message, not one box each; the
// deep scan is not offered, and the closing question says what was saved.
TEST_F(WizardWindow, AFullDestinationIsOneMessageAndTheClosingQuestionCountsWhatWasSaved) {
    const fs::path small = folder_ / "small";
    fs::create_directories(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount a small tmpfs here";
    testcommon::FatImageBuilder card(testcommon::FatImageOptions::Fat16(64));
    for (int i = 1; i <= 40; ++i)
        card.AddFile(card.Root(), "DSC" + std::to_string(10000 + i) + ".JPG", testcommon::PatternBytes(100000, i));
    const char letter = Attach(card, "card.img");
    ASSERT_TRUE(shell::StoreDestinationRoot(small.string() + "/"));
    Pick(letter);
    ui.QueueAnswer(platform::IDOK); // the full destination
    ui.QueueAnswer(IDNO);           // the closing question
    Start();
    const std::size_t saved = FilesIn(small / "My Recovered Mobile Device" / "Turbo Scan").size();
    const int listed = Find<QListWidget>("lstProblems")->count();
    const bool listShown = Find<QListWidget>("lstProblems")->isVisible();
    ::umount(small.c_str());

    ASSERT_LT(saved, 40u);
    ASSERT_EQ(ui.boxes.size(), 2u) << ui.boxes[0].text;
    EXPECT_EQ(ui.boxes[0].title, T(27));
    EXPECT_EQ(ui.boxes[0].style, platform::vbExclamation);
    EXPECT_EQ(ui.boxes[0].text, T(78) + " " + std::to_string(40 - saved) + "\r\n\r\n" + T(79));
    EXPECT_EQ(ui.boxes[1].title, T(22));
    EXPECT_EQ(ui.boxes[1].text, T(73) + " " + std::to_string(saved) + "\r\n" + T(75) + " " +
                                    std::to_string(40 - saved) + " (" + T(76) + ")\r\n\r\n" + T(77));
    EXPECT_TRUE(listShown);
    EXPECT_GE(listed, 1);
    EXPECT_FALSE(Unloaded());
}

// The window's run keeps the same record as tranquo-cli's: every file of
// both stages, and how the run ended.
TEST_F(WizardWindow, TheRunsReportListsBothStagesAndSaysItWasStopped) {
    Pick(AttachPhotoCard("card.img"));
    bool deepScanRunning = false;
    ui.onBox = [&](const platform::ScriptedUi::Box& box) { deepScanRunning = box.title == T(39); };
    ui.onPump = [&] {
        if (deepScanRunning && ui.pumpCount % 64 == 0) Find<QPushButton>("xpbutStop")->click();
    };
    ui.QueueAnswer(IDYES);
    ui.QueueAnswer(IDNO);
    Start();
    std::ifstream in(folder_ / "dest" / "My Recovered Mobile Device" / "report.xml", std::ios::binary);
    const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(xml.find("state=\"stopped\""), std::string::npos) << xml;
    std::size_t objects = 0;
    for (auto at = xml.find("<fileobject"); at != std::string::npos; at = xml.find("<fileobject", at + 1)) ++objects;
    const std::size_t turbo = FilesIn(Results("Turbo Scan")).size();
    const std::size_t deep = FilesIn(Results("Deep Scan")).size();
    EXPECT_GT(turbo, 0u);
    EXPECT_GT(deep, 0u);
    EXPECT_EQ(objects, turbo + deep) << xml;
}

// One process, two cards: nothing of the first run shows in the second.
TEST_F(WizardWindow, ASecondRunOnABlankCardFindsNothingOfTheFirst) {
    const char photos = AttachPhotoCard("photos.img");
    const char blank = AttachBlankCard("blank.img");
    Open();
    Pick(photos);
    ui.QueueAnswer(IDYES); // deep scan
    ui.QueueAnswer(IDYES); // closing question: the results viewer follows
    Start();
    ASSERT_NE(ui.Titled(T(22)), nullptr);
    ASSERT_TRUE(Unloaded());
    QWidget* viewer = platform::desktop::FindForm("frmView");
    EXPECT_EQ(viewer != nullptr, platform::desktop::FormExists("frmView"));
    platform::desktop::Unload(viewer);

    ui.boxes.clear();
    Open();
    Pick(blank);
    EXPECT_EQ(Shown("LabelInfoCapacity"), "32.00 MB");
    ui.QueueAnswer(IDYES); // delete the earlier results
    ui.QueueAnswer(IDYES); // deep scan
    ui.QueueAnswer(IDYES); // "return to the main menu?"
    Start();
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(ui.boxes.front().title, T(32));
    EXPECT_EQ(ui.boxes.front().style, platform::vbYesNo | platform::vbQuestion | platform::vbDefaultButton2);
    EXPECT_EQ(ui.Titled(T(39))->text.rfind(T(37) + " 0!", 0), 0u);
    EXPECT_EQ(ui.Titled(T(22)), nullptr);
    const auto* none = ui.Titled(T(20));
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->text, T(19));
    EXPECT_TRUE(FilesIn(Results("Turbo Scan")).empty());
    EXPECT_TRUE(FilesIn(Results("Deep Scan")).empty());
    EXPECT_TRUE(Unloaded());
}

TEST_F(WizardWindow, WithoutTheSignatureDatabaseTheRunEndsWithItsErrorAndTheDriveListComesBack) {
    // A program folder with everything but the database.
    const fs::path program = folder_ / "program";
    fs::create_directories(program);
    for (const auto& entry : fs::directory_iterator(support::ProgramFolder()))
        if (entry.path().filename() != "settings.zq4") fs::create_symlink(entry.path(), program / entry.path().filename());
    const std::string saved = support::ProgramFolder();
    setenv("TRANQUO_PROGRAM_DIR", program.c_str(), 1);
    engine::ReleaseFileTypes();
    Pick(AttachPhotoCard("card.img"));
    Start();
    setenv("TRANQUO_PROGRAM_DIR", saved.c_str(), 1);

    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, T(15) + " 53. Unable to load file type data from settings.zq4");
    EXPECT_EQ(ui.boxes[0].title, T(27));
    EXPECT_EQ(ui.boxes[0].style, platform::vbCritical);
    EXPECT_FALSE(fs::exists(Results("Turbo Scan")));
    EXPECT_FALSE(Unloaded());
    EXPECT_TRUE(Find<QComboBox>("DriveBox")->isVisible());
    EXPECT_TRUE(Find<QPushButton>("xpbutStart")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("xpbutBack")->isEnabled());
}

TEST_F(WizardWindow, TheDriveListShowsCardsWithTheirCapacityAndEmptyReadersOnlyOnRequest) {
    const char twoGb = platform::AttachVolume(std::make_shared<ZeroVolume>(3999744), "2 GB card");
    const char emptyReader = platform::AttachVolume(std::make_shared<ZeroVolume>(0), "empty reader");
    const char sixteenMb = platform::AttachVolume(std::make_shared<ZeroVolume>(32768), "16 MB card");
    Open();
    auto* box = Find<QComboBox>("DriveBox");
    ASSERT_EQ(box->count(), 2); // C: is fixed, the reader is empty
    EXPECT_EQ(box->itemText(0).toStdString(), std::string("Drive ") + twoGb + ": (1.91 GB)");
    EXPECT_EQ(box->itemText(1).toStdString(), std::string("Drive ") + sixteenMb + ": (16.00 MB)");
    // The first drive is chosen at once.
    EXPECT_EQ(Shown("LabelInfoMedia"), "Removable");
    EXPECT_EQ(Shown("LabelInfoBytesPerSec"), "512");
    EXPECT_EQ(Shown("LabelInfoCapacity"), "1.91 GB");
    auto* sectors = Find<QSpinBox>("UpDownSecAtOnce");
    EXPECT_EQ(sectors->maximum(), 4000);
    EXPECT_EQ(sectors->value(), 4000);
    EXPECT_TRUE(Find<QPushButton>("xpbutStart")->isEnabled());
    EXPECT_EQ(Shown("lblSearchStatus").rfind(T(64) + " 2 " + T(65), 0), 0u);

    Pick(sixteenMb);
    EXPECT_EQ(Shown("LabelInfoCapacity"), "16.00 MB");
    EXPECT_EQ(sectors->value(), 327);

    QTest::mouseClick(Find<QPushButton>("butGetAll"), Qt::LeftButton);
    ASSERT_EQ(box->count(), 3);
    EXPECT_EQ(box->itemText(1).toStdString(), T(61) + " " + emptyReader + ": (" + T(60) + ")");
    // A rescan lists only cards again.
    QTest::mouseClick(Find<QPushButton>("xpbutRescan"), Qt::LeftButton);
    EXPECT_EQ(box->count(), 2);
}

TEST_F(WizardWindow, WithoutACardOnlyRescanIsPossible) {
    platform::AttachVolume(std::make_shared<ZeroVolume>(0), "empty reader");
    Open();
    EXPECT_FALSE(Find<QComboBox>("DriveBox")->isVisible());
    EXPECT_FALSE(Find<QPushButton>("xpbutStart")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("xpbutRescan")->isEnabled());
    EXPECT_EQ(Shown("lblSearchStatus"), QString::fromStdString(T(62) + "\r\n\r\n" + T(63)).replace("\r\n", "\n").toStdString());
    // Every control a user can reach has a name for the screen reader.
    EXPECT_EQ(Find<QPushButton>("xpbutRescan")->accessibleName().toStdString(), T(9));
    EXPECT_EQ(Find<QSpinBox>("UpDownRetry")->accessibleName().toStdString(), T(55));
    for (QWidget* control : platform::desktop::FindForm("frmMain")->findChildren<QWidget*>()) {
        // Qt's own parts (a spin box's text field) speak for their control.
        if (control->focusPolicy() == Qt::NoFocus || !control->isVisible() || control->objectName().startsWith("qt_"))
            continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
        ASSERT_NE(accessible, nullptr);
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty()) << control->objectName().toStdString();
    }
}

TEST_F(WizardWindow, AnUnreadableDriveSaysSoBesideADisabledStartAndEnterStartsAReadableOne) {
    platform::AttachVolume(std::make_shared<ZeroVolume>(0), "empty reader");
    const char blank = AttachBlankCard("blank.img");
    QWidget* window = Open();
    QTest::mouseClick(Find<QPushButton>("butGetAll"), Qt::LeftButton);
    auto* box = Find<QComboBox>("DriveBox");
    ASSERT_EQ(box->count(), 2);
    const int reader = box->itemText(0).contains(QString("%1:").arg(blank)) ? 1 : 0;
    box->setCurrentIndex(reader);
    emit box->activated(reader);
    EXPECT_TRUE(Find<QLabel>("LabelInfoStatus")->isVisible());
    EXPECT_EQ(Shown("LabelInfoStatus"), T(50));
    EXPECT_FALSE(Find<QPushButton>("xpbutStart")->isEnabled());

    Pick(blank);
    EXPECT_EQ(Shown("LabelInfoStatus"), T(18));
    EXPECT_TRUE(Find<QPushButton>("xpbutStart")->isDefault());
    EXPECT_EQ(Find<QLabel>("Label11")->focusPolicy(), Qt::NoFocus); // a picture is not a stop for Tab
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Return);
    ASSERT_SOON(ui.Titled(T(20)) != nullptr); // the run went through: no files on a blank card
}

TEST_F(WizardWindow, TheDestinationIsTypedOrBrowsedForAndAFolderThatIsNotThereIsRefused) {
    Open();
    auto* field = Find<QLineEdit>("EditDestPath");
    const std::string stored = shell::CurrentDestinationRoot();
    EXPECT_EQ(field->text().toStdString(), stored);
    field->setText(QString::fromStdString((folder_ / "missing").string()));
    emit field->editingFinished();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].style, platform::vbExclamation);
    EXPECT_NE(ui.boxes[0].text.find((folder_ / "missing").string()), std::string::npos);
    EXPECT_EQ(shell::CurrentDestinationRoot(), stored);
    EXPECT_EQ(field->text().toStdString(), stored);

    fs::create_directories(folder_ / "typed");
    field->setText(QString::fromStdString((folder_ / "typed").string())); // no "/" at the end
    emit field->editingFinished();
    EXPECT_EQ(shell::CurrentDestinationRoot(), (folder_ / "typed").string() + "/");

    fs::create_directories(folder_ / "browsed");
    ui.QueueFileAnswer((folder_ / "browsed").string());
    QTest::mouseClick(Find<QPushButton>("butBrowse"), Qt::LeftButton);
    ASSERT_EQ(ui.dialogs.size(), 1u);
    EXPECT_TRUE(ui.dialogs[0].folder);
    EXPECT_EQ(shell::CurrentDestinationRoot(), (folder_ / "browsed").string() + "/");
    EXPECT_EQ(field->text().toStdString(), (folder_ / "browsed").string() + "/");
    EXPECT_EQ(ui.boxes.size(), 1u);
}

TEST_F(WizardWindow, TheIconAndTheAddressOpenTheWebSite) {
    std::vector<std::string> opened;
    platform::SetShellLauncher([&opened](const std::string& target) {
        opened.push_back(target);
        return true;
    });
    Open();
    QTest::mouseClick(Find<QLabel>("Label11"), Qt::LeftButton);
    emit Find<QLabel>("Label18")->linkActivated(shell::WebSiteAddress);
    platform::SetShellLauncher({});
    EXPECT_EQ(opened, std::vector<std::string>(2, shell::WebSiteAddress));
    for (const char* name : {"Label11", "Label18"}) {
        QAccessibleInterface* link = QAccessible::queryAccessibleInterface(Find<QLabel>(name));
        EXPECT_EQ(link->role(), QAccessible::Link) << name;
        EXPECT_EQ(link->text(QAccessible::Name).toStdString(), shell::ShownAddress(shell::WebSiteAddress)) << name;
    }
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(WizardWindow, DraggingTheHeadingMovesTheWindowByTheMousesWay) {
    QWidget* window = Open();
    window->move(100, 80);
    auto* heading = Find<QLabel>("Label2");
    QTest::mousePress(heading, Qt::LeftButton, {}, QPoint(10, 5));
    QTest::mouseMove(heading, QPoint(40, 25));
    EXPECT_EQ(window->pos(), QPoint(130, 100));
    QTest::mouseRelease(heading, Qt::LeftButton, {}, QPoint(10, 5));
    // Released: moving the mouse leaves the window where it is.
    QTest::mouseMove(heading, QPoint(60, 60));
    EXPECT_EQ(window->pos(), QPoint(130, 100));
}

} // namespace

// The tools window, driven by clicks on the offscreen platform: the drive
// list and its prompt, the three tools on an attached card with scripted
// dialogs and answers, Stop, the folder chooser, and leaving the window.
#include <QAccessible>
#include <QButtonGroup>
#include <QComboBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>
#include <QtTest>

#include <algorithm>

#include "ToolFixture.h"
#include "platform/desktop/Forms.h"
#include "tests/windows/Eventually.h"
#include "shell/DesktopTexts.h"
#include "shell/DestinationFolder.h"
#include "shell/LanguageFile.h"
#include "shell/RegistryStuff.h"
#include "tools/windows/frmAdvTools.h"

namespace {

using namespace testing_tools;

class ToolsWindowTest : public ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        window_ = new tools::frmAdvTools;
        window_->show();
        section = shell::LoadSectionWithFallback(shell::LanguageName(), shell::AdvancedToolsSection.header,
                                                 shell::AdvancedToolsSection.count);
        ASSERT_EQ(section.size(), 27u);
    }
    void TearDown() override {
        if (window_) platform::desktop::Unload(window_);
        ASSERT_SOON(window_.isNull());
        ToolTest::TearDown();
    }

    template <class W>
    W* Control(const char* name) {
        W* control = window_->findChild<W*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    // On the button's indicator and caption: an option reacts only there.
    void Click(const char* name) {
        auto* button = Control<QAbstractButton>(name);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }
    QString Text(int entry) const { return QString::fromStdString(section[entry - 1]); }
    QStringList DriveItems() {
        QStringList items;
        auto* box = Control<QComboBox>("DriveBox");
        for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
        return items;
    }
    // Chooses the option and the card whose item starts with its letter.
    void Choose(const char* option, engine::DriveNumber drive) {
        Click(option);
        auto* box = Control<QComboBox>("DriveBox");
        box->setCurrentIndex(box->findText(QString(QChar('A' + drive - 1)) + ":", Qt::MatchStartsWith));
    }
    bool TakesInput() {
        return Control<QRadioButton>("optBackup")->isEnabled() && Control<QPushButton>("cmdGo")->isEnabled() &&
               Control<QPushButton>("cmdCancel")->isEnabled();
    }

    QPointer<tools::frmAdvTools> window_;
    std::vector<std::string> section;
};

TEST_F(ToolsWindowTest, TheDriveListShowsCardsWithMediaAndThePromptOfTheTool) {
    const QSize design = window_->size();
    window_->resize(design + QSize(200, 100));
    EXPECT_EQ(window_->size(), design); // resizing snaps back
    EXPECT_FALSE(Control<QComboBox>("DriveBox")->isVisible());

    Attach(std::make_shared<MemoryVolume>(512ull << 20, 512, 4096));
    Attach(std::make_shared<MemoryVolume>(1ull << 30, 512, 4096));
    Click("optBackup");
    EXPECT_TRUE(DriveItems().contains("D: (512.00 MB)"));
    EXPECT_TRUE(DriveItems().contains("E: (1.00 GB)"));
    EXPECT_EQ(Control<QComboBox>("DriveBox")->currentIndex(), 0);
    EXPECT_EQ(Control<QLabel>("Label2")->text(), Text(17) + " " + Text(18));
    EXPECT_EQ(window_->focusWidget(), Control<QPushButton>("cmdGo"));

    // Restore: the same list, only the second half of the prompt changes.
    Click("optRestore");
    EXPECT_EQ(Control<QComboBox>("DriveBox")->count(), DriveItems().size());
    EXPECT_EQ(Control<QLabel>("Label2")->text(), Text(17) + " " + Text(19));
    EXPECT_EQ(Control<QComboBox>("DriveBox")->accessibleName(), Control<QLabel>("Label2")->text());

    Click("optCDDVD");
    EXPECT_FALSE(Control<QComboBox>("DriveBox")->isVisible());
    EXPECT_FALSE(Control<QLabel>("Label2")->isVisible());
    EXPECT_TRUE(Control<QPushButton>("cmdGo")->isEnabled());
}

TEST_F(ToolsWindowTest, WithoutACardGoIsOffAndGoWithoutAChoiceAsks) {
    Click("cmdGo");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, section[12]);
    EXPECT_EQ(ui.boxes[0].title, section[11]);
    EXPECT_EQ(ui.boxes[0].style, platform::vbCritical);

    Click("optSecureErase");
    if (Control<QComboBox>("DriveBox")->count() > 0) GTEST_SKIP() << "this machine has a card inserted";
    EXPECT_TRUE(Control<QLabel>("lblNoDevice")->isVisible());
    EXPECT_EQ(Control<QLabel>("lblNoDevice")->text(), Text(11));
    EXPECT_FALSE(Control<QPushButton>("cmdGo")->isEnabled());
    EXPECT_FALSE(Control<QComboBox>("DriveBox")->isVisible());
}

TEST_F(ToolsWindowTest, BackupEraseAndRestoreACardWithClicks) {
    REQUIRE_EXTRA_LONG();
    const auto card = CardBytes(3001, 32);
    const std::string cardPath = WriteFile("card.img", card);
    const engine::DriveNumber drive = AttachFile(cardPath);
    const std::string image = folder + "/backup.img";

    ui.QueueFileAnswer(image);
    Choose("optBackup", drive);
    Click("cmdGo");
    EXPECT_EQ(ReadFile(image), card);
    EXPECT_EQ(ui.dialogs.back().flags, 0x8006u);
    EXPECT_TRUE(ui.dialogs.back().save);
    EXPECT_EQ(LastBox().style, platform::vbInformation);
    EXPECT_TRUE(TakesInput());

    // Erase: Enter alone answers No and nothing is written.
    Choose("optSecureErase", drive);
    Click("cmdGo");
    EXPECT_EQ(LastBox().style, platform::vbYesNo | platform::vbExclamation | platform::vbDefaultButton2);
    EXPECT_EQ(ReadFile(cardPath), card);
    ui.QueueAnswer(platform::IDYES);
    Click("cmdGo");
    const auto erased = ReadFile(cardPath);
    ASSERT_EQ(erased.size(), card.size());
    EXPECT_TRUE(std::equal(erased.begin(), erased.begin() + 16384, card.begin()));
    EXPECT_TRUE(std::all_of(erased.begin() + 16384, erased.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(TakesInput());

    // Restore the backup: asked first, No by default.
    ui.QueueFileAnswer(image);
    ui.QueueAnswer(platform::IDYES);
    Choose("optRestore", drive);
    const std::size_t boxesBefore = ui.boxes.size();
    Click("cmdGo");
    EXPECT_EQ(ui.dialogs.back().flags, 0x1000u);
    EXPECT_FALSE(ui.dialogs.back().save);
    ASSERT_EQ(ui.boxes.size(), boxesBefore + 2);
    EXPECT_EQ(ui.boxes[boxesBefore].style & platform::DefaultButtonMask, platform::vbDefaultButton2);
    EXPECT_EQ(LastBox().style, platform::vbInformation);
    EXPECT_EQ(ReadFile(cardPath), card);
    EXPECT_TRUE(TakesInput());
}

TEST_F(ToolsWindowTest, StopEndsABackupAndRemovesItsImage) {
    REQUIRE_EXTRA_LONG();
    const engine::DriveNumber drive = AttachFile(WriteFile("card.img", CardBytes(3001)));
    const std::string image = folder + "/stopped.img";
    bool sawProgress = false, tookInput = true;
    // The third pump comes after the second block.
    ui.AtPump(3, [&] {
        sawProgress = Control<QProgressBar>("prgTool")->isVisible() && Control<QProgressBar>("prgTool")->value() > 0 &&
                      !Control<QLabel>("lblProgress")->text().isEmpty();
        tookInput = TakesInput();
        Click("cmdStop");
    });
    ui.QueueFileAnswer(image);
    Choose("optBackup", drive);
    Click("cmdGo");

    EXPECT_TRUE(sawProgress);
    EXPECT_FALSE(tookInput);
    EXPECT_FALSE(std::filesystem::exists(image));
    EXPECT_EQ(tools::LastToolOutcome(), tools::ToolOutcome::Stopped);
    EXPECT_TRUE(TakesInput());
    EXPECT_FALSE(Control<QProgressBar>("prgTool")->isVisible());
}

TEST_F(ToolsWindowTest, TheFolderChooserStoresTheChosenFolderOnlyOnOK) {
    namespace fs = std::filesystem;
    const std::string start = folder + "/photos", other = folder + "/photos/holiday";
    fs::create_directories(other);
    ASSERT_TRUE(shell::StoreDestinationRoot(start + "/"));
    auto stored = [] { return shell::RegGetString(shell::ProgramKeyPath, shell::DestDirValueName); };

    Click("optChangeDir");
    Click("cmdGo");
    auto* tree = Control<QTreeView>("lstDir");
    auto* model = qobject_cast<QFileSystemModel*>(tree->model());
    ASSERT_TRUE(tree->isVisible());
    EXPECT_FALSE(Control<QRadioButton>("optBackup")->isVisible());
    EXPECT_EQ(Control<QLineEdit>("txtDrive")->text().toStdString(), start);
    EXPECT_EQ(model->filePath(tree->currentIndex()).toStdString(), start);

    Click("butDestCancel");
    EXPECT_EQ(stored(), start + "/");
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_TRUE(Control<QRadioButton>("optBackup")->isVisible());
    EXPECT_FALSE(Control<QRadioButton>("optChangeDir")->isChecked());
    EXPECT_FALSE(tree->isVisible());

    Click("optChangeDir");
    Click("cmdGo");
    tree->setCurrentIndex(model->index(QString::fromStdString(other)));
    Click("butDestOK");
    EXPECT_EQ(stored(), other + "/");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, section[24] + " " + other + "/");
    EXPECT_EQ(ui.boxes[0].title, section[25]);
    EXPECT_EQ(ui.boxes[0].style, platform::vbInformation);
    EXPECT_TRUE(Control<QRadioButton>("optBackup")->isVisible());
}

TEST_F(ToolsWindowTest, LeavingShowsTheMainMenuAndTheCdDvdOptionSaysItCannotFirst) {
    // A stand-in main menu, registered once for the whole test program.
    static const platform::desktop::FormRegistration menu("frmMainMenu", [] {
        auto* stub = new QWidget;
        stub->setObjectName("frmMainMenu");
        return stub;
    });
    Click("cmdCancel");
    ASSERT_SOON(window_.isNull());
    QPointer<QWidget> shown = platform::desktop::FindForm("frmMainMenu");
    ASSERT_TRUE(shown);
    EXPECT_TRUE(shown->isVisible());
    platform::desktop::Unload(shown);
    ASSERT_SOON(shown.isNull());

    window_ = new tools::frmAdvTools;
    window_->show();
    Click("optCDDVD");
    Click("cmdGo");
    ASSERT_SOON(window_.isNull());
    ASSERT_EQ(ui.boxes.size(), 1u);
    const shell::DesktopTexts words = shell::LoadDesktopTexts();
    EXPECT_EQ(ui.boxes[0].text, words(shell::desktop_text::CdRomRefused));
    EXPECT_EQ(ui.boxes[0].title, words(shell::desktop_text::CdRomRefusedTitle));
    EXPECT_EQ(ui.boxes[0].style, platform::vbCritical);
    shown = platform::desktop::FindForm("frmMainMenu");
    ASSERT_TRUE(shown); // the program goes on
    EXPECT_TRUE(shown->isVisible());
}

TEST_F(ToolsWindowTest, AToolChosenByTheScreenReadersToggleListsTheCards) {
    Attach(std::make_shared<MemoryVolume>(512ull << 20, 512, 4096));
    QAccessibleInterface* backup = QAccessible::queryAccessibleInterface(Control<QRadioButton>("optBackup"));
    ASSERT_TRUE(backup && backup->actionInterface());
    backup->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    ASSERT_TRUE(Control<QRadioButton>("optBackup")->isChecked());
    EXPECT_TRUE(DriveItems().contains("D: (512.00 MB)"));
    EXPECT_TRUE(Control<QComboBox>("DriveBox")->isVisibleTo(window_));
    EXPECT_TRUE(Control<QPushButton>("cmdGo")->isEnabled());
}

} // namespace

namespace {

TEST_F(ToolsWindowTest, KeysAloneChooseAToolAndLeaveTheFolderChooser) {
    QApplication::setActiveWindow(window_);
    Control<QRadioButton>("optBackup")->setFocus();
    QTest::keyClick(window_->focusWidget(), Qt::Key_Down); // moves to the next option
    QTest::keyClick(window_->focusWidget(), Qt::Key_Down);
    QTest::keyClick(window_->focusWidget(), Qt::Key_Down);
    QTest::keyClick(window_->focusWidget(), Qt::Key_Space); // chooses it
    EXPECT_TRUE(Control<QRadioButton>("optChangeDir")->isChecked());
    EXPECT_EQ(window_->focusWidget(), Control<QPushButton>("cmdGo"));

    QTest::keyClick(window_->focusWidget(), Qt::Key_Return); // Go
    ASSERT_SOON(Control<QTreeView>("lstDir")->isVisible());
    QTest::keyClick(window_->focusWidget(), Qt::Key_Escape);
    ASSERT_SOON(Control<QRadioButton>("optBackup")->isVisible());
    EXPECT_TRUE(ui.boxes.empty());
}

} // namespace

// The splash window, the main menu and the about window, driven by their
// controls' names.
#include <QAccessible>
#include <QBitmap>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>

#include "platform/desktop/Forms.h"
#include "shell/ProgramInstance.h"
#include "shell/VendorLinks.h"
#include "WindowTestFixture.h"

using namespace platform::desktop;
using platform::IDNO;
using platform::IDYES;

namespace {

class MainMenu : public testing_support::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        WriteSection("English", "[MainMenu]", 26, "mm");
        WriteSection("English", "[FATMisc]", 11, "fat");
        WriteSection("English", "[HelpandSupport]", 20, "hs");
    }
    QWidget* OpenMenu() {
        QWidget* menu = ShowForm("frmMainMenu");
        EXPECT_TRUE(QTest::qWaitForWindowExposed(menu));
        return menu;
    }
    // Clicks on the option's circle.
    void Choose(QWidget* menu, const char* option) {
        QWidget* button = Find(menu, option);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }
    void PressNext(QWidget* menu) { QTest::mouseClick(Find(menu, "butNext"), Qt::LeftButton); }
};

TEST_F(MainMenu, EntriesGoToTheirControlsByPosition) {
    WriteSection("German", "[MainMenu]", 26, "de");
    SetLocale("de_DE.UTF-8");
    QWidget* menu = OpenMenu();
    EXPECT_EQ(menu->windowTitle(), "de1");
    const std::pair<const char*, const char*> expected[] = {
        {"lblInfo", "de2"},   {"Label2", "de3"},      {"XPFrame201", "de4"}, {"Label6", "de5"},
        {"optRecover", "de6"}, {"optView", "de7"},    {"optAdvanced", "de8"}, {"optHelp", "de9"},
        {"butNext", "de10"},  {"butClose", "de11"},   {"lblIntCon", "de23"}, {"optUpdates", "de24"},
    };
    for (const auto& [name, text] : expected) EXPECT_EQ(Find(menu, name)->accessibleName(), text) << name;
    EXPECT_EQ(Find<QGroupBox>(menu, "XPFrame201")->title(), "de4");
    EXPECT_EQ(Find<QRadioButton>(menu, "optUpdates")->text(), "de24"); // entry 22 is not used
    // The program folder for every window, and the engine's messages (English
    // stands in for the missing German section).
    EXPECT_EQ(shell::frmPasser().txtAppPath, programFolder_.Path());
    EXPECT_EQ(shell::frmPasser().LANG[377], "fat1");
    EXPECT_EQ(shell::frmPasser().LANG[387], "fat11");
    EXPECT_TRUE(scripted_.boxes.empty());
}

TEST_F(MainMenu, EveryControlIsInTheAccessibilityTreeWithItsCaptionAndRole) {
    QWidget* menu = OpenMenu();
    const std::tuple<const char*, QAccessible::Role, const char*> expected[] = {
        {"optRecover", QAccessible::RadioButton, "mm6"}, {"optUpdates", QAccessible::RadioButton, "mm24"},
        {"butNext", QAccessible::Button, "mm10"},        {"butClose", QAccessible::Button, "mm11"},
        {"lblInfo", QAccessible::StaticText, "mm2"},     {"XPFrame201", QAccessible::Grouping, "mm4"},
        {"imgAbout", QAccessible::Button, "mm9"},
    };
    for (const auto& [name, role, text] : expected) {
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(Find(menu, name));
        ASSERT_NE(control, nullptr) << name;
        EXPECT_EQ(control->role(), role) << name;
        EXPECT_EQ(control->text(QAccessible::Name), text) << name;
    }
}

TEST_F(MainMenu, WithoutAnyLanguageFileTheFatalMessageEndsTheProgram) {
    SetLocale("de_DE.UTF-8");
    std::filesystem::remove_all(programFolder_ / "Language");
    LoadForm("frmMainMenu");
    ASSERT_EQ(scripted_.boxes.size(), 1u);
    EXPECT_EQ(scripted_.boxes[0].text, shell::FatalLanguageMessage());
    EXPECT_EQ(scripted_.boxes[0].title, shell::FatalLanguageTitle);
    EXPECT_EQ(scripted_.boxes[0].style, platform::vbCritical);
    EXPECT_EQ(programEnds_, 1);
}

TEST_F(MainMenu, ASecondCopyIsRefusedAndACrashedFirstCopyDoesNotCount) {
    {
        shell::InstanceLock firstCopy(shell::InstanceLockPath());
        ASSERT_TRUE(firstCopy.Held());
        LoadForm("frmMainMenu");
        ASSERT_EQ(scripted_.boxes.size(), 1u);
        EXPECT_EQ(scripted_.boxes[0].text, "mm25\r\n\r\nmm26");
        EXPECT_EQ(scripted_.boxes[0].title, "mm14"); // message text 3
        EXPECT_EQ(scripted_.boxes[0].style, platform::vbCritical);
        EXPECT_EQ(programEnds_, 1);
        Unload(FindForm("frmMainMenu"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // The first copy is gone (its lock file stays behind): this one starts.
    scripted_.boxes.clear();
    OpenMenu();
    EXPECT_TRUE(scripted_.boxes.empty());
    EXPECT_EQ(programEnds_, 1);
    // ... and now it is the one that refuses others.
    EXPECT_FALSE(shell::InstanceLock(shell::InstanceLockPath()).Held());
}

TEST_F(MainMenu, NextWithoutAnOptionShowsTheCriticalMessageAndKeepsTheMenu) {
    QWidget* menu = OpenMenu();
    PressNext(menu);
    ASSERT_EQ(scripted_.boxes.size(), 1u);
    EXPECT_EQ(scripted_.boxes[0].text, "mm19");  // message text 8
    EXPECT_EQ(scripted_.boxes[0].title, "mm20"); // message text 9
    EXPECT_EQ(scripted_.boxes[0].style, platform::vbCritical);
    EXPECT_TRUE(menu->isVisible());
    EXPECT_TRUE(menu->isEnabled());
}

TEST_F(MainMenu, ClickingAnOptionGoesToNextButArrowKeysStayInTheOptions) {
    QWidget* menu = OpenMenu();
    Choose(menu, "optRecover");
    EXPECT_TRUE(Find(menu, "butNext")->hasFocus());
    Find(menu, "optRecover")->setFocus();
    QTest::keyClick(Find(menu, "optRecover"), Qt::Key_Down);
    EXPECT_TRUE(Find<QRadioButton>(menu, "optView")->isChecked());
    EXPECT_TRUE(Find(menu, "optView")->hasFocus());
}

TEST_F(MainMenu, ComesUpCentredWithTheFirstOptionFocusedAndTheScreenReadersToggleChooses) {
    QWidget* menu = OpenMenu();
    menu->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(menu));
    EXPECT_EQ(QApplication::focusWidget(), Find(menu, "optRecover"));
    const QRect screen = menu->screen()->availableGeometry();
    EXPECT_LE((menu->geometry().center() - screen.center()).manhattanLength(), 4);
    // Hidden (a wizard in front) and moved away, it comes back in the middle.
    menu->hide();
    menu->move(screen.topLeft());
    ShowForm("frmMainMenu");
    EXPECT_LE((menu->geometry().center() - screen.center()).manhattanLength(), 4);

    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(Find(menu, "optView"));
    ASSERT_TRUE(view && view->actionInterface());
    view->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(Find<QRadioButton>(menu, "optView")->isChecked());
    EXPECT_EQ(menu->focusWidget(), Find(menu, "butNext"));
}

TEST_F(MainMenu, HelpLeavesTheMenuWithoutInputUntilTheAboutWindowCloses) {
    QWidget* menu = OpenMenu();
    Choose(menu, "optHelp");
    PressNext(menu);
    QPointer<QWidget> about = FindForm("frmAbout");
    ASSERT_TRUE(about);
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(menu->isEnabled());
    EXPECT_FALSE(Find<QRadioButton>(menu, "optHelp")->isChecked());
    EXPECT_EQ(about->windowTitle(), "hs1");
    EXPECT_EQ(Find<QPushButton>(about, "butOK")->text(), "hs19");

    QTest::mouseClick(Find(about, "butOK"), Qt::LeftButton);
    EXPECT_TRUE(testing_support::Unloaded(about));
    EXPECT_TRUE(menu->isEnabled());

    // The title bar's about area does the same.
    QTest::mouseClick(Find(menu, "imgAbout"), Qt::LeftButton);
    about = FindForm("frmAbout");
    ASSERT_TRUE(about);
    EXPECT_FALSE(menu->isEnabled());
    QTest::keyClick(Find(about, "butOK"), Qt::Key_Escape);
    EXPECT_TRUE(testing_support::Unloaded(about));
    EXPECT_TRUE(menu->isEnabled());
}

TEST_F(MainMenu, CloseAsksFirstAndNoKeepsTheProgramRunning) {
    QPointer<QWidget> menu = OpenMenu();
    EXPECT_FALSE(Find(menu, "imgClose")->isEnabled()); // blocked: no close item
    scripted_.QueueAnswer(IDNO);
    QTest::mouseClick(Find(menu, "butClose"), Qt::LeftButton);
    ASSERT_EQ(scripted_.boxes.size(), 1u);
    EXPECT_EQ(scripted_.boxes[0].text, "mm17");  // message text 6
    EXPECT_EQ(scripted_.boxes[0].title, "mm18"); // message text 7
    EXPECT_EQ(scripted_.boxes[0].style, platform::vbYesNo | platform::vbQuestion);
    EXPECT_TRUE(menu->isVisible());

    scripted_.QueueAnswer(IDYES);
    QTest::mouseClick(Find(menu, "butClose"), Qt::LeftButton);
    EXPECT_TRUE(testing_support::Unloaded(menu));
}

TEST_F(MainMenu, ResizingSnapsBackAndMinimisingIsAllowed) {
    QWidget* menu = OpenMenu();
    const QSize design = menu->size();
    menu->resize(design + QSize(120, 80));
    EXPECT_EQ(menu->size(), design);
    QTest::mouseClick(Find(menu, "imgMinimise"), Qt::LeftButton);
    EXPECT_TRUE(menu->windowState() & Qt::WindowMinimized);
}

TEST_F(MainMenu, UpdatesAndTheWebSiteOpenInTheBrowser) {
    QWidget* menu = OpenMenu();
    Choose(menu, "optUpdates");
    PressNext(menu);
    EXPECT_EQ(opened_, std::vector<std::string>{shell::DownloadPageAddress});
    emit Find<QLabel>(menu, "Label11")->linkActivated(shell::WebSiteAddress);
    EXPECT_EQ(opened_.back(), shell::WebSiteAddress);
    EXPECT_TRUE(scripted_.boxes.empty());
}

TEST_F(MainMenu, AWindowThisVersionLacksIsExplainedAndTheMenuStays) {
    QWidget* menu = OpenMenu();
    for (const char* option : {"optRecover", "optView", "optAdvanced"}) {
        if (FormExists(option == std::string("optRecover") ? "frmMain" : option == std::string("optView") ? "frmView" : "frmAdvTools"))
            continue; // built by now: its own tests cover it
        scripted_.boxes.clear();
        Choose(menu, option);
        PressNext(menu);
        ASSERT_EQ(scripted_.boxes.size(), 1u) << option;
        EXPECT_EQ(scripted_.boxes[0].style, platform::vbInformation);
        EXPECT_NE(scripted_.boxes[0].text.find("not available"), std::string::npos);
        EXPECT_TRUE(menu->isVisible());
    }
}

TEST_F(MainMenu, TheSplashShowsTheVersionInACardOutlineThenHandsOverToTheMenu) {
    QPointer<QWidget> splash = ShowForm("frmStartup");
    ASSERT_TRUE(splash);
    EXPECT_EQ(Find<QLabel>(splash, "lblVersion")->text(),
              QStringLiteral("Version %1.%2.%3").arg(TRANQUO_VERSION_MAJOR).arg(TRANQUO_VERSION_MINOR).arg(TRANQUO_VERSION_PATCH));
    EXPECT_FALSE(splash->mask().contains(QPoint(2, 2)));   // the blue corner is see-through
    EXPECT_TRUE(splash->mask().contains(QPoint(240, 150))); // the card is not
    auto* timer = Find<QTimer>(splash, "Timer1");
    EXPECT_EQ(timer->interval(), 2000);
    timer->setInterval(1);
    EXPECT_TRUE(testing_support::Unloaded(splash));
    ASSERT_TRUE(FindForm("frmMainMenu"));
    EXPECT_TRUE(FindForm("frmMainMenu")->isVisible());
}

} // namespace

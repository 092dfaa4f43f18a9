// The conventions every window follows, on plain widgets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

#include "platform/desktop/DesktopUi.h"
#include "platform/desktop/Forms.h"
#include "platform/desktop/WindowConventions.h"
#include "WindowTestFixture.h"

using namespace platform::desktop;

namespace {

bool SendClose(QWidget* window) {
    QCloseEvent close;
    QApplication::sendEvent(window, &close);
    return close.isAccepted();
}

TEST(WindowConventions, CaptionsComeFromTheirEntryAndNameTheControlForScreenReaders) {
    QWidget window;
    window.setObjectName("frmTest");
    auto* button = NewControl<QPushButton>(&window, "butNext");
    auto* frame = NewControl<QGroupBox>(&window, "XPFrame201");
    const std::vector<std::string> texts{"Window", "Next >", "Options"};
    SetCaption(&window, texts, 1);
    SetCaption(button, texts, 2);
    SetCaption(frame, texts, 3);
    EXPECT_EQ(window.windowTitle(), "Window");
    EXPECT_EQ(button->text(), "Next >");
    EXPECT_EQ(button->accessibleName(), "Next >");
    EXPECT_EQ(frame->title(), "Options");
    EXPECT_EQ(window.findChild<QPushButton*>("butNext"), button);
    // An entry the section does not have leaves the design caption.
    SetCaption(button, texts, 4);
    EXPECT_EQ(button->text(), "Next >");
}

TEST(WindowConventions, WithoutACloseItemOnlyTheProgramClosesTheWindow) {
    QWidget window;
    RemoveCloseItem(&window);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    window.show();
    EXPECT_FALSE(SendClose(&window)); // Alt+F4, the window manager's Close
    EXPECT_TRUE(window.isVisible());

    // A window that already holds its controls is guarded too.
    QWidget filled;
    new QLabel("caption", &filled);
    RemoveCloseItem(&filled);
    RemoveCloseItem(&filled); // twice: still one guard, still refused
    filled.show();
    EXPECT_FALSE(SendClose(&filled));
    EXPECT_TRUE(filled.isVisible());

    QPointer<QWidget> unloaded = new QWidget;
    RemoveCloseItem(unloaded);
    unloaded->show();
    Unload(unloaded);
    EXPECT_TRUE(testing_support::Unloaded(unloaded)); // unloading deletes it
}

TEST(WindowConventions, FixedSizeFitsTheLayoutAndCannotBeChanged) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* label = new QLabel(QString(60, 'W') + " " + QString(60, 'W'));
    label->setWordWrap(true);
    layout->addWidget(label);
    SetFixedDesignSize(&window, 200);
    const QSize design = window.size();
    EXPECT_GE(design.width(), 200);
    EXPECT_GE(design.height(), label->heightForWidth(design.width() - 30)); // the wrapped text fits
    window.show();
    window.resize(design * 2);
    EXPECT_EQ(window.size(), design);
}

class KeyedPicture : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0, 0, 255));
        painter.fillRect(10, 10, 20, 20, QColor(1, 0, 254)); // near the key, not the key
    }
};

TEST(WindowConventions, OnlyPixelsOfExactlyTheColourKeyBecomeSeeThrough) {
    KeyedPicture window;
    window.setFixedSize(40, 40);
    SetTranslucent(&window, QColor(0, 0, 255), 255, LWA_COLORKEY);
    EXPECT_FALSE(window.mask().contains(QPoint(2, 2)));
    EXPECT_TRUE(window.mask().contains(QPoint(15, 15)));
    EXPECT_DOUBLE_EQ(window.windowOpacity(), 1.0);
    SetTranslucent(&window, QColor(0, 0, 255), 400, LWA_ALPHA);
    EXPECT_TRUE(window.mask().isEmpty());
    EXPECT_DOUBLE_EQ(window.windowOpacity(), 1.0); // 400 is taken as 255
}

TEST(Forms, AWindowIsLoadedOnceAndFoundByName) {
    static int made = 0;
    static FormRegistration registration("frmConventionsTest", [] {
        ++made;
        return new QWidget;
    });
    EXPECT_EQ(ShowForm("frmNoSuchWindow"), nullptr);
    QPointer<QWidget> first = ShowForm("frmConventionsTest");
    ASSERT_TRUE(first);
    EXPECT_EQ(LoadForm("frmConventionsTest"), first);
    EXPECT_EQ(FindForm("frmConventionsTest"), first);
    EXPECT_EQ(made, 1);
    Unload(first);
    EXPECT_TRUE(testing_support::Unloaded(first));
    EXPECT_EQ(FindForm("frmConventionsTest"), nullptr);
}

// What the desktop services' box showed.
struct BoxSeen {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QString text;
};

TEST(DesktopUi, MessageBoxesShowTheStyleAndAnswerWithTheKeys) {
    using namespace platform;
    DesktopUi ui;
    BoxSeen seen;
    auto watch = [&seen](int key) {
        QTimer::singleShot(0, [&seen, key] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seen.icon = box->icon();
            seen.buttons.clear();
            for (QAbstractButton* button : box->buttons()) seen.buttons.push_back(box->standardButton(button));
            seen.defaultButton = box->standardButton(box->defaultButton());
            seen.text = box->text();
            QTest::keyClick(box, static_cast<Qt::Key>(key));
        });
    };
    // A question whose Yes destroys data: No is the default, Enter says No.
    watch(Qt::Key_Return);
    EXPECT_EQ(ui.MessageBox("Erase?\r\nAll is lost.", vbYesNo | vbQuestion | vbDefaultButton2, "Erase"), IDNO);
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons.size(), 2);
    EXPECT_EQ(seen.defaultButton, QMessageBox::No);
    EXPECT_EQ(seen.text, "Erase?\nAll is lost.");
    // Escape answers Cancel where there is one.
    watch(Qt::Key_Escape);
    EXPECT_EQ(ui.MessageBox("Save?", vbYesNoCancel | vbExclamation, "Save"), IDCANCEL);
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.defaultButton, QMessageBox::Yes);
    watch(Qt::Key_Return);
    EXPECT_EQ(ui.MessageBox("Refused.", vbCritical, "Error"), IDOK);
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
}

// German users read Qt's own buttons in German: the translations are
// installed with the program (qt6-translations-l10n).
TEST(DesktopUi, QtsOwnButtonsSpeakTheUsersLanguage) {
    ASSERT_TRUE(LoadQtTranslations(QLocale(QLocale::German, QLocale::Germany)));
    QStringList captions;
    QTimer::singleShot(0, [&captions] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons()) captions << button->text().remove('&');
        QTest::keyClick(box, Qt::Key_Escape);
    });
    DesktopUi ui;
    ui.MessageBox("Löschen?", platform::vbYesNo | platform::vbQuestion | platform::vbDefaultButton2, "Frage");
    LoadQtTranslations(QLocale(QLocale::English));
    EXPECT_TRUE(captions.contains("Ja")) << captions.join(", ").toStdString();
    EXPECT_TRUE(captions.contains("Nein")) << captions.join(", ").toStdString();
}

// A folder chooser shows folders only and gives the folder chosen.
TEST(DesktopUi, AFolderDialogGivesAFolder) {
    QTemporaryDir folder;
    QDir(folder.path()).mkdir("Pictures");
    platform::FileDialogRequest request;
    request.folder = true;
    request.startFolder = folder.path().toStdString();
    bool foldersOnly = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        foldersOnly = dialog->fileMode() == QFileDialog::Directory;
        dialog->selectFile(folder.filePath("Pictures"));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    DesktopUi ui;
    EXPECT_EQ(ui.FileDialog(request), folder.filePath("Pictures").toStdString());
    EXPECT_TRUE(foldersOnly);
}

// A backup's dialog opens where asked, offers card images first, and a
// name typed without an extension becomes an .img.
TEST(DesktopUi, FileDialogsOpenAtTheStartFolderWithTheFilters) {
    QTemporaryDir folder;
    platform::FileDialogRequest request{"Save the image as", platform::OFN_OVERWRITEPROMPT, true};
    request.startFolder = folder.path().toStdString();
    request.nameFilters = {"Card images (*.img)", "All files (*)"};
    request.defaultSuffix = "img";
    QString directory, filter;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        directory = dialog->directory().absolutePath();
        filter = dialog->selectedNameFilter();
        dialog->selectFile("card-backup");
        QMetaObject::invokeMethod(dialog, "accept");
    });
    DesktopUi ui;
    EXPECT_EQ(ui.FileDialog(request), folder.filePath("card-backup.img").toStdString());
    EXPECT_EQ(directory, folder.path());
    EXPECT_EQ(filter, "Card images (*.img)");
}

} // namespace

namespace {

TEST(DesktopApplication, AnErrorEscapingAWindowOperationIsShownNotFatal) {
    struct Throwing : QObject {
        bool event(QEvent*) override { throw std::runtime_error("the card went away"); }
    } receiver;
    platform::ScriptedUi scripted;
    platform::ScopedUi installed(scripted);
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::instance()->notify(&receiver, &event)); // the tests run the program's application
    ASSERT_EQ(scripted.boxes.size(), 1u);
    EXPECT_EQ(scripted.boxes[0].style, platform::vbCritical);
    EXPECT_NE(scripted.boxes[0].text.find("the card went away"), std::string::npos);
}

} // namespace

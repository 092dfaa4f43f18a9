#include "platform/desktop/DesktopUi.h"

#include <exception>

#include <QApplication>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QTranslator>
#include <QMessageBox>
#include <QPushButton>

#include "platform/src/MessageBoxButtons.h"

namespace platform::desktop {

namespace {

QMessageBox::Icon IconOf(int style) {
    switch (style & IconMask) {
    case vbCritical: return QMessageBox::Critical;
    case vbQuestion: return QMessageBox::Question;
    case vbExclamation: return QMessageBox::Warning;
    case vbInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButton StandardButtonOf(int answer) {
    switch (answer) {
    case IDCANCEL: return QMessageBox::Cancel;
    case IDYES: return QMessageBox::Yes;
    case IDNO: return QMessageBox::No;
    default: return QMessageBox::Ok;
    }
}

// The texts come with Windows line ends.
QString PlainText(const std::string& text) {
    return QString::fromStdString(text).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

} // namespace

void DesktopUi::DoEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

int DesktopUi::MessageBox(const std::string& text, int style, const std::string& title) {
    QMessageBox box(IconOf(style), title.empty() ? QApplication::applicationDisplayName() : PlainText(title),
                    PlainText(text), QMessageBox::NoButton, QApplication::activeWindow());
    const std::vector<detail::Button> buttons = detail::ButtonsOf(style);
    const int defaultAnswer = detail::DefaultAnswer(style);
    int escapeAnswer = buttons.front().answer;
    for (const detail::Button& button : buttons) {
        QPushButton* added = box.addButton(StandardButtonOf(button.answer));
        if (button.answer == defaultAnswer) box.setDefaultButton(added);
        if (button.answer == IDNO || button.answer == IDCANCEL) {
            box.setEscapeButton(added);
            escapeAnswer = button.answer;
        }
    }
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    const int clicked = box.exec();
    for (const detail::Button& button : buttons)
        if (clicked == StandardButtonOf(button.answer)) return button.answer;
    return escapeAnswer;
}

std::string DesktopUi::FileDialog(const FileDialogRequest& request) {
    QFileDialog dialog(QApplication::activeWindow(), PlainText(request.prompt));
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (request.folder) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    } else if (request.save) {
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !(request.flags & OFN_OVERWRITEPROMPT));
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (!request.startFolder.empty()) dialog.setDirectory(QString::fromStdString(request.startFolder));
    QStringList filters;
    for (const std::string& filter : request.nameFilters) filters << QString::fromStdString(filter);
    if (!filters.isEmpty() && !request.folder) dialog.setNameFilters(filters);
    if (request.save && !request.defaultSuffix.empty())
        dialog.setDefaultSuffix(QString::fromStdString(request.defaultSuffix));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return "";
    return dialog.selectedFiles().front().toStdString();
}

bool LoadQtTranslations(const QLocale& locale) {
    // One translator for the life of the program; a second call replaces
    // its texts.
    static QTranslator* translator = nullptr;
    if (!translator) translator = new QTranslator(QCoreApplication::instance());
    QCoreApplication::removeTranslator(translator);
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(translator);
}

bool DesktopApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        MsgBox(std::string("Tranquo could not finish what it was doing:\r\n\r\n") + error.what(), vbCritical,
               "Tranquo");
    } catch (...) {
        MsgBox("Tranquo could not finish what it was doing.", vbCritical, "Tranquo");
    }
    return false;
}

} // namespace platform::desktop

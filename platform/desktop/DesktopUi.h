// The user-interface services of the desktop program: message boxes and
// file dialogs on Qt Widgets, and the pump as one pass of the event loop.
#pragma once

#include <QApplication>
#include <QLocale>

#include "platform/ui.h"

namespace platform::desktop {

class DesktopUi : public UiServices {
public:
    // Processes the pending events (input, timers, painting) and returns.
    void DoEvents() override;
    // A modal QMessageBox over the active window: the style's icon, buttons
    // and default button; Escape and the box's close button answer No or
    // Cancel where the box has one.
    int MessageBox(const std::string& text, int style, const std::string& title) override;
    // QFileDialog: a save dialog asks before replacing a file only with
    // OFN_OVERWRITEPROMPT; an open dialog accepts only existing files.
    std::string FileDialog(const FileDialogRequest& request) override;
};

// Installs Qt's own texts (the buttons of message boxes, the file dialogs)
// for the language of locale, from Qt's translations folder; true when
// they were found. English needs none.
bool LoadQtTranslations(const QLocale& locale);

// The desktop program's application: an error that a window operation let
// escape is shown in a critical message box (the operation is abandoned)
// instead of ending the program.
class DesktopApplication : public QApplication {
public:
    DesktopApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace platform::desktop

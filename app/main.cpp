// The desktop program: the splash window, then the main menu, on Qt Widgets.
// Takes the drive options of tranquo-cli (--attach IMAGE) and Qt's own.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QApplication>
#include <QIcon>

#include "platform/desktop/DesktopUi.h"
#include "platform/desktop/Forms.h"
#include "platform/drives.h"
#include "shell/LanguageFile.h"
#ifdef TRANQUO_WITH_UDISKS
#include "platform/udisks/Udisks.h"
#endif

int main(int argc, char** argv) {
    // Answered before Qt starts, so that it works without a display.
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("Tranquo " TRANQUO_VERSION "\n");
        return 0;
    }
    platform::desktop::DesktopApplication application(argc, argv); // takes out Qt's options
    QApplication::setApplicationName("Tranquo");
    QApplication::setApplicationDisplayName("Tranquo");
    QApplication::setWindowIcon(QIcon(":/shell/icon.svg"));

#ifdef TRANQUO_WITH_UDISKS
    platform::udisks::ScopedUdisks udisks; // removable drives for a user who may not open them directly
#endif

    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    if (!platform::AttachFromArguments(args, &error)) {
        std::fprintf(stderr, "Tranquo: %s\n", error.c_str());
        return 2;
    }

    platform::desktop::DesktopUi ui;
    platform::ScopedUi installed(ui);
    // A refused second copy or a missing language file ends the program at
    // once, from wherever the message was shown.
    shell::SetEndProgramHook([] {
        std::fflush(nullptr);
        std::_Exit(1);
    });
    // The main menu ends the program by closing its last window.
    if (!platform::desktop::ShowForm("frmStartup")) return 1;
    return application.exec();
}

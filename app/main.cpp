// The desktop program: the splash window, then the main menu, on Qt Widgets.
// Takes the drive options of tranquo-cli (--attach IMAGE) and Qt's own;
// --help and --version are answered without a display.
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

namespace {

void PrintUsage() {
    std::printf("Usage: Tranquo [--attach IMAGE]...\n"
                "Brings back lost and deleted photos, videos and sound files from memory cards,\n"
                "cameras and phones formatted with FAT12, FAT16 or FAT32 (a desktop program;\n"
                "tranquo-cli does the same in a terminal).\n"
                "\n"
                "Options:\n"
                "  --attach IMAGE  attach a card image or a block device as a drive (repeatable;\n"
                "                  TRANQUO_ATTACH does the same, paths separated by \":\")\n"
                "  --version       print the version and exit\n"
                "  -h, --help      print this help and exit\n"
                "\n"
                "Qt's own options (-platform NAME, -style NAME, ...) are accepted too.\n");
}

} // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            PrintUsage();
            return 0;
        }
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("Tranquo " TRANQUO_VERSION "\n");
        return 0;
    }
    platform::desktop::DesktopApplication application(argc, argv); // takes out Qt's options
    // No display name: the window manager would add it to every title, and
    // the captions already name the program.
    QApplication::setApplicationName("Tranquo");
    QApplication::setWindowIcon(QIcon(":/shell/icon.svg"));
    platform::desktop::LoadQtTranslations(QLocale::system());

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

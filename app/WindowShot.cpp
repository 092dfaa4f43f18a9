// tranquo-window-shot WINDOW PICTURE.png: shows one of the program's
// windows (in the language of the environment's locale) over a
// checkered backdrop and saves a picture of the screen around it, so that
// see-through parts show. Message boxes are answered with their default
// and printed. --list prints the window names. For scripts/screenshots,
// which runs it under Xvfb.
#include <cstdio>
#include <string>

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include "platform/desktop/DesktopUi.h"
#include "platform/desktop/Forms.h"
#include "platform/ui.h"
#include "shell/LanguageFile.h"

namespace {

class Backdrop : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        constexpr int kSquare = 16;
        for (int y = 0; y < height(); y += kSquare)
            for (int x = 0; x < width(); x += kSquare)
                painter.fillRect(x, y, kSquare, kSquare, ((x + y) / kSquare) % 2 ? QColor(200, 200, 200) : QColor(235, 235, 235));
    }
};

class PrintingUi : public platform::ScriptedUi {
public:
    int MessageBox(const std::string& text, int style, const std::string& title) override {
        std::fprintf(stderr, "message box: %s: %s\n", title.c_str(), text.c_str());
        return ScriptedUi::MessageBox(text, style, title);
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Tranquo"); // as the program: no display name added to the titles
    QApplication::setWindowIcon(QIcon(":/shell/icon.svg"));
    platform::desktop::LoadQtTranslations(QLocale::system());
    PrintingUi ui;
    platform::ScopedUi installed(ui);
    shell::SetEndProgramHook([] { std::fprintf(stderr, "the window ended the program\n"); });

    if (argc == 2 && std::string(argv[1]) == "--list") {
        for (const std::string& name : platform::desktop::FormNames()) std::printf("%s\n", name.c_str());
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: tranquo-window-shot WINDOW PICTURE.png | --list\n");
        return 2;
    }
    const QString picture = QString::fromLocal8Bit(argv[2]);

    Backdrop backdrop;
    backdrop.setGeometry(QGuiApplication::primaryScreen()->geometry());
    backdrop.show();
    QWidget* window = platform::desktop::LoadForm(argv[1]);
    if (window) {
        window->move(40, 40);
        window = platform::desktop::ShowForm(argv[1]);
    }
    if (!window) {
        std::fprintf(stderr, "tranquo-window-shot: no window named %s\n", argv[1]);
        return 2;
    }
    // The splash stays put instead of handing over to the menu.
    if (auto* timer = window->findChild<QTimer*>("Timer1")) timer->stop();

    int status = 0;
    QTimer::singleShot(800, [&] {
        constexpr int kMargin = 12;
        const QRect area = window->frameGeometry().adjusted(-kMargin, -kMargin, kMargin, kMargin);
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        if (!shot.save(picture)) {
            std::fprintf(stderr, "tranquo-window-shot: cannot write %s\n", argv[2]);
            status = 1;
        }
        QApplication::exit(status);
    });
    return application.exec() ? 1 : status;
}

// tranquo-wizard-run: a whole recovery through the wizard window, without a
// user: the window is shown (offscreen unless QT_QPA_PLATFORM says
// otherwise), the first listed drive picked, Start pressed, and every
// question answered as a user recovering a card would: keep earlier results,
// Yes to the deep scan, No to viewing the results, then Back. The pump is the desktop
// program's, so that the window's cost is measured.
//
//   tranquo-wizard-run [--attach IMAGE]... --dest DIR [--shots DIR] [--stop-after SECONDS]
//
// Prints the seconds from Start to the closing question. --stop-after
// presses Stop that long after Start and prints how long the run took to
// end after it. --shots saves pictures of the window idle, scanning, showing
// the deep scan's pace (on a card that takes long enough to measure) and
// finished (DIR/frmMain-{idle,scanning,pace,finished}-LANGUAGE.png).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "platform/desktop/DesktopUi.h"
#include "platform/desktop/Forms.h"
#include "platform/drives.h"
#include "platform/ui.h"
#include "shell/DestinationFolder.h"
#include "shell/LanguageFile.h"

namespace {

// The desktop program's pump; answers instead of message boxes.
class AnsweringUi : public platform::desktop::DesktopUi {
public:
    void DoEvents() override {
        DesktopUi::DoEvents();
        if (onPump) onPump();
    }
    int MessageBox(const std::string& text, int style, const std::string& title) override {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
        if (onBox) onBox(title);
        if ((style & platform::ButtonMask) != platform::vbYesNo) return platform::IDOK;
        return title == deepScanTitle ? platform::IDYES : platform::IDNO;
    }
    std::string FileDialog(const platform::FileDialogRequest&) override { return ""; }

    std::string deepScanTitle;
    std::function<void()> onPump;
    std::function<void(const std::string&)> onBox;
};

void Shoot(QWidget* window, const std::string& folder, const char* state) {
    if (folder.empty() || !window) return;
    const std::string path = folder + "/frmMain-" + state + "-" + shell::LanguageName() + ".png";
    if (!window->grab().save(QString::fromStdString(path))) std::fprintf(stderr, "cannot write %s\n", path.c_str());
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName("Tranquo");
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    if (!platform::AttachFromArguments(args, &error)) {
        std::fprintf(stderr, "tranquo-wizard-run: %s\n", error.c_str());
        return 2;
    }
    std::string dest, shots;
    double stopAfter = 0;
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--dest") dest = args[i + 1];
        else if (args[i] == "--shots") shots = args[i + 1];
        else if (args[i] == "--stop-after") stopAfter = std::atof(args[i + 1].c_str());
    }
    if (dest.empty()) {
        std::fprintf(stderr, "usage: tranquo-wizard-run [--attach IMAGE]... --dest DIR [--shots DIR]\n");
        return 2;
    }
    if (dest.back() != '/') dest += '/';
    // The deep scan makes its folder the current one: keep paths absolute.
    if (!shots.empty()) shots = QDir(QString::fromStdString(shots)).absolutePath().toStdString();
    shell::StoreDestinationRoot(dest);

    AnsweringUi ui;
    const auto texts = shell::LoadSectionWithFallback(shell::LanguageName(), shell::RecoveryWizardSection.header,
                                                      shell::RecoveryWizardSection.count);
    if (texts.size() >= 39) ui.deepScanTitle = texts[38];
    platform::ScopedUi installed(ui);

    QWidget* window = platform::desktop::ShowForm("frmMain");
    if (!window) return 1;
    auto* start = window->findChild<QPushButton*>("xpbutStart");
    if (!start || !start->isEnabled()) {
        std::fprintf(stderr, "tranquo-wizard-run: no card to recover from\n");
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    Clock::time_point started;
    double seconds = 0;
    bool scanningShot = false;
    bool paceShot = false;
    Clock::time_point stopped;
    ui.onPump = [&] {
        if (stopAfter > 0 && stopped == Clock::time_point{} &&
            std::chrono::duration<double>(Clock::now() - started).count() >= stopAfter) {
            stopped = Clock::now();
            if (auto* stop = window->findChild<QPushButton*>("xpbutStop")) stop->click();
        }
        if (shots.empty()) return;
        // The deep scan's speed and time left, once it knows them.
        auto* pace = window->findChild<QLabel*>("lblPace");
        if (!paceShot && pace && pace->isVisible() && !pace->text().isEmpty()) {
            paceShot = true;
            Shoot(window, shots, "pace");
        }
        if (scanningShot) return;
        auto* images = window->findChild<QLabel*>("LabelInfoImagesFound");
        if (images && images->text().toInt() >= 1) {
            scanningShot = true;
            Shoot(window, shots, "scanning");
        }
    };
    ui.onBox = [&](const std::string& title) {
        // The closing question: the run is over.
        if (texts.size() >= 71 && (title == texts[21] || title == texts[19] || title == texts[70])) {
            seconds = std::chrono::duration<double>(Clock::now() - started).count();
            if (stopped != Clock::time_point{})
                std::printf("Stop took effect after %.0f ms\n",
                            std::chrono::duration<double, std::milli>(Clock::now() - stopped).count());
            Shoot(window, shots, "finished");
        }
    };
    QTimer::singleShot(0, [&] {
        Shoot(window, shots, "idle");
        started = Clock::now();
        start->click();
        std::printf("wizard run: %.2f s from Start to the closing question\n", seconds);
        // No leaves the wizard on its results, where only Back leads away.
        if (QWidget* wizard = platform::desktop::FindForm("frmMain"))
            if (auto* back = wizard->findChild<QPushButton*>("xpbutBack")) back->click();
        QApplication::quit();
    });
    return application.exec();
}

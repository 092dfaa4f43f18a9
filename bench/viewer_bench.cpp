// bench-viewer: the results viewer on a folder of thousands of photos.
//
//   bench-viewer fill ROOT COUNT [WIDTH HEIGHT]
//       writes COUNT real JPEG photos (00001.jpg, ...) into
//       ROOT/My Recovered Mobile Device/Deep Scan/, as a deep scan leaves
//       them (48 different pictures, repeated).
//   bench-viewer view ROOT
//       opens the viewer on ROOT (on the platform QT_QPA_PLATFORM names, or
//       offscreen) and prints: the time until the first screen of
//       thumbnails shows pictures, the time until all do, the peak
//       resident memory, and the pauses of a 10 ms timer while the panel
//       is scrolled step by step (what a user feels as stalls), during the
//       loading and, for reference, for 3 s after it.
//   bench-viewer decode ROOT
//       the reference for "all": the same thumbnails decoded by two plain
//       threads, without a window.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTimer>

#include "platform/ui.h"
#include "support/ProgramFolder.h"
#include "tests/common/JpegPhoto.h"
#include "wizard/ResultsViewer.h"
#include "wizard/windows/ThumbnailLoader.h"
#include "wizard/windows/ThumbnailPanel.h"
#include "wizard/windows/frmView.h"

namespace {

namespace fs = std::filesystem;

int Fill(const std::string& root, int count, int width, int height) {
    const fs::path folder = fs::path(root) / "My Recovered Mobile Device" / "Deep Scan";
    fs::create_directories(folder);
    constexpr int kPictures = 48;
    std::vector<std::vector<std::uint8_t>> photos;
    std::uintmax_t bytes = 0;
    for (int seed = 1; seed <= std::min(count, kPictures); ++seed)
        photos.push_back(testcommon::MakeJpegPhoto(width, height, static_cast<std::uint32_t>(seed), 80));
    for (int n = 1; n <= count; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "%05d.jpg", n);
        const auto& photo = photos[static_cast<std::size_t>(n - 1) % photos.size()];
        std::ofstream(folder / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(photo.data()), static_cast<std::streamsize>(photo.size()));
        bytes += photo.size();
    }
    std::printf("%d photos of %dx%d, %.1f MiB (%.0f KiB each) in %s\n", count, width, height,
                bytes / 1048576.0, bytes / 1024.0 / count, folder.c_str());
    return 0;
}

long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

bool FirstScreenShown(const wizard::ThumbnailPanel* panel) {
    if (panel->Count() == 0) return false;
    const QRect screen = panel->viewport()->rect();
    for (int row = 0; row < panel->Count(); ++row) {
        const QRect place = panel->visualRect(panel->model()->index(row, 0));
        if (!place.intersects(screen)) {
            if (place.top() > screen.bottom()) break;
            continue;
        }
        if (!panel->PictureShown(row)) return false;
    }
    return true;
}

int Decode(int argc, char** argv, const std::string& root) {
    QGuiApplication application(argc, argv);
    const std::string folder = root + "My Recovered Mobile Device/Deep Scan";
    const std::vector<std::string> names = wizard::ListResultFiles(folder);
    std::atomic<std::size_t> next{0};
    std::atomic<int> decoded{0};
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&] {
            for (std::size_t i; (i = next++) < names.size();)
                if (!wizard::DecodeThumbnail(QString::fromStdString(folder + "/" + names[i]), wizard::ThumbnailPanel::PictureBox)
                         .isNull())
                    ++decoded;
        });
    for (std::thread& thread : threads) thread.join();
    std::printf("decoded %d of %zu thumbnails with 2 threads in %lld ms\n", decoded.load(), names.size(), clock.elapsed());
    return 0;
}

int View(int argc, char** argv, const std::string& root) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    platform::ScriptedUi ui;
    platform::ScopedUi installed(ui);

    QElapsedTimer clock;
    clock.start();
    QWidget* window = wizard::ShowResultsViewer(support::ProgramFolder(), root);
    if (!window) return 1;
    auto* panel = window->findChild<wizard::ThumbnailPanel*>("ImgThumb");

    qint64 firstScreen = -1, all = -1, lastTick = clock.elapsed();
    std::vector<qint64> whileLoading, afterLoading;
    constexpr std::size_t kTicksAfterLoading = 300;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        const qint64 pause = now - lastTick;
        lastTick = now;
        if (firstScreen < 0) {
            if (FirstScreenShown(panel)) firstScreen = now;
            return;
        }
        if (all < 0 && panel->Count() > 0 && !panel->Loading()) all = now;
        // Scrolling through the folder, while it loads and (for reference:
        // what the machine itself allows) once it has loaded.
        std::vector<qint64>& pauses = all < 0 ? whileLoading : afterLoading;
        pauses.push_back(pause);
        QScrollBar* bar = panel->verticalScrollBar();
        bar->setValue(bar->value() + 40 <= bar->maximum() ? bar->value() + 40 : 0);
        if (afterLoading.size() >= kTicksAfterLoading) QApplication::exit(0); // not quit(): it would close the viewer
    });
    tick.start();
    QTimer::singleShot(600000, [] { QApplication::exit(1); });
    const int status = application.exec();

    const auto describe = [](std::vector<qint64> pauses) {
        if (pauses.empty()) return std::string("none");
        std::sort(pauses.begin(), pauses.end());
        char text[96];
        std::snprintf(text, sizeof text, "median %lld, 99%% %lld, longest %lld ms over %zu ticks",
                      pauses[pauses.size() / 2], pauses[pauses.size() * 99 / 100], pauses.back(), pauses.size());
        return std::string(text);
    };
    std::printf("thumbnails %d: first screen %lld ms, all %lld ms, peak memory %.1f MiB\n"
                "  10 ms ticks while scrolling during loading: %s\n"
                "  10 ms ticks while scrolling after loading:  %s\n",
                panel->Count(), firstScreen, all, PeakResidentKiB() / 1024.0, describe(whileLoading).c_str(),
                describe(afterLoading).c_str());
    return status;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode == "fill" && (argc == 4 || argc == 6))
        return Fill(argv[2], std::atoi(argv[3]), argc == 6 ? std::atoi(argv[4]) : 2048,
                    argc == 6 ? std::atoi(argv[5]) : 1536);
    if (mode == "view" && argc == 3) return View(argc, argv, argv[2]);
    if (mode == "decode" && argc == 3) return Decode(argc, argv, argv[2]);
    std::fprintf(stderr, "usage: bench-viewer fill ROOT COUNT [WIDTH HEIGHT] | view ROOT | decode ROOT\n");
    return 2;
}

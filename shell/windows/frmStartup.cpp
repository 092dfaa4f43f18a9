#include "shell/windows/frmStartup.h"

#include <algorithm>
#include <cmath>

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "platform/desktop/Forms.h"
#include "platform/desktop/WindowConventions.h"
#include "platform/ui.h"
#include "shell/DesktopTexts.h"
#include "shell/Startup.h"

namespace shell {

namespace {

using namespace platform::desktop;

constexpr QSize kPictureSize(480, 300);
const QString kPicture = QStringLiteral(":/shell/splash.svg");
const QRgb kOutline = qRgb(0x0a, 0x2a, 0x31); // the card's edge in the picture

FormRegistration registration("frmStartup", [] { return new frmStartup; });

} // namespace

frmStartup::frmStartup() : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName("frmStartup");
    SetCaption(this, QStringLiteral("Tranquo"));
    setFixedSize(kPictureSize);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // The words on the picture, in the user's language.
    const DesktopTexts words = LoadDesktopTexts();
    lblVersion = NewControl<QLabel>(this, "lblVersion");
    SetCaption(lblVersion, QString::fromStdString(VersionText(words(desktop_text::Version))));
    lblVersion->setGeometry(216, 240, 230, 24);
    QPalette palette = lblVersion->palette();
    palette.setColor(QPalette::WindowText, QColor(0xcd, 0xee, 0xe8));
    lblVersion->setPalette(palette);
    QFont tagline = font();
    tagline.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans")});
    tagline.setPixelSize(16);
    lblLine1 = NewControl<QLabel>(this, "lblLine1");
    lblLine2 = NewControl<QLabel>(this, "lblLine2");
    int top = 154;
    for (auto [label, entry] : {std::pair{lblLine1, desktop_text::SplashLine1}, std::pair{lblLine2, desktop_text::SplashLine2}}) {
        SetCaption(label, QString::fromStdString(words(entry)));
        label->setFont(tagline);
        label->setPalette(palette);
        label->setGeometry(216, top, kPictureSize.width() - 216 - 12, 22);
        top += 22;
    }

    const TranslucentSettings translucent;
    SetTranslucent(this, QColor(ColorKeyRed, ColorKeyGreen, ColorKeyBlue), translucent.Alpha(),
                   translucent.Flags());

    Timer1 = NewControl<QTimer>(this, "Timer1");
    Timer1->setInterval(SplashMilliseconds);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    Timer1->start();
}

const QImage& frmStartup::Picture(qreal pixelRatio) {
    if (picture_.isNull() || picture_.devicePixelRatio() != pixelRatio) {
        // Shapes without antialiasing (texts keep theirs): the colour key
        // must meet the card without blended pixels, at any pixel ratio.
        picture_ = RenderSvgImage(kPicture, kPictureSize * pixelRatio, false);
        if (pixelRatio != 1.0) {
            // The see-through area is cut at whole logical pixels: key pixels
            // of the finer picture along the card's edge take the outline
            // colour, so that no blue shows where the cut falls inside the card.
            const QRgb key = qRgb(ColorKeyRed, ColorKeyGreen, ColorKeyBlue);
            const QImage source = picture_.convertToFormat(QImage::Format_RGB32);
            picture_ = source;
            const int reach = static_cast<int>(std::ceil(pixelRatio));
            auto nearCard = [&source, key, reach](int x, int y) {
                for (int v = std::max(0, y - reach); v <= std::min(source.height() - 1, y + reach); ++v) {
                    const auto* line = reinterpret_cast<const QRgb*>(source.constScanLine(v));
                    for (int u = std::max(0, x - reach); u <= std::min(source.width() - 1, x + reach); ++u)
                        if (line[u] != key) return true;
                }
                return false;
            };
            for (int y = 0; y < source.height(); ++y) {
                const auto* line = reinterpret_cast<const QRgb*>(source.constScanLine(y));
                for (int x = 0; x < source.width(); ++x)
                    if (line[x] == key && nearCard(x, y)) picture_.setPixel(x, y, kOutline);
            }
        }
        picture_.setDevicePixelRatio(pixelRatio);
    }
    return picture_;
}

void frmStartup::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), Picture(painter.device()->devicePixelRatioF()));
}

void frmStartup::Timer1_Timer() {
    Timer1->stop();
    platform::DoEvents();
    // The menu comes up first, so that the program never has no window.
    ShowForm("frmMainMenu");
    Unload(this);
    platform::DoEvents();
}

} // namespace shell

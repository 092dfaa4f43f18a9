#include "shell/windows/frmStartup.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "platform/desktop/Forms.h"
#include "platform/desktop/WindowConventions.h"
#include "platform/ui.h"
#include "shell/Startup.h"

namespace shell {

namespace {

using namespace platform::desktop;

constexpr QSize kPictureSize(480, 300);
const QString kPicture = QStringLiteral(":/shell/splash.svg");

FormRegistration registration("frmStartup", [] { return new frmStartup; });

} // namespace

frmStartup::frmStartup() : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName("frmStartup");
    SetCaption(this, QStringLiteral("Tranquo"));
    setFixedSize(kPictureSize);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    lblVersion = NewControl<QLabel>(this, "lblVersion");
    SetCaption(lblVersion, QString::fromStdString(VersionText()));
    lblVersion->setGeometry(216, 240, 230, 24);
    QPalette palette = lblVersion->palette();
    palette.setColor(QPalette::WindowText, QColor(0xcd, 0xee, 0xe8));
    lblVersion->setPalette(palette);

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
        // Outline without antialiasing: the colour key must meet the card
        // without blended pixels.
        picture_ = RenderSvgImage(kPicture, kPictureSize * pixelRatio, pixelRatio != 1.0);
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

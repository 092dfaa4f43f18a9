#include "shell/windows/TitleBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include "platform/desktop/WindowConventions.h"

namespace shell {

namespace {

const QColor kBarColour(0x0d, 0x3b, 0x45);
const QColor kClickedColour(0x06, 0x1c, 0x22);
constexpr int kAreaWidth = 40;
constexpr int kGlyphSize = 16;

} // namespace

TitleBarButton::TitleBarButton(const char* name, const QString& glyph, QColor hoverColour, QWidget* parent)
    : QAbstractButton(parent), glyph_(glyph), hoverColour_(hoverColour) {
    setObjectName(QString::fromLatin1(name));
    setFocusPolicy(Qt::NoFocus); // the menu's own controls do the same from the keyboard
    setAttribute(Qt::WA_Hover);
}

TitleBarButton::Image TitleBarButton::CurrentImage() const {
    if (!isEnabled()) return Image::Blocked;
    if (isDown()) return Image::Clicked;
    if (underMouse()) return Image::Hover;
    return Image::Rest;
}

QSize TitleBarButton::sizeHint() const { return QSize(kAreaWidth, 30); }

void TitleBarButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    update();
}

void TitleBarButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    update();
}

void TitleBarButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const Image image = CurrentImage();
    if (image == Image::Hover) painter.fillRect(rect(), hoverColour_);
    if (image == Image::Clicked) painter.fillRect(rect(), kClickedColour);
    if (image == Image::Blocked) painter.setOpacity(0.35);
    const QPixmap glyph = platform::desktop::RenderSvg(glyph_, QSize(kGlyphSize, kGlyphSize), devicePixelRatioF());
    const QPoint at((width() - kGlyphSize) / 2, (height() - kGlyphSize) / 2 + (image == Image::Clicked ? 1 : 0));
    painter.drawPixmap(at, glyph);
}

TitleBar::TitleBar(QWidget* window) : QWidget(window) {
    setObjectName("TitleBar");
    setAutoFillBackground(false);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 0, 0, 0);
    layout->setSpacing(0);

    auto* icon = new QLabel(this);
    icon->setPixmap(platform::desktop::RenderSvg(":/shell/icon.svg", QSize(20, 20), devicePixelRatioF()));
    layout->addWidget(icon);
    layout->addSpacing(8);

    caption_ = platform::desktop::NewControl<QLabel>(this, "lblTitle");
    QPalette palette = caption_->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    caption_->setPalette(palette);
    QFont bold = caption_->font();
    bold.setBold(true);
    caption_->setFont(bold);
    layout->addWidget(caption_, 1);

    aboutArea = new TitleBarButton("imgAbout", ":/shell/about.svg", QColor(0x1f, 0x6f, 0x78), this);
    minimiseArea = new TitleBarButton("imgMinimise", ":/shell/minimise.svg", QColor(0x1f, 0x6f, 0x78), this);
    closeArea = new TitleBarButton("imgClose", ":/shell/close.svg", QColor(0xc4, 0x2b, 0x1c), this);
    for (TitleBarButton* area : {aboutArea, minimiseArea, closeArea}) layout->addWidget(area);
    setFixedHeight(32);
    platform::desktop::MoveWindowByDragging(this);
}

void TitleBar::SetCaption(const QString& caption) { caption_->setText(caption); }

void TitleBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBarColour);
}

} // namespace shell

#include "platform/desktop/WindowConventions.h"

#include <algorithm>

#include <QAbstractButton>
#include <QBitmap>
#include <QCloseEvent>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QWidget>

namespace platform::desktop {

namespace {

constexpr const char* kCloseAllowed = "tranquoCloseAllowed";

// Refuses the close requests of a window without a close button (Alt+F4,
// the window manager's menu) until the program allows them.
const QString kCloseGuardName = QStringLiteral("tranquoCloseGuard");

class CloseGuard : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close && !watched->property(kCloseAllowed).toBool()) {
            event->ignore();
            return true;
        }
        return false;
    }
};

} // namespace

void SetCaption(QWidget* control, const QString& caption) {
    if (control->isWindow()) {
        control->setWindowTitle(caption);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(caption);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(caption);
    } else if (auto* frame = qobject_cast<QGroupBox*>(control)) {
        frame->setTitle(caption);
    }
    control->setAccessibleName(caption);
}

QString EntryText(const std::vector<std::string>& texts, int entry, const QString& fallback) {
    if (entry < 1 || static_cast<std::size_t>(entry) > texts.size()) return fallback;
    return QString::fromStdString(texts[static_cast<std::size_t>(entry) - 1]);
}

void SetCaption(QWidget* control, const std::vector<std::string>& texts, int entry) {
    if (entry < 1 || static_cast<std::size_t>(entry) > texts.size()) return;
    SetCaption(control, EntryText(texts, entry));
}

void RemoveCloseItem(QWidget* window) {
    Qt::WindowFlags flags = window->windowFlags();
    if (!(flags & Qt::FramelessWindowHint)) {
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint;
        flags &= ~(Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint);
        window->setWindowFlags(flags);
    }
    window->setProperty(kCloseAllowed, false);
    // Found by name: without its own meta-object the guard's type cannot be
    // told apart from any other child (a layout, a label) by findChild.
    if (!window->findChild<QObject*>(kCloseGuardName, Qt::FindDirectChildrenOnly)) {
        auto* guard = new CloseGuard(window);
        guard->setObjectName(kCloseGuardName);
        window->installEventFilter(guard);
    }
}

void AllowClose(QWidget* window) { window->setProperty(kCloseAllowed, true); }

void SetFixedDesignSize(QWidget* window, int width) {
    QLayout* layout = window->layout();
    int height = window->sizeHint().height();
    if (layout) {
        layout->activate();
        width = std::max(width, layout->minimumSize().width());
        if (layout->hasHeightForWidth()) height = std::max(layout->totalHeightForWidth(width), layout->minimumSize().height());
        else height = layout->totalSizeHint().height();
    }
    window->setFixedSize(width, height);
}

void SetTranslucent(QWidget* window, QColor colorKey, int alpha, int flags) {
    if (flags & LWA_COLORKEY) {
        // Rendered at one pixel per logical pixel, as the mask is applied.
        QImage picture(window->size(), QImage::Format_RGB32);
        picture.fill(Qt::white);
        window->render(&picture);
        window->setMask(QBitmap::fromImage(picture.createMaskFromColor(colorKey.rgb(), Qt::MaskInColor)));
    } else {
        window->clearMask();
    }
    window->setWindowOpacity((flags & LWA_ALPHA) ? std::clamp(alpha, 0, 255) / 255.0 : 1.0);
}

QImage RenderSvgImage(const QString& path, QSize size, bool antialiased) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(path);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, antialiased);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return image;
}

QPixmap RenderSvg(const QString& path, QSize size, qreal pixelRatio) {
    QPixmap pixmap(size * pixelRatio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(path);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size * pixelRatio)));
    painter.end();
    pixmap.setDevicePixelRatio(pixelRatio);
    return pixmap;
}

} // namespace platform::desktop

#include "platform/desktop/WindowConventions.h"

#include <algorithm>
#include <memory>
#include <utility>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QBitmap>
#include <QCloseEvent>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QWidget>
#include <QWindow>

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

constexpr const char* kLinkAddress = "tranquoLinkAddress";

void FollowLink(QLabel* label) { emit label->linkActivated(label->property(kLinkAddress).toString()); }

// A link label as the screen reader sees it: a link, whose press action
// follows it.
class LinkAccessible : public QAccessibleWidget {
public:
    explicit LinkAccessible(QLabel* label) : QAccessibleWidget(label, QAccessible::Link) {}
    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString& action) override {
        if (action == pressAction()) FollowLink(static_cast<QLabel*>(widget()));
        else QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface* LinkAccessibleFactory(const QString&, QObject* object) {
    auto* label = qobject_cast<QLabel*>(object);
    if (!label || !label->property(kLinkAddress).isValid()) return nullptr;
    return new LinkAccessible(label);
}

// Before anything else changes the label: its first change makes the
// screen reader's interface for it, which is then kept.
void MarkAsLink(QLabel* label, const QString& address) {
    static const bool installed = [] {
        QAccessible::installFactory(LinkAccessibleFactory);
        return true;
    }();
    (void)installed;
    label->setProperty(kLinkAddress, address);
}

// Enter or Space follows a link that has the focus; for a picture a click
// anywhere on it does too (a text link takes its clicks itself). A label
// left to itself would want a second Tab to select its link before Enter
// works.
class LinkInput : public QObject {
public:
    LinkInput(QLabel* label, bool picture) : QObject(label), picture_(picture) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* label = static_cast<QLabel*>(watched);
        if (picture_ && event->type() == QEvent::MouseButtonRelease) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint())) {
                FollowLink(label);
                return true;
            }
        } else if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
                FollowLink(label);
                return true;
            }
        }
        return false;
    }

private:
    bool picture_;
};

const QString kLinkInputName = QStringLiteral("tranquoLinkInput");

// One stop in the tab order, with a frame while it has the focus. Once per
// label, however often it is made a link.
void TakeKeyboardFocus(QLabel* label, bool picture) {
    label->setFocusPolicy(Qt::StrongFocus);
    label->setStyleSheet(QStringLiteral("QLabel { border: 1px solid transparent; }"
                                        "QLabel:focus { border: 1px dotted palette(highlight); }"));
    label->setIndent(0); // a label with a frame would indent its text by half an "x"
    if (label->findChild<QObject*>(kLinkInputName, Qt::FindDirectChildrenOnly)) return;
    auto* input = new LinkInput(label, picture);
    input->setObjectName(kLinkInputName);
    label->installEventFilter(input);
}

// Moves a window while its handle is dragged.
class WindowDrag : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        QWidget* window = static_cast<QWidget*>(watched)->window();
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton) return false;
            if (QWindow* handle = window->windowHandle(); handle && handle->startSystemMove()) return true;
            dragging_ = true;
            pressedAt_ = mouse->globalPosition().toPoint();
            windowAt_ = window->pos();
            return true;
        }
        case QEvent::MouseMove: {
            if (!dragging_) return false;
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (!(mouse->buttons() & Qt::LeftButton)) {
                dragging_ = false; // the release went elsewhere
                return false;
            }
            window->move(windowAt_ + mouse->globalPosition().toPoint() - pressedAt_);
            return true;
        }
        case QEvent::MouseButtonRelease:
            if (!dragging_ || static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
            dragging_ = false;
            return true;
        default: return false;
        }
    }

private:
    bool dragging_ = false;
    QPoint pressedAt_;
    QPoint windowAt_;
};

} // namespace

void MakeLink(QLabel* label, const QString& address, const QString& shown) {
    MarkAsLink(label, address);
    const QString text = shown.isEmpty() ? address : shown;
    label->setTextFormat(Qt::RichText);
    label->setText(QStringLiteral("<a href=\"%1\">%2</a>").arg(address.toHtmlEscaped(), text.toHtmlEscaped()));
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    TakeKeyboardFocus(label, false);
    label->setAccessibleName(text);
}

void MakePictureLink(QLabel* label, const QString& address, const QPixmap& picture, const QString& name) {
    MarkAsLink(label, address);
    label->setPixmap(picture);
    label->setToolTip(name);
    label->setCursor(Qt::PointingHandCursor);
    // A picture is for the mouse: the keyboard reaches the same address
    // through a text link, and Tab does not stop at a picture.
    label->setFocusPolicy(Qt::NoFocus);
    if (!label->findChild<QObject*>(kLinkInputName, Qt::FindDirectChildrenOnly)) {
        auto* input = new LinkInput(label, true);
        input->setObjectName(kLinkInputName);
        label->installEventFilter(input);
    }
    label->setAccessibleName(name);
}

void OnChosen(QAbstractButton* option, std::function<void()> chosen) {
    // A click checks the option first (toggled), then reports itself
    // (clicked): the flag keeps that click from choosing twice. A press
    // starts every click afresh.
    auto checkedByThisClick = std::make_shared<bool>(false);
    QObject::connect(option, &QAbstractButton::pressed, option, [checkedByThisClick] { *checkedByThisClick = false; });
    QObject::connect(option, &QAbstractButton::toggled, option, [checkedByThisClick, chosen](bool checked) {
        if (!checked) return;
        *checkedByThisClick = true;
        chosen();
    });
    QObject::connect(option, &QAbstractButton::clicked, option, [option, checkedByThisClick, chosen] {
        if (std::exchange(*checkedByThisClick, false)) return;
        if (option->isChecked()) chosen();
    });
}

void MoveWindowByDragging(QWidget* handle) { handle->installEventFilter(new WindowDrag(handle)); }

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

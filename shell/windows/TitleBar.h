// The main menu's own title bar: the caption, and the about, minimise and
// close areas, each with rest, hover, clicked and blocked images. Dragging
// the bar moves the window.
#pragma once

#include <QAbstractButton>
#include <QWidget>

class QLabel;

namespace shell {

// One area of the title bar. Blocked = disabled.
class TitleBarButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Image { Rest, Hover, Clicked, Blocked };
    TitleBarButton(const char* name, const QString& glyph, QColor hoverColour, QWidget* parent);
    // The image the area shows now.
    Image CurrentImage() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString glyph_;
    QColor hoverColour_;
};

class TitleBar : public QWidget {
    Q_OBJECT
public:
    explicit TitleBar(QWidget* window);
    void SetCaption(const QString& caption);

    TitleBarButton* aboutArea;
    TitleBarButton* minimiseArea;
    TitleBarButton* closeArea;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* caption_;
};

} // namespace shell

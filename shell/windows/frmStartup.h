// The splash window: the program's picture in the outline of a memory card
// (its pure-blue pixels are see-through) with the version, for two seconds;
// then the main menu.
#pragma once

#include <QImage>
#include <QWidget>

class QLabel;
class QTimer;

namespace shell {

class frmStartup : public QWidget {
    Q_OBJECT
public:
    frmStartup();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Timer1_Timer();
    const QImage& Picture(qreal pixelRatio);

    QLabel* lblVersion;
    QLabel* lblLine1;
    QLabel* lblLine2;
    QTimer* Timer1;
    QImage picture_;
};

} // namespace shell

// tranquo-draw-picture SOURCE.svg PICTURE.jpg SIZE: draws an SVG picture as
// a JPEG file of SIZE x SIZE pixels. The build makes the program folder's
// stock pictures (Images/*.jpg) with it from their sources in data/Images.
#include <cstdio>
#include <cstdlib>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: tranquo-draw-picture SOURCE.svg PICTURE.jpg SIZE\n");
        return 2;
    }
    // Fonts without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const int size = std::atoi(argv[3]);
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid() || size <= 0 || size > 4096) {
        std::fprintf(stderr, "tranquo-draw-picture: cannot draw %s at size %s\n", argv[1], argv[3]);
        return 1;
    }
    QImage picture(size, size, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    if (!picture.save(QString::fromLocal8Bit(argv[2]), "JPG", 92)) {
        std::fprintf(stderr, "tranquo-draw-picture: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}

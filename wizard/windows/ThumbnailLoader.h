// Decodes small thumbnails of picture files on worker threads and hands
// each to the user-interface thread as soon as it is ready. Files are
// taken in the order asked for, except that a file asked for again with
// Prioritise (a thumbnail on screen) goes first. Only the thumbnail is
// kept; the full picture is never decoded.
#pragma once

#include <memory>

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QThreadPool>

namespace wizard {

// The picture of a file scaled to fit box (never enlarged), decoded at
// that size where the format allows it (JPEG's DCT scaling) and turned
// upright by its orientation tag. Null when the file cannot be read as a
// picture.
QImage DecodeThumbnail(const QString& path, QSize box);

class ThumbnailLoader : public QObject {
    Q_OBJECT
public:
    explicit ThumbnailLoader(QSize box, QObject* parent = nullptr);
    // Drops what is queued and waits for the pictures being decoded.
    ~ThumbnailLoader() override;

    // Queues a file once; asking again for a queued file does nothing.
    void Request(const QString& path);
    // Puts a queued file before all others (the last one asked for first).
    void Prioritise(const QString& path);
    // Forgets everything queued; pictures being decoded are dropped.
    void Cancel();

signals:
    // A picture is ready; a null image when the file could not be read.
    void Loaded(const QString& path, const QImage& thumbnail);

private:
    struct Queue;
    void StartWorkers();
    void Work();

    QSize box_;
    std::shared_ptr<Queue> queue_;
    QThreadPool pool_;
};

} // namespace wizard

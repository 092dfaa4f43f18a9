#include "wizard/windows/ThumbnailLoader.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <vector>

#include <QImageIOHandler>
#include <QImageReader>
#include <QSet>
#include <QThread>

#include <sys/resource.h>
#include <unistd.h>

namespace wizard {

namespace {

// Decoding runs beside the window's own work on few cores; more threads
// would only compete with painting.
constexpr int kMaxWorkers = 2;
// Prioritise is asked at every paint of a waiting thumbnail; only the
// latest requests matter.
constexpr std::size_t kMaxUrgent = 512;
constexpr int kWorkerNice = 10;
constexpr qint64 kMaxPixels = 500'000'000;

// The window's thread comes first: painting and scrolling never wait for a
// decoding worker. Linux gives each thread its own nice value.
void LowerThisThreadsPriority() {
    thread_local bool lowered = false;
    if (lowered) return;
    lowered = true;
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWorkerNice);
}

} // namespace

QImage DecodeThumbnail(const QString& path, QSize box) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    // A damaged header can claim any size; no camera makes more pixels.
    if (stored.isValid() && qint64(stored.width()) * stored.height() > kMaxPixels) return {};
    if (stored.isValid() && !stored.isEmpty()) {
        // The scaled size applies before the orientation turns the picture.
        const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
        const QSize fit = turned ? box.transposed() : box;
        if (stored.width() > fit.width() || stored.height() > fit.height())
            reader.setScaledSize(stored.scaled(fit, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    }
    QImage image = reader.read();
    if (image.isNull()) return image;
    // Formats that cannot scale while decoding come back whole.
    if (image.width() > box.width() || image.height() > box.height())
        image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                         : QImage::Format_RGB32);
}

struct ThumbnailLoader::Queue {
    std::mutex mutex;
    std::deque<QString> ordered;
    std::vector<QString> urgent;
    QSet<QString> waiting; // queued and not yet taken
    QSet<QString> known;   // ever queued since the last Cancel
    int generation = 0;
    int workers = 0;

    // The next file to decode, or a null string.
    QString Take() {
        while (!urgent.empty()) {
            QString path = std::move(urgent.back());
            urgent.pop_back();
            if (waiting.remove(path)) return path;
        }
        while (!ordered.empty()) {
            QString path = std::move(ordered.front());
            ordered.pop_front();
            if (waiting.remove(path)) return path;
        }
        return {};
    }
};

ThumbnailLoader::ThumbnailLoader(QSize box, QObject* parent)
    : QObject(parent), box_(box), queue_(std::make_shared<Queue>()) {
    pool_.setMaxThreadCount(std::clamp(QThread::idealThreadCount(), 1, kMaxWorkers));
}

ThumbnailLoader::~ThumbnailLoader() {
    Cancel();
    pool_.waitForDone();
}

void ThumbnailLoader::Request(const QString& path) {
    {
        std::lock_guard lock(queue_->mutex);
        if (queue_->known.contains(path)) return;
        queue_->known.insert(path);
        queue_->waiting.insert(path);
        queue_->ordered.push_back(path);
    }
    StartWorkers();
}

void ThumbnailLoader::Prioritise(const QString& path) {
    std::lock_guard lock(queue_->mutex);
    if (!queue_->waiting.contains(path)) return;
    if (!queue_->urgent.empty() && queue_->urgent.back() == path) return;
    if (queue_->urgent.size() >= kMaxUrgent)
        queue_->urgent.erase(queue_->urgent.begin(), queue_->urgent.begin() + kMaxUrgent / 2);
    queue_->urgent.push_back(path);
}

void ThumbnailLoader::Cancel() {
    std::lock_guard lock(queue_->mutex);
    ++queue_->generation;
    queue_->ordered.clear();
    queue_->urgent.clear();
    queue_->waiting.clear();
    queue_->known.clear();
}

void ThumbnailLoader::StartWorkers() {
    std::lock_guard lock(queue_->mutex);
    while (queue_->workers < pool_.maxThreadCount() && queue_->workers < static_cast<int>(queue_->waiting.size())) {
        ++queue_->workers;
        pool_.start([this] { Work(); });
    }
}

// Runs on a worker thread until the queue is empty. The loader outlives
// its workers (its destructor waits for them), and a result posted to it
// is delivered on its thread or dropped with it.
void ThumbnailLoader::Work() {
    LowerThisThreadsPriority();
    for (;;) {
        QString path;
        int generation = 0;
        {
            std::lock_guard lock(queue_->mutex);
            path = queue_->Take();
            if (path.isNull()) {
                --queue_->workers;
                return;
            }
            generation = queue_->generation;
        }
        QImage thumbnail = DecodeThumbnail(path, box_);
        QMetaObject::invokeMethod(
            this,
            [this, path, thumbnail = std::move(thumbnail), generation] {
                {
                    std::lock_guard lock(queue_->mutex);
                    if (generation != queue_->generation) return;
                }
                emit Loaded(path, thumbnail);
            },
            Qt::QueuedConnection);
    }
}

} // namespace wizard

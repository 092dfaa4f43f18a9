#include "wizard/windows/ThumbnailPanel.h"

#include <vector>

#include <algorithm>

#include <QAbstractListModel>
#include <QFontMetrics>
#include <QHash>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QVector>

#include "wizard/windows/ThumbnailLoader.h"

namespace wizard {

namespace {

// Room for two lines of caption under the picture.
constexpr int kCellWidth = 124;
constexpr int kCaptionLines = 2;
constexpr int kCellPadding = 14;

QPixmap BlankFrame(QSize size) {
    QPixmap frame(size);
    frame.fill(Qt::transparent);
    QPainter painter(&frame);
    painter.setPen(QColor(190, 190, 190));
    painter.setBrush(QColor(238, 238, 238));
    painter.drawRect(QRect(QPoint(8, 14), size - QSize(17, 29)));
    return frame;
}

// The width a caption's line may take in a cell (the style keeps a margin
// on either side).
constexpr int kCaptionMargin = 8;

// Every thumbnail has the same size, with its picture centred in the same
// box, so that the captions of a row line up whatever the pictures' shapes
// and a long caption gets its two lines.
class ThumbnailDelegate : public QStyledItemDelegate {
public:
    ThumbnailDelegate(QSize cell, QObject* parent) : QStyledItemDelegate(parent), cell_(cell) {}

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return cell_; }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->decorationSize = ThumbnailPanel::PictureBox;
        option->displayAlignment = Qt::AlignHCenter | Qt::AlignTop;
        // Broken here, so that the style has nothing left to cut.
        option->text = TwoLineCaption(option->text, option->fontMetrics, cell_.width() - 2 * kCaptionMargin);
    }

private:
    QSize cell_;
};

} // namespace

QString TwoLineCaption(const QString& caption, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(caption) <= width) return caption;
    // The longest start that fits the first line ...
    int fits = 0;
    while (fits < caption.size() && metrics.horizontalAdvance(caption.left(fits + 1)) <= width) ++fits;
    fits = std::max(fits, 1);
    // ... ending after a separator where one comes late enough.
    int breakAt = fits;
    for (int at = fits; at > 0; --at) {
        if (QStringLiteral("_- .").contains(caption.at(at - 1)) && metrics.horizontalAdvance(caption.left(at)) * 2 >= width) {
            breakAt = at;
            break;
        }
    }
    const QString rest = caption.mid(breakAt);
    return caption.left(breakAt) + QLatin1Char('\n') + metrics.elidedText(rest, Qt::ElideMiddle, width);
}

class ThumbnailModel : public QAbstractListModel {
public:
    struct Item {
        QString caption;
        QString toolTip;
        QString picture;
        QPixmap thumbnail; // null while loading
    };

    ThumbnailModel(ThumbnailLoader* loader, QObject* parent)
        : QAbstractListModel(parent), loader_(loader), blank_(BlankFrame(ThumbnailPanel::PictureBox)) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(items_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) return {};
        const Item& item = items_[static_cast<std::size_t>(index.row())];
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return item.caption;
        case Qt::ToolTipRole:
            return item.toolTip.isEmpty() ? item.caption : item.toolTip;
        case Qt::DecorationRole:
            if (!item.thumbnail.isNull()) return item.thumbnail;
            // Asked for when it is painted: on screen, so load it next.
            loader_->Prioritise(item.picture);
            return blank_;
        default:
            return {};
        }
    }

    void Clear() {
        beginResetModel();
        items_.clear();
        waiting_.clear();
        ready_.clear();
        loaded_ = 0;
        endResetModel();
    }

    // True when the picture has to be loaded.
    bool Add(const QString& picture, const QString& caption, const QString& toolTip) {
        const int row = rowCount();
        beginInsertRows({}, row, row);
        Item item{caption, toolTip, picture, ready_.value(picture)};
        const bool ready = !item.thumbnail.isNull();
        items_.push_back(std::move(item));
        if (ready) ++loaded_;
        else waiting_[picture].push_back(row);
        endInsertRows();
        return !ready && waiting_[picture].size() == 1;
    }

    void SetPicture(const QString& picture, const QPixmap& thumbnail) {
        const QVector<int> rows = waiting_.take(picture);
        ready_.insert(picture, thumbnail); // shared, not copied
        for (int row : rows) {
            items_[static_cast<std::size_t>(row)].thumbnail = thumbnail;
            ++loaded_;
            const QModelIndex changed = index(row);
            emit dataChanged(changed, changed, {Qt::DecorationRole});
        }
    }

    QString Caption(int row) const {
        return row >= 0 && row < rowCount() ? items_[static_cast<std::size_t>(row)].caption : QString();
    }
    bool Shown(int row) const {
        return row >= 0 && row < rowCount() && !items_[static_cast<std::size_t>(row)].thumbnail.isNull();
    }
    int Loaded() const { return loaded_; }

private:
    ThumbnailLoader* loader_;
    QPixmap blank_;
    std::vector<Item> items_;
    QHash<QString, QVector<int>> waiting_; // picture file -> rows waiting for it
    QHash<QString, QPixmap> ready_;        // picture file -> its thumbnail
    int loaded_ = 0;
};

ThumbnailPanel::ThumbnailPanel(QWidget* parent)
    : QListView(parent), loader_(new ThumbnailLoader(PictureBox, this)), fallback_(BlankFrame(PictureBox)) {
    model_ = new ThumbnailModel(loader_, this);
    setModel(model_);
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(true);
    setWordWrap(true);
    setTextElideMode(Qt::ElideMiddle);
    setIconSize(PictureBox);
    const QSize cell(kCellWidth - kCellPadding / 2, PictureBox.height() + kCaptionLines * fontMetrics().lineSpacing() + 8);
    setItemDelegate(new ThumbnailDelegate(cell, this));
    setGridSize(cell + QSize(kCellPadding / 2, kCellPadding / 2));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(gridSize().height() / 3);

    connect(loader_, &ThumbnailLoader::Loaded, this, &ThumbnailPanel::PictureLoaded);
    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) emit ThumbnailClicked(index.row());
    });
}

ThumbnailPanel::~ThumbnailPanel() = default;

void ThumbnailPanel::Clear() {
    loader_->Cancel();
    model_->Clear();
}

void ThumbnailPanel::AddThumbnail(const QString& pictureFile, const QString& caption, const QString& toolTip) {
    if (model_->Add(pictureFile, caption, toolTip)) loader_->Request(pictureFile);
}

int ThumbnailPanel::Count() const { return model_->rowCount(); }

QString ThumbnailPanel::Caption(int index) const { return model_->Caption(index); }

void ThumbnailPanel::SetFallbackPicture(const QString& pictureFile) {
    const QImage picture = DecodeThumbnail(pictureFile, PictureBox);
    if (!picture.isNull()) fallback_ = QPixmap::fromImage(picture);
}

bool ThumbnailPanel::PictureShown(int index) const { return model_->Shown(index); }

int ThumbnailPanel::LoadedCount() const { return model_->Loaded(); }

void ThumbnailPanel::PictureLoaded(const QString& path, const QImage& thumbnail) {
    model_->SetPicture(path, thumbnail.isNull() ? fallback_ : QPixmap::fromImage(thumbnail));
}

void ThumbnailPanel::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
        emit ThumbnailClicked(currentIndex().row());
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

} // namespace wizard

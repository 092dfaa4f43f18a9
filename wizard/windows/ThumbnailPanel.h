// The thumbnail panel: a grid of small pictures with their captions below,
// each an item of a list (so that it can be walked with the keyboard and
// read by a screen reader under its caption). Pictures load in the
// background; a thumbnail shows a blank frame until its picture arrives,
// and the ones on screen are loaded first. Any number of thumbnails.
#pragma once

#include <QListView>
#include <QPixmap>
#include <QString>

class QFontMetrics;

namespace wizard {

// A caption as it fits lines of width: one line when it fits; else two,
// broken after a "_", "-", " " or "." where the first line is at least
// half full; a second line that still does not fit loses characters in
// its middle part (the start of the name and its end stay).
QString TwoLineCaption(const QString& caption, const QFontMetrics& metrics, int width);

class ThumbnailLoader;
class ThumbnailModel;

class ThumbnailPanel : public QListView {
    Q_OBJECT
public:
    // The largest picture of a thumbnail.
    static constexpr QSize PictureBox{96, 96};

    explicit ThumbnailPanel(QWidget* parent = nullptr);
    ~ThumbnailPanel() override;

    // Removes every thumbnail; pictures still loading are dropped.
    void Clear();
    // Adds a thumbnail at the end: the picture of pictureFile, the caption
    // below it (whole, on up to two lines; shortened in its middle only when
    // it does not fit them), and its tool tip (the caption when empty).
    void AddThumbnail(const QString& pictureFile, const QString& caption, const QString& toolTip = {});
    int Count() const;
    // The caption of the thumbnail at index ("" outside the panel).
    QString Caption(int index) const;
    // The picture shown for a file that cannot be read as a picture (a
    // blank frame until one is set).
    void SetFallbackPicture(const QString& pictureFile);

    // True when the thumbnail at index shows its picture (or the fallback).
    bool PictureShown(int index) const;
    // How many thumbnails show their picture (or the fallback) already.
    int LoadedCount() const;
    // True while some thumbnail waits for its picture.
    bool Loading() const { return LoadedCount() < Count(); }

signals:
    // A click on a thumbnail, or Enter on the selected one.
    void ThumbnailClicked(int index);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void PictureLoaded(const QString& path, const QImage& thumbnail);

    ThumbnailModel* model_;
    ThumbnailLoader* loader_;
    QPixmap fallback_;
};

} // namespace wizard

// The results viewer: the files of the turbo scan's or the deep scan's
// result folder as thumbnails; a click (or Enter) opens a file with the
// desktop's program for it; Close goes back to the main menu.
//
// Opened by name ("frmView") through the window registry. Two properties
// may be set before it is shown: AppFolder (the program folder, for the
// stock pictures; by default the one the main menu stored) and
// DestinationRoot (ending in "/"; by default DestDir, read afresh each time
// a folder is shown). ShowResultsViewer does both and shows it.
#pragma once

#include <string>
#include <vector>

#include <QString>
#include <QWidget>

#include "wizard/ResultsViewer.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace wizard {

class ThumbnailPanel;

class frmView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString AppFolder READ AppFolderText WRITE SetAppFolder)
    Q_PROPERTY(QString DestinationRoot READ DestinationRootText WRITE SetDestinationRoot)
public:
    // How long the status stays after the thumbnails have loaded.
    static constexpr int StatusMilliseconds = 1500;

    frmView();

    QString AppFolderText() const { return QString::fromStdString(AppFolder); }
    void SetAppFolder(const QString& folder);
    QString DestinationRootText() const { return QString::fromStdString(destinationRoot_); }
    void SetDestinationRoot(const QString& root) { destinationRoot_ = root.toStdString(); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void BuildChoices();
    void BuildThumbnails();
    void LoadTexts();
    void Form_Load();
    void ChooseFolder(ResultFolder folder);
    void cboSort_Change();
    void ShowFolder(ResultFolder folder);
    void BuildThumbnails(const std::vector<ResultFile>& files);
    void ImgThumb_Click(int index);
    void butClose_Click();
    void Label18_Click();
    void Timer1_Timer();
    std::string DestinationRoot() const;

    QLabel* Label2;
    QLabel* lblInfo;
    QGroupBox* XPFrame201;
    QRadioButton* xpTurbo;
    QRadioButton* xpDeep;
    QLabel* lblSort;
    QComboBox* cboSort;
    QLabel* lblStatus;
    ThumbnailPanel* ImgThumb;
    QLineEdit* EditDestPath;
    QPushButton* butClose;
    QLabel* Label18;
    QTimer* Timer1;

    std::string AppFolder;
    std::string destinationRoot_; // empty: DestDir
    bool FolderUnavailable = false;
    ViewerTexts ViewerText;
    ResultFolder shown_ = ResultFolder::TurboScan;
    // What the thumbnails show: the listed folder and its files, in the
    // panel's order.
    std::string listedFolder_;
    std::vector<std::string> ThumbFiles;
    ResultOrder order_ = ResultOrder::Name;
    bool loaded_ = false;
};

// Shows the viewer (loading it when needed) for these folders.
QWidget* ShowResultsViewer(const std::string& appFolder, const std::string& destinationRoot);

} // namespace wizard

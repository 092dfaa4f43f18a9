// The tools window: back a card up to an image file, write an image back,
// erase a card, or choose the folder under which recovered files are saved.
// It shows and asks; what the options mean lives in tools/AdvToolsChoice,
// tools/RemovableDriveList and shell/DestinationChoice.
#pragma once

#include <atomic>
#include <vector>

#include <QWidget>

#include "shell/DestinationChoice.h"
#include "tools/AdvTools.h"
#include "tools/AdvToolsChoice.h"
#include "tools/TransferMeter.h"

class QButtonGroup;
class QComboBox;
class QFileSystemModel;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTreeView;

namespace tools {

class frmAdvTools : public QWidget, public ToolWindow {
    Q_OBJECT
public:
    frmAdvTools();
    ~frmAdvTools() override;

    // While a tool runs only Stop takes input; the progress shows from the
    // first block on.
    void StopTakingInput() override;
    void TakeInputAgain() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    void Form_Load();
    void LoadTexts();
    ToolChoice Chosen() const;
    void DeviceOption_Click();
    void OtherOption_Click();
    void ListRemovableDrives();
    void cmdGo_Click();
    void RunTool(ToolChoice choice);
    void ShowProgress(std::uint64_t done, std::uint64_t total);
    void ChangeDestination();
    void DriveSelector_Change();
    QString lstDirPath() const;
    void ShowFolder(const QString& folder);
    void butDestOK_Click();
    void butDestCancel_Click();
    void cmdCancel_Click();
    void Label18_Click();

    QLabel* Label14;
    QLabel* Label1;
    QGroupBox* XPFrame201;
    QStackedWidget* pages_;
    QLabel* Label6;
    QRadioButton* optBackup;
    QRadioButton* optRestore;
    QRadioButton* optSecureErase;
    QRadioButton* optChangeDir;
    QRadioButton* optCDDVD;
    QButtonGroup* options_;
    QLabel* Label2;
    QComboBox* DriveBox;
    QLabel* lblNoDevice;
    QLabel* Label3;
    QComboBox* DriveSelector;
    QTreeView* lstDir;
    QFileSystemModel* folders_;
    QLineEdit* txtDrive;
    QPushButton* butDestOK;
    QPushButton* butDestCancel;
    QLabel* lblRunning;
    QLabel* lblRunningDevice;
    QProgressBar* prgTool;
    QLabel* lblProgress;
    QPushButton* cmdStop;
    QLabel* Label18;
    QPushButton* cmdGo;
    QPushButton* cmdCancel;
    QLineEdit* Language;

    ToolsTexts texts_;
    std::vector<shell::FolderPlace> places_;
    bool running_ = false;
    std::atomic<bool> stop_{false};
    TransferMeter meter_;
};

} // namespace tools

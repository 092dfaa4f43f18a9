// The recovery wizard: lists the removable drives, shows the chosen one's
// type, sector size and capacity, and on Start runs a recovery (the turbo
// scan, then, if the user agrees, the deep scan) while showing its progress.
// The files it could not save whole are listed in the window. Afterwards
// it says what the run came to and asks whether to look at the recovered
// files: Yes hands over to the results viewer, No stays on the results.
// The run itself is RecoveryRun; this window shows it and routes Stop to it.
#pragma once

#include <QWidget>

#include "shell/DesktopTexts.h"
#include "wizard/DriveList.h"
#include "wizard/RecoveryRun.h"
#include "wizard/WizardTexts.h"

class QComboBox;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QStackedWidget;

namespace wizard {

class frmMain : public QWidget, private RecoveryView {
    Q_OBJECT
public:
    frmMain();
    // Unloading: a run still going is told to stop, and the signature
    // database is released, so that the next Start loads it again.
    ~frmMain() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    void BuildHeading();
    void BuildDriveControls();
    void LayOutDriveFrame();
    QWidget* BuildStatistics();
    QWidget* LayOutStatistics();
    QHBoxLayout* BuildButtons();
    void LayOut(QWidget* statisticsPage, QHBoxLayout* buttons);
    void ApplyTexts();
    void Form_Load();

    // The drive list.
    void ListDrives();
    void butRescan_Click();
    void butGetAll_Click();
    void DriveBox_Click(int index);
    void SelectDrive(char letter);

    // The run.
    void ButtonStart();
    void ButtonCancel();
    void Command1();
    void Label5_Click();
    void EditDestPath_Change();
    void butBrowse_Click();
    void UseDestination(const std::string& typed);
    void OpenWebSite();
    void EnterScanningLook();
    void EnterIdleLook();
    void UpdateButtons();
    void ShowProblemCount(std::int64_t count);

    // RecoveryView
    void EnterStage(RunStage stage) override;
    void ShowStatus(const std::string& text) override;
    void ShowDestination(const std::string& root, const std::string& linkText) override;
    void ShowFilesFound(std::int64_t total) override;
    void ShowCurrentFile(const std::string& name) override;
    void ShowProgress(std::int32_t value) override;
    void ShowTurboProgress(std::int64_t done, std::int64_t found, std::int32_t percent) override;
    void ShowDeepScanPace(const PaceReading& pace) override;
    void ShowEngineError(const std::string& message) override;
    void ShowDestinationFull(const std::string& text, const std::string& title) override;
    void ShowReportFailure(const std::string& reason) override;
    void ShowImagesFound(std::int64_t carved) override;
    void ShowReadErrors(std::int64_t errors) override;
    std::int32_t BarMaximum() override;

    QLabel* NewCaption(const char* name, int entry, const char* design);
    QLabel* NewValue(const char* name);

    WizardTexts texts_;
    shell::DesktopTexts words_;
    char decimalSeparator_ = '.';
    bool showAllDrives_ = false;
    char selectedLetter_ = 0;
    bool driveReadable_ = false;
    // The actions behind the visible buttons.
    bool buttonStartEnabled_ = false;
    bool buttonCancelEnabled_ = false;
    bool command1Enabled_ = true;
    bool running_ = false;
    bool finished_ = false;
    RecoveryRun* run_ = nullptr;
    std::int64_t problemCount_ = 0;
    bool destinationFull_ = false; // in the run going on or just ended

    QLabel* Label2;
    QLabel* Label11;
    QLabel* Label18;
    QLabel* lblInfo;
    QGroupBox* XPFrame201;
    QLabel* lblSearchStatus;
    QLabel* lblSelect;
    QLabel* lblScanDrive;
    QStackedWidget* searchOrStatistics_;
    QComboBox* DriveBox;
    QListWidget* ListBoxDrives;
    QPushButton* butGetAll;
    QLabel* LabelMedia;
    QLabel* LabelInfoMedia;
    QLabel* LabelBytesPerSec;
    QLabel* LabelInfoBytesPerSec;
    QLabel* LabelCapacity;
    QLabel* LabelInfoCapacity;
    QLabel* LabelSecAtOnce;
    QSpinBox* UpDownSecAtOnce;
    QLabel* LabelRetry;
    QSpinBox* UpDownRetry;
    QLabel* LabelPrefix;
    QLineEdit* EditFilenamePrefix;
    QLabel* LabelDestPath;
    QLineEdit* EditDestPath;
    QPushButton* butBrowse;
    QLabel* lblStatistics;
    QLabel* lblNoFiles;
    QLabel* lblFileFound;
    QLabel* LabelImagesFound;
    QLabel* LabelInfoImagesFound;
    QLabel* LabelReadErrors;
    QLabel* LabelInfoReadErrors;
    QLabel* lblCur;
    QLabel* lblCurrent;
    QLabel* LabelStatus;
    QLabel* LabelInfoStatus;
    QLabel* LabelProgress;
    QProgressBar* ProgressBar;
    QLabel* pbValue;
    QLabel* lblPace;
    QLabel* lblOutcome;
    QLabel* lblProblems;
    QListWidget* lstProblems;
    QLabel* LabelInfoCurrentSector;
    QLabel* Label5;
    QPushButton* xpbutRescan;
    QPushButton* xpbutBack;
    QPushButton* xpbutStart;
    QPushButton* xpbutStop;
};

} // namespace wizard

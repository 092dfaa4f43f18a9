#include "wizard/windows/frmMain.h"

#include <chrono>

#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "engine/FileTypeTable.h"
#include "platform/desktop/DesktopUi.h"
#include "platform/desktop/Forms.h"
#include "platform/desktop/WindowConventions.h"
#include "platform/shell.h"
#include "platform/ui.h"
#include "shell/DestinationChoice.h"
#include "shell/DestinationFolder.h"
#include "shell/VendorLinks.h"

namespace wizard {

namespace {

using namespace platform::desktop;

FormRegistration registration("frmMain", [] { return new frmMain; });

constexpr int kDesignWidth = 640;
// What Label5 links to; its click opens the results folder of the moment.
const QString kResultsLink = QStringLiteral("results");

// The desktop's pump during a run, at most 50 times a second: the deep
// scan asks for it every 16 sectors, far more often than anyone clicks Stop
// on a fast card, and each pass of the event loop polls the system.
class PacedPump : public platform::UiServices {
public:
    explicit PacedPump(platform::UiServices& inner) : inner_(inner) {}
    void DoEvents() override {
        const auto now = Clock::now();
        if (now - last_ < kInterval) return;
        inner_.DoEvents();
        last_ = Clock::now();
    }
    int MessageBox(const std::string& text, int style, const std::string& title) override {
        const int answer = inner_.MessageBox(text, style, title);
        last_ = Clock::time_point{};
        return answer;
    }
    std::string FileDialog(const platform::FileDialogRequest& request) override { return inner_.FileDialog(request); }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval{20};
    platform::UiServices& inner_;
    Clock::time_point last_{};
};

// Installs the paced pump over the desktop's services for a scope; the
// scripted services of tests are left as they are, pump for pump.
class PacedPumpScope {
public:
    PacedPumpScope() : previous_(platform::Ui()), paced_(previous_) {
        if (dynamic_cast<platform::desktop::DesktopUi*>(&previous_)) {
            platform::SetUi(&paced_);
            installed_ = true;
        }
    }
    ~PacedPumpScope() {
        if (installed_) platform::SetUi(&previous_);
    }
    PacedPumpScope(const PacedPumpScope&) = delete;
    PacedPumpScope& operator=(const PacedPumpScope&) = delete;

private:
    platform::UiServices& previous_;
    PacedPump paced_;
    bool installed_ = false;
};

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Texts with Windows line ends shown in a label.
QString Lines(const std::string& text) { return Q(text).replace(QLatin1String("\r\n"), QLatin1String("\n")); }

// A control that keeps its place in the layout while hidden, so that the
// fixed-size window does not squeeze its neighbours when it appears.
template <class W>
W* KeepPlace(W* widget) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
    return widget;
}

} // namespace

frmMain::frmMain() : QWidget(nullptr) {
    setObjectName("frmMain");
    BuildControls();
    Form_Load();
}

frmMain::~frmMain() {
    if (run_) run_->Stop();
    engine::ReleaseFileTypes();
}

QLabel* frmMain::NewCaption(const char* name, int entry, const char* design) {
    QLabel* label = NewControl<QLabel>(this, name);
    label->setProperty("wizardEntry", entry);
    SetCaption(label, QString::fromUtf8(design));
    return label;
}

QLabel* frmMain::NewValue(const char* name) {
    // Plain text: a label of selectable text keeps a text document, which
    // makes every update of a running counter a layout.
    QLabel* label = NewControl<QLabel>(this, name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The heading and the line under it.
void frmMain::BuildHeading() {
    Label2 = NewCaption("Label2", 3, "Recover Lost Files");
    QFont heading = Label2->font();
    heading.setPointSizeF(heading.pointSizeF() * 1.4);
    heading.setBold(true);
    Label2->setFont(heading);
    MoveWindowByDragging(Label2);
    lblInfo = NewCaption("lblInfo", 2, "Choose the drive of the memory card and press Start.");
    lblInfo->setWordWrap(true);
}

// The drive and the settings of a run.
void frmMain::BuildDriveControls() {
    XPFrame201 = NewControl<QGroupBox>(this, "XPFrame201");
    SetCaption(XPFrame201, QStringLiteral("Drive to recover from"));
    lblSearchStatus = KeepPlace(NewValue("lblSearchStatus"));
    lblSearchStatus->setWordWrap(true);
    lblSearchStatus->setAlignment(Qt::AlignLeft | Qt::AlignBottom); // next to the list it points to
    // Room for the longest status (five lines of wrapped text).
    lblSearchStatus->setMinimumHeight(lblSearchStatus->fontMetrics().lineSpacing() * 6);
    lblSelect = KeepPlace(NewCaption("lblSelect", 61, "Drive"));
    DriveBox = KeepPlace(NewControl<QComboBox>(this, "DriveBox"));
    DriveBox->setAccessibleName(QStringLiteral("Drive"));
    lblSelect->setBuddy(DriveBox);
    ListBoxDrives = NewControl<QListWidget>(this, "ListBoxDrives");
    ListBoxDrives->hide();
    butGetAll = KeepPlace(NewControl<QPushButton>(this, "butGetAll"));
    SetCaption(butGetAll, QStringLiteral("Show all drives"));

    LabelMedia = NewCaption("LabelMedia", 57, "Drive type:");
    LabelInfoMedia = NewValue("LabelInfoMedia");
    LabelBytesPerSec = NewCaption("LabelBytesPerSec", 58, "Bytes per sector:");
    LabelInfoBytesPerSec = NewValue("LabelInfoBytesPerSec");
    LabelCapacity = NewCaption("LabelCapacity", 68, "Capacity:");
    LabelInfoCapacity = NewValue("LabelInfoCapacity");
    LabelSecAtOnce = NewCaption("LabelSecAtOnce", 54, "Sectors read at once:");
    UpDownSecAtOnce = NewControl<QSpinBox>(this, "UpDownSecAtOnce");
    UpDownSecAtOnce->setRange(1, 4000);
    UpDownSecAtOnce->setValue(64);
    LabelSecAtOnce->setBuddy(UpDownSecAtOnce);
    LabelRetry = NewCaption("LabelRetry", 55, "Read attempts:");
    UpDownRetry = NewControl<QSpinBox>(this, "UpDownRetry");
    UpDownRetry->setRange(1, 100);
    UpDownRetry->setValue(1);
    LabelRetry->setBuddy(UpDownRetry);
    LabelPrefix = NewCaption("LabelPrefix", 56, "File name prefix:");
    EditFilenamePrefix = NewControl<QLineEdit>(this, "EditFilenamePrefix");
    // The prefix becomes part of a file name: no folder separators.
    EditFilenamePrefix->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[^/\\\\\\x00-\\x1f]{0,40}")), EditFilenamePrefix));
    LabelPrefix->setBuddy(EditFilenamePrefix);
    LabelDestPath = NewCaption("LabelDestPath", 53, "Destination folder:");
    // Typed or browsed for; either way checked before it is stored.
    EditDestPath = NewControl<QLineEdit>(this, "EditDestPath");
    LabelDestPath->setBuddy(EditDestPath);
    connect(EditDestPath, &QLineEdit::editingFinished, this, [this] { EditDestPath_Change(); });
    butBrowse = NewControl<QPushButton>(this, "butBrowse");
    SetCaption(butBrowse, QStringLiteral("Browse..."));
    connect(butBrowse, &QPushButton::clicked, this, [this] { butBrowse_Click(); });

    // While a run goes on, the drive row names the drive being scanned.
    lblScanDrive = NewValue("lblScanDrive");
    lblScanDrive->hide();
}

void frmMain::LayOutDriveFrame() {
    auto* frame = new QGridLayout(XPFrame201);
    frame->addWidget(lblSelect, 1, 0);
    frame->addWidget(DriveBox, 1, 1, 1, 2);
    frame->addWidget(lblScanDrive, 1, 0, 1, 3);
    frame->addWidget(butGetAll, 1, 3);
    frame->addWidget(LabelMedia, 2, 0);
    frame->addWidget(LabelInfoMedia, 2, 1);
    frame->addWidget(LabelBytesPerSec, 2, 2);
    frame->addWidget(LabelInfoBytesPerSec, 2, 3);
    frame->addWidget(LabelCapacity, 3, 0);
    frame->addWidget(LabelInfoCapacity, 3, 1);
    frame->addWidget(LabelSecAtOnce, 4, 0);
    frame->addWidget(UpDownSecAtOnce, 4, 1);
    frame->addWidget(LabelRetry, 4, 2);
    frame->addWidget(UpDownRetry, 4, 3);
    frame->addWidget(LabelPrefix, 5, 0);
    frame->addWidget(EditFilenamePrefix, 5, 1);
    frame->addWidget(LabelDestPath, 6, 0);
    frame->addWidget(EditDestPath, 6, 1, 1, 2);
    frame->addWidget(butBrowse, 6, 3);
    frame->setColumnStretch(1, 1);
    frame->setColumnStretch(3, 1);
}

// The counters and the progress of a run, on a page of their own.
QWidget* frmMain::BuildStatistics() {
    lblStatistics = KeepPlace(NewCaption("lblStatistics", 5, "Statistics"));
    QFont bold = lblStatistics->font();
    bold.setBold(true);
    lblStatistics->setFont(bold);
    lblNoFiles = KeepPlace(NewCaption("lblNoFiles", 6, "Files found:"));
    lblFileFound = KeepPlace(NewValue("lblFileFound"));
    LabelImagesFound = KeepPlace(NewCaption("LabelImagesFound", 69, "Images found:"));
    LabelInfoImagesFound = KeepPlace(NewValue("LabelInfoImagesFound"));
    LabelReadErrors = KeepPlace(NewCaption("LabelReadErrors", 70, "Read errors:"));
    LabelInfoReadErrors = KeepPlace(NewValue("LabelInfoReadErrors"));
    lblCur = KeepPlace(NewCaption("lblCur", 7, "Current file:"));
    lblCurrent = KeepPlace(NewValue("lblCurrent"));
    // A long name must not widen the fixed-size window.
    lblCurrent->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    KeepPlace(lblCurrent);
    LabelStatus = KeepPlace(NewCaption("LabelStatus", 8, "Status:"));
    LabelInfoStatus = KeepPlace(NewValue("LabelInfoStatus"));
    LabelInfoStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    KeepPlace(LabelInfoStatus);
    LabelProgress = KeepPlace(NewCaption("LabelProgress", 11, "Progress:"));
    ProgressBar = KeepPlace(NewControl<QProgressBar>(this, "ProgressBar"));
    ProgressBar->setRange(0, 100);
    ProgressBar->setTextVisible(false);
    pbValue = KeepPlace(NewValue("pbValue"));
    pbValue->setMinimumWidth(pbValue->fontMetrics().horizontalAdvance(QStringLiteral("100 %")));
    LabelInfoCurrentSector = NewValue("LabelInfoCurrentSector");
    LabelInfoCurrentSector->hide();
    // The deep scan's speed and time left, under its bar.
    lblPace = KeepPlace(NewValue("lblPace"));
    lblPace->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    KeepPlace(lblPace);
    lblOutcome = KeepPlace(NewValue("lblOutcome"));
    lblOutcome->setWordWrap(true);
    lblOutcome->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    KeepPlace(lblOutcome);
    // The files the run could not save whole (and folders it could not
    // read): listed as they come, so that none of them stops the run.
    lblProblems = KeepPlace(NewCaption("lblProblems", 80, "Problems found during the recovery:"));
    lstProblems = KeepPlace(NewControl<QListWidget>(this, "lstProblems"));
    // Four whole lines: a line of plain text is as high as its font.
    lstProblems->setFixedHeight(lstProblems->fontMetrics().height() * 4 + 2 * lstProblems->frameWidth());
    lstProblems->setUniformItemSizes(true); // thousands of lines stay cheap
    lstProblems->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    lblProblems->setBuddy(lstProblems);
    Label5 = KeepPlace(NewValue("Label5"));
    MakeLink(Label5, kResultsLink, {});
    connect(Label5, &QLabel::linkActivated, this, [this] { Label5_Click(); });

    return LayOutStatistics();
}

// The statistics page's grid: the counters, the file, the bar, and what the
// run came to.
QWidget* frmMain::LayOutStatistics() {
    auto* statisticsPage = new QWidget(this);
    auto* statistics = new QGridLayout(statisticsPage);
    statistics->setContentsMargins(0, 0, 0, 0);
    statistics->addWidget(lblStatistics, 0, 0, 1, 4);
    statistics->addWidget(lblNoFiles, 1, 0);
    statistics->addWidget(lblFileFound, 1, 1);
    statistics->addWidget(LabelImagesFound, 1, 2);
    statistics->addWidget(LabelInfoImagesFound, 1, 3);
    statistics->addWidget(LabelReadErrors, 2, 2);
    statistics->addWidget(LabelInfoReadErrors, 2, 3);
    statistics->addWidget(lblCur, 3, 0);
    statistics->addWidget(lblCurrent, 3, 1, 1, 3);
    statistics->addWidget(LabelProgress, 5, 0);
    statistics->addWidget(ProgressBar, 5, 1, 1, 2);
    statistics->addWidget(pbValue, 5, 3);
    statistics->addWidget(lblPace, 6, 1, 1, 3);
    // Once the run is over, what it came to, where its progress was.
    statistics->addWidget(lblOutcome, 3, 0, 4, 4, Qt::AlignTop);
    statistics->addWidget(Label5, 7, 0, 1, 4);
    statistics->addWidget(lblProblems, 8, 0, 1, 4);
    statistics->addWidget(lstProblems, 9, 0, 1, 4);
    statistics->setColumnStretch(1, 1);
    statistics->setColumnStretch(3, 1);
    return statisticsPage;
}

QHBoxLayout* frmMain::BuildButtons() {
    xpbutRescan = NewControl<QPushButton>(this, "xpbutRescan");
    SetCaption(xpbutRescan, QStringLiteral("Rescan"));
    xpbutBack = NewControl<QPushButton>(this, "xpbutBack");
    SetCaption(xpbutBack, QStringLiteral("Back"));
    xpbutStart = NewControl<QPushButton>(this, "xpbutStart");
    SetCaption(xpbutStart, QStringLiteral("Start"));
    xpbutStop = NewControl<QPushButton>(this, "xpbutStop");
    SetCaption(xpbutStop, QStringLiteral("Stop"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(xpbutRescan);
    buttons->addStretch(1);
    buttons->addWidget(xpbutBack);
    buttons->addWidget(xpbutStart);
    buttons->addWidget(xpbutStop);
    return buttons;
}

// The window's parts in their places, and the handlers of its controls.
void frmMain::LayOut(QWidget* statisticsPage, QHBoxLayout* buttons) {
    // Before a run the drive search's result (it points to the list below
    // it), during and after it the statistics, in the same place.
    searchOrStatistics_ = new QStackedWidget(this);
    searchOrStatistics_->addWidget(lblSearchStatus);
    searchOrStatistics_->addWidget(statisticsPage);

    // The web site, as the program's icon and as its address, at the
    // heading's right; made last, so that they come last in the tab order.
    const QString site = QString::fromLatin1(shell::WebSiteAddress);
    const QString shown = Q(shell::ShownAddress(shell::WebSiteAddress));
    Label11 = NewControl<QLabel>(this, "Label11");
    const int iconSize = Label2->fontMetrics().height();
    MakePictureLink(Label11, site, windowIcon().pixmap(QSize(iconSize, iconSize), devicePixelRatioF()), shown);
    Label18 = NewControl<QLabel>(this, "Label18");
    MakeLink(Label18, site, shown);
    for (QLabel* link : {Label11, Label18})
        connect(link, &QLabel::linkActivated, this, [this] { OpenWebSite(); });
    auto* header = new QHBoxLayout;
    header->addWidget(Label2, 1);
    header->addWidget(Label18);
    header->addWidget(Label11);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(header);
    layout->addWidget(lblInfo);
    layout->addSpacing(lblInfo->fontMetrics().lineSpacing() / 2);
    layout->addWidget(searchOrStatistics_);
    // The status line, before, during and after a run: a drive that cannot
    // be read says so here, beside a Start that stays disabled.
    auto* status = new QHBoxLayout;
    status->addWidget(LabelStatus);
    status->addWidget(LabelInfoStatus, 1);
    layout->addLayout(status);
    layout->addSpacing(lblInfo->fontMetrics().lineSpacing() / 2);
    layout->addWidget(XPFrame201);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(xpbutStart, &QPushButton::clicked, this, [this] { ButtonStart(); });
    connect(xpbutStop, &QPushButton::clicked, this, [this] {
        xpbutStop->setEnabled(false);
        ButtonCancel();
    });
    connect(xpbutBack, &QPushButton::clicked, this, [this] { Command1(); });
    connect(xpbutRescan, &QPushButton::clicked, this, [this] { butRescan_Click(); });
    connect(butGetAll, &QPushButton::clicked, this, [this] { butGetAll_Click(); });
    connect(DriveBox, &QComboBox::activated, this, [this](int index) { DriveBox_Click(index); });
    connect(ListBoxDrives, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0 || running_) return;
        const QString item = ListBoxDrives->item(row)->text();
        if (!item.isEmpty()) SelectDrive(item.at(0).toLatin1());
    });
}

void frmMain::BuildControls() {
    BuildHeading();
    BuildDriveControls();
    LayOutDriveFrame();
    QWidget* statisticsPage = BuildStatistics();
    QHBoxLayout* buttons = BuildButtons();
    LayOut(statisticsPage, buttons);
}

// Captions from the language file; a section that could not be read leaves
// the design captions.
void frmMain::ApplyTexts() {
    if (!texts_.Loaded()) return;
    const std::vector<std::string>& t = texts_.Entries();
    SetCaption(this, t, 1);
    SetCaption(lblInfo, t, 2);
    SetCaption(Label2, t, 3);
    SetCaption(XPFrame201, t, 4);
    SetCaption(lblStatistics, t, 5);
    SetCaption(lblNoFiles, t, 6);
    SetCaption(lblCur, t, 7);
    SetCaption(LabelStatus, t, 8);
    SetCaption(xpbutRescan, t, 9);
    SetCaption(butGetAll, t, 10);
    SetCaption(LabelProgress, t, 11);
    SetCaption(xpbutStart, t, 12);
    SetCaption(xpbutStop, t, 13);
    SetCaption(xpbutBack, t, 14);
    for (QLabel* caption : {lblSelect, LabelMedia, LabelBytesPerSec, LabelCapacity, LabelSecAtOnce, LabelRetry,
                            LabelPrefix, LabelDestPath, LabelImagesFound, LabelReadErrors, lblProblems})
        SetCaption(caption, t, caption->property("wizardEntry").toInt());
    // The fields take the name of their caption, for the screen reader.
    DriveBox->setAccessibleName(EntryText(t, 4));
    ListBoxDrives->setAccessibleName(EntryText(t, 4));
    UpDownSecAtOnce->setAccessibleName(LabelSecAtOnce->text());
    UpDownRetry->setAccessibleName(LabelRetry->text());
    EditFilenamePrefix->setAccessibleName(LabelPrefix->text());
    EditDestPath->setAccessibleName(LabelDestPath->text());
    lstProblems->setAccessibleName(lblProblems->text());
}

void frmMain::Form_Load() {
    SetCaption(this, QStringLiteral("Recovery Wizard"));
    showAllDrives_ = false;
    RemoveCloseItem(this);
    texts_ = LoadWizardTexts();
    words_ = shell::LoadDesktopTexts();
    SetCaption(butBrowse, QString::fromStdString(words_(shell::desktop_text::Browse)));
    decimalSeparator_ = UserDecimalSeparator();
    ApplyTexts();
    for (QWidget* hidden : std::initializer_list<QWidget*>{
             lblStatistics, lblNoFiles, lblFileFound, LabelImagesFound, LabelInfoImagesFound, LabelReadErrors,
             LabelInfoReadErrors, lblCur, lblCurrent, LabelProgress, ProgressBar, pbValue, lblPace, lblOutcome, Label5, lblProblems,
             lstProblems})
        hidden->hide();
    buttonStartEnabled_ = false;
    buttonCancelEnabled_ = false;
    xpbutStop->setEnabled(false);
    EditDestPath->setText(Q(shell::CurrentDestinationRoot()));
    SetFixedDesignSize(this, kDesignWidth);
    ListDrives();
}

// ---- the drive list ----

void frmMain::ListDrives() {
    const DriveListing listing = ListRemovableDrives(showAllDrives_, texts_, decimalSeparator_);
    if (listing.systemListFailed)
        platform::MsgBox(texts_(text::NoDriveStrings), platform::vbCritical, texts_(text::WizardTitle));
    DriveBox->clear();
    ListBoxDrives->blockSignals(true);
    ListBoxDrives->clear();
    for (std::size_t i = 0; i < listing.items.size(); ++i) {
        DriveBox->addItem(Q(listing.items[i]));
        ListBoxDrives->addItem(Q(listing.letters[i]));
    }
    ListBoxDrives->blockSignals(false);
    lblSearchStatus->setText(Lines(listing.searchStatus));
    lblSearchStatus->show();
    butGetAll->show();
    xpbutRescan->show();
    if (listing.items.empty()) {
        lblSelect->hide();
        DriveBox->hide();
        selectedLetter_ = 0;
        buttonStartEnabled_ = false;
        LabelInfoMedia->clear();
        LabelInfoBytesPerSec->clear();
        LabelInfoCapacity->clear();
        // The search status says why: no status line beside it.
        LabelInfoStatus->clear();
        LabelStatus->hide();
        LabelInfoStatus->hide();
    } else {
        LabelStatus->show();
        LabelInfoStatus->show();
        lblSelect->show();
        DriveBox->show();
        DriveBox->setCurrentIndex(0);
        DriveBox_Click(0);
    }
    showAllDrives_ = false;
    UpdateButtons();
}

void frmMain::butRescan_Click() {
    if (running_) return;
    ListDrives();
}

void frmMain::butGetAll_Click() {
    if (running_) return;
    showAllDrives_ = true;
    ListDrives();
}

void frmMain::DriveBox_Click(int index) {
    if (index < 0 || index >= ListBoxDrives->count() || running_) return;
    // The letter comes from the parallel list, so that items led by a
    // translated word select the drive they name too.
    const QString letter = ListBoxDrives->item(index)->text();
    if (!letter.isEmpty()) SelectDrive(letter.at(0).toLatin1());
}

void frmMain::SelectDrive(char letter) {
    selectedLetter_ = letter;
    buttonStartEnabled_ = false;
    LabelInfoMedia->clear();
    LabelInfoBytesPerSec->clear();
    LabelInfoCapacity->clear();
    const DriveChoice choice = ChooseDrive(letter, decimalSeparator_, words_);
    driveReadable_ = choice.readable;
    if (choice.readable) {
        LabelInfoMedia->setText(Q(choice.mediaText));
        LabelInfoBytesPerSec->setText(Q(choice.bytesPerSectorText));
        LabelInfoCapacity->setText(Q(choice.capacityText));
        LabelInfoStatus->setText(Q(texts_(text::Ready)));
        buttonStartEnabled_ = true;
        UpDownRetry->setMinimum(choice.retryMinimum);
        if (choice.sectorsAtOnceMaximum > 0) UpDownSecAtOnce->setMaximum(choice.sectorsAtOnceMaximum);
        UpDownSecAtOnce->setValue(std::min(choice.sectorsAtOnce, UpDownSecAtOnce->maximum()));
    } else {
        LabelInfoStatus->setText(Q(texts_(text::DriveUnreadable)));
    }
    UpdateButtons();
}

// ---- the run ----

void frmMain::UpdateButtons() {
    xpbutStart->setEnabled(!running_ && !finished_ && buttonStartEnabled_ && selectedLetter_ != 0);
    xpbutStart->setDefault(xpbutStart->isEnabled()); // Enter presses it
    EditDestPath->setEnabled(!running_);
    butBrowse->setEnabled(!running_);
    xpbutBack->setEnabled(!running_ && command1Enabled_);
    xpbutRescan->setEnabled(!running_);
    butGetAll->setEnabled(!running_);
    DriveBox->setEnabled(!running_);
    ListBoxDrives->setEnabled(!running_);
    UpDownSecAtOnce->setEnabled(!running_);
    UpDownRetry->setEnabled(!running_);
    EditFilenamePrefix->setEnabled(!running_);
}

void frmMain::EnterScanningLook() {
    for (QWidget* hidden : std::initializer_list<QWidget*>{lblSearchStatus, DriveBox, butGetAll, lblSelect, xpbutRescan})
        hidden->hide();
    running_ = true;
    finished_ = false;
    lblScanDrive->setText(DriveBox->currentText());
    lblScanDrive->show();
    searchOrStatistics_->setCurrentIndex(1);
    xpbutStop->setEnabled(true);
    RemoveCloseItem(this);
    lblFileFound->clear();
    lblCurrent->clear();
    LabelInfoImagesFound->setText(QStringLiteral("0"));
    LabelInfoReadErrors->setText(QStringLiteral("0"));
    lblPace->clear();
    lblOutcome->hide();
    destinationFull_ = false;
    lstProblems->clear();
    ShowProblemCount(0);
    for (QWidget* shown : std::initializer_list<QWidget*>{lblStatistics, lblNoFiles, lblFileFound, LabelImagesFound,
                                                          LabelInfoImagesFound, LabelReadErrors, LabelInfoReadErrors,
                                                          LabelStatus, LabelInfoStatus, lblCur, lblCurrent, ProgressBar,
                                                          lblProblems, lstProblems})
        shown->show();
    LabelInfoStatus->setText(Q(texts_(text::Starting)));
    UpdateButtons();
}

void frmMain::EnterIdleLook() {
    running_ = false;
    buttonCancelEnabled_ = false;
    xpbutStop->setEnabled(false);
    for (QWidget* hidden : std::initializer_list<QWidget*>{pbValue, lblPace, lblCur, lblCurrent, LabelProgress})
        hidden->hide();
    LabelInfoStatus->setText(Q(texts_(text::Ready)));
    ProgressBar->setValue(0);
    ProgressBar->hide();
    LabelInfoCurrentSector->clear();
    UpdateButtons();
}

void frmMain::ButtonStart() {
    if (running_ || !buttonStartEnabled_ || selectedLetter_ == 0) return;
    EnterScanningLook();
    RecoveryRequest request;
    request.letter = selectedLetter_;
    request.sectorsAtOnce = UpDownSecAtOnce->value();
    request.retries = UpDownRetry->value();
    request.prefix = EditFilenamePrefix->text().toStdString();
    request.earlierResults = EarlierResults::Ask;
    request.stages = RunStages::Both;
    RecoveryOutcome outcome;
    {
        PacedPumpScope paced;
        RecoveryRun run(request, texts_, *this);
        run_ = &run;
        outcome = run.Run();
        run_ = nullptr;
    }
    EnterIdleLook();

    if (outcome.refusal != RunRefusal::None && outcome.refusal != RunRefusal::CdRom) {
        // Nothing was scanned: back to the drive list, to pick again or go back.
        for (QWidget* hidden : std::initializer_list<QWidget*>{lblStatistics, lblNoFiles, lblFileFound,
                                                               LabelImagesFound, LabelInfoImagesFound, LabelReadErrors,
                                                               LabelInfoReadErrors, Label5, lblProblems, lstProblems})
            hidden->hide();
        for (QWidget* shown : std::initializer_list<QWidget*>{lblSearchStatus, lblSelect, DriveBox, butGetAll, xpbutRescan})
            shown->show();
        lblScanDrive->hide();
        searchOrStatistics_->setCurrentIndex(0);
        if (outcome.refusal == RunRefusal::NoCard) {
            buttonStartEnabled_ = false;
            LabelInfoStatus->setText(Q(texts_(text::DriveUnreadable)));
        }
        UpdateButtons();
        return;
    }

    // Finished: only Back. No at the closing question leaves the window on
    // what the run came to (its counts, its problems, the folder's link).
    if (const std::string named = NamedFilesText(outcome, texts_); !named.empty()) LabelInfoStatus->setText(Q(named));
    finished_ = true;
    UpdateButtons();
    lblOutcome->setText(Lines((outcome.Stopped() ? texts_(text::ScanWasStopped) + "\r\n" : "") +
                              RunCounts(outcome, texts_)));
    lblOutcome->show();
    const ClosingChoice choice = AskClosingQuestion(outcome, texts_);
    platform::DoEvents();
    if (choice == ClosingChoice::StayInWizard) {
        xpbutBack->setFocus(); // the one way on, for the keyboard too
        return;
    }
    if (choice == ClosingChoice::ViewResults && FormExists("frmView")) ShowForm("frmView");
    else ShowForm("frmMainMenu");
    Unload(this);
}

void frmMain::ButtonCancel() {
    if (!run_) return;
    if (run_->TurboScanRunning()) {
        run_->Stop();
        buttonCancelEnabled_ = false;
        xpbutStop->setEnabled(false);
    } else {
        run_->Stop();
    }
}

void frmMain::Command1() {
    if (running_ || !command1Enabled_) return;
    ShowForm("frmMainMenu");
    Unload(this);
}

void frmMain::Label5_Click() {
    const std::string folder = shell::FolderUnderRoot(EditDestPath->text().toStdString(), shell::RecoveredSubfolder);
    ShellExecuteA(nullptr, "open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void frmMain::EditDestPath_Change() {
    if (running_) return;
    const std::string typed = EditDestPath->text().toStdString();
    if (typed == shell::CurrentDestinationRoot()) return;
    UseDestination(typed);
}

void frmMain::butBrowse_Click() {
    if (running_) return;
    platform::FileDialogRequest request;
    request.folder = true;
    request.prompt = words_(shell::desktop_text::ChooseDestination);
    request.startFolder = shell::PresetFolder();
    const std::string chosen = platform::Ui().FileDialog(request);
    if (!chosen.empty()) UseDestination(chosen);
}

// The same check for a typed and a chosen folder; a folder that does not
// pass is named in a message and the stored root stays.
void frmMain::UseDestination(const std::string& typed) {
    const std::string folder = shell::TypedFolder(typed);
    if (!shell::IsUsableDestination(folder)) {
        EditDestPath->setText(Q(shell::CurrentDestinationRoot()));
        platform::MsgBox(words_(shell::desktop_text::DestinationNotAFolder) + "\r\n\r\n" + typed,
                         platform::vbExclamation, words_(shell::desktop_text::DestinationTitle));
        return;
    }
    const std::string root = shell::DestinationRootFor(folder);
    shell::StoreDestinationRoot(root);
    EditDestPath->setText(Q(root));
}

void frmMain::keyPressEvent(QKeyEvent* event) {
    // Enter presses the focused button, else Start when it may be pressed;
    // in a text field it only ends the typing.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        QWidget* focused = focusWidget();
        if (auto* button = qobject_cast<QPushButton*>(focused); button && button->isEnabled()) {
            button->animateClick();
            return;
        }
        if (!qobject_cast<QLineEdit*>(focused) && xpbutStart->isEnabled()) {
            xpbutStart->animateClick();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void frmMain::OpenWebSite() { shell::OpenAddressOrTell(shell::WebSiteAddress, windowTitle().toStdString()); }

// ---- what the run shows ----

void frmMain::EnterStage(RunStage stage) {
    switch (stage) {
    case RunStage::TurboScan:
        buttonCancelEnabled_ = true;
        LabelProgress->show();
        ProgressBar->show();
        pbValue->show();
        break;
    case RunStage::DeepScan:
        // The bar now counts the drive's sectors, not saved files.
        buttonCancelEnabled_ = true;
        pbValue->setText(QStringLiteral("0%"));
        pbValue->show();
        lblPace->clear();
        lblPace->show();
        LabelProgress->show();
        ProgressBar->show();
        break;
    case RunStage::Idle:
        break;
    }
}

void frmMain::ShowStatus(const std::string& text) { LabelInfoStatus->setText(Q(text)); }

void frmMain::ShowDestination(const std::string& root, const std::string& linkText) {
    EditDestPath->setText(Q(root));
    if (linkText.empty()) return;
    MakeLink(Label5, kResultsLink, Q(linkText));
    Label5->show();
}

void frmMain::ShowFilesFound(std::int64_t total) { lblFileFound->setText(QString::number(total)); }

void frmMain::ShowCurrentFile(const std::string& name) { lblCurrent->setText(Q(name)); }

void frmMain::ShowProgress(std::int32_t value) { ProgressBar->setValue(value); }

void frmMain::ShowTurboProgress(std::int64_t, std::int64_t, std::int32_t percent) {
    pbValue->setText(QString::number(percent) + QLatin1Char('%'));
    ProgressBar->setValue(percent);
}

void frmMain::ShowDeepScanPace(const PaceReading& pace) {
    pbValue->setText(QString::number(pace.percent) + QLatin1Char('%'));
    lblPace->setText(Q(PaceText(pace, texts_, decimalSeparator_)));
}

void frmMain::ShowEngineError(const std::string& message) {
    if (lstProblems->count() < static_cast<int>(MaxKeptMessages)) {
        // Lines as high as the font, so that the list shows whole lines.
        auto* line = new QListWidgetItem(Q(message), lstProblems);
        const QFontMetrics metrics = lstProblems->fontMetrics();
        line->setSizeHint(QSize(metrics.horizontalAdvance(line->text()) + metrics.averageCharWidth(), metrics.height()));
    }
    ShowProblemCount(problemCount_ + 1);
}

void frmMain::ShowDestinationFull(const std::string& text, const std::string& title) {
    destinationFull_ = true;
    RecoveryView::ShowDestinationFull(text, title);
}

// A report that could not be written whole for lack of space is one more
// consequence of the full destination, already said: it goes to the list.
void frmMain::ShowReportFailure(const std::string& reason) {
    if (destinationFull_) ShowEngineError(reason);
    else RecoveryView::ShowReportFailure(reason);
}

// The list's caption counts them all, also beyond the lines it keeps.
void frmMain::ShowProblemCount(std::int64_t count) {
    problemCount_ = count;
    const QString caption = texts_.Loaded() ? Q(texts_(text::FileProblemsCaption))
                                            : QStringLiteral("Problems found during the recovery:");
    lblProblems->setText(caption + QLatin1Char(' ') + QString::number(count));
    lstProblems->setAccessibleName(lblProblems->text());
}

void frmMain::ShowImagesFound(std::int64_t carved) { LabelInfoImagesFound->setText(QString::number(carved)); }

void frmMain::ShowReadErrors(std::int64_t errors) { LabelInfoReadErrors->setText(QString::number(errors)); }

std::int32_t frmMain::BarMaximum() { return ProgressBar->maximum(); }

} // namespace wizard

#include "tools/windows/frmAdvTools.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "platform/desktop/Forms.h"
#include "platform/desktop/WindowConventions.h"
#include "platform/shell.h"
#include "platform/ui.h"
#include "shell/DesktopTexts.h"
#include "shell/LanguageFile.h"
#include "shell/VendorLinks.h"
#include "shell/frmPasser.h"
#include "tools/RemovableDriveList.h"

namespace tools {

namespace {

using namespace platform::desktop;

constexpr int kDesignWidth = 560;
constexpr int kFolderTreeHeight = 180;
enum Page { OptionsPage, FolderPage, ProgressPage };

FormRegistration registration("frmAdvTools", [] { return new frmAdvTools; });

QString Q(const std::string& text) { return QString::fromStdString(text); }

QLabel* WrappedLabel(QWidget* parent, const char* name) {
    auto* label = NewControl<QLabel>(parent, name);
    label->setWordWrap(true);
    return label;
}

// Unchecks a button of an exclusive group (the group itself refuses).
void Uncheck(QButtonGroup* group, QAbstractButton* button) {
    group->setExclusive(false);
    button->setChecked(false);
    group->setExclusive(true);
}

QIcon PlaceIcon(const QStyle* style, shell::PlaceKind kind) {
    switch (kind) {
    case shell::PlaceKind::Home: return style->standardIcon(QStyle::SP_DirHomeIcon);
    case shell::PlaceKind::FileSystem: return style->standardIcon(QStyle::SP_DriveHDIcon);
    case shell::PlaceKind::Volume: return style->standardIcon(QStyle::SP_DriveFDIcon);
    }
    return {};
}

} // namespace

frmAdvTools::frmAdvTools() {
    setObjectName("frmAdvTools");
    BuildControls();
    Form_Load();
}

frmAdvTools::~frmAdvTools() {
    if (CurrentToolWindow() == this) SetToolWindow(nullptr);
}

void frmAdvTools::BuildControls() {
    // The design captions, until the language file's section replaces them.
    SetCaption(this, QStringLiteral("Tranquo - Advanced Tools"));
    auto* layout = new QVBoxLayout(this);

    Label14 = NewControl<QLabel>(this, "Label14");
    QFont heading = Label14->font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.3);
    Label14->setFont(heading);
    SetCaption(Label14, QStringLiteral("Advanced Tools"));
    layout->addWidget(Label14);
    Label1 = WrappedLabel(this, "Label1");
    SetCaption(Label1, QStringLiteral("These tools work on a whole memory card or device. Choose a tool, then press Go."));
    layout->addWidget(Label1);

    XPFrame201 = NewControl<QGroupBox>(this, "XPFrame201");
    SetCaption(XPFrame201, QStringLiteral("Tools"));
    layout->addWidget(XPFrame201, 1);
    auto* frameLayout = new QVBoxLayout(XPFrame201);
    pages_ = NewControl<QStackedWidget>(XPFrame201, "pages");
    frameLayout->addWidget(pages_);

    // The options, and the drive list of the device tools.
    auto* optionsPage = new QWidget;
    auto* optionsLayout = new QVBoxLayout(optionsPage);
    optionsLayout->setContentsMargins(0, 0, 0, 0);
    Label6 = WrappedLabel(optionsPage, "Label6");
    SetCaption(Label6, QStringLiteral("Choose what you would like to do:"));
    optionsLayout->addWidget(Label6);
    options_ = new QButtonGroup(this);
    auto addOption = [&](QRadioButton*& option, const char* name, const char* caption) {
        option = NewControl<QRadioButton>(optionsPage, name);
        SetCaption(option, QString::fromUtf8(caption));
        options_->addButton(option);
        optionsLayout->addWidget(option);
    };
    addOption(optBackup, "optBackup", "Back up a device to an image file");
    addOption(optRestore, "optRestore", "Restore an image file to a device");
    addOption(optSecureErase, "optSecureErase", "Securely erase a device");
    addOption(optChangeDir, "optChangeDir", "Change the folder for recovered files");
    addOption(optCDDVD, "optCDDVD", "Recover from a CD or DVD");
    // Whatever checks an option (mouse, keyboard, screen reader) shows
    // what goes with it.
    for (QRadioButton* option : {optBackup, optRestore, optSecureErase})
        OnChosen(option, [this] { DeviceOption_Click(); });
    for (QRadioButton* option : {optChangeDir, optCDDVD})
        OnChosen(option, [this] { OtherOption_Click(); });
    optionsLayout->addSpacing(8);
    Label2 = WrappedLabel(optionsPage, "Label2");
    optionsLayout->addWidget(Label2);
    DriveBox = NewControl<QComboBox>(optionsPage, "DriveBox");
    Label2->setBuddy(DriveBox);
    optionsLayout->addWidget(DriveBox);
    lblNoDevice = WrappedLabel(optionsPage, "lblNoDevice");
    optionsLayout->addWidget(lblNoDevice);
    optionsLayout->addStretch(1);
    pages_->addWidget(optionsPage);

    // The folder chooser.
    auto* folderPage = new QWidget;
    auto* folderLayout = new QVBoxLayout(folderPage);
    folderLayout->setContentsMargins(0, 0, 0, 0);
    Label3 = WrappedLabel(folderPage, "Label3");
    SetCaption(Label3, QStringLiteral("Choose the folder under which recovered files are saved:"));
    folderLayout->addWidget(Label3);
    DriveSelector = NewControl<QComboBox>(folderPage, "DriveSelector");
    Label3->setBuddy(DriveSelector);
    folderLayout->addWidget(DriveSelector);
    connect(DriveSelector, &QComboBox::activated, this, [this] { DriveSelector_Change(); });
    lstDir = NewControl<QTreeView>(folderPage, "lstDir");
    folders_ = new QFileSystemModel(this);
    folders_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    lstDir->setModel(folders_);
    // The folders are read in the background: the chosen one comes into
    // view once the folders above it are there.
    connect(folders_, &QFileSystemModel::directoryLoaded, this, [this] {
        QTimer::singleShot(0, lstDir, [this] {
            if (lstDir->currentIndex().isValid()) lstDir->scrollTo(lstDir->currentIndex(), QAbstractItemView::PositionAtCenter);
        });
    });
    for (int column = 1; column < folders_->columnCount(); ++column) lstDir->hideColumn(column);
    lstDir->setHeaderHidden(true);
    lstDir->setMinimumHeight(kFolderTreeHeight);
    folderLayout->addWidget(lstDir, 1);
    txtDrive = NewControl<QLineEdit>(folderPage, "txtDrive");
    txtDrive->hide();
    auto* folderButtons = new QHBoxLayout;
    folderButtons->addStretch(1);
    butDestOK = NewControl<QPushButton>(folderPage, "butDestOK");
    SetCaption(butDestOK, QStringLiteral("OK"));
    butDestCancel = NewControl<QPushButton>(folderPage, "butDestCancel");
    SetCaption(butDestCancel, QStringLiteral("Cancel"));
    folderButtons->addWidget(butDestOK);
    folderButtons->addWidget(butDestCancel);
    folderLayout->addLayout(folderButtons);
    connect(butDestOK, &QPushButton::clicked, this, [this] { butDestOK_Click(); });
    connect(butDestCancel, &QPushButton::clicked, this, [this] { butDestCancel_Click(); });
    pages_->addWidget(folderPage);

    // A tool at work.
    auto* progressPage = new QWidget;
    auto* progressLayout = new QVBoxLayout(progressPage);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    lblRunning = WrappedLabel(progressPage, "lblRunning");
    progressLayout->addWidget(lblRunning);
    lblRunningDevice = WrappedLabel(progressPage, "lblRunningDevice");
    progressLayout->addWidget(lblRunningDevice);
    prgTool = NewControl<QProgressBar>(progressPage, "prgTool");
    prgTool->setRange(0, 1000);
    prgTool->setTextVisible(false);
    progressLayout->addWidget(prgTool);
    lblProgress = NewControl<QLabel>(progressPage, "lblProgress");
    progressLayout->addWidget(lblProgress);
    auto* stopRow = new QHBoxLayout;
    stopRow->addStretch(1);
    cmdStop = NewControl<QPushButton>(progressPage, "cmdStop");
    SetCaption(cmdStop, QStringLiteral("Stop"));
    stopRow->addWidget(cmdStop);
    progressLayout->addLayout(stopRow);
    progressLayout->addStretch(1);
    connect(cmdStop, &QPushButton::clicked, this, [this] {
        stop_ = true;
        cmdStop->setEnabled(false); // heard: the tool stops before its next block
    });
    pages_->addWidget(progressPage);

    auto* buttons = new QHBoxLayout;
    Label18 = NewControl<QLabel>(this, "Label18");
    MakeLink(Label18, QString::fromLatin1(shell::WebSiteAddress),
             QString::fromStdString(shell::ShownAddress(shell::WebSiteAddress)));
    connect(Label18, &QLabel::linkActivated, this, [this] { Label18_Click(); });
    buttons->addWidget(Label18);
    buttons->addStretch(1);
    cmdGo = NewControl<QPushButton>(this, "cmdGo");
    SetCaption(cmdGo, QStringLiteral("Go"));
    cmdCancel = NewControl<QPushButton>(this, "cmdCancel");
    SetCaption(cmdCancel, QStringLiteral("Close"));
    buttons->addWidget(cmdGo);
    buttons->addWidget(cmdCancel);
    layout->addLayout(buttons);
    connect(cmdGo, &QPushButton::clicked, this, [this] { cmdGo_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });

    Language = NewControl<QLineEdit>(this, "Language");
    Language->hide();
}

void frmAdvTools::Form_Load() {
    RemoveCloseItem(this);
    LoadTexts();
    DriveBox->clear();
    for (QRadioButton* option : {optBackup, optRestore, optSecureErase}) Uncheck(options_, option);
    Label2->hide();
    DriveBox->hide();
    lblNoDevice->hide();
    pages_->setCurrentIndex(OptionsPage);
    // The tallest page sets the size; resizing snaps back to it.
    SetFixedDesignSize(this, kDesignWidth);
    SetToolWindow(this);
}

void frmAdvTools::LoadTexts() {
    const std::string language = shell::LanguageName();
    Language->setText(Q(language));
    const std::vector<std::string> section = shell::LoadSectionWithFallback(
        language, shell::AdvancedToolsSection.header, shell::AdvancedToolsSection.count);
    SetCaption(this, section, entry::Caption);
    SetCaption(Label1, section, entry::Label1);
    SetCaption(Label14, section, entry::Label14);
    SetCaption(XPFrame201, section, entry::XPFrame201);
    SetCaption(optBackup, section, entry::optBackup);
    SetCaption(optRestore, section, entry::optRestore);
    SetCaption(optSecureErase, section, entry::optSecureErase);
    SetCaption(cmdGo, section, entry::cmdGo);
    SetCaption(cmdCancel, section, entry::cmdCancel);
    SetCaption(optChangeDir, section, entry::optChangeDir);
    SetCaption(optCDDVD, section, entry::optCDDVD);
    SetCaption(Label6, section, entry::Label6);
    SetCaption(Label3, section, entry::Label3);
    SetCaption(butDestOK, section, entry::butDestOK);
    SetCaption(butDestCancel, section, entry::butDestCancel);
    // Stop says what Cancel says in the language of the window.
    SetCaption(cmdStop, section, entry::butDestCancel);
    texts_ = ToolsTextsFrom(section);
    DriveSelector->setAccessibleName(Label3->text());
    lstDir->setAccessibleName(Label3->text());
    shell::LoadAdvToolsMiscTexts(language);
}

ToolChoice frmAdvTools::Chosen() const {
    if (optBackup->isChecked()) return ToolChoice::Backup;
    if (optRestore->isChecked()) return ToolChoice::Restore;
    if (optSecureErase->isChecked()) return ToolChoice::SecureErase;
    if (optChangeDir->isChecked()) return ToolChoice::ChangeDir;
    if (optCDDVD->isChecked()) return ToolChoice::CDDVD;
    return ToolChoice::None;
}

void frmAdvTools::DeviceOption_Click() {
    DriveBox->clear();
    ListRemovableDrives();
    cmdGo->setFocus();
}

void frmAdvTools::OtherOption_Click() {
    Label2->hide();
    DriveBox->hide();
    lblNoDevice->hide();
    cmdGo->setEnabled(true);
    cmdGo->setFocus();
}

void frmAdvTools::ListRemovableDrives() {
    const DriveListing listing = tools::ListRemovableDrives();
    if (listing.noDrivesAtAll) platform::MsgBox(texts_.noDevice, platform::vbCritical, texts_.messageTitle);
    for (const DriveBoxItem& item : listing.items) DriveBox->addItem(Q(item.text), item.drive);
    if (listing.items.empty()) {
        DriveBox->hide();
        Label2->hide();
        cmdGo->setEnabled(false);
        SetCaption(lblNoDevice, Q(texts_.noDevice));
        lblNoDevice->show();
        return;
    }
    DriveBox->setCurrentIndex(0);
    DriveBox->show();
    cmdGo->setEnabled(true);
    lblNoDevice->hide();
    SetCaption(Label2, Q(DevicePrompt(Chosen(), texts_)));
    DriveBox->setAccessibleName(Label2->text());
    Label2->show();
}

void frmAdvTools::cmdGo_Click() {
    const ToolChoice choice = Chosen();
    switch (GoActionFor(choice)) {
    case GoAction::RunDeviceTool: RunTool(choice); break;
    case GoAction::ChangeDestination: ChangeDestination(); break;
    case GoAction::CloseForCDDVD: {
        // Nothing here reads a CD or DVD: say so, and back to the main menu.
        const shell::DesktopTexts words = shell::LoadDesktopTexts();
        platform::MsgBox(words(shell::desktop_text::CdRomRefused), platform::vbCritical,
                         words(shell::desktop_text::CdRomRefusedTitle));
        Unload(this);
        break;
    }
    case GoAction::AskForChoice:
        platform::MsgBox(texts_.chooseOption, platform::vbCritical, texts_.messageTitle);
        break;
    }
}

void frmAdvTools::RunTool(ToolChoice choice) {
    const engine::DriveNumber drive = DriveFromItem(DriveBox->currentText().toStdString());
    if (drive == 0) return;
    SetCaption(lblRunning, Q(ProgressHeading(choice)));
    SetCaption(lblRunningDevice, Q(DeviceLabel()) + " " + DriveBox->currentText());
    prgTool->setValue(0);
    prgTool->setAccessibleName(lblRunning->text());
    SetCaption(lblProgress, QString());
    stop_ = false;
    cmdStop->setEnabled(true);
    meter_.Start();
    ToolInputs inputs;
    inputs.stop = &stop_;
    inputs.progress = [this](std::uint64_t done, std::uint64_t total) { ShowProgress(done, total); };
    SetToolWindow(this);
    RunDeviceTool(choice, drive, inputs);
}

void frmAdvTools::ShowProgress(std::uint64_t done, std::uint64_t total) {
    if (!running_) return;
    if (pages_->currentIndex() != ProgressPage) {
        pages_->setCurrentIndex(ProgressPage);
        cmdStop->setFocus();
    }
    const TransferView view = meter_.Update(done, total);
    prgTool->setValue(view.permille);
    SetCaption(lblProgress, Q(view.text));
}

void frmAdvTools::StopTakingInput() {
    running_ = true;
    for (QWidget* control : std::initializer_list<QWidget*>{pages_->widget(OptionsPage), cmdGo, cmdCancel, Label18})
        control->setEnabled(false);
    setCursor(Qt::BusyCursor);
}

void frmAdvTools::TakeInputAgain() {
    running_ = false;
    pages_->setCurrentIndex(OptionsPage);
    for (QWidget* control : std::initializer_list<QWidget*>{pages_->widget(OptionsPage), cmdGo, cmdCancel, Label18})
        control->setEnabled(true);
    unsetCursor();
    cmdGo->setFocus();
}

void frmAdvTools::ChangeDestination() {
    pages_->setCurrentIndex(FolderPage);
    cmdGo->setEnabled(false); // the chooser has its own OK
    const std::string preset = shell::PresetFolder();
    txtDrive->setText(Q(preset));
    places_ = shell::FolderPlaces();
    DriveSelector->clear();
    for (const shell::FolderPlace& place : places_)
        DriveSelector->addItem(PlaceIcon(style(), place.kind), Q(place.path));
    DriveSelector->setCurrentIndex(static_cast<int>(shell::PlaceOf(preset, places_)));
    ShowFolder(Q(preset));
    lstDir->setFocus();
}

void frmAdvTools::ShowFolder(const QString& folder) {
    const QString place = DriveSelector->currentText();
    lstDir->setRootIndex(folders_->setRootPath(place));
    const QModelIndex index = folders_->index(folder);
    if (index.isValid() && folder != place) {
        for (QModelIndex above = index.parent(); above.isValid() && above != lstDir->rootIndex(); above = above.parent())
            lstDir->expand(above);
        lstDir->setCurrentIndex(index);
        lstDir->scrollTo(index, QAbstractItemView::PositionAtCenter);
    } else {
        lstDir->setCurrentIndex(QModelIndex());
    }
}

void frmAdvTools::DriveSelector_Change() { ShowFolder(DriveSelector->currentText()); }

QString frmAdvTools::lstDirPath() const {
    const QModelIndex current = lstDir->currentIndex();
    return current.isValid() ? folders_->filePath(current) : DriveSelector->currentText();
}

void frmAdvTools::butDestOK_Click() {
    const std::string text = shell::ChangeDestinationRoot(lstDirPath().toStdString(), texts_.folderChanged);
    platform::MsgBox(text, platform::vbInformation, texts_.folderChangedTitle);
    butDestCancel_Click();
}

void frmAdvTools::butDestCancel_Click() {
    pages_->setCurrentIndex(OptionsPage);
    cmdGo->setEnabled(true);
    Uncheck(options_, optChangeDir);
    optChangeDir->setFocus();
}

void frmAdvTools::cmdCancel_Click() { Unload(this); }

void frmAdvTools::Label18_Click() { shell::OpenAddressOrTell(shell::WebSiteAddress, windowTitle().toStdString()); }

void frmAdvTools::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted()) ShowForm("frmMainMenu");
}

void frmAdvTools::keyPressEvent(QKeyEvent* event) {
    // Enter presses the focused button, as in the program's other windows;
    // Escape stops a running tool and leaves the folder chooser unchanged.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled()) {
            button->animateClick();
            return;
        }
        if (pages_->currentIndex() == FolderPage) return butDestOK->animateClick();
    }
    if (event->key() == Qt::Key_Escape) {
        if (running_ && cmdStop->isVisible() && cmdStop->isEnabled()) return cmdStop->click();
        if (!running_ && pages_->currentIndex() == FolderPage) return butDestCancel->animateClick();
    }
    QWidget::keyPressEvent(event);
}

} // namespace tools

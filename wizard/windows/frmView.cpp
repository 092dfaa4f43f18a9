#include "wizard/windows/frmView.h"

#include <iterator>

#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/desktop/Forms.h"
#include "platform/desktop/WindowConventions.h"
#include "shell/DestinationFolder.h"
#include "shell/LanguageFile.h"
#include "shell/VendorLinks.h"
#include "shell/frmPasser.h"
#include "support/ProgramFolder.h"
#include "wizard/windows/ThumbnailPanel.h"

namespace wizard {

namespace {

using namespace platform::desktop;

constexpr int kDesignWidth = 800;
constexpr int kThumbnailColumns = 6;
constexpr int kThumbnailRows = 3;

FormRegistration registration("frmView", [] { return new frmView; });

std::string ProgramFolderForWindows() {
    const std::string& stored = shell::frmPasser().txtAppPath;
    return stored.empty() ? support::ProgramFolder() : stored;
}

QString FileNameText(const std::string& name) { return QFile::decodeName(QByteArray::fromStdString(name)); }

// A thumbnail's tool tip: its name, size and date, in the user's language.
QString FileToolTip(const ResultFile& file) {
    const QLocale locale;
    const QString size = locale.formattedDataSize(static_cast<qint64>(file.size), 2, QLocale::DataSizeTraditionalFormat);
    const QString date = locale.toString(QDateTime::fromSecsSinceEpoch(file.modified), QLocale::ShortFormat);
    return FileNameText(file.name) + QLatin1Char('\n') + size + QStringLiteral(" · ") + date;
}

// The viewer's texts 20 to 23: the sort list's caption and its orders.
constexpr int kSortCaption = 20;
constexpr ResultOrder kOrders[] = {ResultOrder::Name, ResultOrder::Date, ResultOrder::Size};

} // namespace

frmView::frmView() : QWidget(nullptr), AppFolder(ProgramFolderForWindows()) {
    setObjectName("frmView");
    BuildControls();
    RemoveCloseItem(this);
    LoadTexts();
    SetFixedDesignSize(this, kDesignWidth);
}

void frmView::SetAppFolder(const QString& folder) {
    AppFolder = folder.toStdString();
    ImgThumb->SetFallbackPicture(FileNameText(StockPicturePath(AppFolder, Picture::Unknown)));
}

void frmView::BuildControls() {
    Label2 = NewControl<QLabel>(this, "Label2");
    QFont heading = Label2->font();
    heading.setPointSizeF(heading.pointSizeF() * 1.4);
    heading.setBold(true);
    Label2->setFont(heading);
    lblInfo = NewControl<QLabel>(this, "lblInfo");
    lblInfo->setWordWrap(true);

    BuildChoices();
    BuildThumbnails();

    // Holds the destination root; not shown.
    EditDestPath = NewControl<QLineEdit>(this, "EditDestPath");
    EditDestPath->setReadOnly(true);
    EditDestPath->hide();

    butClose = NewControl<QPushButton>(this, "butClose");
    Timer1 = NewControl<QTimer>(this, "Timer1");
    Timer1->setInterval(StatusMilliseconds);

    Label18 = NewControl<QLabel>(this, "Label18");
    MakeLink(Label18, QString::fromLatin1(shell::WebSiteAddress),
             QString::fromStdString(shell::ShownAddress(shell::WebSiteAddress)));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Label18);
    buttons->addStretch();
    buttons->addWidget(butClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->addWidget(Label2);
    layout->addWidget(lblInfo);
    layout->addWidget(XPFrame201);
    layout->addWidget(lblStatus);
    layout->addWidget(ImgThumb, 0, Qt::AlignHCenter);
    layout->addLayout(buttons);

    setTabOrder(xpTurbo, xpDeep);
    setTabOrder(xpDeep, cboSort);
    setTabOrder(cboSort, ImgThumb);
    setTabOrder(ImgThumb, butClose);
    setTabOrder(butClose, Label18);

    OnChosen(xpTurbo, [this] { ChooseFolder(ResultFolder::TurboScan); });
    OnChosen(xpDeep, [this] { ChooseFolder(ResultFolder::DeepScan); });
    connect(cboSort, &QComboBox::currentIndexChanged, this, [this] { cboSort_Change(); });
    connect(ImgThumb, &ThumbnailPanel::ThumbnailClicked, this, [this](int index) { ImgThumb_Click(index); });
    connect(butClose, &QPushButton::clicked, this, [this] { butClose_Click(); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    connect(Label18, &QLabel::linkActivated, this, [this] { Label18_Click(); });
}

// The choice of folder and of order.
void frmView::BuildChoices() {
    XPFrame201 = NewControl<QGroupBox>(this, "XPFrame201");
    xpTurbo = NewControl<QRadioButton>(XPFrame201, "xpTurbo");
    xpDeep = NewControl<QRadioButton>(XPFrame201, "xpDeep");
    lblSort = NewControl<QLabel>(XPFrame201, "lblSort");
    cboSort = NewControl<QComboBox>(XPFrame201, "cboSort");
    for (int n = 0; n < 3; ++n) cboSort->addItem(QString());
    lblSort->setBuddy(cboSort);
    auto* options = new QHBoxLayout(XPFrame201);
    options->addWidget(xpTurbo);
    options->addSpacing(24);
    options->addWidget(xpDeep);
    options->addStretch();
    options->addWidget(lblSort);
    options->addWidget(cboSort);
}

// The status line over the thumbnails, and the thumbnails.
void frmView::BuildThumbnails() {
    lblStatus = NewControl<QLabel>(this, "lblStatus");
    lblStatus->setWordWrap(true);
    lblStatus->setMinimumHeight(2 * lblStatus->fontMetrics().lineSpacing());
    QSizePolicy keepRoom = lblStatus->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true); // the panel does not jump when it comes and goes
    lblStatus->setSizePolicy(keepRoom);
    lblStatus->hide();

    ImgThumb = NewControl<ThumbnailPanel>(this, "ImgThumb");
    ImgThumb->SetFallbackPicture(FileNameText(StockPicturePath(AppFolder, Picture::Unknown)));
    const int frame = 2 * ImgThumb->frameWidth();
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    ImgThumb->setFixedSize(kThumbnailColumns * ImgThumb->gridSize().width() + scrollBar + frame + 4,
                           kThumbnailRows * ImgThumb->gridSize().height() + frame + 4);
}

void frmView::LoadTexts() {
    // The design captions, for a program without language files.
    SetCaption(this, QStringLiteral("Recovered Files"));
    SetCaption(Label2, QStringLiteral("View Recovered Files"));
    SetCaption(lblInfo, QStringLiteral("Click a picture to open the file."));
    SetCaption(XPFrame201, QStringLiteral("Show the files of the"));
    SetCaption(xpTurbo, QStringLiteral("Turbo Scan"));
    SetCaption(xpDeep, QStringLiteral("Deep Scan"));
    SetCaption(butClose, QStringLiteral("Close"));
    SetCaption(lblSort, QStringLiteral("Sort by:"));
    const QString orders[] = {QStringLiteral("Name"), QStringLiteral("Date"), QStringLiteral("Size")};

    ViewerText = LoadViewerTexts(shell::LanguageName());
    const std::vector<std::string>& texts = ViewerText.Entries();
    SetCaption(this, texts, 1);
    SetCaption(lblInfo, texts, 2);
    SetCaption(Label2, texts, 3);
    SetCaption(XPFrame201, texts, 4);
    SetCaption(xpTurbo, texts, 5);
    SetCaption(xpDeep, texts, 6);
    SetCaption(butClose, texts, 7);
    SetCaption(lblSort, texts, kSortCaption);
    for (int n = 0; n < 3; ++n) cboSort->setItemText(n, EntryText(texts, kSortCaption + 1 + n, orders[n]));
    cboSort->setAccessibleName(lblSort->text());
    ImgThumb->setAccessibleName(Label2->text());
}

void frmView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (loaded_) return;
    loaded_ = true;
    // After the window is on screen, so that a message about the folder
    // has the window behind it.
    QTimer::singleShot(0, this, [this] { Form_Load(); });
}

void frmView::Form_Load() {
    FolderUnavailable = false;
    const ResultFolder first = InitialFolder(DestinationRoot());
    QRadioButton* option = first == ResultFolder::DeepScan ? xpDeep : xpTurbo;
    if (option->isChecked()) ChooseFolder(first);
    else option->setChecked(true); // which shows its folder
    ImgThumb->setFocus();
}

void frmView::ChooseFolder(ResultFolder folder) {
    ImgThumb->Clear();
    ThumbFiles.clear();
    Timer1->stop();
    lblStatus->hide();
    ShowFolder(folder);
}

void frmView::cboSort_Change() {
    const int index = cboSort->currentIndex();
    if (index < 0 || index >= static_cast<int>(std::size(kOrders))) return;
    order_ = kOrders[index];
    if (loaded_ && (xpTurbo->isChecked() || xpDeep->isChecked())) ChooseFolder(shown_);
}

std::string frmView::DestinationRoot() const {
    return destinationRoot_.empty() ? shell::ReadDestinationRoot() : destinationRoot_;
}

void frmView::ShowFolder(ResultFolder folder) {
    const std::string root = DestinationRoot();
    EditDestPath->setText(FileNameText(root));
    shown_ = folder;
    if (FolderUnavailable) return;
    const FolderToList listing = PrepareResultFolder(root, folder, FolderUnavailable, ViewerText);
    if (!listing.available) return;
    listedFolder_ = listing.folder;
    const std::vector<ResultFile> files = ListResultFiles(listedFolder_, order_);
    ImgThumb->setToolTip(FileNameText(listedFolder_));
    BuildThumbnails(files);
}

void frmView::BuildThumbnails(const std::vector<ResultFile>& files) {
    ThumbFiles.clear();
    for (const ResultFile& file : files) ThumbFiles.push_back(file.name);
    if (ThumbFiles.empty()) {
        SetCaption(lblStatus, QString::fromStdString(EmptyFolderStatus(ViewerText, shown_)));
        lblStatus->show();
        return;
    }
    SetCaption(lblStatus, QString::fromStdString(ViewerText(17)));
    lblStatus->show();
    Timer1->start();
    for (const ResultFile& file : files)
        ImgThumb->AddThumbnail(FileNameText(ThumbnailPicture(AppFolder, listedFolder_, file.name)), FileNameText(file.name),
                               FileToolTip(file));
}

void frmView::Timer1_Timer() {
    // The status says that thumbnails are being made: it goes once they are.
    if (ImgThumb->Loading()) return;
    Timer1->stop();
    lblStatus->hide();
}

void frmView::ImgThumb_Click(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= ThumbFiles.size()) return;
    OpenRecoveredFile(listedFolder_, ThumbFiles[static_cast<std::size_t>(index)], ViewerText);
}

void frmView::butClose_Click() {
    butClose->setEnabled(false);
    ShowForm("frmMainMenu");
    Unload(this);
}

void frmView::Label18_Click() { shell::OpenAddressOrTell(shell::WebSiteAddress, windowTitle().toStdString()); }

QWidget* ShowResultsViewer(const std::string& appFolder, const std::string& destinationRoot) {
    QWidget* window = LoadForm("frmView");
    if (!window) return nullptr;
    window->setProperty("AppFolder", QString::fromStdString(appFolder));
    window->setProperty("DestinationRoot", QString::fromStdString(destinationRoot));
    return ShowForm("frmView");
}

} // namespace wizard

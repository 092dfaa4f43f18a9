#include "shell/windows/frmMainMenu.h"

#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "platform/desktop/Forms.h"
#include "platform/desktop/WindowConventions.h"
#include "platform/ui.h"
#include "shell/VendorLinks.h"
#include "shell/windows/TitleBar.h"

namespace shell {

namespace {

using namespace platform::desktop;

constexpr int kDesignWidth = 560;

FormRegistration registration("frmMainMenu", [] { return new frmMainMenu; });

bool IsArrowKey(int key) { return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Left || key == Qt::Key_Right; }

} // namespace

frmMainMenu::frmMainMenu() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName("frmMainMenu");
    BuildControls();
    state_ = LoadMainMenu();
    LoadTexts();
    RemoveCloseItem(this);
    layout()->activate();
    SetFixedDesignSize(this, kDesignWidth);
    designSize_ = size();
}

void frmMainMenu::BuildControls() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(1, 1, 1, 1); // the window's border
    outer->setSpacing(0);
    titleBar_ = new TitleBar(this);
    outer->addWidget(titleBar_);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(18, 14, 18, 14);
    body->setSpacing(10);
    outer->addLayout(body);

    Label2 = NewControl<QLabel>(this, "Label2");
    QFont heading = Label2->font();
    heading.setPointSizeF(heading.pointSizeF() * 1.6);
    heading.setBold(true);
    Label2->setFont(heading);
    body->addWidget(Label2);

    lblInfo = NewControl<QLabel>(this, "lblInfo");
    lblInfo->setWordWrap(true);
    body->addWidget(lblInfo);

    XPFrame201 = NewControl<QGroupBox>(this, "XPFrame201");
    auto* frame = new QVBoxLayout(XPFrame201);
    frame->setSpacing(8);
    Label6 = NewControl<QLabel>(XPFrame201, "Label6");
    Label6->setWordWrap(true);
    frame->addWidget(Label6);

    options_ = new QButtonGroup(this);
    optRecover = NewControl<QRadioButton>(XPFrame201, "optRecover");
    optView = NewControl<QRadioButton>(XPFrame201, "optView");
    optAdvanced = NewControl<QRadioButton>(XPFrame201, "optAdvanced");
    optHelp = NewControl<QRadioButton>(XPFrame201, "optHelp");
    optUpdates = NewControl<QRadioButton>(XPFrame201, "optUpdates");
    int id = static_cast<int>(MenuOption::Recover);
    for (QRadioButton* option : {optRecover, optView, optAdvanced, optHelp, optUpdates}) {
        options_->addButton(option, id++);
        frame->addWidget(option);
        option->installEventFilter(this);
    }
    lblIntCon = NewControl<QLabel>(XPFrame201, "lblIntCon");
    lblIntCon->setWordWrap(true);
    lblIntCon->setIndent(24); // under the text of optUpdates
    QFont note = lblIntCon->font();
    note.setPointSizeF(note.pointSizeF() * 0.9);
    lblIntCon->setFont(note);
    frame->addWidget(lblIntCon);
    body->addWidget(XPFrame201);

    auto* buttons = new QHBoxLayout;
    Label11 = NewControl<QLabel>(this, "Label11");
    MakeLink(Label11, QString::fromLatin1(WebSiteAddress));
    connect(Label11, &QLabel::linkActivated, this, [this] { OpenInBrowser(WebSiteAddress); });
    buttons->addWidget(Label11);
    buttons->addStretch(1);
    butNext = NewControl<QPushButton>(this, "butNext");
    butClose = NewControl<QPushButton>(this, "butClose");
    for (QPushButton* button : {butNext, butClose}) {
        button->setAutoDefault(true); // Enter presses the focused button
        button->setMinimumWidth(100);
        buttons->addWidget(button);
    }
    body->addLayout(buttons);

    // Choosing an option, by whatever means, goes on to Next.
    for (QAbstractButton* option : options_->buttons())
        OnChosen(option, [this] {
            if (!arrowKeyMove_) butNext->setFocus(Qt::OtherFocusReason);
        });
    connect(butNext, &QPushButton::clicked, this, [this] { butNext_Click(); });
    connect(butClose, &QPushButton::clicked, this, [this] { butClose_Click(); });
    connect(titleBar_->aboutArea, &QAbstractButton::clicked, this, [this] { ShowAbout(); });
    connect(titleBar_->minimiseArea, &QAbstractButton::clicked, this, [this] { showMinimized(); });
    titleBar_->closeArea->setEnabled(false); // no close item: Close asks first
    setTabOrder(optUpdates, butNext);
    setTabOrder(butNext, butClose);
    setTabOrder(butClose, Label11);
}

void frmMainMenu::LoadTexts() {
    const MainMenuTexts& texts = state_.texts;
    auto caption = [&texts](int entry) { return QString::fromStdString(texts.Entry(entry)); };
    SetCaption(this, caption(1));
    titleBar_->SetCaption(caption(1));
    SetCaption(lblInfo, caption(2));
    SetCaption(Label2, caption(3));
    SetCaption(XPFrame201, caption(4));
    SetCaption(Label6, caption(5));
    SetCaption(optRecover, caption(6));
    SetCaption(optView, caption(7));
    SetCaption(optAdvanced, caption(8));
    SetCaption(optHelp, caption(9));
    SetCaption(butNext, caption(10));
    SetCaption(butClose, caption(11));
    SetCaption(lblIntCon, caption(23));
    SetCaption(optUpdates, caption(24)); // entry 22 is not used
    titleBar_->aboutArea->setAccessibleName(caption(9));
    titleBar_->aboutArea->setToolTip(caption(9));
    titleBar_->minimiseArea->setAccessibleName(tr("Minimise"));
    titleBar_->closeArea->setAccessibleName(caption(11));
}

MenuOption frmMainMenu::ChosenOption() const {
    const int id = options_->checkedId();
    return id < 0 ? MenuOption::None : static_cast<MenuOption>(id);
}

void frmMainMenu::ClearOption() {
    // An exclusive group keeps one option checked; let go of it for a moment.
    options_->setExclusive(false);
    if (QAbstractButton* checked = options_->checkedButton()) checked->setChecked(false);
    options_->setExclusive(true);
}

bool frmMainMenu::ShowOrExplain(const char* window) {
    if (!FormExists(window)) {
        ShowWindowMissingMessage(state_.texts, window);
        return false;
    }
    ShowForm(window);
    return true;
}

void frmMainMenu::butNext_Click() {
    const NextStep step = NextStepFor(ChosenOption());
    switch (step) {
    case NextStep::AskForOption: ShowNoOptionMessage(state_.texts); break;
    case NextStep::ShowWizard:
    case NextStep::ShowTools:
        if (ShowOrExplain(WindowFor(step))) {
            hide();
            ClearOption();
        }
        break;
    case NextStep::ShowViewer:
        if (ShowOrExplain(WindowFor(step))) Unload(this);
        break;
    case NextStep::ShowAbout: ShowAbout(); break;
    case NextStep::OpenDownloadPage: OpenInBrowser(DownloadPageAddress); break;
    }
}

void frmMainMenu::ShowAbout() {
    ClearOption();
    if (!ShowOrExplain(WindowFor(NextStep::ShowAbout))) return;
    // No input until the about window is unloaded.
    setEnabled(false);
    connect(FindForm(WindowFor(NextStep::ShowAbout)), &QObject::destroyed, this, [this] { setEnabled(true); });
}

void frmMainMenu::butClose_Click() {
    if (!ConfirmClose(state_.texts)) return;
    Unload(this);
    QApplication::quit();
}

void frmMainMenu::OpenInBrowser(const char* address) { OpenAddressOrTell(address, state_.texts.Message(3)); }

bool frmMainMenu::eventFilter(QObject* watched, QEvent* event) {
    // Arrow keys move through the options without leaving them; a click or
    // Space on an option goes on to Next.
    if (event->type() == QEvent::KeyPress && IsArrowKey(static_cast<QKeyEvent*>(event)->key())) {
        arrowKeyMove_ = true;
        const bool handled = watched->event(event);
        arrowKeyMove_ = false;
        return handled;
    }
    return QWidget::eventFilter(watched, event);
}

void frmMainMenu::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void frmMainMenu::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The keyboard starts at the options: the chosen one, or the first.
    QAbstractButton* checked = options_->checkedButton();
    (checked ? checked : optRecover)->setFocus(Qt::ActiveWindowFocusReason);
}

void frmMainMenu::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // A resize by any means (a window system may not honour the fixed size)
    // snaps back to the design size; minimising stays allowed.
    if (!designSize_.isEmpty() && windowState() == Qt::WindowNoState && size() != designSize_) resize(designSize_);
}

} // namespace shell

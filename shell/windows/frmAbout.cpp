#include "shell/windows/frmAbout.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "platform/desktop/Forms.h"
#include "platform/desktop/WindowConventions.h"
#include "platform/ui.h"
#include "shell/LanguageFile.h"
#include "shell/Startup.h"
#include "shell/VendorLinks.h"
#include "shell/frmPasser.h"
#include "support/ProgramFolder.h"

namespace shell {

namespace {

using namespace platform::desktop;

constexpr int kDesignWidth = 520;

FormRegistration registration("frmAbout", [] { return new frmAbout; });

// [HelpandSupport], entry by entry.
enum Entry {
    Caption = 1, Product, Description, VersionLabel, LibraryVersionLabel, SupportFrame, SupportIntro,
    MailHint, SupportNote, WebSiteLabel, WebSiteHint, QuestionsLabel, QuestionsHint, UpdatesLabel,
    UpdatesHint, Copyright, Licence, RecoveredNote, OkButton, LinkFailed,
};

// The window's design texts, for a program folder without language files.
const std::vector<std::string> kDesignTexts{
    "About Tranquo", "Tranquo",
    "Recovers lost and deleted photos, videos and sound files from memory cards, cameras and phones.",
    "Version", "Signature library (Typhex) version", "Help and Support",
    "If you need help, please write to our support team:", "Writes an e-mail to our support team",
    "Please tell us the version number and describe what happened.", "Our web site:",
    "Opens our web site in your browser", "Questions and answers:", "Opens the questions and answers in your browser",
    "Updates:", "Opens the download page in your browser", "Copyright \u00A9 Tranquo developers. All rights reserved.",
    "This program is protected by copyright law and is used under licence.",
    "Recovered files are saved on your computer, never on the card.", "OK",
    "The link could not be opened. Please open this address yourself:",
};

QLabel* WrappedLabel(QWidget* parent, const char* name) {
    auto* label = NewControl<QLabel>(parent, name);
    label->setWordWrap(true);
    return label;
}

} // namespace

frmAbout::frmAbout() : QWidget(nullptr, Qt::Window) {
    setObjectName("frmAbout");
    if (frmPasser().txtAppPath.empty()) frmPasser().txtAppPath = support::ProgramFolder();
    std::vector<std::string> texts =
        LoadSectionWithFallback(LanguageName(), HelpandSupportSection.header, HelpandSupportSection.count);
    if (texts.size() != static_cast<std::size_t>(HelpandSupportSection.count)) texts = kDesignTexts;
    auto text = [&texts](int entry) { return EntryText(texts, entry); };
    auto caption = [&texts](QWidget* control, int entry) { SetCaption(control, texts, entry); };
    const QString version = QString::fromStdString(VersionText()).section(' ', 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 14);
    layout->setSpacing(10);
    caption(this, Caption);

    auto* header = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(RenderSvg(":/shell/icon.svg", QSize(56, 56), devicePixelRatioF()));
    icon->setAlignment(Qt::AlignTop);
    header->addWidget(icon);
    auto* product = new QVBoxLayout;
    auto* lblProduct = NewControl<QLabel>(this, "lblProduct");
    caption(lblProduct, Product);
    QFont heading = lblProduct->font();
    heading.setPointSizeF(heading.pointSizeF() * 1.6);
    heading.setBold(true);
    lblProduct->setFont(heading);
    product->addWidget(lblProduct);
    auto* lblDescription = WrappedLabel(this, "lblDescription");
    caption(lblDescription, Description);
    product->addWidget(lblDescription);
    auto* lblVersion = NewControl<QLabel>(this, "lblVersion");
    SetCaption(lblVersion, text(VersionLabel) + ' ' + version);
    product->addWidget(lblVersion);
    auto* lblLibraryVersion = NewControl<QLabel>(this, "lblLibraryVersion");
    SetCaption(lblLibraryVersion, text(LibraryVersionLabel) + ' ' + version); // built with the program
    product->addWidget(lblLibraryVersion);
    product->addStretch(1);
    header->addLayout(product, 1);
    layout->addLayout(header);

    auto* fraSupport = NewControl<QGroupBox>(this, "fraSupport");
    caption(fraSupport, SupportFrame);
    auto* support = new QGridLayout(fraSupport);
    support->setColumnStretch(1, 1);
    auto* lblSupport = WrappedLabel(fraSupport, "lblSupport");
    caption(lblSupport, SupportIntro);
    support->addWidget(lblSupport, 0, 0, 1, 2);

    // A link: the address as its text, the entry as its hint.
    int row = 1;
    auto addLink = [&](const char* name, QLabel* label, const QString& address, const QString& target, int hint) {
        auto* link = NewControl<QLabel>(fraSupport, name);
        MakeLink(link, target, address);
        link->setAccessibleDescription(text(hint));
        link->setToolTip(text(hint));
        connect(link, &QLabel::linkActivated, this, [this, texts](const QString& href) {
            if (OpenAddress(href.toStdString().c_str())) return;
            platform::MsgBox(EntryText(texts, LinkFailed).toStdString() + "\r\n\r\n" + href.toStdString(),
                             platform::vbExclamation, EntryText(texts, Caption).toStdString());
        });
        if (label) {
            support->addWidget(label, row, 0);
            support->addWidget(link, row++, 1);
        } else {
            support->addWidget(link, row++, 0, 1, 2);
        }
    };
    addLink("lblMail", nullptr, SupportMailAddress, QStringLiteral("mailto:") + SupportMailAddress, MailHint);
    auto* lblSupportNote = WrappedLabel(fraSupport, "lblSupportNote");
    caption(lblSupportNote, SupportNote);
    support->addWidget(lblSupportNote, row++, 0, 1, 2);
    auto* lblWebSite = NewControl<QLabel>(fraSupport, "lblWebSite");
    caption(lblWebSite, WebSiteLabel);
    addLink("lblWebSiteLink", lblWebSite, WebSiteAddress, WebSiteAddress, WebSiteHint);
    auto* lblQuestions = NewControl<QLabel>(fraSupport, "lblQuestions");
    caption(lblQuestions, QuestionsLabel);
    addLink("lblQuestionsLink", lblQuestions, QuestionsPageAddress, QuestionsPageAddress, QuestionsHint);
    auto* lblUpdates = NewControl<QLabel>(fraSupport, "lblUpdates");
    caption(lblUpdates, UpdatesLabel);
    addLink("lblUpdatesLink", lblUpdates, DownloadPageAddress, DownloadPageAddress, UpdatesHint);
    layout->addWidget(fraSupport);

    for (auto [name, entry] : {std::pair{"lblCopyright", Copyright}, {"lblLicence", Licence},
                               {"lblRecoveredNote", RecoveredNote}}) {
        auto* label = WrappedLabel(this, name);
        caption(label, entry);
        layout->addWidget(label);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* butOK = NewControl<QPushButton>(this, "butOK");
    caption(butOK, OkButton);
    butOK->setAutoDefault(true);
    butOK->setDefault(true);
    butOK->setMinimumWidth(100);
    connect(butOK, &QPushButton::clicked, this, [this] { Unload(this); });
    buttons->addWidget(butOK);
    layout->addLayout(buttons);

    RemoveCloseItem(this);
    SetFixedDesignSize(this, kDesignWidth);
    butOK->setFocus();
}

void frmAbout::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) Unload(this);
    else QWidget::keyPressEvent(event);
}

} // namespace shell

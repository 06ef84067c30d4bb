#include "pages/FrmPages.h"

#include "engine/PathRules.h"
#include "platform/Controls.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

namespace tess {

FrmPages::FrmPages() {
    setObjectName(QStringLiteral("frmPages"));
    setWindowTitle(QStringLiteral("Tessavane: Make Download Pages"));
    setWindowFlags(Qt::Window);
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    setFont(classicFont());
    resize(twips(9600), twips(6600));

    lblPagesFolder = makeLabel(this, "lblPagesFolder", "Descriptors (.gcd) in Folder:");
    txtPagesFolder = named(new TextBox(this), "txtPagesFolder");
    lblPagesURL = makeLabel(this, "lblPagesURL", "Served at URL:");
    txtPagesURL = named(new TextBox(this), "txtPagesURL");
    lblPhone = makeLabel(this, "lblPhone", "Phone:");
    cboPhone = named(new QComboBox(this), "cboPhone");
    lblPagesTitle = makeLabel(this, "lblPagesTitle", "Title:");
    txtPagesTitle = named(new TextBox(this), "txtPagesTitle");
    txtPagesTitle->setPlaceholderText(QStringLiteral("Downloads"));
    cmndPreview = makeButton(this, "cmndPreview", "&Preview");
    cmndMakePages = makeButton(this, "cmndMakePages", "&Make Pages");
    lblPreview = makeLabel(this, "lblPreview", "XHTML page at the phone's screen size:");
    txtPreview = named(new QTextBrowser(this), "txtPreview");
    txtPreview->setOpenLinks(false);
    txtPreview->setFrameShape(QFrame::NoFrame);
    lblPagesSummary = makeLabel(this, "lblPagesSummary", "");
    lblPagesSummary->setWordWrap(true);
    lstPagesProblems = named(new QListWidget(this), "lstPagesProblems");
    lstPagesProblems->setWordWrap(true);

    const media::PhoneList list = media::loadPhones();
    phones_ = list.phones;
    for (const media::PhoneProfile& p : phones_)
        cboPhone->addItem(p.name().isEmpty() ? p.id : p.name(), p.id);
    const int def = cboPhone->findData(QLatin1String(media::kDefaultPhoneId));
    cboPhone->setCurrentIndex(def < 0 ? 0 : def);

    auto* grid = new QGridLayout(this);
    grid->addWidget(lblPagesFolder, 0, 0);
    grid->addWidget(txtPagesFolder, 0, 1);
    grid->addWidget(lblPagesURL, 1, 0);
    grid->addWidget(txtPagesURL, 1, 1);
    grid->addWidget(lblPhone, 2, 0);
    grid->addWidget(cboPhone, 2, 1);
    grid->addWidget(lblPagesTitle, 3, 0);
    grid->addWidget(txtPagesTitle, 3, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmndPreview);
    buttons->addWidget(cmndMakePages);
    grid->addLayout(buttons, 4, 0, 1, 2);
    auto* lower = new QHBoxLayout;
    auto* previewColumn = new QVBoxLayout;
    previewColumn->addWidget(lblPreview);
    previewColumn->addWidget(txtPreview, 0, Qt::AlignLeft | Qt::AlignTop);
    previewColumn->addStretch(1);
    lower->addLayout(previewColumn);
    auto* resultColumn = new QVBoxLayout;
    resultColumn->addWidget(lblPagesSummary);
    resultColumn->addWidget(lstPagesProblems, 1);
    lower->addLayout(resultColumn, 1);
    grid->addLayout(lower, 5, 0, 1, 2);
    grid->setRowStretch(5, 1);

    setTabOrder(txtPagesFolder, txtPagesURL);
    setTabOrder(txtPagesURL, cboPhone);
    setTabOrder(cboPhone, txtPagesTitle);
    setTabOrder(txtPagesTitle, cmndPreview);
    setTabOrder(cmndPreview, cmndMakePages);
    setTabOrder(cmndMakePages, txtPreview);
    setTabOrder(txtPreview, lstPagesProblems);

    connect(cmndPreview, &QPushButton::clicked, this, &FrmPages::cmndPreview_Click);
    connect(cmndMakePages, &QPushButton::clicked, this, &FrmPages::cmndMakePages_Click);
    connect(cboPhone, &QComboBox::currentIndexChanged, this, &FrmPages::cboPhone_Change);
    connect(txtPreview, &QTextBrowser::anchorClicked, this, &FrmPages::showPreviewPage);
    cboPhone_Change();
}

void FrmPages::Form_Load() {
    const Session& s = session();
    txtPagesFolder->setText(s.defaultSaveFolder);
    if (!s.defaultUrl.isEmpty())
        txtPagesURL->setText(autoUrlBaseOf(s.defaultUrl));
}

media::PagesOptions FrmPages::options() const {
    media::PagesOptions o;
    o.servedAt = txtPagesURL->text().trimmed();
    o.title = txtPagesTitle->text();
    const int i = cboPhone->currentIndex();
    if (i >= 0 && i < phones_.size())
        o.phone = phones_[i];
    return o;
}

void FrmPages::cboPhone_Change() {
    const media::PhoneProfile phone = options().phone;
    const QSize screen =
        phone.screen.isValid() && !phone.screen.isEmpty() ? phone.screen : QSize(128, 160);
    txtPreview->setFixedSize(screen);
    if (!txtPagesFolder->text().isEmpty())
        cmndPreview_Click();
}

void FrmPages::cmndPreview_Click() {
    QStringList problems;
    QString reason;
    const QList<media::PageItem> items =
        media::readPageItems(txtPagesFolder->text(), &problems, &reason);
    lstPagesProblems->clear();
    if (!reason.isEmpty()) {
        preview_ = {};
        txtPreview->clear();
        lblPagesSummary->setText(QStringLiteral("Cannot make pages: ") + reason);
        return;
    }
    preview_ = media::buildPages(items, options());
    lstPagesProblems->addItems(problems + preview_.problems);
    lblPagesSummary->setText(
        QStringLiteral("%1 descriptors would go on %2 WML decks (largest %3 of %4 bytes "
                       "compiled) and %5 XHTML pages (limit %6 bytes).")
            .arg(items.size())
            .arg(preview_.wml.size())
            .arg(std::max_element(
                     preview_.wml.cbegin(), preview_.wml.cend(),
                     [](const auto& a, const auto& b) { return a.measured < b.measured; })
                     ->measured)
            .arg(preview_.wmlLimit)
            .arg(preview_.xhtml.size())
            .arg(preview_.xhtmlLimit));
    showPreviewPage(QUrl(QStringLiteral("index.xhtml")));
}

// Next and Previous turn the preview's pages; a descriptor link stays put.
void FrmPages::showPreviewPage(const QUrl& link) {
    for (const media::PageFile& page : preview_.xhtml)
        if (page.fileName == link.toString()) {
            txtPreview->setHtml(QString::fromUtf8(page.bytes));
            return;
        }
}

void FrmPages::cmndMakePages_Click() {
    const media::PagesResult r = media::writePages(txtPagesFolder->text(), options());
    lstPagesProblems->clear();
    lstPagesProblems->addItems(r.problems);
    if (!r.ok) {
        lblPagesSummary->setText(QStringLiteral("No pages written: ") + r.reason);
        return;
    }
    // The preview shows the pages as written; the summary says what was written.
    cmndPreview_Click();
    lblPagesSummary->setText(QStringLiteral("%1 descriptors on %2 WML decks and %3 XHTML pages; "
                                            "phones open %4")
                                 .arg(r.items)
                                 .arg(r.wmlPages)
                                 .arg(r.xhtmlPages)
                                 .arg(r.entryUrl));
}

} // namespace tess

#include "net/FrmCheck.h"

#include "engine/PathRules.h"
#include "engine/ServerConfig.h"
#include "media/Inspect.h"
#include "platform/Controls.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

namespace tess {

QString FrmCheck::plainToolTip(const QString& text) {
    // A tool tip has no text format of its own and takes text that looks like
    // markup as rich text: what a server sent is escaped, white space kept.
    return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

namespace {

// The media bytes the check fetches are judged for the default profile, read afresh
// at each check.
net::CheckOptions withMediaJudged(net::CheckOptions options) {
    if (options.judgeMedia)
        return options;
    const std::optional<media::PhoneProfile> phone =
        media::loadPhones().resolve(QLatin1String(media::kDefaultPhoneId));
    const media::PhoneProfile p = phone ? *phone : media::builtInDefault();
    options.mediaHeadBytes = media::kInspectHeadBytes;
    options.judgeMedia = [p](const QByteArray& head, qint64 size, const QString& fileName,
                             const QString& type) {
        const media::Inspection r = media::inspectBytes(head, size, fileName, p, type);
        net::MediaVerdict v;
        v.summary = r.summary();
        for (const media::Finding& f : r.findings)
            v.findings.append({media::severityName(f.severity), f.what, f.fix});
        return v;
    };
    return options;
}

} // namespace

const QColor FrmCheck::OkColour(0, 128, 0);
const QColor FrmCheck::FailColour(192, 0, 0);

FrmCheck::FrmCheck() : checker_(new net::Checker({}, this)) {
    setObjectName(QStringLiteral("frmCheck"));
    setWindowTitle(QStringLiteral("Tessavane: Check on Server"));
    setWindowFlags(Qt::Window);
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    setFont(classicFont());
    resize(twips(10800), twips(7200));

    lblCheckFolder = makeLabel(this, "lblCheckFolder", "Descriptors (.gcd) in Folder:");
    txtCheckFolder = named(new TextBox(this), "txtCheckFolder");
    lblCheckURL = makeLabel(this, "lblCheckURL", "Served at URL (a folder, or one .gcd):");
    txtCheckURL = named(new TextBox(this), "txtCheckURL");
    cmndCheck = makeButton(this, "cmndCheck", "&Check");
    cmndCancel = makeButton(this, "cmndCancel", "C&ancel");
    cmndCancel->setEnabled(false);
    prgCheck = named(new QProgressBar(this), "prgCheck");
    prgCheck->setRange(0, 1);
    prgCheck->setValue(0);
    lstResults = named(new QListWidget(this), "lstResults");
    // Reason and fix are read in full, not cut at the edge.
    lstResults->setWordWrap(true);
    lstResults->setResizeMode(QListView::Adjust);
    lstResults->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lblCheckSummary = makeLabel(this, "lblCheckSummary", "");
    lblCheckSummary->setWordWrap(true);
    // It shows folder names and server texts: never taken as rich text.
    lblCheckSummary->setTextFormat(Qt::PlainText);
    lblServer = makeLabel(this, "lblServer", "Lines that serve every type right, for:");
    cboServer = named(new QComboBox(this), "cboServer");
    cboServer->addItems(webServerNames());
    txtServerLines = named(new QPlainTextEdit(this), "txtServerLines");
    txtServerLines->setReadOnly(true);
    txtServerLines->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtServerLines->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    cmndCopy = makeButton(this, "cmndCopy", "Cop&y");

    auto* grid = new QGridLayout(this);
    grid->addWidget(lblCheckFolder, 0, 0);
    grid->addWidget(txtCheckFolder, 0, 1);
    grid->addWidget(lblCheckURL, 1, 0);
    grid->addWidget(txtCheckURL, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(prgCheck, 1);
    buttons->addWidget(cmndCheck);
    buttons->addWidget(cmndCancel);
    grid->addLayout(buttons, 2, 0, 1, 2);
    grid->addWidget(lstResults, 3, 0, 1, 2);
    grid->addWidget(lblCheckSummary, 4, 0, 1, 2);
    auto* server = new QHBoxLayout;
    server->addWidget(lblServer);
    server->addWidget(cboServer);
    server->addStretch(1);
    server->addWidget(cmndCopy);
    grid->addLayout(server, 5, 0, 1, 2);
    grid->addWidget(txtServerLines, 6, 0, 1, 2);
    grid->setRowStretch(3, 3);
    grid->setRowStretch(6, 2);

    setTabOrder(txtCheckFolder, txtCheckURL);
    setTabOrder(txtCheckURL, cmndCheck);
    setTabOrder(cmndCheck, cmndCancel);
    setTabOrder(cmndCancel, lstResults);
    setTabOrder(lstResults, cboServer);
    setTabOrder(cboServer, cmndCopy);
    setTabOrder(cmndCopy, txtServerLines);

    connect(cmndCheck, &QPushButton::clicked, this, &FrmCheck::cmndCheck_Click);
    connect(cmndCancel, &QPushButton::clicked, this, &FrmCheck::cmndCancel_Click);
    connect(cmndCopy, &QPushButton::clicked, this, &FrmCheck::cmndCopy_Click);
    connect(txtCheckURL, &QLineEdit::returnPressed, this, &FrmCheck::cmndCheck_Click);
    connect(cboServer, &QComboBox::currentIndexChanged, this, &FrmCheck::cboServer_Change);
    // A server the user picks stays; until then the one that answered is shown.
    connect(cboServer, &QComboBox::activated, this, [this] { serverPicked_ = true; });
    cboServer_Change();
}

void FrmCheck::Form_Load() {
    // Where the descriptors were written, and the folder the default URL points at.
    const Session& s = session();
    txtCheckFolder->setText(s.defaultSaveFolder);
    if (!s.defaultUrl.isEmpty())
        txtCheckURL->setText(autoUrlBaseOf(s.defaultUrl));
}

void FrmCheck::Form_Unload() {
    checker_->cancel();
    Form<QWidget>::Form_Unload();
}

void FrmCheck::cboServer_Change() {
    const std::optional<WebServer> server = webServerNamed(cboServer->currentText());
    txtServerLines->setPlainText(server ? serverConfig(*server) : QString());
}

void FrmCheck::cmndCopy_Click() {
    QApplication::clipboard()->setText(txtServerLines->toPlainText());
}

void FrmCheck::cmndCheck_Click() {
    if (checker_->running())
        return;
    const QString text = txtCheckURL->text().trimmed();
    const QUrl url(text, QUrl::TolerantMode);
    QList<QUrl> urls;
    if (url.path().endsWith(QLatin1String(".gcd"), Qt::CaseInsensitive)) {
        urls.append(url);
    } else {
        QString error;
        urls = net::servedDescriptorUrls(txtCheckFolder->text(), url, &error);
        if (!error.isEmpty()) {
            lblCheckSummary->setText(QStringLiteral("Cannot check: ") + error + QLatin1Char('.'));
            return;
        }
        if (urls.isEmpty()) {
            lblCheckSummary->setText(QStringLiteral("No .gcd files in ") + txtCheckFolder->text() +
                                     QLatin1Char('.'));
            return;
        }
    }
    lstResults->clear();
    for (const QUrl& u : urls)
        lstResults->addItem(QStringLiteral("checking: ") + net::shownUrl(u));
    total_ = int(urls.size());
    passed_ = 0;
    checked_ = 0;
    prgCheck->setRange(0, total_);
    prgCheck->setValue(0);
    lblCheckSummary->setText(
        QStringLiteral("Checking ") + QString::number(total_) +
        (total_ == 1 ? QStringLiteral(" descriptor...") : QStringLiteral(" descriptors...")));
    cmndCheck->setEnabled(false);
    cmndCancel->setEnabled(true);

    delete checker_;
    checker_ = new net::Checker(withMediaJudged(options), this);
    connect(checker_, &net::Checker::resultReady, this, &FrmCheck::onResult);
    connect(checker_, &net::Checker::progress, prgCheck,
            [this](int done, int) { prgCheck->setValue(done); });
    connect(checker_, &net::Checker::finished, this, &FrmCheck::onFinished);
    checker_->start(urls);
}

void FrmCheck::cmndCancel_Click() {
    checker_->cancel();
}

void FrmCheck::onResult(int index, const net::CheckResult& result) {
    QListWidgetItem* item = lstResults->item(index);
    if (!item)
        return;
    ++checked_;
    if (result.downloads())
        ++passed_;
    item->setText(net::summaryLine(result));
    item->setForeground(result.downloads() && result.plays() ? OkColour : FailColour);
    item->setToolTip(plainToolTip(net::describe(result).join(QLatin1Char('\n'))));
    if (serverPicked_)
        return;
    for (const net::FetchInfo* f : {&result.media, &result.descriptor})
        if (const std::optional<WebServer> server = webServerFromHeader(f->server)) {
            for (int i = 0; i < cboServer->count(); ++i)
                if (webServerNamed(cboServer->itemText(i)) == server)
                    cboServer->setCurrentIndex(i);
            return;
        }
}

void FrmCheck::onFinished() {
    cmndCheck->setEnabled(true);
    cmndCancel->setEnabled(false);
    QString summary = QString::number(passed_) + QStringLiteral(" of ") + QString::number(total_) +
                      QStringLiteral(" would download.");
    if (checker_->cancelled()) {
        for (int i = 0; i < lstResults->count(); ++i) {
            QListWidgetItem* item = lstResults->item(i);
            if (item->text().startsWith(QLatin1String("checking: ")))
                item->setText(QStringLiteral("not checked: ") +
                              item->text().mid(int(qstrlen("checking: "))));
        }
        summary = QStringLiteral("Cancelled: ") + QString::number(checked_) +
                  QStringLiteral(" of ") + QString::number(total_) + QStringLiteral(" checked, ") +
                  QString::number(passed_) + QStringLiteral(" would download.");
    }
    lblCheckSummary->setText(summary);
}

} // namespace tess

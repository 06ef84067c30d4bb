#include "publish/FrmPublish.h"

#include "engine/AudioPaths.h"
#include "engine/PathRules.h"
#include "media/Sound.h"
#include "platform/Controls.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QMediaDevices>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace tess {

namespace {

// Hands the worker's news to the window's thread.
class WindowProgress : public media::PublishProgress {
public:
    void started(int item, const media::PlanItem&) override { started_(item); }
    void finished(int item, const media::PlanItem&, const media::ItemResult& r) override {
        finished_(item, r);
    }
    std::function<void(int)> started_;
    std::function<void(int, const media::ItemResult&)> finished_;
};

QString resultText(const media::ItemResult& r) {
    return r.ok ? QStringLiteral("done, %1 bytes").arg(r.bytes)
                : QStringLiteral("failed: ") + r.reason;
}

} // namespace

FrmPublish::FrmPublish() {
    setObjectName(QStringLiteral("frmPublish"));
    setWindowTitle(QStringLiteral("Tessavane: Publish Folder"));
    setWindowFlags(Qt::Window);
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    steps = media::defaultMediaSteps(AudioPaths::converterPath());

    lblSource = makeLabel(this, "lblSource", "&Source folder:");
    txtSource = named(new TextBox(this), "txtSource");
    cmndBrowseSource = makeButton(this, "cmndBrowseSource", "Browse...");
    lblWebDir = makeLabel(this, "lblWebDir", "&Web folder:");
    txtWebDir = named(new TextBox(this), "txtWebDir");
    cmndBrowseWebDir = makeButton(this, "cmndBrowseWebDir", "Browse...");
    lblBaseURL = makeLabel(this, "lblBaseURL", "Served at &URL:");
    txtBaseURL = named(new TextBox(this), "txtBaseURL");
    lblPhone = makeLabel(this, "lblPhone", "&Phone:");
    cboPhone = named(new QComboBox(this), "cboPhone");
    cmndPublish = makeButton(this, "cmndPublish", "&Publish");
    cmndCancel = makeButton(this, "cmndCancel", "&Cancel");
    cmndCancel->setEnabled(false);
    prgPublish = named(new QProgressBar(this), "prgPublish");
    prgPublish->setRange(0, 1);
    prgPublish->setValue(0);
    lstItems = named(new QTreeWidget(this), "lstItems");
    lstItems->setHeaderLabels({QStringLiteral("Source"), QStringLiteral("Web name"),
                               QStringLiteral("Findings"), QStringLiteral("Result"), QString()});
    lstItems->setRootIsDecorated(false);
    lstItems->setUniformRowHeights(false);
    lstItems->setWordWrap(true);
    lstItems->header()->setStretchLastSection(false);
    lstItems->header()->setSectionResizeMode(ColFindings, QHeaderView::Stretch);
    lblSummary = makeLabel(this, "lblSummary", "");
    lblSummary->setWordWrap(true);
    lblEntryURL = makeLabel(this, "lblEntryURL", "Phones &open:");
    txtEntryURL = named(new QLineEdit(this), "txtEntryURL");
    txtEntryURL->setReadOnly(true);
    cmndCopyURL = makeButton(this, "cmndCopyURL", "C&opy");
    cmndCopyURL->setEnabled(false);
    lblSource->setBuddy(txtSource);
    lblWebDir->setBuddy(txtWebDir);
    lblBaseURL->setBuddy(txtBaseURL);
    lblPhone->setBuddy(cboPhone);
    lblEntryURL->setBuddy(txtEntryURL);

    const media::PhoneList list = media::loadPhones();
    phones_ = list.phones;
    for (const media::PhoneProfile& p : phones_) {
        const QString name = p.name().isEmpty() ? p.id : p.name();
        const QString screen =
            p.screen.isEmpty()
                ? QString()
                : QStringLiteral(" (%1x%2)").arg(p.screen.width()).arg(p.screen.height());
        cboPhone->addItem(name + screen, p.id);
    }
    const int def = cboPhone->findData(QLatin1String(media::kDefaultPhoneId));
    cboPhone->setCurrentIndex(def < 0 ? 0 : def);

    auto* grid = new QGridLayout(this);
    grid->addWidget(lblSource, 0, 0);
    grid->addWidget(txtSource, 0, 1);
    grid->addWidget(cmndBrowseSource, 0, 2);
    grid->addWidget(lblWebDir, 1, 0);
    grid->addWidget(txtWebDir, 1, 1);
    grid->addWidget(cmndBrowseWebDir, 1, 2);
    grid->addWidget(lblBaseURL, 2, 0);
    grid->addWidget(txtBaseURL, 2, 1, 1, 2);
    grid->addWidget(lblPhone, 3, 0);
    grid->addWidget(cboPhone, 3, 1, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(prgPublish, 1);
    buttons->addWidget(cmndPublish);
    buttons->addWidget(cmndCancel);
    grid->addLayout(buttons, 4, 0, 1, 3);
    grid->addWidget(lstItems, 5, 0, 1, 3);
    grid->addWidget(lblSummary, 6, 0, 1, 3);
    auto* entry = new QHBoxLayout;
    entry->addWidget(lblEntryURL);
    entry->addWidget(txtEntryURL, 1);
    entry->addWidget(cmndCopyURL);
    grid->addLayout(entry, 7, 0, 1, 3);
    grid->setRowStretch(5, 1);
    grid->setColumnStretch(1, 1);
    resize(760, 520);

    setTabOrder(txtSource, cmndBrowseSource);
    setTabOrder(cmndBrowseSource, txtWebDir);
    setTabOrder(txtWebDir, cmndBrowseWebDir);
    setTabOrder(cmndBrowseWebDir, txtBaseURL);
    setTabOrder(txtBaseURL, cboPhone);
    setTabOrder(cboPhone, cmndPublish);
    setTabOrder(cmndPublish, cmndCancel);
    setTabOrder(cmndCancel, lstItems);
    setTabOrder(lstItems, txtEntryURL);
    setTabOrder(txtEntryURL, cmndCopyURL);

    connect(cmndPublish, &QPushButton::clicked, this, &FrmPublish::cmndPublish_Click);
    connect(cmndCancel, &QPushButton::clicked, this, &FrmPublish::cmndCancel_Click);
    connect(cmndCopyURL, &QPushButton::clicked, this, &FrmPublish::cmndCopyURL_Click);
    auto browse = [this](TextBox* box) {
        const QString dir = QFileDialog::getExistingDirectory(this, QString(), box->text());
        if (!dir.isEmpty())
            box->setText(dir);
    };
    connect(cmndBrowseSource, &QPushButton::clicked, this, [=] { browse(txtSource); });
    connect(cmndBrowseWebDir, &QPushButton::clicked, this, [=] { browse(txtWebDir); });
}

FrmPublish::~FrmPublish() {
    stopWorker();
}

void FrmPublish::Form_Load() {
    const Session& s = session();
    if (txtWebDir->text().isEmpty())
        txtWebDir->setText(s.defaultSaveFolder);
    if (txtBaseURL->text().isEmpty() && !s.defaultUrl.isEmpty())
        txtBaseURL->setText(autoUrlBaseOf(s.defaultUrl));
}

void FrmPublish::Form_Unload() {
    stopWorker();
    stopPlaying();
    Form<QWidget>::Form_Unload();
}

void FrmPublish::stopWorker() {
    if (!worker_)
        return;
    cancel_.store(true);
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
}

void FrmPublish::cmndPublish_Click() {
    if (worker_)
        return;
    const QUrl base(txtBaseURL->text().trimmed(), QUrl::StrictMode);
    if (txtSource->text().isEmpty() || txtWebDir->text().isEmpty() || !base.isValid() ||
        base.host().isEmpty() ||
        (base.scheme() != QLatin1String("http") && base.scheme() != QLatin1String("https"))) {
        lblSummary->setText(QStringLiteral("Give a source folder, a web folder and the http:// "
                                           "URL the web folder is served at."));
        return;
    }
    stopPlaying();
    media::PublishOptions o;
    o.source = txtSource->text();
    o.webDir = txtWebDir->text();
    o.baseUrl = autoUrlBaseOf(txtBaseURL->text().trimmed());
    const Session& s = session();
    o.vendor = s.defaultVendor;
    o.version = s.defaultVersion;
    o.blankLine = s.blankLine.trimmed() == QLatin1String("1");
    const int i = cboPhone->currentIndex();
    if (i >= 0 && i < phones_.size())
        o.phone = phones_[i];
    lstItems->clear();
    txtEntryURL->clear();
    cmndCopyURL->setEnabled(false);
    lblSummary->setText(QStringLiteral("Reading %1 ...").arg(o.source));
    prgPublish->setRange(0, 0);
    cmndPublish->setEnabled(false);
    cmndCancel->setEnabled(true);
    cancel_.store(false);
    done_ = 0;

    const media::MediaSteps stepsCopy = steps;
    worker_ = QThread::create([this, o, stepsCopy] {
        media::Plan plan = media::planPublish(o, stepsCopy);
        QMetaObject::invokeMethod(
            this, [this, plan] { onPlanned(plan); }, Qt::QueuedConnection);
        WindowProgress progress;
        progress.started_ = [this](int item) {
            QMetaObject::invokeMethod(
                this, [this, item] { onStarted(item); }, Qt::QueuedConnection);
        };
        progress.finished_ = [this](int item, const media::ItemResult& r) {
            QMetaObject::invokeMethod(
                this, [this, item, r] { onItemDone(item, r); }, Qt::QueuedConnection);
        };
        media::RunResult run = media::runPublish(plan, stepsCopy, &progress, &cancel_);
        const media::WriteResult written = media::writePublish(plan, run);
        QMetaObject::invokeMethod(
            this, [this, plan, run, written] { onFinished(plan, run, written); },
            Qt::QueuedConnection);
    });
    worker_->start();
}

void FrmPublish::cmndCancel_Click() {
    cancel_.store(true);
    cmndCancel->setEnabled(false);
    lblSummary->setText(QStringLiteral("Cancelling; the previous site stays as it was ..."));
}

void FrmPublish::cmndCopyURL_Click() {
    QApplication::clipboard()->setText(txtEntryURL->text());
}

void FrmPublish::onPlanned(const media::Plan& plan) {
    if (!plan.problem.isEmpty())
        return; // onFinished says why
    int toMake = 0;
    for (const media::PlanItem& item : plan.items) {
        auto* row = new QTreeWidgetItem(lstItems);
        row->setText(ColSource, item.source);
        row->setText(ColWebName, item.mediaFile);
        row->setText(ColFindings, item.findings.join(QLatin1Char('\n')));
        row->setToolTip(ColFindings, row->text(ColFindings));
        switch (item.action) {
        case media::Action::Make:
            ++toMake;
            row->setText(ColResult, QStringLiteral("waiting (%1)").arg(item.reason));
            break;
        case media::Action::Keep:
            row->setText(ColResult, QStringLiteral("unchanged"));
            break;
        case media::Action::Skip:
            row->setText(ColResult, QStringLiteral("skipped: ") + item.reason);
            row->setForeground(ColResult, palette().color(QPalette::Disabled, QPalette::Text));
            break;
        }
    }
    prgPublish->setRange(0, std::max(1, toMake));
    prgPublish->setValue(0);
    lblSummary->setText(
        QStringLiteral("%1 to make, %2 files in all.").arg(toMake).arg(plan.items.size()));
}

void FrmPublish::onStarted(int item) {
    if (QTreeWidgetItem* row = lstItems->topLevelItem(item))
        row->setText(ColResult, QStringLiteral("working ..."));
}

void FrmPublish::onItemDone(int item, const media::ItemResult& result) {
    prgPublish->setValue(++done_);
    if (QTreeWidgetItem* row = lstItems->topLevelItem(item))
        row->setText(ColResult, resultText(result));
}

void FrmPublish::onFinished(const media::Plan& plan, const media::RunResult& run,
                            const media::WriteResult& written) {
    if (worker_) {
        worker_->wait();
        delete worker_;
        worker_ = nullptr;
    }
    cmndPublish->setEnabled(true);
    cmndCancel->setEnabled(false);
    prgPublish->setRange(0, 1);
    prgPublish->setValue(run.cancelled || !written.ok ? 0 : 1);
    const media::PhoneProfile& phone = plan.options.phone;
    const QSize thumb = phone.screen.isEmpty() ? QSize(128, 160) : phone.screen;
    lstItems->setIconSize(thumb);
    for (int i = 0; i < plan.items.size() && i < lstItems->topLevelItemCount(); ++i) {
        const media::PlanItem& item = plan.items[i];
        QTreeWidgetItem* row = lstItems->topLevelItem(i);
        if (item.action == media::Action::Skip || run.cancelled)
            continue;
        const QString media = plan.options.webDir + QLatin1Char('/') + item.mediaFile;
        if (item.action == media::Action::Make && i < run.results.size())
            row->setText(ColResult, resultText(run.results[i]));
        if (!QFileInfo::exists(media))
            continue;
        if (item.kind == QLatin1String("picture")) {
            // At the phone's size, as the phone shows it.
            QImageReader reader(media);
            const QSize size = reader.size();
            if (size.isValid() && size.width() <= 4096 && size.height() <= 4096) {
                reader.setScaledSize(size.scaled(thumb, Qt::KeepAspectRatio).boundedTo(size));
                row->setIcon(ColSource, QIcon(QPixmap::fromImage(reader.read())));
            }
        } else if (item.outFormat == QLatin1String("qcp")) {
            auto* button = new QPushButton(QStringLiteral("Play"), lstItems);
            button->setObjectName(QStringLiteral("cmndPlay_") + item.stem);
            connect(button, &QPushButton::clicked, this, [=] { play(media, button); });
            lstItems->setItemWidget(row, ColPlay, button);
        }
    }
    lstItems->resizeColumnToContents(ColSource);
    lstItems->resizeColumnToContents(ColWebName);
    QStringList lines = written.problems;
    for (const QString& c : plan.clashes + plan.leftAlone)
        lines << c;
    if (run.cancelled) {
        lblSummary->setText(QStringLiteral("Cancelled: the previous site stays as it was."));
    } else if (!plan.problem.isEmpty()) {
        lblSummary->setText(QStringLiteral("Nothing published: ") + plan.problem);
    } else {
        lblSummary->setText(QStringLiteral("%1 made, %2 removed, %3 failed.%4")
                                .arg(plan.toMake() - run.failed)
                                .arg(written.removed)
                                .arg(run.failed)
                                .arg(lines.isEmpty()
                                         ? QString()
                                         : QLatin1Char('\n') + lines.join(QLatin1Char('\n'))));
        if (written.ok || run.failed > 0) {
            txtEntryURL->setText(written.entryUrl);
            cmndCopyURL->setEnabled(true);
        }
    }
    Q_EMIT publishFinished();
}

void FrmPublish::play(const QString& qcp, QPushButton* button) {
    if (sink_) {
        const bool same = playing_ == button;
        stopPlaying();
        if (same)
            return;
    }
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        lblSummary->setText(QStringLiteral("No sound device: cannot play."));
        return;
    }
    // Decoded by FFmpeg's QCELP decoder, as a phone would.
    const media::DecodedSound d = media::decodeTo8kMono(qcp, 60);
    if (!d.reason.isEmpty() || d.samples.empty()) {
        lblSummary->setText(QStringLiteral("Cannot play %1: %2").arg(qcp, d.reason));
        return;
    }
    QAudioFormat format;
    format.setSampleRate(8000);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    pcm_ = QByteArray(reinterpret_cast<const char*>(d.samples.data()),
                      qsizetype(d.samples.size() * sizeof(int16_t)));
    buffer_ = new QBuffer(&pcm_, this);
    buffer_->open(QIODevice::ReadOnly);
    sink_ = new QAudioSink(device, format, this);
    connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::IdleState || state == QAudio::StoppedState)
            QMetaObject::invokeMethod(this, &FrmPublish::stopPlaying, Qt::QueuedConnection);
    });
    sink_->start(buffer_);
    playing_ = button;
    button->setText(QStringLiteral("Stop"));
}

void FrmPublish::stopPlaying() {
    if (sink_) {
        sink_->disconnect(this);
        sink_->stop();
        sink_->deleteLater();
        sink_ = nullptr;
    }
    if (buffer_) {
        buffer_->deleteLater();
        buffer_ = nullptr;
    }
    if (playing_)
        playing_->setText(QStringLiteral("Play"));
    playing_ = nullptr;
}

} // namespace tess

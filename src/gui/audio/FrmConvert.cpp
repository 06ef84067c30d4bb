#include "audio/FrmConvert.h"

#include "audio/AudioConversion.h"
#include "engine/FileOps.h"
#include "platform/Controls.h"
#include "platform/FileDialog.h"
#include "shell/Form1.h"

#include "engine/AudioPaths.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaDevices>
#include <QPushButton>
#include <QTemporaryDir>

namespace tess {

FrmConvert::FrmConvert() {
    setObjectName(QStringLiteral("FrmConvert"));
    setWindowTitle(QStringLiteral("Tessavane: Audio Conversion"));
    setWindowFlags(Qt::Window);
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    setFont(classicFont());
    // A sizable window; the controls keep their places, as laid out, with the
    // ringtone panel below them.
    resize(twips(5400), twips(2430 + 1560));

    Frame1 = named(new QGroupBox(QStringLiteral("Convert WAV to QCP Audio File"), this), "Frame1");
    placeTwips(Frame1, 120, 60, 5160, 2250);

    Label1 = named(new QLabel(QStringLiteral("WAV File To Convert:"), Frame1), "Label1");
    placeTwips(Label1, 120, 300, 2415, 255);
    txtwav = named(new TextBox(Frame1), "txtwav");
    placeTwips(txtwav, 120, 540, 4455, 285);
    Command1 = makeButton(Frame1, "Command1", QStringLiteral(">"));
    placeTwips(Command1, 4680, 540, 285, 285);

    Label2 = named(
        new QLabel(QStringLiteral("The Wav File must be PCM 8000Hz,  16 Bit,   MONO!"), Frame1),
        "Label2");
    Label2->setFont(classicFont(true));
    placeTwips(Label2, 120, 900, 4875, 255);
    Label3 = named(new QLabel(QStringLiteral("WAV to QCP: A QCP file with the same name as the "
                                             "WAV file will be made and placed in the same "
                                             "directory as the WAV file."),
                              Frame1),
                   "Label3");
    Label3->setWordWrap(true);
    placeTwips(Label3, 120, 1200, 4875, 450);

    Command3 = makeButton(Frame1, "Command3", QStringLiteral("Cancel"));
    placeTwips(Command3, 2400, 1740, 1215, 375);
    Command2 = makeButton(Frame1, "Command2", QStringLiteral("Convert WAV"));
    placeTwips(Command2, 3780, 1740, 1215, 375);

    // The ringtone panel: what is done to a sound before it is encoded.
    grpRingtone = named(new QGroupBox(QStringLiteral("Ringtone"), this), "grpRingtone");
    placeTwips(grpRingtone, 120, 2370, 5160, 1500);
    auto* form = new QFormLayout(grpRingtone);
    const media::SoundOptions defaults;
    chkNormalize =
        named(new QCheckBox(QStringLiteral("Set the loudness for a phone speaker"), grpRingtone),
              "chkNormalize");
    chkNormalize->setChecked(defaults.normalize);
    form->addRow(chkNormalize);
    auto seconds = [&](const char* name, double value, double max) {
        auto* b = named(new QDoubleSpinBox(grpRingtone), name);
        b->setRange(0, max);
        b->setDecimals(1);
        b->setSuffix(QStringLiteral(" s"));
        b->setValue(value);
        return b;
    };
    spnStart = seconds("spnStart", defaults.startSeconds, 86400);
    spnMaxSeconds = seconds("spnMaxSeconds", defaults.maxSeconds, 3600);
    spnMaxSeconds->setSpecialValueText(QStringLiteral("all"));
    auto* row = new QHBoxLayout;
    row->addWidget(spnStart);
    row->addWidget(new QLabel(QStringLiteral("longest:"), grpRingtone));
    row->addWidget(spnMaxSeconds);
    form->addRow(QStringLiteral("Start at:"), row);
    auto* playRow = new QHBoxLayout;
    cmdPlay = makeButton(grpRingtone, "cmdPlay", QStringLiteral("Play"));
    lblPlay = named(new QLabel(grpRingtone), "lblPlay");
    lblPlay->setWordWrap(true);
    playRow->addWidget(cmdPlay);
    playRow->addWidget(lblPlay, 1);
    form->addRow(playRow);

    setTabOrder(txtwav, Command1);
    setTabOrder(Command1, Command3);
    setTabOrder(Command3, Command2);
    setTabOrder(Command2, chkNormalize);
    setTabOrder(chkNormalize, spnStart);
    setTabOrder(spnStart, spnMaxSeconds);
    setTabOrder(spnMaxSeconds, cmdPlay);
    setFocusProxy(txtwav);

    connect(Command1, &QPushButton::clicked, this, &FrmConvert::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &FrmConvert::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &FrmConvert::Command3_Click);
    connect(cmdPlay, &QPushButton::clicked, this, &FrmConvert::cmdPlay_Click);
}

FrmConvert::~FrmConvert() {
    stopPlaying();
}

media::SoundOptions FrmConvert::soundOptions() const {
    media::SoundOptions o;
    o.normalize = chkNormalize->isChecked();
    o.startSeconds = spnStart->value();
    o.maxSeconds = spnMaxSeconds->value();
    return o;
}

void FrmConvert::stopPlaying() {
    if (sink_) {
        sink_->stop();
        delete sink_;
        sink_ = nullptr;
    }
    delete buffer_;
    buffer_ = nullptr;
    cmdPlay->setText(QStringLiteral("Play"));
}

void FrmConvert::cmdPlay_Click() {
    if (sink_) {
        stopPlaying();
        lblPlay->setText(QStringLiteral("Stopped."));
        return;
    }
    const QString source = txtwav->text();
    if (!FileOps::fileExists(source)) {
        lblPlay->setText(QStringLiteral("Choose a sound file first."));
        return;
    }
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        lblPlay->setText(QStringLiteral("No sound device: cannot play."));
        return;
    }
    preview_ = std::make_unique<QTemporaryDir>();
    const QString qcp = preview_->filePath(QStringLiteral("preview.qcp"));
    const media::SoundResult r =
        media::makeRingtone(source, qcp, soundOptions(), AudioPaths::converterPath());
    if (!r.ok) {
        lblPlay->setText(QStringLiteral("Cannot play %1: %2").arg(source, r.reason));
        return;
    }
    // The QCP file decoded by FFmpeg's QCELP decoder, as a phone would.
    const media::DecodedSound d = media::decodeTo8kMono(qcp);
    preview_.reset();
    if (!d.reason.isEmpty() || d.samples.empty()) {
        lblPlay->setText(QStringLiteral("Cannot play the converted sound: %1").arg(d.reason));
        return;
    }
    QAudioFormat format;
    format.setSampleRate(8000);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) {
        lblPlay->setText(QStringLiteral("The sound device cannot play 8000 Hz mono."));
        return;
    }
    pcm_ = QByteArray(reinterpret_cast<const char*>(d.samples.data()),
                      static_cast<qsizetype>(d.samples.size() * sizeof(int16_t)));
    buffer_ = new QBuffer(&pcm_, this);
    buffer_->open(QIODevice::ReadOnly);
    sink_ = new QAudioSink(device, format, this);
    connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::IdleState || state == QAudio::StoppedState) {
            if (sink_ && sink_->error() != QAudio::NoError && state == QAudio::StoppedState)
                lblPlay->setText(QStringLiteral("The sound device failed."));
            else if (state == QAudio::IdleState)
                lblPlay->setText(QStringLiteral("Played."));
            QMetaObject::invokeMethod(this, &FrmConvert::stopPlaying, Qt::QueuedConnection);
        }
    });
    sink_->start(buffer_);
    cmdPlay->setText(QStringLiteral("Stop"));
    lblPlay->setText(
        QStringLiteral("Playing %1 s, %2 bytes as QCELP.").arg(r.seconds, 0, 'f', 1).arg(r.bytes));
}

void FrmConvert::Command1_Click() {
    const std::optional<QString> file = FileDialog::getOpenFileName(
        this, QStringLiteral("WAV (*.wav)|*.wav|All audio files|*.wav;*.mp3;*.m4a;*.aac;"
                             "*.mp4;*.ogg;*.oga;*.opus;*.flac;*.aif;*.aiff;*.aifc;*.wma;"
                             "*.caf;*.au;*.amr;*.ac3|"));
    if (!file)
        return;
    const QString path = QDir::toNativeSeparators(*file);
    Program::get().form1()->logTop(QStringLiteral("Selected File:") + path);
    txtwav->setText(path);
}

void FrmConvert::Command2_Click() {
    if (!FileOps::fileExists(txtwav->text()))
        return;
    AudioConversion::ConvertWavToQcp();
}

void FrmConvert::Command3_Click() {
    Program::get().unload(this);
}

} // namespace tess

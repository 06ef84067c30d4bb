#include "audio/FrmConvert.h"

#include "audio/AudioConversion.h"
#include "platform/Controls.h"
#include "platform/FileDialog.h"
#include "engine/FileOps.h"
#include "shell/Form1.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace tess {

FrmConvert::FrmConvert() {
    setObjectName(QStringLiteral("FrmConvert"));
    setWindowTitle(QStringLiteral("Tessavane: Audio Conversion"));
    setWindowFlags(Qt::Window);
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    setFont(classicFont());
    // A sizable window; the controls keep their places, as laid out.
    resize(twips(5400), twips(2430));

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

    setTabOrder(txtwav, Command1);
    setTabOrder(Command1, Command3);
    setTabOrder(Command3, Command2);
    setFocusProxy(txtwav);

    connect(Command1, &QPushButton::clicked, this, &FrmConvert::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &FrmConvert::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &FrmConvert::Command3_Click);
}

void FrmConvert::Command1_Click() {
    const std::optional<QString> file =
        FileDialog::getOpenFileName(this, QStringLiteral("WAV (*.wav)|*.wav|"));
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

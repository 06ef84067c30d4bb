#pragma once

#include "media/Sound.h"
#include "shell/Form.h"

#include <QWidget>
#include <memory>

class QAudioSink;
class QBuffer;
class QCheckBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTemporaryDir;

namespace tess {

class TextBox;

// "Tessavane: Audio Conversion": picks one WAV file and converts it to QCP beside it.
// No load-time code: every opening starts with an empty path box.
class FrmConvert : public Form<QWidget> {
    Q_OBJECT
public:
    FrmConvert();
    ~FrmConvert() override;

    void Command1_Click(); // ">": browse
    void Command2_Click(); // "Convert WAV"
    void Command3_Click(); // "Cancel"
    // "Play": converts the file with the panel's options into a private preview and
    // plays it decoded as a phone decodes it; pressed while playing, stops.
    void cmdPlay_Click();

    // The panel's choices.
    media::SoundOptions soundOptions() const;

    QGroupBox* Frame1;
    QLabel* Label1;
    TextBox* txtwav;
    QPushButton* Command1;
    QLabel* Label2;
    QLabel* Label3;
    QPushButton* Command3;
    QPushButton* Command2;

    // The ringtone panel below the frame.
    QGroupBox* grpRingtone;
    QCheckBox* chkNormalize;
    QDoubleSpinBox* spnStart;
    QDoubleSpinBox* spnMaxSeconds;
    QPushButton* cmdPlay;
    QLabel* lblPlay; // what Play did, or why it could not

private:
    void stopPlaying();
    std::unique_ptr<QTemporaryDir> preview_;
    QByteArray pcm_;
    QBuffer* buffer_ = nullptr;
    QAudioSink* sink_ = nullptr;
};

} // namespace tess

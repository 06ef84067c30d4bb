#pragma once

#include "media/Publish.h"
#include "shell/Form.h"

#include <QByteArray>
#include <QWidget>
#include <atomic>

class QAudioSink;
class QBuffer;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QThread;
class QTreeWidget;

namespace tess {

class TextBox;

// "Tessavane: Publish Folder": a folder of sounds and pictures in, a web folder a
// phone downloads from out. Plans, converts and writes on a worker thread; Cancel
// stops it within a second and the previous site stays as it was.
class FrmPublish : public Form<QWidget> {
    Q_OBJECT
public:
    FrmPublish();
    ~FrmPublish() override;

    void Form_Load() override;
    void cmndPublish_Click();
    void cmndCancel_Click();
    void cmndCopyURL_Click();
    bool busy() const { return worker_ != nullptr; }

    // The columns of lstItems.
    enum Column { ColSource, ColWebName, ColFindings, ColResult, ColPlay };

    QLabel* lblSource;
    TextBox* txtSource;
    QPushButton* cmndBrowseSource;
    QLabel* lblWebDir;
    TextBox* txtWebDir;
    QPushButton* cmndBrowseWebDir;
    QLabel* lblBaseURL;
    TextBox* txtBaseURL;
    QLabel* lblPhone;
    QComboBox* cboPhone;
    QPushButton* cmndPublish;
    QPushButton* cmndCancel;
    QProgressBar* prgPublish;
    QTreeWidget* lstItems;
    QLabel* lblSummary;
    QLabel* lblEntryURL;
    QLineEdit* txtEntryURL;
    QPushButton* cmndCopyURL;

    // The steps the worker drives; tests may swap them.
    media::MediaSteps steps;

Q_SIGNALS:
    void publishFinished();

protected:
    void Form_Unload() override;

private:
    void onPlanned(const media::Plan& plan);
    void onStarted(int item);
    void onItemDone(int item, const media::ItemResult& result);
    void onFinished(const media::Plan& plan, const media::RunResult& run,
                    const media::WriteResult& written);
    void play(const QString& qcp, QPushButton* button);
    void stopPlaying();
    void stopWorker();

    QList<media::PhoneProfile> phones_;
    QThread* worker_ = nullptr;
    std::atomic_bool cancel_{false};
    int done_ = 0;
    QAudioSink* sink_ = nullptr;
    QBuffer* buffer_ = nullptr;
    QByteArray pcm_;
    QPushButton* playing_ = nullptr;
};

} // namespace tess

#pragma once

#include "net/Checker.h"
#include "shell/Form.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace tess {

class TextBox;

// "Tessavane: Check on Server": fetches the descriptors of a folder (or one
// descriptor URL) as a phone would and lists, per descriptor, whether it would
// download and what to change when not. Offers the server lines to copy.
class FrmCheck : public Form<QWidget> {
    Q_OBJECT
public:
    FrmCheck();

    void Form_Load() override;
    void cmndCheck_Click();
    void cmndCancel_Click();
    void cmndCopy_Click();
    void cboServer_Change();

    // The check's settings (time-outs, parallel requests); tests shorten them.
    net::CheckOptions options;

    QLabel* lblCheckFolder;
    TextBox* txtCheckFolder;
    QLabel* lblCheckURL;
    TextBox* txtCheckURL;
    QPushButton* cmndCheck;
    QPushButton* cmndCancel;
    QProgressBar* prgCheck;
    QListWidget* lstResults;
    QLabel* lblCheckSummary;
    QLabel* lblServer;
    QComboBox* cboServer;
    QPlainTextEdit* txtServerLines;
    QPushButton* cmndCopy;

    static const QColor OkColour;
    static const QColor FailColour;
    // Text shown in a tool tip exactly as it is, markup or not.
    static QString plainToolTip(const QString& text);

protected:
    void Form_Unload() override;

private:
    void onResult(int index, const net::CheckResult& result);
    void onFinished();

    net::Checker* checker_;
    int total_ = 0;
    bool serverPicked_ = false; // the user chose a server in cboServer
    int passed_ = 0;
    int checked_ = 0;
};

} // namespace tess

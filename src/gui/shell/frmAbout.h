#pragma once

#include "shell/Form.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTimer;

namespace tess {

// The About window: title, version, credits and terms; it unrolls downwards
// when it opens and can start a system information program.
class frmAbout : public Form<QDialog> {
    Q_OBJECT
public:
    // Outer height of the window (title bar and borders included), in twips.
    static constexpr int FullHeightTwips = 5340;
    static constexpr int ClientHeightTwips = 4965;
    static constexpr int CollapsedHeightTwips = 20;

    frmAbout();

    void Form_Load() override;
    void tmrwin_Timer();
    void cmdOK_Click();
    void cmdSysInfo_Click();

    // Starts the system information program, or says it is unavailable.
    void StartSysInfo();
    // Reads one registry value as text into KeyVal; false (and KeyVal empty)
    // when the key or value cannot be read.
    static bool GetKeyValue(quint32 KeyRoot, const QString& KeyName, const QString& SubKeyRef,
                            QString& KeyVal);

    int heightTwips() const { return heightTwips_; }
    void setHeightTwips(int height);

    QTimer* tmrwin;
    QLabel* Image1;
    QLabel* lblVersion;
    QLabel* Label1;
    QLabel* lblDisclaimer;
    QLabel* lblDescription;
    QPushButton* cmdSysInfo;
    QPushButton* cmdOK;

protected:
    // Esc: the cancel button.
    void reject() override;

private:
    int heightTwips_ = FullHeightTwips;
};

} // namespace tess

#pragma once

#include "shell/Form.h"

#include <QMainWindow>
#include <QStringList>
#include <array>

class QAction;
class QButtonGroup;
class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QTimer;

namespace tess {

class CheckBox;
class OptionButton;
class PictureBox;
class TextBox;

// The main window: the four steps of one descriptor, the batch and WAV frames,
// the menu and the status log.
class Form1 : public Form<QMainWindow> {
    Q_OBJECT
public:
    Form1();

    void Form_Load() override;

    // Status log: new lines go on top; a few are appended at the bottom.
    void logTop(const QString& line);
    void logBottom(const QString& line);
    // A batch logs several lines per file while nothing is drawn: held lines go
    // into the list in one insertion when released, in the same order.
    void holdLog();
    void releaseLog();

    // Handlers, named after their control and event.
    void tmroptset_Timer();
    void txtURL_Change();
    void chkBlankline_Click();
    void cmndgcd_Click();
    // Step 1 for a chosen file: what the open dialog's answer starts.
    void openMediaFile(const QString& file);
    void mnugcd_Click();
    void opClick(int row); // op1_Click .. op6_Click
    void cmndMake_Click();
    void Cmndbrowse_Click();
    void CMNDURL_Click();
    void CMNDDefaults_Click();
    void CMNDBatch_Click();
    void dobatch_Click();
    void CMNDwav_Click();
    void mnuconv_Click();
    void mnuopt_Click();
    void Image1_Click();
    void mnuAbout_Click();
    void mnuCheck_Click();
    void mnuPages_Click();
    void mnuPublish_Click();
    void mnuexit_Click();

    // Controls.
    QGroupBox* F1;
    QPushButton* cmndgcd;
    QGroupBox* Frame2;
    QPushButton* CMNDBatch;
    QGroupBox* Frame1;
    QPushButton* CMNDwav;
    QGroupBox* F2;
    std::array<OptionButton*, 6> op;
    QButtonGroup* opGroup;
    QFrame* Line1;
    QGroupBox* F3;
    QLabel* lblsave;
    TextBox* txtsave;
    QPushButton* Cmndbrowse;
    QFrame* Line2;
    CheckBox* chkBlankline;
    QLabel* Label1;
    QLabel* lbltype;
    QLabel* Label2;
    TextBox* txtname;
    QLabel* Label3;
    TextBox* txtVersion;
    QLabel* Label4;
    TextBox* txtVendor;
    QLabel* Label5;
    TextBox* txtURL;
    QPushButton* CMNDURL;
    QLabel* Label6;
    QLabel* lblsize;
    QPushButton* CMNDDefaults;
    PictureBox* Image1;
    QGroupBox* F4;
    QPushButton* cmndmake;
    QListWidget* lblstat;
    QTimer* tmroptset;

    QAction* mnugcd;
    QAction* dobatch;
    QAction* mnuconv;
    QAction* mnudiv2;
    QAction* mnuopt;
    QAction* mnudiv1;
    QAction* mnuexit;
    QMenu* mnuTools;
    QAction* mnuCheck;
    QAction* mnuPages;
    QAction* mnuPublish;
    QAction* mnuAbout;

protected:
    void Form_Unload() override;

private:
    void buildMenu();

    bool holdingLog_ = false;
    QStringList heldTop_; // oldest first
    QStringList heldBottom_;
};

} // namespace tess

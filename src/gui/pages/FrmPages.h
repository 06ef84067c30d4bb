#pragma once

#include "media/Pages.h"
#include "shell/Form.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTextBrowser;
class QUrl;

namespace tess {

class TextBox;

// "Tessavane: Make Download Pages": writes the WML and XHTML pages that link every
// descriptor of a folder, and shows the XHTML page as large as the phone's screen.
class FrmPages : public Form<QWidget> {
    Q_OBJECT
public:
    FrmPages();

    void Form_Load() override;
    void cmndPreview_Click();
    void cmndMakePages_Click();
    void cboPhone_Change();

    QLabel* lblPagesFolder;
    TextBox* txtPagesFolder;
    QLabel* lblPagesURL;
    TextBox* txtPagesURL;
    QLabel* lblPhone;
    QComboBox* cboPhone;
    QLabel* lblPagesTitle;
    TextBox* txtPagesTitle;
    QPushButton* cmndPreview;
    QPushButton* cmndMakePages;
    QLabel* lblPreview;
    QTextBrowser* txtPreview;
    QLabel* lblPagesSummary;
    QListWidget* lstPagesProblems;

private:
    media::PagesOptions options() const;
    void showPreviewPage(const QUrl& link);

    QList<media::PhoneProfile> phones_;
    media::PageSet preview_;
};

} // namespace tess

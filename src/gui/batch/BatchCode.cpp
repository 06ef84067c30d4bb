#include "batch/BatchCode.h"

#include "batch/frmBatch.h"
#include "batch/frmBatchSet.h"
#include "core/AutoURLEngine.h"
#include "core/Steps.h"
#include "engine/Maker.h"
#include "platform/Controls.h"
#include "shell/Form1.h"

#include <QListWidget>
#include <QPointer>
#include <vector>

namespace tess::BatchCode {

namespace {

// The name and URL boxes are rewritten for every file, and a text box lays its
// text out at each write. Nothing is drawn until the run ends, so while it runs
// they keep their texts without showing them; the display comes back at the end.
class UnshownWhileRunning {
public:
    explicit UnshownWhileRunning(std::initializer_list<QLineEdit*> boxes) {
        for (QLineEdit* box : boxes) {
            if (box->echoMode() == QLineEdit::Normal) {
                box->setEchoMode(QLineEdit::NoEcho);
                boxes_.push_back(box);
            }
        }
    }
    ~UnshownWhileRunning() {
        for (const QPointer<QLineEdit>& box : boxes_)
            if (box)
                box->setEchoMode(QLineEdit::Normal);
    }
    UnshownWhileRunning(const UnshownWhileRunning&) = delete;
    UnshownWhileRunning& operator=(const UnshownWhileRunning&) = delete;

private:
    std::vector<QPointer<QLineEdit>> boxes_;
};

QString failureLine(const QString& entry, const QString& reason) {
    QString line = QStringLiteral("Could not process ") + entry + QStringLiteral(": ") + reason;
    if (!line.endsWith(QLatin1Char('.')))
        line += QLatin1Char('.');
    return line;
}

} // namespace

void RunBatch() {
    Program& p = Program::get();
    Form1* f = p.form1();
    frmBatchSet* settings = p.frmBatchSetWindow();
    QListWidget* list = p.frmBatchWindow()->listFiles;
    Session& s = session();

    f->txtsave->setText(settings->txtsave->text());
    f->txtVersion->setText(settings->txtVersion->text());
    f->txtVendor->setText(settings->txtVendor->text());
    // An ordinary write: a changed URL switches Auto URL ReNaming off.
    f->txtURL->setText(settings->txtURL->text());

    s.batchPosition = 0;
    s.batchCount = list->count();
    const UnshownWhileRunning quiet{f->txtname, f->txtURL};
    while (s.batchPosition < s.batchCount) {
        const QString entry = list->item(s.batchPosition)->text();
        s.selectedFilePath = entry;
        // One failing entry is logged; the others are still written.
        if (const std::optional<QString> problem = mediaNameProblem(entry)) {
            f->logTop(failureLine(entry, *problem));
            ++s.batchPosition;
            continue;
        }
        try {
            Steps::EnableStep2();
            Steps::EnableStep3();
            Steps::EnableStep4();
            Steps::FillFileAttributes();
            AutoURLEngine::ApplyAutoURL(false);
            Steps::MakeGcd();
        } catch (const StepError& e) {
            f->logTop(failureLine(entry, e.message));
        }
        ++s.batchPosition;
    }

    const QString hashes(47, QLatin1Char('#'));
    f->logBottom(QStringLiteral(" "));
    f->logTop(hashes);
    f->logTop(QStringLiteral("GCD Batch Run Complete.  ") + QString::number(s.batchCount) +
              QStringLiteral(" File(s) were processed."));
    f->logTop(hashes);
}

} // namespace tess::BatchCode

#include "batch/BatchCode.h"

#include "batch/frmBatch.h"
#include "batch/frmBatchSet.h"
#include "core/AutoURLEngine.h"
#include "core/Steps.h"
#include "platform/Controls.h"
#include "shell/Form1.h"

#include <QListWidget>

namespace tess::BatchCode {

namespace {

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
    while (s.batchPosition < s.batchCount) {
        const QString entry = list->item(s.batchPosition)->text();
        s.selectedFilePath = entry;
        // One failing entry is logged; the others are still written.
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

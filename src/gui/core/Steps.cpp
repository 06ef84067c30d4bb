#include "core/Steps.h"

#include "core/AutoURLEngine.h"
#include "engine/ContentTypes.h"
#include "engine/Descriptor.h"
#include "engine/FileOps.h"
#include "engine/PathRules.h"
#include "platform/Controls.h"
#include "shell/Form1.h"

#include <QGroupBox>
#include <QPushButton>

namespace tess::Steps {

namespace {

// A batch enables the same controls for every file: skip the ones already on.
void enable(QWidget* w) {
    if (!w->isEnabled())
        w->setEnabled(true);
}

} // namespace

void EnableStep2() {
    Form1* f = Program::get().form1();
    enable(f->F2);
    for (OptionButton* o : f->op)
        enable(o);
    const int row = contentTypeForPath(session().selectedFilePath);
    if (row < 0)
        return;
    // Selecting runs the option's click action, also when it was selected already,
    // so that every file's type line stands in the log.
    f->op[row]->setChecked(true);
    f->opClick(row);
}

void EnableStep3() {
    EnableStep4();
    Form1* f = Program::get().form1();
    enable(f->F3);
    for (QWidget* w : std::initializer_list<QWidget*>{f->Label1, f->Label2, f->Label3, f->Label4,
                                                      f->Label5, f->Label6, f->lbltype, f->txtname,
                                                      f->txtVersion, f->txtVendor, f->txtURL,
                                                      f->lblsize, f->lblsave, f->txtsave})
        enable(w);
}

void EnableStep4() {
    Form1* f = Program::get().form1();
    enable(f->F4);
    enable(f->cmndmake);
}

void FillFileAttributes() {
    Form1* f = Program::get().form1();
    Session& s = session();
    const std::optional<QString> name = fileNameOfPath(s.selectedFilePath);
    if (!name)
        throw StepError{QStringLiteral("the path names no file")};
    // The name box shows the full name only when it cannot be shortened; nothing
    // watches the box, so the shortened name is written once (a write lays the
    // text out again, which a batch pays per file).
    const std::optional<QString> contentName = contentNameOf(*name);
    if (!contentName) {
        f->txtname->setText(*name);
        throw StepError{QStringLiteral("the file name is shorter than four characters")};
    }
    f->txtname->setText(*contentName);
    f->logTop(QStringLiteral("Content-Name: ") + *name);
    s.selectedFileName = *name;
    AutoURLEngine::ApplyAutoURL(false);
    const std::optional<qint64> size = FileOps::fileSize(s.selectedFilePath);
    if (!size)
        throw StepError{QStringLiteral("the file does not exist")};
    const QString digits = QString::number(*size);
    f->lblsize->setText(digits);
    f->logBottom(QStringLiteral("File Size:") + digits);
}

void MakeGcd() {
    Form1* f = Program::get().form1();
    const QString path = descriptorPath(f->txtsave->text(), f->txtname->text());
    const DescriptorFields fields{f->lbltype->text(),   f->txtname->text(), f->txtVersion->text(),
                                  f->txtVendor->text(), f->txtURL->text(),  f->lblsize->text()};
    const FileResult written = writeDescriptor(path, fields, f->chkBlankline->value() == 1);
    if (!written)
        throw StepError{QStringLiteral("The GCD file could not be written to ") + path +
                        QStringLiteral(" (") + written.reason + QStringLiteral(").")};
    // The log keeps its lines; a replaced link is told on standard error.
    if (!written.notice.isEmpty())
        qWarning("%s: %s", qPrintable(path), qPrintable(written.notice));
    f->logTop(logSeparatorLine());
    f->logTop(QStringLiteral("GCD File Created at: ") + path);
    f->logTop(logSeparatorLine());
}

} // namespace tess::Steps

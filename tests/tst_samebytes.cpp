// The window's batch and tessavane-cli write the same descriptors, byte for byte.
#include "TestSupport.h"

#include "batch/frmBatch.h"
#include "batch/frmBatchSet.h"
#include "core/FrmGetURL.h"
#include "platform/Controls.h"

#include <QDir>
#include <QProcess>

using namespace tess;
using namespace tess::test;

class TestSameBytes : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windowAndCommandAgree_data();
    void windowAndCommandAgree();
};

namespace {

QMap<QString, QByteArray> folderBytes(const QString& path) {
    QMap<QString, QByteArray> files;
    for (const QString& name : QDir(path).entryList(QDir::Files | QDir::Hidden))
        files.insert(name, readFile(path + "/" + name));
    return files;
}

} // namespace

void TestSameBytes::windowAndCommandAgree_data() {
    QTest::addColumn<bool>("blank");
    QTest::addColumn<bool>("autoUrl");
    QTest::newRow("plain") << false << false;
    QTest::newRow("blank line") << true << false;
    QTest::newRow("auto URL") << false << true;
    QTest::newRow("blank line, auto URL") << true << true;
}

void TestSameBytes::windowAndCommandAgree() {
    QFETCH(bool, blank);
    QFETCH(bool, autoUrl);
    ProgramFixture fx;
    const QString media = fx.work.filePath("media");
    const QString byWindow = fx.work.filePath("window");
    const QString byCommand = fx.work.filePath("command");
    for (const QString& d : {media, byWindow, byCommand})
        QDir().mkpath(d);

    // Every key of the type table, and names a shell or a parser might trip on.
    QStringList corpus;
    const QStringList names{"ring.mid",        "long.midi",      "voice.qcp",      "game.cmx",
                            "logo.png",        "photo.jpg",      "photo2.jpeg",    "icon.wbmp",
                            "old.bmp",         "with space.mid", "Grüße ☎.qcp",    "-dash.png",
                            "$(rm -rf).cmx",   "quote\"'.jpg",   ".hidden.mid",    "semi;colon.mid",
                            "back\\slash.png", "tab\there.mid",  "percent%20.jpg", "x.mid.mid"};
    int size = 1;
    for (const QString& name : names) {
        corpus.append(writeFile(media + "/" + name, QByteArray(size, 'x')));
        size = size * 2 + 7;
    }

    Form1* f = fx.form1();
    f->show();
    f->txtsave->setText(byWindow);
    f->txtVersion->setText("2.1");
    f->txtVendor->setText("Acme Tönes");
    f->txtURL->setText(autoUrl ? "http://host/ringtones" : "http://host/get.cgi?id=1");
    if (autoUrl) {
        click(f->CMNDURL);
        click(Program::get().frmGetURL()->CMNDOK);
    }
    click(f->CMNDBatch);
    frmBatch* picker = Program::get().frmBatchWindow();
    for (const QString& file : corpus)
        picker->listFiles->addItem(file);
    picker->Command1->setEnabled(true);
    click(picker->Command1);
    frmBatchSet* settings = Program::get().frmBatchSetWindow();
    settings->chkBlankline->setValue(blank ? 1 : 0);
    click(settings->cmndRun);
    QCOMPARE(MessageBox::takeRecorded(), QStringList());

    QStringList args{
        "batch", "--save-folder", byCommand,    "--version",
        "2.1",   "--vendor",      "Acme Tönes", blank ? "--blank-line" : "--no-blank-line"};
    args += autoUrl ? QStringList{"--base-url", "http://host/ringtones"}
                    : QStringList{"--url", "http://host/get.cgi?id=1"};
    args += "--";
    args += corpus;
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", fx.work.path());
    env.insert("XDG_CONFIG_HOME", fx.work.filePath("config"));
    cli.setProcessEnvironment(env);
    cli.start(TESSAVANE_CLI, args);
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.readAllStandardError(), QByteArray());
    QCOMPARE(cli.exitCode(), 0);

    const QMap<QString, QByteArray> window = folderBytes(byWindow);
    QCOMPARE(window.size(), names.size());
    QCOMPARE(folderBytes(byCommand), window);
    QVERIFY(window.value("ring.gcd")
                .contains(autoUrl ? "http://host/ringtones/ring.mid" : "http://host/get.cgi?id=1"));
    QCOMPARE(window.value("ring.gcd").startsWith("\r\n"), blank);
}

QTEST_MAIN(TestSameBytes)
#include "tst_samebytes.moc"

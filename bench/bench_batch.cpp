// Times a batch run over N generated media files in the real windows, and
// tessavane-cli batch over the same folder, against a bare loop that writes the
// same N descriptors with plain POSIX calls.
//
//   bench_batch [-v] [-a] [-r ROUNDS] [--cli PATH] [--only run|bare|cli] [N ...]
//                                                        (3 rounds, N = 10000)
// --only times one side alone, for a profiler or strace to look at.
//
// Without --cli the command is looked for beside this program.
//
// Each round writes into fresh folders, the two sides taking turns to go first,
// since the file system's cost for creating files drifts as a disk fills and
// empties. For each N it prints the best time of each side over the rounds,
// their ratio, and the CPU seconds (user + system) of the best rounds. With -a the
// run has Auto URL ReNaming on, so every descriptor's URL is base + its file name.

#include "batch/frmBatch.h"
#include "batch/frmBatchSet.h"
#include "core/FrmGetURL.h"
#include "engine/AppInfo.h"
#include "platform/Controls.h"
#include "platform/DirList.h"
#include "platform/MessageBox.h"
#include "shell/Form1.h"
#include "shell/Program.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <sys/resource.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace tess;

namespace {

bool autoUrl = false;

struct Timing {
    double wall = 0;
    double user = 0;
    double sys = 0;
    long faults = 0; // minor page faults: memory the kernel had to hand out
};

double seconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// Wall and CPU time of one stretch of work.
class Stopwatch {
public:
    Stopwatch() {
        ::getrusage(RUSAGE_SELF, &start_);
        timer_.start();
    }
    Timing elapsed() const {
        rusage now{};
        ::getrusage(RUSAGE_SELF, &now);
        return {double(timer_.nsecsElapsed()) / 1e9,
                seconds(now.ru_utime) - seconds(start_.ru_utime),
                seconds(now.ru_stime) - seconds(start_.ru_stime), now.ru_minflt - start_.ru_minflt};
    }

private:
    rusage start_{};
    QElapsedTimer timer_;
};

const char* const kExtensions[] = {".mid", ".png", ".jpg", ".cmx"};
const char* const kTypes[] = {"audio/midi", "image/png", "image/jpeg", "application/x-pmd"};

std::string mediaName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "tone%06d%s", i, kExtensions[i % 4]);
    return name;
}

void makeMedia(const std::string& dir, int n) {
    for (int i = 0; i < n; ++i) {
        const std::string path = dir + "/" + mediaName(i);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            std::perror(path.c_str());
            std::exit(1);
        }
        const std::string body(100 + i % 900, 'x');
        if (::write(fd, body.data(), body.size()) != static_cast<ssize_t>(body.size()))
            std::exit(1);
        ::close(fd);
    }
}

// The same descriptors, written the way the program replaces a file: stat the
// media file, look at the old target (whose mode, owner and link a replace keeps),
// write a temporary file beside the target, rename it over the target.
Timing bareLoop(const std::string& mediaDir, const std::string& saveDir, int n) {
    const Stopwatch watch;
    for (int i = 0; i < n; ++i) {
        const std::string name = mediaName(i);
        struct stat st {};
        if (::stat((mediaDir + "/" + name).c_str(), &st) != 0)
            std::exit(1);
        const std::string stem = name.substr(0, name.size() - 4);
        std::string text = "Content-Type: ";
        text += kTypes[i % 4];
        text += "\r\nContent-Name: " + stem + "\r\nContent-Version: 1.0\r\nContent-Vendor: Bench" +
                "\r\nContent-URL: http://example.com/wap/" + (autoUrl ? name : std::string()) +
                "\r\nContent-Size: " + std::to_string(st.st_size) + "\r\n";
        const std::string target = saveDir + "/" + stem + ".gcd";
        struct stat old {};
        if (::lstat(target.c_str(), &old) == 0 && !S_ISREG(old.st_mode))
            std::exit(1);
        std::string tmp = saveDir + "/.tess-" + stem + ".gcd.XXXXXX";
        const int fd = ::mkstemp(tmp.data());
        if (fd < 0 || ::fchmod(fd, 0644) != 0 ||
            ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
            ::close(fd) != 0 || ::rename(tmp.c_str(), target.c_str()) != 0) {
            std::perror(target.c_str());
            std::exit(1);
        }
    }
    return watch.elapsed();
}

double lastRepaint = 0;

Timing batchRun(const QString& appDir, const QString& mediaDir, const QString& saveDir, int n) {
    AppInfo::setPathForTesting(appDir);
    Program program;
    Form1* f = program.form1();
    // First start without config.cfg: its message was answered, the options window
    // is not wanted here.
    MessageBox::takeRecorded();
    f->tmroptset->stop();
    f->show();
    f->txtVersion->setText(QStringLiteral("1.0"));
    f->txtVendor->setText(QStringLiteral("Bench"));
    f->txtURL->setText(QStringLiteral("http://example.com/wap/"));
    f->txtsave->setText(saveDir);
    if (autoUrl) {
        f->CMNDURL->click();
        program.frmGetURL()->CMNDOK->click();
    }

    f->CMNDBatch->click();
    frmBatch* picker = program.frmBatchWindow();
    picker->Dir1->setPath(mediaDir);
    picker->Command4->click(); // "DIR>"
    if (picker->listFiles->count() != n) {
        std::fprintf(stderr, "picker listed %d files, expected %d\n", picker->listFiles->count(),
                     n);
        std::exit(1);
    }
    picker->Command1->click(); // "Continue..."
    frmBatchSet* settings = program.frmBatchSetWindow();
    QCoreApplication::processEvents();

    const Stopwatch watch;
    settings->cmndRun->click(); // "Run Batch!"
    const Timing timing = watch.elapsed();

    const QString expected = QStringLiteral("GCD Batch Run Complete.  ") + QString::number(n) +
                             QStringLiteral(" File(s) were processed.");
    if (f->lblstat->item(1)->text() != expected) {
        std::fprintf(stderr, "summary missing\n");
        std::exit(1);
    }
    // The windows come back to life after the run: that wait counts for the user too.
    QElapsedTimer paint;
    paint.start();
    QCoreApplication::processEvents();
    lastRepaint = double(paint.nsecsElapsed()) / 1e9;
    return timing;
}

QString cliPath;
std::string only;
long cliMaxRssKb = 0;

// tessavane-cli batch --from the media folder, as a script would run it; its
// output goes nowhere. CPU time and peak memory are the child's.
Timing cliRun(const QString& configFile, const QString& mediaDir, const QString& saveDir) {
    QStringList args{QStringLiteral("batch"),
                     QStringLiteral("--config"),
                     configFile,
                     QStringLiteral("--save-folder"),
                     saveDir,
                     QStringLiteral("--version"),
                     QStringLiteral("1.0"),
                     QStringLiteral("--vendor"),
                     QStringLiteral("Bench"),
                     QStringLiteral("--no-blank-line"),
                     QStringLiteral("--from"),
                     mediaDir,
                     QStringLiteral("--pattern"),
                     QStringLiteral("*")};
    args +=
        autoUrl
            ? QStringList{QStringLiteral("--base-url"), QStringLiteral("http://example.com/wap/")}
            : QStringList{QStringLiteral("--url"), QStringLiteral("http://example.com/wap/")};
    rusage before{};
    ::getrusage(RUSAGE_CHILDREN, &before);
    // A child forked from this big process starts with its pages: GNU time, small
    // itself, tells the command's own peak.
    const QString peakFile = saveDir + QStringLiteral(".peak");
    const bool timed = QFile::exists(QStringLiteral("/usr/bin/time"));
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    if (timed)
        p.start(QStringLiteral("/usr/bin/time"),
                QStringList{QStringLiteral("-f"), QStringLiteral("%M"), QStringLiteral("-o"),
                            peakFile, cliPath} +
                    args);
    else
        p.start(cliPath, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "tessavane-cli failed: %s\n", p.readAllStandardError().constData());
        std::exit(1);
    }
    const double wall = double(timer.nsecsElapsed()) / 1e9;
    rusage after{};
    ::getrusage(RUSAGE_CHILDREN, &after);
    QFile peak(peakFile);
    const long kb = timed && peak.open(QIODevice::ReadOnly) ? peak.readAll().trimmed().toLong()
                                                            : after.ru_maxrss;
    cliMaxRssKb = std::max(cliMaxRssKb, kb);
    peak.remove();
    return {wall, seconds(after.ru_utime) - seconds(before.ru_utime),
            seconds(after.ru_stime) - seconds(before.ru_stime), after.ru_minflt - before.ru_minflt};
}

bool sameFiles(const QString& a, const QString& b, int n) {
    for (int i = 0; i < n; i += std::max(1, n / 50)) {
        const std::string name = mediaName(i);
        const QString gcd =
            QString::fromStdString(name.substr(0, name.size() - 4)) + QStringLiteral(".gcd");
        QFile fa(a + QLatin1Char('/') + gcd);
        QFile fb(b + QLatin1Char('/') + gcd);
        if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) ||
            fa.readAll() != fb.readAll())
            return false;
    }
    return QDir(a).entryList(QDir::Files).size() == n && QDir(b).entryList(QDir::Files).size() == n;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MessageBox::setRecording(true);

    int rounds = 3;
    bool verbose = false;
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "-v")
            verbose = true;
        else if (std::string(argv[i]) == "-a")
            autoUrl = true;
        else if (std::string(argv[i]) == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (std::string(argv[i]) == "--cli" && i + 1 < argc)
            cliPath = QString::fromLocal8Bit(argv[++i]);
        else if (std::string(argv[i]) == "-r" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty())
        sizes.push_back(10000);
    if (cliPath.isEmpty())
        cliPath = QCoreApplication::applicationDirPath() + QStringLiteral("/tessavane-cli");

    struct Result {
        int n;
        double run;
        double bare;
        double cli;
    };
    std::vector<Result> results;
    for (int n : sizes) {
        QTemporaryDir work;
        const QString mediaDir = work.filePath(QStringLiteral("media"));
        const QString appDir = work.filePath(QStringLiteral("app"));
        QDir().mkpath(mediaDir);
        QDir().mkpath(appDir);
        makeMedia(QFile::encodeName(mediaDir).toStdString(), n);
        const QString configFile = work.filePath(QStringLiteral("config.cfg"));
        {
            QFile cfg(configFile);
            if (!cfg.open(QIODevice::WriteOnly) || cfg.write("0\r\n/\r\n\r\n\r\n\r\n") < 0)
                return 1;
        }

        Timing bestRun{1e99, 0, 0};
        Timing bestBare{1e99, 0, 0};
        Timing bestCli{1e99, 0, 0};
        double repaint = 0;
        for (int round = 0; round < rounds; ++round) {
            const QString tag = QString::number(round);
            const QString runDir = work.filePath(QStringLiteral("web-run") + tag);
            const QString bareDir = work.filePath(QStringLiteral("web-bare") + tag);
            const QString cliDir = work.filePath(QStringLiteral("web-cli") + tag);
            QDir().mkpath(runDir);
            QDir().mkpath(bareDir);
            QDir().mkpath(cliDir);
            auto doRun = [&] {
                if (!only.empty() && only != "run")
                    return;
                const Timing t = batchRun(appDir, mediaDir, runDir, n);
                if (verbose)
                    std::printf("  round %d run  %.3f s\n", round, t.wall);
                if (t.wall < bestRun.wall) {
                    bestRun = t;
                    repaint = lastRepaint;
                }
            };
            auto doBare = [&] {
                if (!only.empty() && only != "bare")
                    return;
                const Timing t = bareLoop(QFile::encodeName(mediaDir).toStdString(),
                                          QFile::encodeName(bareDir).toStdString(), n);
                if (verbose)
                    std::printf("  round %d bare %.3f s\n", round, t.wall);
                if (t.wall < bestBare.wall)
                    bestBare = t;
            };
            auto doCli = [&] {
                if (!only.empty() && only != "cli")
                    return;
                const Timing t = cliRun(configFile, mediaDir, cliDir);
                if (verbose)
                    std::printf("  round %d cli  %.3f s\n", round, t.wall);
                if (t.wall < bestCli.wall)
                    bestCli = t;
            };
            if (round % 2 == 0) {
                doRun();
                doBare();
                doCli();
            } else {
                doCli();
                doBare();
                doRun();
            }
            if (only.empty() &&
                (!sameFiles(runDir, bareDir, n) || !sameFiles(cliDir, bareDir, n))) {
                std::fprintf(stderr, "the descriptors differ from the bare loop's\n");
                return 1;
            }
            QDir(runDir).removeRecursively();
            QDir(bareDir).removeRecursively();
            QDir(cliDir).removeRecursively();
        }
        std::printf("N = %d, best of %d rounds%s\n", n, rounds,
                    autoUrl ? ", Auto URL ReNaming on" : "");
        std::printf("  batch run: %7.3f s  (cpu user %.3f s, system %.3f s, %ld faults)\n",
                    bestRun.wall, bestRun.user, bestRun.sys, bestRun.faults);
        std::printf("  bare loop: %7.3f s  (cpu user %.3f s, system %.3f s, %ld faults)\n",
                    bestBare.wall, bestBare.user, bestBare.sys, bestBare.faults);
        std::printf("  cli batch: %7.3f s  (cpu user %.3f s, system %.3f s, peak %.1f MB)\n",
                    bestCli.wall, bestCli.user, bestCli.sys, double(cliMaxRssKb) / 1024);
        std::printf("  ratio:     %7.2f (window), %.2f (cli)\n", bestRun.wall / bestBare.wall,
                    bestCli.wall / bestBare.wall);
        std::printf("  repaint after the run: %.3f s\n", repaint);
        std::fflush(stdout);
        results.push_back({n, bestRun.wall, bestBare.wall, bestCli.wall});
    }
    // How the time grows with N, against the bare loop's own growth on this disk.
    for (std::size_t i = 1; i < results.size(); ++i)
        std::printf("N = %d against N = %d: batch run x%.1f, bare loop x%.1f\n", results[i].n,
                    results[0].n, results[i].run / results[0].run,
                    results[i].bare / results[0].bare);
    if (!MessageBox::takeRecorded().isEmpty()) {
        std::fprintf(stderr, "message boxes were shown\n");
        return 1;
    }
    return 0;
}

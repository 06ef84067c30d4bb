// Times writePages over N descriptors and sets our compiled-size estimate beside
// Kannel's WML compiler on every deck it wrote.
//
//   bench_pages [-r ROUNDS] [N]                      (5 rounds, N = 500)
//
// Prints the best and worst time of writing all pages, the time Kannel takes to
// compile the same decks (the rival: what a gateway spends on them), and per deck
// our measure against Kannel's output size.
#include "engine/Descriptor.h"
#include "media/Pages.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace tess;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int rounds = 5;
    if (args.size() >= 2 && args[0] == QLatin1String("-r")) {
        rounds = std::max(1, args[1].toInt());
        args = args.mid(2);
    }
    const int n = args.isEmpty() ? 500 : std::max(1, args[0].toInt());
    QTemporaryDir dir;
    for (int i = 0; i < n; ++i)
        writeDescriptor(dir.filePath(QStringLiteral("t%1.gcd").arg(i)),
                        {QStringLiteral("audio/vnd.qcelp"), QStringLiteral("Tone %1").arg(i),
                         QStringLiteral("1.0"), QStringLiteral("V"),
                         QStringLiteral("http://h/wap/t%1.qcp").arg(i),
                         QString::number(2000 + i * 37)},
                        false);
    media::PagesOptions options;
    options.servedAt = QStringLiteral("http://h/wap/");
    options.phone.markup = QStringLiteral("wml");
    options.phone.maxPageBytes = 1400;
    qint64 best = -1, worst = 0;
    media::PagesResult result;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        result = media::writePages(dir.path(), options);
        const qint64 us = t.nsecsElapsed() / 1000;
        best = best < 0 ? us : std::min(best, us);
        worst = std::max(worst, us);
    }
    if (!result.ok) {
        std::fprintf(stderr, "bench_pages: %s\n", qPrintable(result.reason));
        return 1;
    }
    // Our measure of each deck, in page order.
    QString reason;
    QStringList problems;
    const media::PageSet set =
        media::buildPages(media::readPageItems(dir.path(), &problems, &reason), options);
    qint64 ours = 0, theirs = 0, kannelUs = 0;
    double lo = 1e9, hi = 0;
    for (const media::PageFile& deck : set.wml) {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral("/usr/lib/kannel/test/wml_tester"),
                {QStringLiteral("-b"), dir.filePath(deck.fileName)});
        p.waitForFinished(30000);
        kannelUs += t.nsecsElapsed() / 1000;
        const qint64 k = p.readAllStandardOutput().size();
        ours += deck.measured;
        theirs += k;
        if (k > 0) {
            lo = std::min(lo, double(deck.measured) / double(k));
            hi = std::max(hi, double(deck.measured) / double(k));
        }
    }
    std::printf("%d descriptors: %d decks, %d XHTML pages; writePages best %.1f ms, worst %.1f ms "
                "over %d rounds\n",
                n, result.wmlPages, result.xhtmlPages, best / 1000.0, worst / 1000.0, rounds);
    std::printf("Kannel compiling the same decks: %.1f ms (one process a deck)\n",
                kannelUs / 1000.0);
    std::printf("compiled bytes: ours %lld, Kannel %lld; ours/Kannel per deck %.3f to %.3f\n",
                static_cast<long long>(ours), static_cast<long long>(theirs), lo, hi);
    return 0;
}

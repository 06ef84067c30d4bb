// Format 1 MIDI merged into format 0: the exact bytes of a known merge, and damaged
// files of every kind refused with a reason, never read past their end.
#include "media/MidiFormat0.h"

#include <QRandomGenerator>
#include <QTest>

using namespace tess::media;

namespace {

QByteArray be32(quint32 v) {
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}

QByteArray chunk(const char* id, const QByteArray& body) {
    return QByteArray(id, 4) + be32(quint32(body.size())) + body;
}

QByteArray smf(int format, const QList<QByteArray>& tracks, quint16 division = 96) {
    QByteArray head("\0\0\0\0\0\0", 6);
    head[1] = char(format);
    head[3] = char(tracks.size());
    head[4] = char(division >> 8);
    head[5] = char(division & 0xff);
    QByteArray out = chunk("MThd", head);
    for (const QByteArray& t : tracks)
        out += chunk("MTrk", t);
    return out;
}

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

} // namespace

class TestMidi : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void mergesTracksInTimeOrder();
    void refusesDamagedFiles();
    void survivesMangledFiles();
};

void TestMidi::mergesTracksInTimeOrder() {
    // Tempo map; a melody with running status and a delta of two VLQ bytes; a program
    // change in between, and a chunk of an unknown kind, which is skipped.
    const QByteArray tempo = hex("00ff510307a120"
                                 "00ff580404021808"
                                 "00ff2f00");
    const QByteArray melody = hex("00903c40"
                                  "60"
                                  "3c00"
                                  "00"
                                  "3e40"
                                  "8140"
                                  "3e00"
                                  "00ff2f00");
    const QByteArray program = hex("30c105"
                                   "00ff2f00");
    QByteArray file = smf(1, {tempo, melody});
    file += chunk("XFIH", "junk");
    file += chunk("MTrk", program);
    const MidiResult r = midiToFormat0(file);
    QVERIFY2(r.ok, qPrintable(r.reason));
    QCOMPARE(r.tracks, 3);
    const QByteArray expected =
        hex("4d546864000000060000000100604d54726b") + be32(0) + // the track's length, set below
        hex("00ff510307a120"
            "00ff580404021808"
            "00903c40"
            "30c105"   // tick 48, track 3
            "30903c00" // tick 96: status again, the program change came between
            "003e40"   // running status
            "81403e00" // tick 288
            "00ff2f00");
    QByteArray want = expected;
    const QByteArray body = want.mid(22);
    want.replace(18, 4, be32(quint32(body.size())));
    QCOMPARE(r.bytes.toHex(), want.toHex());
    // Merging a format 0 file gives the same file back.
    const MidiResult again = midiToFormat0(r.bytes);
    QVERIFY(again.ok);
    QCOMPARE(again.bytes, r.bytes);
    // SMPTE timing is kept as it is.
    const MidiResult smpte = midiToFormat0(smf(1, {tempo}, 0xe728));
    QVERIFY(smpte.ok);
    QCOMPARE(smpte.bytes.mid(12, 2), hex("e728"));
}

void TestMidi::refusesDamagedFiles() {
    const QByteArray end = hex("00ff2f00");
    const struct {
        const char* what;
        QByteArray file;
        const char* reason;
    } cases[] = {
        {"not MIDI", "RIFF....WAVE", "no MThd header"},
        {"header longer than the file", hex("4d546864ffffff00000100010060"), "a header length"},
        {"track longer than the file", smf(1, {end}).left(24), "longer than the file"},
        {"delta of five bytes", smf(1, {hex("8080808000903c40") + end}), "inside a delta time"},
        {"data before any status", smf(1, {hex("003c40") + end}), "data without a status byte"},
        {"note cut short", smf(1, {hex("00903c")}), "ends inside an event"},
        {"meta longer than its track", smf(1, {hex("00ff0320616263")}), "meta event longer"},
        {"sysex longer than its track", smf(1, {hex("00f0057e7f")}), "system exclusive"},
        {"data byte above 127", smf(1, {hex("00903cff") + end}), "above 127"},
        {"realtime status in a file", smf(1, {hex("00f8") + end}), "has no place"},
        {"no track", smf(1, {}), "no track"},
        {"separate songs", smf(2, {end, end}), "format 2"},
    };
    for (const auto& c : cases) {
        const MidiResult r = midiToFormat0(c.file);
        QVERIFY2(!r.ok, c.what);
        QVERIFY2(r.reason.contains(QLatin1String(c.reason)),
                 qPrintable(c.what + (": " + r.reason)));
        QVERIFY(r.bytes.isEmpty());
    }
    QVERIFY(!midiToFormat0(QByteArray(kMaxMidiBytes + 1, 'M')).ok);
}

void TestMidi::survivesMangledFiles() {
    // Every cut and many flipped bytes of a real merge: each gives a file or a reason.
    const QByteArray good =
        smf(1, {hex("00ff510307a12000ff2f00"), hex("00903c40603c00003e4081403e00c0f0037e0102"
                                                   "00ff2f00")});
    for (int n = 0; n < good.size(); ++n) {
        const MidiResult r = midiToFormat0(good.left(n));
        QVERIFY2(r.ok == r.reason.isEmpty(), qPrintable(QString::number(n)));
    }
    QRandomGenerator random(7);
    for (int i = 0; i < 3000; ++i) {
        QByteArray bad = good;
        for (int k = 0; k < 3; ++k)
            bad[random.bounded(int(bad.size()))] = char(random.bounded(256));
        const MidiResult r = midiToFormat0(bad);
        QVERIFY(r.ok == r.reason.isEmpty());
        if (r.ok)
            QVERIFY(midiToFormat0(r.bytes).ok); // what it writes, it reads back
    }
}

QTEST_GUILESS_MAIN(TestMidi)
#include "tst_midi.moc"

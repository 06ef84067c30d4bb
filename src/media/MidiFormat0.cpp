#include "media/MidiFormat0.h"

#include <QtEndian>
#include <algorithm>
#include <vector>

namespace tess::media {

namespace {

quint32 be32(const QByteArray& b, qsizetype at) {
    return qFromBigEndian<quint32>(b.constData() + at);
}

quint16 be16(const QByteArray& b, qsizetype at) {
    return qFromBigEndian<quint16>(b.constData() + at);
}

struct Event {
    quint64 tick;
    int track;
    int order;      // within its track
    QByteArray raw; // status byte and data, running status undone
};

// A variable-length quantity of at most four bytes, as the format allows.
bool readVlq(const QByteArray& b, qsizetype end, qsizetype* at, quint32* out) {
    quint32 v = 0;
    for (int i = 0; i < 4; ++i) {
        if (*at >= end)
            return false;
        const quint8 c = quint8(b[(*at)++]);
        v = (v << 7) | (c & 0x7f);
        if (!(c & 0x80)) {
            *out = v;
            return true;
        }
    }
    return false;
}

void writeVlq(QByteArray* out, quint32 v) {
    char buf[5];
    int n = 0;
    buf[n++] = char(v & 0x7f);
    while (v >>= 7)
        buf[n++] = char(0x80 | (v & 0x7f));
    while (n > 0)
        out->append(buf[--n]);
}

int dataBytes(quint8 status) {
    const quint8 kind = status & 0xf0;
    return kind == 0xc0 || kind == 0xd0 ? 1 : 2;
}

// Reads one track's events into out; the end-of-track event is left out (one is
// written at the end of the merge), its tick kept in *end.
QString readTrack(const QByteArray& b, qsizetype at, qsizetype stop, int track,
                  std::vector<Event>* out, quint64* endTick) {
    quint64 tick = 0;
    quint8 running = 0;
    int order = 0;
    while (at < stop) {
        quint32 delta = 0;
        if (!readVlq(b, stop, &at, &delta))
            return QStringLiteral("track %1 ends inside a delta time").arg(track + 1);
        tick += delta;
        if (at >= stop)
            return QStringLiteral("track %1 ends after a delta time").arg(track + 1);
        quint8 status = quint8(b[at]);
        Event e{tick, track, order++, {}};
        if (status == 0xff) { // meta event: type, length, data
            if (at + 2 > stop)
                return QStringLiteral("track %1 ends inside a meta event").arg(track + 1);
            const quint8 type = quint8(b[at + 1]);
            qsizetype p = at + 2;
            quint32 len = 0;
            if (!readVlq(b, stop, &p, &len) || len > quint32(stop - p))
                return QStringLiteral("track %1: a meta event longer than its track")
                    .arg(track + 1);
            running = 0;
            if (type == 0x2f) { // end of track
                *endTick = std::max(*endTick, tick);
                return {};
            }
            e.raw = b.mid(at, p + len - at);
            at = p + len;
        } else if (status == 0xf0 || status == 0xf7) { // sysex: length, data
            qsizetype p = at + 1;
            quint32 len = 0;
            if (!readVlq(b, stop, &p, &len) || len > quint32(stop - p))
                return QStringLiteral("track %1: a system exclusive event longer than its "
                                      "track")
                    .arg(track + 1);
            running = 0;
            e.raw = b.mid(at, p + len - at);
            at = p + len;
        } else if (status >= 0xf1) {
            return QStringLiteral("track %1: status byte 0x%2 has no place in a file")
                .arg(track + 1)
                .arg(status, 2, 16, QLatin1Char('0'));
        } else {
            qsizetype p = at;
            if (status & 0x80) {
                running = status;
                ++p;
            } else if (!running) {
                return QStringLiteral("track %1: data without a status byte").arg(track + 1);
            }
            status = running;
            const int n = dataBytes(status);
            if (p + n > stop)
                return QStringLiteral("track %1 ends inside an event").arg(track + 1);
            e.raw.append(char(status));
            for (int i = 0; i < n; ++i) {
                if (quint8(b[p + i]) & 0x80)
                    return QStringLiteral("track %1: a data byte above 127").arg(track + 1);
                e.raw.append(b[p + i]);
            }
            at = p + n;
        }
        *endTick = std::max(*endTick, tick);
        out->push_back(std::move(e));
        if (out->size() > 4'000'000)
            return QStringLiteral("more events than any ringtone holds");
    }
    // No end-of-track event: taken as ending there, as players do.
    return {};
}

} // namespace

MidiResult midiToFormat0(const QByteArray& b) {
    MidiResult r;
    auto fail = [&](const QString& why) {
        r.reason = QStringLiteral("the MIDI file is damaged: ") + why;
        return r;
    };
    if (b.size() > kMaxMidiBytes)
        return fail(QStringLiteral("larger than any ringtone (%1 bytes)").arg(b.size()));
    if (b.size() < 14 || !b.startsWith("MThd"))
        return fail(QStringLiteral("no MThd header"));
    const quint32 headerLength = be32(b, 4);
    if (headerLength < 6 || headerLength > quint32(b.size() - 8))
        return fail(QStringLiteral("a header length of %1").arg(headerLength));
    const int format = be16(b, 8);
    const int declared = be16(b, 10);
    const quint16 division = be16(b, 12);
    if (format > 1) {
        r.reason = QStringLiteral("a format %1 MIDI file holds separate songs; it cannot be "
                                  "made format 0")
                       .arg(format);
        return r;
    }
    std::vector<Event> events;
    quint64 endTick = 0;
    qsizetype at = 8 + qsizetype(headerLength);
    int tracks = 0;
    while (at + 8 <= b.size()) {
        const quint32 length = be32(b, at + 4);
        if (length > quint32(b.size() - at - 8))
            return fail(QStringLiteral("chunk %1 is longer than the file").arg(tracks + 1));
        if (b.mid(at, 4) == "MTrk") {
            const QString why = readTrack(b, at + 8, at + 8 + length, tracks, &events, &endTick);
            if (!why.isEmpty())
                return fail(why);
            ++tracks;
        } // chunks of other kinds are skipped, as the format asks
        at += 8 + qsizetype(length);
    }
    if (tracks == 0)
        return fail(QStringLiteral("no track"));
    if (tracks != declared && format == 0)
        return fail(QStringLiteral("format 0 with %1 tracks").arg(tracks));
    // Events that fall together keep their tracks' order: the tempo map (track 1) first.
    std::stable_sort(events.begin(), events.end(), [](const Event& x, const Event& y) {
        return x.tick != y.tick ? x.tick < y.tick
                                : (x.track != y.track ? x.track < y.track : x.order < y.order);
    });
    QByteArray track;
    quint64 last = 0;
    quint8 running = 0;
    auto delta = [&](quint64 tick) {
        // A gap wider than a four-byte quantity is split by empty text events.
        while (tick - last > 0x0fffffff) {
            writeVlq(&track, 0x0fffffff);
            track.append("\xff\x01\x00", 3);
            last += 0x0fffffff;
            running = 0;
        }
        writeVlq(&track, quint32(tick - last));
        last = tick;
    };
    for (const Event& e : events) {
        delta(e.tick);
        const quint8 status = quint8(e.raw[0]);
        if (status < 0xf0) {
            // Running status, as the tracks had it: the merged file stays as small.
            if (status == running)
                track.append(e.raw.mid(1));
            else
                track.append(e.raw);
            running = status;
        } else {
            track.append(e.raw);
            running = 0;
        }
    }
    delta(endTick);
    track.append("\xff\x2f\x00", 3);
    QByteArray out("MThd\0\0\0\6\0\0\0\1", 12);
    out.append(char(division >> 8)).append(char(division & 0xff));
    out.append("MTrk", 4);
    const quint32 n = quint32(track.size());
    out.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    out.append(track);
    r.ok = true;
    r.bytes = out;
    r.tracks = tracks;
    return r;
}

} // namespace tess::media

// Standard MIDI File: the MThd header (format, tracks, division), then every chunk;
// each MTrk's events are walked to its end, so a track that lies about its length or
// holds a broken event is found.
#include "media/sniff/Sniff.h"

namespace tess::sniff {

namespace {

// A variable-length quantity of at most 4 bytes inside [*at, end).
bool vlq(Bytes b, size_t* at, size_t end, uint32_t* value) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        if (*at >= end)
            return false;
        const unsigned char c = b.data[(*at)++];
        v = v << 7 | (c & 0x7F);
        if (!(c & 0x80)) {
            *value = v;
            return true;
        }
    }
    return false;
}

// The events of one track in [at, end); empty when they parse and end with End of Track.
std::string walkTrack(Bytes b, size_t at, size_t end) {
    int running = 0;
    bool ended = false;
    while (at < end) {
        if (ended)
            return "events after End of Track";
        uint32_t delta = 0;
        if (!vlq(b, &at, end, &delta))
            return "a delta time runs past the track";
        if (at >= end)
            return "the track ends after a delta time";
        int status = b.data[at];
        if (status & 0x80) {
            ++at;
        } else if (running) {
            status = running;
        } else {
            return "a data byte with no status before it";
        }
        if (status == 0xFF) {
            if (at >= end)
                return "a meta event runs past the track";
            const int type = b.data[at++];
            uint32_t len = 0;
            if (!vlq(b, &at, end, &len) || len > end - at)
                return "a meta event runs past the track";
            at += len;
            if (type == 0x2F)
                ended = true;
            running = 0;
        } else if (status == 0xF0 || status == 0xF7) {
            uint32_t len = 0;
            if (!vlq(b, &at, end, &len) || len > end - at)
                return "a system exclusive event runs past the track";
            at += len;
            running = 0;
        } else if (status >= 0xF1) {
            return "a system message that has no place in a file";
        } else {
            const int kind = status & 0xF0;
            const size_t n = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            if (n > end - at)
                return "a channel event runs past the track";
            for (size_t i = 0; i < n; ++i)
                if (b.data[at + i] & 0x80)
                    return "a channel event's data byte is out of range";
            at += n;
            running = status;
        }
    }
    return ended ? std::string() : "the track has no End of Track";
}

} // namespace

void readMidi(Bytes b, Facts* f) {
    if (!has(b, 0, 14)) {
        f->past = true;
        return;
    }
    const uint32_t headLen = be32(b, 4);
    if (headLen < 6) {
        f->fault = "the MThd header is too short";
        return;
    }
    f->midiFormat = int(be16(b, 8));
    f->midiTracksDeclared = int(be16(b, 10));
    f->midiDivision = int(be16(b, 12));
    if (f->midiFormat > 2) {
        f->fault = "unknown SMF format " + std::to_string(f->midiFormat);
        return;
    }
    if (f->midiDivision == 0) {
        f->fault = "the division is zero";
        return;
    }
    uint64_t at = 8 + uint64_t(headLen);
    int track = 0;
    for (int guard = 0; guard < 70000; ++guard) {
        if (at == b.size && at >= f->total)
            break; // the end of the file, between chunks
        if (!has(b, at, 8)) {
            f->past = true;
            break;
        }
        const uint32_t len = be32(b, size_t(at) + 4);
        const bool mtrk = tag(b, size_t(at), "MTrk");
        const uint64_t end = at + 8 + len;
        if (end > f->total) {
            f->fault = mtrk
                           ? "track " + std::to_string(track + 1) + " runs past the end of the file"
                           : "a chunk runs past the end of the file";
            return;
        }
        if (mtrk) {
            ++track;
            if (end > b.size) {
                f->past = true;
                break;
            }
            const std::string why = walkTrack(b, size_t(at) + 8, size_t(end));
            if (!why.empty()) {
                f->fault = "track " + std::to_string(track) + ": " + why;
                return;
            }
            ++f->midiTracks;
        }
        at = end;
    }
    if (!f->past && f->midiTracks != f->midiTracksDeclared)
        f->fault = "the header names " + std::to_string(f->midiTracksDeclared) +
                   " tracks, the file holds " + std::to_string(f->midiTracks);
}

} // namespace tess::sniff

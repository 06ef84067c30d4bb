// QCP (RFC 3625): a RIFF "QLCM" file; its "fmt " chunk names the codec by GUID and
// gives the packet and block sizes and the sampling rate; "vrat" the packet count of
// a variable-rate file; "data" the packets.
#include "media/sniff/Sniff.h"

#include <cstring>

namespace tess::sniff {

namespace {

const unsigned char kQcelpA[16] = {0x41, 0x6D, 0x7F, 0x5E, 0x15, 0xB1, 0xD0, 0x11,
                                   0xBA, 0x91, 0x00, 0x80, 0x5F, 0xB4, 0xB9, 0x7E};
const unsigned char kQcelpB[16] = {0x42, 0x6D, 0x7F, 0x5E, 0x15, 0xB1, 0xD0, 0x11,
                                   0xBA, 0x91, 0x00, 0x80, 0x5F, 0xB4, 0xB9, 0x7E};
const unsigned char kEvrc[16] = {0x8D, 0xD4, 0x89, 0xE6, 0x76, 0x90, 0xB5, 0x46,
                                 0x91, 0xEF, 0x73, 0x6A, 0x51, 0x00, 0xCE, 0xB4};
const unsigned char kSmv[16] = {0x75, 0x2B, 0x7C, 0x8D, 0x97, 0xA7, 0x49, 0xED,
                                0x98, 0x5E, 0xD5, 0x3C, 0x8C, 0xC7, 0x5F, 0x84};

constexpr uint32_t kFmtBytes = 150; // through the reserved words

} // namespace

void readQcp(Bytes b, Facts* f) {
    if (!has(b, 0, 12)) {
        f->past = true;
        return;
    }
    const uint64_t riffEnd = uint64_t(le32(b, 4)) + 8;
    if (riffEnd > f->total) {
        f->fault = "the file is shorter than its RIFF header says";
        return;
    }
    bool haveFmt = false;
    bool haveData = false;
    uint32_t packetSize = 0, blockSize = 0, rate = 0;
    uint64_t dataBytes = 0;
    int64_t vratPackets = -1;
    uint64_t at = 12;
    for (int guard = 0; guard < 10000 && at < riffEnd; ++guard) {
        if (!has(b, at, 8)) {
            f->past = true;
            break;
        }
        const size_t c = size_t(at);
        const uint32_t len = le32(b, c + 4);
        const uint64_t end = at + 8 + len;
        if (end > riffEnd) {
            f->fault = "a chunk runs past the end of the RIFF file";
            return;
        }
        if (tag(b, c, "fmt ")) {
            if (len < kFmtBytes - 20) { // some writers leave out the reserved words
                f->fault = "the fmt chunk is too short";
                return;
            }
            if (!has(b, c + 8, kFmtBytes - 20)) {
                f->past = true;
                break;
            }
            const Bytes fmt{b.data + c + 8, kFmtBytes - 20};
            haveFmt = true;
            const unsigned char* guid = fmt.data + 2;
            if (!std::memcmp(guid, kQcelpA, 16) || !std::memcmp(guid, kQcelpB, 16))
                f->codec = "qcelp13k";
            else if (!std::memcmp(guid, kEvrc, 16))
                f->codec = "evrc";
            else if (!std::memcmp(guid, kSmv, 16))
                f->codec = "smv";
            else
                f->codec = "unknown";
            packetSize = le16(fmt, 102);
            blockSize = le16(fmt, 104);
            rate = le16(fmt, 106);
            f->sampleRate = rate;
            f->channels = 1;
            f->bitDepth = int(le16(fmt, 108));
        } else if (tag(b, c, "vrat")) {
            if (len < 8 || !has(b, c + 8, 8)) {
                if (len < 8) {
                    f->fault = "the vrat chunk is too short";
                    return;
                }
                f->past = true;
                break;
            }
            if (le32(b, c + 8) != 0)
                vratPackets = le32(b, c + 12);
        } else if (tag(b, c, "data")) {
            haveData = true;
            dataBytes = len;
            break; // the packets follow; nothing after them matters here
        }
        at = end + (len & 1);
    }
    if (!f->past && !haveFmt) {
        f->fault = "there is no fmt chunk";
        return;
    }
    if (!f->past && !haveData) {
        f->fault = "there is no data chunk";
        return;
    }
    if (haveFmt && (rate == 0 || blockSize == 0)) {
        f->fault = "the fmt chunk gives no sampling rate or block size";
        return;
    }
    if (haveData && haveFmt) {
        uint64_t packets = 0;
        if (vratPackets >= 0)
            packets = uint64_t(vratPackets);
        else if (packetSize > 0)
            packets = dataBytes / packetSize;
        f->seconds = double(packets) * blockSize / rate;
        if (dataBytes == 0)
            f->fault = "the data chunk is empty";
    }
}

} // namespace tess::sniff

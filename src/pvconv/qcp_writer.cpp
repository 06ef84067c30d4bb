#include "qcp_writer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace pvconv {
namespace {

void put16(std::vector<uint8_t>& b, unsigned v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xFFFFu);
    put16(b, v >> 16);
}
// Byte by byte: GCC 12 warns falsely about vector::insert of arrays here.
void putBytes(std::vector<uint8_t>& b, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        b.push_back(p[i]);
}
void putTag(std::vector<uint8_t>& b, const char* tag) {
    putBytes(b, reinterpret_cast<const uint8_t*>(tag), 4);
}
void putPacket(std::vector<uint8_t>& b, const Packet& p) {
    b.push_back(p.rate);
    putBytes(b, p.bytes.data(), static_cast<size_t>(p.size()));
}

// QCELP-13K codec GUID {5E7F6D41-B115-11D0-BA91-00805FB4B97E} in file byte order.
constexpr uint8_t kQcelp13kGuid[16] = {0x41, 0x6D, 0x7F, 0x5E, 0x15, 0xB1, 0xD0, 0x11,
                                       0xBA, 0x91, 0x00, 0x80, 0x5F, 0xB4, 0xB9, 0x7E};
constexpr uint32_t kFmtBodySize = 150;

// Temporary names: target + ".part" + four digits, tried from a random start.
constexpr int kPartNames = 10000;

#ifdef _WIN32
constexpr int kCreateFlags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY;
int writeSome(int fd, const uint8_t* p, size_t n) {
    return _write(fd, p, static_cast<unsigned>(n));
}
int closeFd(int fd) {
    return _close(fd);
}
int openExclusive(const char* path) {
    return _open(path, kCreateFlags, _S_IREAD | _S_IWRITE);
}
bool seekStart(int fd) {
    return _lseeki64(fd, 0, SEEK_SET) == 0;
}
#else
int writeSome(int fd, const uint8_t* p, size_t n) {
    return static_cast<int>(::write(fd, p, n));
}
int closeFd(int fd) {
    return ::close(fd);
}
int openExclusive(const char* path) {
    // O_EXCL refuses any existing name, a link included; O_NOFOLLOW says so twice.
    return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}
bool seekStart(int fd) {
    return ::lseek(fd, 0, SEEK_SET) == 0;
}
#endif

std::string writeAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const size_t step = n < (1u << 20) ? n : (1u << 20);
        const int w = writeSome(fd, p, step);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return std::strerror(w < 0 ? errno : EIO);
        p += w;
        n -= static_cast<size_t>(w);
    }
    return {};
}

// Every signal whose default action ends the program and that a user, a shell's
// limits or a parent may send: none may leave the temporary file behind.
#ifdef _WIN32
const int kEndingSignals[] = {SIGINT, SIGTERM};
#else
const int kEndingSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGXFSZ,
                              SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU};
#endif

// The temporary name the signal handler removes, encoded before it is armed.
char gTemporary[4096];
volatile std::sig_atomic_t gArmed = 0;

extern "C" void removeTemporaryAndDie(int sig) {
    if (gArmed)
#ifdef _WIN32
        _unlink(gTemporary);
#else
        ::unlink(gTemporary);
#endif
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// Signals held while the temporary file and the armed flag change together,
// so that the handler never removes a name that is not ours.
class HoldSignals {
public:
#ifdef _WIN32
    HoldSignals() {}
#else
    HoldSignals() {
        sigset_t s;
        sigemptyset(&s);
        for (int sig : kEndingSignals)
            sigaddset(&s, sig);
        sigprocmask(SIG_BLOCK, &s, &old_);
    }
    ~HoldSignals() {
        sigprocmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t old_;
#endif
};

// Creates target.partNNNN exclusively; a name that exists (a planted link
// too) is skipped for the next one.
std::string createTemporary(const std::string& target, std::string& tmp, int& fd) {
    std::random_device rd;
    const unsigned start = rd() % kPartNames;
    for (int i = 0; i < kPartNames; ++i) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04u",
                      (start + static_cast<unsigned>(i)) % kPartNames);
        const std::string name = target + ".part" + digits;
        if (name.size() >= sizeof gTemporary)
            return "cannot create " + name + ": name too long";
        HoldSignals hold;
        fd = openExclusive(name.c_str());
        if (fd >= 0) {
            std::memcpy(gTemporary, name.c_str(), name.size() + 1);
            gArmed = 1;
            tmp = name;
            return {};
        }
        if (errno != EEXIST)
            return "cannot create " + name + ": " + std::strerror(errno);
    }
    return "cannot create a temporary file beside " + target + ": every name is taken";
}

void removeTemporary(int& fd, const std::string& tmp) {
    HoldSignals hold;
    if (fd >= 0)
        closeFd(fd);
    fd = -1;
    if (!tmp.empty())
        std::remove(tmp.c_str());
    gArmed = 0;
}

std::string commit(int& fd, const std::string& tmp, const std::string& target) {
    const int closed = closeFd(fd);
    const int closeErr = errno;
    fd = -1;
    if (closed != 0) {
        removeTemporary(fd, tmp);
        return "cannot write " + tmp + ": " + std::strerror(closeErr);
    }
    HoldSignals hold;
#ifdef _WIN32
    // Windows will not rename over an existing file.
    std::remove(target.c_str());
#endif
    if (std::rename(tmp.c_str(), target.c_str()) != 0) {
        const int e = errno;
        std::remove(tmp.c_str());
        gArmed = 0;
        return "cannot rename to " + target + ": " + std::strerror(e);
    }
    gArmed = 0;
    return {};
}

} // namespace

uint32_t averageBitRate(uint64_t packets, uint64_t dataBytes) {
    if (packets == 0)
        return 14000;
    return static_cast<uint32_t>((dataBytes * 8 * 50 + packets / 2) / packets);
}

std::vector<uint8_t> qcpHeader(uint64_t packets, uint64_t dataBytes) {
    std::vector<uint8_t> b;
    b.reserve(kQcpHeaderSize);
    putTag(b, "RIFF");
    // Pad byte after odd data included.
    put32(b, static_cast<uint32_t>(kQcpHeaderSize - 8 + dataBytes + (dataBytes & 1u)));
    putTag(b, "QLCM");

    putTag(b, "fmt ");
    put32(b, kFmtBodySize);
    b.push_back(1); // major version
    b.push_back(0); // minor version
    putBytes(b, kQcelp13kGuid, 16);
    put16(b, 2); // codec version
    uint8_t name[80] = {};
    std::memcpy(name, "Qcelp 13K", 9);
    putBytes(b, name, sizeof name);
    put16(b, averageBitRate(packets, dataBytes));
    put16(b, kFullRatePayloadBytes + 1); // largest packet, rate byte included
    put16(b, kFrameSize);                // samples per packet
    put16(b, 8000);                      // sampling rate
    put16(b, 16);                        // bits per sample
    // Rate map: payload size in bytes (without the rate byte) for each rate byte.
    constexpr uint8_t kRateMap[5][2] = {{34, 4}, {16, 3}, {7, 2}, {3, 1}, {0, 0}};
    put32(b, 5);
    for (int i = 0; i < 8; ++i) {
        b.push_back(i < 5 ? kRateMap[i][0] : 0);
        b.push_back(i < 5 ? kRateMap[i][1] : 0);
    }
    for (int i = 0; i < 20; ++i) // reserved
        b.push_back(0);

    putTag(b, "vrat");
    put32(b, 8);
    put32(b, 1); // variable rate: each packet starts with its rate byte
    put32(b, static_cast<uint32_t>(packets));

    putTag(b, "data");
    put32(b, static_cast<uint32_t>(dataBytes));
    return b;
}

std::vector<uint8_t> buildQcp(const std::vector<Packet>& packets) {
    size_t dataSize = 0;
    for (const Packet& p : packets)
        dataSize += 1 + static_cast<size_t>(p.size());
    std::vector<uint8_t> b = qcpHeader(packets.size(), dataSize);
    b.reserve(b.size() + dataSize + 1);
    for (const Packet& p : packets)
        putPacket(b, p);
    if (dataSize & 1u)
        b.push_back(0);
    return b;
}

void removeTemporaryOnSignals() {
    for (int sig : kEndingSignals) {
#ifdef _WIN32
        std::signal(sig, removeTemporaryAndDie);
#else
        struct sigaction sa = {};
        sa.sa_handler = removeTemporaryAndDie;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
#endif
    }
}

QcpOutput::~QcpOutput() {
    abandon();
}

std::string QcpOutput::create(const std::string& target) {
    target_ = target;
    std::string err = createTemporary(target, tmp_, fd_);
    if (!err.empty())
        return err;
    // Room for the header, completed once the packets are counted.
    pending_.assign(kQcpHeaderSize, 0);
    return {};
}

std::string QcpOutput::flush() {
    std::string err = writeAll(fd_, pending_.data(), pending_.size());
    pending_.clear();
    if (!err.empty())
        return "cannot write " + tmp_ + ": " + err;
    return {};
}

std::string QcpOutput::write(const Packet& packet) {
    putPacket(pending_, packet);
    ++packets_;
    dataBytes_ += 1 + static_cast<uint64_t>(packet.size());
    if (pending_.size() >= 65536) {
        std::string err = flush();
        if (!err.empty()) {
            abandon();
            return err;
        }
    }
    return {};
}

std::string QcpOutput::finish() {
    if (dataBytes_ & 1u)
        pending_.push_back(0);
    std::string err = flush();
    if (err.empty()) {
        const std::vector<uint8_t> header = qcpHeader(packets_, dataBytes_);
        if (!seekStart(fd_))
            err = "cannot write " + tmp_ + ": " + std::strerror(errno);
        else if (std::string e = writeAll(fd_, header.data(), header.size()); !e.empty())
            err = "cannot write " + tmp_ + ": " + e;
    }
    if (!err.empty()) {
        abandon();
        return err;
    }
    err = commit(fd_, tmp_, target_);
    tmp_.clear();
    return err;
}

void QcpOutput::abandon() {
    if (fd_ >= 0 || !tmp_.empty())
        removeTemporary(fd_, tmp_);
    tmp_.clear();
}

std::string writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string tmp;
    int fd = -1;
    std::string err = createTemporary(path, tmp, fd);
    if (!err.empty())
        return err;
    err = writeAll(fd, bytes.data(), bytes.size());
    if (!err.empty()) {
        removeTemporary(fd, tmp);
        return "cannot write " + tmp + ": " + err;
    }
    return commit(fd, tmp, path);
}

} // namespace pvconv

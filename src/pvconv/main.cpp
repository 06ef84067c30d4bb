// pvconv: converts a WAV recording into a QCELP-13K .qcp file.
#include "audio_input.h"
#include "converter.h"
#include "qcp_writer.h"
#include "wav_reader.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#ifndef S_ISDIR // MSVC has only the mode bits
#define S_ISDIR(m) (((m)&S_IFMT) == S_IFDIR)
#define S_ISREG(m) (((m)&S_IFMT) == S_IFREG)
#endif
#else
#include <unistd.h>
#endif

#ifndef PVCONV_VERSION
#define PVCONV_VERSION "1.1.0"
#endif

namespace {

void usage(std::FILE* to) {
    std::fprintf(to, "Usage: pvconv INPUT.wav\n"
                     "  or:  pvconv [--variable-rate | --full-rate] [--keep-dc | --remove-dc]\n"
                     "              [-o OUTPUT.qcp] INPUT.wav\n"
                     "Encode a WAV file into QCELP-13K (PureVoice) and write INPUT.qcp beside\n"
                     "it, or OUTPUT.qcp. Integer PCM of 8, 16, 24 or 32 bits and float of 32 or\n"
                     "64 bits, any rate and any number of channels; other than 8000 Hz mono it\n"
                     "is mixed to mono and resampled to 8000 Hz first.\n"
                     "INPUT \"-\" (or any input that is not a regular file) is read as a\n"
                     "stream and needs -o. \"--\" ends the options.\n"
                     "\n"
                     "Options:\n"
                     "  -o, --output FILE  write the QCP file to FILE\n"
                     "  --variable-rate  choose the rate of each frame from the signal (default)\n"
                     "  --full-rate      code every frame that holds sound at full rate (35-byte\n"
                     "                   packets, 14 kbit/s); no DC removal unless --remove-dc\n"
                     "  --keep-dc        leave a DC offset in (no DC removal)\n"
                     "  --remove-dc      remove a DC offset and slow drift (default at\n"
                     "                   variable rate)\n"
                     "  -h, --help       show this help and exit\n"
                     "  -V, --version    show the version and exit\n"
                     "\n"
                     "Exit status is 0 on success. On failure pvconv prints one line naming\n"
                     "the reason and leaves no output file.\n");
}

// The input file, read in blocks; regular files also tell their size and seek.
class FileSource : public pvconv::ByteSource {
public:
    ~FileSource() override {
        if (fd_ >= 0)
#ifdef _WIN32
            _close(fd_);
#else
            ::close(fd_);
#endif
    }
    // Returns an empty string or the reason the file cannot be read.
    std::string open(const std::string& path) {
#ifdef _WIN32
        fd_ = path == "-" ? _dup(0) : _open(path.c_str(), _O_RDONLY | _O_BINARY);
#else
        fd_ = path == "-" ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                          : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
        if (fd_ < 0)
            return std::string("cannot open: ") + std::strerror(errno);
        struct stat st {};
        if (fstat(fd_, &st) == 0) {
            if (S_ISDIR(st.st_mode))
                return "is a directory, not a WAV file";
            if (S_ISREG(st.st_mode))
                size_ = static_cast<int64_t>(st.st_size);
        }
        return {};
    }
    size_t read(uint8_t* to, size_t n) override {
        for (;;) {
#ifdef _WIN32
            const int r = _read(fd_, to, static_cast<unsigned>(n));
#else
            const ssize_t r = ::read(fd_, to, n);
#endif
            if (r >= 0)
                return static_cast<size_t>(r);
            if (errno != EINTR) {
                error_ = std::strerror(errno);
                return 0;
            }
        }
    }
    int64_t size() const override {
        return size_;
    }
    bool regularFile() const {
        return size_ >= 0;
    }
    bool seek(uint64_t offset) override {
#ifdef _WIN32
        return _lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) >= 0;
#else
        return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
#endif
    }
    const std::string& error() const override {
        return error_;
    }

private:
    int fd_ = -1;
    int64_t size_ = -1;
    std::string error_;
};

int failWith(const std::string& input, const std::string& why) {
    std::fprintf(stderr, "pvconv: %s: %s\n", input.c_str(), why.c_str());
    return 1;
}

} // namespace

static int runConverter(int argc, char** argv) {
    std::vector<std::string> files;
    pvconv::ConverterOptions options;
    // Variable rate by default: speech files about a fifth smaller for a
    // fraction of a dB (docs/pvconv.md).
    options.encoder.variableRate = true;
    int dcChoice = -1; // -1: as the mode has it
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            usage(stdout);
            return 0;
        }
        if (std::strcmp(a, "-V") == 0 || std::strcmp(a, "--version") == 0) {
            std::printf("pvconv %s\n", PVCONV_VERSION);
            return 0;
        }
        if (std::strcmp(a, "--full-rate") == 0) {
            options.encoder.variableRate = false;
            continue;
        }
        if (std::strcmp(a, "--variable-rate") == 0) {
            options.encoder.variableRate = true;
            continue;
        }
        if (std::strcmp(a, "--keep-dc") == 0) {
            dcChoice = 0;
            continue;
        }
        if (std::strcmp(a, "--remove-dc") == 0) {
            dcChoice = 1;
            continue;
        }
        if (std::strcmp(a, "-o") == 0 || std::strcmp(a, "--output") == 0) {
            if (++i >= argc || argv[i][0] == '\0') {
                std::fprintf(stderr, "pvconv: %s needs a file name (try --help)\n", a);
                return 2;
            }
            output = argv[i];
            continue;
        }
        if (std::strcmp(a, "--") == 0) {
            for (++i; i < argc; ++i)
                files.emplace_back(argv[i]);
            break;
        }
        if (a[0] == '-' && a[1] != '\0') { // "-" alone is standard input
            std::fprintf(stderr, "pvconv: unknown option %s (try --help)\n", a);
            return 2;
        }
        files.emplace_back(a);
    }
    if (files.size() != 1) {
        std::fprintf(stderr, "pvconv: expected exactly one input file (try --help)\n");
        return 2;
    }
    // --full-rate alone writes what pvconv always wrote, bit for bit.
    options.removeDc = dcChoice >= 0 ? dcChoice == 1 : options.encoder.variableRate;
    const std::string input = files[0];

    FileSource source;
    if (const std::string err = source.open(input); !err.empty())
        return failWith(input, err);
    // A stream (standard input, a pipe, /dev/stdin) names no place for the output:
    // beside it would be "-.qcp" in the current folder, or a file in /dev.
    const bool stream = input == "-" || !source.regularFile() || input.rfind("/dev/", 0) == 0 ||
                        input.rfind("/proc/", 0) == 0;
    if (output.empty() && stream) {
        std::fprintf(stderr,
                     "pvconv: %s: not a regular file; name the output with -o (try --help)\n",
                     input.c_str());
        return 2;
    }
    pvconv::WavStream wav(source);
    if (!wav.open())
        return failWith(input, wav.error());
    pvconv::EncoderInput samplesIn(wav);
    if (!samplesIn.error().empty())
        return failWith(input, samplesIn.error());

    std::filesystem::path out(input);
    out.replace_extension(".qcp");
    if (!output.empty())
        out = output;
    pvconv::removeTemporaryOnSignals();
    pvconv::QcpOutput qcp;
    if (const std::string err = qcp.create(out.string()); !err.empty())
        return failWith(input, err);

    pvconv::Converter converter(options);
    std::vector<int16_t> block(8192);
    std::vector<pvconv::Packet> packets;
    uint64_t samples = 0;
    size_t counts[5] = {};
    auto emit = [&]() -> std::string {
        for (const pvconv::Packet& p : packets) {
            ++counts[p.rate < 5 ? p.rate : 0];
            if (std::string err = qcp.write(p); !err.empty())
                return err;
        }
        packets.clear();
        return {};
    };
    for (;;) {
        const size_t got = samplesIn.read(block.data(), block.size());
        if (got == 0)
            break;
        samples += got;
        converter.push(block.data(), got, packets);
        if (std::string err = emit(); !err.empty())
            return failWith(input, err);
    }
    if (!source.error().empty() || !samplesIn.error().empty()) {
        qcp.abandon();
        return failWith(input, source.error().empty() ? samplesIn.error()
                                                      : "read error: " + source.error());
    }
    converter.finish(packets);
    if (std::string err = emit(); !err.empty())
        return failWith(input, err);
    const uint64_t total = qcp.packets();

    // Told before the rename: a summary that cannot be written (a closed pipe, a full
    // disk) fails the run, and nothing is put in place.
    std::printf(
        "pvconv: %s -> %s: %.2f s, %llu QCELP-13K frames (%zu full, %zu half, %zu quarter, %zu "
        "eighth rate)%s\n",
        input.c_str(), out.string().c_str(), static_cast<double>(samples) / pvconv::kRequiredRate,
        static_cast<unsigned long long>(total), counts[pvconv::kFullRateByte],
        counts[pvconv::kHalfRateByte], counts[pvconv::kQuarterRateByte],
        counts[pvconv::kEighthRateByte], wav.dataTruncated() ? " (data chunk was truncated)" : "");
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int e = errno;
        qcp.abandon();
        return failWith(input, std::string("cannot write to standard output: ") + std::strerror(e));
    }
    if (const std::string err = qcp.finish(); !err.empty())
        return failWith(input, err);
    return 0;
}

int main(int argc, char** argv) {
#ifndef _WIN32
    // A closed pipe on standard output is an error to report, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    try {
        return runConverter(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "pvconv: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pvconv: %s\n", e.what());
    }
    return 1;
}

// pvconv: converts an 8 kHz mono PCM WAV recording into a QCELP-13K .qcp file.
#include "encoder.h"
#include "qcp_writer.h"
#include "wav_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#ifndef PVCONV_VERSION
#define PVCONV_VERSION "1.1.0"
#endif

namespace {

void usage(std::FILE* to) {
    std::fprintf(to, "Usage: pvconv INPUT.wav\n"
                     "Encode an 8000 Hz mono PCM WAV file (8-bit unsigned or 16-bit) into\n"
                     "QCELP-13K (PureVoice) and write INPUT.qcp beside it.\n"
                     "\n"
                     "Options:\n"
                     "  -h, --help     show this help and exit\n"
                     "  -V, --version  show the version and exit\n"
                     "\n"
                     "Exit status is 0 on success. On failure pvconv prints one line naming\n"
                     "the reason and leaves no output file.\n");
}

// Reads a whole file; returns an empty string or the reason it could not.
std::string readWhole(const std::string& path, std::vector<uint8_t>& bytes) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        return "is a directory, not a WAV file";
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return std::string("cannot open: ") + std::strerror(errno);
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    const bool failed = std::ferror(f) != 0;
    const int err = errno;
    std::fclose(f);
    if (failed)
        return std::string("read error: ") + std::strerror(err);
    return {};
}

int failWith(const std::string& input, const std::string& why) {
    std::fprintf(stderr, "pvconv: %s: %s\n", input.c_str(), why.c_str());
    return 1;
}

} // namespace

static int runConverter(int argc, char** argv) {
    std::vector<std::string> files;
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
        if (std::strcmp(a, "--") == 0) {
            for (++i; i < argc; ++i)
                files.emplace_back(argv[i]);
            break;
        }
        if (a[0] == '-' && a[1] != '\0') {
            std::fprintf(stderr, "pvconv: unknown option %s (try --help)\n", a);
            return 2;
        }
        files.emplace_back(a);
    }
    if (files.size() != 1) {
        std::fprintf(stderr, "pvconv: expected exactly one input file (try --help)\n");
        return 2;
    }
    const std::string input = files[0];

    std::vector<uint8_t> bytes;
    const std::string readError = readWhole(input, bytes);
    if (!readError.empty())
        return failWith(input, readError);

    const pvconv::WavAudio wav = pvconv::parseWav(bytes.data(), bytes.size());
    if (!wav.ok)
        return failWith(input, wav.error);

    pvconv::Encoder encoder;
    const std::vector<pvconv::Packet> packets = encoder.encode(wav.samples);
    size_t eighth = 0;
    for (const pvconv::Packet& p : packets)
        eighth += p.rate == pvconv::kEighthRateByte ? 1 : 0;

    std::filesystem::path out(input);
    out.replace_extension(".qcp");
    const std::string err = pvconv::writeFileAtomically(out.string(), pvconv::buildQcp(packets));
    if (!err.empty())
        return failWith(input, err);

    std::printf("pvconv: %s -> %s: %.2f s, %zu QCELP-13K frames (%zu full rate, %zu silent)%s\n",
                input.c_str(), out.string().c_str(),
                static_cast<double>(wav.samples.size()) / pvconv::kRequiredRate, packets.size(),
                packets.size() - eighth, eighth,
                wav.dataTruncated ? " (data chunk was truncated)" : "");
    return 0;
}

int main(int argc, char** argv) {
    try {
        return runConverter(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "pvconv: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pvconv: %s\n", e.what());
    }
    return 1;
}

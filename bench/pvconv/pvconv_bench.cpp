// Quality, size and speed benchmark of the QCELP-13K encoder: for each WAV
// clip, encodes it in-process at full and at variable rate (timed over
// several runs), decodes both with ffmpeg, and prints size, segmental SNR
// and log-spectral distance side by side. A clip named NAME_dc10.wav is
// measured against NAME.wav (the same speech without its DC offset).
// With --memory=PVCONV, it also runs that program on a long generated input
// and prints its peak memory.
#include "converter.h"
#include "qcp_writer.h"
#include "quality.h"
#include "wav_reader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Decodes a QCP file with ffmpeg into 16-bit samples; counts the warnings
// other than the two that every QCP file gives.
bool decodeWithFfmpeg(const std::string& qcp, const std::string& raw, std::vector<int16_t>& out,
                      int& warnings) {
    const std::string log = raw + ".log";
    const std::string cmd = "ffmpeg -nostdin -v warning -y -i '" + qcp + "' -f s16le -ac 1 '" +
                            raw + "' 2>'" + log + "'";
    if (std::system(cmd.c_str()) != 0)
        return false;
    warnings = 0;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.find("Bitrate byte") == std::string::npos &&
            line.find("Estimating duration") == std::string::npos &&
            line.find("Last message repeated") == std::string::npos)
            ++warnings;
    std::filesystem::remove(log);
    const std::vector<uint8_t> b = readAll(raw);
    out.resize(b.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    return true;
}

std::vector<pvconv::Packet> convert(const pvconv::ConverterOptions& o,
                                    const std::vector<int16_t>& s) {
    pvconv::Converter c(o);
    std::vector<pvconv::Packet> p;
    c.push(s.data(), s.size(), p);
    c.finish(p);
    return p;
}

// Runs pvconv on a generated 30-minute WAV of tones, noise and pauses;
// prints its peak resident memory and its wall-clock speed.
void measureMemory(const std::string& pvconv) {
    const auto dir = std::filesystem::temp_directory_path() / "pvconv_bench_long";
    std::filesystem::create_directories(dir);
    const std::string wav = (dir / "long.wav").string();
    {
        const uint32_t n = 8000u * 1800u;
        std::ofstream f(wav, std::ios::binary);
        auto le = [&](uint32_t v, int bytes) {
            for (int i = 0; i < bytes; ++i)
                f.put(static_cast<char>((v >> (8 * i)) & 0xFF));
        };
        f.write("RIFF", 4);
        le(36 + 2 * n, 4);
        f.write("WAVEfmt ", 8);
        le(16, 4), le(1, 2), le(1, 2), le(8000, 4), le(16000, 4), le(2, 2), le(16, 2);
        f.write("data", 4);
        le(2 * n, 4);
        uint32_t seed = 1;
        for (uint32_t i = 0; i < n; ++i) {
            seed = seed * 1664525u + 1013904223u;
            const bool pause = (i / 8000) % 5 == 4;
            const double v = pause ? 0.0
                                   : 6000.0 * std::sin(0.15 * i) + 2000.0 * std::sin(0.9 * i) +
                                         static_cast<double>(static_cast<int>(seed >> 22) - 512);
            le(static_cast<uint32_t>(static_cast<int16_t>(v)) & 0xFFFF, 2);
        }
    }
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        execl(pvconv.c_str(), pvconv.c_str(), wav.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage use {};
    wait4(pid, &status, 0, &use);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = use.ru_utime.tv_sec + use.ru_utime.tv_usec / 1e6 + use.ru_stime.tv_sec +
                       use.ru_stime.tv_usec / 1e6;
    std::printf("pvconv on a 30-minute input (%s): peak RSS %.1f MB, %.0fx real time "
                "(processor time; %.0fx wall clock)\n",
                WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "ok" : "FAILED",
                use.ru_maxrss / 1024.0, 1800.0 / cpu, 1800.0 / wall);
    std::filesystem::remove_all(dir);
}

} // namespace

int main(int argc, char** argv) {
    // Encoder settings can be varied from the command line to tune them.
    pvconv::ConverterOptions opt;
    std::vector<std::string> clips;
    std::string memoryOf;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            const std::string prefix = std::string(name) + "=";
            return a.rfind(prefix, 0) == 0 ? a.c_str() + prefix.size() : nullptr;
        };
        if (const char* v = value("--gamma1"))
            opt.encoder.gamma1 = std::strtof(v, nullptr);
        else if (const char* v = value("--gamma2"))
            opt.encoder.gamma2 = std::strtof(v, nullptr);
        else if (const char* v = value("--prefilter"))
            opt.encoder.trackPrefilter = std::atoi(v) != 0;
        else if (const char* v = value("--centre"))
            opt.encoder.analysisCentre = std::atoi(v);
        else if (const char* v = value("--dc"))
            opt.removeDc = std::atoi(v) != 0;
        else if (const char* v = value("--noise"))
            opt.encoder.noiseSnrDb = std::strtod(v, nullptr);
        else if (const char* v = value("--full"))
            opt.encoder.fullLevelDb = std::strtod(v, nullptr);
        else if (const char* v = value("--half"))
            opt.encoder.halfLevelDb = std::strtod(v, nullptr);
        else if (const char* v = value("--quarter"))
            opt.encoder.quarterLevelDb = std::strtod(v, nullptr);
        else if (const char* v = value("--mix"))
            opt.encoder.halfEnergyMix = std::strtof(v, nullptr);
        else if (const char* v = value("--hangover"))
            opt.encoder.hangoverFrames = std::atoi(v);
        else if (const char* v = value("--memory"))
            memoryOf = v;
        else
            clips.push_back(a);
    }
    // First, while this process is still small: the child's peak memory
    // counts what it inherited from the fork.
    if (!memoryOf.empty())
        measureMemory(memoryOf);
    if (clips.empty() && !memoryOf.empty())
        return 0;
    if (clips.empty()) {
        std::fprintf(stderr, "usage: pvconv_bench [--gamma1=G] [--gamma2=G] [--centre=N] "
                             "[--dc=0|1] [--noise=DB] [--full=DB] [--half=DB] [--quarter=DB] "
                             "[--hangover=N] [--mix=M] [--memory=PVCONV] CLIP.wav...\n");
        return 2;
    }
    const auto tmp = std::filesystem::temp_directory_path();
    std::printf("%-22s %6s | %-26s | %-26s | %6s %8s %8s\n", "", "", "full rate", "variable rate",
                "", "speed", "");
    std::printf("%-22s %6s | %7s %8s %8s | %7s %8s %8s | %6s %8s %8s\n", "clip", "sec", "bytes",
                "segSNR", "LSD", "bytes", "segSNR", "LSD", "size", "full", "variable");
    int failures = 0;
    struct Sum {
        double snr = 0, lsd = 0, bytes = 0;
    } speech[2];
    int speechClips = 0;
    for (const std::string& path : clips) {
        const std::vector<uint8_t> bytes = readAll(path);
        const pvconv::WavAudio wav = pvconv::parseWav(bytes.data(), bytes.size());
        if (!wav.ok) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), wav.error.c_str());
            ++failures;
            continue;
        }
        const std::string stem = std::filesystem::path(path).stem().string();
        std::vector<int16_t> reference = wav.samples;
        const bool dcClip = stem.size() > 5 && stem.compare(stem.size() - 5, 5, "_dc10") == 0;
        if (dcClip) {
            const std::string clean = (std::filesystem::path(path).parent_path() /
                                       (stem.substr(0, stem.size() - 5) + ".wav"))
                                          .string();
            const std::vector<uint8_t> cb = readAll(clean);
            reference = pvconv::parseWav(cb.data(), cb.size()).samples;
        }
        const double seconds = static_cast<double>(wav.samples.size()) / 8000.0;
        std::printf("%-22s %6.2f |", stem.c_str(), seconds);
        double speed[2] = {};
        int rateCount[8] = {};
        for (int mode = 0; mode < 2; ++mode) {
            pvconv::ConverterOptions o = opt;
            o.encoder.variableRate = mode == 1;
            // Repeat short clips so the timing covers at least a few seconds of audio.
            const int runs = std::max(1, static_cast<int>(20.0 / seconds));
            std::vector<pvconv::Packet> packets;
            // Processor time of this process: one core, and other load on the
            // machine does not count against the encoder.
            const std::clock_t t0 = std::clock();
            for (int r = 0; r < runs; ++r)
                packets = convert(o, wav.samples);
            const double elapsed = static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
            speed[mode] = seconds * runs / elapsed;

            const std::string qcp = (tmp / ("pvconv_bench_" + stem + ".qcp")).string();
            const std::string raw = (tmp / ("pvconv_bench_" + stem + ".raw")).string();
            const std::vector<uint8_t> file = pvconv::buildQcp(packets);
            pvconv::writeFileAtomically(qcp, file);
            std::vector<int16_t> decoded;
            int warnings = 0;
            if (!decodeWithFfmpeg(qcp, raw, decoded, warnings) || warnings > 0) {
                std::fprintf(stderr, "%s: ffmpeg could not decode %s cleanly (%d warnings)\n",
                             path.c_str(), qcp.c_str(), warnings);
                ++failures;
            }
            const pvconv::Quality q = pvconv::measureQuality(reference, decoded);
            std::printf(" %7zu %5.2f dB %5.2f dB |", file.size(), q.segSnrDb, q.lsdDb);
            if (mode == 1)
                for (const pvconv::Packet& p : packets)
                    ++rateCount[p.rate & 7];
            if (stem.rfind("speech", 0) == 0 && !dcClip) {
                speech[mode].snr += q.segSnrDb;
                speech[mode].lsd += q.lsdDb;
                speech[mode].bytes += static_cast<double>(file.size());
                speechClips += mode;
            }
            std::filesystem::remove(qcp);
            std::filesystem::remove(raw);
        }
        std::printf(" %6s %7.0fx %7.0fx  rates 1/1:%d 1/2:%d 1/4:%d 1/8:%d\n", "", speed[0],
                    speed[1], rateCount[4], rateCount[3], rateCount[2], rateCount[1]);
    }
    if (speechClips) {
        std::printf("%-29s | %7.0f %5.2f dB %5.2f dB | %7.0f %5.2f dB %5.2f dB | %5.1f%%\n",
                    "speech (bytes total, means)", speech[0].bytes, speech[0].snr / speechClips,
                    speech[0].lsd / speechClips, speech[1].bytes, speech[1].snr / speechClips,
                    speech[1].lsd / speechClips, 100.0 * (1.0 - speech[1].bytes / speech[0].bytes));
    }
    return failures ? 1 : 0;
}

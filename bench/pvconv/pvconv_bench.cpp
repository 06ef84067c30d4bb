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
#include "synthesis.h"
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

// Decodes packets with pvconv's model of the decoder; an erased packet gives a silent frame.
std::vector<int16_t> decodeWithModel(const std::vector<pvconv::Packet>& packets, bool postfilter) {
    pvconv::Decoder dec;
    std::vector<int16_t> out;
    out.reserve(packets.size() * pvconv::kFrameSize);
    float frame[pvconv::kFrameSize];
    for (const pvconv::Packet& p : packets) {
        if (!dec.decode(p, frame, true, postfilter))
            std::fill(frame, frame + pvconv::kFrameSize, 0.0f);
        for (float v : frame)
            out.push_back(static_cast<int16_t>(std::clamp(v * 32768.0f, -32768.0f, 32767.0f)));
    }
    return out;
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

// Speed alone: all clips encoded at full and at variable rate, round after
// round; prints the median speed over all clips (processor time of one core)
// and its range over the rounds.
int measureSpeed(const pvconv::ConverterOptions& opt, const std::vector<std::string>& clips,
                 int rounds) {
    std::vector<std::vector<int16_t>> audio;
    double seconds = 0.0;
    for (const std::string& path : clips) {
        const std::vector<uint8_t> bytes = readAll(path);
        const pvconv::WavAudio wav = pvconv::parseWav(bytes.data(), bytes.size());
        if (!wav.ok) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), wav.error.c_str());
            return 1;
        }
        audio.push_back(wav.samples);
        seconds += static_cast<double>(wav.samples.size()) / 8000.0;
    }
    std::vector<double> speed[2];
    for (int r = 0; r < rounds; ++r)
        for (int mode = 0; mode < 2; ++mode) {
            pvconv::ConverterOptions o = opt;
            o.encoder.variableRate = mode == 1;
            const std::clock_t t0 = std::clock();
            for (const std::vector<int16_t>& s : audio)
                convert(o, s);
            const double elapsed = static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
            speed[mode].push_back(seconds / elapsed);
        }
    for (int mode = 0; mode < 2; ++mode) {
        std::vector<double> v = speed[mode];
        std::sort(v.begin(), v.end());
        std::printf("%s rate, %.1f s of audio, %d rounds: median %.0fx real time (%.0f-%.0fx)\n",
                    mode ? "variable" : "full", seconds, rounds, v[v.size() / 2], v.front(),
                    v.back());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Encoder settings can be varied from the command line to tune them.
    pvconv::ConverterOptions opt;
    std::vector<std::string> clips;
    std::string memoryOf;
    int speedRounds = 0;
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
        else if (const char* v = value("--periodic"))
            opt.encoder.periodicVoice = std::strtod(v, nullptr);
        else if (const char* v = value("--context"))
            opt.encoder.speechContextFrames = std::atoi(v);
        else if (const char* v = value("--background-dbfs"))
            opt.encoder.backgroundDbfs = std::strtod(v, nullptr);
        else if (const char* v = value("--background"))
            opt.encoder.backgroundLevelDb = std::strtod(v, nullptr);
        else if (const char* v = value("--hangover"))
            opt.encoder.hangoverFrames = std::atoi(v);
        else if (const char* v = value("--tonal"))
            opt.encoder.tonalFlatnessDb = std::strtod(v, nullptr);
        else if (const char* v = value("--steady-change"))
            opt.encoder.steadyChangeDb = std::strtod(v, nullptr);
        else if (const char* v = value("--steady"))
            opt.encoder.steadyFrames = std::atoi(v);
        else if (const char* v = value("--speed"))
            speedRounds = std::atoi(v);
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
        std::fprintf(stderr,
                     "usage: pvconv_bench [--gamma1=G] [--gamma2=G] [--centre=N] "
                     "[--dc=0|1] [--noise=DB] [--full=DB] [--half=DB] [--quarter=DB] "
                     "[--hangover=N] [--mix=M] [--tonal=DB] [--steady=N] "
                     "[--steady-change=DB] [--context=N] [--periodic=R] "
                     "[--background=DB] [--background-dbfs=DB] [--memory=PVCONV] [--speed=ROUNDS] "
                     "CLIP.wav...\n");
        return 2;
    }
    if (speedRounds > 0)
        return measureSpeed(opt, clips, speedRounds);
    const auto tmp = std::filesystem::temp_directory_path();
    // Three decoders: ffmpeg's, and pvconv's own model of the standard's decoder with its
    // formant post-filter on and off. A figure that holds under all three is the encoder's,
    // not one decoder's.
    const char* kDecoders[3] = {"ffmpeg", "model+pf", "model"};
    std::printf("Each clip at full (F) and variable (V) rate; segSNR, LSD and LSD per band "
                "(0-1, 1-2, 2-3, 3-4 kHz) in dB, for each decoder.\n");
    int failures = 0;
    // Totals per group (speech*, ring*) and decoder: [group][mode][decoder].
    struct Sum {
        double snr = 0, lsd = 0, band[4] = {}, bytes = 0;
        int clips = 0;
    } total[2][2][3];
    double worstRingLoss[3] = {-1e9, -1e9, -1e9};
    std::string worstRingClip[3];
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
        const int group = dcClip                         ? -1
                          : stem.rfind("speech", 0) == 0 ? 0
                          : stem.rfind("ring", 0) == 0   ? 1
                                                         : -1;
        const double seconds = static_cast<double>(wav.samples.size()) / 8000.0;
        double speed[2] = {};
        int rateCount[8] = {};
        size_t fileBytes[2] = {};
        pvconv::Quality quality[2][3];
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
            fileBytes[mode] = file.size();
            pvconv::writeFileAtomically(qcp, file);
            std::vector<int16_t> decoded;
            int warnings = 0;
            if (!decodeWithFfmpeg(qcp, raw, decoded, warnings) || warnings > 0) {
                std::fprintf(stderr, "%s: ffmpeg could not decode %s cleanly (%d warnings)\n",
                             path.c_str(), qcp.c_str(), warnings);
                ++failures;
            }
            quality[mode][0] = pvconv::measureQuality(reference, decoded);
            for (int d = 1; d < 3; ++d) {
                const std::vector<int16_t> model = decodeWithModel(packets, d == 1);
                quality[mode][d] = pvconv::measureQuality(reference, model);
            }
            if (mode == 1)
                for (const pvconv::Packet& p : packets)
                    ++rateCount[p.rate & 7];
            if (group >= 0)
                for (int d = 0; d < 3; ++d) {
                    Sum& t = total[group][mode][d];
                    t.snr += quality[mode][d].segSnrDb;
                    t.lsd += quality[mode][d].lsdDb;
                    for (int b = 0; b < 4; ++b)
                        t.band[b] += quality[mode][d].bandLsdDb[b];
                    t.bytes += static_cast<double>(file.size());
                    ++t.clips;
                }
            std::filesystem::remove(qcp);
            std::filesystem::remove(raw);
        }
        std::printf("\n%s: %.2f s; F %zu B, V %zu B (%+.1f %%); rates 1/1:%d 1/2:%d 1/4:%d "
                    "1/8:%d; %.0fx / %.0fx real time\n",
                    stem.c_str(), seconds, fileBytes[0], fileBytes[1],
                    100.0 * (static_cast<double>(fileBytes[1]) / fileBytes[0] - 1.0), rateCount[4],
                    rateCount[3], rateCount[2], rateCount[1], speed[0], speed[1]);
        for (int d = 0; d < 3; ++d) {
            std::printf("  %-9s", kDecoders[d]);
            for (int mode = 0; mode < 2; ++mode) {
                const pvconv::Quality& q = quality[mode][d];
                std::printf("  %c %5.2f %5.2f [%5.2f %5.2f %5.2f %5.2f]", mode ? 'V' : 'F',
                            q.segSnrDb, q.lsdDb, q.bandLsdDb[0], q.bandLsdDb[1], q.bandLsdDb[2],
                            q.bandLsdDb[3]);
            }
            const double loss = quality[0][d].segSnrDb - quality[1][d].segSnrDb;
            std::printf("  loss %5.2f\n", loss);
            if (group == 1 && loss > worstRingLoss[d]) {
                worstRingLoss[d] = loss;
                worstRingClip[d] = stem;
            }
        }
    }
    const char* kGroups[2] = {"speech", "ringtone-like"};
    for (int g = 0; g < 2; ++g) {
        if (total[g][0][0].clips == 0)
            continue;
        const double fb = total[g][0][0].bytes, vb = total[g][1][0].bytes;
        std::printf("\n%s, %d clips: F %.0f B, V %.0f B (%.1f %% smaller); means:\n", kGroups[g],
                    total[g][0][0].clips, fb, vb, 100.0 * (1.0 - vb / fb));
        for (int d = 0; d < 3; ++d) {
            const Sum& f = total[g][0][d];
            const Sum& v = total[g][1][d];
            const double n = f.clips;
            std::printf("  %-9s segSNR F %5.2f V %5.2f (loss %4.2f)  LSD F %5.2f V %5.2f (rise "
                        "%5.2f)  band rise %5.2f %5.2f %5.2f %5.2f\n",
                        kDecoders[d], f.snr / n, v.snr / n, (f.snr - v.snr) / n, f.lsd / n,
                        v.lsd / n, (v.lsd - f.lsd) / n, (v.band[0] - f.band[0]) / n,
                        (v.band[1] - f.band[1]) / n, (v.band[2] - f.band[2]) / n,
                        (v.band[3] - f.band[3]) / n);
        }
    }
    if (total[1][0][0].clips)
        for (int d = 0; d < 3; ++d)
            std::printf("ringtone-like, worst segSNR loss (%s): %.2f dB (%s)\n", kDecoders[d],
                        worstRingLoss[d], worstRingClip[d].c_str());
    return failures ? 1 : 0;
}

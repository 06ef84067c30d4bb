// Quality and speed benchmark of the QCELP-13K encoder: for each WAV clip,
// encodes it in-process (timed over several runs), decodes the QCP with
// ffmpeg, and prints segmental SNR, log-spectral distance and speed.
#include "encoder.h"
#include "qcp_writer.h"
#include "quality.h"
#include "wav_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Decodes a QCP file with ffmpeg into 16-bit samples; returns false on failure.
bool decodeWithFfmpeg(const std::string& qcp, const std::string& raw, std::vector<int16_t>& out) {
    const std::string cmd =
        "ffmpeg -nostdin -v error -y -i '" + qcp + "' -f s16le -ac 1 '" + raw + "' 2>/dev/null";
    if (std::system(cmd.c_str()) != 0)
        return false;
    const std::vector<uint8_t> b = readAll(raw);
    out.resize(b.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Encoder settings can be varied from the command line to tune them.
    pvconv::EncoderOptions opt;
    std::vector<std::string> clips;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            const std::string prefix = std::string(name) + "=";
            return a.rfind(prefix, 0) == 0 ? a.c_str() + prefix.size() : nullptr;
        };
        if (const char* v = value("--gamma1"))
            opt.gamma1 = std::strtof(v, nullptr);
        else if (const char* v = value("--gamma2"))
            opt.gamma2 = std::strtof(v, nullptr);
        else if (const char* v = value("--prefilter"))
            opt.trackPrefilter = std::atoi(v) != 0;
        else if (const char* v = value("--centre"))
            opt.analysisCentre = std::atoi(v);
        else
            clips.push_back(a);
    }
    if (clips.empty()) {
        std::fprintf(stderr, "usage: pvconv_bench [--gamma1=G] [--gamma2=G] [--centre=N] "
                             "CLIP.wav...\n");
        return 2;
    }
    const auto tmp = std::filesystem::temp_directory_path();
    std::printf("%-28s %8s %9s %8s %12s\n", "clip", "seconds", "segSNR", "LSD", "speed");
    int failures = 0;
    double snrSum = 0.0, lsdSum = 0.0;
    int speechClips = 0;
    for (const std::string& path : clips) {
        const std::vector<uint8_t> bytes = readAll(path);
        const pvconv::WavAudio wav = pvconv::parseWav(bytes.data(), bytes.size());
        if (!wav.ok) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), wav.error.c_str());
            ++failures;
            continue;
        }
        const double seconds = static_cast<double>(wav.samples.size()) / 8000.0;
        // Repeat short clips so the timing covers at least a few seconds of audio.
        const int runs = std::max(1, static_cast<int>(20.0 / seconds));
        std::vector<pvconv::Packet> packets;
        // Processor time of this process: one core, and other load on the
        // machine does not count against the encoder.
        const std::clock_t t0 = std::clock();
        for (int r = 0; r < runs; ++r) {
            pvconv::Encoder enc(opt);
            packets = enc.encode(wav.samples);
        }
        const double elapsed = static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
        const double speed = seconds * runs / elapsed;

        const std::string stem = std::filesystem::path(path).stem().string();
        const std::string qcp = (tmp / ("pvconv_bench_" + stem + ".qcp")).string();
        const std::string raw = (tmp / ("pvconv_bench_" + stem + ".raw")).string();
        pvconv::writeFileAtomically(qcp, pvconv::buildQcp(packets));
        std::vector<int16_t> decoded;
        if (!decodeWithFfmpeg(qcp, raw, decoded)) {
            std::fprintf(stderr, "%s: ffmpeg could not decode %s\n", path.c_str(), qcp.c_str());
            ++failures;
            continue;
        }
        const pvconv::Quality q = pvconv::measureQuality(wav.samples, decoded);
        std::printf("%-28s %8.2f %6.2f dB %5.2f dB %9.0fx RT\n", stem.c_str(), seconds, q.segSnrDb,
                    q.lsdDb, speed);
        if (stem.rfind("speech", 0) == 0) {
            snrSum += q.segSnrDb;
            lsdSum += q.lsdDb;
            ++speechClips;
        }
        std::filesystem::remove(qcp);
        std::filesystem::remove(raw);
    }
    if (speechClips)
        std::printf("%-28s %8s %6.2f dB %5.2f dB\n", "mean of speech clips", "",
                    snrSum / speechClips, lsdSum / speechClips);
    return failures ? 1 : 0;
}

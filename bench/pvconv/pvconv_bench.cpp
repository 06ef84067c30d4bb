// Quality and speed benchmark of the QCELP-13K encoder: for each WAV clip,
// encodes it in-process (timed over several runs), decodes the QCP with
// ffmpeg, and prints segmental SNR, log-spectral distance and speed.
#include "encoder.h"
#include "qcp_writer.h"
#include "quality.h"
#include "wav_reader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
    if (argc < 2) {
        std::fprintf(stderr, "usage: pvconv_bench CLIP.wav...\n");
        return 2;
    }
    const auto tmp = std::filesystem::temp_directory_path();
    std::printf("%-28s %8s %9s %8s %12s\n", "clip", "seconds", "segSNR", "LSD", "speed");
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string path = argv[i];
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
        std::vector<pvconv::FullRatePayload> packets;
        const auto t0 = std::chrono::steady_clock::now();
        for (int r = 0; r < runs; ++r) {
            pvconv::Encoder enc;
            packets = enc.encode(wav.samples);
        }
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
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
        std::filesystem::remove(qcp);
        std::filesystem::remove(raw);
    }
    return failures ? 1 : 0;
}

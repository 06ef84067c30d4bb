#include "media/codecs/Codecs.h"

#include "engine/AudioPaths.h"
#include "engine/FileOps.h"
#include "engine/Teardown.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <mutex>

extern "C" {
#include <ebur128.h>
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace tess::media::codec {

namespace {

constexpr int kRate = 8000;

// FFmpeg's own lines would go to our stderr; the last error is kept instead, per
// thread, to name the reason in our message.
thread_local QString lastAvError;

void avLog(void*, int level, const char* fmt, va_list args) {
    if (level > AV_LOG_ERROR)
        return;
    char line[512];
    std::vsnprintf(line, sizeof line, fmt, args);
    lastAvError = QString::fromUtf8(line).trimmed();
}

void avInit() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(avLog); });
}

QString avError(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

bool cancelled(const std::atomic_bool* cancel) {
    return cancel && cancel->load();
}

// One audio stream of a file, decoded and made 8 kHz mono float.
class Decoder {
public:
    ~Decoder() {
        swr_free(&swr_);
        avcodec_free_context(&codec_);
        avformat_close_input(&format_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
    }

    // Empty, or why the file cannot be decoded.
    QString open(const QString& path) {
        avInit();
        lastAvError.clear();
        const QFileInfo info(path);
        if (!info.exists())
            return QStringLiteral("no such file");
        if (info.isDir())
            return QStringLiteral("is a folder, not a sound file");
        if (info.size() == 0)
            return QStringLiteral("empty file (0 bytes)");
        int r =
            avformat_open_input(&format_, QFile::encodeName(path).constData(), nullptr, nullptr);
        if (r < 0)
            return QStringLiteral("not a sound file FFmpeg can read (%1)").arg(avError(r));
        if ((r = avformat_find_stream_info(format_, nullptr)) < 0)
            return QStringLiteral("cannot read its streams (%1)").arg(avError(r));
        const AVCodec* codec = nullptr;
        stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (stream_ < 0 || codec == nullptr)
            return stream_ == AVERROR_DECODER_NOT_FOUND
                       ? QStringLiteral("no decoder for its audio")
                       : QStringLiteral("no audio in it (a %1 file)")
                             .arg(QString::fromUtf8(format_->iformat->name));
        codec_ = avcodec_alloc_context3(codec);
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (!codec_ || !frame_ || !packet_)
            return QStringLiteral("out of memory");
        avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar);
        if ((r = avcodec_open2(codec_, codec, nullptr)) < 0)
            return QStringLiteral("cannot open its %1 decoder (%2)")
                .arg(QString::fromUtf8(codec->name), avError(r));
        codecName_ = QString::fromUtf8(codec->name);
        return {};
    }

    // Appends up to about one packet's worth of samples; false at the end or on an
    // error (error() then set).
    bool pull(std::vector<float>& out) {
        while (!ended_) {
            const int r = avcodec_receive_frame(codec_, frame_);
            if (r == 0) {
                const bool ok = convert(frame_, out);
                av_frame_unref(frame_);
                if (!ok)
                    return false;
                if (!out.empty())
                    return true;
                continue;
            }
            if (r == AVERROR_EOF) {
                ended_ = true;
                if (!checkLength())
                    return false;
                break;
            }
            if (r != AVERROR(EAGAIN))
                return fail(r);
            if (flushing_)
                continue;
            const int rr = av_read_frame(format_, packet_);
            if (rr == AVERROR_EOF) {
                flushing_ = true;
                avcodec_send_packet(codec_, nullptr);
                continue;
            }
            if (rr < 0)
                return fail(rr);
            if (packet_->stream_index == stream_) {
                const int s = avcodec_send_packet(codec_, packet_);
                if (s < 0 && s != AVERROR(EAGAIN)) {
                    av_packet_unref(packet_);
                    return fail(s);
                }
            }
            av_packet_unref(packet_);
        }
        // The resampler's tail.
        if (swr_ && !swrFlushed_) {
            swrFlushed_ = true;
            return drainSwr(out) && !out.empty();
        }
        return false;
    }

    const QString& error() const { return error_; }
    double decodedSeconds() const { return static_cast<double>(made_) / kRate; }

private:
    // A file that ends well before the length its header declares (an MP3's Xing
    // frame count, a container's duration) was cut short: its end is missing.
    bool checkLength() {
        if (format_->duration == AV_NOPTS_VALUE || format_->duration <= 0 ||
            format_->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)
            return true;
        const double declared = static_cast<double>(format_->duration) / AV_TIME_BASE;
        // The resampler still holds a few milliseconds.
        if (decodedSeconds() + 0.5 >= declared)
            return true;
        error_ = QStringLiteral("cut short: its audio ends at %1 s, its header says %2 s")
                     .arg(decodedSeconds(), 0, 'f', 1)
                     .arg(declared, 0, 'f', 1);
        return false;
    }

    bool fail(int code) {
        error_ = QStringLiteral("damaged or cut short near %1 s (%2)")
                     .arg(decodedSeconds(), 0, 'f', 1)
                     .arg(lastAvError.isEmpty() ? avError(code) : lastAvError);
        return false;
    }

    bool setUp(const AVFrame* f) {
        swr_free(&swr_);
        AVChannelLayout in{};
        if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || f->ch_layout.nb_channels <= 0)
            av_channel_layout_default(&in, std::max(1, f->ch_layout.nb_channels));
        else
            av_channel_layout_copy(&in, &f->ch_layout);
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        int r =
            swr_alloc_set_opts2(&swr_, &mono, AV_SAMPLE_FMT_FLT, kRate, &in,
                                static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&in);
        if (r < 0)
            return fail(r);
        // soxr at 28 bits: its very high quality, as pvconv resamples WAV files.
        av_opt_set(swr_, "resampler", "soxr", 0);
        av_opt_set_int(swr_, "precision", 28, 0);
        // Channels are mixed with coefficients summing to 1 (stereo: the mean, as pvconv
        // mixes a WAV file), so the level of a sound in every channel stays.
        av_opt_set_double(swr_, "rematrix_maxval", 1.0, 0);
        if ((r = swr_init(swr_)) < 0)
            return fail(r);
        inRate_ = f->sample_rate;
        inFormat_ = f->format;
        inChannels_ = f->ch_layout.nb_channels;
        return true;
    }

    bool convert(const AVFrame* f, std::vector<float>& out) {
        if (f->sample_rate <= 0 || f->nb_samples <= 0)
            return true;
        if (!swr_ || f->sample_rate != inRate_ || f->format != inFormat_ ||
            f->ch_layout.nb_channels != inChannels_) {
            if (swr_ && !drainSwr(out))
                return false;
            if (!setUp(f))
                return false;
        }
        const int room = swr_get_out_samples(swr_, f->nb_samples);
        if (room < 0)
            return fail(room);
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(room));
        auto* dst = reinterpret_cast<uint8_t*>(out.data() + at);
        const int n = swr_convert(swr_, &dst, room, const_cast<const uint8_t**>(f->extended_data),
                                  f->nb_samples);
        if (n < 0)
            return fail(n);
        out.resize(at + static_cast<size_t>(n));
        made_ += static_cast<uint64_t>(n);
        return true;
    }

    bool drainSwr(std::vector<float>& out) {
        for (;;) {
            const size_t at = out.size();
            out.resize(at + 4096);
            auto* dst = reinterpret_cast<uint8_t*>(out.data() + at);
            const int n = swr_convert(swr_, &dst, 4096, nullptr, 0);
            out.resize(at + static_cast<size_t>(std::max(n, 0)));
            if (n < 0)
                return fail(n);
            made_ += static_cast<uint64_t>(n);
            if (n == 0)
                return true;
        }
    }

    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwrContext* swr_ = nullptr;
    int stream_ = -1;
    int inRate_ = 0, inFormat_ = -1, inChannels_ = 0;
    bool flushing_ = false, ended_ = false, swrFlushed_ = false;
    uint64_t made_ = 0;
    QString error_, codecName_;
};

// The part of the source the ringtone takes, as sample indices at 8 kHz.
struct Window {
    uint64_t start = 0;
    uint64_t length = 0; // 0: to the end
    bool contains(uint64_t i) const { return i >= start && (length == 0 || i < start + length); }
    bool past(uint64_t i) const { return length != 0 && i >= start + length; }
};

Window windowOf(const SoundOptions& o) {
    Window w;
    w.start = static_cast<uint64_t>(std::llround(std::max(0.0, o.startSeconds) * kRate));
    w.length = o.maxSeconds > 0 ? static_cast<uint64_t>(std::llround(o.maxSeconds * kRate)) : 0;
    return w;
}

// Integrated loudness and true peak of the window, from a first decoding pass.
struct Loudness {
    double lufs = -HUGE_VAL;
    double truePeak = 0; // linear
    QString reason;
};

Loudness measure(const QString& source, const Window& w, const std::atomic_bool* cancel) {
    Loudness m;
    Decoder d;
    if (QString why = d.open(source); !why.isEmpty()) {
        m.reason = why;
        return m;
    }
    std::unique_ptr<ebur128_state, void (*)(ebur128_state*)> st(
        ebur128_init(1, kRate, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK),
        [](ebur128_state* s) { ebur128_destroy(&s); });
    if (!st) {
        m.reason = QStringLiteral("out of memory");
        return m;
    }
    std::vector<float> block;
    uint64_t at = 0;
    while (!w.past(at)) {
        if (cancelled(cancel)) {
            m.reason = QStringLiteral("cancelled");
            return m;
        }
        block.clear();
        if (!d.pull(block))
            break;
        // The part of this block inside the window.
        const uint64_t end = at + block.size();
        const uint64_t from = std::max(at, w.start);
        const uint64_t to = w.length ? std::min(end, w.start + w.length) : end;
        if (to > from)
            ebur128_add_frames_float(st.get(), block.data() + (from - at), to - from);
        at = end;
    }
    if (!d.error().isEmpty()) {
        m.reason = d.error();
        return m;
    }
    if (at <= w.start) {
        m.reason = at == 0 ? QStringLiteral("no audio could be decoded from it")
                           : QStringLiteral("it is only %1 s long, shorter than the start at %2 s")
                                 .arg(static_cast<double>(at) / kRate, 0, 'f', 1)
                                 .arg(static_cast<double>(w.start) / kRate, 0, 'f', 1);
        return m;
    }
    ebur128_loudness_global(st.get(), &m.lufs);
    ebur128_true_peak(st.get(), 0, &m.truePeak);
    return m;
}

#ifndef _WIN32

// A private folder for this run inside the conversions' temporary folder.
QString makeRunFolder(QString* reason) {
    const QString base = AudioPaths::tempFolder();
    if (const FileResult r = AudioPaths::prepareTempFolder(base); !r) {
        *reason = QStringLiteral("the temporary folder %1 cannot be used: %2").arg(base, r.reason);
        return {};
    }
    QByteArray pattern = QFile::encodeName(base) + "/run-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        *reason = QStringLiteral("cannot make a folder in %1: %2")
                      .arg(base, QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    return QFile::decodeName(pattern);
}

// pvconv running on the pipe; killed and reaped unless it ended by itself.
class Child {
public:
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int st = 0;
            ::waitpid(pid_, &st, 0);
            Teardown::dropChild(pid_);
        }
        if (err_ >= 0)
            ::close(err_);
    }
    QString start(const QString& program, const QStringList& arguments) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return QString::fromLocal8Bit(std::strerror(errno));
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
        const QByteArray prog = QFile::encodeName(program);
        QList<QByteArray> args{prog};
        for (const QString& a : arguments)
            args << QFile::encodeName(a);
        std::vector<char*> argv;
        for (QByteArray& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int r = ::posix_spawn(&pid_, prog.constData(), &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(fds[1]);
        err_ = fds[0];
        ::fcntl(err_, F_SETFL, O_NONBLOCK);
        if (r != 0) {
            pid_ = -1;
            return QString::fromLocal8Bit(std::strerror(r));
        }
        Teardown::addChild(pid_);
        return {};
    }
    // True when it has ended (status then kept).
    bool ended() {
        if (pid_ <= 0)
            return true;
        readErrors();
        int st = 0;
        if (::waitpid(pid_, &st, WNOHANG) == pid_) {
            Teardown::dropChild(pid_);
            pid_ = -1;
            status_ = st;
            readErrors();
            return true;
        }
        return false;
    }
    bool succeeded() const { return WIFEXITED(status_) && WEXITSTATUS(status_) == 0; }
    // Its one line of reason, without the "pvconv: FILE: " it starts with.
    QString reason() const {
        QString line = QString::fromLocal8Bit(errors_).trimmed().section(QLatin1Char('\n'), 0, 0);
        const int cut = line.indexOf(QLatin1String(": "), line.indexOf(QLatin1String(": ")) + 2);
        if (line.startsWith(QLatin1String("pvconv: ")) && cut > 0)
            line = line.mid(cut + 2);
        if (line.isEmpty())
            line = WIFSIGNALED(status_)
                       ? QStringLiteral("killed by signal %1").arg(WTERMSIG(status_))
                       : QStringLiteral("exit status %1").arg(WEXITSTATUS(status_));
        return line;
    }

private:
    void readErrors() {
        char buf[1024];
        ssize_t n;
        while (err_ >= 0 && (n = ::read(err_, buf, sizeof buf)) > 0)
            if (errors_.size() < 4096)
                errors_.append(buf, static_cast<int>(n));
    }
    pid_t pid_ = -1;
    int err_ = -1;
    int status_ = 0;
    QByteArray errors_;
};

// Keeps SIGPIPE from killing us when pvconv stops reading: the write then fails with
// EPIPE, and a pending SIGPIPE of this thread is taken back before unblocking.
class NoSigpipe {
public:
    NoSigpipe() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~NoSigpipe() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        const timespec zero{0, 0};
        while (sigtimedwait(&set, nullptr, &zero) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t old_;
};

void le16(QByteArray& b, unsigned v) {
    b.append(static_cast<char>(v & 0xFF)).append(static_cast<char>((v >> 8) & 0xFF));
}
void le32(QByteArray& b, uint32_t v) {
    le16(b, v & 0xFFFF);
    le16(b, v >> 16);
}

// A WAV header for a stream of unknown length: the sizes claim the most there can be,
// and pvconv takes the samples up to the pipe's end.
QByteArray streamingWavHeader() {
    QByteArray h("RIFF");
    le32(h, 0xFFFFFFFFu);
    h.append("WAVEfmt ");
    le32(h, 16);
    le16(h, 1);
    le16(h, 1);
    le32(h, kRate);
    le32(h, kRate * 2);
    le16(h, 2);
    le16(h, 16);
    h.append("data");
    le32(h, 0xFFFFFFF0u);
    return h;
}

#endif

// Levels, trim and fade on the way to the encoder. The last fade's length is held
// back until it is known whether the source goes on past the window (then it fades).
class Shaper {
public:
    Shaper(const Window& w, double gain, double fadeSeconds) : w_(w), gain_(gain) {
        fade_ = w.length ? static_cast<size_t>(std::min<double>(std::max(0.0, fadeSeconds) * kRate,
                                                                static_cast<double>(w.length) / 4))
                         : 0;
        fadeIn_ = w.start > 0 ? kRate / 100 : 0; // 10 ms: no click where it was cut
    }
    // Takes decoded samples from source index at; appends ready 16-bit samples.
    void push(const float* x, size_t n, uint64_t at, std::vector<int16_t>& out) {
        for (size_t i = 0; i < n; ++i, ++at) {
            if (!w_.contains(at)) {
                cut_ = cut_ || w_.past(at);
                continue;
            }
            double v = x[i] * gain_;
            const uint64_t k = at - w_.start;
            if (k < fadeIn_)
                v *= static_cast<double>(k) / fadeIn_;
            held_.push_back(static_cast<float>(v));
            if (held_.size() > fade_) {
                out.push_back(toS16(held_.front()));
                held_.pop_front();
            }
        }
    }
    void finish(std::vector<int16_t>& out) {
        const size_t n = held_.size();
        for (size_t i = 0; i < n; ++i) {
            // A raised-cosine fade to silence over the held samples when cut.
            const double g =
                cut_ && fade_ ? 0.5 + 0.5 * std::cos(M_PI * static_cast<double>(i + 1) / n) : 1.0;
            out.push_back(toS16(static_cast<float>(held_[i] * g)));
        }
        held_.clear();
    }
    bool cut() const { return cut_; }

private:
    static int16_t toS16(float v) {
        return static_cast<int16_t>(std::clamp(std::lrint(v * 32768.0), -32768L, 32767L));
    }
    Window w_;
    double gain_;
    size_t fade_ = 0;
    uint64_t fadeIn_ = 0;
    bool cut_ = false;
    std::deque<float> held_;
};

} // namespace

bool looksLikeSound(const QString& path) {
    Decoder d;
    return d.open(path).isEmpty();
}

DecodedSound decodeTo8kMono(const QString& path, double maxSeconds) {
    DecodedSound r;
    Decoder d;
    if (r.reason = d.open(path); !r.reason.isEmpty())
        return r;
    const size_t limit = maxSeconds > 0 ? static_cast<size_t>(maxSeconds * kRate) : SIZE_MAX;
    std::vector<float> block;
    while (r.samples.size() < limit) {
        block.clear();
        if (!d.pull(block))
            break;
        for (float v : block)
            r.samples.push_back(
                static_cast<int16_t>(std::clamp(std::lrint(v * 32768.0), -32768L, 32767L)));
    }
    if (r.samples.size() > limit)
        r.samples.resize(limit);
    r.reason = d.error();
    return r;
}

SoundResult makeRingtone(const QString& source, const QString& target, const SoundOptions& options,
                         const QString& pvconvPath, const std::atomic_bool* cancel) {
    SoundResult res;
    auto fail = [&](SoundStage stage, const QString& why) {
        res.ok = false;
        res.stage = stage;
        res.reason = why;
        return res;
    };
    const Window w = windowOf(options);
    double gain = 1.0;
    if (options.normalize) {
        const Loudness m = measure(source, w, cancel);
        if (!m.reason.isEmpty())
            return fail(cancelled(cancel) ? SoundStage::Cancelled : SoundStage::Input, m.reason);
        res.loudness = m.lufs;
        // Silence (or nearly) stays as it is rather than being raised into noise.
        double db = std::isfinite(m.lufs) && m.lufs > -70 ? options.targetLufs - m.lufs : 0.0;
        if (m.truePeak > 0)
            db = std::min(db, options.truePeakDb - 20 * std::log10(m.truePeak));
        res.gainDb = db;
        gain = std::pow(10.0, db / 20);
    }
    Decoder d;
    if (QString why = d.open(source); !why.isEmpty())
        return fail(SoundStage::Input, why);

#ifdef _WIN32
    Q_UNUSED(target);
    Q_UNUSED(pvconvPath);
    return fail(SoundStage::Start, QStringLiteral("not available on this system"));
#else
    QString why;
    const QString folder = makeRunFolder(&why);
    if (folder.isEmpty())
        return fail(SoundStage::TempFolder, why);
    // Removed at the end, or by the signal clean-up should a signal end the process.
    struct Remove {
        QString f;
        int parent = -1, self = -1;
        ~Remove() {
            if (self >= 0) {
                Teardown::dropFolder(self);
                ::close(self);
            }
            if (parent >= 0)
                ::close(parent);
            QDir(f).removeRecursively();
        }
    } remove{folder};
    remove.parent = ::open(QFile::encodeName(QFileInfo(folder).path()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    remove.self = ::open(QFile::encodeName(folder).constData(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (remove.parent >= 0 && remove.self >= 0)
        Teardown::addFolder(remove.parent, QFile::encodeName(QFileInfo(folder).fileName()),
                            remove.self);
    const QString fifo = AudioPaths::tempWavIn(folder);
    const QString tempQcp = AudioPaths::tempQcpIn(folder);
    if (::mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0)
        return fail(SoundStage::TempFolder,
                    QStringLiteral("cannot make a pipe in %1: %2")
                        .arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
    Child child;
    // A pipe has no "beside it": the output is named, and "--" ends the options.
    if (QString e =
            child.start(pvconvPath, {QStringLiteral("-o"), tempQcp, QStringLiteral("--"), fifo});
        !e.isEmpty())
        return fail(SoundStage::Start,
                    QStringLiteral("the converter %1 could not be started: %2").arg(pvconvPath, e));

    // pvconv opens the pipe once it runs; until then opening ours says ENXIO.
    int fd = -1;
    for (int tries = 0; fd < 0; ++tries) {
        fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            break;
        if (errno != ENXIO && errno != EINTR)
            return fail(SoundStage::Start, QString::fromLocal8Bit(std::strerror(errno)));
        if (child.ended())
            return fail(SoundStage::Converter, child.reason());
        if (cancelled(cancel))
            return fail(SoundStage::Cancelled, QStringLiteral("cancelled"));
        if (tries > 10000) // 20 s without pvconv opening its input
            return fail(SoundStage::Start, QStringLiteral("the converter did not start reading"));
        ::usleep(2000);
    }
    // A deeper pipe lets the decoder run ahead in bigger strides: fewer wake-ups of either side.
    ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
    struct Close {
        int& fd;
        ~Close() {
            if (fd >= 0)
                ::close(fd);
        }
    } closeFd{fd};
    NoSigpipe noSigpipe;

    // Writes all of bytes, waiting in short slices so that a cancel or a converter that
    // died is noticed; false with why set otherwise.
    // A converter that takes nothing for this long has stopped: it is ended.
    constexpr int kStalledSlices = 300; // of 100 ms
    auto writeAll = [&](const char* p, size_t n) -> bool {
        int idle = 0;
        while (n > 0) {
            const ssize_t k = ::write(fd, p, n);
            if (k > 0) {
                p += k;
                n -= static_cast<size_t>(k);
                idle = 0;
                continue;
            }
            if (++idle > kStalledSlices) {
                why = QStringLiteral("the converter stopped reading its input");
                return false;
            }
            if (k < 0 && errno == EPIPE) {
                why = QStringLiteral("pipe");
                return false;
            }
            if (k < 0 && errno != EAGAIN && errno != EINTR) {
                why = QString::fromLocal8Bit(std::strerror(errno));
                return false;
            }
            if (cancelled(cancel)) {
                why = QStringLiteral("cancelled");
                return false;
            }
            pollfd pfd{fd, POLLOUT, 0};
            ::poll(&pfd, 1, 100);
            if (child.ended()) {
                why = QStringLiteral("pipe");
                return false;
            }
        }
        return true;
    };

    const QByteArray header = streamingWavHeader();
    bool ok = writeAll(header.constData(), static_cast<size_t>(header.size()));
    Shaper shaper(w, gain, options.fadeSeconds);
    std::vector<float> block;
    std::vector<int16_t> ready;
    uint64_t at = 0, written = 0;
    while (ok && !w.past(at)) {
        if (cancelled(cancel)) {
            why = QStringLiteral("cancelled");
            ok = false;
            break;
        }
        block.clear();
        if (!d.pull(block))
            break;
        ready.clear();
        shaper.push(block.data(), block.size(), at, ready);
        at += block.size();
        ok = writeAll(reinterpret_cast<const char*>(ready.data()), ready.size() * 2);
        written += ready.size();
    }
    if (ok && !d.error().isEmpty()) {
        why = d.error();
        return fail(SoundStage::Input, why);
    }
    if (ok) {
        ready.clear();
        shaper.finish(ready);
        ok = writeAll(reinterpret_cast<const char*>(ready.data()), ready.size() * 2);
        written += ready.size();
    }
    if (!ok) {
        if (why == QLatin1String("cancelled"))
            return fail(SoundStage::Cancelled, why);
        if (why == QLatin1String("pipe")) {
            while (!child.ended())
                ::usleep(2000);
            return fail(SoundStage::Converter, child.reason());
        }
        return fail(SoundStage::Converter, why);
    }
    if (written == 0)
        return fail(SoundStage::Input, at == 0
                                           ? QStringLiteral("no audio could be decoded from it")
                                           : QStringLiteral("nothing of it lies after the start "
                                                            "at %1 s")
                                                 .arg(options.startSeconds));
    ::close(fd);
    fd = -1;
    while (!child.ended()) {
        if (cancelled(cancel))
            return fail(SoundStage::Cancelled, QStringLiteral("cancelled"));
        ::usleep(2000);
    }
    struct stat st {};
    if (!child.succeeded() || ::lstat(QFile::encodeName(tempQcp).constData(), &st) != 0 ||
        !S_ISREG(st.st_mode))
        return fail(SoundStage::Converter, child.reason());
    const FileResult copied = FileOps::copyFile(tempQcp, target, FileOps::SourceLink::Refuse);
    if (!copied)
        return fail(SoundStage::Output,
                    QStringLiteral("cannot write %1: %2").arg(target, copied.reason));
    res.notice = copied.notice;
    res.ok = true;
    res.stage = SoundStage::None;
    res.seconds = static_cast<double>(written) / kRate;
    res.bytes = static_cast<qint64>(st.st_size);
    return res;
#endif
}

} // namespace tess::media::codec

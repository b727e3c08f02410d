#include "platform/capture/stream/StreamDriver.h"
#include "platform/capture/stream/FrameConverter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

namespace qv::capture {

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string AvError(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

// FFmpeg's messages go to standard error like ours, but never with a password in them, and
// only the errors: a camera that stays away would otherwise fill the terminal.
void RedactingLog(void* avcl, int level, const char* fmt, va_list args) {
    if (level > AV_LOG_ERROR) return;
    thread_local int printPrefix = 1;
    char line[1024];
    av_log_format_line2(avcl, level, fmt, args, line, sizeof line, &printPrefix);
    std::string text = RedactText(line);
    if (text.empty()) return;
    std::fprintf(stderr, "quorvex: stream: %s%s", text.c_str(), text.back() == '\n' ? "" : "\n");
}

void InitFfmpegOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_callback(RedactingLog);
        avformat_network_init();
    });
}

// Process-wide queue of connection events.
std::mutex& EventMutex() {
    static std::mutex m;
    return m;
}
std::deque<StreamEvent>& EventQueue() {
    static std::deque<StreamEvent> q;
    return q;
}
constexpr size_t kMaxQueuedEvents = 256;

// Decoding thread: appends one event.
void QueueEvent(const StreamEvent& e) {
    std::lock_guard<std::mutex> lock(EventMutex());
    auto& q = EventQueue();
    if (q.size() == kMaxQueuedEvents) q.pop_front();
    q.push_back(e);
}

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;

// A 4:2:2 source is handed out as YUY2: no colour is lost and no conversion to RGB is paid.
bool IsYuv422(int pixelFormat) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pixelFormat));
    return d && !(d->flags & AV_PIX_FMT_FLAG_RGB) && d->nb_components >= 3 &&
           d->log2_chroma_w == 1 && d->log2_chroma_h == 0;
}

VideoFormat MakeFormat(uint32_t w, uint32_t h, bool yuy2) {
    VideoFormat f;
    f.width = w;
    f.height = h;
    f.bitCount = yuy2 ? 16 : 24;
    f.compression = yuy2 ? bitmap::kYuy2 : bitmap::kRgb;
    f.imageSize = FrameBytes(f);
    return f;
}

// One opened source with its decoder.
struct Session {
    FormatPtr fmt;
    CodecPtr dec;
    int videoIndex = -1;
    AVRational timeBase{1, 1};
    double frameSeconds = 0.04;
    bool hasDuration = false;
};

bool OpenSession(const std::string& url, bool local, const AVIOInterruptCB* interrupt,
                 int ioTimeoutMs, Session& s, std::string& error) {
    AVFormatContext* ctx = avformat_alloc_context();
    if (!ctx) {
        error = "out of memory";
        return false;
    }
    if (interrupt) ctx->interrupt_callback = *interrupt;
    AVDictionary* opts = nullptr;
    if (!local) {
        const std::string us = std::to_string(static_cast<int64_t>(ioTimeoutMs) * 1000);
        av_dict_set(&opts, "rw_timeout", us.c_str(), 0);
        if (url.rfind("rtsp", 0) == 0 || url.rfind("RTSP", 0) == 0) {
            av_dict_set(&opts, "timeout", us.c_str(), 0);
            av_dict_set(&opts, "rtsp_flags", "prefer_tcp", 0);
        }
        av_dict_set(&opts, "analyzeduration", "2000000", 0);
    }
    int r = avformat_open_input(&ctx, url.c_str(), nullptr, &opts);
    av_dict_free(&opts);
    if (r < 0) {
        error = "cannot open: " + AvError(r);
        return false;  // avformat_open_input freed ctx
    }
    s.fmt.reset(ctx);
    r = avformat_find_stream_info(ctx, nullptr);
    if (r < 0) {
        error = "cannot read the stream: " + AvError(r);
        return false;
    }
    const AVCodec* codec = nullptr;
    s.videoIndex = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (s.videoIndex < 0 || !codec) {
        error = s.videoIndex == AVERROR_DECODER_NOT_FOUND ? "no decoder for its video"
                                                          : "no video in it";
        return false;
    }
    AVStream* st = ctx->streams[s.videoIndex];
    s.dec.reset(avcodec_alloc_context3(codec));
    if (!s.dec || avcodec_parameters_to_context(s.dec.get(), st->codecpar) < 0) {
        error = "cannot set up the decoder";
        return false;
    }
    // One thread: a camera picture decodes in a few milliseconds, frame threads would add a
    // picture of delay each, and the cores are better left to the engine.
    s.dec->thread_count = 1;
    r = avcodec_open2(s.dec.get(), codec, nullptr);
    if (r < 0) {
        error = "cannot open the decoder: " + AvError(r);
        return false;
    }
    s.timeBase = st->time_base;
    const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) s.frameSeconds = av_q2d(av_inv_q(rate));
    s.frameSeconds = std::clamp(s.frameSeconds, 0.001, 2.0);
    s.hasDuration = ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0;
    return true;
}

bool SeekToStart(Session& s) {
    const int64_t start = s.fmt->start_time != AV_NOPTS_VALUE ? s.fmt->start_time : 0;
    if (avformat_seek_file(s.fmt.get(), -1, INT64_MIN, start, start, 0) < 0 &&
        av_seek_frame(s.fmt.get(), s.videoIndex, 0, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    avcodec_flush_buffers(s.dec.get());
    return true;
}

}  // namespace

struct StreamDriver::Impl {
    std::string url;
    std::string shownUrl;
    StreamOptions options;
    bool local = false;

    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<int64_t> deadlineMs{0};

    mutable std::mutex mu;
    std::condition_variable cv;
    // Guarded by mu.
    VideoFormat delivered;  // what Format() says and TakeFrame hands out
    VideoFormat target;     // what the decoding thread converts to
    std::vector<uint8_t> latest;
    VideoFormat latestFormat;
    bool fresh = false;
    bool nativeKnown = false;
    uint32_t nativeWidth = 0, nativeHeight = 0;
    bool native422 = false;
    bool firstFrame = false;
    bool firstFailure = false;

    std::atomic<bool> connected{false};
    std::atomic<LinkState> link{LinkState::Connecting};
    std::atomic<uint32_t> losses{0};
    std::atomic<uint32_t> restorations{0};
    std::atomic<uint64_t> frames{0};

    // Decoding thread only.
    enum class State { Starting, Up, Down };
    State state = State::Starting;
    FrameConverter converter;
    std::vector<uint8_t> work;
    bool clockSet = false;
    double clockBase = 0;      // seconds: wall clock minus stream time
    double lastFrameTime = 0;  // stream time of the last paced frame

    static int Interrupt(void* opaque) {
        auto* self = static_cast<Impl*>(opaque);
        return self->stop.load() || NowMs() > self->deadlineMs.load() ? 1 : 0;
    }

    // Decoding thread: waits ms unless the driver is closing. False when closing.
    bool Sleep(int64_t ms) {
        std::unique_lock<std::mutex> lock(mu);
        return !cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop.load(); });
    }

    void Emit(StreamEvent::Kind kind, const std::string& detail) {
        StreamEvent e;
        e.kind = kind;
        e.name = options.name;
        e.url = shownUrl;
        e.detail = RedactText(detail);
        QueueEvent(e);
        if (options.onEvent) options.onEvent(e);
    }

    void GoDown(const std::string& why) {
        connected.store(false);
        if (state == State::Down) return;
        state = State::Down;
        link.store(LinkState::Lost);
        losses.fetch_add(1);
        Emit(StreamEvent::Kind::Lost, why);
    }

    void GoUp() {
        if (state == State::Up) return;
        const bool wasDown = state == State::Down;
        state = State::Up;
        link.store(LinkState::Live);
        connected.store(true);
        if (wasDown) {
            restorations.fetch_add(1);
            Emit(StreamEvent::Kind::Restored, "");
        }
    }

    // Sleeps until the frame's time for sources that have a timeline of their own (files and
    // recordings); live streams come at their own pace. False when closing.
    bool Pace(const Session& s, const AVFrame* f) {
        const bool paced = local || s.hasDuration;
        if (!paced) return true;
        const double now = NowMs() / 1000.0;
        double t;
        if (f->best_effort_timestamp != AV_NOPTS_VALUE)
            t = f->best_effort_timestamp * av_q2d(s.timeBase);
        else
            t = (clockSet ? (now - clockBase) : 0) + s.frameSeconds;
        // The loop back to the start of a short file jumps back by less than the tolerance
        // below: any step back starts the clock anew.
        if (!clockSet || t < lastFrameTime) {
            clockBase = now - t;
            clockSet = true;
            lastFrameTime = t;
            return true;
        }
        lastFrameTime = t;
        const double wait = clockBase + t - now;
        // A jump (the loop back to the start, a gap, falling behind) starts the clock anew.
        if (wait < -1.0 || wait > 2.0) {
            clockBase = now - t;
            if (wait > 2.0) return Sleep(static_cast<int64_t>(s.frameSeconds * 1000));
            return true;
        }
        if (wait > 0) return Sleep(static_cast<int64_t>(wait * 1000));
        return true;
    }

    // Decoding thread: converts and publishes one decoded picture.
    bool Deliver(const Session& s, const AVFrame* f) {
        VideoFormat out;
        {
            std::lock_guard<std::mutex> lock(mu);
            if (!nativeKnown) {
                nativeKnown = true;
                nativeWidth = static_cast<uint32_t>(f->width);
                nativeHeight = static_cast<uint32_t>(f->height);
                native422 = IsYuv422(f->format) && f->width % 2 == 0;
                target = MakeFormat(nativeWidth, nativeHeight, native422);
            }
            out = target;
        }
        if (!converter.Convert(f, out, work)) return true;
        if (!Pace(s, f)) return false;
        {
            std::lock_guard<std::mutex> lock(mu);
            std::swap(work, latest);
            latestFormat = out;
            fresh = true;
            firstFrame = true;
        }
        frames.fetch_add(1);
        GoUp();
        cv.notify_all();
        return true;
    }

    enum class End { Closing, EndOfStream, Failed };

    // Decoding thread: reads and decodes until the source ends or fails.
    End RunSession(Session& s, std::string& why, uint64_t& delivered) {
        PacketPtr pkt(av_packet_alloc());
        FramePtr frame(av_frame_alloc());
        if (!pkt || !frame) {
            why = "out of memory";
            return End::Failed;
        }
        const bool loops = local || s.hasDuration;
        auto drain = [&]() -> bool {
            while (avcodec_receive_frame(s.dec.get(), frame.get()) == 0) {
                const bool ok = Deliver(s, frame.get());
                av_frame_unref(frame.get());
                if (!ok) return false;
                ++delivered;
            }
            return true;
        };
        while (!stop.load()) {
            deadlineMs.store(NowMs() + options.stallTimeoutMs);
            int r = av_read_frame(s.fmt.get(), pkt.get());
            if (r == AVERROR(EAGAIN)) {
                if (!Sleep(10)) return End::Closing;
                continue;
            }
            if (r == AVERROR_EOF) {
                avcodec_send_packet(s.dec.get(), nullptr);
                if (!drain()) return End::Closing;
                if (loops && delivered > 0 && SeekToStart(s)) continue;
                why = "the stream ended";
                return End::EndOfStream;
            }
            if (r < 0) {
                if (stop.load()) return End::Closing;
                why = r == AVERROR_EXIT
                          ? "no data for " + std::to_string(options.stallTimeoutMs / 1000) + " s"
                          : "read failed: " + AvError(r);
                return End::Failed;
            }
            if (pkt->stream_index == s.videoIndex) {
                r = avcodec_send_packet(s.dec.get(), pkt.get());
                av_packet_unref(pkt.get());
                // A damaged packet costs one picture; the next key frame mends it.
                if (r < 0 && r != AVERROR(EAGAIN)) continue;
                if (!drain()) return End::Closing;
            } else {
                av_packet_unref(pkt.get());
            }
        }
        return End::Closing;
    }

    void Run() {
        const AVIOInterruptCB interrupt{&Impl::Interrupt, this};
        int64_t retryMs = options.firstRetryMs;
        while (!stop.load()) {
            Session s;
            std::string why;
            uint64_t delivered = 0;
            deadlineMs.store(NowMs() + options.connectTimeoutMs);
            End end = End::Failed;
            if (OpenSession(url, local, &interrupt, options.stallTimeoutMs, s, why)) {
                clockSet = false;
                end = RunSession(s, why, delivered);
            }
            if (stop.load() || end == End::Closing) break;
            if (delivered > 0) retryMs = options.firstRetryMs;
            // A recording that played to its end starts again at once.
            if (end == End::EndOfStream && delivered > 0 && (local || s.hasDuration)) continue;
            if (state == State::Starting && local) {
                // Open reports an unplayable file to the caller; nothing to retry.
                std::lock_guard<std::mutex> lock(mu);
                firstFailure = true;
                cv.notify_all();
                return;
            }
            GoDown(why);
            {
                std::lock_guard<std::mutex> lock(mu);
                firstFailure = true;
            }
            cv.notify_all();
            // Whatever the source said, it went away right after connecting: back off too.
            s = Session();
            if (!Sleep(retryMs)) break;
            retryMs = std::min<int64_t>(retryMs * 2, options.maxRetryMs);
        }
    }
};

StreamDriver::StreamDriver(std::string url, StreamOptions options) : impl_(new Impl) {
    InitFfmpegOnce();
    impl_->local = IsLocalFileUrl(url);
    impl_->shownUrl = RedactUrl(url);
    impl_->url = std::move(url);
    impl_->options = std::move(options);
    impl_->options.firstRetryMs = std::max(1, impl_->options.firstRetryMs);
    impl_->options.maxRetryMs = std::max(impl_->options.firstRetryMs, impl_->options.maxRetryMs);
    impl_->delivered = impl_->target = MakeFormat(kFallbackWidth, kFallbackHeight, false);
}

StreamDriver::~StreamDriver() {
    Close();
}

bool StreamDriver::Open() {
    Impl& d = *impl_;
    if (d.thread.joinable()) return false;
    if (d.url.empty()) return false;
    d.stop.store(false);
    d.state = Impl::State::Starting;
    d.link.store(LinkState::Connecting);
    d.thread = std::thread([&d] { d.Run(); });
    bool failed = false;
    {
        std::unique_lock<std::mutex> lock(d.mu);
        d.cv.wait_for(lock, std::chrono::milliseconds(std::max(0, d.options.firstFrameWaitMs)),
                      [&d] { return d.firstFrame || d.firstFailure; });
        failed = !d.firstFrame && d.firstFailure && d.local;
        // The size is known now: the caller sees it before its first frame.
        if (d.firstFrame) d.delivered = d.target;
    }
    if (failed) {
        Close();
        return false;
    }
    return true;
}

void StreamDriver::Close() {
    Impl& d = *impl_;
    {
        std::lock_guard<std::mutex> lock(d.mu);
        d.stop.store(true);
    }
    d.cv.notify_all();
    if (d.thread.joinable()) d.thread.join();
    std::lock_guard<std::mutex> lock(d.mu);
    d.fresh = false;
    d.firstFrame = d.firstFailure = false;
    d.connected.store(false);
}

// Any thread.
VideoFormat StreamDriver::Format() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->delivered;
}

// Any thread.
std::vector<VideoFormat> StreamDriver::Formats() const {
    const Impl& d = *impl_;
    std::lock_guard<std::mutex> lock(d.mu);
    if (!d.nativeKnown) return {d.delivered};
    std::vector<VideoFormat> list;
    for (uint32_t div = 1; div <= 4; div *= 2) {
        const uint32_t w = (d.nativeWidth / div) & ~1u, h = (d.nativeHeight / div) & ~1u;
        if (div > 1 && (w < 160 || h < 120)) break;
        if (d.native422) list.push_back(MakeFormat(w, h, true));
        list.push_back(
            MakeFormat(div == 1 ? d.nativeWidth : w, div == 1 ? d.nativeHeight : h, false));
    }
    return list;
}

// Window thread.
bool StreamDriver::SetFormat(const VideoFormat& format) {
    const std::vector<VideoFormat> offered = Formats();
    if (std::find(offered.begin(), offered.end(), format) == offered.end()) return false;
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->target = impl_->delivered = format;
    impl_->fresh = false;
    return true;
}

// Window thread; the decoding thread fills `latest` under the same lock.
FrameResult StreamDriver::TakeFrame(std::vector<uint8_t>& dest) {
    Impl& d = *impl_;
    std::lock_guard<std::mutex> lock(d.mu);
    if (!d.fresh) return FrameResult::NoFrame;
    d.fresh = false;
    // Pictures converted before a format change are dropped.
    if (!(d.latestFormat == d.target)) return FrameResult::NoFrame;
    d.delivered = d.latestFormat;
    std::swap(dest, d.latest);
    return FrameResult::Frame;
}

LinkState StreamDriver::Link() const {
    return impl_->link.load();
}

bool StreamDriver::Connected() const {
    return impl_->connected.load();
}
uint32_t StreamDriver::Losses() const {
    return impl_->losses.load();
}
uint32_t StreamDriver::Restorations() const {
    return impl_->restorations.load();
}
uint64_t StreamDriver::FramesDecoded() const {
    return impl_->frames.load();
}

// Any thread.
std::vector<StreamEvent> TakeStreamEvents() {
    std::lock_guard<std::mutex> lock(EventMutex());
    std::vector<StreamEvent> out(EventQueue().begin(), EventQueue().end());
    EventQueue().clear();
    return out;
}

DriverEntry StreamDriverEntry(const std::string& name, const std::string& url,
                              StreamOptions options) {
    DriverEntry e;
    e.description = name;
    e.version = RedactUrl(url);
    options.name = name;
    e.create = [url, options]() -> std::unique_ptr<CaptureDriver> {
        return std::make_unique<StreamDriver>(url, options);
    };
    return e;
}

}  // namespace qv::capture

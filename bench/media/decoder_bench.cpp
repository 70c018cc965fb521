// Decoder-thread path (ring record in, 32-bit picture in the channel surface out) for 16
// channels of CIF and D1, H.264 and MPEG-4, beside plain libavcodec decoding of the same
// streams in the same run. The reference delivers what the pipeline delivers: each decoded
// picture converted once by libswscale into a 32-bit picture (B, G, R, A, its fastest 32-bit
// layout, so the reference is not slowed by the fourth byte); its decoding alone (YUV, no
// conversion) is shown beside it. Single thread each, CPU time of that thread, so the figures
// are frames per second per core. The pacing sleeps are stubbed out: they wait for time
// stamps, they do not decode.
//
// Usage: decoder_bench [frames per channel, default 50] [configuration 0-3, default all]
#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "client/foundation/app_state.h"
#include "client/foundation/stats.h"
#include "client/links/decoder_thread.h"
#include "client/links/frame_headers.h"
#include "client/links/video_adjust.h"
#include "client/links/video_decoders.h"
#include "peers/media/media_gen.h"

namespace {

constexpr int kChannels = 16;
constexpr int kRounds = 3;  // timed rounds over the streams; the fastest counts (shared machines)

double thread_cpu_s() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Bytes handed out by malloc (heap and mmapped blocks): what the decoders and buffers hold.
long heap_kib() {
    struct mallinfo2 mi = mallinfo2();
    return long((mi.uordblks + mi.hblkhd) / 1024);
}

uint32_t no_clock() { return 1000; }
void no_sleep(uint32_t) {}
uint32_t stats_clock() { return 5; }

struct Stream {
    std::vector<std::vector<uint8_t>> units;  // per frame
    std::vector<bool> keys;
};

// One stream per channel, each showing its own number.
std::vector<Stream> make_streams(bool h264, int w, int h, int frames, int noise) {
    std::vector<Stream> s(kChannels);
    for (int c = 0; c < kChannels; ++c) {
        std::unique_ptr<media_gen::H264Encoder> he;
        std::unique_ptr<media_gen::Mpeg4Encoder> me;
        if (h264)
            he.reset(new media_gen::H264Encoder(w, h, 30, 25));
        else
            me.reset(new media_gen::Mpeg4Encoder(w, h, 30, 25));
        for (int i = 0; i < frames; ++i) {
            media_gen::Yuv420 p = media_gen::synth_picture(w, h, c + 1, i);
            media_gen::add_sensor_noise(p, noise, uint32_t(c * 1000 + i));
            std::vector<uint8_t> au;
            bool key = false;
            int rc = h264 ? he->encode(p, au, key) : me->encode(p, au, key);
            if (rc != 0) {
                std::fprintf(stderr, "encoder failed\n");
                std::exit(1);
            }
            s[size_t(c)].units.push_back(std::move(au));
            s[size_t(c)].keys.push_back(key);
        }
    }
    return s;
}

std::vector<uint8_t> record_body(bool h264, const std::vector<uint8_t>& au, bool key, int ch, int w, int h, int i) {
    std::vector<uint8_t> b;
    if (h264) {
        FRAME_HEADER fh;
        fh.size = uint32_t(au.size());
        fh.channel = uint8_t(ch);
        fh.frame_type = key ? 1 : 0;
        fh.width = uint16_t(w);
        fh.height = uint16_t(h);
        fh.sec = 100;
        b.resize(FRAME_HEADER_SIZE + au.size());
        encode_frame_header(fh, b.data());
        std::memcpy(b.data() + FRAME_HEADER_SIZE, au.data(), au.size());
    } else {
        PICTURE_HEADER ph;
        ph.size = uint32_t(au.size());
        ph.vop_type = key ? 0 : 1;
        ph.seq_cnt = uint16_t(i % 25);
        ph.channel = uint8_t(ch & 0xF);
        ph.scale = 2;
        ph.hsize = uint16_t(w);
        ph.vsize = uint16_t(h);
        ph.sec = 100;
        b.resize(PICTURE_HEADER_SIZE + au.size());
        encode_picture_header(ph, b.data());
        std::memcpy(b.data() + PICTURE_HEADER_SIZE, au.data(), au.size());
    }
    return b;
}

struct PipelineResult {
    double fps = 0;
    long shown = 0;
    long thread_kib = 0;       // resident after the thread's start (buffers allocated)
    long per_channel_kib = 0;  // resident growth per channel: its decoder, surface, touched buffers
};

PipelineResult run_pipeline(bool h264, int w, int h, const std::vector<Stream>& streams, int frames) {
    const uint8_t proto = h264 ? 'Q' : 'I';
    // 'I' carries a 4-bit channel: 16 channels as two receivers of 8.
    const int receivers = h264 ? 1 : 2, per_rx = kChannels / receivers;
    std::unique_ptr<APP_CONTEXT> ctx(new APP_CONTEXT());
    init_app_context(ctx.get());
    ctx->num_slots = 1;
    ctx->ring_size = DEFAULT_RING_SIZE;
    ctx->slots[0].ring = static_cast<uint8_t*>(std::calloc(DEFAULT_RING_SIZE + 1024, 1));
    ctx->slots[0].mutex = SDL_CreateMutex();
    ctx->num_receivers = receivers;
    for (int r = 0; r < receivers; ++r) {
        RECEIVER_INFO& rx = ctx->receivers[r];
        init_receiver(&rx);
        rx.protocol = proto;
        rx.num_video = uint32_t(per_rx);
        for (int k = 0; k < per_rx; ++k) rx.channels[k].id = rx.channels[k].slot = r * per_rx + k;
    }
    ctx->layout = 1;
    ctx->layouts[1].num_cells = kChannels;
    ctx->playback_speed = 1.0;
    ctx->decoder_state = DECODER_RUNNING;

    // Fresh pools, so every run creates its 16 decoders and its memory can be told apart.
    free_video_decoders();
    init_video_decoders();
    reset_decoder_slots();
    long heap0 = heap_kib();
    DECODER_STATE st;
    decoder_begin(ctx.get(), &st);
    long heap_thread = heap_kib();
    DISPLAY_SLOT& slot = ctx->slots[0];
    PipelineResult res;
    double cpu = 0;
    // The first round creates the decoders and surfaces; only the second one is timed.
    const int warm = std::min(frames, 25);
    double best = 0;
    for (int n = 0; n < warm + kRounds * frames; ++n) {
        const bool timed = n >= warm;
        const int i = timed ? (n - warm) % frames : n;
        if (timed && i == 0) {
            if (cpu > 0 && (best == 0 || cpu < best)) best = cpu;
            cpu = 0;
            res.shown = 0;
        }
        // One frame of every channel into the ring, then drain it through the thread's passes.
        for (int c = 0; c < kChannels; ++c) {
            int r = c / per_rx, k = c % per_rx;
            auto body = record_body(h264, streams[size_t(c)].units[size_t(i)], streams[size_t(c)].keys[size_t(i)], k,
                                    w, h, i);
            body[h264 ? 2 : 30] = uint8_t(r);
            uint32_t len = uint32_t(FRAME_RECORD_HEADER_SIZE + body.size());
            if (slot.write_pos + len >= ctx->ring_size) {
                std::memset(slot.ring + slot.write_pos, 0, ctx->ring_size - slot.write_pos);
                slot.write_pos = 0;
            }
            FRAME_RECORD_HEADER rh;
            rh.protocol = proto;
            rh.media = 'Y';
            rh.size = uint32_t(body.size());
            encode_frame_record_header(rh, slot.ring + slot.write_pos);
            std::memcpy(slot.ring + slot.write_pos + FRAME_RECORD_HEADER_SIZE, body.data(), body.size());
            slot.write_pos += len;
        }
        double t0 = thread_cpu_s();
        for (int c = 0; c < kChannels; ++c)
            if (decoder_pass(&st) == PASS_SHOWN && timed) ++res.shown;
        if (timed) cpu += thread_cpu_s() - t0;
    }
    res.thread_kib = heap_thread - heap0;
    res.per_channel_kib = (heap_kib() - heap_thread) / kChannels;
    if (cpu > 0 && (best == 0 || cpu < best)) best = cpu;
    res.fps = best > 0 ? double(res.shown) / best : 0;
    decoder_end(&st);
    free_app_context(ctx.get());
    return res;
}

struct LavcResult {
    double fps = 0;         // decoded and converted to 32 bits
    double decode_fps = 0;  // decoded only
};

// One pass over the streams: decoding only, or decoding and converting every picture.
double lavc_pass(bool h264, int w, int h, const std::vector<Stream>& streams, int frames, bool convert) {
    const AVCodec* codec = avcodec_find_decoder(h264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4);
    std::vector<AVCodecContext*> ctx(kChannels);
    for (auto& c : ctx) {
        c = avcodec_alloc_context3(codec);
        c->thread_count = 1;
        c->flags |= AV_CODEC_FLAG_LOW_DELAY;
        avcodec_open2(c, codec, nullptr);
    }
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<SwsContext*> sws(kChannels, nullptr);
    std::vector<std::vector<uint8_t>> rgb(kChannels, std::vector<uint8_t>(size_t(w) * h * 4));
    long decoded = 0;
    double cpu = 0;
    std::vector<uint8_t> input;
    const int warm = std::min(frames, 25);
    double best = 0;
    for (int n = 0; n < warm + kRounds * frames; ++n) {
        const bool timed = n >= warm;
        const int i = timed ? (n - warm) % frames : n;
        if (timed && i == 0) {
            if (cpu > 0 && (best == 0 || cpu < best)) best = cpu;
            cpu = 0;
            decoded = 0;
        }
        for (int c = 0; c < kChannels; ++c) {
            const Stream& s = streams[size_t(c)];
            input.clear();
            if (!h264 && s.keys[size_t(i)]) {  // same VOL the client puts in front of key frames
                uint8_t vol[MPEG4_VOL_TEMPLATE_SIZE];
                build_mpeg4_vol(vol, w, h, 2);
                input.assign(vol, vol + sizeof vol);
            }
            input.insert(input.end(), s.units[size_t(i)].begin(), s.units[size_t(i)].end());
            double t0 = thread_cpu_s();
            pkt->data = input.data();
            pkt->size = int(input.size());
            if (avcodec_send_packet(ctx[size_t(c)], pkt) == 0)
                while (avcodec_receive_frame(ctx[size_t(c)], frame) == 0) {
                    if (convert) {
                        SwsContext*& s = sws[size_t(c)];
                        s = sws_getCachedContext(s, frame->width, frame->height, AVPixelFormat(frame->format),
                                                 frame->width, frame->height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr,
                                                 nullptr, nullptr);
                        uint8_t* dst[4] = {rgb[size_t(c)].data(), nullptr, nullptr, nullptr};
                        int stride[4] = {frame->width * 4, 0, 0, 0};
                        if (!s || frame->width * frame->height > w * h ||
                            sws_scale(s, frame->data, frame->linesize, 0, frame->height, dst, stride) !=
                                frame->height)
                            continue;
                    }
                    decoded += timed;
                }
            if (timed) cpu += thread_cpu_s() - t0;
        }
    }
    for (auto* s : sws) sws_freeContext(s);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    for (auto& c : ctx) avcodec_free_context(&c);
    if (cpu > 0 && (best == 0 || cpu < best)) best = cpu;
    return best > 0 ? double(decoded) / best : 0;
}

LavcResult run_libavcodec(bool h264, int w, int h, const std::vector<Stream>& streams, int frames) {
    LavcResult r;
    r.fps = lavc_pass(h264, w, h, streams, frames, true);
    r.decode_fps = lavc_pass(h264, w, h, streams, frames, false);
    return r;
}

// Cost per frame of each picture adjustment at CIF and D1 on a 32-bit picture, beside
// decoding one frame of that size (H.264, from the decode-only pass above) and a memcpy of
// the picture. Each adjustment runs with a non-zero amount, so none takes its no-op path.
template <typename Out>
void adjustment_costs(int frames, Out out_line) {
    out_line("\npicture adjustments, microseconds per 32-bit frame, one core\n");
    out_line("%-4s %10s %10s %10s %10s %10s %10s\n", "size", "bright", "histo", "hue", "contrast", "decode",
             "memcpy");
    struct Size {
        int w, h;
        const char* name;
    } sizes[] = {{352, 288, "CIF"}, {704, 576, "D1"}};
    for (const Size& sz : sizes) {
        const size_t bytes = size_t(sz.w) * sz.h * 4;
        std::vector<uint8_t> pic(bytes), copy(bytes);
        for (size_t i = 0; i < bytes; ++i) pic[i] = uint8_t(i * 7 + i / 4096);
        auto per_frame_us = [&](auto op) {
            double best = 0;
            for (int round = 0; round < kRounds; ++round) {
                const double t0 = thread_cpu_s();
                for (int n = 0; n < 40; ++n) op();
                const double t = (thread_cpu_s() - t0) / 40 * 1e6;
                if (best == 0 || t < best) best = t;
            }
            return best;
        };
        const double bright = per_frame_us([&] { adjust_brightness(pic.data(), sz.w, sz.h, 32, 4); });
        const double histo = per_frame_us([&] { equalize_histogram(pic.data(), sz.w, sz.h, 50, 4); });
        const double hue = per_frame_us([&] { adjust_hue(pic.data(), sz.w, sz.h, 30.0f, 4); });
        const double contrast = per_frame_us([&] { adjust_contrast(pic.data(), sz.w, sz.h, 10, 4); });
        const double mem = per_frame_us([&] { std::memcpy(copy.data(), pic.data(), bytes); });
        auto streams = make_streams(true, sz.w, sz.h, std::min(frames, 25), 0);
        const double fps = lavc_pass(true, sz.w, sz.h, streams, std::min(frames, 25), false);
        out_line("%-4s %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f\n", sz.name, bright, histo, hue, contrast,
                 fps > 0 ? 1e6 / fps : 0.0, mem);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int frames = argc > 1 ? std::max(2, std::atoi(argv[1])) : 50;
    set_decoder_clock(no_clock, no_sleep);
    stats_set_clock(stats_clock);
    // The decoders print progress lines of their own; the table comes last, in one piece.
    char table[4096];
    size_t used = 0;
    auto out_line = [&](const char* fmt, auto... args) {
        if (used < sizeof table) used += size_t(std::snprintf(table + used, sizeof table - used, fmt, args...));
    };
    init_video_decoders();

    out_line("decoder thread path vs plain libavcodec, %d channels x %d frames, one core\n", kChannels,
                 frames);
    out_line("%-8s %-4s %-6s %12s %12s %8s %12s %8s %10s\n", "codec", "size", "noise", "pipeline/s", "lavc+rgb32/s",
             "ratio", "decode only", "ratio", "KiB/chan");
    struct Run {
        bool h264;
        int w, h;
        const char* name;
    } runs[] = {{true, 352, 288, "CIF"}, {true, 704, 576, "D1"}, {false, 352, 288, "CIF"}, {false, 704, 576, "D1"}};
    long thread_kib = 0;
    const int only = argc > 2 ? std::atoi(argv[2]) : -1;  // one configuration (0-3), for profiling
    // Plain synthetic pictures are nearly static and cheap to decode; with sensor noise the
    // decoders work as on camera pictures.
    for (int noise : {0, 6})
        for (const Run& r : runs) {
            if (only >= 0 && &r != &runs[only]) continue;
            auto streams = make_streams(r.h264, r.w, r.h, frames, noise);
            PipelineResult p = run_pipeline(r.h264, r.w, r.h, streams, frames);
            thread_kib = p.thread_kib;
            LavcResult lav = run_libavcodec(r.h264, r.w, r.h, streams, frames);
            out_line("%-8s %-4s %-6s %12.1f %12.1f %7.1f%% %12.1f %7.1f%% %10ld\n", r.h264 ? "H.264" : "MPEG-4",
                     r.name, noise ? "+-6" : "none", p.fps, lav.fps, lav.fps > 0 ? 100.0 * p.fps / lav.fps : 0.0,
                     lav.decode_fps, lav.decode_fps > 0 ? 100.0 * p.fps / lav.decode_fps : 0.0,
                     p.per_channel_kib);
            if (p.shown != long(frames) * kChannels)
                out_line("  (only %ld of %d pictures shown)\n", p.shown, frames * kChannels);
        }
    out_line("ratio: pipeline against libavcodec decoding plus one libswscale conversion to 32 bits (the\n"
             "pipeline's output), then against decoding alone.\n");
    out_line("KiB/chan: memory allocated per channel while decoding (its decoder and its 32-bit surface).\n"
             "per decoder thread: frame buffer %zu KiB, picture buffer %zu KiB (pages become resident only\n"
             "as far as pictures reach); %ld KiB allocated by its start\n",
             DECODER_FRAME_BUFFER_SIZE / 1024, DECODER_PICTURE_BUFFER_SIZE / 1024, thread_kib);
    if (only < 0) adjustment_costs(frames, out_line);
    free_video_decoders();
    std::fputs(table, stdout);
    return 0;
}

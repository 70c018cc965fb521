// tir_dec: header parse, bounded bit reader, intra block decoding with the fixed-point
// Chen-Wang inverse DCT, per-stream pictures and the output conversions. All module state is
// guarded by one lock held for the whole of each exported call.
#define TIR_DEC_BUILD
#include "codecs/tir_dec/tir_dec.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "codecs/tir_dec/tir_vlc.h"

namespace {

constexpr int kMaxSlices = 20;
constexpr size_t kMaxPictures = 64;

// The decoder object: header dialect and what the last header parse found.
class TirDecoder {
public:
    virtual ~TirDecoder() = default;
    int32_t mode = 0;
    uint32_t shift_reg = 0xFFFFFFFFu;
    int32_t width = 0;
    int32_t height = 0;
    int32_t all_blocks = 0;
    int32_t format_code = 0;
    uint16_t extra_value = 0;
};

// One stream's picture, I420, kept between frames so uncoded macroblocks show its last frame.
struct Picture {
    const void* dst = nullptr;
    int32_t format_code = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint64_t last_use = 0;
    std::vector<uint8_t> data;
};

// Reads most significant bit first, never past `len` bytes; missing bits read as 0 and are
// counted, so a caller can tell a slice that ran off the end of its frame.
class BitReader {
public:
    void reset() { *this = BitReader(); }
    void start(const uint8_t* p, size_t len) {
        p_ = p;
        len_ = len;
        pos_ = 0;
        window_ = 0;
        bits_ = 0;
        consumed_ = 0;
    }
    uint32_t peek(int n) {
        if (bits_ < n) refill();
        return static_cast<uint32_t>(window_ >> (64 - n));
    }
    void skip(int n) {
        window_ <<= n;
        bits_ -= n;
        consumed_ += static_cast<uint64_t>(n);
    }
    uint32_t get(int n) {
        const uint32_t v = peek(n);
        skip(n);
        return v;
    }
    bool overrun() const { return consumed_ > static_cast<uint64_t>(len_) * 8; }

private:
    void refill() {
        while (bits_ <= 56) {
            if (pos_ < len_) window_ |= static_cast<uint64_t>(p_[pos_++]) << (56 - bits_);
            bits_ += 8;
        }
    }
    const uint8_t* p_ = nullptr;
    size_t len_ = 0;
    size_t pos_ = 0;
    uint64_t window_ = 0;
    int bits_ = 0;
    uint64_t consumed_ = 0;
};

// One variable-length code entry: run 64 marks the escape, 65 end of block, len 0 no code.
struct VlcEntry {
    uint8_t run = 0;
    uint8_t level = 0;
    uint8_t len = 0;
};
constexpr uint8_t kRunEscape = 64;
constexpr uint8_t kRunEob = 65;

// The eight sub-tables, each covering one range of the 16-bit peek with the resolution that
// the longest code in that range needs.
struct VlcRange {
    uint32_t low;   // smallest peek value of the range
    int shift;      // peek >> shift indexes the sub-table
    int count;
};
constexpr VlcRange kRanges[8] = {
    {0x4000, 12, 12}, {1024, 8, 60}, {512, 6, 8}, {256, 4, 16},
    {128, 3, 16},     {64, 2, 16},   {32, 1, 16}, {16, 0, 16},
};

struct VlcTables {
    std::vector<VlcEntry> tab[8];
    VlcTables() {
        for (int t = 0; t < 8; ++t) tab[t].resize(static_cast<size_t>(kRanges[t].count));
        add(tir_vlc::kEndOfBlock, kRunEob, 0);
        add(tir_vlc::kEscape, kRunEscape, 0);
        for (const tir_vlc::Code& c : tir_vlc::kCodes) add(c.bits, c.run, c.level);
    }
    void add(const char* bits, uint8_t run, uint8_t level) {
        const int len = tir_vlc::code_length(bits);
        const uint32_t first = tir_vlc::code_value(bits) << (16 - len);
        const uint32_t last = first + (1u << (16 - len)) - 1;
        for (int t = 0; t < 8; ++t) {
            if (first < kRanges[t].low) continue;
            const uint32_t base = kRanges[t].low >> kRanges[t].shift;
            for (uint32_t i = first >> kRanges[t].shift; i <= last >> kRanges[t].shift; ++i)
                tab[t][i - base] = VlcEntry{run, level, static_cast<uint8_t>(len)};
            return;
        }
    }
    const VlcEntry* find(uint32_t peek) const {
        for (int t = 0; t < 8; ++t)
            if (peek >= kRanges[t].low)
                return &tab[t][(peek >> kRanges[t].shift) - (kRanges[t].low >> kRanges[t].shift)];
        return nullptr;
    }
};

const VlcTables& vlc_tables() {
    static const VlcTables tables;
    return tables;
}

constexpr uint8_t kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Default intra quantiser matrix, natural order.
constexpr uint8_t kIntraMatrix[64] = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

struct Module {
    std::mutex lock;
    TirDecoder decoder;
    int32_t quant_scale = 0;
    int32_t slice_count = 0;
    int32_t slice_offsets[kMaxSlices] = {};
    unsigned frame_end = 0;  // the frame stops here: at its length or the next frame's start code
    BitReader reader;
    int16_t clip_storage[1024] = {};
    const int16_t* clip = clip_storage + 512;  // indexed -512..511
    std::vector<Picture> pictures;
    uint64_t use_counter = 0;

    Module() { build_clip(); }
    void build_clip() {
        for (int i = -512; i < 512; ++i)
            clip_storage[i + 512] = static_cast<int16_t>(i < -256 ? -256 : (i > 255 ? 255 : i));
    }
};

Module& module() {
    static Module m;
    return m;
}

// Size of the picture by slice count, one slice per macroblock row.
void size_for_slices(int n, int32_t& w, int32_t& h) {
    if (n <= 7) {
        w = 320;
        h = 112;
    } else if (n <= 9) {
        w = 320;
        h = 128;
    } else if (n <= 14) {
        w = 640;
        h = 224;
    } else {
        w = 640;
        h = 272;
    }
}

int parse_header(Module& m, const uint8_t* frame, unsigned length) {
    TirDecoder& d = m.decoder;
    if (!frame || length <= 5) return -1;
    if (frame[0] != 0 || frame[1] != 0 || frame[2] != 1 || (frame[3] != 0xF8 && frame[3] != 0xF9))
        return -1;
    const uint8_t h = frame[4];
    switch (d.mode) {
    case 0:
        d.format_code = (h & 4) ? 0 : (h & 7);
        m.quant_scale = (h >> 3) & 15;
        d.all_blocks = h >> 7;
        break;
    case 1:
    case 3:
    case 4:
        d.format_code = h & 15;
        m.quant_scale = h >> 4;
        d.all_blocks = frame[3] & 1;
        break;
    default:
        // These dialects carry the extra value in bytes 5-6; a frame too short to hold it
        // cannot hold a slice either.
        if (length < 7) return -1;
        d.format_code = 0;
        m.quant_scale = (h >> 3) & 15;
        d.all_blocks = h >> 7;
        d.extra_value = static_cast<uint16_t>((frame[5] << 8) | frame[6]);
        break;
    }
    if (m.quant_scale == 15) return -1;

    d.shift_reg = 0xFFFFFFFFu;
    m.slice_count = 0;
    m.frame_end = length;
    for (unsigned i = 5; i < length; ++i) {
        d.shift_reg = (d.shift_reg << 8) | frame[i];
        if (d.shift_reg == 0x000001F8u || d.shift_reg == 0x000001F9u || d.shift_reg == 0x000001FAu) {
            m.frame_end = i - 3;
            break;
        }
        if ((d.shift_reg >> 8) == 0x000001u) {
            if (m.slice_count < kMaxSlices) m.slice_offsets[m.slice_count] = static_cast<int32_t>(i - 3);
            ++m.slice_count;
        }
    }
    if (m.slice_count < 18) size_for_slices(m.slice_count, d.width, d.height);
    if (m.slice_count != 14 && m.slice_count != 17) return -1;
    return 0;
}

// Fixed-point separable inverse DCT (Chen-Wang, as in the MPEG-2 reference decoder). The sums
// run in 64 bits: coefficients at the ends of their range overflow 32-bit intermediates,
// while every result that fits is the same.
constexpr int64_t W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

inline void idct_row(int* blk) {
    int64_t x1 = blk[4] * 2048, x2 = blk[6], x3 = blk[2], x4 = blk[1], x5 = blk[7], x6 = blk[5],
            x7 = blk[3];
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
        const int v = blk[0] * 8;
        for (int i = 0; i < 8; ++i) blk[i] = v;
        return;
    }
    int64_t x0 = blk[0] * 2048 + 128;
    int64_t x8 = W7 * (x4 + x5);
    x4 = x8 + (W1 - W7) * x4;
    x5 = x8 - (W1 + W7) * x5;
    x8 = W3 * (x6 + x7);
    x6 = x8 - (W3 - W5) * x6;
    x7 = x8 - (W3 + W5) * x7;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2);
    x2 = x1 - (W2 + W6) * x2;
    x3 = x1 + (W2 - W6) * x3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = (181 * (x4 + x5) + 128) >> 8;
    x4 = (181 * (x4 - x5) + 128) >> 8;
    blk[0] = static_cast<int>((x7 + x1) >> 8);
    blk[1] = static_cast<int>((x3 + x2) >> 8);
    blk[2] = static_cast<int>((x0 + x4) >> 8);
    blk[3] = static_cast<int>((x8 + x6) >> 8);
    blk[4] = static_cast<int>((x8 - x6) >> 8);
    blk[5] = static_cast<int>((x0 - x4) >> 8);
    blk[6] = static_cast<int>((x3 - x2) >> 8);
    blk[7] = static_cast<int>((x7 - x1) >> 8);
}

// Clip-table index: the table spans -512..511, and a corrupt block can push a column
// result past it, so the index is held to the table.
inline int clip_at(const int16_t* clip, int64_t v) { return clip[std::clamp<int64_t>(v, -512, 511)]; }

inline void idct_col(int* blk, const int16_t* clip) {
    int64_t x1 = int64_t{blk[8 * 4]} * 256, x2 = blk[8 * 6], x3 = blk[8 * 2], x4 = blk[8 * 1],
            x5 = blk[8 * 7], x6 = blk[8 * 5], x7 = blk[8 * 3];
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
        const int v = clip_at(clip, (blk[0] + 32) >> 6);
        for (int i = 0; i < 8; ++i) blk[8 * i] = v;
        return;
    }
    int64_t x0 = int64_t{blk[0]} * 256 + 8192;
    int64_t x8 = W7 * (x4 + x5) + 4;
    x4 = (x8 + (W1 - W7) * x4) >> 3;
    x5 = (x8 - (W1 + W7) * x5) >> 3;
    x8 = W3 * (x6 + x7) + 4;
    x6 = (x8 - (W3 - W5) * x6) >> 3;
    x7 = (x8 - (W3 + W5) * x7) >> 3;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2) + 4;
    x2 = (x1 - (W2 + W6) * x2) >> 3;
    x3 = (x1 + (W2 - W6) * x3) >> 3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = (181 * (x4 + x5) + 128) >> 8;
    x4 = (181 * (x4 - x5) + 128) >> 8;
    blk[8 * 0] = clip_at(clip, (x7 + x1) >> 14);
    blk[8 * 1] = clip_at(clip, (x3 + x2) >> 14);
    blk[8 * 2] = clip_at(clip, (x0 + x4) >> 14);
    blk[8 * 3] = clip_at(clip, (x8 + x6) >> 14);
    blk[8 * 4] = clip_at(clip, (x8 - x6) >> 14);
    blk[8 * 5] = clip_at(clip, (x0 - x4) >> 14);
    blk[8 * 6] = clip_at(clip, (x3 - x2) >> 14);
    blk[8 * 7] = clip_at(clip, (x7 - x1) >> 14);
}

// Decodes one block's coefficients into `blk` (natural order). 0, or -2 on a syntax error.
int decode_block(Module& m, int* blk) {
    BitReader& br = m.reader;
    const VlcTables& vlc = vlc_tables();
    std::fill(blk, blk + 64, 0);
    blk[0] = static_cast<int>(br.get(8)) * 8;
    const int scale = m.quant_scale;
    int pos = 1;
    for (;;) {
        const uint32_t peek = br.peek(16);
        if (peek < 16) return -2;
        const VlcEntry& e = *vlc.find(peek);
        br.skip(e.len);
        if (e.run == kRunEob) break;
        int run;
        int level;
        if (e.run == kRunEscape) {
            run = static_cast<int>(br.get(6));
            const int lv = static_cast<int>(br.get(8));
            if (lv == 0)
                level = static_cast<int>(br.get(8));
            else if (lv == 128)
                level = static_cast<int>(br.get(8)) - 256;
            else if (lv > 128)
                level = lv - 256;
            else
                level = lv;
        } else {
            run = e.run;
            level = br.get(1) ? -static_cast<int>(e.level) : e.level;
        }
        pos += run;
        if (pos > 63) return -2;
        const int k = kZigzag[pos];
        const int v = (level * kIntraMatrix[k] * scale) >> 2;
        blk[k] = std::clamp(v, -2048, 2047);
        ++pos;
    }
    return 0;
}

void store_block(Module& m, int* blk, uint8_t* dst, int stride) {
    for (int r = 0; r < 8; ++r) idct_row(blk + 8 * r);
    for (int c = 0; c < 8; ++c) idct_col(blk + c, m.clip);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            dst[r * stride + c] = static_cast<uint8_t>(std::clamp(blk[8 * r + c], 0, 255));
}

// Decodes the blocks of the macroblock at (col, row); luma block k is coded when bit k of
// `cbp` is set, the chroma blocks always are. 0 or -2.
int decode_macroblock(Module& m, Picture& pic, int col, int row, int cbp) {
    const int w = pic.width;
    const int h = pic.height;
    uint8_t* y = pic.data.data();
    uint8_t* u = y + w * h;
    uint8_t* v = u + (w / 2) * (h / 2);
    int blk[64];
    for (int k = 0; k < 4; ++k) {
        if (!(cbp & (1 << k))) continue;
        if (decode_block(m, blk) != 0) return -2;
        store_block(m, blk, y + (16 * row + 8 * (k >> 1)) * w + 16 * col + 8 * (k & 1), w);
    }
    const int cw = w / 2;
    if (decode_block(m, blk) != 0) return -2;
    store_block(m, blk, u + 8 * row * cw + 8 * col, cw);
    if (decode_block(m, blk) != 0) return -2;
    store_block(m, blk, v + 8 * row * cw + 8 * col, cw);
    return 0;
}

int decode_slice(Module& m, Picture& pic, const uint8_t* frame, int offset) {
    BitReader& br = m.reader;
    br.start(frame + offset, m.frame_end - static_cast<unsigned>(offset));
    if (br.get(24) != 0x000001u) return -2;
    const int row = static_cast<int>(br.get(5));
    if (row >= pic.height / 16) return -2;
    const int mb_cols = pic.width / 16;
    if (m.decoder.all_blocks) {
        for (int col = 0; col < mb_cols; ++col) {
            if (decode_macroblock(m, pic, col, row, 0xF) != 0) return -2;
            if (br.overrun()) return -2;
        }
        return 0;
    }
    int col = -1;
    for (;;) {
        const int inc = static_cast<int>(br.get(6));
        if (inc == 0) break;
        col += inc;
        // A column past the row would land in the next row or another plane.
        if (col >= mb_cols) return -2;
        const int cbp = static_cast<int>(br.get(4));
        if (decode_macroblock(m, pic, col, row, cbp) != 0) return -2;
        // A macroblock that needed bits beyond the frame was cut short.
        if (br.overrun()) return -2;
    }
    return 0;
}

// The picture of the stream (destination, format code), made or reset to black as needed.
Picture& picture_for(Module& m, const void* dst, int format_code, int w, int h) {
    Picture* pic = nullptr;
    for (Picture& p : m.pictures)
        if (p.dst == dst && p.format_code == format_code) pic = &p;
    if (!pic) {
        if (m.pictures.size() < kMaxPictures) {
            m.pictures.emplace_back();
            pic = &m.pictures.back();
        } else {
            pic = &*std::min_element(m.pictures.begin(), m.pictures.end(),
                                     [](const Picture& a, const Picture& b) { return a.last_use < b.last_use; });
            pic->width = 0;
        }
        pic->dst = dst;
        pic->format_code = format_code;
    }
    if (pic->width != w || pic->height != h) {
        pic->width = w;
        pic->height = h;
        pic->data.assign(static_cast<size_t>(w) * h, 0);
        pic->data.resize(static_cast<size_t>(w) * h * 3 / 2, 128);
    }
    pic->last_use = ++m.use_counter;
    return *pic;
}

// Colour conversion. Negative results become 1, as the DVRs' viewers expect.
inline int fix_component(int c) { return c > 255 ? 255 : (c < 0 ? 1 : c); }

struct ChromaTables {
    int rv[256], gu[256], gv[256], bu[256];
    ChromaTables() {
        for (int i = 0; i < 256; ++i) {
            rv[i] = 1436 * (i - 128);
            gu[i] = -352 * (i - 128);
            gv[i] = -731 * (i - 128);
            bu[i] = 1815 * (i - 128);
        }
    }
};

const ChromaTables& chroma_tables() {
    static const ChromaTables t;
    return t;
}

template <typename Put>
void convert(const Picture& pic, Put put) {
    const ChromaTables& t = chroma_tables();
    const int w = pic.width;
    const int h = pic.height;
    const uint8_t* yp = pic.data.data();
    const uint8_t* up = yp + w * h;
    const uint8_t* vp = up + (w / 2) * (h / 2);
    for (int y = 0; y < h; ++y) {
        const uint8_t* yr = yp + y * w;
        const uint8_t* ur = up + (y / 2) * (w / 2);
        const uint8_t* vr = vp + (y / 2) * (w / 2);
        for (int x = 0; x < w; ++x) {
            const int yy = 1024 * yr[x];
            const int u = ur[x / 2];
            const int v = vr[x / 2];
            const int r = fix_component((yy + t.rv[v]) >> 10);
            const int g = fix_component((yy + t.gu[u] + t.gv[v]) >> 10);
            const int b = fix_component((yy + t.bu[u]) >> 10);
            put(x, y, r, g, b);
        }
    }
}

inline void put16(uint8_t* p, unsigned v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void write_output(const Picture& pic, void* dst, int type) {
    uint8_t* out = static_cast<uint8_t*>(dst);
    const int w = pic.width;
    const int h = pic.height;
    switch (type) {
    case 1:
        convert(pic, [&](int x, int y, int r, int g, int b) {
            uint8_t* p = out + (static_cast<size_t>(y) * w + x) * 3;
            p[0] = static_cast<uint8_t>(b);
            p[1] = static_cast<uint8_t>(g);
            p[2] = static_cast<uint8_t>(r);
        });
        break;
    case 2:
        convert(pic, [&](int x, int y, int r, int g, int b) {
            uint8_t* p = out + (static_cast<size_t>(h - 1 - y) * w + x) * 3;
            p[0] = static_cast<uint8_t>(b);
            p[1] = static_cast<uint8_t>(g);
            p[2] = static_cast<uint8_t>(r);
        });
        break;
    case 3:
        convert(pic, [&](int x, int y, int r, int g, int b) {
            uint8_t* p = out + (static_cast<size_t>(y) * w + x) * 4;
            p[0] = static_cast<uint8_t>(b);
            p[1] = static_cast<uint8_t>(g);
            p[2] = static_cast<uint8_t>(r);
            p[3] = 0;
        });
        break;
    case 4:
        convert(pic, [&](int x, int y, int r, int g, int b) {
            put16(out + (static_cast<size_t>(y) * w + x) * 2,
                  static_cast<unsigned>(((b >> 3) << 11) | ((g >> 2) << 5) | (r >> 3)));
        });
        break;
    case 5:
        convert(pic, [&](int x, int y, int r, int g, int b) {
            put16(out + (static_cast<size_t>(y) * w + x) * 2,
                  static_cast<unsigned>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)));
        });
        break;
    case 6:
        convert(pic, [&](int x, int y, int r, int g, int b) {
            put16(out + (static_cast<size_t>(y) * w + x) * 2,
                  static_cast<unsigned>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)));
        });
        break;
    default:
        std::memcpy(out, pic.data.data(), pic.data.size());
        break;
    }
}

}  // namespace

extern "C" int tir_init(int mode) {
    Module& m = module();
    std::lock_guard<std::mutex> hold(m.lock);
    m.decoder.mode = mode;
    m.decoder.width = 0;
    m.decoder.height = 0;
    m.decoder.extra_value = 0;
    m.quant_scale = 0;
    m.reader.reset();
    m.build_clip();
    return 0;
}

extern "C" int tir_get_info(const uint8_t* frame, unsigned length, TIR_FRAME_INFO* info) {
    Module& m = module();
    std::lock_guard<std::mutex> hold(m.lock);
    if (!info || parse_header(m, frame, length) != 0) return -1;
    info->format_code = static_cast<uint16_t>(m.decoder.format_code);
    info->width = static_cast<uint16_t>(m.decoder.width);
    info->height = static_cast<uint16_t>(m.decoder.height);
    info->extra_value = m.decoder.extra_value;
    return 0;
}

extern "C" int tir_decode(const uint8_t* frame, unsigned length, void* dst, int type) {
    Module& m = module();
    std::lock_guard<std::mutex> hold(m.lock);
    if (!dst || parse_header(m, frame, length) != 0) return -1;
    const TirDecoder& d = m.decoder;
    if (m.quant_scale == 0 || d.width == 0 || d.height == 0) return -2;
    Picture& pic = picture_for(m, dst, d.format_code, d.width, d.height);
    for (int s = 0; s < m.slice_count; ++s)
        if (decode_slice(m, pic, frame, m.slice_offsets[s]) != 0) return -2;
    write_output(pic, dst, (type >= 1 && type <= 6) ? type : 0);
    return 0;
}

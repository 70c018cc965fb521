#include "sdk/PictureConverter.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

constexpr int kMaxSide = 8192;

CPU_FEATURES g_cpu;
std::once_flag g_cpu_once;

void test_processor() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned a, b, c, d;
    if (__get_cpuid(1, &a, &b, &c, &d)) {
        g_cpu.mmx = d >> 23 & 1;
        g_cpu.sse = d >> 25 & 1;
        g_cpu.sse2 = d >> 26 & 1;
    }
    if (__get_cpuid(0x80000000, &a, &b, &c, &d) && a >= 0x80000001 && __get_cpuid(0x80000001, &a, &b, &c, &d))
        g_cpu.extended = uint16_t(d >> 16);
#endif
}

// JFIF full-range BT.601 in 16.16 fixed point. Colour to YUV: Y = (Yr[R] + Yg[G] + Yb[B]) >> 16
// and so on (Ub doubles as Vr). YUV to colour by chroma index c + 128.
struct Tables {
    int32_t yr[256], yg[256], yb[256], ur[256], ug[256], ub[256], vg[256], vb[256];
    int32_t cr_r[256], cb_b[256], cr_g[256], cb_g[256];
};
Tables g_tab;
std::once_flag g_tab_once;

void build_tables() {
    for (int i = 0; i < 256; ++i) {
        g_tab.yr[i] = 19595 * i;
        g_tab.yg[i] = 38470 * i;
        g_tab.yb[i] = 7471 * i + 32768;
        g_tab.ur[i] = -11059 * i;
        g_tab.ug[i] = -21709 * i;
        g_tab.ub[i] = 32768 * i + 8421375;
        g_tab.vg[i] = -27439 * i;
        g_tab.vb[i] = -5329 * i;
        const int c = i - 128;
        g_tab.cr_r[i] = (91881 * c + 32768) >> 16;
        g_tab.cb_b[i] = (116130 * c + 32768) >> 16;
        g_tab.cr_g[i] = -46802 * c;
        g_tab.cb_g[i] = 32768 - 22554 * c;
    }
}

inline uint8_t clamp8(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// BGR of one pixel through the tables; `g` is the green term (CbG[U] + CrG[V]) >> 16.
inline void put_bgr(uint8_t* p, int y, int b, int g, int r) {
    p[0] = clamp8(y + b);
    p[1] = clamp8(y + g);
    p[2] = clamp8(y + r);
}

struct Chroma {
    int b, g, r;
};
inline Chroma jfif_chroma(int u, int v) {
    return {g_tab.cb_b[u], (g_tab.cb_g[u] + g_tab.cr_g[v]) >> 16, g_tab.cr_r[v]};
}

inline void jfif_yuv(const uint8_t* bgr, uint8_t* y, uint8_t* u, uint8_t* v) {
    const int b = bgr[0], g = bgr[1], r = bgr[2];
    if (y) *y = clamp8((g_tab.yr[r] + g_tab.yg[g] + g_tab.yb[b]) >> 16);
    if (u) *u = clamp8((g_tab.ur[r] + g_tab.ug[g] + g_tab.ub[b]) >> 16);
    if (v) *v = clamp8((g_tab.ub[r] + g_tab.vg[g] + g_tab.vb[b]) >> 16);
}

// Video-range conversion of the 32-bit path, with its rounding.
struct VideoChroma {
    int b, g, r;
};
inline VideoChroma video_chroma(int u, int v) {
    const int cu = 8 * (u - 128), cv = 8 * (v - 128);
    return {(cu * 16591) >> 16, ((cu * -3218) >> 16) + ((cv * -6686) >> 16), (cv * 13123) >> 16};
}
inline int video_luma(int y) { return (8 * std::max(y - 16, 0) * 9576) >> 16; }

bool valid_size(int width, int height, bool subsampled) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return false;
    return !subsampled || ((width | height) & 1) == 0;
}

// Strides of a planar picture with their defaults; `chroma_div` 2 for 4:2:0 and 4:2:2, 1 for 4:4:4.
template <class P>
bool planar_ok(const P& p, int width, int chroma_div, int& ys, int& cs) {
    if (!p.y || !p.u || !p.v) return false;
    ys = p.y_stride ? p.y_stride : width;
    cs = p.c_stride ? p.c_stride : ys / chroma_div;
    return ys >= width && cs >= (width + chroma_div - 1) / chroma_div;
}

}  // namespace

void CPictureConverter::AlignedFree::operator()(uint8_t* p) const { ::operator delete[](p, std::align_val_t(16)); }

CPictureConverter::CPictureConverter() {
    std::call_once(g_cpu_once, test_processor);
    std::call_once(g_tab_once, build_tables);
    m_bFastPath = g_cpu.mmx;
}

CPictureConverter::~CPictureConverter() { FreeBuffers(); }

const CPU_FEATURES& CPictureConverter::GetCpuFeatures() {
    std::call_once(g_cpu_once, test_processor);
    return g_cpu;
}

int CPictureConverter::AllocateBuffers(int width, int height, bool second) {
    FreeBuffers();
    if (!valid_size(width, height, false)) return 0;
    const size_t bytes = size_t(width) * 4 * size_t(height);
    // The allocator keeps its own book of the block: no pointer is stored inside the buffer.
    AlignedBuffer one(static_cast<uint8_t*>(::operator new[](bytes, std::align_val_t(16), std::nothrow)));
    AlignedBuffer two;
    if (second) two.reset(static_cast<uint8_t*>(::operator new[](bytes, std::align_val_t(16), std::nothrow)));
    if (!one || (second && !two)) return 0;
    std::memset(one.get(), 0, bytes);
    if (two) std::memset(two.get(), 0, bytes);
    m_pBuffer1 = std::move(one);
    m_pBuffer2 = std::move(two);
    m_nBufferSize = bytes;
    m_nState = 0;
    return 1;
}

void CPictureConverter::FreeBuffers() {
    m_pBuffer1.reset();
    m_pBuffer2.reset();
    m_nBufferSize = 0;
    m_nState = 1;
}

uint8_t* CPictureConverter::OutputBuffer(size_t bytes, bool second) const {
    if (!m_pBuffer1 || bytes > m_nBufferSize || (second && !m_pBuffer2)) return nullptr;
    return m_pBuffer1.get();
}

int CPictureConverter::I420ToBGR24(const PLANAR_SRC& src, int width, int height) {
    int ys, cs;
    if (!valid_size(width, height, true) || !planar_ok(src, width, 2, ys, cs)) return 0;
    uint8_t* out = OutputBuffer(size_t(width) * 3 * size_t(height));
    if (!out) return 0;
    for (int r = 0; r < height; ++r) {
        const int sr = height - 1 - r;
        const uint8_t* y = src.y + size_t(sr) * ys;
        const uint8_t* u = src.u + size_t(sr / 2) * cs;
        const uint8_t* v = src.v + size_t(sr / 2) * cs;
        uint8_t* d = out + size_t(r) * width * 3;
        for (int x = 0; x < width; x += 2) {
            const Chroma c = jfif_chroma(u[x / 2], v[x / 2]);
            put_bgr(d + 3 * x, y[x], c.b, c.g, c.r);
            put_bgr(d + 3 * x + 3, y[x + 1], c.b, c.g, c.r);
        }
    }
    return 1;
}

int CPictureConverter::YUV422ToBGR24(const PLANAR_SRC& src, int width, int height) {
    int ys, cs;
    if (!valid_size(width, height, true) || !planar_ok(src, width, 2, ys, cs)) return 0;
    uint8_t* out = OutputBuffer(size_t(width) * 3 * size_t(height));
    if (!out) return 0;
    for (int r = 0; r < height; ++r) {
        const int sr = height - 1 - r;
        const uint8_t* y = src.y + size_t(sr) * ys;
        const uint8_t* u = src.u + size_t(sr) * cs;
        const uint8_t* v = src.v + size_t(sr) * cs;
        uint8_t* d = out + size_t(r) * width * 3;
        for (int x = 0; x < width; x += 2) {
            const VideoChroma c = video_chroma(u[x / 2], v[x / 2]);
            put_bgr(d + 3 * x, video_luma(y[x]), c.b, c.g, c.r);
            put_bgr(d + 3 * x + 3, video_luma(y[x + 1]), c.b, c.g, c.r);
        }
    }
    return 1;
}

int CPictureConverter::I420ToBGR32(const PLANAR_SRC& src, int width, int height) {
    int ys, cs;
    if (!valid_size(width, height, true) || !planar_ok(src, width, 2, ys, cs)) return 0;
    uint8_t* out = OutputBuffer(size_t(width) * 4 * size_t(height));
    if (!out) return 0;
    for (int r = 0; r < height; ++r) {
        const int sr = height - 1 - r;
        const uint8_t* y = src.y + size_t(sr) * ys;
        const uint8_t* u = src.u + size_t(sr / 2) * cs;
        const uint8_t* v = src.v + size_t(sr / 2) * cs;
        uint8_t* d = out + size_t(r) * width * 4;
        for (int x = 0; x < width; x += 2) {
            const VideoChroma c = video_chroma(u[x / 2], v[x / 2]);
            put_bgr(d + 4 * x, video_luma(y[x]), c.b, c.g, c.r);
            d[4 * x + 3] = 0;
            put_bgr(d + 4 * x + 4, video_luma(y[x + 1]), c.b, c.g, c.r);
            d[4 * x + 7] = 0;
        }
    }
    return 1;
}

int CPictureConverter::YUV444ToBGR24(const PLANAR_SRC& src, int width, int height) {
    int ys, cs;
    if (!valid_size(width, height, false) || !planar_ok(src, width, 1, ys, cs)) return 0;
    uint8_t* out = OutputBuffer(size_t(width) * 3 * size_t(height));
    if (!out) return 0;
    for (int r = 0; r < height; ++r) {
        const int sr = height - 1 - r;
        const uint8_t* y = src.y + size_t(sr) * ys;
        const uint8_t* u = src.u + size_t(sr) * cs;
        const uint8_t* v = src.v + size_t(sr) * cs;
        uint8_t* d = out + size_t(r) * width * 3;
        for (int x = 0; x < width; ++x) {
            const Chroma c = jfif_chroma(u[x], v[x]);
            put_bgr(d + 3 * x, y[x], c.b, c.g, c.r);
        }
    }
    return 1;
}

namespace {

// One packed 4:2:2 row from planar rows; `uyvy` puts chroma first.
void pack_row(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, uint8_t* d, bool uyvy) {
    const int yo = uyvy ? 1 : 0, co = uyvy ? 0 : 1;
    for (int x = 0; x < width; x += 2, d += 4) {
        d[yo] = y[x];
        d[yo + 2] = y[x + 1];
        d[co] = u[x / 2];
        d[co + 2] = v[x / 2];
    }
}

}  // namespace

int CPictureConverter::I420ToYUY2(const PLANAR_SRC& src, int width, int height) {
    int ys, cs;
    if (!valid_size(width, height, true) || !planar_ok(src, width, 2, ys, cs)) return 0;
    uint8_t* out = OutputBuffer(size_t(width) * 2 * size_t(height));
    if (!out) return 0;
    for (int r = 0; r < height; ++r)
        pack_row(src.y + size_t(r) * ys, src.u + size_t(r / 2) * cs, src.v + size_t(r / 2) * cs, width,
                 out + size_t(r) * width * 2, false);
    return 1;
}

int CPictureConverter::I420ToUYVY(const PLANAR_SRC& src, int width, int height) {
    int ys, cs;
    if (!valid_size(width, height, true) || !planar_ok(src, width, 2, ys, cs)) return 0;
    uint8_t* out = OutputBuffer(size_t(width) * 2 * size_t(height));
    if (!out) return 0;
    for (int r = 0; r < height; ++r)
        pack_row(src.y + size_t(r) * ys, src.u + size_t(r / 2) * cs, src.v + size_t(r / 2) * cs, width,
                 out + size_t(r) * width * 2, true);
    return 1;
}

int CPictureConverter::I420ToYUY2Fields(const PLANAR_SRC& src, int width, int height, bool odd_first) {
    int ys, cs;
    if (!valid_size(width, height, true) || !planar_ok(src, width, 2, ys, cs)) return 0;
    if (!OutputBuffer(size_t(width) * height, true)) return 0;
    for (int f = 0; f < 2; ++f) {
        uint8_t* out = (f == 0) != odd_first ? m_pBuffer1.get() : m_pBuffer2.get();
        // Row k of field f is frame row 2k + f, whose chroma row is k.
        for (int k = 0; k < height / 2; ++k)
            pack_row(src.y + size_t(2 * k + f) * ys, src.u + size_t(k) * cs, src.v + size_t(k) * cs, width,
                     out + size_t(k) * width * 2, false);
    }
    return 1;
}

int CPictureConverter::YUY2ToBGR24(const uint8_t* src, int stride, int width, int height) {
    if (!src || !valid_size(width, height, true)) return 0;
    if (!stride) stride = width * 2;
    if (stride < width * 2) return 0;
    uint8_t* out = OutputBuffer(size_t(width) * 3 * size_t(height));
    if (!out) return 0;
    for (int r = 0; r < height; ++r) {
        const uint8_t* s = src + size_t(height - 1 - r) * stride;
        uint8_t* d = out + size_t(r) * width * 3;
        for (int x = 0; x < width; x += 2, s += 4, d += 6) {
            const Chroma c = jfif_chroma(s[1], s[3]);  // shared by both pixels of the pair
            put_bgr(d, s[0], c.b, c.g, c.r);
            put_bgr(d + 3, s[2], c.b, c.g, c.r);
        }
    }
    return 1;
}

int CPictureConverter::BGR24ToYUY2(const uint8_t* src, int stride, int width, int height) {
    if (!src || !valid_size(width, height, true)) return 0;
    if (!stride) stride = width * 3;
    if (stride < width * 3) return 0;
    uint8_t* out = OutputBuffer(size_t(width) * 2 * size_t(height));
    if (!out) return 0;
    for (int r = 0; r < height; ++r) {
        const uint8_t* s = src + size_t(height - 1 - r) * stride;
        uint8_t* d = out + size_t(r) * width * 2;
        for (int x = 0; x < width; x += 2, s += 6, d += 4) {
            jfif_yuv(s, &d[0], &d[1], &d[3]);
            jfif_yuv(s + 3, &d[2], nullptr, nullptr);
        }
    }
    return 1;
}

int CPictureConverter::YUY2ToI420(const uint8_t* src, int stride, int width, int height, const PLANAR_DST& dst) {
    int ys, cs;
    if (!src || !valid_size(width, height, true) || !planar_ok(dst, width, 2, ys, cs)) return 0;
    if (!stride) stride = width * 2;
    if (stride < width * 2) return 0;
    for (int r = 0; r < height; ++r) {
        const uint8_t* s = src + size_t(r) * stride;
        uint8_t* y = dst.y + size_t(r) * ys;
        for (int x = 0; x < width; ++x) y[x] = s[2 * x];
        if (r & 1) continue;
        uint8_t* u = dst.u + size_t(r / 2) * cs;
        uint8_t* v = dst.v + size_t(r / 2) * cs;
        for (int x = 0; x < width / 2; ++x) {
            u[x] = s[4 * x + 1];
            v[x] = s[4 * x + 3];
        }
    }
    return 1;
}

int CPictureConverter::BGR24ToYUV444(const uint8_t* src, int stride, int width, int height, const PLANAR_DST& dst) {
    int ys, cs;
    if (!src || !valid_size(width, height, false) || !planar_ok(dst, width, 1, ys, cs)) return 0;
    if (!stride) stride = width * 3;
    if (stride < width * 3) return 0;
    for (int r = 0; r < height; ++r) {
        const uint8_t* s = src + size_t(r) * stride;
        uint8_t* y = dst.y + size_t(r) * ys;
        uint8_t* u = dst.u + size_t(r) * cs;
        uint8_t* v = dst.v + size_t(r) * cs;
        for (int x = 0; x < width; ++x) jfif_yuv(s + 3 * x, y + x, u + x, v + x);
    }
    return 1;
}

int CPictureConverter::BGR24ToI420(const uint8_t* src, int stride, int width, int height, bool bottom_up,
                                   const PLANAR_DST& dst) {
    int ys, cs;
    if (!src || !valid_size(width, height, true) || !planar_ok(dst, width, 2, ys, cs)) return 0;
    if (!stride) stride = width * 3;
    if (stride < width * 3) return 0;
    for (int r = 0; r < height; ++r) {
        const uint8_t* s = src + size_t(bottom_up ? height - 1 - r : r) * stride;
        uint8_t* y = dst.y + size_t(r) * ys;
        if (r & 1) {
            for (int x = 0; x < width; ++x) jfif_yuv(s + 3 * x, y + x, nullptr, nullptr);
            continue;
        }
        uint8_t* u = dst.u + size_t(r / 2) * cs;
        uint8_t* v = dst.v + size_t(r / 2) * cs;
        for (int x = 0; x < width; x += 2) {
            jfif_yuv(s + 3 * x, y + x, u + x / 2, v + x / 2);
            jfif_yuv(s + 3 * x + 3, y + x + 1, nullptr, nullptr);
        }
    }
    return 1;
}

int CPictureConverter::YUV444ToI420(const PLANAR_SRC& src, int width, int height, const PLANAR_DST& dst) {
    int sys, scs, dys, dcs;
    if (!valid_size(width, height, true) || !planar_ok(src, width, 1, sys, scs) || !planar_ok(dst, width, 2, dys, dcs))
        return 0;
    for (int r = 0; r < height; ++r) {
        std::memcpy(dst.y + size_t(r) * dys, src.y + size_t(r) * sys, size_t(width));
        if (r & 1) continue;
        const uint8_t* su = src.u + size_t(r) * scs;
        const uint8_t* sv = src.v + size_t(r) * scs;
        uint8_t* u = dst.u + size_t(r / 2) * dcs;
        uint8_t* v = dst.v + size_t(r / 2) * dcs;
        for (int x = 0; x < width / 2; ++x) {
            u[x] = su[2 * x];
            v[x] = sv[2 * x];
        }
    }
    return 1;
}

namespace {

// Line doubling of one plane: row r takes the row of `field` in its pair; a last row without
// a partner takes the field's nearest row.
void double_lines(const uint8_t* src, int ss, uint8_t* dst, int ds, int bytes, int rows, int field) {
    for (int r = 0; r < rows; ++r) {
        int s = (r & ~1) + field;
        if (s >= rows) s = rows >= 3 ? s - 2 : 0;
        const uint8_t* from = src + size_t(s) * ss;
        uint8_t* to = dst + size_t(r) * ds;
        if (from != to) std::memcpy(to, from, size_t(bytes));
    }
}

}  // namespace

int CPictureConverter::Deinterlace(int width, int height, const PLANAR_SRC& src, const PLANAR_DST& dst, int field) {
    int sys, scs, dys, dcs;
    if (!valid_size(width, height, true) || (field != 0 && field != 1) || !planar_ok(src, width, 2, sys, scs) ||
        !planar_ok(dst, width, 2, dys, dcs))
        return 0;
    double_lines(src.y, sys, dst.y, dys, width, height, field);
    double_lines(src.u, scs, dst.u, dcs, width / 2, height / 2, field);
    double_lines(src.v, scs, dst.v, dcs, width / 2, height / 2, field);
    return 1;
}

int CPictureConverter::DeinterlaceInPlace(int width, int height, const PLANAR_DST& picture, int field) {
    const PLANAR_SRC src{picture.y, picture.u, picture.v, picture.y_stride, picture.c_stride};
    return Deinterlace(width, height, src, picture, field);
}

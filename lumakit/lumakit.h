// Lumakit: operations on uncompressed YUV frames held by the caller (colour, drawing and text,
// remap and histograms, motion grid and deinterlace, dewarp maps, geometry). No program of the
// system links it; it is delivered for outside callers.
//
// Frames. A frame of width x height pixels is one buffer without gaps between rows, in one of
// five layouts chosen by `format`:
//   0 YV12, 1 IYUV: planar 4:2:0, width*height*3/2 bytes: the Y plane (row stride width), then
//     two chroma planes of (width/2) x (height/2) (row stride width/2), the first at
//     width*height, the second at width*height*5/4. Format 0 keeps V first, format 1 U first.
//   2 YUY2 (Y0 U Y1 V), 3 UYVY (U Y0 V Y1), 4 YVYU (Y0 V Y1 U): packed 4:2:2,
//     width*height*2 bytes; pixel (x, y) owns the two bytes at 2*(y*width + x).
// Whole-frame operations treat a packed frame as one run of width*height/2 four-byte groups.
// Row and rectangle operations address rows as above; in a packed row of odd width the last
// pixel belongs to no group, so group-wise writes (fill, mask, expand, zoom, the chroma of
// shrink and downscale) leave the bytes it would take untouched.
// Every operation reads and writes only inside the frames it is given, sized as above from the
// widths and heights passed: coordinates and rectangles are clipped to the frame.
//
// Results: 0 for success and for a call with nothing to do; a small negative number for a
// refused call, which leaves every output byte unchanged. Null frames or tables and negative
// sizes are refused with -1 unless an operation says otherwise.
//
// Threads: every operation is reentrant except `ColorKey` (set by yuv_colorkey, read by the
// pasting operations) and the yuv_pushpop stack, which are process-wide and unguarded; a
// caller that uses them from several threads serialises those calls itself.
#pragma once

#include <SDL/SDL.h>
#include <SDL/SDL_ttf.h>
#include <stdint.h>

#if defined(LUMAKIT_BUILD)
#define LUMAKIT_API __attribute__((visibility("default")))
#else
#define LUMAKIT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// A frame described by itself (yuv_downscale).
typedef struct {
  unsigned char* pixels;
  uint16_t width;
  uint16_t height;
  uint32_t format;  // 0..4
} YUV_IMAGE;

// A frame's pixels and size, passed by value (yuv_warp).
typedef struct {
  unsigned char* pixels;
  uint16_t width;
  uint16_t height;
} YUV_VIEW;

// A source position in a dewarp map.
typedef struct {
  uint16_t x;
  uint16_t y;
} YUV_POINT;

// Key colour: one macropixel in the frame's own byte order, initially 0, 0, 0, 0. Pasting
// (yuv_render) treats source samples equal to it as transparent; yuv_outline reads its Y bytes
// 1 and 3. Set only through yuv_colorkey.
LUMAKIT_API extern unsigned char ColorKey[4];

// ---- Key colour and debug output ----
// Copies 4 bytes from key into ColorKey; 0, or -1 for a null key.
LUMAKIT_API int yuv_colorkey(const unsigned char* key);
// Writes size bytes of frame to path (created or emptied); 0, -1 when it cannot be opened or
// size is negative.
LUMAKIT_API int yuv_dump(const unsigned char* frame, int size, const char* path);
// Writes height rows of width bytes as lower-case hex, each followed by a blank ("a 0 ff "),
// one line per row; 0, -1 when the file cannot be opened.
LUMAKIT_API int yuv_hexdump(const unsigned char* data, int width, int height, const char* path);

// ---- Colour (value, then format) ----
// Each builds a 256-entry table and maps every Y sample (brightness, contrast) or chroma byte
// (saturation); hue turns each chroma pair. Formats 2-4 take packed positions; brightness and
// saturation take the planar planes for every other value, hue and contrast do nothing for a
// format above 4.
// amount -255..255 scales Y toward black (negative) or lifts it toward white; 0 does nothing;
// -1 outside the range.
LUMAKIT_API int yuv_brightness(unsigned char* frame, int width, int height, int amount, int format);
// Turns (U, V) about 128 by angle radians; 0 or NaN does nothing; -1 when angle < 0 or > 2*pi.
LUMAKIT_API int yuv_hue(unsigned char* frame, int width, int height, double angle, int format);
// Scales chroma about 128 by factor; 1 does nothing; -1 when factor is negative or NaN.
LUMAKIT_API int yuv_saturation(unsigned char* frame, int width, int height, double factor,
                               int format);
// Equalises Y from every second pixel of every second row, blended with the identity below
// 100 percent; 0 does nothing. Table values are clamped to 0..255 (odd sizes sample more
// pixels than width*height/4, a negative percent overshoots). A frame with no samples to
// count (width*height/4 == 0) is left alone.
LUMAKIT_API int yuv_contrast(unsigned char* frame, int width, int height, int percent, int format);
// Converts an 8-bit palettised surface (pitch x h) into a frame of pitch x h in the layout:
// BT.601 full range, chroma from the mean colour of each 2x2 block (planar) or pixel pair
// (packed, pairs running through the whole frame; a lone last pixel pairs with itself and
// writes its own two bytes). Only pixels of the surface are read: odd heights and pitches drop
// the last row or column from the planar chroma. Indexes beyond the palette read as black.
// 0, also without work for 9 or more bits per pixel; -1 without a palette or for null pointers.
LUMAKIT_API int sdl2yuv(SDL_Surface* surface, unsigned char* frame, int format);

// ---- Drawing and text ----
// Colours are 4 bytes at colour: packed, one macropixel in the frame's byte order; planar,
// byte 0 for Y and bytes 1 and 2 for the chroma planes at width*height and width*height*5/4.
// Horizontal (y0 == y1) and vertical lines have their ends ordered and their coordinates and
// thickness evened (odd values lowered by 1, -3 becomes -4), so thickness 1 draws nothing.
// Other lines are one sample wide, Y only on planar frames; on packed frames each touched
// pixel gets the macropixel of its pair. Everything is clipped to the frame. 0; -1 for a null
// colour.
LUMAKIT_API int yuv_line(unsigned char* frame, int width, int height, int format, int x0, int y0,
                         int x1, int y1, const unsigned char* colour, int thickness);
// Four lines of the given thickness inside the corners (x0, y0) and (x1, y1); 0 or -1 as
// yuv_line.
LUMAKIT_API int yuv_box(unsigned char* frame, int width, int height, int format, int x0, int y0,
                        int x1, int y1, const unsigned char* colour, int thickness);
// Packed only: h rows of w/2 macropixels from pixel (x, y), clipped; 0 (planar: no work).
LUMAKIT_API int yuv_fill(unsigned char* frame, int width, int height, int format, int x, int y,
                         int w, int h, const unsigned char* macropixel);
// Pastes src (sw x sh) at (x, y) of dst, both in one layout; x, y and the source size are
// evened after the checks. alpha 0 skips samples equal to the key's Y, 255 copies, others skip
// key bytes (packed) or blend Y (planar); planar chroma is copied as it is. The source is read
// at its own row stride and plane offsets, also for odd sizes.
// -1 when y < 0 or sh + y > dh (or sh < 0), -2 when x < 0 or sw + x > dw (or sw < 0),
// -3 for a null source, -4 for a null destination.
LUMAKIT_API int yuv_render(const unsigned char* src, int sw, int sh, unsigned char* dst, int dw,
                           int dh, int format, int x, int y, unsigned char alpha);
// Renders text with TTF_RenderText_Shaded and pastes it like yuv_render at (x, y) of the
// overlay, which is locked meanwhile and written only inside its planes, through pixels[] and
// pitches[]. Text that does not fit is not drawn (still 0). -1 when the text cannot be
// rendered; -2 for an overlay FOURCC other than YV12, IYUV, YUY2, UYVY, YVYU, an overlay
// whose planes or pitches cannot hold its size, a failed lock or a failed scratch allocation.
LUMAKIT_API int yuv_print(SDL_Overlay* overlay, const char* text, TTF_Font* font, int unused,
                          SDL_Color fg, SDL_Color bg, int x, int y, unsigned char alpha);
// Marks with the low byte M of colour the Y samples bordering areas whose Y equals the key's
// Y bytes (K1 = ColorKey[1], K3 = ColorKey[3]). The scan runs row by row over the Y samples;
// along a row p and n are the left and right neighbours, across rows a and b the samples
// directly above and below. A neighbour outside the frame equals no key and no mark. Row 0 is
// the first row, every later row an inner row (compared across rows). 0 (format > 4: no work).
LUMAKIT_API int yuv_outline(unsigned char* frame, int width, int height, int format, int colour);

// ---- Remap, histogram and mapping tables ----
// Components: Y as the colour operations; U and V from the layout's plane (planar) or group
// byte (packed). A rectangle covers Y rows y..y+h-1, columns x..x+w-1; planar chroma the w/2
// columns from x/2 and h/2 rows from y/2 of the plane; packed chroma the w/2 groups from
// pixel x of rows y..y+h-1. Rectangles are clipped to the frame (both of its sizes).
// A format above 4 does no work (histograms still clear their 256 bins). 0; -1 for null
// pointers or negative sizes.
LUMAKIT_API int yuv_remap_y(unsigned char* frame, int width, int height, int format,
                            const unsigned char* table);
LUMAKIT_API int yuv_remap_u(unsigned char* frame, int width, int height, int format,
                            const unsigned char* table);
LUMAKIT_API int yuv_remap_v(unsigned char* frame, int width, int height, int format,
                            const unsigned char* table);
LUMAKIT_API int yuv_remap_region_y(unsigned char* frame, int x, int y, int w, int h,
                                   int frame_width, int frame_height, int format,
                                   const unsigned char* table);
LUMAKIT_API int yuv_remap_region_u(unsigned char* frame, int x, int y, int w, int h,
                                   int frame_width, int frame_height, int format,
                                   const unsigned char* table);
LUMAKIT_API int yuv_remap_region_v(unsigned char* frame, int x, int y, int w, int h,
                                   int frame_width, int frame_height, int format,
                                   const unsigned char* table);
LUMAKIT_API int yuv_histogram_y(const unsigned char* frame, int width, int height, int format,
                                int* bins);
LUMAKIT_API int yuv_histogram_u(const unsigned char* frame, int width, int height, int format,
                                int* bins);
LUMAKIT_API int yuv_histogram_v(const unsigned char* frame, int width, int height, int format,
                                int* bins);
LUMAKIT_API int yuv_histogram_region_y(const unsigned char* frame, int x, int y, int w, int h,
                                       int frame_width, int frame_height, int format, int* bins);
LUMAKIT_API int yuv_histogram_region_u(const unsigned char* frame, int x, int y, int w, int h,
                                       int frame_width, int frame_height, int format, int* bins);
LUMAKIT_API int yuv_histogram_region_v(const unsigned char* frame, int x, int y, int w, int h,
                                       int frame_width, int frame_height, int format, int* bins);
// Builds a 256-byte table from a histogram. Mode 0 equalise (param 0..100 blends with the
// identity), 1 chroma equalisation about 128, 2 brightness curve (param -255..255), 3-5
// percentile stretch linear, quadratic, square root (param 0..100 percent); other modes do
// nothing. -1, table unchanged, for a param out of range, a negative bin, an empty histogram
// or an empty half (mode 1, which divides by each half's count), and in modes 3-5 when the
// percentiles leave nothing to stretch (lo >= hi, or lo 0 and hi 255).
LUMAKIT_API int yuv_build_map(const int* hist, unsigned char* table, int mode, int param);
// Prints the table to standard output ("-OLD- -NEW-" and one "%5d %5d" line per entry).
LUMAKIT_API int yuv_print_mapping(const unsigned char* table);
// pop 0 pushes value's low byte (up to 257, further pushes ignored) and returns 0; otherwise
// empties the stack and returns the stored byte farthest from 128 (ties to the larger), or 0
// when it was empty.
LUMAKIT_API int yuv_pushpop(int value, int pop);

// ---- Motion grid, deinterlace and mask ----
// Cell masks hold one bit per cell, row by row, cell n at bit n%8 (LSB first) of byte n/8.
// 1 when the sum of an n x n grid of Y samples (n = trunc(sqrt(samples))) over the rectangle,
// clipped to the frame, is below samples * (threshold & 255), else 0; -1 when samples <= 0.
LUMAKIT_API int yuv_black(const unsigned char* frame, int width, int height, int format, int x,
                          int y, int w, int h, int threshold, int samples);
// Copies the w x h rectangle at (sx, sy) of src to (dx, dy) of dst (planar: Y and the halved
// chroma rectangles); only pixels inside both frames are copied. -1 when w != dw or h != dh.
LUMAKIT_API int yuv_blit(const unsigned char* src, int sw, int sh, int sx, int sy, int w, int h,
                         unsigned char* dst, int dst_width, int dst_height, int dx, int dy, int dw,
                         int dh, int format);
// Splits both frames into cells x cells cells and copies every cell of b that yuv_black finds
// dark from a. -1 when the sizes differ, cells <= 0, a cell would be empty or samples <= 0.
LUMAKIT_API int yuv_merge(const unsigned char* a, int aw, int ah, unsigned char* b, int bw, int bh,
                          int cells, int format, int threshold, int samples);
// Mean column and row of the set cells of a columns x rows mask (0, 0 when none); -1 for null
// pointers or negative counts.
LUMAKIT_API int yuv_motion_center(const unsigned char* mask, int columns, int rows, int* x, int* y);
// dx = x1 - x0, dy = y1 - y0 (wrapping); -1 for null pointers.
LUMAKIT_API int yuv_motion_direction(int x0, int y0, int x1, int y1, int* dx, int* dy);
// Line-doubles the marked cells of a (width / cell_width) x (height / cell_height) grid: the
// upper line of each pair over the lower one (planar: Y only; packed: whole pixels).
// -1 when a cell size is not positive; a format outside 0..4 does no work.
LUMAKIT_API int yuv_selective_bob(unsigned char* frame, int width, int height, int format,
                                  const unsigned char* mask, int cell_width, int cell_height);
// Line-doubles one rectangle for h/2 pairs from row y. Planar: field != 0 copies the upper
// line of each pair down, field 0 the lower line up; the chroma rectangle of both planes is
// doubled the same way from chroma row y/2 for h/4 pairs. Packed: an odd field copies y over
// y+1, y+2 over y+3, ...; an even field y+1 over y+2, ... for h/2 - 1 pairs. A pair is copied
// only when both of its lines lie in the frame; columns are clipped.
LUMAKIT_API int yuv_bob_region(unsigned char* frame, int width, int height, int format, int x,
                               int y, int w, int h, int field);
// Tints a rectangle with colour bytes c0..c3: planar adds c0 to Y and c1, c2 to the chroma
// planes (saturating); packed rows start at byte 2*(width*(y+i) + x) and cover w/2 groups,
// adding to the Y bytes and pushing chroma bytes away from 128. Clipped; -1 for a null colour.
LUMAKIT_API int yuv_mask(unsigned char* frame, int width, int height, int format, int x, int y,
                         int w, int h, const unsigned char* colour);

// ---- Dewarp maps ----
// Fills a W x H map (row order) with source positions: type 1 vertical flip, 6 linear scale,
// 7 and 8 polar unwrap (centre or rim at the top), 9 and 16 two half panoramas (centre or rim
// at the top) of the circular picture in region. Entries whose source falls outside the region
// are left as they were (clear the map first). Other types write nothing. -1 for a null map,
// W or H 0, or a failed scratch allocation (map unchanged).
LUMAKIT_API int yuv_image_map(YUV_POINT* map, SDL_Rect region, uint16_t W, uint16_t H, double angle,
                              int type);
// Fills dst from src through map (dst.width x dst.height entries). Each entry is clamped to the
// source view, so any map stays inside it. Formats 0, 1 (Y per pixel, chroma from the entry of
// each 2x2 block's top-left pixel) and 3 (Y per pixel, the pair's U and V from the source
// pixel's pair); formats 2 and 4 do nothing; above 4 prints "Do nothing!". -1 for null pointers
// or an empty source.
LUMAKIT_API int yuv_warp(YUV_VIEW src, YUV_VIEW dst, const YUV_POINT* map, int format);

// ---- Geometry ----
// Averages truncate term by term (10, 11, 12, 13 average to 10). Two-frame operations write
// only the destination frame (dw x dh).
// Crops in place; the result is a frame of the new size from the start of the buffer. Planar
// margins round down to even, packed left and right down to multiples of 4. -1 for a negative
// margin or margins that leave no picture (frame unchanged).
LUMAKIT_API int yuv_crop(unsigned char* frame, int width, int height, int left, int top, int right,
                         int bottom, int format);
// Halves (both sizes, or the width only) by 2x2 or 1x2 means; packed frames also box-average
// by integer ratios when 2*dw < sw and 2*dh < sh, and otherwise resample as yuv_shrink_any.
// Planar sizes other than the halves do no work. -1 when dw*dh > sw*sh, dw or dh is not
// positive, or (resampling) the column table cannot be allocated.
LUMAKIT_API int yuv_shrink(const unsigned char* src, int sw, int sh, unsigned char* dst, int dw,
                           int dh, int format);
// Packed only: resamples by the single-precision ratios sw/dw and sh/dh (whole samples plus a
// weighted next sample, which is skipped past the row's end). -1 when dw or dh is not positive
// or the column table cannot be allocated.
LUMAKIT_API int yuv_shrink_any(const unsigned char* src, int sw, int sh, unsigned char* dst, int dw,
                               int dh, int format);
// Planar 0 and 1 only: doubles the width, the height or both by repeating samples. -1 when
// neither dw == 2*sw nor dh == 2*sh; other size pairs do no work.
LUMAKIT_API int yuv_stretch(const unsigned char* src, int sw, int sh, unsigned char* dst, int dw,
                            int dh, int format);
// Doubles both sizes (planar and packed) or the height only (packed) by repeating samples.
LUMAKIT_API int yuv_expand(const unsigned char* src, int sw, int sh, unsigned char* dst, int dw,
                           int dh, int format);
// Factor 2 only: enlarges the quarter of the frame centred on (cx, cy), clamped inside, to the
// whole frame in place. Packed windows start on a group (even column) and are not smoothed.
// -1 when the scratch copy cannot be allocated (frame unchanged).
LUMAKIT_API int yuv_zoom(unsigned char* frame, int width, int height, int format, int cx, int cy,
                         int factor);
// Fills in a frame known on even columns of even rows: odd columns 1..width-3 (planar) or every
// odd column with a right neighbour in its row (packed Y bytes) from their row neighbours,
// then odd rows from the rows above and below; a last odd row copies the row above. Chroma is
// left alone.
LUMAKIT_API int yuv_extrapolate(unsigned char* frame, int width, int height, int format);
// Downscales by the integer ratios rx = sw/dw, ry = sh/dh in the destination's layout: each Y
// is its block's sum / (rx*ry) (planar chroma is not written); packed chroma is the mean over
// the groups of the block of the pair's first pixel (each block pixel counts its group's
// byte; for even rx the block's groups divided by rx*ry/2). -1 for null pointers, a zero
// destination size, a ratio of 0, packed rx*ry == 1, or a failed scratch row allocation.
LUMAKIT_API int yuv_downscale(const YUV_IMAGE* src, YUV_IMAGE* dst);

#ifdef __cplusplus
}
#endif

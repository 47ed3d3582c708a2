// Text on an IMAGE: measuring, the single-run renderer and its effects,
// boxed and wrapped layout, and the printf-style forms.
#include "image.h"

#include "font_walk.h"
#include "image_blend.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

INT_U8 IMAGE::shadow_alpha = 50;
INT_S16 IMAGE::shadow_x_offset = 2;
INT_S16 IMAGE::shadow_y_offset = 2;
INT_U8 IMAGE::inset_alpha = 100;
INT_S16 IMAGE::inset_x_offset = 1;
INT_S16 IMAGE::inset_y_offset = 1;
double IMAGE::chiseled_light_blend_value = 0.15;
double IMAGE::chiseled_dark_blend_value = -0.1;
INT_S16 IMAGE::chiseled_x_offset = 1;
INT_S16 IMAGE::chiseled_y_offset = 1;

namespace {

// Layout flags of one line.
enum : INT_U8
{
    LINE_CODE_MODE = 1, // starts inside the code-point escape
    LINE_DASH = 2,      // "-" drawn after it
    LINE_ELLIPSIS = 4,  // "..." drawn after it
};

// Effect and alignment bits of draw_string's flags word.
enum : short
{
    TEXT_SHADOW = 1,
    TEXT_INSET = 2,
    TEXT_CHISELED = 4,
    TEXT_TOP = 0x08,
    TEXT_BOTTOM = 0x10,
    TEXT_LEFT = 0x20,
    TEXT_RIGHT = 0x40,
};

constexpr int MAX_TEXT_LINES = 256;
constexpr size_t DRAW_TEXT_BUFFER_SZ = 5120;

COLOUR with_alpha(COLOUR c, INT_U8 alpha)
{
    return COLOUR((c.value & 0x00FFFFFFu) | (INT_U32(alpha) << 24));
}

// Summed in 64 bits and capped: a long text at a large size passes 2^31.
// Given line_chars, the text ends at its next '\n' and line_chars receives
// the number of characters measured.
INT_S32 measure(INT_S8 font, short w, short h, const char* text, long len, INT_U8 code_mode, long* line_chars = nullptr)
{
    IMAGE_FONT_SLOT* const slot = font_slot_entry(font);
    FONT_TEXT_WALK walk(text, len, code_mode);
    INT_S64 total = 0;
    INT_U32 code;
    while (walk.next(code)) {
        if (line_chars) {
            if (code == '\n') {
                break;
            }
            ++*line_chars;
        }
        total += font_glyph(slot, font, code, short(w - 1), short(h - 1))->advance;
    }
    return INT_S32(total > INT32_MAX ? INT32_MAX : (total < INT32_MIN ? INT32_MIN : total));
}

struct LAYOUT_LINE
{
    long start;
    long length; // characters
    INT_S32 width;
    INT_U8 flags;
};

// One character of the line being laid out.
struct LAYOUT_CHAR
{
    long start;
    INT_U8 mode;
    INT_U32 code;
    INT_S32 advance;
};

} // namespace

namespace {

// Text is drawn only into a valid image with an active area, in a valid
// slot at a usable size.
bool text_target_ok(const IMAGE& img, INT_S8 font, short w, short h)
{
    return img.valid && img.pixels && img.active_x1 != -1 && img.active_x2 != -1 && img.active_y1 != -1 &&
           img.active_y2 != -1 && IMAGE::is_font_valid(font) && font_size_ok(w, h);
}

// Coordinates handed on to the 16-bit drawing calls: held at the range's
// edge, never wrapped round to the far side.
short clamp16(int v)
{
    return short(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

// The chiseled look's rule for one pixel: its lightness moved by the
// shift in proportion to the coverage, kept within 0 to 1.
INT_U32 shift_lightness(INT_U32 pixel, int cv, double shift, INT_U8 cover_max)
{
    COLOUR p(pixel);
    double pa, ph, ps, pl;
    p.get_ahsl(pa, ph, ps, pl);
    pl += cv == cover_max ? shift : cv * shift / cover_max;
    pl = pl < 0.0 ? 0.0 : (pl > 1.0 ? 1.0 : pl);
    p.set_ahsl(pa, ph, ps, pl);
    return p.value;
}

// The lightness shift of the chiseled look. What a pixel becomes depends
// on its value and its coverage alone, and text stands on few colours, so
// each pair goes through the HSL conversion in doubles once per string and
// is looked up after that. The table is direct-mapped: a pair that meets
// another's place is worked out again, never answered wrongly.
class LIGHTNESS_SHIFT
{
public:
    LIGHTNESS_SHIFT(double shift, INT_U8 cover_max) : shift(shift), cover_max(cover_max)
    {
        for (ENTRY& e : table) {
            e.coverage = EMPTY;
        }
    }
    INT_U32 apply(INT_U32 pixel, int cv)
    {
        ENTRY& e = table[(pixel * 0x9E3779B1u ^ static_cast<INT_U32>(cv) * 0x85EBCA6Bu) >> (32 - BITS)];
        if (e.coverage != cv || e.pixel != pixel) {
            e = {pixel, shift_lightness(pixel, cv, shift, cover_max), static_cast<INT_U16>(cv)};
        }
        return e.result;
    }

private:
    static constexpr int BITS = 8;
    static constexpr INT_U16 EMPTY = 0xFFFF; // no coverage is this large
    struct ENTRY
    {
        INT_U32 pixel, result;
        INT_U16 coverage;
    };
    const double shift;
    const INT_U8 cover_max;
    ENTRY table[1 << BITS];
};

} // namespace

bool font_text_plain = false;

void text_row_plain(INT_U32* d, const INT_U8* alpha, int n, INT_U32 colour, INT_U32 solid)
{
    for (int i = 0; i < n; ++i) {
        const INT_U32 al = alpha[i];
        if (al == 0) {
            continue;
        }
        d[i] = al >= solid ? colour : kivo_pixel::mix(colour, d[i], al);
    }
}

#if (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__)

namespace {

// Alphas packed in a (lowest byte first) widened to one per 32-bit lane.
inline __m128i alpha_lanes(INT_U32 a)
{
    const __m128i zero = _mm_setzero_si128();
    return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(a)), zero), zero);
}

// Four pixels dv under the alphas a32: clear pixels keep their value, solid
// ones (the mask) take the colour, the rest mix as blend_row_sse2 does:
// d*255 + (c-d)*a in 16-bit lanes, exact.
inline __m128i text_pixels(__m128i dv, __m128i a32, __m128i solid, __m128i colour, __m128i colour16)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i clear = _mm_cmpeq_epi32(a32, zero);
    const __m128i dlo = _mm_unpacklo_epi8(dv, zero), dhi = _mm_unpackhi_epi8(dv, zero);
    const __m128i a16 = _mm_or_si128(a32, _mm_slli_epi32(a32, 16));
    const __m128i alo = _mm_unpacklo_epi32(a16, a16), ahi = _mm_unpackhi_epi32(a16, a16);
    const __m128i rlo = _mm_srli_epi16(
        _mm_add_epi16(_mm_sub_epi16(_mm_slli_epi16(dlo, 8), dlo), _mm_mullo_epi16(_mm_sub_epi16(colour16, dlo), alo)),
        8);
    const __m128i rhi = _mm_srli_epi16(
        _mm_add_epi16(_mm_sub_epi16(_mm_slli_epi16(dhi, 8), dhi), _mm_mullo_epi16(_mm_sub_epi16(colour16, dhi), ahi)),
        8);
    const __m128i alpha_mask = _mm_set1_epi32(int(0xFF000000u));
    __m128i r = _mm_packus_epi16(rlo, rhi);
    r = _mm_or_si128(_mm_andnot_si128(alpha_mask, r), _mm_and_si128(alpha_mask, dv));
    r = _mm_or_si128(_mm_and_si128(solid, colour), _mm_andnot_si128(solid, r));
    return _mm_or_si128(_mm_and_si128(clear, dv), _mm_andnot_si128(clear, r));
}

// The constants of one text colour and threshold, worked out once for a
// whole glyph.
struct TEXT_LANES
{
    __m128i cv, c16, solid_m1;
    TEXT_LANES(INT_U32 colour, INT_U32 solid)
        : cv(_mm_set1_epi32(int(colour))), c16(_mm_unpacklo_epi8(cv, _mm_setzero_si128())),
          // Alpha 0 is never solid: a threshold of 0 acts as 1.
          solid_m1(_mm_set1_epi32(int(solid ? solid : 1) - 1))
    {}
};

inline void text_row_lanes(INT_U32* d, const INT_U8* alpha, int n, const TEXT_LANES& k, INT_U32 colour, INT_U32 solid)
{
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        INT_U32 a;
        std::memcpy(&a, alpha + i, 4);
        if (a == 0) {
            continue;
        }
        const __m128i a32 = alpha_lanes(a);
        const __m128i solid_mask = _mm_cmpgt_epi32(a32, k.solid_m1);
        __m128i* p = reinterpret_cast<__m128i*>(d + i);
        if (_mm_movemask_epi8(solid_mask) == 0xFFFF) {
            _mm_storeu_si128(p, k.cv);
        } else {
            _mm_storeu_si128(p, text_pixels(_mm_loadu_si128(p), a32, solid_mask, k.cv, k.c16));
        }
    }
    // A pair in the low half of a vector (its upper lanes are clear), then
    // a last single pixel: the loads stay clear of the stores just made,
    // which the processor could not forward to a wider load.
    if (i + 2 <= n) {
        const INT_U32 a = INT_U32(alpha[i]) | INT_U32(alpha[i + 1]) << 8;
        if (a != 0) {
            const __m128i a32 = alpha_lanes(a);
            __m128i* p = reinterpret_cast<__m128i*>(d + i);
            _mm_storel_epi64(p, text_pixels(_mm_loadl_epi64(p), a32, _mm_cmpgt_epi32(a32, k.solid_m1), k.cv, k.c16));
        }
        i += 2;
    }
    if (i < n) {
        text_row_plain(d + i, alpha + i, 1, colour, solid);
    }
}

} // namespace

void text_row(INT_U32* d, const INT_U8* alpha, int n, INT_U32 colour, INT_U32 solid)
{
    text_row_lanes(d, alpha, n, TEXT_LANES(colour, solid), colour, solid);
}

void text_block(INT_U32* d, long d_stride, const INT_U8* alpha, long a_stride, int n, int rows, INT_U32 colour,
                INT_U32 solid)
{
    const TEXT_LANES k(colour, solid);
    for (int r = 0; r < rows; ++r, d += d_stride, alpha += a_stride) {
        text_row_lanes(d, alpha, n, k, colour, solid);
    }
}

#else

void text_row(INT_U32* d, const INT_U8* alpha, int n, INT_U32 colour, INT_U32 solid)
{
    text_row_plain(d, alpha, n, colour, solid);
}

void text_block(INT_U32* d, long d_stride, const INT_U8* alpha, long a_stride, int n, int rows, INT_U32 colour,
                INT_U32 solid)
{
    for (int r = 0; r < rows; ++r, d += d_stride, alpha += a_stride) {
        text_row_plain(d, alpha, n, colour, solid);
    }
}

#endif

INT_S32 IMAGE::get_string_width(INT_S8 font, short w, short h, const char* text, long len, INT_U8 code_mode)
{
    if (!text) {
        return 0;
    }
    if (font == -1) {
        font = font_slot;
    }
    if (w == -1) {
        w = font_width;
    }
    if (h == -1) {
        h = font_height;
    }
    if (!is_font_valid(font) || !font_size_ok(w, h)) {
        size_t n = std::strlen(text);
        return INT_S32(n > 32767 ? 32767 : n);
    }
    if (!*text || len == 0) {
        return 0;
    }
    return measure(font, w, h, text, len, code_mode);
}

void IMAGE::render_string(short x, short y, COLOUR text, COLOUR back, COLOUR underline, double lightness_shift,
                          INT_S8 font, short w, short h, const char* str, long len, INT_U8 code_mode)
{
    if (!str || !text_target_ok(*this, font, w, h)) {
        return;
    }
    IMAGE_FONT_SLOT* const slot = font_slot_entry(font);
    const INT_U8 cover_max = slot->coverage_max;
    const INT_U32 solid = COLOUR::alpha_solid_threshold;
    const bool plain = font_text_plain;
    const int text_alpha = text.alpha();
    const int divisor = cover_max ? cover_max : 255;
    // The alpha each coverage value draws the text colour with.
    INT_U32 alpha_of[256];
    if (plain) {
        for (int cv = 0; cv < 256; ++cv) {
            alpha_of[cv] = INT_U32(text_alpha == cover_max ? cv : cv * text_alpha / divisor);
        }
    }
    // The same as bytes, for the row routine: none when it is the identity
    // (text alpha equal to full coverage, the usual case), and built by
    // steps rather than a division per entry. Values past 255 are solid
    // like 255 itself, so they are held there.
    const bool identity = text_alpha == cover_max;
    INT_U8 alpha_byte[256];
    if (!plain && !identity) {
        const int q_step = text_alpha / divisor, r_step = text_alpha % divisor;
        int q = 0, rem = 0; // cv * text_alpha = q * divisor + rem
        for (int cv = 0; cv < 256; ++cv) {
            alpha_byte[cv] = INT_U8(q > 255 ? 255 : q);
            q += q_step;
            rem += r_step;
            if (rem >= divisor) {
                rem -= divisor;
                ++q;
            }
        }
    }
    const int right = this->x + width; // first column past the image
    const int bottom = this->y + height;
    // The glyphs' dirty areas share their rows, and mark_dirty_area keeps a
    // bounding box, so one call for the whole run marks the same area,
    // unless a column of -1 can be marked: -1 also means "clean" there and
    // the order of the calls would count.
    const bool one_dirty_mark = !plain && (this->x > -1 || this->x + width - 1 < -1);
    int dirty_lo = 0, dirty_hi = -1; // columns, valid when dirty_lo <= dirty_hi
    int pen = x;
    int baseline = 0;
    std::optional<LIGHTNESS_SHIFT> shifter; // made at the first shifted pixel

    FONT_TEXT_WALK walk(str, len, code_mode);
    INT_U32 code;
    while (pen < right && walk.next(code)) {
        IMAGE_FONT_GLYPH* g = font_glyph(slot, font, code, short(w - 1), short(h - 1));
        if (baseline == 0 && g->face_height != 0) {
            baseline = int(long(h) * g->face_descender / g->face_height);
        }
        const int adv = g->advance;

        if (back.alpha()) {
            fill_rect(clamp16(pen), y, clamp16(pen + adv), clamp16(y + h), back, 1);
        }
        // x to x + advance - 1 as it stands: for an advance of 0 the line
        // runs back one pixel.
        if (underline.alpha()) {
            draw_line(clamp16(pen), clamp16(y + h + baseline), clamp16(pen + adv - 1), clamp16(y + h + baseline),
                      underline, 1, 1);
        }

        // Glyph box, cut one pixel short of the image's right and bottom
        // edges, then to the active area.
        const int gx = pen + g->left;
        const int gy = y + h + baseline - g->top - 1;
        int cols = g->width < right - gx - 1 ? g->width : right - gx - 1;
        int rows = g->rows < bottom - gy - 1 ? g->rows : bottom - gy - 1;
        int c0 = active_x1 - gx > 0 ? active_x1 - gx : 0;
        int r0 = active_y1 - gy > 0 ? active_y1 - gy : 0;
        int c1 = active_x2 - gx + 1 < cols ? active_x2 - gx + 1 : cols;
        int r1 = active_y2 - gy + 1 < rows ? active_y2 - gy + 1 : rows;
        if (c0 < c1 && r0 < r1) {
            if (one_dirty_mark) {
                const int d1 = clamp16(pen), d2 = clamp16(pen + adv);
                const int lo = d1 < d2 ? d1 : d2, hi = d1 < d2 ? d2 : d1;
                if (dirty_lo > dirty_hi) {
                    dirty_lo = lo;
                    dirty_hi = hi;
                } else {
                    dirty_lo = lo < dirty_lo ? lo : dirty_lo;
                    dirty_hi = hi > dirty_hi ? hi : dirty_hi;
                }
            } else {
                mark_dirty_area(clamp16(pen), y, clamp16(pen + adv), clamp16(y + h));
            }
            const int col0 = gx - this->x;
            // Coverage as the alpha itself (the usual case): the glyph box
            // in one call; the other cases a row at a time.
            const bool whole_box = lightness_shift == 0.0 && !plain && identity;
            if (whole_box) {
                text_block(reinterpret_cast<INT_U32*>(pixels + long(gy + r0 - this->y) * stride + col0 + c0), stride,
                           g->bitmap + size_t(r0) * size_t(g->pitch) + c0, g->pitch, c1 - c0, r1 - r0, text.value,
                           solid);
            }
            for (int r = r0; r < r1 && !whole_box; ++r) {
                const INT_U8* cov = g->bitmap + size_t(r) * size_t(g->pitch);
                COLOUR* row = pixels + long(gy + r - this->y) * stride;
                if (lightness_shift == 0.0 && !plain) {
                    INT_U32* d = reinterpret_cast<INT_U32*>(row + col0 + c0);
                    // Through the table in pieces of a fixed buffer.
                    INT_U8 mapped[64];
                    for (int c = c0; c < c1; c += 64) {
                        const int n = c1 - c < 64 ? c1 - c : 64;
                        for (int k = 0; k < n; ++k) {
                            mapped[k] = alpha_byte[cov[c + k]];
                        }
                        text_row(d + (c - c0), mapped, n, text.value, solid);
                    }
                    continue;
                }
                if (lightness_shift == 0.0) {
                    for (int c = c0; c < c1; ++c) {
                        const INT_U32 al = alpha_of[cov[c]];
                        if (al == 0) {
                            continue;
                        }
                        COLOUR& p = row[col0 + c];
                        p.value = al >= solid ? text.value : kivo_pixel::mix(text.value, p.value, al);
                    }
                    continue;
                }
                // Every pixel under the glyph box is rewritten, coverage 0
                // included.
                if (plain) {
                    for (int c = c0; c < c1; ++c) {
                        COLOUR& p = row[col0 + c];
                        p.value = shift_lightness(p.value, cov[c], lightness_shift, cover_max);
                    }
                    continue;
                }
                if (!shifter) {
                    shifter.emplace(lightness_shift, cover_max);
                }
                for (int c = c0; c < c1; ++c) {
                    COLOUR& p = row[col0 + c];
                    p.value = shifter->apply(p.value, cov[c]);
                }
            }
        }
        pen += adv;
    }
    if (dirty_lo <= dirty_hi) {
        mark_dirty_area(short(dirty_lo), y, short(dirty_hi), clamp16(y + h));
    }
}

void IMAGE::process_and_render_string(short x, short y, COLOUR text, COLOUR back, COLOUR underline, INT_S8 font,
                                      short w, short h, const char* str, short effect, long len, INT_U8 code_mode)
{
    if (!str || !text_target_ok(*this, font, w, h)) {
        return;
    }
    if (effect & TEXT_SHADOW) {
        render_string(clamp16(x + shadow_x_offset), clamp16(y + shadow_y_offset),
                      with_alpha(COLOUR_BLACK, shadow_alpha), back, underline, 0.0, font, w, h, str, len, code_mode);
        render_string(x, y, text, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, font, w, h, str, len, code_mode);
    } else if (effect & TEXT_INSET) {
        double a, hue, s, l;
        text.get_ahsl(a, hue, s, l);
        if (l > 0.5) {
            render_string(clamp16(x - inset_x_offset), clamp16(y - inset_y_offset),
                          with_alpha(COLOUR_BLACK, inset_alpha), COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, font, w, h,
                          str, len, code_mode);
        } else {
            render_string(clamp16(x + inset_x_offset), clamp16(y + inset_y_offset),
                          with_alpha(COLOUR_WHITE, inset_alpha), COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, font, w, h,
                          str, len, code_mode);
        }
        render_string(x, y, text, COLOUR_INVISIBLE, underline, 0.0, font, w, h, str, len, code_mode);
    } else if (effect & TEXT_CHISELED) {
        render_string(clamp16(x + chiseled_x_offset), clamp16(y + chiseled_y_offset), text, COLOUR_INVISIBLE,
                      COLOUR_INVISIBLE, chiseled_light_blend_value, font, w, h, str, len, code_mode);
        render_string(x, y, text, COLOUR_INVISIBLE, underline, chiseled_dark_blend_value, font, w, h, str, len,
                      code_mode);
    } else {
        render_string(x, y, text, back, underline, 0.0, font, w, h, str, len, code_mode);
    }
}

void IMAGE::draw_string(short x1, short y1, short x2, short y2, COLOUR text, COLOUR back, COLOUR underline, INT_S8 font,
                        short w, short h, const char* str, short flags)
{
    if (!str || !*str || !is_font_valid(font) || !font_size_ok(w, h)) {
        return;
    }
    mark_dirty_area(x1, y1, x2, y2);

    int lines_allowed = (y2 - y1 + 1) / h;
    lines_allowed = lines_allowed < 1 ? 1 : (lines_allowed > MAX_TEXT_LINES ? MAX_TEXT_LINES : lines_allowed);
    const INT_S32 ellipsis_w = measure(font, w, h, "...", -1, 0);
    INT_S32 dash_w = -1; // measured the first time a line is broken
    const INT_S32 avail = INT_S32(x2) - x1 + 1;

    LAYOUT_LINE lines[MAX_TEXT_LINES];
    int line_count = 0; // lines finished
    LAYOUT_LINE cur = {0, 0, 0, 0};
    std::vector<LAYOUT_CHAR> chars; // characters of the current line

    FONT_TEXT_WALK walk(str, -1, 0);
    // Starts the next line at a byte index with the escape state there.
    auto begin_line = [&](long start, INT_U8 mode) {
        cur = {start, 0, 0, INT_U8(mode ? LINE_CODE_MODE : 0)};
        chars.clear();
        walk.pos = start;
        walk.code_mode = mode;
    };
    auto finish_line = [&]() {
        cur.length = long(chars.size());
        lines[line_count++] = cur;
    };

    bool ended = false;
    INT_U32 code;
    long start;
    INT_U8 mode;
    IMAGE_FONT_SLOT* const slot = font_slot_entry(font);
    while (!ended && walk.next(code, &start, &mode)) {
        const INT_S32 adv = font_glyph(slot, font, code, short(w - 1), short(h - 1))->advance;

        if (code == '\n') {
            finish_line();
            if (line_count >= lines_allowed) {
                ended = true;
            } else {
                begin_line(walk.pos, walk.code_mode);
            }
            continue;
        }
        if ((code == ' ' || code == '\t') && chars.empty()) {
            cur.start = walk.pos;
            cur.flags = INT_U8(walk.code_mode ? LINE_CODE_MODE : 0);
            continue;
        }
        if (chars.empty()) {
            // The line begins at its first character.
            cur.start = start;
            cur.flags = INT_U8(mode ? LINE_CODE_MODE : 0);
        }
        if (line_count == lines_allowed - 1 && adv + cur.width + ellipsis_w > avail) {
            // The rest of the line: no line follows to show what comes
            // after its end.
            long rest_chars = 0;
            const INT_S32 rest = measure(font, w, h, str + start, -1, mode, &rest_chars);
            if (INT_S64(cur.width) + rest <= avail) {
                cur.width += rest;
                cur.length = long(chars.size()) + rest_chars;
                lines[line_count++] = cur;
            } else {
                cur.flags |= LINE_ELLIPSIS;
                finish_line();
            }
            ended = true;
            continue;
        }
        if (adv + cur.width < avail) {
            chars.push_back({start, mode, code, adv});
            cur.width += adv;
            continue;
        }

        // Break: at the last space, tab or dash after the line's first
        // character, else inside the word with a dash, else before this
        // character. A blank that overflows is itself that last space (the
        // line is never empty here), so the word before it stays whole.
        int n = int(chars.size());
        int at = code == ' ' || code == '\t' ? n : -1;
        for (int j = n - 1; j >= 1 && at < 0; --j) {
            if (chars[j].code == ' ' || chars[j].code == '\t' || chars[j].code == '-') {
                at = j;
            }
        }
        long next_start = start;
        INT_U8 next_mode = mode;
        int keep = n;
        if (at >= 0) {
            keep = at < n && chars[at].code == '-' ? at + 1 : at;
            if (keep < n) {
                next_start = chars[keep].start;
                next_mode = chars[keep].mode;
            }
        } else {
            if (dash_w < 0) {
                dash_w = measure(font, w, h, "-", -1, 0);
            }
            INT_S32 width = cur.width;
            int m = n;
            while (m >= 1 && width + dash_w >= avail) {
                width -= chars[--m].advance;
            }
            if (m >= 1) {
                keep = m;
                cur.flags |= LINE_DASH;
                if (m < n) {
                    next_start = chars[m].start;
                    next_mode = chars[m].mode;
                }
            }
        }
        INT_S32 kept_w = 0;
        for (int j = 0; j < keep; ++j) {
            kept_w += chars[j].advance;
        }
        chars.resize(size_t(keep));
        cur.width = kept_w;
        finish_line();
        if (line_count >= lines_allowed) {
            ended = true;
        } else {
            begin_line(next_start, next_mode);
        }
    }
    if (!ended && (!chars.empty() || (cur.flags & LINE_ELLIPSIS))) {
        finish_line();
    }

    for (int k = 0; k < line_count; ++k) {
        const LAYOUT_LINE& line = lines[k];
        INT_S32 tail = 0;
        if (line.flags & LINE_ELLIPSIS) {
            tail = ellipsis_w;
        } else if (line.flags & LINE_DASH) {
            tail = dash_w;
        }
        int lx, ly;
        if (flags & TEXT_LEFT) {
            lx = x1;
        } else if (flags & TEXT_RIGHT) {
            lx = x2 - line.width - tail;
        } else {
            lx = x1 + ((x2 - x1) - line.width + 1) / 2 - tail / 2;
        }
        if (flags & TEXT_TOP) {
            ly = y1 + k * h;
        } else if (flags & TEXT_BOTTOM) {
            ly = y2 - h * (line_count - k);
        } else {
            ly = y1 + k * h + ((y2 - y1) - h * line_count + 1) / 2;
        }
        process_and_render_string(clamp16(lx), clamp16(ly), text, back, underline, font, w, h, str + line.start, flags,
                                  line.length, INT_U8(line.flags & LINE_CODE_MODE));
        if (line.flags & (LINE_ELLIPSIS | LINE_DASH)) {
            process_and_render_string(clamp16(lx + line.width), clamp16(ly), text, back, underline, font, w, h,
                                      (line.flags & LINE_ELLIPSIS) ? "..." : "-", flags, -1, 0);
        }
    }
}

void IMAGE::draw_char(short x, short y, COLOUR text, COLOUR back, COLOUR underline, INT_S8 font, short w, short h,
                      char c, short effect)
{
    static char buffer[2];
    buffer[0] = c;
    buffer[1] = 0;
    process_and_render_string(x, y, text, back, underline, font, w, h, buffer, effect, -1, 0);
}

namespace {

// Formats into the fixed buffer, cutting overlong results short.
void format_text(char (&buffer)[DRAW_TEXT_BUFFER_SZ], const char* format, va_list args)
{
    buffer[0] = 0;
    if (format) {
        std::vsnprintf(buffer, sizeof buffer, format, args);
    }
}

} // namespace

void IMAGE::draw_text(short x, short y, COLOUR text, COLOUR back, COLOUR underline, INT_S8 font, short w, short h,
                      const char* format, ...)
{
    char buffer[DRAW_TEXT_BUFFER_SZ];
    va_list args;
    va_start(args, format);
    format_text(buffer, format, args);
    va_end(args);
    process_and_render_string(x, y, text, back, underline, font, w, h, buffer, 0, -1, 0);
}

void IMAGE::draw_text(short x, short y, COLOUR text, COLOUR back, INT_S8 font, short w, short h, const char* format,
                      ...)
{
    char buffer[DRAW_TEXT_BUFFER_SZ];
    va_list args;
    va_start(args, format);
    format_text(buffer, format, args);
    va_end(args);
    process_and_render_string(x, y, text, back, COLOUR_INVISIBLE, font, w, h, buffer, 0, -1, 0);
}

void IMAGE::draw_text(short x, short y, COLOUR text, COLOUR back, const char* format, ...)
{
    char buffer[DRAW_TEXT_BUFFER_SZ];
    va_list args;
    va_start(args, format);
    format_text(buffer, format, args);
    va_end(args);
    process_and_render_string(x, y, text, back, COLOUR_INVISIBLE, font_slot, font_width, font_height, buffer, 0, -1, 0);
}

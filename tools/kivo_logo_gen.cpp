// Draws the two maker logos (the badge with a "K", and the badge with the
// word "KIVO") and writes them as embedded image definitions into a C++
// source file that the imaging library compiles in. Everything is drawn
// from a handful of strokes with fixed 4 x 4 supersampling, so the output
// is the same bytes on every run and needs no font file.
//
// usage: kivo_logo_gen <output.cpp>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct Canvas
{
    int w, h;
    std::vector<std::uint32_t> px; // 0xAARRGGBB
    Canvas(int width, int height) : w(width), h(height), px(std::size_t(width) * height, 0) {}
};

struct Stroke
{
    double x1, y1, x2, y2, r; // a capsule: segment with a round end of radius r
};

struct Ring
{
    double cx, cy, rx, ry, thickness; // an elliptical ring
};

const int SUB = 4; // subsamples per pixel in each direction

bool in_stroke(const Stroke& s, double x, double y)
{
    double dx = s.x2 - s.x1, dy = s.y2 - s.y1;
    double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((x - s.x1) * dx + (y - s.y1) * dy) / len2 : 0;
    if (t < 0) {
        t = 0;
    }
    if (t > 1) {
        t = 1;
    }
    double px = s.x1 + t * dx - x, py = s.y1 + t * dy - y;
    return px * px + py * py <= s.r * s.r;
}

bool in_ring(const Ring& r, double x, double y)
{
    double ox = (x - r.cx) / (r.rx + r.thickness / 2), oy = (y - r.cy) / (r.ry + r.thickness / 2);
    double ix = (x - r.cx) / (r.rx - r.thickness / 2), iy = (y - r.cy) / (r.ry - r.thickness / 2);
    return ox * ox + oy * oy <= 1.0 && ix * ix + iy * iy > 1.0;
}

// Straight-alpha "over" of a colour with coverage 0..SUB*SUB.
void blend(Canvas& c, int x, int y, std::uint32_t colour, int coverage)
{
    if (coverage <= 0 || x < 0 || y < 0 || x >= c.w || y >= c.h) {
        return;
    }
    int sa = int(colour >> 24) * coverage / (SUB * SUB);
    std::uint32_t& d = c.px[std::size_t(y) * c.w + x];
    int da = int(d >> 24);
    int oa = sa + da * (255 - sa) / 255;
    if (oa == 0) {
        return;
    }
    std::uint32_t out = std::uint32_t(oa) << 24;
    for (int shift = 0; shift <= 16; shift += 8) {
        int sc = int(colour >> shift) & 0xFF, dc = int(d >> shift) & 0xFF;
        int v = (sc * sa + dc * da * (255 - sa) / 255) / oa;
        out |= std::uint32_t(v > 255 ? 255 : v) << shift;
    }
    d = out;
}

template <class Inside> void paint(Canvas& c, std::uint32_t colour, Inside inside)
{
    for (int y = 0; y < c.h; y++) {
        for (int x = 0; x < c.w; x++) {
            int cover = 0;
            for (int sy = 0; sy < SUB; sy++) {
                for (int sx = 0; sx < SUB; sx++) {
                    if (inside(x + (sx + 0.5) / SUB, y + (sy + 0.5) / SUB)) {
                        cover++;
                    }
                }
            }
            blend(c, x, y, colour, cover);
        }
    }
}

void paint_strokes(Canvas& c, std::uint32_t colour, const std::vector<Stroke>& strokes)
{
    paint(c, colour, [&](double x, double y) {
        for (const Stroke& s : strokes) {
            if (in_stroke(s, x, y)) {
                return true;
            }
        }
        return false;
    });
}

// The badge: a rounded square with a vertical blue gradient, a light rim
// and a white "K", placed at ox, oy in a canvas at least 80 x 75.
void draw_badge(Canvas& c, int ox, int oy)
{
    const int bw = 80, bh = 75, radius = 14;
    auto inside_rounded = [&](double x, double y, double inset) {
        double l = ox + inset, t = oy + inset, r = ox + bw - inset, b = oy + bh - inset;
        if (x < l || x > r || y < t || y > b) {
            return false;
        }
        double rad = radius - inset;
        double cx = x < l + rad ? l + rad : (x > r - rad ? r - rad : x);
        double cy = y < t + rad ? t + rad : (y > b - rad ? b - rad : y);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= rad * rad;
    };
    // Rim first, then the gradient body one pixel inside it.
    paint(c, 0xFF0A3D7Au, [&](double x, double y) { return inside_rounded(x, y, 0.0); });
    for (int y = 0; y < bh; y++) {
        // From a light blue at the top to the deep blue at the bottom.
        int k = y * 255 / (bh - 1);
        std::uint32_t r = std::uint32_t(0x33 + (0x00 - 0x33) * k / 255);
        std::uint32_t g = std::uint32_t(0x99 + (0x4D - 0x99) * k / 255);
        std::uint32_t b = std::uint32_t(0xFF + (0xA6 - 0xFF) * k / 255);
        std::uint32_t colour = 0xFF000000u | r << 16 | g << 8 | b;
        for (int x = 0; x < bw; x++) {
            int cover = 0;
            for (int sy = 0; sy < SUB; sy++) {
                for (int sx = 0; sx < SUB; sx++) {
                    if (inside_rounded(ox + x + (sx + 0.5) / SUB, oy + y + (sy + 0.5) / SUB, 2.0)) {
                        cover++;
                    }
                }
            }
            blend(c, ox + x, oy + y, colour, cover);
        }
    }
    // A soft highlight across the upper half.
    paint(c, 0x30FFFFFFu, [&](double x, double y) { return inside_rounded(x, y, 4.0) && y < oy + bh * 0.45; });
    // The "K": one upright and two arms meeting left of centre.
    double s = 1.0;
    std::vector<Stroke> k = {
        {ox + 27 * s, oy + 17.0, ox + 27 * s, oy + 58.0, 5.0},
        {ox + 29 * s, oy + 40.0, ox + 54 * s, oy + 17.0, 5.0},
        {ox + 36 * s, oy + 34.0, ox + 56 * s, oy + 58.0, 5.0},
    };
    std::vector<Stroke> shadow;
    for (Stroke st : k) {
        st.x1 += 1.5, st.x2 += 1.5, st.y1 += 1.5, st.y2 += 1.5;
        shadow.push_back(st);
    }
    paint_strokes(c, 0x80001A40u, shadow);
    paint_strokes(c, 0xFFFFFFFFu, k);
}

// "KIVO" in capitals built from strokes, cap height h, left edge x, top y.
void draw_word(Canvas& c, double x, double y, double h, std::uint32_t colour)
{
    double w = h * 0.62, r = h * 0.085, gap = h * 0.26;
    std::vector<Stroke> strokes;
    // K
    strokes.push_back({x + r, y + r, x + r, y + h - r, r});
    strokes.push_back({x + r * 1.5, y + h * 0.58, x + w - r, y + r, r});
    strokes.push_back({x + w * 0.38, y + h * 0.45, x + w - r, y + h - r, r});
    x += w + gap;
    // I
    strokes.push_back({x + r, y + r, x + r, y + h - r, r});
    x += 2 * r + gap;
    // V
    strokes.push_back({x + r, y + r, x + w / 2, y + h - r, r});
    strokes.push_back({x + w / 2, y + h - r, x + w - r, y + r, r});
    x += w + gap;
    paint_strokes(c, colour, strokes);
    // O
    Ring o{x + w * 0.55, y + h / 2, w * 0.55 - r, h / 2 - r, 2 * r};
    paint(c, colour, [&](double px, double py) { return in_ring(o, px, py); });
}

void write_array(std::FILE* f, const char* name, const Canvas& c)
{
    std::fprintf(f, "static const INT_U8 %s[%d] =\n{\n\t", name, 5 + 4 * c.w * c.h);
    std::fprintf(f, "0x01,0x%02X,0x%02X,0x%02X,0x%02X", (c.w >> 8) & 0xFF, c.w & 0xFF, (c.h >> 8) & 0xFF, c.h & 0xFF);
    for (int y = 0; y < c.h; y++) {
        std::fprintf(f, ",\n\t");
        for (int x = 0; x < c.w; x++) {
            std::uint32_t p = c.px[std::size_t(y) * c.w + x];
            std::fprintf(f, "%s0x%02X,0x%02X,0x%02X,0x%02X", x ? "," : "", p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF,
                         p >> 24);
        }
    }
    std::fprintf(f, "\n};\n\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.cpp>\n", argv[0]);
        return 2;
    }
    Canvas badge(80, 75);
    draw_badge(badge, 0, 0);

    Canvas with_text(195, 80);
    draw_badge(with_text, 0, 2);
    draw_word(with_text, 90, 22, 36, 0xFF0A3D7Au);

    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(f, "// Generated by kivo_logo_gen at build time; do not edit.\n#include \"kivo_types.h\"\n\n");
    write_array(f, "kivo_logo_bytes", badge);
    write_array(f, "kivo_logo_with_text_bytes", with_text);
    std::fprintf(f, "const INT_U8* kivo_logo_image_def() { return kivo_logo_bytes; }\n");
    std::fprintf(f, "const INT_U8* kivo_logo_with_text_image_def() { return kivo_logo_with_text_bytes; }\n");
    if (std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}

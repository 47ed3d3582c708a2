// Skinned boxes drawn from nine, three or one piece and three overlays.
#include "image_box.h"

#include "folder.h"
#include "image_cache.h"
#include "kivo_host.h"

#include <cstring>

INT_U8 IMAGE_BOX::store_local_result = 1;

namespace {

const int PIECE_COUNT = 12;

// Shares a span S between two end sizes a and b.
void share_span(long& a, long& b, long span)
{
    if (a + b <= span) {
        return;
    }
    if (a + b < 1) {
        a = b = 0;
        return;
    }
    long total = a + b;
    a = a * span / total;
    b = b * span / total;
}

// Tiles `tile` across [x, x + w) x [y, y + h) with the last tiles cut.
void tile(IMAGE* tile, IMAGE* target, long x, long y, long w, long h, IMAGE_COPY_TYPE type)
{
    if (!tile || tile->width < 1 || tile->height < 1) {
        return;
    }
    for (long ty = 0; ty < h; ty += tile->height) {
        long th = h - ty < tile->height ? h - ty : tile->height;
        for (long tx = 0; tx < w; tx += tile->width) {
            long tw = w - tx < tile->width ? w - tx : tile->width;
            tile->put(short(x + tx), short(y + ty), 0, 0, short(tw), short(th), target, type);
        }
    }
}

bool alpha_at(IMAGE* image, long px, long py)
{
    if (!image || !image->pixels || image->active_x1 < 0) {
        return false;
    }
    // Placed coordinates of the piece: outside its active area counts as
    // transparent.
    long x = image->x + px, y = image->y + py;
    if (x < image->active_x1 || x > image->active_x2 || y < image->active_y1 || y > image->active_y2) {
        return false;
    }
    if (px < 0 || py < 0 || px >= image->width || py >= image->height) {
        return false;
    }
    return (INT_U32(image->pixels[py * long(image->stride) + px]) >> 24) != 0;
}

} // namespace

IMAGE_BOX::~IMAGE_BOX()
{
    delete result;
}

IMAGE** IMAGE_BOX::piece(int i)
{
    IMAGE** pieces[PIECE_COUNT] = {&mid_left,  &mid_mid,     &mid_right,    &top_mid, &bottom_mid, &top_left,
                                   &top_right, &bottom_left, &bottom_right, &colay,   &solay,      &tolay};
    return pieces[i];
}

bool IMAGE_BOX::load_images(FOLDER& folder, const char* base_name, INT_U8 flags)
{
    char path[2048];
    folder.get(path, nullptr);
    return load_images(path, base_name, flags);
}

bool IMAGE_BOX::load_images(const char* folder, const char* base_name, INT_U8 flags)
{
    if (!cache || !base_name) {
        return false;
    }
    clear_images();
    // Each name is the base with a suffix put after it; a name that does
    // not fit loads nothing.
    char name[4096];
    const size_t base_length = std::strlen(base_name);
    if (base_length < sizeof name) {
        std::memcpy(name, base_name, base_length);
    }
    auto open = [&](const char* suffix) -> IMAGE* {
        const size_t suffix_length = std::strlen(suffix);
        if (base_length + suffix_length >= sizeof name) {
            return nullptr;
        }
        std::memcpy(name + base_length, suffix, suffix_length + 1);
        return cache->open_image(folder, name, -1, -1, flags);
    };
    colay = open("_colay");
    solay = open("_solay");
    tolay = open("_tolay");
    if ((top_left = open("_top_left")) != nullptr) {
        top_mid = open("_top_mid");
        top_right = open("_top_right");
        mid_left = open("_mid_left");
        mid_mid = open("_mid_mid");
        mid_right = open("_mid_right");
        bottom_left = open("_bottom_left");
        bottom_mid = open("_bottom_mid");
        bottom_right = open("_bottom_right");
        return top_mid && top_right && mid_left && mid_mid && mid_right && bottom_left && bottom_mid && bottom_right;
    }
    if ((mid_left = open("_left")) != nullptr) {
        mid_mid = open("_mid");
        mid_right = open("_right");
        return mid_mid && mid_right;
    }
    if ((top_mid = open("_top")) != nullptr) {
        mid_mid = open("_mid");
        bottom_mid = open("_bottom");
        return mid_mid && bottom_mid;
    }
    mid_mid = open("");
    return mid_mid != nullptr;
}

void IMAGE_BOX::clear_images()
{
    if (!cache) {
        return;
    }
    delete result;
    result = nullptr;
    for (int i = 0; i < PIECE_COUNT; i++) {
        IMAGE** p = piece(i);
        if (*p) {
            cache->do_close(cache->get_entry(*p));
        }
        *p = nullptr;
    }
}

IMAGE_BOX& IMAGE_BOX::operator=(const IMAGE_BOX& other)
{
    if (this == &other) {
        return *this;
    }
    clear_images();
    if (!cache) {
        return *this;
    }
    IMAGE_BOX& source = const_cast<IMAGE_BOX&>(other);
    for (int i = 0; i < PIECE_COUNT; i++) {
        if (*source.piece(i)) {
            *piece(i) = cache->duplicate(*source.piece(i));
        }
    }
    return *this;
}

void IMAGE_BOX::recolour(COLOUR tint)
{
    edit_pieces([&](IMAGE*& p) { cache->recolour(p, tint); });
}

void IMAGE_BOX::set_trialpha_colours(COLOUR c1, COLOUR c2, COLOUR c3)
{
    edit_pieces([&](IMAGE*& p) { cache->set_trialpha_colours(p, c1, c2, c3); });
}

void IMAGE_BOX::replace_colour(COLOUR from, COLOUR to)
{
    edit_pieces([&](IMAGE*& p) { cache->replace_colour(p, from, to); });
}

void IMAGE_BOX::make_grey()
{
    edit_pieces([&](IMAGE*& p) { cache->make_grey(p); });
}

void IMAGE_BOX::draw(short x1, short y1, short x2, short y2, INT_U8 stretch, IMAGE* target, IMAGE_COPY_TYPE type)
{
    long w = long(x2) - x1 + 1, h = long(y2) - y1 + 1;
    if (w < 1 || h < 1) {
        return;
    }
    if (!target) {
        target = kivo_host()->get_back_buffer();
    }
    if (!target) {
        return;
    }
    if (!store_local_result) {
        compose(target, x1, y1, w, h, stretch, type);
        if (type == IMAGE_COPY_BLEND || type == IMAGE_COPY_REPLACE) {
            compose_overlays(target, x1, y1, w, h, stretch);
        }
        return;
    }
    if (result && result->width == w && result->height == h && !redraw) {
        result->put(x1, y1, target, type);
        return;
    }
    if (!result) {
        result = new IMAGE;
    }
    result->reset(short(w), short(h));
    redraw = 0;
    result->clear(COLOUR_INVISIBLE, 1);
    compose(result, 0, 0, w, h, stretch, IMAGE_COPY_REPLACE);
    compose_overlays(result, 0, 0, w, h, stretch);
    result->put(x1, y1, target, type);
}

void IMAGE_BOX::compose(IMAGE* target, long x, long y, long w, long h, INT_U8 stretch, IMAGE_COPY_TYPE type)
{
    long right_edge = x + w - 1, bottom_edge = y + h - 1;
    if (has_nine_slices()) {
        long left = mid_left->width, right = mid_right->width;
        long top = top_mid->height, bottom = bottom_mid->height;
        share_span(left, right, w);
        share_span(top, bottom, h);
        long mid_w = w - (left + right), mid_h = h - (top + bottom);
        if (cache) {
            if (left) {
                cache->resize_image(top_left, short(left), top_left->height);
                cache->resize_image(mid_left, short(left), mid_left->height);
                cache->resize_image(bottom_left, short(left), bottom_left->height);
            }
            if (right) {
                cache->resize_image(top_right, short(right), top_right->height);
                cache->resize_image(mid_right, short(right), mid_right->height);
                cache->resize_image(bottom_right, short(right), bottom_right->height);
            }
            if (top) {
                cache->resize_image(top_left, top_left->width, short(top));
                cache->resize_image(top_mid, top_mid->width, short(top));
                cache->resize_image(top_right, top_right->width, short(top));
            }
            if (bottom) {
                cache->resize_image(bottom_left, bottom_left->width, short(bottom));
                cache->resize_image(bottom_mid, bottom_mid->width, short(bottom));
                cache->resize_image(bottom_right, bottom_right->width, short(bottom));
            }
        }
        if (left && top) {
            top_left->put(short(x), short(y), target, type);
        }
        if (left && bottom) {
            bottom_left->put(short(x), short(bottom_edge - bottom + 1), target, type);
        }
        if (right && top) {
            top_right->put(short(right_edge - right + 1), short(y), target, type);
        }
        if (right && bottom) {
            bottom_right->put(short(right_edge - right + 1), short(bottom_edge - bottom + 1), target, type);
        }
        if (mid_w > 0 && mid_h > 0) {
            // The centre is clipped to its own cell (inclusive corners), so a
            // tile never spills under the edges.
            INT_S16 ax1 = target->active_x1, ax2 = target->active_x2;
            INT_S16 ay1 = target->active_y1, ay2 = target->active_y2;
            target->add_rect_to_active_area(short(x + left), short(y + top), short(x + left + mid_w - 1),
                                            short(y + top + mid_h - 1));
            tile(mid_mid, target, x + left, y + top, mid_w, mid_h, type);
            target->active_x1 = ax1, target->active_x2 = ax2;
            target->active_y1 = ay1, target->active_y2 = ay2;
        }
        // Edges shrunk to nothing are not drawn, so no piece spills out of
        // the box at its original size.
        if (mid_w > 0) {
            if (top) {
                tile(top_mid, target, x + left, y, mid_w, top_mid->height, type);
            }
            if (bottom) {
                tile(bottom_mid, target, x + left, bottom_edge - bottom + 1, mid_w, bottom_mid->height, type);
            }
        }
        if (mid_h > 0) {
            if (left) {
                tile(mid_left, target, x, y + top, mid_left->width, mid_h, type);
            }
            if (right) {
                tile(mid_right, target, right_edge - right + 1, y + top, mid_right->width, mid_h, type);
            }
        }
    } else if (mid_left && mid_mid && mid_right) {
        long left = mid_left->width, right = mid_right->width;
        share_span(left, right, w);
        long mid_w = w - (left + right);
        if (cache) {
            if (left) {
                cache->resize_image(mid_left, short(left), short(h));
            }
            if (right) {
                cache->resize_image(mid_right, short(right), short(h));
            }
            cache->resize_image(mid_mid, mid_mid->width, short(h));
        }
        if (left) {
            mid_left->put(short(x), short(y), target, type);
        }
        if (right) {
            mid_right->put(short(right_edge - right + 1), short(y), target, type);
        }
        if (mid_w > 0) {
            tile(mid_mid, target, x + left, y, mid_w, mid_mid->height, type);
        }
    } else if (top_mid && mid_mid && bottom_mid) {
        long top = top_mid->height, bottom = bottom_mid->height;
        share_span(top, bottom, h);
        long mid_h = h - (top + bottom);
        if (cache) {
            if (top) {
                cache->resize_image(top_mid, short(w), short(top));
            }
            if (bottom) {
                cache->resize_image(bottom_mid, short(w), short(bottom));
            }
            cache->resize_image(mid_mid, short(w), mid_mid->height);
        }
        if (top) {
            top_mid->put(short(x), short(y), target, type);
        }
        if (bottom) {
            bottom_mid->put(short(x), short(bottom_edge - bottom + 1), target, type);
        }
        if (mid_h > 0) {
            tile(mid_mid, target, x, y + top, mid_mid->width, mid_h, type);
        }
    } else if (mid_mid) {
        if (stretch && cache) {
            cache->resize_image(mid_mid, short(w), short(h));
        }
        mid_mid->put(short(x + (w - mid_mid->width) / 2), short(y + (h - mid_mid->height) / 2), target, type);
    }
}

void IMAGE_BOX::mask(IMAGE* into, long x, long y, long w, long h, INT_U8 stretch)
{
    if (w < 1 || h < 1) {
        return;
    }
    if (!store_local_result) {
        compose(into, x, y, w, h, stretch, IMAGE_COPY_ALPHA_MULTIPLY);
        return;
    }
    if (result && result->width == w && result->height == h) {
        // The picture composed so far is the mask.
        result->put(short(x), short(y), into, IMAGE_COPY_ALPHA_MULTIPLY);
        return;
    }
    // Another size than the stored result: the box is composed at that
    // size on the side, without touching the result being built.
    IMAGE scratch;
    scratch.reset(short(w), short(h));
    scratch.clear(COLOUR_INVISIBLE, 1);
    compose(&scratch, 0, 0, w, h, stretch, IMAGE_COPY_REPLACE);
    scratch.put(short(x), short(y), into, IMAGE_COPY_ALPHA_MULTIPLY);
}

void IMAGE_BOX::compose_overlays(IMAGE* target, long x, long y, long w, long h, INT_U8 stretch)
{
    if (colay) {
        colay->put(short(x + overlay_x + (w - colay->width) / 2), short(y + overlay_y + (h - colay->height) / 2),
                   target, IMAGE_COPY_BLEND);
    }
    if (solay && w - overlay_x > 0 && h - overlay_y > 0) {
        IMAGE overlay(*solay);
        overlay.cache_entry = nullptr;
        overlay.resize(short(w - overlay_x), short(h - overlay_y), !IMAGE::use_quick_resize);
        mask(&overlay, overlay_x, overlay_y, w - overlay_x, h - overlay_y, stretch);
        overlay.put(short(x), short(y), target, IMAGE_COPY_BLEND);
    }
    if (tolay && tolay->width > 0 && tolay->height > 0) {
        IMAGE overlay;
        overlay.reset(short(w), short(h));
        overlay.get(short(x), short(y), target, IMAGE_COPY_BLEND);
        // Tiles wholly left of or above the box draw nothing: start at the
        // first one that reaches it (a large offset would otherwise walk
        // up to a billion empty tiles).
        long start_x = -long(overlay_x), start_y = -long(overlay_y);
        if (start_x < 0) {
            start_x %= tolay->width;
        }
        if (start_y < 0) {
            start_y %= tolay->height;
        }
        for (long ty = start_y; ty < h; ty += tolay->height) {
            for (long tx = start_x; tx < w; tx += tolay->width) {
                tolay->put(short(tx), short(ty), &overlay, IMAGE_COPY_BLEND);
            }
        }
        mask(&overlay, 0, 0, w, h, stretch);
        overlay.put(short(x), short(y), target, IMAGE_COPY_BLEND);
    }
}

bool IMAGE_BOX::is_in_it(short px, short py, short w, short h)
{
    if (has_nine_slices()) {
        int col = px < mid_left->width ? 0 : (px > w - mid_right->width ? 2 : 1);
        int row = py < top_mid->height ? 0 : (py > h - bottom_mid->height ? 2 : 1);
        long rx = px - (w - mid_right->width), by = py - (h - bottom_mid->height);
        switch (row * 3 + col) {
        case 0: return alpha_at(top_left, px, py);
        case 1: return alpha_at(top_mid, 0, py);
        case 2: return alpha_at(top_right, rx, py);
        case 3: return alpha_at(mid_left, px, 0);
        case 4: return alpha_at(mid_mid, 0, 0);
        case 5: return alpha_at(mid_right, rx, 0);
        case 6: return alpha_at(bottom_left, px, by);
        case 7: return alpha_at(bottom_mid, 0, by);
        default: return alpha_at(bottom_right, rx, by);
        }
    }
    if (mid_left && mid_mid && mid_right) {
        if (px < mid_left->width) {
            return alpha_at(mid_left, px, py);
        }
        if (px <= w - mid_right->width) {
            return alpha_at(mid_mid, 0, py);
        }
        return alpha_at(mid_right, px - (w - mid_right->width), py);
    }
    if (top_mid && !mid_mid) {
        return false;
    }
    if (top_mid && bottom_mid) {
        if (py < top_mid->height) {
            return alpha_at(top_mid, px, py);
        }
        if (py <= h - bottom_mid->height) {
            return alpha_at(mid_mid, px, 0);
        }
        return alpha_at(bottom_mid, px, py - (h - bottom_mid->height));
    }
    if (!mid_mid) {
        return false;
    }
    return alpha_at(mid_mid, px - (w - mid_mid->width) / 2, py - (h - mid_mid->height) / 2);
}

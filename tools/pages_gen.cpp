// Makes the program's page definition: draws its pictures into
// "$APPDATA/images", reads its fonts, pictures, constants, colours and
// style sets with the tool manager's folder loaders, lays out the pages
// from a small text file, and saves "pages.bin" into "$APPDATA" with the
// pictures embedded. Nothing depends on the time or on the user's folders
// (run it with HOME and XDG_* pointed at an empty folder), so two runs
// write the same bytes. It fails, and the build with it, when a style of a
// name field cannot be read (too little contrast) or a layout line is wrong.
// Given a header path, it also writes there the names of the messages the
// layout gives its widgets, which the program is compiled against.
//
// usage: pages_gen <layout folder> [<file name in $APPDATA> [<names header>]]
#include "config_file.h"
#include "data_file.h"
#include "folder.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "pages_names.h"
#include "pages_rules.h"
#include "param.h"
#include "wm_names.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_records.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

const short PICTURE_SIDE = 200;

// ---- pictures ------------------------------------------------------------

void disc(IMAGE& im, int x, int y, int r, COLOUR c)
{
    im.plot_circle(static_cast<short>(x), static_cast<short>(y), static_cast<short>(r), c, 0, IMAGE::PLOT_CIRCLE_DISC,
                   0, 1);
}

void box(IMAGE& im, int x1, int y1, int x2, int y2, COLOUR c)
{
    im.fill_rect(static_cast<short>(x1), static_cast<short>(y1), static_cast<short>(x2), static_cast<short>(y2), c, 1);
}

void line(IMAGE& im, int x1, int y1, int x2, int y2, COLOUR c, int thickness)
{
    im.draw_line(static_cast<short>(x1), static_cast<short>(y1), static_cast<short>(x2), static_cast<short>(y2), c,
                 static_cast<short>(thickness), 1);
}

// A round badge in the race's colour, lit from above, with a face on it.
void badge(IMAGE& im, COLOUR dark, COLOUR light)
{
    im.setup(PICTURE_SIDE, PICTURE_SIDE);
    im.clear(COLOUR(0x00000000), 1);
    disc(im, 100, 100, 98, dark);
    disc(im, 100, 92, 86, light);
}

void draw_dwarf(IMAGE& im)
{
    const COLOUR red(0xFFB3261E), bright(0xFFD9452B), skin(0xFFF0C8A0), steel(0xFF8C96A5), beard(0xFF7A3413);
    badge(im, red, bright);
    box(im, 50, 40, 150, 70, steel);         // helmet
    box(im, 94, 28, 106, 70, steel);         // crest
    box(im, 62, 70, 138, 110, skin);         // face
    disc(im, 84, 88, 5, COLOUR(0xFF2A1A12)); // eyes
    disc(im, 116, 88, 5, COLOUR(0xFF2A1A12));
    for (int i = 0; i < 5; i++) { // braided beard
        line(im, 64 + i * 18, 108, 72 + i * 14, 170, beard, 12);
    }
}

void draw_elf(IMAGE& im)
{
    const COLOUR green(0xFF1E7A3A), bright(0xFF38B25C), skin(0xFFF6DCC0), hair(0xFFE8D070);
    badge(im, green, bright);
    line(im, 66, 92, 30, 52, skin, 8); // pointed ears
    line(im, 134, 92, 170, 52, skin, 8);
    disc(im, 100, 98, 38, skin);    // face
    box(im, 62, 52, 138, 72, hair); // hair
    line(im, 64, 70, 60, 160, hair, 10);
    line(im, 136, 70, 140, 160, hair, 10);
    disc(im, 86, 96, 5, green); // eyes
    disc(im, 114, 96, 5, green);
    line(im, 90, 118, 110, 118, COLOUR(0xFFB05A50), 3);
}

void draw_orc(IMAGE& im)
{
    const COLOUR blue(0xFF1F3F9A), bright(0xFF3766D0), skin(0xFF6E7C4A), tusk(0xFFF4EEDC);
    badge(im, blue, bright);
    box(im, 52, 60, 148, 150, skin);              // broad head
    box(im, 52, 74, 148, 84, COLOUR(0xFF2C2C2C)); // brow
    disc(im, 80, 96, 6, COLOUR(0xFFE03020));      // eyes
    disc(im, 120, 96, 6, COLOUR(0xFFE03020));
    box(im, 70, 124, 130, 134, COLOUR(0xFF2C2C2C)); // mouth
    line(im, 76, 126, 72, 104, tusk, 6);            // tusks
    line(im, 124, 126, 128, 104, tusk, 6);
}

// The pages' backdrop: a dark slate fade with a thin gold rule under the title.
void draw_backdrop(IMAGE& im)
{
    im.setup(800, 600);
    im.fill_vfaded_rect(0, 0, 799, 599, COLOUR(0xFF262C38), COLOUR(0xFF14171E), 0);
    box(im, 40, 120, 759, 121, COLOUR(0xFF8A6A2E));
    im.draw_rect(20, 20, 779, 579, COLOUR(0xFF3A4150), 1, 15);
}

// A picture of the definition, under its name.
struct PICTURE
{
    std::string name;
    IMAGE image;
};

// A picture of w x h drawn by `paint` on a clear ground.
void add_picture(std::vector<PICTURE>& out, const std::string& name, int w, int h,
                 const std::function<void(IMAGE&)>& paint)
{
    out.push_back({name, IMAGE()});
    IMAGE& im = out.back().image;
    im.setup(static_cast<short>(w), static_cast<short>(h));
    im.clear(COLOUR(0x00000000), 1);
    paint(im);
}

// The columns x to x + w - 1 of `whole` as a picture of their own.
void cut(std::vector<PICTURE>& out, const std::string& name, const IMAGE& whole, int x, int w)
{
    out.push_back({name, IMAGE()});
    IMAGE& piece = out.back().image;
    piece.setup(static_cast<short>(w), whole.height);
    for (int y = 0; y < whole.height; y++) {
        for (int i = 0; i < w; i++) {
            const long row = y;
            piece.pixels[row * piece.stride + i] = whole.pixels[row * whole.stride + x + i];
        }
    }
}

// The pieces of a three-slice skin, "<name>_left", "_mid" and "_right", cut
// from a picture `cap` + 4 + `right_cap` wide: the caps keep their width,
// the middle is stretched to the control's.
void add_three_slice(std::vector<PICTURE>& out, const std::string& name, int cap, int right_cap, int h,
                     const std::function<void(IMAGE&)>& paint)
{
    IMAGE whole;
    whole.setup(static_cast<short>(cap + 4 + right_cap), static_cast<short>(h));
    whole.clear(COLOUR(0x00000000), 1);
    paint(whole);
    cut(out, name + "_left", whole, 0, cap);
    cut(out, name + "_mid", whole, cap, 4);
    cut(out, name + "_right", whole, cap + 4, right_cap);
}

// A rounded panel fading from top to bottom, with an edge.
void panel(IMAGE& im, COLOUR top, COLOUR bottom, COLOUR edge, int radius)
{
    const short x2 = static_cast<short>(im.width - 1), y2 = static_cast<short>(im.height - 1);
    im.plot_rounded_rect(0, 0, x2, y2, static_cast<short>(radius), 15, top, bottom, 0, IMAGE::PLOT_ROUNDED_RECT_YFADE);
    im.draw_rounded_rect(0, 0, x2, y2, edge, static_cast<short>(radius), 15);
}

// The face of the pressable buttons: gold, lighter under the pointer or
// with the focus, darker pressed, and evenly dimmed when disabled: the
// face of "up" mixed half-way with the slate panel, top and bottom alike.
struct FACE
{
    const char* state;
    COLOUR top, bottom, edge;
};
const FACE button_faces[] = {
    {"up", COLOUR(0xFFE0A84A), COLOUR(0xFFB97F24), COLOUR(0xFF8A5A12)},
    {"over", COLOUR(0xFFF2C46E), COLOUR(0xFFD0963A), COLOUR(0xFFFFE2A8)},
    {"down", COLOUR(0xFFB97F24), COLOUR(0xFFE0A84A), COLOUR(0xFF8A5A12)},
    {"disabled", COLOUR(0xFF81683F), COLOUR(0xFF6E542C), COLOUR(0xFF564126)}, // "up" half-way to the panel
};
const int BUTTON_HEIGHT = 48;

// The race buttons: slate, lit bronze for the chosen race, a gold edge
// under the pointer or with the focus.
const FACE race_faces[] = {
    {"up", COLOUR(0xFF39414F), COLOUR(0xFF262C38), COLOUR(0xFF566078)},
    {"over", COLOUR(0xFF46506A), COLOUR(0xFF2F3644), COLOUR(0xFFE0A84A)},
    {"down", COLOUR(0xFFB9843A), COLOUR(0xFF87591D), COLOUR(0xFFE0A84A)},
};
const int RACE_WIDTH = 96;

// The race drop-down: a field like the name fields, with a down arrow in
// its right cap; a gold edge under the pointer or with the focus.
const int ARROW_CAP = 34;
void droplist(IMAGE& im, COLOUR edge, bool lit)
{
    const short x2 = static_cast<short>(im.width - 1), y2 = static_cast<short>(im.height - 1);
    box(im, 0, 0, x2, y2, COLOUR(0xFFF4F1EA));
    im.draw_rect(0, 0, x2, y2, edge, 1, 15);
    if (lit) {
        im.draw_rect(1, 1, static_cast<short>(x2 - 1), static_cast<short>(y2 - 1), edge, 1, 15);
    }
    const int cap_x = im.width - ARROW_CAP;
    line(im, cap_x, 6, cap_x, im.height - 7, COLOUR(0xFFC9C2B2), 1);
    // A triangle pointing down, one row narrower on each side per step.
    const int mid = cap_x + ARROW_CAP / 2, top = im.height / 2 - 4;
    for (int r = 0; r < 7; r++) {
        line(im, mid - 6 + r, top + r, mid + 6 - r, top + r, COLOUR(0xFF1B1F27), 1);
    }
}

// Every picture of the definition; `field` is the height of the name
// fields, which the drop-down and the race buttons share.
std::vector<PICTURE> make_pictures(int field)
{
    std::vector<PICTURE> out;
    add_picture(out, "backdrop", 800, 600, draw_backdrop);
    add_picture(out, "dwarf", PICTURE_SIDE, PICTURE_SIDE, draw_dwarf);
    add_picture(out, "elf", PICTURE_SIDE, PICTURE_SIDE, draw_elf);
    add_picture(out, "orc", PICTURE_SIDE, PICTURE_SIDE, draw_orc);
    for (const FACE& f : race_faces) {
        add_picture(out, std::string("race_") + f.state, RACE_WIDTH, field,
                    [&](IMAGE& im) { panel(im, f.top, f.bottom, f.edge, 7); });
    }
    for (const FACE& f : button_faces) {
        add_three_slice(out, std::string("button_") + f.state, 12, 12, BUTTON_HEIGHT,
                        [&](IMAGE& im) { panel(im, f.top, f.bottom, f.edge, 7); });
    }
    add_three_slice(out, "droplist", 6, ARROW_CAP, field, [](IMAGE& im) { droplist(im, COLOUR(0xFF8A93A6), false); });
    add_three_slice(out, "droplist_over", 6, ARROW_CAP, field,
                    [](IMAGE& im) { droplist(im, COLOUR(0xFFE0A84A), true); });
    return out;
}

// Writes every picture as "<name>.png" and lists them in "images.cfg", which
// the image loader then reads from the same folder.
bool write_pictures(FOLDER& images, const std::vector<PICTURE>& pictures)
{
    FILE* cfg = images.open_file("images.cfg", "w");
    if (!cfg) {
        return false;
    }
    std::fputs("# The program's pictures, drawn by its page generator.\n", cfg);
    bool ok = true;
    for (const PICTURE& p : pictures) {
        const std::string file = p.name + ".png";
        DATA_FILE* f = new DATA_FILE;
        IMAGE im = p.image;
        if (!images.open_data_file(file.c_str(), fm_write, 0, f, 0) || !im.save_png(f)) {
            ok = false;
        }
        if (!images.close(f)) {
            ok = false;
        }
        std::fprintf(cfg, "%s\n\t%s\n", p.name.c_str(), file.c_str());
    }
    return images.close_file(cfg) && ok;
}

// ---- the name fields -----------------------------------------------------

// Rows that the glyphs of the characters a field can hold (every byte from
// the space up) reach above the top and below the bottom of the line box
// the text is drawn in: the accents of capitals and the descenders.
struct OVERHANG
{
    int above = 0, below = 0;
};

OVERHANG glyph_overhang(INT_S8 font, short w, short h)
{
    IMAGE im;
    im.setup(static_cast<short>(3 * w), static_cast<short>(3 * h));
    im.clear(COLOUR(0x00000000), 1);
    char one[2] = {0, 0};
    for (int c = 32; c < 256; c++) {
        if (c == 127) {
            continue;
        }
        one[0] = static_cast<char>(c);
        im.render_string(w, h, COLOUR_WHITE, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, font, w, h, one, 1, 0);
    }
    int top = -1, bottom = -1;
    for (int y = 0; y < im.height; y++) {
        for (int x = 0; x < im.width; x++) {
            if (im.pixels[static_cast<long>(y) * im.stride + x].alpha() != 0) {
                top = top < 0 ? y : top;
                bottom = y;
                break;
            }
        }
    }
    OVERHANG o;
    if (top >= 0) {
        o.above = std::max(0, h - top);
        o.below = std::max(0, bottom - (2 * h - 1));
    }
    return o;
}

// The field's style: its border gaps are the padding around the text, to
// which the rows the font's glyphs need above and below its line box are
// added, so that the text stands by the font's ascender and descender.
// The field's height, or 0 when its font cannot be drawn.
int fit_field(WM_STYLE_SET& edit)
{
    const INT_S8 font = edit.font_id >= 0 ? edit.font_id : IMAGE().font_slot;
    if (!IMAGE::is_font_valid(font) &&
        IMAGE::load_font(IMAGE::get_font_info_filename(font), nullptr, font, nullptr) != font) {
        return 0;
    }
    if (edit.font_x_sz < 1 || edit.font_y_sz < 1) {
        return 0;
    }
    const OVERHANG o = glyph_overhang(font, edit.font_x_sz, edit.font_y_sz);
    edit.border_top_gap = static_cast<INT_S16>(edit.border_top_gap + o.above);
    edit.border_bottom_gap = static_cast<INT_S16>(edit.border_bottom_gap + o.below);
    return edit.border_top_gap + edit.border_bottom_gap + edit.font_y_sz;
}

// ---- layout --------------------------------------------------------------

// Splits a line into words; a word in double quotes may hold spaces. The
// remaining text after `count` words goes into `rest`.
std::vector<std::string> split(const std::string& text, size_t count, std::string& rest)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (words.size() < count) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
            i++;
        }
        if (i >= text.size()) {
            break;
        }
        size_t end;
        if (text[i] == '"') {
            end = text.find('"', i + 1);
            if (end == std::string::npos) {
                end = text.size();
            }
            words.push_back(text.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            end = text.find_first_of(" \t", i);
            if (end == std::string::npos) {
                end = text.size();
            }
            words.push_back(text.substr(i, end - i));
            i = end;
        }
    }
    size_t first = text.find_first_not_of(" \t", i);
    size_t last = text.find_last_not_of(" \t\r");
    rest = first == std::string::npos || last < first ? "" : text.substr(first, last - first + 1);
    return words;
}

struct KIND
{
    const char* word;
    WM_OBJECT_TYPE type;
};

const KIND kinds[] = {
    {"button", WM_TYPE_BUTTON}, {"label", WM_TYPE_SCRIPT}, {"picture", WM_TYPE_IMAGE}, {"edit", 0}, {"list", 0}};

// Keys a button can be given by name; Mac key codes.
struct KEY
{
    const char* word;
    INT_U32 code;
};
const KEY keys[] = {{"Escape", KEY_ESCAPE}, {"Return", KEY_RETURN}};

class LAYOUT
{
public:
    // field: the height of the name fields, which "field" stands for.
    LAYOUT(WM_PAGE_TOOL_MANAGER& p, int field) : ptm(p), field(field) {}

    // The names of the action and creation numbers of the lines read.
    const PAGE_MESSAGE_NAMES& message_names() const { return names; }

    bool read(const std::string& file_name)
    {
        std::ifstream in(file_name);
        if (!in) {
            return fail(0, "cannot be opened");
        }
        std::string text;
        int number = 0;
        while (std::getline(in, text)) {
            number++;
            std::string rest;
            std::vector<std::string> w = split(text, 1, rest);
            if (w.empty() || w[0][0] == '#') {
                continue;
            }
            if (!line_of(w[0], text, number)) {
                return false;
            }
        }
        return true;
    }

private:
    WM_PAGE_TOOL_MANAGER& ptm;
    int field;
    WM_PTM_AREA_INFO* area = nullptr;
    WM_PTM_PAGE_INFO* page = nullptr;
    PAGE_MESSAGE_NAMES names;

    bool fail(int number, const std::string& why)
    {
        std::fprintf(stderr, "pages_gen: layout line %d: %s\n", number, why.c_str());
        return false;
    }

    static bool number_of(const std::string& word, long& out)
    {
        char* end = nullptr;
        out = std::strtol(word.c_str(), &end, 0);
        return !word.empty() && *end == 0;
    }

    bool line_of(const std::string& keyword, const std::string& text, int number)
    {
        std::string rest;
        if (keyword == "window") {
            std::vector<std::string> w = split(text, 3, rest);
            long width, height;
            if (w.size() < 3 || !number_of(w[1], width) || !number_of(w[2], height) || rest.empty()) {
                return fail(number, "window <width> <height> <title>");
            }
            ptm.width = static_cast<INT_S16>(width);
            ptm.height = static_cast<INT_S16>(height);
            ptm.set_name(rest.c_str());
            return true;
        }
        if (keyword == "effects") {
            std::vector<std::string> w = split(text, 2, rest);
            long ms;
            if (w.size() < 2 || !number_of(w[1], ms) || ms < 0) {
                return fail(number, "effects <ms>");
            }
            ptm.page_effects = 1;
            ptm.page_effect_ms = static_cast<INT_U32>(ms);
            return true;
        }
        if (keyword == "area") {
            std::vector<std::string> w = split(text, 6, rest);
            long v[4];
            for (int i = 0; i < 4; i++) {
                if (w.size() < 6 || !number_of(w[static_cast<size_t>(i) + 2], v[i])) {
                    return fail(number, "area <name> <x> <y> <width> <height>");
                }
            }
            if (!ptm.create_new_area()) {
                return fail(number, "no memory");
            }
            area = &ptm.areas[ptm.area_count - 1];
            area->set_name(w[1].c_str());
            area->x = static_cast<INT_S16>(v[0]);
            area->y = static_cast<INT_S16>(v[1]);
            area->width = static_cast<INT_S16>(v[2]);
            area->height = static_cast<INT_S16>(v[3]);
            page = nullptr;
            return true;
        }
        if (keyword == "page") {
            std::vector<std::string> w = split(text, 5, rest);
            long id, method;
            if (!area || w.size() < 5 || !number_of(w[1], id) || !number_of(w[3], method)) {
                return fail(number, "page <id> <name> <change method> <background>, after an area");
            }
            const std::string unnamed = names.start_page(w[2]);
            if (!unnamed.empty()) {
                return fail(number, unnamed);
            }
            if (!area->create_new_page()) {
                return fail(number, "no memory");
            }
            page = &area->pages[area->page_count - 1];
            // Fixed, not the time-based id a new page gets.
            page->id = static_cast<INT_U32>(id);
            page->set_name(w[2].c_str());
            page->change_method = static_cast<INT_U32>(method);
            if (w[4] != "-" && !(page->background = ptm.find_image(w[4].c_str()))) {
                return fail(number, "unknown background picture");
            }
            return true;
        }
        return widget(keyword, text, number);
    }

    bool widget(const std::string& keyword, const std::string& text, int number)
    {
        const KIND* kind = nullptr;
        for (const KIND& k : kinds) {
            if (keyword == k.word) {
                kind = &k;
            }
        }
        if (!kind) {
            return fail(number, "unknown keyword");
        }
        std::string rest;
        std::vector<std::string> w = split(text, 10, rest);
        long v[4];
        for (int i = 0; i < 4; i++) {
            const bool given = w.size() >= 10;
            // "field": the height of the name fields.
            if (given && i == 3 && w[4] == "field") {
                v[i] = field;
            } else if (!given || !number_of(w[static_cast<size_t>(i) + 1], v[i])) {
                return fail(number, "<kind> <x> <y> <width> <height> <action> <creation> <style> <extra> <text>");
            }
        }
        if (!page || v[2] < 1 || v[3] < 1) {
            return fail(number, "a widget needs a page before it and a size");
        }
        // The numbers the pages' code is written against, by their names.
        INT_U32 aid = 0, cid = 0;
        std::string refused = names.add(w[5], false, aid);
        if (refused.empty()) {
            refused = names.add(w[6], true, cid);
        }
        if (!refused.empty()) {
            return fail(number, refused);
        }
        if (!page->create_new_object(kind->type)) {
            return fail(number, "no memory");
        }
        WM_PTM_OBJECT_INFO& o = page->objects[page->object_count - 1];
        o.x = static_cast<INT_S16>(v[0]);
        o.y = static_cast<INT_S16>(v[1]);
        o.width = static_cast<INT_S16>(v[2]);
        o.height = static_cast<INT_S16>(v[3]);
        // The numbers only: the records' name fields stay empty, and the
        // names go into the header.
        o.aid = aid;
        o.cid = cid;
        if (w[7] != "-" && !(o.style_set = ptm.find_style_set(w[7].c_str()))) {
            return fail(number, "unknown style set");
        }
        const std::string& extra = w[8];
        if (kind->type == WM_TYPE_IMAGE) {
            if (!(o.image = ptm.find_image(extra.c_str()))) {
                return fail(number, "unknown picture");
            }
        } else if (kind->type == WM_TYPE_BUTTON && extra != "-") {
            const KEY* key = nullptr;
            for (const KEY& k : keys) {
                key = extra == k.word ? &k : key;
            }
            if (!key) {
                return fail(number, "a button's extra is a key: Escape or Return");
            }
            o.hotkey = key->code;
        } else if (kind->type == 0) {
            WM_PTM_CONSTANT_INFO* c = ptm.find_constant(extra.c_str());
            if (!c || c->value.get_long(c->value.value) == 0) {
                return fail(number, "the generic type needs a non-zero constant");
            }
            o.generic_type = static_cast<INT_U32>(c->value.get_long(c->value.value));
        }
        if (w[9] != "-") {
            std::string all = w[9] + (rest.empty() ? "" : " " + rest);
            o.set_text(all.c_str());
        }
        return true;
    }
};

bool sub_folder(FOLDER& out, const std::string& path)
{
    return out.set_from_path_string(path.c_str());
}

void sort_all(WM_PAGE_TOOL_MANAGER& ptm)
{
    ptm.sort_style_sets();
    ptm.sort_fonts();
    ptm.sort_colours();
    ptm.sort_images();
    ptm.sort_constants();
}

bool copy_style_set(WM_PAGE_TOOL_MANAGER& ptm, WM_STYLE_SET& into, const char* name)
{
    WM_STYLE_SET* s = ptm.find_style_set(name);
    if (!s) {
        std::fprintf(stderr, "pages_gen: no style set \"%s\"\n", name);
        return false;
    }
    into = *s;
    return true;
}

int run(const std::string& source, const char* out_name, const char* names_header)
{
    FOLDER images, fonts, app_data;
    if (!images.set("$APPDATA/images", 1) || !fonts.set("$APPDATA/fonts/faces") || !app_data.set("$APPDATA")) {
        std::fprintf(stderr, "pages_gen: the build tree's data folders are missing\n");
        return 1;
    }
    FOLDER constants, colours, styles;
    if (!sub_folder(constants, source + "/constants") || !sub_folder(colours, source + "/colours") ||
        !sub_folder(styles, source + "/styles")) {
        std::fprintf(stderr, "pages_gen: %s lacks constants/, colours/ or styles/\n", source.c_str());
        return 1;
    }
    // The pictures must be on disk before the style sets are read, which
    // open their skins; some take the height of the name fields, so their
    // style is read alone first.
    WM_STYLE_SET probe;
    CONFIG_FILE edit_file;
    edit_file.set_filename("Edit.ss", 1);
    const int field = probe.read_from_config_file(edit_file, nullptr, nullptr, &styles) ? fit_field(probe) : 0;
    if (field < 1) {
        std::fprintf(stderr, "pages_gen: the name fields' style (Edit.ss) or its font cannot be used\n");
        return 1;
    }
    const std::vector<PICTURE> pictures = make_pictures(field);
    if (!write_pictures(images, pictures)) {
        std::fprintf(stderr, "pages_gen: cannot write the pictures\n");
        return 1;
    }
    WM_PAGE_TOOL_MANAGER ptm;
    WM_PTM_OBJECT_INFO::ptm = &ptm;
    // Fonts first: the style sets name them.
    ptm.load_fonts(fonts);
    ptm.load_images(images);
    ptm.load_constants(constants);
    ptm.load_colours(colours);
    sort_all(ptm);
    ptm.load_style_sets(styles, 0);
    sort_all(ptm);
    if (ptm.font_count < 1 || ptm.image_count != static_cast<INT_S32>(pictures.size())) {
        std::fprintf(stderr, "pages_gen: fonts or pictures did not load\n");
        return 1;
    }
    WM_STYLE_SET* edit = ptm.find_style_set("Edit");
    if (!edit) {
        std::fprintf(stderr, "pages_gen: no style set \"Edit\" for the name fields\n");
        return 1;
    }
    const std::string faults = field_contrast_faults(*edit);
    if (!faults.empty()) {
        std::fprintf(stderr, "pages_gen: style set \"Edit\": %s", faults.c_str());
        return 1;
    }
    if (fit_field(*edit) != field) {
        std::fprintf(stderr, "pages_gen: the name fields' font is not the one Edit.ss gives alone\n");
        return 1;
    }
    WM_STYLE_SET* heading = ptm.find_style_set("Heading");
    if (!heading || heading->font_id < 0) {
        std::fprintf(stderr, "pages_gen: the \"Heading\" style set did not find its face\n");
        return 1;
    }
    ptm.show_logo = 0;
    ptm.default_page_change_method = WM_MESG_MIX;
    if (!copy_style_set(ptm, ptm.hint_style_set, "Hint") || !copy_style_set(ptm, ptm.dialog_style_set, "Label") ||
        !copy_style_set(ptm, ptm.title_style_set, "Heading") || !copy_style_set(ptm, ptm.object_style_set, "Button")) {
        return 1;
    }
    // The defaults live in the widget classes until the program exits,
    // after the image cache: they must hold no skin of it.
    ptm.object_style_set.set_image_base_string(nullptr);
    ptm.object_style_set.clear_runtime_cache();
    LAYOUT layout(ptm, field);
    if (!layout.read(source + "/layout.txt")) {
        return 1;
    }
    if (!ptm.save(app_data, out_name, 1)) {
        std::fprintf(stderr, "pages_gen: cannot write %s\n", out_name);
        return 1;
    }
    if (names_header && !write_file_if_changed(names_header, layout.message_names().header())) {
        std::fprintf(stderr, "pages_gen: cannot write %s\n", names_header);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: pages_gen <layout folder> [<file name in $APPDATA> [<names header>]]\n");
        return 2;
    }
    IMAGE::startup_font_system();
    const int status = run(argv[1], argc >= 3 ? argv[2] : "pages.bin", argc == 4 ? argv[3] : nullptr);
    WM_PTM_OBJECT_INFO::ptm = nullptr;
    IMAGE::shutdown_font_system();
    return status;
}

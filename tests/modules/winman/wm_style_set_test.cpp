// WM_STYLE_SET: copies, the runtime cache of skins, scaling, configuration
// files and records.
#include "config_file.h"
#include "data_file.h"
#include "memory_data_device.h"
#include "widget_test.h"
#include "wm_names.h"
#include "wm_page_tool_manager.h"
#include "wm_style_set.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using kivo_test::MEMORY_DATA_DEVICE;
using Bytes = std::vector<INT_U8>;
using Entries = std::vector<std::pair<std::string, std::string>>;

// The 28 keys a file needs, with values unlike the defaults.
const Entries required_keys = {{"image_filename", "skin"},
                               {"image_path", ""},
                               {"shading_type", "3"},
                               {"fg_colour", "#FF010203"},
                               {"bg_colour", "#FF040506"},
                               {"fading_colour", "#80070809"},
                               {"highlight_colour", "#FF0A0B0C"},
                               {"highlight_text_colour", "#FF0D0E0F"},
                               {"active_colour", "#FF101112"},
                               {"visible", "0"},
                               {"shading_flags", "15"},
                               {"font_id", "-1"},
                               {"font_x_sz", "12"},
                               {"font_y_sz", "-1"},
                               {"border_left_gap", "1"},
                               {"border_right_gap", "2"},
                               {"border_top_gap", "3"},
                               {"border_bottom_gap", "4"},
                               {"cell_left_gap", "5"},
                               {"cell_right_gap", "6"},
                               {"cell_top_gap", "7"},
                               {"cell_bottom_gap", "8"},
                               {"x_spacing", "9"},
                               {"y_spacing", "10"},
                               {"scrollbar_button_width", "11"},
                               {"scrollbar_slider_width", "12"},
                               {"grid_scrollbar_width", "13"},
                               {"grid_two_tone_value", "-14"}};

// The entries of a configuration file in file order.
Entries read_entries(const std::string& file)
{
    Entries out;
    std::istringstream in(kivo_test::read_file(file));
    for (std::string key, value; std::getline(in, key) && std::getline(in, value);) {
        out.emplace_back(key, value.substr(1));
    }
    return out;
}

Bytes record_of(WM_STYLE_SET& s, INT_U8 swap = 0)
{
    MEMORY_DATA_DEVICE d;
    d.swap = swap;
    EXPECT_TRUE(s.put_to_data_device(d));
    return d.data;
}

// A record made byte by byte, little-endian.
struct RECORD
{
    Bytes b;
    RECORD& u8(INT_U8 v) { return b.push_back(v), *this; }
    RECORD& u16(INT_U16 v) { return u8(static_cast<INT_U8>(v)).u8(static_cast<INT_U8>(v >> 8)); }
    RECORD& u32(INT_U32 v) { return u16(static_cast<INT_U16>(v)).u16(static_cast<INT_U16>(v >> 16)); }
    RECORD& text(const std::string& t)
    {
        u32(static_cast<INT_U32>(t.size()));
        b.insert(b.end(), t.begin(), t.end());
        return *this;
    }
    RECORD& block(const std::string& t)
    {
        Bytes z(2048, 0);
        std::memcpy(z.data(), t.data(), t.size());
        b.insert(b.end(), z.begin(), z.end());
        return *this;
    }
};

// Version, strings and image folder, then shading type 2 and the colours
// given (as many as the version stores), then the tail: visible 1, ssf
// 0x11, ssef 0x22, sssf 0x33 (when stored), shading flags 0x44, font 5,
// shorts 1 to 16.
Bytes style_record(INT_U32 version, const std::string& folder, const std::vector<INT_U32>& colours, bool sssf)
{
    RECORD r;
    r.u32(version).text("skin").text("Set");
    if (version <= 5) {
        r.u8(0xFF);
    }
    r.block(folder).u32(2);
    for (INT_U32 c : colours) {
        r.u32(c);
    }
    r.u8(1).u32(0x11).u32(0x22);
    if (sssf) {
        r.u8(0x33);
    }
    r.u16(0x44).u8(5);
    for (INT_U16 i = 1; i <= 16; i++) {
        r.u16(i);
    }
    return r.b;
}

class StyleSetTest : public kivo_test::WidgetTest
{
protected:
    FOLDER folder;
    char alias[2048] = {};
    CONFIG_FILE cfg;

    void SetUp() override
    {
        WidgetTest::SetUp();
        // The test's folder is the application data: a set keeps its image
        // path as an alias path that a file may hold ("$APPDATA"), where a
        // folder outside every alias would be described from the root.
        kivo_test::redirect_appdata(dir);
        ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
        folder.get(alias, nullptr);
        cfg.set_filename("style.cfg", 1);
        cfg.folder = folder; // where a call without a folder reads and writes
    }
    // A one-colour 2 x 2 skin "<name>.png" in `in` (the test's folder by default).
    void skin(const std::string& name, INT_U32 colour, FOLDER* in = nullptr)
    {
        imgtest::CANVAS picture(2, 2, {colour});
        FOLDER& f = in ? *in : folder;
        DATA_FILE* file = f.open_data_file((name + ".png").c_str(), fm_write, 0, 0);
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(picture.save_png(file));
        f.close(file);
    }
    void write_config(const Entries& entries)
    {
        std::string text;
        for (const auto& e : entries) {
            text += e.first + "\n\t" + e.second + "\n";
        }
        ASSERT_TRUE(kivo_test::write_file(path("style.cfg"), text));
        cfg.set_filename("style.cfg", 1);
    }
    Entries read_config() { return read_entries(path("style.cfg")); }
    // The required keys, the image path the test's folder unless given,
    // one dropped, and extra keys after them.
    Entries config(const Entries& extra, const std::string& drop = "", const char* image_path = nullptr)
    {
        Entries e;
        for (auto kv : required_keys) {
            if (kv.first == "image_path") {
                kv.second = image_path ? image_path : alias;
            }
            if (kv.first != drop) {
                e.push_back(kv);
            }
        }
        e.insert(e.end(), extra.begin(), extra.end());
        return e;
    }
    static INT_U32 colour_of(const IMAGE_BOX* box) { return box->mid_mid->pixels[0]; }
    static int filled(const WM_STYLE_SET& s)
    {
        int n = 0;
        for (IMAGE_BOX* box : s.runtime_cache) {
            n += box != nullptr;
        }
        return n;
    }
};

TEST_F(StyleSetTest, RuntimeCacheTakesEachSkinOnce)
{
    const std::pair<const char*, int> skins[] = {{"b", 0},      {"b_up", 1},           {"b_alternate", 10},
                                                 {"b_alt", -1}, {"b_slider_over", 22}, {"b_more_over", 30}};
    for (const auto& s : skins) {
        skin(s.first, 0xFF000000u + static_cast<INT_U32>(s.second + 100));
    }
    WM_STYLE_SET set;
    std::memcpy(set.image_path, alias, sizeof alias);
    set.load_runtime_image_cache(); // no base name: nothing
    EXPECT_EQ(filled(set), 0);
    EXPECT_EQ(set.get_image_cache_loaded(), 0);

    set.set_image_base_string("b");
    set.load_runtime_image_cache();
    EXPECT_EQ(filled(set), 5);
    for (const auto& s : skins) {
        if (s.second >= 0) {
            ASSERT_NE(set.runtime_cache[s.second], nullptr) << s.first;
            EXPECT_EQ(colour_of(set.runtime_cache[s.second]), 0xFF000000u + s.second + 100u) << s.first;
        }
    }
    EXPECT_EQ(set.get_image_cache_loaded(), 1);

    // "_alt" only when there is no "_alternate".
    set.clear_runtime_cache();
    EXPECT_EQ(filled(set), 0);
    folder.remove("b_alternate.png");
    WM_SCREEN_OBJECT::image_cache.clear();
    set.load_runtime_image_cache();
    ASSERT_NE(set.runtime_cache[10], nullptr);
    EXPECT_EQ(colour_of(set.runtime_cache[10]), 0xFF000000u + 99u);

    // A base name too long for any skin name loads nothing.
    set.set_image_base_string(std::string(5000, 'b').c_str());
    set.load_runtime_image_cache();
    EXPECT_EQ(filled(set), 0);

    set.set_image_base_string("b");
    WM_STYLE_SET::cache_ibox_data = 0;
    set.load_runtime_image_cache();
    EXPECT_EQ(filled(set), 0);
    EXPECT_EQ(set.get_image_cache_loaded(), 1); // the last load's flag stays
}

// Only looking names up, a set fills the slots that reading the files fills:
// a name of another slot, of a longer base, or a skin short of pieces fills
// none, and the short skin's picture stays held.
TEST_F(StyleSetTest, LookingUpOnlyFillsWhatReadingFills)
{
    const char* names[] = {"b",       "b_up",          "b_alt",  "b_active_up", "b_over_top_left",
                           "bb_down", "b_slider_over", "c_down", "b_alternatex"};
    INT_U32 colour = 0xFF000001u;
    for (const char* name : names) {
        skin(name, colour++);
    }
    auto slots = [](const WM_STYLE_SET& s) {
        std::vector<INT_U32> v;
        for (IMAGE_BOX* box : s.runtime_cache) {
            v.push_back(box ? colour_of(box) : 0);
        }
        return v;
    };
    const INT_U8 flags_before = WM_STYLE_SET::cache_flags;
    WM_STYLE_SET::cache_flags = 0;
    WM_STYLE_SET read;
    std::memcpy(read.image_path, alias, sizeof alias);
    read.set_image_base_string("b");
    read.load_runtime_image_cache();
    const std::vector<INT_U32> want = slots(read);
    EXPECT_EQ(filled(read), 5); // "", "_up", "_active_up", "_slider_over", "_alt" for "_alternate"
    read.clear_runtime_cache();

    WM_SCREEN_OBJECT::image_cache.clear();
    std::vector<IMAGE*> held;
    for (const char* name : names) {
        held.push_back(WM_SCREEN_OBJECT::image_cache.open_image(alias, name, -1, -1));
        ASSERT_NE(held.back(), nullptr) << name;
    }
    WM_STYLE_SET::cache_flags = IMAGE_CACHE::OPEN_LOOKUP_ONLY;
    WM_STYLE_SET looked;
    std::memcpy(looked.image_path, alias, sizeof alias);
    looked.set_image_base_string("b");
    looked.load_runtime_image_cache();
    EXPECT_EQ(slots(looked), want);
    EXPECT_EQ(looked.get_image_cache_loaded(), 1);
    EXPECT_EQ(WM_SCREEN_OBJECT::image_cache.open_image(alias, "b_over_top_left", -1, -1, IMAGE_CACHE::OPEN_LOOKUP_ONLY),
              held[4]);
    WM_STYLE_SET::cache_flags = flags_before;
}

// The skin names a set asks for are its base name with each slot's suffix,
// as the formatted "%s%s" into 2048 bytes would give them; one that would
// not fit there is never asked for. With failures kept, every name asked
// for stays in the cache in order: each box asks for seven, its skin name
// itself last. The suffixes are those asked for after a short base name.
TEST_F(StyleSetTest, SkinNamesAreTheBaseAndSuffixWithinTheBound)
{
    WM_STYLE_SET::cache_flags = 0;
    WM_STYLE_SET set;
    std::memcpy(set.image_path, alias, sizeof alias);
    auto skins_asked = [&](const std::string& base) {
        WM_SCREEN_OBJECT::image_cache.clear();
        set.set_image_base_string(base.c_str());
        set.load_runtime_image_cache();
        std::vector<std::string> skins;
        int n = 0;
        for (IMAGE_CACHE::CACHE_ENTRY* e = WM_SCREEN_OBJECT::image_cache.head; e; e = e->next) {
            if (++n % 7 == 0) {
                skins.push_back(e->file_name);
            }
        }
        EXPECT_EQ(n % 7, 0) << base.size();
        return skins;
    };
    std::vector<std::string> suffixes;
    for (const std::string& skin : skins_asked("b")) {
        ASSERT_EQ(skin[0], 'b');
        suffixes.push_back(skin.substr(1));
    }
    ASSERT_EQ(suffixes.size(), static_cast<std::size_t>(WM_STYLE_SET::runtime_cache_sz) + 1); // and "_alt"

    for (std::size_t length : {std::size_t(2030), std::size_t(2037), std::size_t(2038), std::size_t(2044),
                               std::size_t(2047), std::size_t(2048), std::size_t(5000)}) {
        std::string base(length, 's');
        base[length / 2] = 'z';
        std::vector<std::string> want;
        for (const std::string& suffix : suffixes) {
            char formed[2048];
            int n = std::snprintf(formed, sizeof formed, "%s%s", base.c_str(), suffix.c_str());
            if (n >= 0 && static_cast<std::size_t>(n) < sizeof formed) {
                want.push_back(formed);
            }
        }
        EXPECT_EQ(skins_asked(base), want) << length;
    }
}

// A page definition that carries its own images skins the style sets read
// from it with those images alone; one without them lets the sets load
// their skins from disk.
TEST_F(StyleSetTest, PageFileWithItsOwnImagesSkinsItsSetsFromThemAlone)
{
    skin("b", 0xFF0000AAu);
    WM_PAGE_TOOL_MANAGER ptm;
    ASSERT_TRUE(ptm.create_new_style_set());
    WM_STYLE_SET& set = *ptm.style_sets[0];
    std::memcpy(set.image_path, alias, sizeof alias);
    set.set_image_base_string("b");
    set.load_runtime_image_cache(); // "b" is now in the shared image cache
    ASSERT_NE(set.runtime_cache[0], nullptr);
    MEMORY_DATA_DEVICE with, without;
    ASSERT_TRUE(ptm.write_definition(with, 1));
    ASSERT_TRUE(ptm.write_definition(without, 0));
    const std::string name = set.name; // the reads below replace the set
    skin("b_up", 0xFF00CC00u);         // on disk only, after the images were embedded

    const struct
    {
        MEMORY_DATA_DEVICE* file;
        INT_U8 flags;
        bool up_from_disk;
    } cases[] = {{&with, 8, false}, {&without, 1, true}, {&with, 8, false}};
    for (const auto& k : cases) {
        ptm.clear(); // gives its skins back, so the cache can be emptied
        WM_SCREEN_OBJECT::image_cache.clear();
        WM_STYLE_SET::cache_flags = 0;
        MEMORY_DATA_DEVICE d(k.file->data);
        ASSERT_TRUE(ptm.read_definition(d, nullptr));
        EXPECT_EQ(WM_STYLE_SET::cache_flags, k.flags);
        WM_STYLE_SET* read = ptm.find_style_set(name.c_str());
        ASSERT_NE(read, nullptr);
        ASSERT_NE(read->runtime_cache[0], nullptr) << int(k.flags);
        EXPECT_EQ(colour_of(read->runtime_cache[0]), 0xFF0000AAu);
        EXPECT_EQ(read->runtime_cache[1] != nullptr, k.up_from_disk) << int(k.flags);
    }
    WM_PAGE_TOOL_MANAGER::file_version = 0;
}

TEST_F(StyleSetTest, CopiesAreDeepAndClearKeepsTheNames)
{
    skin("c_up", 0xFF00FF00u);
    auto source = std::make_unique<WM_STYLE_SET>();
    std::memcpy(source->image_path, alias, sizeof alias);
    source->set_name("Source");
    source->set_image_base_string("c");
    source->fg_colour = 0xFF123456u;
    source->cell_top_gap = 42;
    source->load_runtime_image_cache();
    const Bytes bytes = record_of(*source);

    WM_STYLE_SET assigned;
    assigned.set_name("old");
    assigned = *source;
    WM_STYLE_SET copied(*source);
    WM_STYLE_SET& same = copied;
    copied = same;  // unchanged
    source.reset(); // the copies own their strings and boxes
    for (WM_STYLE_SET* s : {&assigned, &copied}) {
        EXPECT_EQ(record_of(*s), bytes);
        EXPECT_STREQ(s->name, "Source");
        EXPECT_EQ(s->get_image_cache_loaded(), 1);
        ASSERT_NE(s->runtime_cache[1], nullptr);
        EXPECT_EQ(colour_of(s->runtime_cache[1]), 0xFF00FF00u);
    }
    EXPECT_NE(assigned.runtime_cache[1], copied.runtime_cache[1]);

    // clear: the defaults again, the names kept, the cache emptied.
    assigned.clear();
    EXPECT_EQ(filled(assigned), 0);
    EXPECT_EQ(assigned.get_image_cache_loaded(), 0);
    WM_STYLE_SET named;
    named.set_name("Source");
    named.set_image_base_string("c");
    EXPECT_EQ(record_of(assigned), record_of(named));
}

TEST_F(StyleSetTest, ScaleSharesTheChangeAsSssfSays)
{
    struct Row
    {
        INT_U8 sssf;
        INT_S16 old_w, old_h, new_w, new_h;
        std::vector<INT_S16> want; // left, right, top, bottom, font x, font y
    };
    // From left 4, right 6, top 2, bottom 8, font 10 x 20.
    const Row rows[] = {
        {0x00, 100, 50, 150, 25, {6, 9, 1, 4, 15, 10}},          // each gap by its own axis
        {0x11, 100, 50, 120, 40, {12, 18, 0, 0, 12, 16}},        // sizes kept: the free space shared
        {0x33 | 0x88, 100, 50, 120, 40, {4, 26, 2, -2, 10, 20}}, // one gap kept, the other takes the change
        {0x22, 100, 50, 120, 40, {4, 7, 2, 6, 12, 16}},          // the other scales with the space outside
        {0x22, 4, 2, 120, 40, {4, 6, 2, 8, 300, 400}},           // zero divisors leave the gaps
        {0x66, 100, 50, 10, 5, {4, 6, 2, 8, 1, 2}},              // both kept
    };
    for (const Row& r : rows) {
        WM_STYLE_SET s;
        s.sssf = r.sssf;
        s.border_left_gap = 4;
        s.border_right_gap = 6;
        s.border_top_gap = 2;
        s.border_bottom_gap = 8;
        s.font_x_sz = 10;
        s.font_y_sz = 20;
        s.scale(r.old_w, r.old_h, r.new_w, r.new_h);
        EXPECT_EQ((std::vector<INT_S16>{s.border_left_gap, s.border_right_gap, s.border_top_gap, s.border_bottom_gap,
                                        s.font_x_sz, s.font_y_sz}),
                  r.want)
            << "sssf " << int(r.sssf);
    }
    WM_STYLE_SET zero;
    zero.sssf = 0x03;
    zero.border_right_gap = 0;
    zero.scale(100, 50, 120, 40);
    EXPECT_EQ(zero.border_right_gap, 0); // a gap of 0 that takes the change stays 0
}

TEST_F(StyleSetTest, DefaultSetWritesItsKeysInOrderAndReadsBackEqual)
{
    const char* const order =
        "name image_filename image_path shading_type fg_colour bg_colour fading_colour highlight_colour "
        "highlight_text_colour active_colour active_text_colour mouse_over_colour mouse_over_text_colour "
        "flashing_colour flashing_text_colour disabled_colour disabled_text_colour underline_colour visible "
        "shading_flags font_id font_x_sz font_y_sz font_name border_left_gap border_right_gap border_top_gap "
        "border_bottom_gap cell_left_gap cell_right_gap cell_top_gap cell_bottom_gap x_spacing y_spacing "
        "scrollbar_button_width scrollbar_slider_width grid_scrollbar_width grid_two_tone_value "
        "ssf_draw_border ssf_indent_border ssf_outstanding_border ssf_hfading ssf_vfading "
        "ssf_darkened_background ssf_left_justify_text ssf_right_justify_text ssf_top_align_text "
        "ssf_bottom_align_text ssf_use_text_colour_for_outline ssf_shadow_text ssf_inset_text "
        "ssf_chiseled_text ssf_disabled ssf_icon_left ssf_icon_right ssf_icon_top ssf_icon_bottom "
        "ssf_icon_attach_to_text ssf_wrap_text ssf_dont_resize_image ssef_invert_vfading_on_press "
        "ssef_indent_when_active ssef_left_arrow ssef_right_arrow ssef_up_arrow ssef_down_arrow "
        "ssef_auto_depress ssef_auto_actiavte ssef_dont_mask_click ssef_sb_horizontal ssef_sb_with_buttons "
        "ssef_te_password ssef_grid_fix_top_row ssef_grid_two_tone ssef_grid_type_lines ssef_grid_type_cells "
        "ssef_grid_scroll_by_line ssef_grid_no_scrollbar ssef_grid_only_draw_used_lines "
        "ssef_grid_dont_shorten_scrollbar ssef_pb_only_draw_bar ssef_pb_vertical ssef_pb_no_shading "
        "ssef_pb_position_text_on_bar ssef_pb_draw_alt_percentage ssef_fm_hide_scrolling_arrows "
        "sssf_retain_width sssf_retain_left_border sssf_retain_right_border sssf_retain_x_font_size "
        "sssf_retain_height sssf_retain_top_border sssf_retain_bottom_border sssf_retain_y_font_size";
    std::vector<std::string> want;
    std::istringstream words(order);
    for (std::string w; words >> w;) {
        want.push_back(w);
    }
    ASSERT_EQ(want.size(), 94u);

    WM_STYLE_SET fresh;
    // The font name is asked for after the keys before it are in the file:
    // every key is a write of its own.
    auto font_name = [](char id, void* data) -> const char* {
        Entries so_far = read_entries(*static_cast<std::string*>(data));
        EXPECT_EQ(so_far.size(), 23u);
        EXPECT_EQ(so_far.back().first, "font_y_sz");
        return id == -1 ? "" : "other";
    };
    std::string file = path("style.cfg");
    ASSERT_TRUE(fresh.write_to_config_file(cfg, font_name, &file, &folder));
    Entries written = read_config();
    ASSERT_EQ(written.size(), 94u);
    for (size_t i = 0; i < want.size(); i++) {
        EXPECT_EQ(written[i].first, want[i]);
    }
    // The value forms the reader takes: colours as #AARRGGBB, signed
    // numbers, one key per flag bit.
    EXPECT_EQ(written[4].second, "#FFFFFFFF"); // fg_colour
    EXPECT_EQ(written[24].second, "-1");       // border_left_gap
    EXPECT_EQ(written[38].second, "1");        // ssf_draw_border
    EXPECT_EQ(written[39].second, "0");        // ssf_indent_border

    WM_STYLE_SET back;
    back.set_name("other");
    back.fg_colour = 0xFF010101u;
    back.ssef = 7;
    ASSERT_TRUE(back.read_from_config_file(cfg, nullptr, nullptr, &folder));
    EXPECT_EQ(back.name, nullptr);
    EXPECT_EQ(record_of(back), record_of(fresh));

    // A set with every field changed reads back equal too.
    WM_STYLE_SET busy;
    busy.set_name("Busy");
    busy.set_image_base_string("busy");
    busy.shading_type = 0xFFFFFFF0u;
    busy.underline_colour = 0x80FEDCBAu;
    busy.ssf = 0x3FFFFF;
    busy.ssef = 0x3FFFFFF;
    busy.sssf = 0x5A;
    busy.font_id = 3;
    busy.grid_two_tone_value = -32768;
    std::memcpy(busy.image_path, alias, sizeof alias);
    ASSERT_TRUE(busy.write_to_config_file(cfg, nullptr, nullptr, nullptr));
    ASSERT_TRUE(back.read_from_config_file(cfg, nullptr, nullptr, nullptr));
    busy.shading_colour = back.shading_colour; // the one field with no key
    EXPECT_EQ(record_of(back), record_of(busy));
}

TEST_F(StyleSetTest, ReaderTakesRequiredKeysFlagWordsAndLegacyKeys)
{
    skin("skin", 0xFF0000FFu);
    struct Row
    {
        Entries extra;
        INT_U32 ssf, ssef;
    };
    const Row rows[] = {
        {{}, 0, 0},
        {{{"drawing_flags", "327683"}}, 3, 5},
        {{{"drawing_flags", "327683"}, {"ssef_left_arrow", "0"}}, 3, 1},
        {{{"ssf_left_arrow", "1"}}, 0, 4}, // an old spelling of an ssef bit
        {{{"ssf_left_arrow", "1"}, {"ssef_left_arrow", "0"}}, 0, 0},
        {{{"ssf_wrap_text", "256"}, {"ssf_disabled", "257"}, {"ssef_pb_vertical", "x"}}, 1u << 12, 0},
    };
    for (const Row& r : rows) {
        write_config(config(r.extra));
        WM_STYLE_SET s;
        s.ssf = s.ssef = 0xFFFF;
        s.active_text_colour = s.underline_colour = COLOUR_RED;
        s.sssf = 0;
        ASSERT_TRUE(s.read_from_config_file(cfg, nullptr, nullptr, nullptr));
        EXPECT_EQ(s.ssf, r.ssf);
        EXPECT_EQ(s.ssef, r.ssef);
        EXPECT_EQ(s.sssf, 0xEE);
        EXPECT_EQ(s.active_text_colour, COLOUR_INVISIBLE);
        EXPECT_EQ(s.underline_colour, COLOUR_INVISIBLE);
        EXPECT_EQ(s.fading_colour, 0x80070809u);
        ASSERT_NE(s.runtime_cache[0], nullptr);
    }

    // The font name wins over the font id; malformed colours change nothing.
    write_config(config({{"font_name", "Face"}, {"underline_colour", "red"}}));
    WM_STYLE_SET s;
    s.underline_colour = COLOUR_RED;
    auto font_id_of = [](const char* name, void* data) -> char {
        return std::strcmp(name, "Face") == 0 ? static_cast<char>(*static_cast<int*>(data)) : 0;
    };
    int id = 7;
    ASSERT_TRUE(s.read_from_config_file(cfg, font_id_of, &id, nullptr));
    EXPECT_EQ(s.font_id, 7);
    EXPECT_EQ(s.underline_colour, COLOUR_RED);
}

TEST_F(StyleSetTest, EachNamedFlagIsTheBitOfItsKey)
{
    const struct
    {
        const char* key;
        INT_U32 ssf, ssef;
    } rows[] = {
        {"ssf_draw_border", SSF_DRAW_BORDER, 0},
        {"ssf_indent_border", SSF_INDENT_BORDER, 0},
        {"ssf_outstanding_border", SSF_OUTSTANDING_BORDER, 0},
        {"ssf_hfading", SSF_HFADING, 0},
        {"ssf_vfading", SSF_VFADING, 0},
        {"ssf_darkened_background", SSF_DARKENED_BACKGROUND, 0},
        {"ssf_left_justify_text", SSF_LEFT_JUSTIFY_TEXT, 0},
        {"ssf_right_justify_text", SSF_RIGHT_JUSTIFY_TEXT, 0},
        {"ssf_use_text_colour_for_outline", SSF_USE_TEXT_COLOUR_FOR_OUTLINE, 0},
        {"ssf_shadow_text", SSF_SHADOW_TEXT, 0},
        {"ssf_inset_text", SSF_INSET_TEXT, 0},
        {"ssf_chiseled_text", SSF_CHISELED_TEXT, 0},
        {"ssf_disabled", SSF_DISABLED, 0},
        {"ssf_icon_left", SSF_ICON_LEFT, 0},
        {"ssf_icon_right", SSF_ICON_RIGHT, 0},
        {"ssf_icon_top", SSF_ICON_TOP, 0},
        {"ssf_icon_bottom", SSF_ICON_BOTTOM, 0},
        {"ssf_icon_attach_to_text", SSF_ICON_ATTACH_TO_TEXT, 0},
        {"ssf_wrap_text", SSF_WRAP_TEXT, 0},
        {"ssf_dont_resize_image", SSF_DONT_RESIZE_IMAGE, 0},
        {"ssf_top_align_text", SSF_TOP_ALIGN_TEXT, 0},
        {"ssf_bottom_align_text", SSF_BOTTOM_ALIGN_TEXT, 0},
        {"ssef_invert_vfading_on_press", 0, SSEF_INVERT_VFADING_ON_PRESS},
        {"ssef_indent_when_active", 0, SSEF_INDENT_WHEN_ACTIVE},
        {"ssef_left_arrow", 0, SSEF_LEFT_ARROW},
        {"ssef_right_arrow", 0, SSEF_RIGHT_ARROW},
        {"ssef_up_arrow", 0, SSEF_UP_ARROW},
        {"ssef_down_arrow", 0, SSEF_DOWN_ARROW},
        {"ssef_auto_depress", 0, SSEF_AUTO_DEPRESS},
        {"ssef_auto_actiavte", 0, SSEF_AUTO_ACTIVATE},
        {"ssef_dont_mask_click", 0, SSEF_DONT_MASK_CLICK},
        {"ssef_sb_horizontal", 0, SSEF_SB_HORIZONTAL},
        {"ssef_sb_with_buttons", 0, SSEF_SB_WITH_BUTTONS},
        {"ssef_te_password", 0, SSEF_TE_PASSWORD},
        {"ssef_grid_fix_top_row", 0, SSEF_GRID_FIX_TOP_ROW},
        {"ssef_grid_two_tone", 0, SSEF_GRID_TWO_TONE},
        {"ssef_grid_type_lines", 0, SSEF_GRID_TYPE_LINES},
        {"ssef_grid_type_cells", 0, SSEF_GRID_TYPE_CELLS},
        {"ssef_grid_scroll_by_line", 0, SSEF_GRID_SCROLL_BY_LINE},
        {"ssef_grid_no_scrollbar", 0, SSEF_GRID_NO_SCROLLBAR},
        {"ssef_grid_only_draw_used_lines", 0, SSEF_GRID_ONLY_DRAW_USED_LINES},
        {"ssef_pb_only_draw_bar", 0, SSEF_PB_ONLY_DRAW_BAR},
        {"ssef_pb_vertical", 0, SSEF_PB_VERTICAL},
        {"ssef_pb_no_shading", 0, SSEF_PB_NO_SHADING},
        {"ssef_pb_position_text_on_bar", 0, SSEF_PB_POSITION_TEXT_ON_BAR},
        {"ssef_pb_draw_alt_percentage", 0, SSEF_PB_DRAW_ALT_PERCENTAGE},
        {"ssef_fm_hide_scrolling_arrows", 0, SSEF_FM_HIDE_SCROLLING_ARROWS},
        {"ssef_grid_dont_shorten_scrollbar", 0, SSEF_GRID_DONT_SHORTEN_SCROLLBAR},
    };
    WM_STYLE_SET::cache_ibox_data = 0; // no skins needed
    for (const auto& r : rows) {
        write_config(config({{r.key, "1"}}));
        WM_STYLE_SET s;
        ASSERT_TRUE(s.read_from_config_file(cfg, nullptr, nullptr, nullptr)) << r.key;
        EXPECT_EQ(s.ssf, r.ssf) << r.key;
        EXPECT_EQ(s.ssef, r.ssef) << r.key;
    }
    WM_STYLE_SET::cache_ibox_data = 1;
}

TEST_F(StyleSetTest, MissingRequiredKeyKeepsWhatWasRead)
{
    skin("skin", 0xFF0000FFu);
    WM_STYLE_SET::cache_ibox_data = 0; // the loads are checked below, once
    for (const auto& kv : required_keys) {
        write_config(config({}, kv.first));
        WM_STYLE_SET s;
        s.font_x_sz = 99;
        s.ssf = 0xFF;
        EXPECT_FALSE(s.read_from_config_file(cfg, nullptr, nullptr, nullptr)) << kv.first;
        EXPECT_EQ(s.ssf, 0u);
    }
    WM_STYLE_SET::cache_ibox_data = 1;
    write_config(config({}, "visible"));
    WM_STYLE_SET s;
    s.font_x_sz = 99;
    EXPECT_FALSE(s.read_from_config_file(cfg, nullptr, nullptr, nullptr));
    EXPECT_EQ(s.fg_colour, 0xFF010203u);      // read before
    EXPECT_EQ(s.get_image_cache_loaded(), 1); // loaded at the image path
    EXPECT_NE(s.runtime_cache[0], nullptr);
    EXPECT_EQ(s.font_x_sz, 99); // after it
}

TEST_F(StyleSetTest, HerePathsFollowTheGivenFolder)
{
    ASSERT_TRUE(folder.move_down("skins", 1));
    skin("skin", 0xFF00FFFFu, &folder);
    char skins[2048];
    folder.get(skins, nullptr);
    ASSERT_TRUE(folder.move_up());
    FOLDER::add_custom_path("$STYLETEST", folder);
    FOLDER styles("$STYLETEST");

    write_config(config({}, "", "$HERE/skins"));
    WM_STYLE_SET s;
    ASSERT_TRUE(s.read_from_config_file(cfg, nullptr, nullptr, &styles));
    EXPECT_STREQ(s.image_path, skins);
    ASSERT_NE(s.runtime_cache[0], nullptr);
    EXPECT_EQ(colour_of(s.runtime_cache[0]), 0xFF00FFFFu);

    // Written back relative to the folder.
    ASSERT_TRUE(s.write_to_config_file(cfg, nullptr, nullptr, &styles));
    for (const auto& kv : read_config()) {
        if (kv.first == "image_path") {
            EXPECT_EQ(kv.second.rfind("$HERE/skins", 0), 0u) << kv.second;
        }
    }
    WM_STYLE_SET again;
    ASSERT_TRUE(again.read_from_config_file(cfg, nullptr, nullptr, &styles));
    EXPECT_STREQ(again.image_path, skins);

    // Without a folder the path is the application data's config folder.
    ASSERT_TRUE(s.read_from_config_file(cfg, nullptr, nullptr, nullptr));
    EXPECT_STREQ(s.image_path, "$APPDATA/config");
    FOLDER::remove_custom_path("$STYLETEST");
}

TEST_F(StyleSetTest, WriterRefusesTextTheFileWouldNotGiveBack)
{
    const std::string long_text(256, 'n');
    WM_STYLE_SET fits;
    fits.set_name(std::string(255, 'n').c_str());
    EXPECT_TRUE(fits.write_to_config_file(cfg, nullptr, nullptr, nullptr));
    WM_STYLE_SET back;
    ASSERT_TRUE(back.read_from_config_file(cfg, nullptr, nullptr, nullptr));
    EXPECT_STREQ(back.name, fits.name);

    // Stopped at the text, which is not written at all.
    const char* const keys[] = {"name", "image_filename", "image_path", "font_name"};
    for (int field = 0; field < 4; field++) {
        ASSERT_TRUE(kivo_test::write_file(path("style.cfg"), "kept\n\t1\n"));
        cfg.set_filename("style.cfg", 1);
        WM_STYLE_SET s;
        if (field == 0) {
            s.set_name(long_text.c_str());
        } else if (field == 1) {
            s.set_image_base_string("two\nlines");
        } else if (field == 2) {
            std::memcpy(s.image_path, ("$APP/" + long_text).c_str(), 262);
        }
        WM_FONT_NAME_CALLBACK font_name = [](char, void*) -> const char* { return " padded"; };
        EXPECT_FALSE(s.write_to_config_file(cfg, field == 3 ? font_name : nullptr, nullptr, nullptr)) << field;
        Entries left = read_config();
        ASSERT_FALSE(left.empty());
        EXPECT_EQ(left[0].first, "kept");
        for (const auto& kv : left) {
            EXPECT_NE(kv.first, keys[field]);
        }
    }
}

TEST_F(StyleSetTest, RecordsOfEachVersionRead)
{
    // Per colour field (fg, bg, fading, highlight, highlight text, active,
    // active text, shading, mouse over and its text, flashing and its text,
    // disabled and its text, underline): the stored colour it takes, 1 to
    // F in record order, or '-' for none (invisible).
    const std::tuple<INT_U32, const char*, bool> rows[] = {
        {1, "123456-7-------", false}, {3, "123456-789-A---", false}, {5, "123456789ABC---", false},
        {7, "123456789ABC---", true},  {8, "123456789ABC--D", true},  {9, "123456789ABCDEF", true},
        {12, "123456789ABCDEF", true}, // read as 9
    };
    for (const auto& [version, taken, sssf] : rows) {
        SCOPED_TRACE(testing::Message() << "version " << version);
        std::vector<INT_U32> stored;
        for (const char* t = taken; *t; t++) {
            if (*t != '-') {
                stored.push_back(0xFF000000u + stored.size() + 1);
            }
        }
        Bytes b = style_record(version, "$APP", stored, sssf);
        MEMORY_DATA_DEVICE d(b);
        WM_STYLE_SET s;
        s.disabled_colour = s.underline_colour = s.active_text_colour = COLOUR_RED;
        ASSERT_TRUE(s.get_from_data_device(d));
        EXPECT_EQ(d.pos, static_cast<long>(b.size()));
        std::string got;
        for (INT_U32 col :
             {s.fg_colour, s.bg_colour, s.fading_colour, s.highlight_colour, s.highlight_text_colour, s.active_colour,
              s.active_text_colour, s.shading_colour, s.mouse_over_colour, s.mouse_over_text_colour, s.flashing_colour,
              s.flashing_text_colour, s.disabled_colour, s.disabled_text_colour, s.underline_colour}) {
            got += col == COLOUR_INVISIBLE ? '-' : "0123456789ABCDEF"[col & 0xF];
        }
        EXPECT_EQ(got, taken);
        EXPECT_STREQ(s.image_filename, "skin");
        EXPECT_STREQ(s.name, "Set");
        EXPECT_STREQ(s.image_path, "$APP");
        EXPECT_EQ(s.sssf, sssf ? 0x33 : 0xEE);
        EXPECT_EQ(s.ssef, 0x22u);
        EXPECT_EQ(s.font_id, 5);
        EXPECT_EQ(s.grid_two_tone_value, 16);
    }
}

TEST_F(StyleSetTest, RecordsRoundTripByteForByte)
{
    skin("rt_down", 0xFF808080u);
    WM_STYLE_SET s;
    s.set_name("Round");
    s.set_image_base_string("rt");
    std::memcpy(s.image_path, alias, sizeof alias);
    s.underline_colour = 0x12345678u;
    s.font_id = -3;
    s.cell_bottom_gap = -200;
    for (INT_U8 swap = 0; swap < 2; swap++) {
        Bytes first = record_of(s, swap);
        ASSERT_EQ(first.size(), 4 + 4 + 2 + 4 + 5 + 2048 + 4 + 60 + 1 + 8 + 1 + 2 + 1 + 32u);
        MEMORY_DATA_DEVICE d(first);
        d.swap = swap;
        WM_STYLE_SET back;
        ASSERT_TRUE(back.get_from_data_device(d));
        EXPECT_EQ(record_of(back, swap), first);
        ASSERT_NE(back.runtime_cache[2], nullptr); // reloaded
        EXPECT_EQ(colour_of(back.runtime_cache[2]), 0xFF808080u);
    }
    // Whatever follows the path in a block is not carried on.
    Bytes junk = style_record(9, "$APP", std::vector<INT_U32>(15, 0xFF000000u), true);
    std::memcpy(junk.data() + 4 + 8 + 7 + 5, "junk", 4);
    MEMORY_DATA_DEVICE in(junk);
    ASSERT_TRUE(s.get_from_data_device(in));
    std::memset(junk.data() + 4 + 8 + 7 + 5, 0, 4);
    EXPECT_EQ(record_of(s), junk);

    // Empty strings come back null.
    WM_STYLE_SET empty;
    MEMORY_DATA_DEVICE d(record_of(empty));
    ASSERT_TRUE(s.get_from_data_device(d));
    EXPECT_EQ(s.name, nullptr);
    EXPECT_EQ(s.image_filename, nullptr);
}

TEST_F(StyleSetTest, DamagedRecordsFail)
{
    WM_STYLE_SET s;
    s.set_name("Cut");
    s.set_image_base_string("cut");
    const Bytes good = record_of(s);
    for (size_t cut = 0; cut < good.size(); cut += cut < 40 || cut > 2060 ? 1 : 97) {
        MEMORY_DATA_DEVICE d(Bytes(good.begin(), good.begin() + static_cast<long>(cut)));
        WM_STYLE_SET back;
        EXPECT_FALSE(back.get_from_data_device(d)) << cut;
        EXPECT_EQ(d.error, 1) << cut;
    }
    for (INT_U32 length : {0xFFFFFFFFu, 0x7FFFFFF0u}) {
        RECORD r;
        r.u32(9).u32(length).u8('x');
        MEMORY_DATA_DEVICE d(r.b);
        WM_STYLE_SET back;
        EXPECT_FALSE(back.get_from_data_device(d));
        EXPECT_EQ(back.image_filename, nullptr);
    }
}

TEST_F(StyleSetTest, UnknownAliasesAreRefused)
{
    // An unknown alias would end the program when the skins load.
    const std::pair<INT_U32, size_t> versions[] = {{9, 15}, {5, 12}};
    for (const auto& v : versions) {
        for (bool registered : {false, true}) {
            if (registered) {
                FOLDER::add_custom_path("$NOWHERE", folder);
            }
            MEMORY_DATA_DEVICE d(style_record(v.first, "$NOWHERE", std::vector<INT_U32>(v.second, 0), v.first > 6));
            WM_STYLE_SET s;
            EXPECT_EQ(s.get_from_data_device(d), registered) << v.first;
            s.load_runtime_image_cache();
            // An old folder record is turned into the folder's own path.
            EXPECT_STREQ(s.image_path, !registered ? "" : v.first > 5 ? "$NOWHERE" : alias) << v.first;
            FOLDER::remove_custom_path("$NOWHERE");
        }
    }
    for (const char* bad : {"$NOWHERE/skins", "$HEREX/skins"}) {
        write_config(config({}, "", bad));
        WM_STYLE_SET s;
        EXPECT_FALSE(s.read_from_config_file(cfg, nullptr, nullptr, &folder)) << bad;
        EXPECT_STREQ(s.image_path, "") << bad;
        EXPECT_EQ(s.get_image_cache_loaded(), 0);
    }
}

// Nor may a stored image path lead outside the folder its alias names, or
// be absolute: the set fails to read and loads no skin from there. "$HERE"
// in a file climbs at most to the alias folder the file lies in.
TEST_F(StyleSetTest, ImagePathsLeadOnlyIntoTheirAliasFolder)
{
    FOLDER skins("$APPDATA/skins", 1), styles("$APPDATA/styles", 1), deeper("$APPDATA/styles/deeper", 1);
    skin("skin", 0xFF00FF00u, &skins);
    skin("skin", 0xFFFF0000u, &styles);
    const std::string root = "$ROOT0" + std::string(skins.get_path_string());
    for (const std::string& bad : {root, std::string("$APPDATA/../x"), std::string("$APPDATA/skins/../..")}) {
        SCOPED_TRACE(bad);
        MEMORY_DATA_DEVICE d(style_record(9, bad.c_str(), std::vector<INT_U32>(15, 0), true));
        WM_STYLE_SET s;
        EXPECT_FALSE(s.get_from_data_device(d));
        EXPECT_EQ(s.get_image_cache_loaded(), 0);
    }
    const struct
    {
        FOLDER* from;
        const char* stored;
        const char* kept;
    } configs[] = {
        {&styles, "$HERE/../skins/", "$APPDATA/skins"},
        {&deeper, "$HERE/../../skins", "$APPDATA/skins"},
        {&deeper, "$HERE/..", "$APPDATA/styles"},
        {&styles, "$APPDATA/styles/deeper/../../skins", "$APPDATA/skins"},
        {&styles, "$HERE/../..", nullptr},
        {&deeper, "$HERE/../../../etc", nullptr},
        {&styles, "$ROOT0/etc", nullptr},
    };
    for (const auto& c : configs) {
        SCOPED_TRACE(c.stored);
        write_config(config({}, "", c.stored));
        ASSERT_TRUE(
            kivo_test::write_file(c.from->get_path_string("style.cfg"), kivo_test::read_file(path("style.cfg"))));
        WM_STYLE_SET s;
        EXPECT_EQ(s.read_from_config_file(cfg, nullptr, nullptr, c.from), c.kept != nullptr);
        EXPECT_STREQ(s.image_path, c.kept ? c.kept : "");
        if (c.kept) {
            ASSERT_NE(s.runtime_cache[0], nullptr);
        }
    }
}

} // namespace

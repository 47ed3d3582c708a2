// WM_PTM_OBJECT_INFO: its bytes in every version and both byte orders, the
// legacy flag tables, hostile files, the id machinery; and the editing of
// the application record's lists.
#include "folder.h"
#include "memory_data_device.h"
#include "sandbox.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_object_info.h"
#include "wm_ptm_records.h"
#include "wm_style_set.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using kivo_test::MEMORY_DATA_DEVICE;

// Bytes in either order, made here rather than by the program's writers.
struct W
{
    std::vector<INT_U8> b;
    INT_U8 swap = 0;
    W& u8(INT_U32 v) { return b.push_back(static_cast<INT_U8>(v)), *this; }
    W& u16(INT_U32 v)
    {
        INT_U8 t[2];
        encode_u16(t, static_cast<INT_U16>(v), swap);
        return b.insert(b.end(), t, t + 2), *this;
    }
    W& u32(INT_U32 v)
    {
        INT_U8 t[4];
        encode_u32(t, v, swap);
        return b.insert(b.end(), t, t + 4), *this;
    }
    W& str(const std::string& s)
    {
        return u32(static_cast<INT_U32>(s.size())), b.insert(b.end(), s.begin(), s.end()), *this;
    }

    // A record of version v (8 to 25) up to its sub-record count, with
    // values unlike the defaults; `text` tells records apart.
    W& object(int v, const std::string& text, INT_U32 children)
    {
        if (v >= 22) {
            u8(1);
        }
        u32(v >= 13 ? 0x2 : 4);
        str("AID_GO").u32(3).u32(77).str("").u32(0).u16(10).u16(20).u16(100).u16(30);
        if (v >= 11 && v <= 17) {
            u32(0xDEADBEEF);
        }
        u8(0).str(text).u32(0);
        if (v >= 21) {
            u32(5);
        }
        str("hint").u8(0);
        if (v >= 12) {
            u8(1);
        } else {
            u32(7);
        }
        if (v >= 19) {
            u8(1).u32(65);
        }
        if (v >= 12) {
            u8(1);
        } else {
            u32(0);
        }
        u8(0);
        if (v >= 17) {
            u32(0);
        }
        if (v >= 21) {
            u16(25).u16(2).str("1,2").u32(0);
        }
        if (v >= 20) {
            u16(4).u16(6);
        }
        return u32(children);
    }
};

class PtmObjectTest : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        kivo_test::redirect_appdata(path("appdata"));
        m = std::make_unique<WM_PAGE_TOOL_MANAGER>();
        ASSERT_TRUE(m->create_new_style_set() && m->create_new_image());
    }
    void TearDown() override
    {
        m.reset();
        kivo_test::restore_appdata();
        SandboxTest::TearDown();
    }
    bool read(WM_PTM_OBJECT_INFO& o, const W& w, int v, MEMORY_DATA_DEVICE* out = nullptr)
    {
        MEMORY_DATA_DEVICE d(w.b);
        d.swap = w.swap;
        bool ok = o.read(d, static_cast<INT_U16>(v));
        if (out) {
            *out = d;
        }
        return ok && d.pos == static_cast<long>(d.data.size());
    }
    std::unique_ptr<WM_PAGE_TOOL_MANAGER> m;
};

TEST_F(PtmObjectTest, EachVersionReadsWhatItStoresInBothByteOrders)
{
    for (int v = 8; v <= 25; ++v) {
        for (INT_U8 swap : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "version " << v << " swap " << int(swap));
            W w;
            w.swap = swap;
            WM_PTM_OBJECT_INFO o;
            ASSERT_TRUE(read(o, w.object(v, "Go", 0), v));
            EXPECT_EQ(o.do_not_create, v >= 22 ? 1 : 0);
            EXPECT_EQ(o.type, v >= 13 ? WM_TYPE_BUTTON : WM_TYPE_IMAGE);
            EXPECT_STREQ(o.aid_name, "AID_GO");
            EXPECT_EQ(o.cid_name, nullptr);
            EXPECT_EQ(o.user_data, 77u);
            EXPECT_EQ(o.height, 30);
            EXPECT_STREQ(o.text, "Go");
            EXPECT_EQ(o.style_set, m->style_sets[0]);
            EXPECT_EQ(o.generic_type, v >= 21 ? 5u : 0u);
            EXPECT_EQ(o.enabled, 0);
            EXPECT_EQ(o.trigger, v >= 12 ? 1 : 3);
            EXPECT_EQ(o.image_trigger, 1);
            EXPECT_EQ(o.hotkey, v >= 19 ? 65u : 0xFFFFFFFFu);
            EXPECT_EQ(o.visible, 0);
            EXPECT_EQ(o.image, v >= 17 ? m->images[0] : nullptr);
            EXPECT_EQ(o.grid_row_height, v >= 21 ? 25 : 20);
            EXPECT_EQ(o.grid_cell_style_set, v >= 21 ? m->style_sets[0] : nullptr);
            EXPECT_EQ(o.grid_column, v >= 20 ? 6 : -1);
        }
    }
}

// Writes a tree depth first: "r", "r.0", "r.0.0", ...; `levels` below it.
void tree(W& w, const std::string& name, int levels)
{
    w.object(25, name, levels ? 3 : 0);
    for (int i = 0; levels && i < 3; ++i) {
        tree(w, name + "." + std::to_string(i), levels - 1);
    }
}

TEST_F(PtmObjectTest, SubRecordsRoundTripDepthFirstAndCopiesAreDeep)
{
    W w;
    tree(w, "r", 2);
    WM_PTM_OBJECT_INFO o;
    ASSERT_TRUE(read(o, w, 25));
    ASSERT_EQ(o.object_count, 3);
    EXPECT_STREQ(o.objects[1].objects[2].text, "r.1.2");
    MEMORY_DATA_DEVICE out;
    ASSERT_TRUE(o.put_to_data_device(out));
    EXPECT_EQ(out.data, w.b);

    // No custom style set, no hotkey and a style set outside the list.
    WM_STYLE_SET stray;
    WM_PTM_OBJECT_INFO copy;
    copy.copy_from(o);
    o.clear();
    copy.create_custom_style_set();
    copy.custom_style_set->fg_colour = 0xFF123456u;
    copy.hotkey = 0xFFFFFFFF;
    copy.objects[0].style_set = &stray;
    MEMORY_DATA_DEVICE again;
    ASSERT_TRUE(copy.put_to_data_device(again));
    again.pos = 0;
    ASSERT_TRUE(o.read(again, 25));
    ASSERT_NE(o.custom_style_set, nullptr);
    EXPECT_EQ(o.custom_style_set->fg_colour.value, 0xFF123456u);
    EXPECT_EQ(o.hotkey, 0xFFFFFFFFu);
    EXPECT_EQ(o.objects[0].style_set, nullptr);
    EXPECT_STREQ(o.objects[2].objects[0].text, "r.2.0");

    EXPECT_FALSE(o.delete_object(-1));
    EXPECT_FALSE(o.delete_object(3));
    ASSERT_TRUE(o.delete_object(0) && o.create_new_object(WM_TYPE_GRID));
    EXPECT_STREQ(o.objects[0].text, "r.1");
    EXPECT_EQ(o.objects[2].type, WM_TYPE_GRID);
}

std::vector<INT_U8> written(WM_PTM_OBJECT_INFO& r)
{
    MEMORY_DATA_DEVICE d;
    EXPECT_TRUE(r.put_to_data_device(d));
    return d.data;
}

// A record copies and moves field by field: a copy made by the constructor,
// by assignment over another record or by copy_from writes the same bytes
// and shares nothing with its source; a move leaves the source empty; a
// record given itself stays as it was.
TEST_F(PtmObjectTest, CopiesShareNothingAndMovesLeaveTheSourceEmpty)
{
    W w;
    tree(w, "a caption longer than fifteen bytes", 2);
    WM_PTM_OBJECT_INFO o;
    ASSERT_TRUE(read(o, w, 25));
    o.create_custom_style_set();
    o.custom_style_set->fg_colour = 0xFF123456u;
    o.objects[1].set_hint("a short hint");
    const std::vector<INT_U8> bytes = written(o);
    WM_PTM_OBJECT_INFO fresh;
    const std::vector<INT_U8> empty = written(fresh);

    WM_PTM_OBJECT_INFO constructed(o);
    WM_PTM_OBJECT_INFO assigned;
    assigned.set_text("to be replaced by a longer text");
    ASSERT_TRUE(assigned.create_new_object(WM_TYPE_GRID));
    assigned = o;
    WM_PTM_OBJECT_INFO copied;
    copied.copy_from(o);
    for (WM_PTM_OBJECT_INFO* c : {&constructed, &assigned, &copied}) {
        EXPECT_EQ(written(*c), bytes);
        EXPECT_NE(c->custom_style_set, o.custom_style_set);
        EXPECT_NE(c->objects, o.objects);
        EXPECT_NE(static_cast<const char*>(c->text), static_cast<const char*>(o.text));
    }
    o.set_text("changed");
    o.objects[1].set_hint(nullptr);
    o.custom_style_set->fg_colour = 0xFF000000u;
    EXPECT_EQ(written(copied), bytes);
    EXPECT_EQ(written(constructed), bytes);

    WM_PTM_OBJECT_INFO moved(std::move(constructed));
    EXPECT_EQ(written(moved), bytes);
    EXPECT_EQ(constructed.object_count, 0);
    EXPECT_EQ(constructed.custom_style_set, nullptr);
    EXPECT_EQ(constructed.text, nullptr);
    WM_PTM_OBJECT_INFO target;
    target.move_from(assigned);
    EXPECT_EQ(written(target), bytes);
    EXPECT_EQ(written(assigned), empty);

    target.copy_from(target);
    target.move_from(target);
    target = target;
    EXPECT_EQ(written(target), bytes);
}

TEST_F(PtmObjectTest, LegacyFlagTables)
{
    // {old flag, shading flags, indent byte, ssf, ssef} for button records:
    // the first and last entry of the map, the first arrow, and the two
    // flags that depend on other fields.
    struct CASE
    {
        INT_U32 old, shading, indent, ssf, ssef;
    };
    const CASE buttons[] = {
        {0x1, 0, 0, 0x40, 0},       {0x10, 0, 0, 0, 0x4},       {0x800000, 0, 0, 0x80000, 0},
        {0x200, 0x80FF, 0, 0x3, 0}, {0x200, 0x00FF, 0, 0x5, 0}, {0x4, 0, 1, 0, 0x2},
    };
    for (const CASE& c : buttons) {
        SCOPED_TRACE(c.old);
        W w;
        w.u32(2).u32(3).u32(1).u32(2).u32(3).u8(1).u16(1).u16(2).u16(3).u16(4).str("a").str("c").str("Go");
        for (int i = 0; i < 7; ++i) {
            w.u32(0xFF000000u + static_cast<INT_U32>(i));
        }
        w.u32(c.old).u16(c.shading).u8(0).u8(c.indent).str("skin").u8(0).u32(0);
        WM_PTM_OBJECT_INFO o;
        ASSERT_TRUE(read(o, w, 5));
        EXPECT_EQ(o.type, WM_TYPE_BUTTON);
        EXPECT_EQ(o.custom_style_set->ssf, c.ssf);
        EXPECT_EQ(o.custom_style_set->ssef, c.ssef);
        EXPECT_EQ(o.custom_style_set->active_colour.value, 0xFF000003u);
        EXPECT_EQ(o.enabled, 0);
    }
    // {old text flag, ssf}: first, last, and a bit the map does not know.
    const INT_U32 texts[][2] = {{0x1, 0x3}, {0x8000, 0x8000}, {0x10, 0}};
    for (auto& t : texts) {
        SCOPED_TRACE(t[0]);
        W w;
        w.swap = 1;
        w.u32(7).u32(3).u32(1).u32(2).u32(3).u8(1).u16(1).u16(2).u16(3).u16(4).str("a").str("c").str("T");
        w.u32(1).u32(2).u32(3).u16(t[0]).u16(0xF).u8(2).u16(12).u16(14).u32(0);
        WM_PTM_OBJECT_INFO o;
        ASSERT_TRUE(read(o, w, 6));
        EXPECT_EQ(o.type, WM_TYPE_SCRIPT);
        EXPECT_EQ(o.custom_style_set->ssf, t[1]);
        EXPECT_EQ(o.custom_style_set->ssef, 0u);
        EXPECT_EQ(o.custom_style_set->font_y_sz, 14);
    }
}

// A version-3 button up to its image name (v3 has no enabled byte).
W old_button()
{
    W w;
    w.u32(2).u32(3).u32(1).u32(2).u32(3).u8(1).u16(1).u16(2).u16(3).u16(4).str("a").str("c").str("Go");
    for (int i = 0; i < 7; ++i) {
        w.u32(0);
    }
    w.u16(0).u16(0).u8(0).u8(0);
    return w;
}

TEST_F(PtmObjectTest, LegacyImageNameKeeps255BytesAndStopsAtTheEnd)
{
    FOLDER skins;
    ASSERT_TRUE(skins.set("$APPDATA", 1) && skins.move_down("buttons", 1));
    W w = old_button();
    w.str(std::string(255, 'k') + std::string(45, 'x')).u32(0);
    WM_PTM_OBJECT_INFO o;
    ASSERT_TRUE(read(o, w, 3));
    EXPECT_EQ(std::string(o.custom_style_set->image_filename), std::string(255, 'k'));
    EXPECT_STREQ(o.custom_style_set->image_path, "$APPDATA/buttons");

    W huge = old_button();
    huge.u32(0xFFFFFFFF).str(std::string(400, 'k'));
    MEMORY_DATA_DEVICE d;
    EXPECT_FALSE(read(o, huge, 3, &d));
    EXPECT_LT(d.reads, 100);
}

TEST_F(PtmObjectTest, HostileNestingAndCountsFailCleanly)
{
    for (int levels : {64, 65, 10000}) {
        W w;
        for (int i = 0; i < levels; ++i) {
            w.object(25, "n", i + 1 < levels ? 1 : 0);
        }
        WM_PTM_OBJECT_INFO o;
        EXPECT_EQ(read(o, w, 25), levels <= WM_PTM_OBJECT_INFO::max_depth) << levels;
    }
    for (INT_U32 count : {0xFFFFFFFFu, 0x7FFFFFFFu, 2u}) {
        W w;
        w.object(25, "n", count);
        w.object(25, "n", 0);
        WM_PTM_OBJECT_INFO o;
        EXPECT_FALSE(read(o, w, 25)) << count;
        EXPECT_EQ(o.object_count, 0);
    }
}

TEST_F(PtmObjectTest, IdNamesAndNumbers)
{
    const char* names[][3] = {{"  9 lives", "CID_", "CID___9_LIVES"},
                              {"start game", "AID_", "AID_START_GAME"},
                              {"aid_ok", "AID_", "AID_OK"},
                              {"caf\xe9", "AID_", "AID_CAF_"}};
    for (auto& n : names) {
        char* id = nullptr;
        WM_PTM_OBJECT_INFO::set_id(id, n[0], n[1]);
        EXPECT_STREQ(id, n[2]);
        delete[] id;
    }

    // A page whose records use 1, 2 (in a sub-record) and 4.
    WM_PTM_PAGE_INFO page;
    page.alloc(3);
    page.objects[0].set_ids("one", nullptr, nullptr);
    page.objects[1].create_new_object(WM_TYPE_BUTTON);
    page.objects[1].objects[0].set_ids("one", "two", nullptr);
    page.objects[2].set_ids(nullptr, "four", nullptr);
    page.objects[2].cid = 4;
    WM_PTM_OBJECT_INFO& r = page.objects[0];
    r.set_ids("new", "newer", &page);
    EXPECT_EQ(r.aid, 3u);
    EXPECT_EQ(r.cid, 5u);
    r.set_ids(nullptr, "four", &page);
    EXPECT_EQ(r.aid_name, nullptr);
    EXPECT_EQ(r.cid, 4u);
    EXPECT_STREQ(page.objects[1].look_for_id(2, nullptr), "CID_TWO");
    EXPECT_EQ(page.objects[1].look_for_id("AID_ONE", nullptr), 1u);
    EXPECT_EQ(page.objects[1].look_for_id("AID_ONE", &page.objects[1].objects[0]), 0u);

    WM_PTM_DIALOG_INFO dialog;
    dialog.alloc(2);
    WM_PTM_DIALOG_INFO* dialogs[] = {&dialog};
    dialog.objects[0].set_ids("a", nullptr, dialogs, 1);
    dialog.objects[1].set_ids("b", "a", dialogs, 1);
    EXPECT_EQ(dialog.objects[1].aid, 2u);
    EXPECT_EQ(dialog.objects[1].cid, 3u);
}

TEST_F(PtmObjectTest, EditingNamesCapsAndForgetsDeletedResources)
{
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(m->create_new_style_set() && m->create_new_font() && m->create_new_colour() &&
                    m->create_new_constant() && m->create_new_dialog() && m->create_new_area());
    }
    EXPECT_STREQ(m->style_sets[2]->name, "Style Set 3"); // numbered on from the list's end
    EXPECT_FALSE(m->delete_font(-1));
    EXPECT_FALSE(m->delete_font(2));
    ASSERT_TRUE(m->delete_font(0));
    EXPECT_STREQ(m->fonts[0]->name, "Font 2");

    ASSERT_TRUE(m->areas[1].create_new_page() && m->delete_area(0));
    ASSERT_EQ(m->area_count, 1);
    EXPECT_STREQ(m->areas[0].name, "Area 2");
    EXPECT_EQ(m->areas[0].page_count, 1);

    // References in pages, nested objects and dialogs go before the record.
    WM_PTM_PAGE_INFO& page = m->areas[0].pages[0];
    page.background = m->images[0];
    ASSERT_TRUE(page.create_new_object(WM_TYPE_GRID) && page.objects[0].create_new_object(WM_TYPE_IMAGE));
    page.objects[0].grid_cell_style_set = m->style_sets[0];
    page.objects[0].objects[0].image = m->images[0];
    ASSERT_TRUE(m->dialogs[0]->create_new_object(WM_TYPE_BUTTON));
    m->dialogs[0]->objects[0].style_set = m->style_sets[0];
    m->dialogs[0]->objects[0].image = m->images[0];
    ASSERT_TRUE(m->delete_image(0) && m->delete_style_set(0));
    EXPECT_EQ(page.background, nullptr);
    EXPECT_EQ(page.objects[0].grid_cell_style_set, nullptr);
    EXPECT_EQ(page.objects[0].objects[0].image, nullptr);
    EXPECT_EQ(m->dialogs[0]->objects[0].style_set, nullptr);
    EXPECT_EQ(m->dialogs[0]->objects[0].image, nullptr);

    m->alloc_colours(PTM_MAX_LIST_COUNT);
    m->alloc_areas(PTM_MAX_LIST_COUNT);
    EXPECT_FALSE(m->create_new_colour());
    EXPECT_FALSE(m->create_new_area());
    EXPECT_EQ(m->colour_count, PTM_MAX_LIST_COUNT);
}

} // namespace

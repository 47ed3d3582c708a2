// The built pages.bin holds what the program's pages are written against:
// page ids, action and creation numbers, constants, style sets and the
// race pictures, each telling itself apart by its colour.
#include "folder.h"
#include "image.h"
#include "pages_rules.h"
#include "param.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr INT_U32 SETTINGS_ID = 0x4978817d, RESULT_ID = 0x497881d3;

class PagesContractTest : public ::testing::Test
{
protected:
    WM_PAGE_TOOL_MANAGER ptm;
    unsigned char images = 0;

    void SetUp() override
    {
        FOLDER share;
        ASSERT_TRUE(share.set_from_path_string(KIVO_TEST_SHARE_DIR));
        ASSERT_TRUE(ptm.load(share, "pages.bin", &images));
    }

    WM_PTM_PAGE_INFO* page(INT_U32 id)
    {
        for (INT_S32 i = 0; i < ptm.area_count; i++) {
            for (INT_S32 j = 0; j < ptm.areas[i].page_count; j++) {
                if (ptm.areas[i].pages[j].id == id) {
                    return &ptm.areas[i].pages[j];
                }
            }
        }
        return nullptr;
    }

    // The record on the page with these numbers, or null.
    const WM_PTM_OBJECT_INFO* object(INT_U32 page_id, INT_U32 aid, INT_U32 cid)
    {
        WM_PTM_PAGE_INFO* p = page(page_id);
        for (INT_S32 i = 0; p && i < p->object_count; i++) {
            if (p->objects[i].aid == aid && p->objects[i].cid == cid) {
                return &p->objects[i];
            }
        }
        return nullptr;
    }

    long constant(const char* name)
    {
        WM_PTM_CONSTANT_INFO* c = ptm.find_constant(name);
        return c ? c->value.get_long(c->value.value) : 0;
    }
};

TEST_F(PagesContractTest, WindowAreaAndPageChanges)
{
    EXPECT_EQ(images, 1); // the pictures travel inside the file
    EXPECT_EQ(ptm.width, 800);
    EXPECT_EQ(ptm.height, 600);
    EXPECT_STREQ(ptm.name, "Tollbeck");
    EXPECT_EQ(ptm.area_count, 1);
    EXPECT_EQ(ptm.show_logo, 0);
    EXPECT_EQ(ptm.page_effects, 1);
    EXPECT_GE(ptm.page_effect_ms, 500u);
    EXPECT_LE(ptm.page_effect_ms, 1000u);
    WM_PTM_PAGE_INFO* settings = page(SETTINGS_ID);
    WM_PTM_PAGE_INFO* result = page(RESULT_ID);
    ASSERT_TRUE(settings && result);
    for (WM_PTM_PAGE_INFO* p : {settings, result}) {
        EXPECT_GE(p->change_method, 11u);
        EXPECT_LE(p->change_method, 32u);
    }
    // Slides: 18 + direction (1 from the right, 2 from the left) + 5 x style.
    // Going back comes from the other side.
    const INT_U32 forward = result->change_method - 18, back = settings->change_method - 18;
    EXPECT_EQ(forward / 5, back / 5);
    EXPECT_EQ(forward % 5 + back % 5, 3u);
}

TEST_F(PagesContractTest, ConstantsAndStyleSets)
{
    for (const char* name : {"initial first name", "initial second name"}) {
        WM_PTM_CONSTANT_INFO* c = ptm.find_constant(name);
        ASSERT_NE(c, nullptr) << name;
        char text[8] = "x";
        c->value.get_str(c->value.value, text, sizeof text);
        EXPECT_STREQ(text, "") << name;
    }
    const long list = constant("GENERIC_OBJ_LISTBOX"), edit = constant("GENERIC_OBJ_EDITBOX");
    EXPECT_NE(list, 0);
    EXPECT_NE(edit, 0);
    EXPECT_NE(list, edit);
    for (const char* name : {"Listbox Popup", "Grid Scrollbar"}) {
        EXPECT_NE(ptm.find_style_set(name), nullptr) << name;
    }
    // At least one face of the definition's own, installed from the build tree.
    ASSERT_GE(ptm.font_count, 1);
    EXPECT_STREQ(ptm.fonts[0]->path, "$FONTDATA/faces");
}

TEST_F(PagesContractTest, EveryControlWithItsNumbers)
{
    const long list = constant("GENERIC_OBJ_LISTBOX"), edit = constant("GENERIC_OBJ_EDITBOX");
    struct WANTED
    {
        INT_U32 page, type, aid, cid;
        long generic;
    };
    const WANTED wanted[] = {
        {SETTINGS_ID, WM_TYPE_BUTTON, 1, 2, 0},
        {SETTINGS_ID, 0, 3, 4, list},
        {SETTINGS_ID, 0, 5, 6, edit},
        {SETTINGS_ID, 0, 7, 8, edit},
        {SETTINGS_ID, WM_TYPE_BUTTON, 9, 0, 0},
        {SETTINGS_ID, WM_TYPE_BUTTON, 10, 0, 0},
        {SETTINGS_ID, WM_TYPE_SCRIPT, 0, 11, 0},
        {SETTINGS_ID, WM_TYPE_BUTTON, 12, 13, 0},
        {SETTINGS_ID, WM_TYPE_BUTTON, 14, 15, 0},
        {SETTINGS_ID, WM_TYPE_BUTTON, 16, 17, 0},
        {RESULT_ID, WM_TYPE_BUTTON, 1, 0, 0},
        {RESULT_ID, WM_TYPE_SCRIPT, 0, 2, 0},
        {RESULT_ID, WM_TYPE_IMAGE, 0, 3, 0},
    };
    for (const WANTED& w : wanted) {
        WM_PTM_PAGE_INFO* p = page(w.page);
        ASSERT_NE(p, nullptr);
        int found = 0;
        for (INT_S32 i = 0; i < p->object_count; i++) {
            const WM_PTM_OBJECT_INFO& o = p->objects[i];
            if (o.aid == w.aid && o.cid == w.cid && o.type == w.type && o.generic_type == INT_U32(w.generic)) {
                found++;
                EXPECT_GT(o.width, 0) << i;
                EXPECT_GT(o.height, 0) << i;
            }
        }
        EXPECT_EQ(found, 1) << std::hex << w.page << " " << w.aid << "," << w.cid;
    }
}

TEST_F(PagesContractTest, LayoutAndLook)
{
    // The name fields are as tall as their style and font make them, and
    // the drop-down and the race buttons beside it as tall as they.
    WM_STYLE_SET* edit = ptm.find_style_set("Edit");
    ASSERT_NE(edit, nullptr);
    const int field = edit->border_top_gap + edit->border_bottom_gap + edit->font_y_sz;
    for (const auto& [aid, cid] : {std::pair<INT_U32, INT_U32>{5, 6}, {7, 8}, {3, 4}, {12, 13}, {16, 17}, {14, 15}}) {
        const WM_PTM_OBJECT_INFO* o = object(SETTINGS_ID, aid, cid);
        ASSERT_NE(o, nullptr) << aid;
        EXPECT_EQ(o->height, field) << aid;
    }
    // Dwarf, Elf, Orc from left to right, as the drop-down lists them.
    const WM_PTM_OBJECT_INFO* dwarf = object(SETTINGS_ID, 12, 13);
    const WM_PTM_OBJECT_INFO* elf = object(SETTINGS_ID, 16, 17);
    const WM_PTM_OBJECT_INFO* orc = object(SETTINGS_ID, 14, 15);
    EXPECT_TRUE(dwarf->x < elf->x && elf->x < orc->x);
    // The drop-down and the pressable buttons are skinned: an arrow, and a
    // disabled face of its own.
    for (const char* name : {"droplist_right", "button_disabled_mid"}) {
        WM_PTM_IMAGE_INFO* info = ptm.find_image(name);
        EXPECT_TRUE(info && info->image) << name;
    }
    // Back answers Escape.
    const WM_PTM_OBJECT_INFO* back = object(RESULT_ID, 1, 0);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->hotkey, 53u);
    // The result picture stands clear of the heading's rule, the gold row
    // of the backdrop under the heading.
    const WM_PTM_OBJECT_INFO* picture = object(RESULT_ID, 0, 3);
    WM_PTM_IMAGE_INFO* backdrop = ptm.find_image("backdrop");
    ASSERT_TRUE(picture && backdrop && backdrop->image);
    const IMAGE& b = *backdrop->image;
    for (int y = picture->y; y < picture->y + picture->height && y < b.height; y++) {
        const COLOUR c = b.pixels[static_cast<long>(y) * b.stride + picture->x + picture->width / 2];
        EXPECT_LT(c.red(), c.blue() + 0x30) << "the rule at row " << y;
    }
    // What the generator held the field's style to.
    EXPECT_EQ(field_contrast_faults(*edit), "");
}

TEST_F(PagesContractTest, RacePicturesEachOwnColour)
{
    // The channel (0 blue, 1 green, 2 red) that dominates each picture.
    const struct
    {
        const char* name;
        int channel;
    } races[] = {{"dwarf", 2}, {"elf", 1}, {"orc", 0}};
    for (const auto& r : races) {
        WM_PTM_IMAGE_INFO* info = ptm.find_image(r.name);
        ASSERT_TRUE(info && info->image) << r.name;
        EXPECT_STREQ(info->path, "$APPDATA/images");
        IMAGE* im = info->image;
        ASSERT_GT(im->width, 0);
        double sum[3] = {0, 0, 0};
        for (int y = 0; y < im->height; y++) {
            for (int x = 0; x < im->width; x++) {
                const INT_U32 c = static_cast<INT_U32>(im->pixels[static_cast<long>(y) * im->stride + x]);
                if ((c >> 24) == 0xFF) {
                    for (int k = 0; k < 3; k++) {
                        sum[k] += (c >> (8 * k)) & 0xFF;
                    }
                }
            }
        }
        for (int k = 0; k < 3; k++) {
            if (k != r.channel) {
                EXPECT_GT(sum[r.channel], 1.3 * sum[k]) << r.name << " channel " << k;
            }
        }
    }
}

} // namespace

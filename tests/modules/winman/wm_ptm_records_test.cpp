// Area, page, dialog, font, image, colour and constant records: files of
// old versions in both byte orders, the resources they load, and editing.
#include "data_file.h"
#include "errors.h"
#include "folder.h"
#include "font.h"
#include "memory_data_device.h"
#include "widget_test.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_records.h"

#include <cstring>
#include <string>

namespace {

using kivo_test::MEMORY_DATA_DEVICE;

const std::string share_fonts = std::string(KIVO_TEST_SHARE_DIR) + "/fonts";
constexpr INT_U32 END = 0xCAFEF00D; // follows each record: it must read next

// Record bytes as an old file holds them, in either byte order.
struct BYTES
{
    bool big;
    std::string s;
    BYTES& u8(unsigned v)
    {
        s += static_cast<char>(v);
        return *this;
    }
    BYTES& u16(unsigned v) { return big ? u8(v >> 8).u8(v & 0xFF) : u8(v & 0xFF).u8(v >> 8); }
    BYTES& u32(INT_U32 v) { return big ? u16(v >> 16).u16(v & 0xFFFF) : u16(v & 0xFFFF).u16(v >> 16); }
    BYTES& str(const std::string& t)
    {
        u32(static_cast<INT_U32>(t.size()));
        s += t;
        return *this;
    }
    BYTES& path(const std::string& t)
    {
        s += t;
        s.append(2048 - t.size(), '\0');
        return *this;
    }
    // The path of a font or image record as each version stores it (none
    // for a null text).
    BYTES& place(INT_U16 version, const char* t)
    {
        return !t || version < 10 ? *this : version > 15 ? path(t) : u8(0xFF).path(t);
    }
    MEMORY_DATA_DEVICE device() const
    {
        MEMORY_DATA_DEVICE d(s);
        d.swap = big;
        return d;
    }
};

bool ends_record(MEMORY_DATA_DEVICE& d)
{
    INT_U32 v = 0;
    return get_u32(d, v) && v == END;
}

template <typename T> std::string written(T& record)
{
    MEMORY_DATA_DEVICE d;
    EXPECT_TRUE(record.put_to_data_device(d));
    return d.str();
}

class PtmRecordsTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        ASSERT_TRUE(ptm.create_new_image() && ptm.create_new_image());
    }
    void TearDown() override
    {
        ptm.clear();
        WidgetTest::TearDown();
    }
    WM_PAGE_TOOL_MANAGER ptm;
};

TEST_F(PtmRecordsTest, PagesReadTheirBackgroundAndMethodByVersion)
{
    // index: the s32 from 17 on (COUNT: the image count); file: the name
    // before 17.
    constexpr INT_S32 COUNT = -2;
    const struct
    {
        INT_U16 version;
        const char* file;
        INT_S32 index;
        const char* background; // name of the record found, null for none
        INT_U32 method;
    } cases[] = {
        {8, "old.png", 0, "Page 4978817d", 0}, {12, "bg.png", 0, "Page 4978817d", 0},
        {16, "bg.png", 0, "Page 4978817d", 0}, {16, "", 0, nullptr, 0},
        {17, nullptr, 1, "Image 2", 12},       {25, nullptr, -1, nullptr, 13},
        {25, nullptr, COUNT, nullptr, 14},     {25, nullptr, 0x7FFFFFFF, nullptr, 15},
    };
    for (bool big : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "version " << c.version << " big " << big << " index " << c.index);
            BYTES b{big, {}};
            b.u32(0x4978817D).str("Main");
            if (c.version < 17) {
                b.str(c.file);
            } else {
                b.u32(static_cast<INT_U32>(c.index == COUNT ? ptm.image_count : c.index)).u32(c.method);
            }
            b.u32(0).u32(END);
            INT_S32 images = ptm.image_count;
            WM_PTM_PAGE_INFO page;
            MEMORY_DATA_DEVICE d = b.device();
            ASSERT_TRUE(page.read(d, c.version));
            EXPECT_TRUE(ends_record(d));
            // Version 8 lists its images after the areas: the name waits.
            if (c.version == 8) {
                EXPECT_EQ(page.background, nullptr);
                EXPECT_EQ(ptm.image_count, images);
                page.resolve_pending_background();
            }
            EXPECT_EQ(page.id, 0x4978817Du);
            EXPECT_EQ(page.change_method, c.method);
            EXPECT_STREQ(page.background ? page.background->name : nullptr, c.background);
            bool made = c.version < 17 && c.background;
            EXPECT_EQ(ptm.image_count, images + (made ? 1 : 0));
            if (made) {
                EXPECT_TRUE(!std::strcmp(page.background->filename, c.file) && !page.background->image &&
                            page.background == ptm.images[ptm.image_count - 1]);
            }
        }
    }
}

TEST_F(PtmRecordsTest, ListCountsBeyondTheDataFailWithoutAllocating)
{
    BYTES b{false, {}}, p{true, {}};
    b.str("A").u16(0).u16(0).u16(1).u16(1).u32(0).u32(0xFFFFFFFF);
    p.u32(1).str("P").u32(0).u32(0).u32(3).u32(0).u32(0); // 3 objects in 8 bytes
    WM_PTM_AREA_INFO area;
    WM_PTM_PAGE_INFO page;
    MEMORY_DATA_DEVICE da = b.device(), dp = p.device();
    EXPECT_FALSE(area.read(da, 25) || page.read(dp, 25));
    EXPECT_TRUE(area.pages == nullptr && page.objects == nullptr && !std::strcmp(area.name, "A"));
}

TEST_F(PtmRecordsTest, FontsInstallInTheSlotAskedForElseAnyFree)
{
    FOLDER fonts("$APPDATA/fonts", 1);
    const char* known5 = IMAGE::get_font_info_filename(5);
    for (std::string file : {known5, "BabelSans.ttf"}) {
        std::string bytes = kivo_test::read_file(share_fonts + "/" + file);
        ASSERT_TRUE(kivo_test::write_file(fonts.get_path_string(file.c_str()), bytes));
    }
    IMAGE::free_font(5); // so that the request for slot 5 can be met
    const int any = IMAGE_KNOWN_FONT_COUNT;

    // slot -1: the first free slot from the first after the known fonts.
    const struct
    {
        INT_U16 version;
        const char* file;
        const char* path;
        unsigned slot; // the request, from version 14
        int expect;
    } cases[] = {
        {25, known5, "$APPDATA/fonts", 5, 5},
        {25, "BabelSans.ttf", "$APPDATA/fonts", 5, any},
        {25, "BabelSans.ttf", "$APPDATA/fonts", 255, any},
        {15, "BabelSans.ttf", "$APPDATA/fonts", 255, any},
        {13, known5, "$APPDATA/fonts", 0, any},
        {9, "BabelSans.ttf", nullptr, 0, any},
        {25, "missing.ttf", "$APPDATA/fonts", 255, -1},
        {25, "BabelSans.ttf", "$NOWHERE/fonts", 255, -1},
        {13, "BabelSans.ttf", "$NOWHERE/fonts", 0, -1},
    };
    // The second round runs without the font system: nothing is installed.
    for (bool system : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "version " << c.version << " " << c.file << " " << c.slot);
            bool big = ((&c - cases) + system) & 1;
            int expect = system ? c.expect : -1;
            BYTES b{big, {}};
            b.str("Face").str(c.file).place(c.version, c.path);
            if (c.version >= 14) {
                b.u8(c.slot);
            }
            b.u32(END);
            int slot = -1;
            {
                WM_PTM_FONT_INFO font;
                MEMORY_DATA_DEVICE d = b.device();
                ASSERT_TRUE(font.read(d, c.version));
                EXPECT_TRUE(ends_record(d));
                // A known folder record comes back in its canonical form.
                if (c.version < 10 || c.version > 15 || !FOLDER::alias_is_known(c.path)) {
                    EXPECT_STREQ(font.path, c.path ? c.path : "$APPDATA/fonts");
                }
                slot = font.font_slot == 255 ? -1 : font.font_slot;
                EXPECT_EQ(slot, expect);
                // Read again: the first slot is given back before installing.
                d.pos = 0;
                ASSERT_TRUE(font.read(d, c.version));
                EXPECT_EQ(font.font_slot == 255 ? -1 : font.font_slot, expect);
            }
            if (slot >= 0) {
                EXPECT_FALSE(IMAGE::is_font_valid(static_cast<INT_S8>(slot)));
            }
        }
        EXPECT_TRUE(IMAGE::is_font_valid(0) || !system); // never asked to free every font
        IMAGE::shutdown_font_system();
    }
}

TEST_F(PtmRecordsTest, ImagesOpenThroughTheSharedCache)
{
    FOLDER folder("$APPDATA/images", 1);
    imgtest::CANVAS picture(3, 2, {COLOUR(0xFF00FF00)});
    DATA_FILE* file = folder.open_data_file("dot.png", fm_write, 0, 0);
    ASSERT_TRUE(file && picture.save_png(file) && folder.close(file));

    const struct
    {
        INT_U16 version;
        const char* file;
        const char* path;
        bool opened;
    } cases[] = {
        {25, "dot.png", "$APPDATA/images", true},
        {13, "dot.png", "$APPDATA/images", true},
        {9, "dot.png", nullptr, true},
        {25, "", "$APPDATA/images", false},
        {25, "gone.png", "$APPDATA/images", false},
        {25, "dot.png", "$NOWHERE/images", false},
        {12, "dot.png", "$NOWHERE/images", false},
    };
    for (bool big : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "version " << c.version << " " << c.file << " big " << big);
            BYTES b{big, {}};
            b.str("Pic").str(c.file).place(c.version, c.path).u32(END);
            WM_PTM_IMAGE_INFO first, second;
            MEMORY_DATA_DEVICE d = b.device();
            ASSERT_TRUE(first.read(d, c.version));
            EXPECT_TRUE(ends_record(d));
            d.pos = 0;
            ASSERT_TRUE(second.read(d, c.version));
            EXPECT_STREQ(first.path, c.path ? c.path : "$APPDATA/images");
            ASSERT_EQ(first.image != nullptr, c.opened);
            if (c.opened) {
                EXPECT_EQ(first.image, second.image);
                IMAGE_CACHE::CACHE_ENTRY* entry = WM_SCREEN_OBJECT::image_cache.get_entry(first.image);
                INT_S16 uses = entry->uses;
                second.clear();
                EXPECT_EQ(entry->uses, uses - 1);
            }
            // An unknown alias is kept, and written back as it came.
            BYTES block{false, {}};
            block.path(c.path ? c.path : "$APPDATA/images");
            EXPECT_EQ(written(first).substr(11 + std::strlen(c.file), 2048), block.s);
        }
    }
}

// A font or image record whose folder leads outside the folder its alias
// names, or is absolute, reads on with the folder dropped and loads
// nothing. Inside the data folder a link to a plain file works; a link to
// a device or a kernel file is never opened.
TEST_F(PtmRecordsTest, StoredFoldersLeadOnlyIntoTheirAliasAndToPlainFiles)
{
    FOLDER fonts("$APPDATA/fonts", 1), images("$APPDATA/images", 1), etc("$APPDATA/../etc", 1);
    imgtest::CANVAS picture(3, 2, {COLOUR(0xFF00FF00)});
    DATA_FILE* file = images.open_data_file("dot.png", fm_write, 0, 0);
    ASSERT_TRUE(file && picture.save_png(file) && images.close(file));
    file = etc.open_data_file("shadow", fm_write, 0, 0);
    ASSERT_TRUE(file && picture.save_png(file) && etc.close(file));
    ASSERT_TRUE(
        kivo_test::write_file(etc.get_path_string("face"), kivo_test::read_file(share_fonts + "/BabelSans.ttf")));
    const struct
    {
        FOLDER* in;
        const char* name;
        std::string to;
    } links[] = {
        {&fonts, "linked.ttf", share_fonts + "/BabelSans.ttf"},
        {&fonts, "zero.ttf", "/dev/zero"},
        {&fonts, "mem.ttf", "/proc/self/mem"},
        {&images, "linked.png", images.get_path_string("dot.png")},
        {&images, "mem.png", "/proc/self/mem"},
        {&images, "zero.png", "/dev/zero"},
    };
    for (const auto& l : links) {
        ASSERT_EQ(symlink(l.to.c_str(), l.in->get_path_string(l.name)), 0) << l.name;
    }
    const std::string root_etc = "$ROOT0" + std::string(etc.get_path_string());
    // kept: the folder stays; loads: the resource is had; device: a link
    // to a device or kernel file.
    const struct
    {
        const char *font, *image;
        std::string font_path, image_path;
        bool kept, loads, device;
    } cases[] = {
        {"linked.ttf", "linked.png", "$APPDATA/fonts", "$APPDATA/images", true, true, false},
        {"face", "shadow", "$APPDATA/../etc", "$APPDATA/../etc", false, false, false},
        {"face", "shadow", root_etc, root_etc, false, false, false},
        {"face", "shadow", "$APPDATA/fonts/../../etc", "$APPDATA/images/../../etc", false, false, false},
        {"../../etc/face", "../../etc/shadow", "$APPDATA/fonts", "$APPDATA/images", true, false, false},
        {"zero.ttf", "zero.png", "$APPDATA/fonts", "$APPDATA/images", true, false, true},
        {"mem.ttf", "mem.png", "$APPDATA/fonts", "$APPDATA/images", true, false, true},
    };
    for (INT_U16 version : {25, 13}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "version " << version << " " << c.font_path << " " << c.font);
            BYTES b{false, {}};
            b.str("Face").str(c.font).place(version, c.font_path.c_str());
            if (version >= 14) {
                b.u8(255);
            }
            b.str("Pic").str(c.image).place(version, c.image_path.c_str()).u32(END);
            MEMORY_DATA_DEVICE d = b.device();
            WM_SCREEN_OBJECT::image_cache.clear(); // no failure remembered from before
            WM_PTM_FONT_INFO font;
            WM_PTM_IMAGE_INFO image;
            ASSERT_TRUE(font.read(d, version));
            set_error_code(ERRCODE_NONE, nullptr);
            ASSERT_TRUE(image.read(d, version));
            EXPECT_TRUE(ends_record(d));
            EXPECT_STREQ(font.path, c.kept ? c.font_path.c_str() : "");
            EXPECT_STREQ(image.path, c.kept ? c.image_path.c_str() : "");
            EXPECT_EQ(font.font_slot != 255, c.loads);
            EXPECT_EQ(image.image != nullptr, c.loads);
            if (c.device) {
                EXPECT_EQ(current_error_code, ERRCODE_FILE_NOT_FOUND);
            }
        }
    }
}

TEST_F(PtmRecordsTest, ColoursAndConstantsByVersion)
{
    for (bool big : {false, true}) {
        BYTES b{big, {}};
        b.str("Red").u32(0x80FF0000).str("Max").u32(0xFFFFFFFF).str("Seven").u32(7).str("Name").u8(8);
        b.str("Bob").str("").str("").str("Count").u8(4).u32(42).u32(0).u32(100).u32(END);
        MEMORY_DATA_DEVICE d = b.device();
        WM_PTM_COLOUR_INFO colour;
        WM_PTM_CONSTANT_INFO c12, c16, text, number;
        ASSERT_TRUE(colour.read(d, 12) && c12.read(d, 12) && c16.read(d, 16) && text.read(d, 17) && number.read(d, 25));
        EXPECT_TRUE(ends_record(d));
        EXPECT_EQ(colour.colour.value, 0x80FF0000u);
        EXPECT_STREQ(c12.value.value.text, "-1");
        EXPECT_STREQ(c16.value.value.text, "7");
        EXPECT_STREQ(text.value.value.text, "Bob");
        EXPECT_EQ(number.value.type, 4u);
        EXPECT_EQ(number.value.get_long(number.value.value), 42);
    }
}

// One record of each kind, read and written back to back.
struct ALL_RECORDS
{
    WM_PTM_AREA_INFO area;
    WM_PTM_DIALOG_INFO dialog;
    WM_PTM_FONT_INFO font;
    WM_PTM_IMAGE_INFO image;
    WM_PTM_COLOUR_INFO colour;
    WM_PTM_CONSTANT_INFO constant;
    bool read(DATA_DEVICE& d)
    {
        return area.read(d, 25) && dialog.read(d, 25) && font.read(d, 25) && image.read(d, 25) && colour.read(d, 25) &&
               constant.read(d, 25);
    }
    std::string bytes()
    {
        return written(area) + written(dialog) + written(font) + written(image) + written(colour) + written(constant);
    }
};

TEST_F(PtmRecordsTest, Version25RecordsRoundTripByteForByte)
{
    ALL_RECORDS r;
    r.area.set_name("Main area");
    r.area.reserved = 0x12345678; // kept as read, not reset
    ASSERT_TRUE(r.area.create_new_page() && r.area.create_new_page());
    r.area.pages[0].background = ptm.images[1];
    r.area.pages[1].change_method = 12;
    ASSERT_TRUE(r.area.pages[1].create_new_object(WM_TYPE_BUTTON) && r.area.pages[1].create_new_object(WM_TYPE_IMAGE));
    r.area.pages[1].objects[1].set_text("Go");
    r.dialog.set_name("Ask");
    ASSERT_TRUE(r.dialog.create_new_object(WM_TYPE_BUTTON));
    r.font.set_name("Face");
    r.font.set_filename("none.ttf");
    r.image.set_name("Pic");
    r.constant.set_name("First");
    r.constant.value.set(r.constant.value.value, "Ann");

    const std::string bytes = r.bytes();
    ALL_RECORDS back;
    MEMORY_DATA_DEVICE d(bytes);
    ASSERT_TRUE(back.read(d));
    EXPECT_EQ(back.bytes(), bytes);
    EXPECT_EQ(back.area.pages[0].background, ptm.images[1]);
    EXPECT_EQ(back.dialog.title, nullptr);

    // Cut anywhere, some record reads false.
    for (size_t n = 0; n < bytes.size(); n += (n < 200 ? 1 : 97)) {
        MEMORY_DATA_DEVICE cut(bytes.substr(0, n));
        EXPECT_FALSE(ALL_RECORDS().read(cut)) << n;
    }
}

// Texts are kept inside their record up to 15 bytes and stored apart from
// 16 on: every length either side of that reads back and writes the same
// bytes, in page names as in folder paths. A text ends at its first NUL as
// the file has it, short or long.
TEST_F(PtmRecordsTest, TextsOfEveryLengthReadAndWriteBack)
{
    const struct
    {
        std::string stored; // as the file holds it
        const char* read;   // null: none
    } cases[] = {
        {"", nullptr},
        {"P", "P"},
        {std::string(15, 'a'), "aaaaaaaaaaaaaaa"},
        {std::string(16, 'b'), "bbbbbbbbbbbbbbbb"},
        {std::string("ab\0cd", 5), "ab"},
        {std::string("\0x", 2), nullptr},
        {std::string(300, 'c') + '\0' + "tail", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.size());
        const std::string expect = c.read ? c.read : c.stored.substr(0, c.stored.find('\0'));
        BYTES b{false, {}};
        b.u32(7).str(c.stored).u32(0xFFFFFFFF).u32(0).u32(0);
        b.str("Face").str("none.ttf").path("$APPDATA/d" + expect).u8(255).u32(END);
        MEMORY_DATA_DEVICE d = b.device();
        WM_PTM_PAGE_INFO page;
        WM_PTM_FONT_INFO font;
        ASSERT_TRUE(page.read(d, 25));
        ASSERT_TRUE(font.read(d, 25));
        EXPECT_TRUE(ends_record(d));
        if (expect.empty()) {
            EXPECT_EQ(page.name, nullptr);
        } else {
            EXPECT_EQ(std::string(page.name), expect);
        }
        EXPECT_EQ(std::string(font.path), "$APPDATA/d" + expect);
        // Written and read again: the same bytes.
        const std::string once = written(page) + written(font);
        WM_PTM_PAGE_INFO page2;
        WM_PTM_FONT_INFO font2;
        MEMORY_DATA_DEVICE again(once);
        ASSERT_TRUE(page2.read(again, 25) && font2.read(again, 25));
        EXPECT_EQ(written(page2) + written(font2), once);
        // A setter with an equal text keeps it; another replaces it.
        page2.set_name(page.name);
        EXPECT_EQ(written(page2), written(page));
        page2.set_name("other name of some length");
        EXPECT_STREQ(page2.name, "other name of some length");
    }
}

// A text copies into storage of its own and moves without copying: none,
// empty, the longest kept inside and the shortest kept apart, over a text
// of either kind.
TEST_F(PtmRecordsTest, TextsCopyIntoTheirOwnStorageAndMoveOut)
{
    const char* texts[] = {nullptr, "", "fifteen bytes..", "sixteen bytes..."};
    for (const char* t : texts) {
        for (const char* before : {"short", "a text longer than inside"}) {
            SCOPED_TRACE(testing::Message() << (t ? t : "(none)") << " over " << before);
            WM_PTM_TEXT source;
            ASSERT_TRUE(source.set(t));
            WM_PTM_TEXT constructed(source);
            WM_PTM_TEXT assigned;
            ASSERT_TRUE(assigned.set(before));
            assigned = source;
            for (const WM_PTM_TEXT* copy : {&constructed, &assigned}) {
                if (!t) {
                    EXPECT_EQ(*copy, nullptr);
                    continue;
                }
                EXPECT_STREQ(*copy, t);
                EXPECT_NE(static_cast<const char*>(*copy), static_cast<const char*>(source));
            }
            WM_PTM_TEXT moved(std::move(constructed));
            ASSERT_TRUE(assigned.set(before));
            assigned = std::move(moved);
            EXPECT_EQ(constructed, nullptr);
            EXPECT_EQ(moved, nullptr);
            if (t) {
                EXPECT_STREQ(assigned, t);
            } else {
                EXPECT_EQ(assigned, nullptr);
            }
            assigned = assigned;
            EXPECT_EQ(assigned == nullptr, t == nullptr);
        }
    }
}

// Version 8 pages keep their background's file name aside until the image
// list is read; the name follows its page when pages move or go.
TEST_F(PtmRecordsTest, WaitingBackgroundsFollowTheirPages)
{
    BYTES b{false, {}};
    b.str("Main").u16(0).u16(0).u16(640).u16(480).u32(0).u32(3);
    for (const char* background : {"a.png", "", "c.png"}) {
        b.u32(0x100).str("P").str(background).u32(0);
    }
    b.u8(0).u8(0).u32(END);
    WM_PTM_AREA_INFO area;
    MEMORY_DATA_DEVICE d = b.device();
    ASSERT_TRUE(area.read(d, 8));
    EXPECT_TRUE(ends_record(d));
    const INT_S32 images = ptm.image_count;
    ASSERT_TRUE(area.delete_page(1) && area.create_new_page());
    area.resolve_pending_backgrounds();
    ASSERT_EQ(ptm.image_count, images + 2);
    ASSERT_TRUE(area.pages[0].background && area.pages[1].background);
    EXPECT_STREQ(area.pages[0].background->filename, "a.png");
    EXPECT_STREQ(area.pages[1].background->filename, "c.png");
    EXPECT_EQ(area.pages[2].background, nullptr);
    // Resolved once: nothing waits any more.
    area.resolve_pending_backgrounds();
    EXPECT_EQ(ptm.image_count, images + 2);
    // A page that goes before its name is used takes the name with it.
    MEMORY_DATA_DEVICE again = b.device();
    ASSERT_TRUE(area.read(again, 8));
    area.clear();
    area.resolve_pending_backgrounds();
    EXPECT_EQ(ptm.image_count, images + 2);
}

TEST_F(PtmRecordsTest, EditingNamesMovesAndDeletes)
{
    WM_PTM_AREA_INFO area;
    ASSERT_TRUE(area.create_new_page() && area.create_new_page() && area.create_new_page());
    ASSERT_TRUE(area.pages[1].create_new_object(WM_TYPE_BUTTON));
    EXPECT_STREQ(area.pages[2].name, "Page 3");
    EXPECT_NE(area.pages[2].id, area.pages[1].id);
    INT_U32 id = area.pages[1].id;
    ASSERT_TRUE(area.delete_page(0));
    EXPECT_FALSE(area.delete_page(-1) || area.delete_page(2) || area.pages[0].delete_object(1));
    ASSERT_EQ(area.page_count, 2);
    EXPECT_STREQ(area.pages[0].name, "Page 2");
    EXPECT_EQ(area.pages[0].id, id);
    EXPECT_EQ(area.pages[0].objects[0].type, WM_TYPE_BUTTON);
    EXPECT_STREQ(area.pages[1].name, "Page 3");
}

} // namespace

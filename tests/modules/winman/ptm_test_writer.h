#ifndef KIVO_TEST_PTM_TEST_WRITER_H
#define KIVO_TEST_PTM_TEST_WRITER_H

// A byte writer of the tests' own for page-definition files of any version
// (0 to 25) in either byte order, kept apart from the program's writers so
// that a fault shared by reader and writer still shows. Embedded records of
// other modules (style sets, parameters) come from their own writers.
//
// ptm_test_file(version, swap) gives a small file: the application record,
// one record of each list the version has, one area of two pages whose
// objects are a button (with a nested text and a nested image), an image
// and a text block. The values it writes are the constants below.
#include "data_device.h"
#include "memory_data_device.h"
#include "param.h"
#include "wm_style_set.h"

#include <cstring>
#include <string>
#include <vector>

namespace kivo_test {

constexpr INT_U32 ptm_test_page_id = 0x4978817Du;
constexpr INT_U32 ptm_test_background = 0xFF112233u;
constexpr INT_U32 ptm_test_constant = 0xFFFFFFFFu; // before version 17: reads as "-1"

class PTM_TEST_WRITER
{
public:
    PTM_TEST_WRITER(int version, bool swap) : v(version), swap(swap) {}

    std::vector<INT_U8> out;
    int v;
    bool swap;
    std::vector<size_t> count_at; // offsets of every list count written

    void count(INT_U32 n)
    {
        count_at.push_back(out.size());
        u32(n);
    }

    void u8(INT_U8 x) { out.push_back(x); }
    void u16(INT_U16 x)
    {
        INT_U8 b[2];
        encode_u16(b, x, swap);
        out.insert(out.end(), b, b + 2);
    }
    void u32(INT_U32 x)
    {
        INT_U8 b[4];
        encode_u32(b, x, swap);
        out.insert(out.end(), b, b + 4);
    }
    void str(const char* s)
    {
        u32(static_cast<INT_U32>(std::strlen(s)));
        out.insert(out.end(), s, s + std::strlen(s));
    }
    void path(const char* s)
    {
        std::vector<INT_U8> block(DATA_PATH_BLOCK_SZ, 0);
        std::memcpy(block.data(), s, std::strlen(s));
        out.insert(out.end(), block.begin(), block.end());
    }
    // A record written by its own module's writer in this byte order.
    void record(DATA_DEVICE_CLIENT& r)
    {
        MEMORY_DATA_DEVICE d;
        d.swap = swap ? 1 : 0;
        r.put_to_data_device(d);
        out.insert(out.end(), d.data.begin(), d.data.end());
    }
    void style_set(const char* name)
    {
        WM_STYLE_SET s;
        s.set_name(name);
        s.fg_colour = 0xFF102030u;
        record(s);
    }
    // Where a resource's folder is stored: nothing (8, 9), a folder record
    // (10 to 15), a path block (16 on).
    void resource_path(const char* alias)
    {
        if (v >= 16) {
            path(alias);
        } else if (v >= 10) {
            u8(0xFF);
            path(alias);
        }
    }

    // Object kinds: 2 button, 8 image, 0x10 text.
    void object(INT_U32 type, int children)
    {
        object_fields(type);
        count(static_cast<INT_U32>(children));
        for (int i = 0; i < children; i++) {
            object(i == 0 ? 0x10 : 0x8, 0);
        }
    }

    // An object record up to its sub-record count.
    void object_fields(INT_U32 type)
    {
        if (v >= 22) {
            u8(0);
        }
        u32(v >= 13 ? type : (type == 2 ? 2 : type == 8 ? 4 : 7));
        if (v < 8) {
            legacy_object(type);
        } else {
            str("AID_GO");
            u32(3);  // aid
            u32(77); // user data
            str("");
            u32(0);
            u16(10), u16(20), u16(100), u16(30);
            if (v >= 11 && v <= 17) {
                u32(0xDEADBEEF);
            }
            u8(0); // no custom style set
            str("Go");
            u32(0); // style set 0
            if (v >= 21) {
                u32(5); // generic type
            }
            str("hint");
            u8(1);
            // Triggers: bytes from 12 on, before that u32 0 (read as 1) and 7 (as 3).
            v >= 12 ? u8(1) : u32(0);
            if (v >= 19) {
                u8(1), u32(65);
            }
            v >= 12 ? u8(2) : u32(7);
            u8(1);
            if (v >= 17) {
                u32(0); // image 0
            }
            if (v >= 21) {
                u16(25), u16(2), str("1,2"), u32(0xFFFFFFFF);
            }
            if (v >= 20) {
                u16(0xFFFF), u16(0xFFFF);
            }
        }
    }

    void legacy_object(INT_U32 type)
    {
        u32(2); // shading type
        u32(3), u32(77), u32(0);
        u8(1);
        u16(10), u16(20), u16(100), u16(30);
        if (v >= 2) {
            str("AID_GO"), str("");
        }
        if (type == 2) {
            str("Go");
            if (v == 7) {
                str("hint");
            }
            for (int i = 0; i < 6; i++) {
                u32(0xFF000000u + static_cast<INT_U32>(i));
            }
            u32(0);
            if (v <= 4) {
                u16(0x201);
            } else {
                u32(0x201);
            }
            u16(0x80FF);
            u8(0), u8(1);
            if (v >= 3) {
                str("skin");
            }
            if (v >= 4) {
                u8(1);
            }
            if (v >= 6) {
                u8(0), u16(12), u16(12);
            }
        } else if (type == 0x10) {
            str("Text");
            u32(1), u32(2), u32(3);
            u16(0x5);
            u16(0xF);
            if (v >= 6) {
                u8(0), u16(12), u16(12);
            }
        }
    }

    void page(INT_U32 id, const char* background)
    {
        u32(id);
        str("Page");
        if (v < 17) {
            str(background);
        } else {
            u32(background[0] ? 0 : 0xFFFFFFFF), u32(13);
        }
        count(3);
        object(2, 2);
        object(8, 0);
        object(0x10, 0);
    }

    void areas()
    {
        count(1);
        str("Main");
        u16(5), u16(6), u16(640), u16(480);
        u32(0x12345678);
        count(2);
        page(ptm_test_page_id, "back.png");
        page(ptm_test_page_id + 1, "");
        if (v >= 8 && v <= 17) {
            u8(0xAB), u8(0xCD);
        }
    }

    void effect(bool new_form)
    {
        if (new_form) {
            u16(0x33), u32(150), u32(250), u8(0x80);
        } else {
            u8(1), u8(0), u8(0), u8(1);
        }
    }

    // The application record up to its lists; in versions 0 to 7 the whole
    // short record.
    void app_fields()
    {
        str("App");
        u16(640), u16(480);
        u8(0), u8(1);
        u32(500);
        if (v > 16) {
            u32(12);
        }
        u32(ptm_test_background), u32(0xFF444444), u32(0xFFEEEEEE);
        if (v <= 7) {
            for (INT_U32 i = 0; i < 8; i++) {
                u32(0xFF000010u + i);
            }
            u8(0);
            areas();
            if (v > 0) {
                u32(4);
            }
            return;
        }
        u8(1);
        if (v > 22) {
            u8(0), u8(0);
        }
        u16(150), u32(4), u32(0xFF010101), u32(0xFF020202);
        if (v <= 17) {
            u8(0xAB), u8(0xCD);
        }
        u32(1);
        effect(v > 24), effect(v > 24);
        style_set("hint");
        if (v > 24) {
            effect(true);
        }
        style_set("dialog"), style_set("title"), style_set("object");
        u8(0);
        if (v > 24) {
            u8(0);
        }
        u8(0);
        if (v > 17) {
            u8(1);
        }
    }

    void app()
    {
        app_fields();
        if (v <= 7) {
            return;
        }
        if (v == 8) {
            areas();
        }
        count(1), style_set("Style");
        count(1), str("Font"), str("none.ttf"), resource_path("$APPDATA/fonts");
        if (v >= 14) {
            u8(255);
        }
        count(1), str("Colour"), u32(0xFF00FF00);
        count(1), str("Image"), str("missing.png"), resource_path("$APPDATA/images");
        count(1), str("Const");
        if (v >= 17) {
            PARAMETER p("hello");
            record(p);
        } else {
            u32(ptm_test_constant);
        }
        if (v > 23) {
            count(1), str("Dialog"), str("Title"), u16(0xFFFF), u16(0xFFFF), u16(300), u16(200);
            count(1), object(2, 0);
        }
        if (v > 8) {
            areas();
        }
    }

    std::vector<INT_U8> file()
    {
        out.clear();
        count_at.clear();
        u8(swap ? 1 : 0);
        u16(static_cast<INT_U16>(v));
        if (v > 14) {
            u8(0);
        }
        app();
        return out;
    }
};

inline std::vector<INT_U8> ptm_test_file(int version, bool swap)
{
    return PTM_TEST_WRITER(version, swap).file();
}

} // namespace kivo_test

#endif

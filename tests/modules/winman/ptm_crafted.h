#ifndef KIVO_TEST_PTM_CRAFTED_H
#define KIVO_TEST_PTM_CRAFTED_H

// Inputs made to cost the page-definition reader memory: a definition whose
// list counts claim every byte the file has, at every level at once, and a
// flat picture far larger in pixels than in bytes.
#include "ptm_test_writer.h"

#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kivo_test {

// A whole version-25 file of `size` bytes (the byte-order byte included):
// no resources, then the chain area 0 -> page 0 -> object 0 -> its object 0
// ... `depth` objects deep, each list count as large as the bytes after it
// hold at the least size of one element, zeros after the chain. Each level
// alone passes a check against the bytes left, and the zeros make sure
// nothing gets read whole. The sizes are those the reader once checked (an
// area 20 bytes, up to the 32,767 areas a definition may have; a page 16;
// a page's object 8; a nested object 79) or, `exact`, those it checks now
// (one area, one page, and every object 79 bytes).
inline std::vector<INT_U8> ptm_nested_count_file(size_t size, bool exact = false, int depth = 64)
{
    PTM_TEST_WRITER w(25, false);
    w.u8(0);
    w.u16(25);
    w.u8(0); // no embedded images
    w.app_fields();
    for (int list = 0; list < 6; list++) {
        w.count(0); // style sets, fonts, colours, images, constants, dialogs
    }
    auto claim_all = [&](long element_sz, long most = 0x7FFFFFFF) {
        long left = static_cast<long>(size) - static_cast<long>(w.out.size()) - 4;
        long n = left > 0 ? left / element_sz : 0;
        w.count(static_cast<INT_U32>(n < most ? n : most));
    };
    if (exact) {
        w.count(1);
    } else {
        claim_all(20, 32767);
    }
    w.str("");
    w.u16(0), w.u16(0), w.u16(640), w.u16(480);
    w.u32(0);
    if (exact) {
        w.count(1);
    } else {
        claim_all(16);
    }
    w.u32(1);
    w.str("");
    w.u32(0xFFFFFFFFu), w.u32(0);
    claim_all(exact ? 79 : 8);
    for (int level = 0; level < depth; level++) {
        w.object_fields(0x10);
        claim_all(79);
    }
    w.out.resize(size, 0);
    return w.out;
}

// A whole version-9 file (byte-order byte included) of 32,767 fonts and
// 32,767 images with empty names and file names: 8 bytes each, the least
// the version stores, and no folder in the file at all.
inline std::vector<INT_U8> ptm_many_resources_file()
{
    PTM_TEST_WRITER w(9, false);
    w.u8(0);
    w.u16(9);
    w.app_fields();
    auto empty_records = [&] {
        w.count(32767);
        for (int i = 0; i < 32767; i++) {
            w.str(""), w.str("");
        }
    };
    w.count(0);             // style sets
    empty_records();        // fonts
    w.count(0);             // colours
    empty_records();        // images
    w.count(0), w.count(0); // constants, areas
    return w.out;
}

// A whole, valid version-25 file of about `size` bytes: one area of as many
// pages as fit, each the least a page takes with a one-character name.
inline std::vector<INT_U8> ptm_minimal_pages_file(size_t size)
{
    PTM_TEST_WRITER w(25, false);
    w.u8(0);
    w.u16(25);
    w.u8(0);
    w.app_fields();
    for (int list = 0; list < 6; list++) {
        w.count(0);
    }
    w.count(1);
    w.str("A");
    w.u16(0), w.u16(0), w.u16(640), w.u16(480);
    w.u32(0);
    constexpr size_t page_sz = 21;
    const size_t header = w.out.size() + 4;
    const size_t pages = size > header ? (size - header) / page_sz : 0;
    w.count(static_cast<INT_U32>(pages));
    for (size_t i = 0; i < pages; i++) {
        w.u32(static_cast<INT_U32>(i + 1));
        w.str("p");
        w.u32(0xFFFFFFFFu), w.u32(0);
        w.count(0);
    }
    return w.out;
}

// A grey w x h PNG of one shade written to `path` at the best compression:
// about a thousandth of its pixels in bytes.
inline bool write_flat_png(const std::string& path, long w, long h)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row(static_cast<size_t>(w), 0x80);
    if (!info) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_compression_level(png, 9);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (long y = 0; y < h; y++) {
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

} // namespace kivo_test

#endif

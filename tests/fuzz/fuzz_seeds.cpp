// Writes a small starting corpus for every fuzz target with our own
// writers: fuzz_seeds <corpus root>; one folder per target.
#include "config_file.h"
#include "data_device.h"
#include "file_system_catalog_internal.h"
#include "folder.h"
#include "image.h"
#include "image_codec_util.h"
#include "kivo_app_settings.h"
#include "memory_data_device.h"
#include "ptm_crafted.h"
#include "ptm_test_writer.h"
#include "sound.h"
#include "wm_page_tool_manager.h"
#include "wm_style_set.h"

#include <png.h>
#include <sys/stat.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

KIVO_APP_SETTINGS kivo_app_settings = {"Fuzz seeds", 0, 0, 0};

namespace {

using kivo_test::MEMORY_DATA_DEVICE;

std::string root;

void save(const char* target, const char* name, const std::vector<INT_U8>& bytes, const char* prefix = "")
{
    std::string dir = root + "/" + target;
    mkdir(dir.c_str(), 0755);
    std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (!f) {
        return;
    }
    std::fwrite(prefix, 1, std::strlen(prefix), f);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void save_text(const char* target, const char* name, const std::string& text)
{
    save(target, name, std::vector<INT_U8>(text.begin(), text.end()));
}

// A PCM WAV file: a format chunk and one data chunk, whose pad byte an odd
// chunk gets only with pad set.
std::vector<INT_U8> wav_file(INT_U16 channels, INT_U32 rate, INT_U16 bits, const std::vector<INT_U8>& data,
                             bool pad = true)
{
    const INT_U16 align = INT_U16(channels * bits / 8);
    const bool padded = pad && data.size() % 2;
    MEMORY_DATA_DEVICE d;
    put_bytes(d, "RIFF", 4);
    put_u32(d, INT_U32(36 + data.size() + padded));
    put_bytes(d, "WAVEfmt ", 8);
    put_u32(d, 16);
    put_u16(d, 1);
    put_u16(d, channels);
    put_u32(d, rate);
    put_u32(d, rate * align);
    put_u16(d, align);
    put_u16(d, bits);
    put_bytes(d, "data", 4);
    put_u32(d, INT_U32(data.size()));
    put_bytes(d, data.data(), long(data.size()));
    if (padded) {
        put_u8(d, 0);
    }
    return d.data;
}

// n frames of a rising and falling ramp, every sample of a frame alike.
std::vector<INT_U8> ramp(long frames, int channels, int bits)
{
    std::vector<INT_U8> out;
    for (long i = 0; i < frames; i++) {
        for (int c = 0; c < channels; c++) {
            for (int b = 0; b < bits / 8; b++) {
                out.push_back(INT_U8((i * 7) >> (8 * b)));
            }
        }
    }
    return out;
}

void picture(IMAGE& image, int w, int h)
{
    image.reset(short(w), short(h));
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            image.pixels[y * image.stride + x] =
                INT_U32((x * 40) & 0xFF) << 24 | INT_U32(x * 30) << 16 | INT_U32(y * 50) << 8 | INT_U32((x ^ y) * 20);
        }
    }
}

void png_append(png_structp png, png_bytep data, png_size_t n)
{
    auto* out = static_cast<std::vector<INT_U8>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

// A 9 x 7 PNG of one colour type, depth and interlacing, written by libpng
// itself so that every decoding path of the reader has a seed.
std::vector<INT_U8> png_variant(int colour_type, int depth, int interlace)
{
    std::vector<INT_U8> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    const int w = 9, h = 7;
    png_set_write_fn(png, &out, png_append, nullptr);
    png_set_IHDR(png, info, w, h, depth, colour_type, interlace, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (colour_type == PNG_COLOR_TYPE_PALETTE) {
        png_color palette[256];
        png_byte alpha[256];
        for (int i = 0; i < 256; i++) {
            palette[i] = {png_byte(i), png_byte(255 - i), png_byte(i * 7)};
            alpha[i] = png_byte(255 - i / 2);
        }
        png_set_PLTE(png, info, palette, 1 << depth);
        png_set_tRNS(png, info, alpha, 1 << depth, nullptr);
    } else if (!(colour_type & PNG_COLOR_MASK_ALPHA)) {
        png_color_16 key = {};
        key.gray = key.red = 1;
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    png_text text = {};
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<char*>("Comment");
    text.text = const_cast<char*>("seed");
    png_set_text(png, info, &text, 1);
    png_write_info(png, info);
    const int channels = png_get_channels(png, info);
    const size_t row_bytes = (size_t(w) * channels * depth + 7) / 8;
    std::vector<png_byte> row(row_bytes);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; pass++) {
        for (int y = 0; y < h; y++) {
            for (size_t i = 0; i < row_bytes; i++) {
                row[i] = png_byte(i * 37 + y * 11);
            }
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus root>\n", argv[0]);
        return 2;
    }
    root = argv[1];
    mkdir(root.c_str(), 0755);
    IMAGE image;
    picture(image, 7, 5);

    MEMORY_DATA_DEVICE png;
    image_write_png(image, png);
    save("fuzz_png", "seed.png", png.data);
    const struct
    {
        int type;
        std::vector<int> depths;
    } kinds[] = {{PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}},
                 {PNG_COLOR_TYPE_RGB, {8, 16}},
                 {PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}},
                 {PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}},
                 {PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}}};
    for (const auto& k : kinds) {
        for (int depth : k.depths) {
            for (int interlace = 0; interlace < 2; interlace++) {
                std::string name = "type" + std::to_string(k.type) + "_depth" + std::to_string(depth) +
                                   (interlace ? "_adam7" : "") + ".png";
                save("fuzz_png", name.c_str(), png_variant(k.type, depth, interlace));
            }
        }
    }

    for (int progressive = 0; progressive < 2; progressive++) {
        MEMORY_DATA_DEVICE jpg;
        image_write_jpg(image, jpg, 80, INT_U8(progressive));
        save("fuzz_jpeg", progressive ? "progressive" : "baseline", jpg.data, "\x00");
        save("fuzz_jpeg", progressive ? "progressive_scaled" : "baseline_scaled", jpg.data, "\x35");
    }

    MEMORY_DATA_DEVICE pcx;
    image_write_pcx(image, pcx);
    save("fuzz_pcx", "seed.pcx", pcx.data);

    MEMORY_DATA_DEVICE raw;
    image.put_to_data_device(raw);
    save("fuzz_raw", "seed.raw", raw.data);

    // A cache record of one entry around the same picture.
    MEMORY_DATA_DEVICE cache;
    put_u8(cache, 2);
    put_u32(cache, 1);
    put_path_block(cache, "$APP/images");
    put_string(cache, "button");
    for (INT_U16 size : {7, 5, 7, 5}) { // asked for, then the picture's own
        put_u16(cache, size);
    }
    image.put_to_data_device(cache);
    save("fuzz_cache", "seed.bin", cache.data);

    // Text in every encoding: 8-bit, UTF-8 with and without its signature
    // (a character above U+FFFF among them), UTF-16 in both byte orders.
    const std::string lines = "first line\r\nsecond \xC3\xA9t\xC3\xA9\n\xF0\x9F\x98\x80 wide\rlast";
    save_text("fuzz_host_name", "mixed", "caf\xC3\xA9/\xFF\x01,DCFF\x01/\xE6\x97\xA5\xC3\x84\xC2\xA9\xC0\xAF");
    save_text("fuzz_text", "utf8", std::string("\x00", 1) + lines);
    save_text("fuzz_text", "utf8_signed", std::string("\x08\xEF\xBB\xBF") + lines);
    save_text("fuzz_text", "latin1",
              "\x80"
              "caf\xE9\nna\xEF"
              "ve\n");
    std::string le = "\x01\xFF\xFE", be = "\x02\xFE\xFF";
    for (unsigned u : {0x61u, 0xD83Du, 0xDE00u, 0x0Du, 0x0Au, 0x263Au, 0x62u}) {
        le += char(u & 0xFF), le += char(u >> 8);
        be += char(u >> 8), be += char(u & 0xFF);
    }
    save_text("fuzz_text", "utf16le", le);
    save_text("fuzz_text", "utf16be", be);

    // The same characters as the host's text conversions and typed text
    // meet them; the conversion from UTF-8 takes a buffer size first.
    for (const char* target : {"fuzz_text_to_utf8", "fuzz_text_input"}) {
        save_text(target, "lines", lines);
        save_text(target, "latin1", "caf\xE9 na\xEFve \x01\x7F");
    }
    // Layout names as an X server keeps them: the key (SDL's scancode of Z)
    // and the group first; a pair of layouts in the second, and names that
    // try to leave the keyboard data.
    {
        static const char us_de[] = "\x1D\x01"
                                    "evdev\0pc105\0us,de\0\0grp:alt_shift_toggle";
        static const char outside[] = "\x1D\x00"
                                      "evdev\0\0../../../../tmp/x\0\0";
        save_text("fuzz_layout_names", "us_de", std::string(us_de, sizeof us_de - 1));
        save_text("fuzz_layout_names", "outside", std::string(outside, sizeof outside - 1));
    }
    save_text("fuzz_text_from_utf8", "roomy", "\xFF" + lines);
    save_text("fuzz_text_from_utf8", "cramped", "\x08" + lines);

    // A style set as the program writes one.
    {
        std::string dir = root + "/fuzz_style_set_config";
        mkdir(dir.c_str(), 0755);
        FOLDER folder;
        if (folder.set_from_path_string(dir.c_str())) {
            CONFIG_FILE cfg;
            cfg.set_filename("style.cfg", 0);
            cfg.folder = folder;
            WM_STYLE_SET set;
            set.set_name("Seed");
            set.set_image_base_string("button");
            set.write_to_config_file(cfg, nullptr, nullptr, nullptr);
        }
    }

    save_text("fuzz_config", "settings", "# comment\nName\n\tvalue\nWidth\n\t640\n\nColour\n\t#FF8000\n");
    save_text("fuzz_config", "signed", "\xEF\xBB\xBFName\n\tvalue\n");
    save_text("fuzz_mountinfo", "table",
              "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
              "40 27 0:37 / /mnt/a\\040b rw shared:7 master:2 - tmpfs none rw,size=4k\n");
    {
        FS_MOUNT_ENTRY volume;
        volume.source = "tmpfs";
        volume.fs_type = "tmpfs";
        volume.super_options = "rw,size=2048k,mode=755";
        volume.mount_point = "/mnt/a b";
        volume.mount_options = "rw,nosuid,nodev,relatime";
        const std::string record = fs_make_mount_record(volume);
        save("fuzz_mount_record", "tmpfs", std::vector<INT_U8>(record.begin(), record.end()));
    }
    save_text("fuzz_hidden_list", "lines", "notes.txt\nold\r\nnotes.txt\n\nlast");
    save_text("fuzz_hidden_list", "unended", "new\nold\r\nlast");
    save_text("fuzz_hidden_list", "binary", std::string("x\n\xFF\x00x\nx", 7));
    {
        // 32 bytes to put in and a mask (name locked on, the extended
        // information's last byte), then a value our writer made.
        std::vector<INT_U8> info(FS_FINDER_INFO_BYTES, 0), mask(FS_FINDER_INFO_BYTES, 0);
        std::memcpy(info.data(), "TEXTKIVO\x41\x00", 10);
        FS_FINDER_DATES dates;
        dates.created = dates.modified = dates.accessed = 1796675424;
        const std::vector<INT_U8> value = fs_make_finder_value(info.data(), dates);
        info[8] = 0x10;
        mask[8] = 0x10;
        mask[31] = 0xFF;
        std::vector<INT_U8> input = info;
        input.insert(input.end(), mask.begin(), mask.end());
        input.insert(input.end(), value.begin(), value.end());
        save("fuzz_finder_info", "made", input);
        // The same with its Finder entry's id changed: a value without one.
        input[2 * FS_FINDER_INFO_BYTES + 26 + 2 * 12 + 3] = 10;
        save("fuzz_finder_info", "no_entry", input);
    }

    // Data file programs: flags, then write / seek / read operations.
    save("fuzz_data_file", "mixed", {1, 0, 10, 0, 1, 2, 3, 4, 5, 6, 7,  8, 9, 10, 1, 4, 0, 2, 8, 0,
                                     0, 5, 0,  9, 9, 9, 9, 9, 1, 0, 20, 2, 5, 0,  0, 3, 0, 1, 2, 3});
    save("fuzz_data_file", "large", {0, 0, 0xB8, 0x0B, 1, 0x10, 0x27, 0, 0x20, 0x00});

    const char* const folders[][2] = {{"appdata", "$APPDATA/images"}, {"temp", "$TEMP"}};
    for (const auto& name_path : folders) {
        MEMORY_DATA_DEVICE folder;
        put_u8(folder, 0xFF);
        put_path_block(folder, name_path[1]);
        save("fuzz_folder_record", name_path[0], folder.data);
    }

    save_text("fuzz_string", "base64", "SGVsbG8sIHdvcmxkIQ==");
    save_text("fuzz_string", "scrambled", "QUJDREVGRw");
    for (const char* c : {"#FF8000", "#80FF800080", "%255,128,0,64", "&AHSL 255,120,200,100", "@ACMYK 0,1,2,3,4"}) {
        save_text("fuzz_colour", c + 1, c);
    }
    save_text("fuzz_command_line", "showdebug", std::string("--kivo-showdebug=all\0-psn_0_1234\0file", 37));
    save_text("fuzz_command_line", "usage", "--kivo");

    // Sounds from the synthesiser: 8- and 16-bit, mono and stereo, rests,
    // octaves and an odd data length.
    mkdir((root + "/fuzz_wav").c_str(), 0755);
    FOLDER wav;
    if (wav.set_from_path_string((root + "/fuzz_wav").c_str())) {
        const char* tunes[] = {"C", "9&1C", "O3Ac", "CDEFG", "O2C&2D"};
        for (int i = 0; i < 5; i++) {
            WAV_SETTINGS settings;
            settings.sample_rate = 2000;
            settings.stereo = INT_U8(i & 1);
            settings.sixteen_bit = INT_U8(i < 3);
            std::string name = "tune" + std::to_string(i) + ".wav";
            SOUND_BUFFER::generate_wav_file(wav, name.c_str(), tunes[i], 2000, &settings);
        }
    }
    // Lengths at a multiple of 512 frames that needs resampling, rates at
    // and past the edges of what sound cards play (one 77 bytes long at
    // 1 Hz), and bytes trailing the last chunk.
    save("fuzz_wav", "frames512", wav_file(2, 22050, 16, ramp(512, 2, 16)));
    save("fuzz_wav", "frames513", wav_file(2, 22050, 16, ramp(513, 2, 16)));
    save("fuzz_wav", "frame1_96k", wav_file(2, 96000, 16, ramp(1, 2, 16)));
    save("fuzz_wav", "rate1", wav_file(1, 1, 8, ramp(33, 1, 8), false));
    save("fuzz_wav", "rate999", wav_file(1, 999, 8, ramp(100, 1, 8)));
    save("fuzz_wav", "rate1000_8ch", wav_file(8, 1000, 8, ramp(100, 8, 8)));
    save("fuzz_wav", "rate768000", wav_file(2, 768000, 16, ramp(700, 2, 16)));
    save("fuzz_wav", "rate768001", wav_file(2, 768001, 16, ramp(700, 2, 16)));
    std::vector<INT_U8> trailing = wav_file(1, 22050, 16, ramp(4, 1, 16));
    trailing.insert(trailing.end(), {'x', 'y', 0xFE});
    save("fuzz_wav", "trailing", trailing);
    // IMA ADPCM (4-bit samples, decoded to 16): two 256-byte blocks of silence.
    {
        MEMORY_DATA_DEVICE d;
        put_bytes(d, "RIFF", 4);
        put_u32(d, 4 + 8 + 20 + 8 + 512);
        put_bytes(d, "WAVEfmt ", 8);
        put_u32(d, 20);
        for (INT_U16 v : {0x11, 1}) {
            put_u16(d, v);
        }
        put_u32(d, 22050);
        put_u32(d, 11100);
        for (INT_U16 v : {256, 4, 2, 505}) {
            put_u16(d, v);
        }
        put_bytes(d, "data", 4);
        put_u32(d, 512);
        const std::vector<INT_U8> silence(512, 0);
        put_bytes(d, silence.data(), 512);
        save("fuzz_wav", "ima_adpcm", d.data);
    }

    // Page definitions: the tests' own writer in old and new versions and
    // both byte orders, and one written by the program's save.
    for (int v : {0, 3, 7, 8, 11, 15, 16, 17, 22, 24, 25}) {
        for (bool swap : {false, true}) {
            std::string name = "v" + std::to_string(v) + (swap ? "_big" : "_little");
            save("fuzz_pages", name.c_str(), kivo_test::ptm_test_file(v, swap));
        }
    }
    {
        WM_PAGE_TOOL_MANAGER ptm;
        std::vector<INT_U8> file = kivo_test::ptm_test_file(25, false);
        MEMORY_DATA_DEVICE in(std::vector<INT_U8>(file.begin() + 1, file.end()));
        MEMORY_DATA_DEVICE out;
        put_u8(out, 0); // the byte-order byte the data file writes
        if (ptm.read_definition(in, nullptr) && ptm.write_definition(out, 0)) {
            save("fuzz_pages", "saved", out.data);
        }
    }
    // Inputs that once cost memory or reached outside the data folders: list
    // counts claiming every byte at every level, a font list cut short,
    // stored folders leading out of their alias (in records and in the
    // embedded pictures).
    save("fuzz_pages", "nested_counts", kivo_test::ptm_nested_count_file(32 * 1024));
    {
        kivo_test::PTM_TEST_WRITER w(25, false);
        w.u8(0), w.u16(25), w.u8(0);
        w.app_fields();
        w.count(0), w.count(3);
        for (const char* name : {"F0", "F1", "F2"}) {
            w.str(name), w.str("none.ttf"), w.path("$APPDATA/fonts"), w.u8(255);
        }
        w.out.resize(w.out.size() - 100);
        save("fuzz_pages", "font_list_cut", w.out);
    }
    {
        kivo_test::PTM_TEST_WRITER w(25, false);
        w.u8(0), w.u16(25), w.u8(1);
        // The embedded pictures: one 1 x 1 entry stored under "$ROOT0/etc".
        MEMORY_DATA_DEVICE cache;
        put_u8(cache, 2);
        put_u32(cache, 1);
        put_path_block(cache, "$ROOT0/etc");
        put_u32(cache, 6);
        put_bytes(cache, "shadow", 6);
        for (int i = 0; i < 4; i++) {
            put_u16(cache, 1);
        }
        IMAGE pixel;
        pixel.reset(1, 1);
        pixel.put_to_data_device(cache);
        w.out.insert(w.out.end(), cache.data.begin(), cache.data.end());
        w.app_fields();
        const char* outside[] = {"$ROOT0/etc", "$APPDATA/../../etc"};
        w.count(0), w.count(2);
        for (const char* path : outside) {
            w.str("Shadow"), w.str("shadow"), w.path(path), w.u8(255);
        }
        w.count(0), w.count(2);
        for (const char* path : outside) {
            w.str("Shadow"), w.str("shadow"), w.path(path);
        }
        w.count(0), w.count(0), w.count(0);
        save("fuzz_pages", "outside_folders", w.out);
    }
    return 0;
}

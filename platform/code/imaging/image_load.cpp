// Finding a picture by name in a folder, the sprite-strip builder and the
// writer that cuts a picture into the nine files of a skin.
#include "image.h"

#include "data_file.h"
#include "debug_stream.h"
#include "errors.h"
#include "folder.h"
#include "image_codec_util.h"
#include "text_file.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <vector>

namespace {

enum IMAGE_FORMAT
{
    FORMAT_PNG,
    FORMAT_JPG,
    FORMAT_PCX,
    FORMAT_RAW
};

const char* const FORMAT_EXTENSIONS[] = {"png", "jpg", "pcx", "raw"};
const IMAGE_FORMAT FORMAT_ORDER[] = {FORMAT_PNG, FORMAT_JPG, FORMAT_PCX, FORMAT_RAW};
// Each format's header reader: the picture's width and height.
bool (*const FORMAT_SIZE[])(DATA_DEVICE&, long&, long&) = {image_png_size, image_jpg_size, image_pcx_size,
                                                           image_raw_size};

// Bytes of a file name with an appended extension, or a formatted frame
// name, including the terminator.
const size_t IMAGE_NAME_SZ = PATH_MAX;

} // namespace

long image_bytes_left(DATA_DEVICE& d)
{
    long here = d.get_pos();
    if (here < 0) {
        return -1;
    }
    // A data file knows its length without seeking, which matters for a
    // picture inside a compressed file.
    if (DATA_FILE* file = dynamic_cast<DATA_FILE*>(&d)) {
        long length = file->get_length();
        return length > here ? length - here : 0;
    }
    long end = d.set_pos(0, 1);
    if (d.set_pos(here, 0) != here || end < 0) {
        return -1;
    }
    return end > here ? end - here : 0;
}

// The picture's size as the file's header gives it (0 x 0 when the header
// cannot be read); the file is left where it was.
static void header_size(DATA_FILE& file, IMAGE_FORMAT format, long& w, long& h)
{
    long start = file.get_pos();
    w = h = 0;
    if (!FORMAT_SIZE[format](file, w, h) || w < 1 || h < 1) {
        w = h = 0;
    }
    file.set_pos(start, 0);
    file.error = 0;
}

static IMAGE_FILE_ID file_id(DATA_FILE& file)
{
    IMAGE_FILE_ID id;
    struct stat st;
    if (file.fp && fstat(fileno(file.fp), &st) == 0) {
        id.known = true;
        id.device = INT_U64(st.st_dev);
        id.inode = INT_U64(st.st_ino);
        id.size = INT_S64(st.st_size);
        id.modified_sec = INT_S64(st.st_mtim.tv_sec);
        id.modified_nsec = INT_S64(st.st_mtim.tv_nsec);
    }
    return id;
}

namespace {

// How the attempts ended: `opened` whether a file could be opened at all,
// `too_large` whether its header was past the limit, `refused` and `have`
// whether the check stopped the load (it tells why itself).
struct ATTEMPT
{
    bool opened = false;
    bool too_large = false;
    bool refused = false;
    bool have = false;
};

} // namespace

// Opens one file and runs one reader on it. A header that cannot be read
// passes the limits: the reader then fails on it.
static bool read_image_file(IMAGE& image, FOLDER& folder, const char* name, IMAGE_FORMAT format, short w, short h,
                            long max_pixels, IMAGE_LOAD_CHECK* check, ATTEMPT& attempt)
{
    DATA_FILE* file = folder.open_data_file(name, FILE_MODE(0), format == FORMAT_RAW ? -1 : 0, 0);
    if (!file) {
        return false;
    }
    attempt.opened = true;
    long fw = 0, fh = 0;
    if (max_pixels > 0 || check) {
        header_size(*file, format, fw, fh);
    }
    if (max_pixels > 0 && INT_U64(fw) * INT_U64(fh) > INT_U64(max_pixels)) {
        attempt.too_large = true;
        folder.close(file);
        return false;
    }
    if (check) {
        IMAGE_LOAD_CHECK::VERDICT verdict = check->opened(file_id(*file), fw, fh);
        if (verdict != IMAGE_LOAD_CHECK::READ) {
            attempt.have = verdict == IMAGE_LOAD_CHECK::HAVE;
            attempt.refused = verdict == IMAGE_LOAD_CHECK::REFUSE;
            folder.close(file);
            return false;
        }
    }
    bool ok = false;
    switch (format) {
    case FORMAT_PNG: ok = image.load_png(file); break;
    case FORMAT_JPG: ok = image.load_jpg(file, w, h); break;
    case FORMAT_PCX: ok = image.load_256_colour_pcx(file); break;
    case FORMAT_RAW:
        ok = image.get_from_data_device(*file);
        file->error = ok ? 0 : 1;
        break;
    }
    folder.close(file);
    return ok;
}

bool IMAGE::load(FOLDER& folder, const char* name, short w, short h)
{
    return load(folder, name, w, h, 0, nullptr);
}

bool IMAGE::load(FOLDER& folder, const char* name, short w, short h, long max_pixels)
{
    return load(folder, name, w, h, max_pixels, nullptr);
}

bool IMAGE::load(FOLDER& folder, const char* name, short w, short h, long max_pixels, IMAGE_LOAD_CHECK* check)
{
    if (!name || !*name) {
        return false;
    }
    size_t len = std::strlen(name);
    ATTEMPT attempt;
    bool ok = false;
    if (max_pixels > 0 && w > 0 && h > 0 && long(w) * h > max_pixels) {
        // The size asked for is refused before any file is read.
        set_error_code(ERRCODE_FILE_READ, name);
        if (platform_debug_stream.flags) {
            platform_debug_stream.printf("%s: %d x %d pixels asked for, more than %ld\n", name, w, h, max_pixels);
        }
        return false;
    }

    // A known extension picks its reader first. A file refused or held
    // already ends the search: another name would find it again.
    auto stopped = [&] { return ok || attempt.too_large || attempt.refused || attempt.have; };
    if (len > 4 && name[len - 4] == '.') {
        for (IMAGE_FORMAT format : FORMAT_ORDER) {
            if (strcasecmp(name + len - 3, FORMAT_EXTENSIONS[format]) == 0) {
                ok = read_image_file(*this, folder, name, format, w, h, max_pixels, check, attempt);
                break;
            }
        }
    }
    // Then the name with each extension appended.
    char with_extension[IMAGE_NAME_SZ];
    for (int i = 0; !stopped() && i < 4; i++) {
        IMAGE_FORMAT format = FORMAT_ORDER[i];
        int n = std::snprintf(with_extension, sizeof with_extension, "%s.%s", name, FORMAT_EXTENSIONS[format]);
        if (n > 0 && size_t(n) < sizeof with_extension) {
            ok = read_image_file(*this, folder, with_extension, format, w, h, max_pixels, check, attempt);
        }
    }
    // Then the bare name in every format.
    for (int i = 0; !stopped() && i < 4; i++) {
        ok = read_image_file(*this, folder, name, FORMAT_ORDER[i], w, h, max_pixels, check, attempt);
    }
    if (attempt.have) {
        return false;
    }

    // Scaled after decoding; a size whose pixels cannot be had fails the
    // load like a file that cannot be read.
    if (ok && !image_resize_for_read(*this, w, h, !use_quick_resize)) {
        ok = false;
    }
    if (!ok) {
        set_error_code(attempt.opened ? ERRCODE_FILE_READ : ERRCODE_FILE_NOT_FOUND, name);
        if (platform_debug_stream.flags) {
            if (attempt.too_large) {
                platform_debug_stream.printf("%s: picture of more than %ld pixels refused\n", name, max_pixels);
            }
            platform_debug_stream.write_to_stream(__FILE__, __LINE__, get_error_text(), 1);
        }
        return false;
    }
    return true;
}

void IMAGE::create_sprite_image_from_path(FOLDER& folder, const char* format, short first, short last)
{
    if (!format || (last != -1 && last < first)) {
        reset(-1, -1);
        return;
    }
    std::vector<IMAGE*> frames;
    char name[IMAGE_NAME_SZ];
    for (long n = first; n <= (last == -1 ? long(SHRT_MAX) : long(last)); n++) {
        int got = std::snprintf(name, sizeof name, format, int(n));
        IMAGE* frame = new IMAGE;
        if (got > 0 && size_t(got) < sizeof name && frame->load(folder, name, -1, -1)) {
            frames.push_back(frame);
            continue;
        }
        delete frame;
        if (last == -1) {
            break;
        }
    }
    if (frames.empty()) {
        reset(-1, -1);
        return;
    }
    const IMAGE* tail = frames.back();
    INT_U64 strip_w = INT_U64(frames.size()) * INT_U64(tail->width > 0 ? tail->width : 0);
    if (strip_w > INT_U64(IMAGE_MAX_SIDE) || !image_reset_for_read(*this, long(strip_w), tail->height)) {
        // The strip cannot be held: empty rather than cut.
        reset(-1, -1);
    } else {
        clear(COLOUR_INVISIBLE, 0);
        long x = long(strip_w);
        for (size_t i = frames.size(); i-- > 0;) {
            x -= frames[i]->width;
            frames[i]->put(short(x), 0, this, IMAGE_COPY_TYPE(1));
        }
    }
    for (IMAGE* frame : frames) {
        delete frame;
    }
}

bool IMAGE::save_nine_titled_pngs(FOLDER& folder, const char* base)
{
    if (!base) {
        return false;
    }
    struct PIECE
    {
        const char* format;
        short w, h, x, y;
    };
    short hw = short(width / 2), hh = short(height / 2);
    const PIECE pieces[] = {
        {"%s_top_left.png", hw, hh, 0, 0},
        {"%s_bottom_left.png", hw, hh, 0, short(hh + 1)},
        {"%s_top_right.png", hw, hh, short(hw + 1), 0},
        {"%s_bottom_right.png", hw, hh, short(hw + 1), short(hh + 1)},
        {"%s_mid_left.png", hw, 1, 0, hh},
        {"%s_mid_right.png", hw, 1, short(hw + 1), hh},
        {"%s_top_mid.png", 1, hh, hw, 0},
        {"%s_bottom_mid.png", 1, hh, hw, short(hh + 1)},
        {"%s_mid_mid.png", 1, 1, hw, hh},
    };
    IMAGE scratch;
    char name[IMAGE_NAME_SZ];
    bool all = true;
    for (const PIECE& p : pieces) {
        int n = std::snprintf(name, sizeof name, p.format, base);
        DATA_FILE* file = n > 0 && size_t(n) < sizeof name ? folder.open_data_file(name, FILE_MODE(1), 0, 0) : nullptr;
        if (!file) {
            all = false;
            continue;
        }
        scratch.reset(p.w, p.h);
        scratch.clear(COLOUR_INVISIBLE, 0);
        scratch.copy(this, p.x, p.y, 0, 0, p.w, p.h, IMAGE_COPY_TYPE(1));
        bool ok = scratch.save_png(file);
        all = folder.close(file) && ok && all;
    }
    return all;
}

// A writer's result, with what it left in the file's cache sent on; a
// failure marks the file so that closing it keeps its old content.
static bool finish_save(DATA_FILE* file, bool ok)
{
    ok = ok && image_flush_device(*file);
    if (!ok) {
        file->error = 1;
    }
    return ok;
}

// The file forms of the codecs run over the data file as a device.
bool IMAGE::load_png(DATA_FILE* file)
{
    return file && image_read_png(*this, *file);
}

bool IMAGE::save_png(DATA_FILE* file)
{
    return file && finish_save(file, image_write_png(*this, *file));
}

bool IMAGE::load_jpg(DATA_FILE* file, short w, short h)
{
    return file && image_read_jpg(*this, *file, w, h);
}

bool IMAGE::save_jpg(DATA_FILE* file, char quality, INT_U8 progressive)
{
    return file && finish_save(file, image_write_jpg(*this, *file, quality, progressive));
}

bool IMAGE::load_256_colour_pcx(DATA_FILE* file)
{
    return file && image_read_pcx(*this, *file);
}

bool IMAGE::save_256_colour_pcx(DATA_FILE* file)
{
    return file && finish_save(file, image_write_pcx(*this, *file));
}

bool IMAGE::save_embedded_image_def(TEXT_FILE& file, const char* array_name)
{
    long w = width > 0 ? width : 0, h = height > 0 ? height : 0;
    if (!pixels) {
        w = h = 0;
    }
    // Writing stops at the first part the file refuses.
    bool ok = file.printf("static INT_U8 %s[%ld] =\n{\n\t", array_name ? array_name : "", 5 + 4 * w * h) &&
              file.printf("0x%02X,", 1) && file.printf("0x%02X,", unsigned(w >> 8) & 0xFF) &&
              file.printf("0x%02X,", unsigned(w) & 0xFF) && file.printf("0x%02X,", unsigned(h >> 8) & 0xFF) &&
              file.printf("0x%02X", unsigned(h) & 0xFF);
    for (long y = 0; ok && y < h; y++) {
        ok = file.printf(",\n\t");
        const COLOUR* row = pixels + y * long(stride);
        for (long x = 0; ok && x < w; x++) {
            INT_U32 c = row[x];
            ok = (!x || file.printf(",")) && file.printf("0x%02X,", unsigned(c) & 0xFF) &&
                 file.printf("0x%02X,", unsigned(c >> 8) & 0xFF) && file.printf("0x%02X,", unsigned(c >> 16) & 0xFF) &&
                 file.printf("0x%02X", unsigned(c >> 24));
        }
    }
    return ok && file.printf("\n};\n");
}

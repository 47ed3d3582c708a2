// The font table: start-up and shut-down of FreeType, the 23 known fonts,
// loading and freeing slots, and the per-slot glyph cache.
#include "font.h"

#include "debug_stream.h"
#include "errors.h"
#include "folder.h"
#include "font_walk.h"
#include "image.h"
#include "kivo_host.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>

namespace {

struct FONT_FILE_ROW
{
    const char* file;
    const char* name;
};

// Row i belongs to slot i. Rows 6 and 13 are this system's own script and
// display faces.
constexpr FONT_FILE_ROW font_files[IMAGE_KNOWN_FONT_COUNT] = {
    {"Achafexp.ttf", "Charming Font Expanded"},
    {"Achafita.ttf", "Charming Font Italic"},
    {"Achaflft.ttf", "Charming Font Left Leaning"},
    {"Achafont.ttf", "Charming Font"},
    {"Achafout.ttf", "Charming Font Outline"},
    {"Achafsex.ttf", "Charming Font Super Extended"},
    {"Script.ttf", "Script"},
    {"BabelSans-BoldOblique.ttf", "Babel Sans Bold Italic"},
    {"BabelSans-Bold.ttf", "Babel Sans Bold"},
    {"BabelSans-Oblique.ttf", "Babel Sans Italic"},
    {"BabelSans.ttf", "Babel Sans"},
    {"Impressed Metal.ttf", "Impressed Metal"},
    {"WeekdaysRomanSlant.ttf", "Weekdays Roman Slant"},
    {"Display.ttf", "Display"},
    {"ZendaEmbossed.ttf", "Zenda Embossed"},
    {"zenda.ttf", "Zenda"},
    {"ZenFraxFreestyleCondensed.ttf", "Zen Frax Freestyle Condensed"},
    {"ZenFrax.ttf", "Zen Frax"},
    {"zxspectr.ttf", "ZX Spectrum"},
    {"LinLibertine_Bd-4.1.0.ttf", "Libertine Bold"},
    {"LinLibertine_BI-4.0.5.ttf", "Libertine Bold Italic"},
    {"LinLibertine_It-4.0.6.ttf", "Libertine Italic"},
    {"LinLibertine_Re-4.4.1.ttf", "Libertine Regular"},
};

// Process-wide state, constant-initialised so that the option objects may
// change it before main.
IMAGE_FONT_SLOT* fonts = nullptr;
INT_S16 fonts_sz = 0;
FT_Library font_engine = nullptr;
INT_U8 setup_done = 0;
INT_U8 preload_fonts = 1;
INT_U8 use_t2k = 0;

INT_U8 font_system_started_hook()
{
    return setup_done;
}

// The file a face was read from, as stat tells it: the same device, inode,
// size, modification and change times mean the same bytes, since every
// write and every rename moves the change time.
struct FACE_FILE
{
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified = {}, changed = {};

    bool read(int fd)
    {
        struct stat st;
        known = fstat(fd, &st) == 0;
        if (known) {
            device = st.st_dev;
            inode = st.st_ino;
            size = st.st_size;
            modified = st.st_mtim;
            changed = st.st_ctim;
        }
        return known;
    }
    bool same(const FACE_FILE& o) const
    {
        return known && o.known && device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

// What each slot's face was read from, and the faces of slots freed lately,
// newest last. Loading the very same file again (a definition read over the
// one it replaces frees its fonts and installs them anew) takes such a face
// back instead of opening and parsing the file once more. A face taken back
// is the face the file would give: its size is set again before its first
// glyph, as for a new one.
FACE_FILE slot_files[IMAGE_MAX_FONT_SLOTS];
struct CLOSED_FACE
{
    FT_Face face;
    FACE_FILE file;
};
constexpr int closed_face_max = 8;
CLOSED_FACE closed_faces[closed_face_max];
int closed_face_count = 0;

FT_Face take_closed_face(const FACE_FILE& file)
{
    for (int i = closed_face_count - 1; i >= 0; --i) {
        if (!closed_faces[i].file.same(file)) {
            continue;
        }
        FT_Face face = closed_faces[i].face;
        std::memmove(closed_faces + i, closed_faces + i + 1, sizeof(CLOSED_FACE) * size_t(closed_face_count - 1 - i));
        --closed_face_count;
        return face;
    }
    return nullptr;
}

// Keeps a freed slot's face for a while, the oldest kept one let go when
// there is no room; a face whose file is not known goes at once.
void close_face(FT_Face face, const FACE_FILE& file)
{
    if (!file.known) {
        FT_Done_Face(face);
        return;
    }
    if (closed_face_count == closed_face_max) {
        FT_Done_Face(closed_faces[0].face);
        std::memmove(closed_faces, closed_faces + 1, sizeof(CLOSED_FACE) * size_t(closed_face_max - 1));
        --closed_face_count;
    }
    closed_faces[closed_face_count++] = {face, file};
}

// A face reads its file through the descriptor the folder opened and
// judged, never by its name again: a name can be pointed at a pipe in the
// meantime. The stream owns the file and closes it with the face.
unsigned long read_face_stream(FT_Stream stream, unsigned long offset, unsigned char* buffer, unsigned long count)
{
    FILE* fp = static_cast<FILE*>(stream->descriptor.pointer);
    if (count == 0) {
        // A seek: only its bounds are checked, each read says where it is.
        return offset > stream->size ? 1 : 0;
    }
    unsigned long done = 0;
    while (done < count) {
        ssize_t n = pread(fileno(fp), buffer + done, count - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<unsigned long>(n);
    }
    return done;
}

void close_face_stream(FT_Stream stream)
{
    if (stream->base) {
        munmap(stream->base, stream->size);
    }
    std::fclose(static_cast<FILE*>(stream->descriptor.pointer));
    delete stream;
}

// Opens the face of an open file, which the stream takes over whatever the
// result.
FT_Error open_face_stream(FILE* fp, FT_Face* face)
{
    struct stat st;
    FT_Stream stream = new (std::nothrow) FT_StreamRec();
    if (!stream || fstat(fileno(fp), &st) != 0 || st.st_size < 0) {
        delete stream;
        std::fclose(fp);
        return FT_Err_Cannot_Open_Resource;
    }
    stream->size = static_cast<unsigned long>(st.st_size);
    stream->descriptor.pointer = fp;
    stream->close = close_face_stream;
    // Mapped, the face reads its glyphs from memory as FreeType's own
    // opening of a path does; read through the descriptor where it cannot be.
    void* mapped = st.st_size > 0 ? mmap(nullptr, stream->size, PROT_READ, MAP_PRIVATE, fileno(fp), 0) : MAP_FAILED;
    if (mapped != MAP_FAILED) {
        stream->base = static_cast<unsigned char*>(mapped);
    } else {
        stream->read = read_face_stream;
    }
    FT_Open_Args args = {};
    args.flags = FT_OPEN_STREAM;
    args.stream = stream;
    // FreeType closes the stream when the face goes, or at once when none
    // could be made.
    return FT_Open_Face(font_engine, &args, 0, face);
}

void done_closed_faces()
{
    for (int i = 0; i < closed_face_count; ++i) {
        FT_Done_Face(closed_faces[i].face);
    }
    closed_face_count = 0;
}

// Renders the glyph of a code at w x h pixels into g.
void render_glyph(IMAGE_FONT_GLYPH* g, unsigned long code, INT_S8 font, short w, short h)
{
    IMAGE_FONT_SLOT& s = fonts[font];
    FT_Face face = s.face;
    if (s.set_w != w || s.set_h != h) {
        if (FT_Set_Pixel_Sizes(face, FT_UInt(w < 0 ? 0 : w), FT_UInt(h < 0 ? 0 : h)) != 0) {
            display_error(ERR_FONT_PIXEL_SIZE);
        }
        s.set_w = w;
        s.set_h = h;
    }
    if (FT_Load_Char(face, code, FT_LOAD_RENDER) != 0) {
        display_error(ERR_FONT_GLYPH);
    }

    FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bm = slot->bitmap;
    g->size_w = w;
    g->size_h = h;
    g->advance = INT_S32(slot->advance.x >> 6);
    g->left = slot->bitmap_left;
    g->top = slot->bitmap_top;
    g->width = INT_S32(bm.width);
    g->rows = INT_S32(bm.rows);
    g->face_height = face->height;
    g->face_descender = face->descender;

    // Coverage is kept one byte per pixel. A face with embedded 1-bit
    // strikes can hand back a mono bitmap, whose rows are narrower than the
    // glyph: spread it to bytes so the drawing loops never read past a row.
    // Other pixel modes carry no coverage this system can use.
    const bool gray = bm.pixel_mode == FT_PIXEL_MODE_GRAY;
    const bool mono = bm.pixel_mode == FT_PIXEL_MODE_MONO;
    if (!gray && !mono) {
        g->width = 0;
        g->rows = 0;
    }
    g->pitch = g->width;
    size_t bytes = size_t(g->pitch) * size_t(g->rows);
    g->bitmap = static_cast<INT_U8*>(std::calloc(bytes ? bytes : 1, 1));
    if (!g->bitmap) {
        display_error(ERR_FONT_MEMORY);
    }
    if (!bytes) {
        return;
    }
    const int src_pitch = bm.pitch < 0 ? -bm.pitch : bm.pitch;
    for (int r = 0; r < g->rows; ++r) {
        // A negative pitch stores the bottom row first.
        const unsigned char* src = bm.buffer + size_t(bm.pitch < 0 ? g->rows - 1 - r : r) * size_t(src_pitch);
        INT_U8* dst = g->bitmap + size_t(r) * size_t(g->pitch);
        if (gray) {
            if (bm.num_grays == 256) {
                std::memcpy(dst, src, size_t(g->width));
            } else {
                for (int c = 0; c < g->width; ++c) {
                    dst[c] = INT_U8(unsigned(src[c]) * 255u / unsigned(bm.num_grays > 1 ? bm.num_grays - 1 : 1));
                }
            }
        } else {
            for (int c = 0; c < g->width; ++c) {
                dst[c] = (src[c >> 3] & (0x80 >> (c & 7))) ? 255 : 0;
            }
        }
    }
}

// ---- the glyph cache ----------------------------------------------------
//
// One cache for every slot, keyed by slot, pixel size and code, so that a
// page that uses one face at several sizes renders each glyph once. It is
// bounded by bytes: past its budget the least recently used glyphs go.

// Pixel sizes reach IMAGE_FONT_MAX_PIXELS - 1 and codes 0xFFFF.
INT_U64 glyph_key(INT_S8 slot, INT_U32 code, short w, short h)
{
    return INT_U64(code) | INT_U64(INT_U16(w) & 0xFFFu) << 32 | INT_U64(INT_U16(h) & 0xFFFu) << 44 |
           INT_U64(INT_U8(slot)) << 56;
}

INT_S8 key_slot(INT_U64 key)
{
    return INT_S8(key >> 56);
}
INT_U32 key_code(INT_U64 key)
{
    return INT_U32(key);
}

// Each entry's own size and a map node's pointers beside its coverage.
constexpr unsigned long ENTRY_OVERHEAD = sizeof(FONT_CACHED_GLYPH) + 4 * sizeof(void*);

struct GLYPH_CACHE
{
    std::unordered_map<INT_U64, FONT_CACHED_GLYPH> entries; // nodes never move
    FONT_GLYPH_LIST& list = font_glyph_list;
    unsigned long bytes = 0;
    unsigned long budget = IMAGE_GLYPH_CACHE_BYTES;
    unsigned long renders = 0;

    // Lets one glyph go: off the list, out of its slot's recent table,
    // its coverage freed.
    void drop(FONT_CACHED_GLYPH* e)
    {
        list.unlink(e);
        const INT_S8 slot = key_slot(e->key);
        const INT_U32 code = key_code(e->key);
        if (fonts && slot >= 0 && slot < fonts_sz && code < 256 && fonts[slot].recent[code] == e) {
            fonts[slot].recent[code] = nullptr;
        }
        bytes -= e->bytes;
        std::free(e->glyph.bitmap);
        entries.erase(e->key);
    }
    void trim()
    {
        while (bytes > budget && list.oldest && list.oldest != list.newest) {
            drop(list.oldest);
        }
    }
};

} // namespace

// Constant-initialised: the drawing code reads it inline.
FONT_GLYPH_LIST font_glyph_list = {nullptr, nullptr};

namespace {

// Built on first use and never destroyed: glyphs may be asked for from
// other statics' destructors, and shutdown_font_system empties it.
GLYPH_CACHE& glyph_cache()
{
    static GLYPH_CACHE* cache = new GLYPH_CACHE;
    return *cache;
}

} // namespace

IMAGE_PREFER_FREETYPE::IMAGE_PREFER_FREETYPE()
{
    use_t2k = 0;
}
IMAGE_DONT_PRELOAD_FONTS::IMAGE_DONT_PRELOAD_FONTS()
{
    preload_fonts = 0;
}

IMAGE_FONT_SLOT* font_slot_entry(INT_S8 slot)
{
    if (!fonts || slot < 0 || slot >= fonts_sz || !fonts[slot].face) {
        return nullptr;
    }
    return &fonts[slot];
}

IMAGE_FONT_GLYPH* font_get_glyph(INT_S8 slot, INT_U32 code, short w, short h)
{
    GLYPH_CACHE& cache = glyph_cache();
    const INT_U64 key = glyph_key(slot, code, w, h);
    auto found = cache.entries.find(key);
    FONT_CACHED_GLYPH* e;
    if (found != cache.entries.end()) {
        e = &found->second;
        cache.list.to_front(e);
    } else {
        IMAGE_FONT_GLYPH rendered = {};
        render_glyph(&rendered, code, slot, w, h);
        ++cache.renders;
        try {
            e = &cache.entries[key];
        } catch (const std::bad_alloc&) {
            std::free(rendered.bitmap);
            display_error(ERR_FONT_MEMORY);
        }
        e->glyph = rendered;
        e->key = key;
        e->bytes =
            ENTRY_OVERHEAD + static_cast<unsigned long>(rendered.pitch) * static_cast<unsigned long>(rendered.rows);
        cache.bytes += e->bytes;
        cache.list.push_front(e);
        cache.trim();
    }
    if (code < 256) {
        fonts[slot].recent[code] = e;
    }
    return &e->glyph;
}

void font_set_glyph_cache_budget(unsigned long bytes)
{
    GLYPH_CACHE& cache = glyph_cache();
    cache.budget = bytes;
    cache.trim();
}

unsigned long font_glyph_cache_count()
{
    return glyph_cache().entries.size();
}
unsigned long font_glyph_cache_bytes()
{
    return glyph_cache().bytes;
}
unsigned long font_glyph_renders()
{
    return glyph_cache().renders;
}

void IMAGE::startup_font_system()
{
    if (setup_done) {
        return;
    }
    if (FT_Init_FreeType(&font_engine) != 0) {
        font_engine = nullptr;
        display_error(ERR_FONT_SYSTEM_START);
    }
    for (int row = 0; row < IMAGE_KNOWN_FONT_COUNT && preload_fonts; ++row) {
        load_font(font_files[row].file, font_files[row].name, INT_S8(row), nullptr);
    }
    setup_done = 1;
    // The core asks the host table whether fonts are up; answer unless the
    // host has put its own answer there.
    if (kivo_host()->font_system_started == kivo_default_host()->font_system_started) {
        kivo_host()->font_system_started = font_system_started_hook;
    }
}

void IMAGE::shutdown_font_system()
{
    if (!setup_done) {
        return;
    }
    free_font(-1);
    done_closed_faces();
    std::free(fonts);
    fonts = nullptr;
    fonts_sz = 0;
    FT_Done_FreeType(font_engine);
    font_engine = nullptr;
    setup_done = 0;
}

bool IMAGE::is_font_system_setup()
{
    return setup_done != 0;
}

INT_S8 IMAGE::load_font(const char* file, const char* name, INT_S8 slot, FOLDER* folder)
{
    if (!file || !*file) {
        return -1;
    }
    std::unique_ptr<FOLDER> fontdata;
    if (!folder) {
        fontdata.reset(new FOLDER("$FONTDATA", 0, nullptr, 0));
        folder = fontdata.get();
    }

    int candidate;
    if (slot >= 0 && slot < IMAGE_KNOWN_FONT_COUNT) {
        if (std::strcmp(file, font_files[slot].file) != 0) {
            return -1;
        }
        candidate = slot;
    } else if (slot >= IMAGE_KNOWN_FONT_COUNT) {
        candidate = slot;
    } else if (slot == -1) {
        candidate = fonts_sz > IMAGE_KNOWN_FONT_COUNT ? fonts_sz : IMAGE_KNOWN_FONT_COUNT;
    } else {
        return -1;
    }

    // Held open from here: what was judged is what the face reads.
    std::unique_ptr<FILE, int (*)(FILE*)> opened(folder->open_file(file, "rb"), std::fclose);
    if (!opened) {
        return -1;
    }

    if (candidate < fonts_sz) {
        if (fonts[candidate].face) {
            return -1;
        }
    } else {
        bool reused = false;
        if (slot == -1) {
            for (int i = IMAGE_KNOWN_FONT_COUNT; i < fonts_sz && !reused; ++i) {
                if (!fonts[i].face) {
                    candidate = i;
                    reused = true;
                }
            }
        }
        if (!reused) {
            // Slots are signed bytes: a table past 127 could not be named.
            if (candidate >= IMAGE_MAX_FONT_SLOTS) {
                return -1;
            }
            void* grown = std::realloc(fonts, sizeof(IMAGE_FONT_SLOT) * size_t(candidate + 1));
            if (!grown) {
                display_error(ERR_FONT_MEMORY);
            }
            fonts = static_cast<IMAGE_FONT_SLOT*>(grown);
            std::memset(fonts + fonts_sz, 0, sizeof(IMAGE_FONT_SLOT) * size_t(candidate + 1 - fonts_sz));
            fonts_sz = INT_S16(candidate + 1);
        }
    }

    IMAGE_FONT_SLOT& s = fonts[candidate];
    const std::string path = folder->get_path_string(file);
    // Before start-up there is no engine to open it with: the font error,
    // so callers ask is_font_system_setup first.
    if (!font_engine) {
        display_error(ERR_FONT_LOAD, file);
    }
    // A damaged file is skipped like a missing one, the font error
    // reported: one bad file in a folder must not end the program.
    FACE_FILE& file_read = slot_files[candidate];
    file_read.read(fileno(opened.get()));
    s.face = take_closed_face(file_read);
    if (!s.face && open_face_stream(opened.release(), &s.face) != 0) {
        s.face = nullptr;
        file_read.known = false;
        set_error_code(ERRCODE_FILE_READ, path.c_str());
        if (platform_debug_stream.flags) {
            const ERROR_ROW* row = find_error_row(errors, ERR_FONT_LOAD);
            const std::string line = std::string(row ? row->message : "") + ": " + path;
            platform_debug_stream.write_to_stream("font", __LINE__, line.c_str(), 1);
        }
        return -1;
    }
    // A face without outlines cannot be drawn at the sizes asked for (and
    // reports a height of 0): refuse it here rather than fail at the first
    // draw.
    if (!FT_IS_SCALABLE(s.face)) {
        FT_Done_Face(s.face);
        s.face = nullptr;
        file_read.known = false;
        return -1;
    }
    s.coverage_max = 255;
    s.set_w = s.set_h = -1;
    std::strncpy(s.name, name ? name : file, sizeof s.name - 1);
    s.name[sizeof s.name - 1] = 0;
    return INT_S8(candidate);
}

void IMAGE::free_font(INT_S8 slot)
{
    if (!fonts) {
        return;
    }
    if (slot == -1) {
        for (int i = 0; i < fonts_sz; ++i) {
            free_font(INT_S8(i));
        }
        return;
    }
    if (slot < 0 || slot >= fonts_sz) {
        return;
    }
    IMAGE_FONT_SLOT& s = fonts[slot];
    if (s.face) {
        close_face(s.face, slot_files[slot]);
    }
    s.face = nullptr;
    slot_files[slot].known = false;
    GLYPH_CACHE& cache = glyph_cache();
    for (FONT_CACHED_GLYPH* e = cache.list.oldest; e;) {
        FONT_CACHED_GLYPH* next = e->newer;
        if (key_slot(e->key) == slot) {
            cache.drop(e);
        }
        e = next;
    }
}

bool IMAGE::is_font_valid(INT_S8 slot)
{
    return font_slot_entry(slot) != nullptr;
}

const char* IMAGE::get_font_name(INT_S8 slot)
{
    IMAGE_FONT_SLOT* s = font_slot_entry(slot);
    return s ? s->name : nullptr;
}

const char* IMAGE::get_font_info_filename(INT_S8 row)
{
    INT_U8 r = INT_U8(row);
    return r < IMAGE_KNOWN_FONT_COUNT ? font_files[r].file : nullptr;
}

const char* IMAGE::get_font_info_name(INT_S8 row)
{
    INT_U8 r = INT_U8(row);
    return r < IMAGE_KNOWN_FONT_COUNT ? font_files[r].name : nullptr;
}

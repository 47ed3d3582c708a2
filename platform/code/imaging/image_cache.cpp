// The shared cache of named images.
#include "image_cache.h"

#include "debug_stream.h"
#include "errors.h"
#include "folder.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

namespace {

const INT_U8 CACHE_RECORD_VERSION = 2;
// A file name in a record longer than this is taken as corruption.
const INT_U32 CACHE_MAX_NAME_LENGTH = 4096;

char* copy_text(const char* text)
{
    if (!text) {
        return nullptr;
    }
    size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy) {
        std::memcpy(copy, text, n);
    }
    return copy;
}

void set_folder_text(char* out, const char* text)
{
    std::memset(out, 0, 2048);
    if (text) {
        std::memcpy(out, text, strnlen(text, 2047));
    }
}

bool names_equal(const char* a, const char* b)
{
    if (!a || !b) {
        return a == b;
    }
    return std::strcmp(a, b) == 0;
}

// The index's hash: sixteen bytes a step in two lanes, each word folded in
// by a multiply; the last bytes by loads that may overlap the ones before,
// as the length is part of the hash. Folder and name are hashed apart (so
// the two chains overlap, and a folder's part can be kept) and mixed once.
// Lookups still compare the texts: this only sorts them.
const INT_U64 HASH_MULTIPLIER = 0x9E3779B97F4A7C15ull;
const INT_U64 LANE_SEED = 0xC2B2AE3D27D4EB4Full;
const INT_U64 NULL_NAME_HASH = 0x6A09E667F3BCC909ull;
const long FIRST_BUCKETS = 64;

inline INT_U64 load_word(const char* p)
{
    INT_U64 word;
    std::memcpy(&word, p, 8);
    return word;
}

inline INT_U64 load_half(const char* p)
{
    INT_U32 half;
    std::memcpy(&half, p, 4);
    return half;
}

inline INT_U64 fold(INT_U64 h, INT_U64 word)
{
    return (h ^ word) * HASH_MULTIPLIER;
}

inline INT_U64 hash_text(const char* text)
{
    size_t n = std::strlen(text);
    INT_U64 a = fold(0, n), b = LANE_SEED;
    for (; n > 16; n -= 16, text += 16) {
        a = fold(a, load_word(text));
        b = fold(b, load_word(text + 8));
    }
    if (n >= 8) {
        a = fold(a, load_word(text));
        b = fold(b, load_word(text + n - 8));
    } else if (n >= 4) {
        a = fold(a, load_half(text) << 32 | load_half(text + n - 4));
    } else if (n > 0) {
        const unsigned char* u = reinterpret_cast<const unsigned char*>(text);
        a = fold(a, INT_U64(u[0]) << 16 | INT_U64(u[n / 2]) << 8 | u[n - 1]);
    }
    return a ^ (b >> 31 | b << 33);
}

INT_U64 pixels_of(const IMAGE& image)
{
    return image.width > 0 && image.height > 0 ? INT_U64(image.width) * INT_U64(image.height) : 0;
}

// A picture past the total, refused: error 0x1007 and a debug line.
void report_over_total(const char* file_name, INT_U64 pixels, INT_U64 held, long most)
{
    set_error_code(ERRCODE_FILE_READ, file_name);
    if (platform_debug_stream.flags) {
        platform_debug_stream.printf("%s: picture of %llu pixels refused, the pictures held have %llu of %ld\n",
                                     file_name ? file_name : "", static_cast<unsigned long long>(pixels),
                                     static_cast<unsigned long long>(held), most);
    }
}

// Takes an entry out of one of the chains it is on: the cache's list or a
// bucket's name or file chain, each doubly linked through its own pair of
// links and ended by its own first and last.
template <IMAGE_CACHE::CACHE_ENTRY* IMAGE_CACHE::CACHE_ENTRY::*PREV,
          IMAGE_CACHE::CACHE_ENTRY* IMAGE_CACHE::CACHE_ENTRY::*NEXT>
void unchain(IMAGE_CACHE::CACHE_ENTRY* entry, IMAGE_CACHE::CACHE_ENTRY*& first, IMAGE_CACHE::CACHE_ENTRY*& last)
{
    if (entry->*PREV) {
        (entry->*PREV)->*NEXT = entry->*NEXT;
    } else {
        first = entry->*NEXT;
    }
    if (entry->*NEXT) {
        (entry->*NEXT)->*PREV = entry->*PREV;
    } else {
        last = entry->*PREV;
    }
    entry->*PREV = entry->*NEXT = nullptr;
}

} // namespace

// Judges each file a load opens: it becomes the entry's file; when sharing,
// pixels of that file held already stop the load (`have` at the size asked
// for, else `source` unscaled to scale from); and the picture must fit the
// total.
struct IMAGE_CACHE::LOAD_CHECK final : IMAGE_LOAD_CHECK
{
    IMAGE_CACHE* cache;
    CACHE_ENTRY* entry;
    bool share;
    bool evict; // unused entries may be dropped to make room
    short w, h; // the request, when sharing
    INT_U8 flags;
    CACHE_ENTRY* have = nullptr;
    CACHE_ENTRY* source = nullptr;
    bool refused = false;

    LOAD_CHECK(IMAGE_CACHE* c, CACHE_ENTRY* e, bool share_held, bool may_evict, short rw = -1, short rh = -1,
               INT_U8 open_flags = 0)
        : cache(c), entry(e), share(share_held), evict(may_evict), w(rw), h(rh), flags(open_flags)
    {}

    VERDICT opened(const IMAGE_FILE_ID& file, long fw, long fh) override
    {
        cache->set_file(entry, file);
        if (share && file.known) {
            const bool natural = (flags & OPEN_ANY_SIZE) || w == -1 || h == -1;
            // Newest first, as the bucket keeps the list's order.
            const INT_U64 hash = file_hash(file);
            for (CACHE_ENTRY* e = cache->bucket_of(hash)->last_file; e; e = e->file_prev) {
                if (e == entry || e->file_hash != hash || !e->is_shareable() || e->image.width < 1 ||
                    !e->file.same(file)) {
                    continue;
                }
                if (natural ? e->is_unscaled() : e->req_width == w && e->req_height == h) {
                    have = e;
                    return HAVE;
                }
                if (!source && e->is_unscaled()) {
                    source = e;
                }
            }
            if (source) {
                return HAVE;
            }
        }
        const INT_U64 pixels = INT_U64(fw) * INT_U64(fh);
        if (!cache->total_allows(pixels, entry, evict)) {
            refused = true;
            report_over_total(entry->file_name, pixels, cache->held_pixels(entry), cache->max_total_pixels);
            return REFUSE;
        }
        return READ;
    }
};

IMAGE_CACHE::CACHE_ENTRY::CACHE_ENTRY()
    : file_name(nullptr), place(nullptr), req_width(-1), req_height(-1), orig_width(-1), orig_height(-1), uses(0),
      custom(false), orphaned(false), stored_folder(false), cache(nullptr), prev(nullptr), next(nullptr), key_hash(0),
      bucket_prev(nullptr), bucket_next(nullptr), vouched(0), file_hash(0), file_prev(nullptr), file_next(nullptr),
      serial(0), counted(0)
{
    std::memset(folder, 0, sizeof folder);
}

IMAGE_CACHE::CACHE_ENTRY::~CACHE_ENTRY()
{
    std::free(file_name);
    std::free(place);
}

bool IMAGE_CACHE::CACHE_ENTRY::is_unscaled() const
{
    return (req_width == orig_width && req_height == orig_height) || (req_width == -1 && req_height == -1);
}

IMAGE_CACHE::IMAGE_CACHE(bool free_unused, long most_pixels, long most_total)
    : free_when_unused(free_unused), max_pixels(most_pixels), max_total_pixels(most_total)
{}

INT_U64 IMAGE_CACHE::held_pixels(const CACHE_ENTRY* except) const
{
    // An entry not linked counts 0.
    return held_total - (except ? except->counted : 0);
}

void IMAGE_CACHE::recount(CACHE_ENTRY* entry)
{
    if (!entry->serial) {
        return;
    }
    held_total -= entry->counted;
    entry->counted = pixels_of(entry->image);
    held_total += entry->counted;
}

bool IMAGE_CACHE::total_allows(INT_U64 pixels, const CACHE_ENTRY* except, bool evict)
{
    if (max_total_pixels <= 0) {
        return true;
    }
    const INT_U64 most = INT_U64(max_total_pixels);
    // Only what the disk can give again goes: an entry read from a record
    // has no other source.
    for (CACHE_ENTRY* e = head; e && evict && held_pixels(except) + pixels > most;) {
        CACHE_ENTRY* next = e->next;
        if (e != except && e->uses <= 0 && e->file.known && !e->custom) {
            destroy(e);
        }
        e = next;
    }
    return held_pixels(except) + pixels <= most;
}

bool IMAGE_CACHE::size_allowed(long w, long h) const
{
    return max_pixels <= 0 || w < 1 || h < 1 || INT_U64(w) * INT_U64(h) <= INT_U64(max_pixels);
}

IMAGE_CACHE::~IMAGE_CACHE()
{
    clear();
    delete[] buckets;
}

INT_U64 IMAGE_CACHE::hash_folder(const char* folder)
{
    return hash_text(folder);
}

INT_U64 IMAGE_CACHE::key_hash(INT_U64 folder_hash, const char* file_name)
{
    INT_U64 h = folder_hash ^ fold(LANE_SEED, file_name ? hash_text(file_name) : NULL_NAME_HASH);
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    return h ^ (h >> 33);
}

INT_U64 IMAGE_CACHE::file_hash(const IMAGE_FILE_ID& file)
{
    INT_U64 h = fold(LANE_SEED, file.device);
    h = fold(h, file.inode);
    h = fold(h, INT_U64(file.size));
    h = fold(h, INT_U64(file.modified_sec));
    h = fold(h, INT_U64(file.modified_nsec));
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    return h ^ (h >> 33);
}

void IMAGE_CACHE::index(CACHE_ENTRY* entry)
{
    BUCKET* b = bucket_of(entry->key_hash);
    entry->bucket_prev = b->last;
    entry->bucket_next = nullptr;
    if (b->last) {
        b->last->bucket_next = entry;
    } else {
        b->first = entry;
    }
    b->last = entry;
}

void IMAGE_CACHE::index_file(CACHE_ENTRY* entry)
{
    entry->file_prev = entry->file_next = nullptr;
    if (!entry->file.known) {
        return;
    }
    entry->file_hash = file_hash(entry->file);
    BUCKET* b = bucket_of(entry->file_hash);
    // In list order: a new entry goes last, one given another file by a
    // reload after the newer ones of its bucket.
    CACHE_ENTRY* before = b->last_file;
    while (before && before->serial > entry->serial) {
        before = before->file_prev;
    }
    CACHE_ENTRY* after = before ? before->file_next : b->first_file;
    entry->file_prev = before;
    entry->file_next = after;
    if (before) {
        before->file_next = entry;
    } else {
        b->first_file = entry;
    }
    if (after) {
        after->file_prev = entry;
    } else {
        b->last_file = entry;
    }
}

void IMAGE_CACHE::unindex_file(CACHE_ENTRY* entry)
{
    if (!entry->file.known) {
        return;
    }
    BUCKET* b = bucket_of(entry->file_hash);
    unchain<&CACHE_ENTRY::file_prev, &CACHE_ENTRY::file_next>(entry, b->first_file, b->last_file);
}

void IMAGE_CACHE::set_file(CACHE_ENTRY* entry, const IMAGE_FILE_ID& file)
{
    const bool linked = entry->serial != 0;
    if (linked) {
        unindex_file(entry);
    }
    entry->file = file;
    if (linked) {
        index_file(entry);
    }
}

void IMAGE_CACHE::grow_index()
{
    long count = buckets ? long(bucket_mask + 1) * 2 : FIRST_BUCKETS;
    BUCKET* grown = new (std::nothrow) BUCKET[size_t(count)];
    // Without a bigger table the lookups only walk longer buckets.
    if (!grown) {
        return;
    }
    delete[] buckets;
    buckets = grown;
    bucket_mask = INT_U64(count - 1);
    lone = BUCKET();
    // Refilled oldest first, so every bucket keeps the list's order.
    for (CACHE_ENTRY* e = head; e; e = e->next) {
        index(e);
        index_file(e);
    }
}

void IMAGE_CACHE::link(CACHE_ENTRY* entry)
{
    entry->cache = this;
    entry->image.cache_entry = entry;
    entry->prev = tail;
    entry->next = nullptr;
    if (tail) {
        tail->next = entry;
    } else {
        head = entry;
    }
    tail = entry;
    entry->key_hash = key_hash(hash_folder(entry->folder), entry->file_name);
    entry->serial = ++last_entry_serial;
    entry->counted = pixels_of(entry->image);
    held_total += entry->counted;
    entry_count++;
    index(entry);
    index_file(entry);
    // Two entries a bucket at most on average.
    if (!buckets || entry_count > long(bucket_mask + 1) * 2) {
        grow_index();
    }
}

void IMAGE_CACHE::unlink(CACHE_ENTRY* entry)
{
    unchain<&CACHE_ENTRY::prev, &CACHE_ENTRY::next>(entry, head, tail);
    BUCKET* b = bucket_of(entry->key_hash);
    unchain<&CACHE_ENTRY::bucket_prev, &CACHE_ENTRY::bucket_next>(entry, b->first, b->last);
    unindex_file(entry);
    held_total -= entry->counted;
    entry->counted = 0;
    entry->serial = 0;
    entry_count--;
}

void IMAGE_CACHE::destroy(CACHE_ENTRY* entry)
{
    unlink(entry);
    delete entry;
}

void IMAGE_CACHE::set_place(CACHE_ENTRY* entry, const char* place)
{
    std::free(entry->place);
    // Should the copy fail, the entry is simply never found the quick way.
    entry->place = copy_text(place);
    entry->vouched = 0;
}

bool IMAGE_CACHE::place_folder(const CACHE_ENTRY* entry, FOLDER& folder)
{
    if (!entry->stored_folder) {
        return folder.set(entry->folder, 0, nullptr, 0, 0, 0);
    }
    char confined[2048];
    return FOLDER::confine_stored_path(entry->folder, confined) && folder.set(confined, 0, nullptr, 0, 0, 0);
}

bool IMAGE_CACHE::load_entry(CACHE_ENTRY* entry, short w, short h, LOAD_CHECK* check)
{
    FOLDER folder;
    if (!place_folder(entry, folder)) {
        set_place(entry, nullptr);
        return false;
    }
    set_place(entry, reinterpret_cast<const char*>(folder.location));
    // A reload neither shares nor drops other entries (the caller may be
    // walking them).
    LOAD_CHECK own(this, entry, false, false);
    bool ok = entry->image.load(folder, entry->file_name, w, h, max_pixels, check ? check : &own);
    recount(entry);
    return ok;
}

void IMAGE_CACHE::fill_from_source(CACHE_ENTRY* e, CACHE_ENTRY* source)
{
    // A failed load stays a failure at every size, never a blank picture,
    // and a size past the cache's limits is one.
    set_place(e, source->place);
    set_file(e, source->file);
    if (size_allowed(e->req_width, e->req_height)) {
        e->image.reset(source->image.width, source->image.height);
        e->image.copy(&source->image, 0, 0, 0, 0, source->image.width, source->image.height, IMAGE_COPY_TYPE(1));
    }
    e->orig_width = source->req_width;
    e->orig_height = source->req_height;
    if (e->image.width > 0 && !(e->req_width == -1 && e->req_height == -1) &&
        !(e->image.width == e->req_width && e->image.height == e->req_height)) {
        e->image.resize(e->req_width, e->req_height, !IMAGE::use_quick_resize);
    }
}

IMAGE_CACHE::CACHE_ENTRY* IMAGE_CACHE::find(const char* folder, INT_U64 folder_hash, INT_U64 serial,
                                            const char* file_name, short w, short h, INT_U8 flags, CACHE_ENTRY*& source)
{
    source = nullptr;
    if (!head) {
        return nullptr;
    }
    const INT_U64 hash = key_hash(folder_hash, file_name);
    for (CACHE_ENTRY* e = bucket_of(hash)->last; e; e = e->bucket_prev) {
        if (e->key_hash != hash || !e->is_shareable() || !names_equal(e->file_name, file_name) ||
            ((!serial || e->vouched != serial) && std::strcmp(e->folder, folder) != 0)) {
            continue;
        }
        if ((w == -1 || w == e->req_width) && (h == -1 || h == e->req_height)) {
            return e;
        }
        if (e->is_unscaled()) {
            if (flags & OPEN_ANY_SIZE) {
                return e;
            }
            source = e;
        }
    }
    return nullptr;
}

IMAGE* IMAGE_CACHE::open_image(FOLDER& folder, const char* file_name, short w, short h, INT_U8 flags)
{
    // Describing a folder walks the disk. A hit goes by the description
    // worked out before, while no alias can have moved since, and only to
    // an entry whose pixels came from this very folder: the rest (misses,
    // reloads, a folder met for the first time) takes the long way.
    const char* location = reinterpret_cast<const char*>(folder.location);
    if (location[0] && !(flags & OPEN_RELOAD)) {
        INT_U32 generation = FOLDER::alias_generation();
        for (const FOLDER_TEXT& known : folder_texts) {
            // A location never outgrows the FOLDER's array, so comparing a
            // remembered one with its end reads no further than that.
            if (known.generation != generation ||
                std::memcmp(known.location.c_str(), location, known.location.size() + 1) != 0) {
                continue;
            }
            CACHE_ENTRY* source;
            CACHE_ENTRY* e = find(known.text.c_str(), known.text_hash, known.serial, file_name, w, h, flags, source);
            if (e && (e->vouched == known.serial || (e->place && !std::strcmp(e->place, location)))) {
                e->vouched = known.serial;
                e->uses++;
                return e->image.width < 1 ? nullptr : &e->image;
            }
            break;
        }
    }
    char path[2048];
    INT_U32 before = FOLDER::alias_generation();
    if (folder.get(path, nullptr) && location[0] && FOLDER::alias_generation() == before) {
        FOLDER_TEXT* slot = nullptr;
        for (FOLDER_TEXT& known : folder_texts) {
            if (known.location == location) {
                slot = &known;
            }
        }
        if (!slot) {
            slot = &folder_texts[next_folder_text];
            next_folder_text = (next_folder_text + 1) % folder_text_count;
            slot->location = location;
            slot->serial = 0;
        }
        if (!slot->serial || slot->text != path) {
            slot->text = path;
            slot->text_hash = hash_folder(path);
            slot->serial = ++last_serial;
        }
        slot->generation = before;
    }
    IMAGE* image = open_image(path, file_name, w, h, flags);
    // An entry read from a record has no place yet: the fresh description
    // that found it vouches for this folder.
    CACHE_ENTRY* e = get_entry(image);
    if (e && !e->place && location[0] && !std::strcmp(e->folder, path)) {
        set_place(e, location);
        e->stored_folder = false;
    }
    return image;
}

IMAGE* IMAGE_CACHE::open_image(const char* folder, const char* file_name, short w, short h, INT_U8 flags)
{
    if (!folder) {
        folder = "";
    }
    CACHE_ENTRY* source = nullptr;
    if (CACHE_ENTRY* e = find(folder, hash_folder(folder), 0, file_name, w, h, flags, source)) {
        if ((flags & OPEN_RELOAD) && (w == -1 || w == e->req_width) && (h == -1 || h == e->req_height)) {
            FOLDER place;
            if (place_folder(e, place)) {
                set_place(e, reinterpret_cast<const char*>(place.location));
                LOAD_CHECK check(this, e, false, false);
                if (!e->image.load(place, e->file_name, w, h, max_pixels, &check)) {
                    e->image.reset(-1, -1);
                }
                recount(e);
            }
            e->image.cache_entry = e;
        }
        e->uses++;
        return e->image.width < 1 ? nullptr : &e->image;
    }
    if (flags & OPEN_LOOKUP_ONLY) {
        return nullptr;
    }

    CACHE_ENTRY* e = new (std::nothrow) CACHE_ENTRY;
    if (!e) {
        return nullptr;
    }
    set_folder_text(e->folder, folder);
    e->file_name = copy_text(file_name);
    if (file_name && !e->file_name) {
        delete e;
        return nullptr;
    }
    e->req_width = e->orig_width = w;
    e->req_height = e->orig_height = h;
    e->uses = 1;

    const bool scaled = !(w == -1 && h == -1);
    bool refused = false;
    if (!source) {
        LOAD_CHECK check(this, e, true, true, w, h, flags);
        bool ok = load_entry(e, -1, -1, &check);
        if (check.have) {
            // Another name of a file held at this size.
            delete e;
            check.have->uses++;
            return &check.have->image;
        }
        source = check.source;
        refused = check.refused;
        if (!source && ok && !total_allows(pixels_of(e->image), nullptr, true)) {
            // Its header did not tell its size before reading.
            report_over_total(file_name, pixels_of(e->image), held_pixels(nullptr), max_total_pixels);
            ok = false;
            refused = true;
        }
        if (!source && ok) {
            e->orig_width = e->image.width;
            e->orig_height = e->image.height;
            if ((flags & OPEN_ANY_SIZE) || w == -1 || h == -1) {
                e->req_width = e->image.width;
                e->req_height = e->image.height;
            }
            if (scaled && !(e->image.width == e->req_width && e->image.height == e->req_height)) {
                LOAD_CHECK again(this, e, false, true);
                ok = load_entry(e, e->req_width, e->req_height, &again);
                refused = again.refused;
            }
        }
        // A picture past the total is not remembered as failed: room may
        // come.
        if (!source && !ok && (refused || free_when_unused || (flags & OPEN_NO_FAILED_ENTRY))) {
            delete e;
            return nullptr;
        }
        if (!source && !ok) {
            // Kept empty, so later requests get null without the disk.
            e->image.reset(-1, -1);
            set_file(e, IMAGE_FILE_ID());
        }
    }
    if (source) {
        // A scaled copy of pixels already held: the file is not read. It
        // must fit the total beside its source, which stays.
        const INT_U64 pixels = w > 0 && h > 0 ? INT_U64(w) * INT_U64(h) : pixels_of(source->image);
        source->uses++;
        const bool fits = total_allows(pixels, nullptr, true);
        source->uses--;
        if (!fits) {
            report_over_total(file_name, pixels, held_pixels(nullptr), max_total_pixels);
            delete e;
            return nullptr;
        }
        fill_from_source(e, source);
    }
    link(e);
    return e->image.width < 1 ? nullptr : &e->image;
}

IMAGE_CACHE::CACHE_ENTRY* IMAGE_CACHE::get_entry(IMAGE* image)
{
    if (!image || !head) {
        return nullptr;
    }
    CACHE_ENTRY* e = static_cast<CACHE_ENTRY*>(image->cache_entry);
    // An image of another cache is not ours to count or unlink.
    return e && e->cache == this ? e : nullptr;
}

void IMAGE_CACHE::do_close(CACHE_ENTRY* entry)
{
    if (!entry || entry->cache != this) {
        return;
    }
    // A caller may have changed the picture's size while holding it.
    recount(entry);
    entry->uses--;
    if (entry->uses <= 0 && (free_when_unused || entry->orphaned)) {
        destroy(entry);
    }
}

IMAGE* IMAGE_CACHE::duplicate(IMAGE* image)
{
    CACHE_ENTRY* e = get_entry(image);
    if (!e) {
        return nullptr;
    }
    e->uses++;
    return image;
}

short IMAGE_CACHE::get_image_orig_width(IMAGE* image)
{
    if (!image) {
        return 0;
    }
    CACHE_ENTRY* e = get_entry(image);
    return e ? e->orig_width : image->width;
}

short IMAGE_CACHE::get_image_orig_height(IMAGE* image)
{
    if (!image) {
        return 0;
    }
    CACHE_ENTRY* e = get_entry(image);
    return e ? e->orig_height : image->height;
}

IMAGE_CACHE::CACHE_ENTRY* IMAGE_CACHE::copy_entry(CACHE_ENTRY* source)
{
    CACHE_ENTRY* e = new (std::nothrow) CACHE_ENTRY;
    if (!e) {
        return nullptr;
    }
    std::memcpy(e->folder, source->folder, sizeof e->folder);
    set_place(e, source->place);
    e->file_name = copy_text(source->file_name);
    if (source->file_name && !e->file_name) {
        delete e;
        return nullptr;
    }
    e->req_width = source->req_width;
    e->req_height = source->req_height;
    e->orig_width = source->orig_width;
    e->orig_height = source->orig_height;
    e->orphaned = source->orphaned;
    set_file(e, source->file);
    e->custom = source->custom;
    e->stored_folder = source->stored_folder;
    e->uses = 1;
    e->image.reset(source->image.width, source->image.height);
    e->image.copy(&source->image, 0, 0, 0, 0, source->image.width, source->image.height, IMAGE_COPY_TYPE(1));
    link(e);
    return e;
}

void IMAGE_CACHE::make_custom(IMAGE*& image)
{
    CACHE_ENTRY* e = get_entry(image);
    if (!e) {
        return;
    }
    e = private_entry(image, e);
    if (e) {
        e->custom = true;
    }
}

IMAGE_CACHE::CACHE_ENTRY* IMAGE_CACHE::private_entry(IMAGE*& image, CACHE_ENTRY* e)
{
    if (e->uses < 2 && !e->is_unscaled()) {
        return e;
    }
    CACHE_ENTRY* copy = copy_entry(e);
    if (!copy) {
        return nullptr;
    }
    do_close(e);
    image = &copy->image;
    return copy;
}

void IMAGE_CACHE::replace_colour(IMAGE*& image, COLOUR from, COLOUR to)
{
    make_custom(image);
    if (image) {
        image->replace_colour(from, to, 0);
    }
}

void IMAGE_CACHE::set_trialpha_colours(IMAGE*& image, COLOUR c1, COLOUR c2, COLOUR c3)
{
    make_custom(image);
    if (image) {
        image->set_trialpha_colours(c1, c2, c3, 0);
    }
}

void IMAGE_CACHE::recolour(IMAGE*& image, COLOUR tint)
{
    make_custom(image);
    if (image) {
        image->recolour(tint);
    }
}

void IMAGE_CACHE::make_grey(IMAGE*& image)
{
    make_custom(image);
    if (image) {
        image->make_grey();
    }
}

void IMAGE_CACHE::resize_image(IMAGE*& image, short w, short h)
{
    if (w < 0 || h < 0 || !size_allowed(w, h)) {
        return;
    }
    CACHE_ENTRY* e = get_entry(image);
    if (!e || (w == e->req_width && h == e->req_height)) {
        return;
    }
    if (!e->custom) {
        // Oldest first: the bucket keeps the list's order.
        for (CACHE_ENTRY* other = bucket_of(e->key_hash)->first; other; other = other->bucket_next) {
            if (other == e || other->key_hash != e->key_hash || !other->is_shareable() || other->req_width != w ||
                other->req_height != h || !names_equal(other->file_name, e->file_name) ||
                std::strcmp(other->folder, e->folder) != 0) {
                continue;
            }
            other->uses++;
            image = &other->image;
            do_close(e);
            return;
        }
    }
    e = private_entry(image, e);
    if (!e) {
        return;
    }
    e->image.resize(w, h, !IMAGE::use_quick_resize);
    recount(e);
    e->req_width = w;
    e->req_height = h;
}

void IMAGE_CACHE::reload()
{
    for (CACHE_ENTRY* e = tail; e; e = e->prev) {
        if (e->orphaned) {
            continue;
        }
        load_entry(e, e->req_width, e->req_height);
        e->image.cache_entry = e;
    }
}

void IMAGE_CACHE::reload(IMAGE* image)
{
    CACHE_ENTRY* e = get_entry(image);
    if (!e) {
        return;
    }
    load_entry(e, e->req_width, e->req_height);
    e->image.cache_entry = e;
}

void IMAGE_CACHE::clear()
{
    while (head) {
        destroy(head);
    }
}

void IMAGE_CACHE::soft_clear()
{
    for (CACHE_ENTRY* e = head; e;) {
        CACHE_ENTRY* next = e->next;
        if (e->uses > 0) {
            e->orphaned = true;
        } else {
            destroy(e);
        }
        e = next;
    }
}

bool IMAGE_CACHE::put_to_data_device(DATA_DEVICE& d)
{
    INT_U32 n = 0;
    for (CACHE_ENTRY* e = head; e; e = e->next) {
        if (e->is_shareable()) {
            n++;
        }
    }
    if (!put_u8(d, CACHE_RECORD_VERSION) || !put_u32(d, n)) {
        return false;
    }
    for (CACHE_ENTRY* e = head; e; e = e->next) {
        if (!e->is_shareable()) {
            continue;
        }
        INT_U32 length = e->file_name ? INT_U32(std::strlen(e->file_name)) : 0;
        if (!put_path_block(d, e->folder) || !put_u32(d, length) || !put_bytes(d, e->file_name, long(length))) {
            return false;
        }
        if (!put_u16(d, INT_U16(e->req_width)) || !put_u16(d, INT_U16(e->req_height)) ||
            !put_u16(d, INT_U16(e->orig_width)) || !put_u16(d, INT_U16(e->orig_height))) {
            return false;
        }
        if (!e->image.put_to_data_device(d)) {
            return false;
        }
    }
    return true;
}

bool IMAGE_CACHE::get_from_data_device(DATA_DEVICE& d)
{
    soft_clear();
    INT_U8 version = 0;
    INT_U32 n = 0;
    if (!get_u8(d, version) || !get_u32(d, n)) {
        return false;
    }
    for (INT_U32 i = 0; i < n; i++) {
        CACHE_ENTRY* e = new (std::nothrow) CACHE_ENTRY;
        if (!e) {
            return false;
        }
        bool ok;
        if (version < 2) {
            ok = FOLDER::get_old_folder(d, e->folder);
        } else {
            ok = get_path_block(d, e->folder);
            if (ok && !FOLDER::alias_is_known(e->folder)) {
                // Placing a folder on it later would end the program.
                d.error = 1;
                set_error_code(ERRCODE_FILE_READ, e->folder);
                ok = false;
            }
            e->stored_folder = true;
        }
        INT_U32 length = 0;
        ok = ok && get_u32(d, length) && length <= CACHE_MAX_NAME_LENGTH;
        if (ok && length > 0) {
            e->file_name = static_cast<char*>(std::malloc(length + 1));
            ok = e->file_name && get_bytes(d, e->file_name, long(length));
            if (e->file_name) {
                e->file_name[ok ? length : 0] = 0;
            }
        }
        INT_U16 rw = 0, rh = 0, ow = 0, oh = 0;
        ok = ok && get_u16(d, rw) && get_u16(d, rh) && get_u16(d, ow) && get_u16(d, oh);
        ok = ok && e->image.get_from_data_device(d);
        if (!ok) {
            delete e;
            return false;
        }
        e->req_width = INT_S16(rw);
        e->req_height = INT_S16(rh);
        e->orig_width = INT_S16(ow);
        e->orig_height = INT_S16(oh);
        e->uses = 0;
        link(e);
    }
    return true;
}

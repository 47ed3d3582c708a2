#ifndef KIVO_IMAGE_CACHE_H
#define KIVO_IMAGE_CACHE_H

// The cache of named images: one IMAGE per (folder, file name, requested
// size), shared by use count, turned into a private copy before it is
// edited, and stored on a data device with all its pixels. A name met for
// the first time that leads to a file already held (another spelling of
// its folder, a link, a hard link) shares that file's pixels.
#include "colour.h"
#include "data_device.h"
#include "image.h"
#include "kivo_types.h"

#include <string>

class FOLDER;

class IMAGE_CACHE : public DATA_DEVICE_CLIENT
{
public:
    struct CACHE_ENTRY
    {
        char folder[2048];               // alias path of the folder, NUL-terminated
        char* file_name;                 // owned copy, or null
        char* place;                     // canonical path of the folder the pixels came
                                         // from (owned), or null
        INT_S16 req_width, req_height;   // asked for (-1 = natural size)
        INT_S16 orig_width, orig_height; // the size held in the file
        IMAGE image;                     // its cache-entry pointer leads back here
        INT_S16 uses;
        bool custom;   // a private copy: never shared, never saved
        bool orphaned; // left by soft_clear while still in use
        // `folder` came from a record: it names the pixels, and is placed
        // on the disk only where FOLDER::confine_stored_path lets it lead,
        // until a lookup through a FOLDER of that description vouches for it.
        bool stored_folder;
        IMAGE_CACHE* cache; // the cache the entry belongs to
        CACHE_ENTRY* prev;  // list links, head = oldest
        CACHE_ENTRY* next;
        // The name index: the hash of folder and file name (both fixed once
        // the entry is linked), and the links of its bucket, which keeps the
        // list's order.
        INT_U64 key_hash;
        CACHE_ENTRY* bucket_prev;
        CACHE_ENTRY* bucket_next;
        // The serial of the remembered folder text last seen to name both
        // `folder` and `place` (0: none); dropped when the place changes.
        INT_U64 vouched;
        // The file the pixels were read from (not known for entries read
        // from a record): what other names of it are matched by. Changed on
        // a linked entry only through set_file, which keeps the file index.
        IMAGE_FILE_ID file;
        // The file index: the hash of `file`, and the links of its bucket,
        // which keeps the list's order; used while linked with `file` known.
        INT_U64 file_hash;
        CACHE_ENTRY* file_prev;
        CACHE_ENTRY* file_next;
        // Place in the list: grows with every entry linked.
        INT_U64 serial;
        // The pixels the cache's total holds for this entry (0 unlinked).
        INT_U64 counted;

        CACHE_ENTRY();
        ~CACHE_ENTRY();
        CACHE_ENTRY(const CACHE_ENTRY&) = delete;
        CACHE_ENTRY& operator=(const CACHE_ENTRY&) = delete;
        bool is_shareable() const { return !custom && !orphaned; }
        bool is_unscaled() const;
    };

    // Open flags.
    static const INT_U8 OPEN_NO_FAILED_ENTRY = 1; // do not keep a failed load
    static const INT_U8 OPEN_RELOAD = 2;          // reload on an exact match
    static const INT_U8 OPEN_ANY_SIZE = 4;        // take an unscaled entry as it is
    static const INT_U8 OPEN_LOOKUP_ONLY = 8;     // never create an entry

    // Entries, oldest first; new ones go to the tail, lookups walk from it.
    CACHE_ENTRY* head = nullptr;
    CACHE_ENTRY* tail = nullptr;
    // Set: entries die with their last use and failed loads are not kept.
    bool free_when_unused;

    // Pictures of more pixels than this are not read from files (refused
    // from the header, before any pixel is allocated) nor scaled to; 0 = no
    // limit but the sides of 32767.
    const long max_pixels;
    // The pixels all entries may hold together (0 = no limit): a picture
    // read from a file past it is refused like one past max_pixels, once
    // unused entries that can be read again have made what room they can.
    // An entry counts at the size the cache last gave its picture or saw
    // when a use of it was given back (callers change sizes through
    // resize_image).
    const long max_total_pixels;

    explicit IMAGE_CACHE(bool free_when_unused = false, long max_pixels = 0, long max_total_pixels = 0);
    ~IMAGE_CACHE() override;
    IMAGE_CACHE(const IMAGE_CACHE&) = delete;
    IMAGE_CACHE& operator=(const IMAGE_CACHE&) = delete;

    IMAGE* open_image(const char* folder, const char* file_name, short w, short h, INT_U8 flags = 0);
    IMAGE* open_image(FOLDER& folder, const char* file_name, short w, short h, INT_U8 flags = 0);
    void do_close(CACHE_ENTRY* entry);
    CACHE_ENTRY* get_entry(IMAGE* image);
    IMAGE* duplicate(IMAGE* image);
    short get_image_orig_width(IMAGE* image);
    short get_image_orig_height(IMAGE* image);

    // Edits: the reference becomes a private copy first.
    void make_custom(IMAGE*& image);
    void replace_colour(IMAGE*& image, COLOUR from, COLOUR to);
    void set_trialpha_colours(IMAGE*& image, COLOUR c1, COLOUR c2, COLOUR c3);
    void recolour(IMAGE*& image, COLOUR tint);
    void make_grey(IMAGE*& image);

    void resize_image(IMAGE*& image, short w, short h);
    void reload();
    void reload(IMAGE* image);
    void clear();
    void soft_clear();

    bool get_from_data_device(DATA_DEVICE& d) override;
    bool put_to_data_device(DATA_DEVICE& d) override;

private:
    void link(CACHE_ENTRY* entry);
    void unlink(CACHE_ENTRY* entry);
    void destroy(CACHE_ENTRY* entry);
    // A copy of an entry (same folder, name, sizes, orphaned flag, pixels),
    // linked at the tail with one use; null when it cannot be made.
    CACHE_ENTRY* copy_entry(CACHE_ENTRY* source);
    // The entry itself when it is scaled and has one user, else a copy that
    // takes over the caller's reference; null when no copy can be made.
    CACHE_ENTRY* private_entry(IMAGE*& image, CACHE_ENTRY* entry);
    struct LOAD_CHECK;
    friend struct LOAD_CHECK;
    bool load_entry(CACHE_ENTRY* entry, short w, short h, LOAD_CHECK* check = nullptr);
    // A fresh entry's pixels from `source`'s, scaled to the entry's request.
    void fill_from_source(CACHE_ENTRY* entry, CACHE_ENTRY* source);
    // Pixels held by every entry but `except`.
    INT_U64 held_pixels(const CACHE_ENTRY* except) const;
    // Counts a linked entry's picture again at its present size.
    void recount(CACHE_ENTRY* entry);
    // Gives an entry another file, keeping the file index.
    void set_file(CACHE_ENTRY* entry, const IMAGE_FILE_ID& file);
    // Whether `pixels` more fit the total, after dropping unused entries
    // that were read from files (oldest first) when `evict` is set.
    bool total_allows(INT_U64 pixels, const CACHE_ENTRY* except, bool evict);
    // Positions `folder` on an entry's folder (see stored_folder).
    static bool place_folder(const CACHE_ENTRY* entry, FOLDER& folder);
    bool size_allowed(long w, long h) const;
    static void set_place(CACHE_ENTRY* entry, const char* place);
    // The entry a lookup returns as it is (an exact match, or an unscaled
    // one under OPEN_ANY_SIZE), newest first; else null, with `source` the
    // oldest unscaled entry of that folder and name, if any. `folder_hash`
    // is hash_folder(folder); an entry vouched for by `serial` (not 0) has
    // that folder without comparing it.
    CACHE_ENTRY* find(const char* folder, INT_U64 folder_hash, INT_U64 serial, const char* file_name, short w, short h,
                      INT_U8 flags, CACHE_ENTRY*& source);
    static INT_U64 hash_folder(const char* folder);
    static INT_U64 key_hash(INT_U64 folder_hash, const char* file_name);
    static INT_U64 file_hash(const IMAGE_FILE_ID& file);

    // The name index (by key hash) and the file index (by file hash, of the
    // entries whose file is known) share one table of buckets, each of two
    // chains in list order. A power of two of them; until a table could be
    // had, the one bucket `lone` holds every entry.
    struct BUCKET
    {
        CACHE_ENTRY* first = nullptr;
        CACHE_ENTRY* last = nullptr;
        CACHE_ENTRY* first_file = nullptr;
        CACHE_ENTRY* last_file = nullptr;
    };
    BUCKET lone;
    BUCKET* buckets = nullptr;
    INT_U64 bucket_mask = 0;
    long entry_count = 0;
    INT_U64 last_entry_serial = 0;
    INT_U64 held_total = 0; // the sum of every linked entry's `counted`
    BUCKET* bucket_of(INT_U64 hash) { return buckets ? &buckets[hash & bucket_mask] : &lone; }
    void index(CACHE_ENTRY* entry);
    void index_file(CACHE_ENTRY* entry);
    void unindex_file(CACHE_ENTRY* entry);
    void grow_index();

    // Alias paths worked out for recent folders, so a hit through a FOLDER
    // need not describe it again (that walks the disk).
    struct FOLDER_TEXT
    {
        std::string location;
        std::string text;
        INT_U64 text_hash = 0; // hash_folder(text)
        INT_U64 serial = 0;    // new whenever location or text changes
        INT_U32 generation = 0;
    };
    static const int folder_text_count = 8;
    FOLDER_TEXT folder_texts[folder_text_count];
    int next_folder_text = 0;
    INT_U64 last_serial = 0;
};

#endif

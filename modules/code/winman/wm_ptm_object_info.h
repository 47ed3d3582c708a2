#ifndef KIVO_WM_PTM_OBJECT_INFO_H
#define KIVO_WM_PTM_OBJECT_INFO_H

// WM_PTM_OBJECT_INFO: the page definition's record of one widget, with the
// records of the widgets inside it (a tree held by value), and the naming
// and numbering of its action and creation messages.
#include "data_device.h"
#include "kivo_types.h"
#include "wm_ptm_text.h"
#include "wm_screen_object.h"

#include <new>
#include <utility>

class WM_STYLE_SET;
class WM_PAGE_TOOL_MANAGER;
class WM_PTM_IMAGE_INFO;
class WM_PTM_OBJECT_INFO;
class WM_PTM_PAGE_INFO;
class WM_PTM_DIALOG_INFO;

// An object owned through a pointer, read as a T* (null: none). Copies are
// deep; a copy that runs out of memory is none.
template <class T> class WM_PTM_OWNED
{
public:
    WM_PTM_OWNED() noexcept = default;
    WM_PTM_OWNED(const WM_PTM_OWNED& other) : held(other.held ? new (std::nothrow) T(*other.held) : nullptr) {}
    WM_PTM_OWNED(WM_PTM_OWNED&& other) noexcept : held(other.held) { other.held = nullptr; }
    WM_PTM_OWNED& operator=(WM_PTM_OWNED other) noexcept
    {
        std::swap(held, other.held);
        return *this;
    }
    ~WM_PTM_OWNED() { delete held; }

    operator T*() const noexcept { return held; }
    T* operator->() const noexcept { return held; }
    // Deletes what is held and keeps `object` (may be null) instead.
    void reset(T* object = nullptr) noexcept
    {
        delete held;
        held = object;
    }

private:
    T* held = nullptr;
};

// The object records a page, a dialog or an object holds, by value. Copies
// are deep (one that runs out of memory holds none); a move leaves the
// source with none.
class WM_PTM_OBJECT_LIST
{
public:
    WM_PTM_OBJECT_INFO* objects = nullptr; // new[], null when none
    INT_S32 object_count = 0;

    WM_PTM_OBJECT_LIST() = default;
    ~WM_PTM_OBJECT_LIST();
    WM_PTM_OBJECT_LIST(const WM_PTM_OBJECT_LIST& other);
    WM_PTM_OBJECT_LIST(WM_PTM_OBJECT_LIST&& other) noexcept;
    WM_PTM_OBJECT_LIST& operator=(WM_PTM_OBJECT_LIST other) noexcept;

    // Replaces the records by n default ones (none for n <= 0);
    // object_count is n only when the array was made.
    void alloc(long n);
    // The array is replaced as a whole: pointers into it do not survive
    // these two. False (nothing changed) on a failed allocation or a bad
    // index.
    bool create_new_object(unsigned long type);
    bool delete_object(long index);

protected:
    // A count checked against the bytes left, then the records of that
    // file version; `depth` counts the records around them.
    bool read_objects(DATA_DEVICE& d, INT_U16 version, int depth);
    // The count, then every record.
    bool write_objects(DATA_DEVICE& d);
};

class WM_PTM_OBJECT_INFO : public DATA_DEVICE_CLIENT, public WM_PTM_OBJECT_LIST
{
public:
    // Deeper trees fail the read: each level is a stack frame of the reader.
    static constexpr int max_depth = 64;
    // The fewest bytes a record of this file version takes (no texts, no
    // custom style set, no sub-records): what a count of records is
    // checked against.
    static long min_file_size(INT_U16 version);

    // Each field's initialiser is its default, which clear() restores. The
    // records of the widgets inside are in `objects`.
    INT_U8 do_not_create = 0;                    // non-zero: no widget from this record nor its sub-records
    WM_OBJECT_TYPE type = 0;                     // WM_TYPE_* of the widget; 0 = an application object
    WM_PTM_TEXT aid_name;                        // "AID_...", null when none
    INT_U32 aid = 0;                             // action message: the widget's first callback data word
    INT_U32 user_data = 0;                       // the second callback data word
    WM_PTM_TEXT cid_name;                        // "CID_...", null when none
    INT_U32 cid = 0;                             // creation message; 0 = none sent
    INT_S16 x = 0, y = 0;                        // relative to the parent widget
    INT_S16 width = -1, height = -1;             // -1 = not given
    WM_PTM_OWNED<WM_STYLE_SET> custom_style_set; // null when none
    WM_PTM_TEXT text;                            // null when none
    WM_STYLE_SET* style_set = nullptr;           // shared, in the application's list; null when none
    INT_U32 generic_type = 0;                    // kind of application object
    WM_PTM_TEXT hint;                            // null when none
    INT_U8 enabled = 1;
    INT_U8 trigger = 2;          // WM_BUTTON trigger bits
    INT_U32 hotkey = 0xFFFFFFFF; // 0xFFFFFFFF = none
    INT_U8 image_trigger = 2;    // WM_IMAGE trigger bits: 1 press, 2 release
    INT_U8 visible = 1;
    WM_PTM_IMAGE_INFO* image = nullptr; // shared, in the application's list; null when none
    INT_S16 grid_row_height = 20;       // pixels; 0 = the minimum for the style
    INT_S16 grid_columns = 1;
    WM_PTM_TEXT grid_column_ratios;              // comma-separated, null when none
    WM_STYLE_SET* grid_cell_style_set = nullptr; // shared; null when none
    INT_S16 grid_row = -1, grid_column = -1;     // the cell in a parent grid; -1 = none

    // The manager whose lists the stored indices refer to; null: every
    // index reads as none and writes as -1.
    static inline WM_PAGE_TOOL_MANAGER*& ptm = wm_context.definition.ptm;

    // Copies are deep (shared references are copied as they are); a move
    // leaves `other` with no texts, custom style set or sub-records.
    WM_PTM_OBJECT_INFO();
    ~WM_PTM_OBJECT_INFO() override;
    WM_PTM_OBJECT_INFO(const WM_PTM_OBJECT_INFO& other);
    WM_PTM_OBJECT_INFO(WM_PTM_OBJECT_INFO&& other) noexcept;
    WM_PTM_OBJECT_INFO& operator=(const WM_PTM_OBJECT_INFO& other);
    WM_PTM_OBJECT_INFO& operator=(WM_PTM_OBJECT_INFO&& other) noexcept;
    // Has no effect: a widget does not describe itself back into a record.
    WM_PTM_OBJECT_INFO& operator=(WM_SCREEN_OBJECT* object);

    // Frees everything owned and restores the defaults.
    void clear();
    // Null clears the field; an equal text keeps the copy held; a failed
    // copy leaves none.
    void set_text(const char* t);
    void set_hint(const char* t);
    void set_grid_column_ratios(const char* t);
    void create_custom_style_set();
    void delete_custom_style_set();
    // Takes over every field of `other` (nothing copied), which is cleared.
    void move_from(WM_PTM_OBJECT_INFO& other);
    // A deep copy; shared references are copied as they are.
    void copy_from(WM_PTM_OBJECT_INFO& other);

    // `prefix` + the text upper-cased, every character but an ASCII letter
    // or digit made "_"; a text that already starts with the prefix (any
    // case) is not prefixed again. `name` gets a new[] string, null when the
    // allocation fails (the old value is not freed).
    static void set_id(char*& name, const char* text, const char* prefix);
    // Names both ids from the texts (null or "" = none) and numbers them:
    // a name some other record of the scope already has keeps its number,
    // a new one takes the smallest number unused in the scope.
    void set_ids(const char* action_text, const char* creation_text, WM_PTM_PAGE_INFO* page);
    void set_ids(const char* action_text, const char* creation_text, WM_PTM_DIALOG_INFO** dialogs, long count);
    // The name of an id number in this tree (skipping `except`), or null.
    const char* look_for_id(unsigned long id, WM_PTM_OBJECT_INFO* except);
    // The number of an id name in this tree (skipping `except`), or 0.
    unsigned long look_for_id(const char* name, WM_PTM_OBJECT_INFO* except);

    // A new widget made from this record (owned by the caller, attached to
    // nothing, `definition` pointing here); none for do_not_create, an
    // unknown type, a picture too large to make or a failed allocation.
    // `handler` becomes the callback of the kinds that take one.
    WM_SCREEN_OBJECT* create(WM_OBJECT_CALLBACK handler);

    // The version is WM_PAGE_TOOL_MANAGER::file_version (0 to 25).
    bool get_from_data_device(DATA_DEVICE& d) override;
    // Always the version-25 layout.
    bool put_to_data_device(DATA_DEVICE& d) override;
    // The reader with the version given; `depth` counts the enclosing
    // records (0 for one in a page or dialog).
    bool read(DATA_DEVICE& d, INT_U16 version, int depth = 0);

private:
    bool read_legacy(DATA_DEVICE& d, INT_U16 version);
};

#endif

#ifndef KIVO_WM_PTM_OBJECT_INFO_H
#define KIVO_WM_PTM_OBJECT_INFO_H

// WM_PTM_OBJECT_INFO: the page definition's record of one widget, with the
// records of the widgets inside it (a tree held by value), and the naming
// and numbering of its action and creation messages.
#include "data_device.h"
#include "kivo_types.h"
#include "wm_screen_object.h"

class WM_STYLE_SET;
class WM_PAGE_TOOL_MANAGER;
class WM_PTM_IMAGE_INFO;
class WM_PTM_PAGE_INFO;
class WM_PTM_DIALOG_INFO;

class WM_PTM_OBJECT_INFO : public DATA_DEVICE_CLIENT
{
public:
    // Deeper trees fail the read: each level is a stack frame of the reader.
    static constexpr int max_depth = 64;
    // The fewest bytes a record of this file version takes (no texts, no
    // custom style set, no sub-records): what a count of records is
    // checked against.
    static long min_file_size(INT_U16 version);

    INT_U8 do_not_create;   // non-zero: no widget from this record nor its sub-records
    WM_OBJECT_TYPE type;    // WM_TYPE_* of the widget; 0 = an application object
    char* aid_name;         // "AID_..." (new[]), null when none
    INT_U32 aid;            // action message: the widget's first callback data word
    INT_U32 user_data;      // the second callback data word
    char* cid_name;         // "CID_..." (new[]), null when none
    INT_U32 cid;            // creation message; 0 = none sent
    INT_S16 x, y;           // relative to the parent widget
    INT_S16 width, height;  // -1 = not given
    WM_STYLE_SET* custom_style_set; // owned, null when none
    char* text;                     // new[], null when none
    WM_STYLE_SET* style_set;        // shared, in the application's list; null when none
    INT_U32 generic_type;           // kind of application object
    char* hint;                     // new[], null when none
    INT_U8 enabled;
    INT_U8 trigger;                 // WM_BUTTON trigger bits
    INT_U32 hotkey;                 // 0xFFFFFFFF = none
    INT_U8 image_trigger;           // WM_IMAGE trigger bits: 1 press, 2 release
    INT_U8 visible;
    WM_PTM_IMAGE_INFO* image;       // shared, in the application's list; null when none
    INT_S16 grid_row_height;        // pixels; 0 = the minimum for the style
    INT_S16 grid_columns;
    char* grid_column_ratios;       // comma-separated (new[]), null when none
    WM_STYLE_SET* grid_cell_style_set; // shared; null when none
    INT_S16 grid_row, grid_column;  // the cell in a parent grid; -1 = none
    WM_PTM_OBJECT_INFO* objects;    // sub-records (new[]), null when none
    INT_S32 object_count;

    // The manager whose lists the stored indices refer to; null: every
    // index reads as none and writes as -1.
    static inline WM_PAGE_TOOL_MANAGER*& ptm = wm_context.definition.ptm;

    WM_PTM_OBJECT_INFO();
    ~WM_PTM_OBJECT_INFO() override;
    WM_PTM_OBJECT_INFO(const WM_PTM_OBJECT_INFO&) = delete;
    WM_PTM_OBJECT_INFO& operator=(const WM_PTM_OBJECT_INFO&) = delete;
    // Has no effect: a widget does not describe itself back into a record.
    WM_PTM_OBJECT_INFO& operator=(WM_SCREEN_OBJECT* object);

    // Frees everything owned and restores the defaults.
    void clear();
    // Null or an equal text leaves the field; a failed copy leaves none.
    void set_text(const char* t);
    void set_hint(const char* t);
    void set_grid_column_ratios(const char* t);
    void create_custom_style_set();
    void delete_custom_style_set();
    // Takes over every field of `other` (nothing copied), which is cleared.
    void move_from(WM_PTM_OBJECT_INFO& other);
    // A deep copy; shared references are copied as they are.
    void copy_from(WM_PTM_OBJECT_INFO& other);
    // Replaces the sub-records by n default ones (none for n <= 0);
    // object_count is n only when the array was made.
    void alloc(long n);
    // Sub-record arrays are replaced as a whole: pointers into them do not
    // survive these two. False (nothing changed) on a failed allocation or
    // a bad index.
    bool create_new_object(unsigned long object_type);
    bool delete_object(long index);

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
    char* look_for_id(unsigned long id, WM_PTM_OBJECT_INFO* except);
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
    // Sets every field to its default without freeing anything.
    void set_defaults();
    bool read_legacy(DATA_DEVICE& d, INT_U16 version);
};

#endif

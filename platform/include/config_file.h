#ifndef KIVO_CONFIG_FILE_H
#define KIVO_CONFIG_FILE_H

// Text values under text keys in a small human-editable file. An entry is
// two lines: the key, then the value indented by a tab; lines starting
// with '#' and empty lines are comments.
//
// Streaming mode scans the file on every read and rewrites it on every
// write, keeping comments and order. Cached mode loads the file into a
// table sorted by key and rewrites the whole file (in file order, without
// comments) on every write, after loading it again.
//
// Every write is a whole-file save (FOLDER::open_whole_file), so a failed
// write leaves the old file as it was; the file keeps its permission bits,
// and a symbolic link keeps pointing at it. Each read-modify-write holds an
// advisory lock (flock) on the file, so programs writing one settings file
// keep each other's entries.
//
// Errors go to the current error code (errors.h): ERRCODE_CONFIG_ENTRY_NOT_FOUND,
// ERRCODE_CONFIG_EARLY_END (the file ends after a key), ERRCODE_CONFIG_BAD_ID
// (blank or invalid key), ERRCODE_CONFIG_OPEN (the file cannot be opened or
// written), ERRCODE_CONFIG_NO_CALLBACK and ERRCODE_CONFIG_NO_MEMORY.
#include "folder.h"
#include "kivo_types.h"
#include "ptrarray.h"

class TEXT_FILE;

class CONFIG_FILE
{
public:
    struct CONFIG_KEY
    {
        INT_U16 id; // position in the file, 0 for the first entry
        char key[80];
        char value[256];
    };

    typedef void (*READ_ALL_CALLBACK)(char* key, char* value, void* user);

    CONFIG_FILE();
    ~CONFIG_FILE();
    CONFIG_FILE(const CONFIG_FILE&) = delete;
    CONFIG_FILE& operator=(const CONFIG_FILE&) = delete;

    // The file name inside the folder (null gives "settings") and the mode;
    // empties the table.
    void set_filename(const char* name, INT_U8 cached);
    bool exists(FOLDER& f);
    // Copies the key's value into value_out (at least 256 bytes).
    bool read(FOLDER& f, const char* key, char* value_out);
    // Reads the value as a hexadecimal or decimal number; a value that is
    // not a number leaves `number` unchanged.
    bool read(FOLDER& f, const char* key, INT_U32& number, INT_U8 hex);
    // Sets the key to the value (null counts as ""). Text from a line break
    // on is not written: it would split the entry.
    bool write(FOLDER& f, const char* key, const char* value);
    bool write(FOLDER& f, const char* key, INT_U32 number, INT_U8 hex);
    // Calls back once per entry: file order in streaming mode, key order
    // in cached mode.
    bool read_all(FOLDER& f, READ_ALL_CALLBACK callback, void* user);
    // Loads the table; a missing file is an error only with report_missing.
    bool read_all_keys(FOLDER& f, INT_U8 report_missing);
    // Writes the table to the file in file order (under the lock).
    bool write_all_keys(FOLDER& f);
    // Reads the next entry; comment lines met on the way are copied to
    // copy_to when it is given.
    bool read_key(TEXT_FILE* in, CONFIG_KEY* out, TEXT_FILE* copy_to);

    static short compare_keys(void* a, void* b, void* user);
    static short compare_ids(void* a, void* b, void* user);
    static void delete_key(void* key);

    FOLDER folder; // not used: every operation takes its folder
    char filename[256];
    PTRARRAY keys;
    INT_U8 cached;

private:
    bool ensure_table(FOLDER& f, INT_U8 report_missing);
    // Opens the file for reading; ERRCODE_CONFIG_OPEN when it cannot be opened.
    TEXT_FILE* open_for_reading(FOLDER& f);
    // The table's entry of a (clean) key, or null.
    CONFIG_KEY* find_cached(const char* key);
    // The two writes, called with the lock held.
    bool write_streaming(FOLDER& f, const char* key, const char* value);
    bool write_table(FOLDER& f);

    // The folder the table was loaded from, so a call with another folder
    // reloads instead of answering from the wrong file.
    FOLDER loaded_from;
    INT_U8 loaded;
};

#endif

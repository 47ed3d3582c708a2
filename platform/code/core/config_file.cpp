#include "config_file.h"

#include "debug_stream.h"
#include "errors.h"
#include "settings_lock.h"
#include "text_file.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

void report(INT_U16 code, const char* argument, int line)
{
    set_error_code(code, argument);
    if (platform_debug_stream.flags) {
        platform_debug_stream.write_to_stream("config_file", line, get_error_text(), 1);
    }
}

const char* skip_blanks(const char* p)
{
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    return p;
}

bool is_high_surrogate(INT_U32 c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}
bool is_low_surrogate(INT_U32 c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Text in the form the file reader gives it back once the file writer has
// written it: the writer's characters (escape runs expanded, a 0x01 always
// toggling) stored as the reader stores them - a byte, or a ",%04X" group
// inside a run for 0, 1 and everything above 0xFF, a surrogate pair as two
// groups. Keys and values are compared in this form, so a key written is
// the key read back. Ends at the first line break (which would split the
// entry) or before the first character that does not fit in `size` bytes
// with its run closed.
void store_text(const char* text, char* out, std::size_t size)
{
    std::size_t len = 0;
    bool run = false;
    bool full = false;
    auto store = [&](const INT_U32* units, int n) {
        bool wide = n == 2 || units[0] > 0xFF || units[0] <= 1;
        std::size_t need = wide ? (run ? 0 : 1) + 5 * static_cast<std::size_t>(n) + 1 : (run ? 2 : 1);
        if (full || len + need > size - 1) {
            full = true;
            return;
        }
        if (!wide) {
            if (run) {
                out[len++] = 1;
            }
            run = false;
            out[len++] = static_cast<char>(units[0]);
            return;
        }
        if (!run) {
            out[len++] = 1;
        }
        run = true;
        for (int i = 0; i < n; ++i) {
            std::snprintf(out + len, 6, ",%04X", static_cast<unsigned>(units[i] & 0xFFFFu));
            len += 5;
        }
    };
    INT_U32 high = 0; // a high surrogate waiting for its low half
    auto take = [&](INT_U32 c) {
        if (c == '\r' || c == '\n') {
            return false;
        }
        if (high) {
            INT_U32 pair[2] = {high, c};
            high = 0;
            if (is_low_surrogate(c)) {
                store(pair, 2);
                return true;
            }
            store(pair, 1);
        }
        if (is_high_surrogate(c)) {
            high = c;
        } else {
            store(&c, 1);
        }
        return true;
    };
    bool escape = false;
    int digits = 0;
    INT_U32 value = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p && !full; ++p) {
        if (*p == 1) {
            escape = !escape;
            digits = 0;
            value = 0;
        } else if (!escape) {
            if (!take(*p)) {
                break;
            }
        } else if (!std::isxdigit(*p)) {
            digits = 0;
            value = 0;
        } else {
            value = (value << 4) | static_cast<INT_U32>(*p <= '9' ? *p - '0' : (*p | 0x20) - 'a' + 10);
            if (++digits == 4) {
                if (!take(value)) {
                    break;
                }
                digits = 0;
                value = 0;
            }
        }
    }
    if (high) {
        store(&high, 1);
    }
    if (run) {
        out[len++] = 1;
    }
    out[len] = 0;
}

// A key or value as it is stored (above), without the leading blanks the
// reader skips.
void clean_text(const char* text, char* out, std::size_t size)
{
    char buf[256];
    store_text(skip_blanks(text ? text : ""), buf, sizeof buf);
    store_text(skip_blanks(buf), out, size);
}

void clean_key(const char* key, char* out)
{
    clean_text(key, out, 80);
}
void clean_value(const char* value, char* out)
{
    clean_text(value, out, 256);
}

// Ids are 16 bits: a table never holds more entries than they can number,
// or the file order written back from them would be scrambled.
constexpr long MAX_ENTRIES = 0x10000;

bool write_entry(TEXT_FILE* out, const char* key, const char* value)
{
    bool ok = true;
    // A key read from an indented line may start with '#'; in the first
    // column it would read back as a comment and shift every later entry.
    // The reader skips leading blanks, so one blank keeps it a key.
    ok = (key[0] != '#' || (*out << " ")) && ok;
    ok = (*out << key) && ok;
    ok = (*out << "\n\t") && ok;
    ok = (*out << value) && ok;
    return (*out << "\n") && ok;
}

// Keeps the start of the current line (from `start`, continuing into the
// following pieces of a long line) up to `size` - 1 bytes, and reads and
// drops the rest of the line so it cannot pass for the next line.
void take_rest_of_line(TEXT_FILE* in, const char* start, INT_U8 whole, char* out, std::size_t size)
{
    // Whole pieces up to a little more than fits; the runs each piece
    // closes and the next reopens join into one.
    std::string text = start;
    char chunk[256];
    while (!whole && in->read_line(chunk, sizeof chunk, &whole)) {
        if (text.size() < size + 8) {
            text += chunk;
        }
    }
    store_text(text.c_str(), out, size);
}

} // namespace

CONFIG_FILE::CONFIG_FILE() : folder("$APP"), keys(10, 10, nullptr), cached(1), loaded_from("$APP"), loaded(0)
{
    filename[0] = 0;
    set_filename(nullptr, 1);
}

CONFIG_FILE::~CONFIG_FILE()
{
    keys.clear();
}

void CONFIG_FILE::set_filename(const char* name, INT_U8 is_cached)
{
    std::snprintf(filename, sizeof filename, "%s", name ? name : "settings");
    cached = is_cached;
    keys.remove_callback = delete_key;
    keys.clear();
    loaded = 0;
}

short CONFIG_FILE::compare_keys(void* a, void* b, void*)
{
    int r = std::strcmp(static_cast<CONFIG_KEY*>(a)->key, static_cast<CONFIG_KEY*>(b)->key);
    return static_cast<short>(r < 0 ? -1 : r > 0 ? 1 : 0);
}

short CONFIG_FILE::compare_ids(void* a, void* b, void*)
{
    INT_U16 x = static_cast<CONFIG_KEY*>(a)->id;
    INT_U16 y = static_cast<CONFIG_KEY*>(b)->id;
    return static_cast<short>(x < y ? -1 : x > y ? 1 : 0);
}

void CONFIG_FILE::delete_key(void* key)
{
    delete static_cast<CONFIG_KEY*>(key);
}

bool CONFIG_FILE::exists(FOLDER& f)
{
    TEXT_FILE* in = f.open_text_file(filename, fm_read, 0);
    if (!in) {
        return false;
    }
    f.close(in);
    return true;
}

bool CONFIG_FILE::read_key(TEXT_FILE* in, CONFIG_KEY* out, TEXT_FILE* copy_to)
{
    if (!in || !out) {
        return false;
    }
    char chunk[256];
    for (;;) {
        INT_U8 whole = 1;
        if (!in->read_line(chunk, sizeof chunk, &whole)) {
            return false;
        }
        if (chunk[0] == '#') {
            // A comment is copied whole, however long.
            for (;;) {
                if (copy_to) {
                    *copy_to << chunk;
                }
                if (whole || !in->read_line(chunk, sizeof chunk, &whole)) {
                    break;
                }
            }
            if (copy_to) {
                *copy_to << "\n";
            }
            continue;
        }
        std::string blanks;
        const char* p = skip_blanks(chunk);
        while (!*p) {
            if (blanks.size() < sizeof chunk) { // a line of blanks is kept short
                blanks += chunk;
            }
            if (whole || !in->read_line(chunk, sizeof chunk, &whole)) {
                break;
            }
            p = skip_blanks(chunk);
        }
        if (!*p) {
            // An empty (or blank) line is a comment too.
            if (copy_to) {
                *copy_to << blanks.c_str();
                *copy_to << "\n";
            }
            continue;
        }
        take_rest_of_line(in, p, whole, out->key, sizeof out->key);

        if (!in->read_line(chunk, sizeof chunk, &whole)) {
            report(ERRCODE_CONFIG_EARLY_END, nullptr, __LINE__);
            return false;
        }
        p = skip_blanks(chunk);
        while (!*p && !whole && in->read_line(chunk, sizeof chunk, &whole)) {
            p = skip_blanks(chunk);
        }
        take_rest_of_line(in, p, whole, out->value, sizeof out->value);
        return true;
    }
}

TEXT_FILE* CONFIG_FILE::open_for_reading(FOLDER& f)
{
    TEXT_FILE* in = f.open_text_file(filename, fm_read, 0);
    if (!in) {
        report(ERRCODE_CONFIG_OPEN, filename, __LINE__);
    }
    return in;
}

CONFIG_FILE::CONFIG_KEY* CONFIG_FILE::find_cached(const char* key)
{
    CONFIG_KEY probe;
    std::memcpy(probe.key, key, sizeof probe.key);
    long i = keys.find(&probe, compare_keys, nullptr);
    return i < 0 ? nullptr : static_cast<CONFIG_KEY*>(keys.data[i]);
}

bool CONFIG_FILE::read_all_keys(FOLDER& f, INT_U8 report_missing)
{
    keys.empty();
    loaded_from = f;
    loaded = 1;
    TEXT_FILE* in = f.open_text_file(filename, fm_read, 0);
    if (!in) {
        // A file that is there but cannot be read is never taken for an
        // empty one, or the next write would replace it.
        if (!report_missing && !f.file_exists(filename)) {
            return true;
        }
        report(ERRCODE_CONFIG_OPEN, filename, __LINE__);
        return false;
    }
    bool ok = true;
    for (;;) {
        CONFIG_KEY* entry = new (std::nothrow) CONFIG_KEY;
        if (!entry) {
            ok = false;
            break;
        }
        entry->id = static_cast<INT_U16>(keys.count);
        if (!read_key(in, entry, nullptr)) {
            delete entry;
            break;
        }
        if (keys.count >= MAX_ENTRIES || !keys.add(entry)) {
            delete entry;
            ok = false;
            break;
        }
    }
    f.close(in);
    if (!ok) {
        // A part of the file must never pass for all of it: a write
        // would drop the rest.
        keys.empty();
        loaded = 0;
        report(ERRCODE_CONFIG_NO_MEMORY, nullptr, __LINE__);
        return false;
    }
    keys.sort(compare_keys, nullptr);
    return true;
}

bool CONFIG_FILE::ensure_table(FOLDER& f, INT_U8 report_missing)
{
    if (keys.count > 0 && loaded && loaded_from == f) {
        return true;
    }
    return read_all_keys(f, report_missing);
}

bool CONFIG_FILE::write_all_keys(FOLDER& f)
{
    SETTINGS_LOCK lock(f.get_path_string(filename));
    return write_table(f);
}

// The file is written whole: a failed write leaves the old file as it was.
bool CONFIG_FILE::write_table(FOLDER& f)
{
    TEXT_FILE* out = f.open_text_file(filename, fm_write, 0);
    if (!out) {
        report(ERRCODE_CONFIG_OPEN, filename, __LINE__);
        return false;
    }
    keys.sort(compare_ids, nullptr);
    bool ok = true;
    for (long i = 0; i < keys.count; ++i) {
        CONFIG_KEY* k = static_cast<CONFIG_KEY*>(keys.data[i]);
        ok = write_entry(out, k->key, k->value) && ok;
    }
    keys.sort(compare_keys, nullptr);
    if (!f.close(out) || !ok) {
        report(ERRCODE_CONFIG_OPEN, filename, __LINE__);
        return false;
    }
    return true;
}

bool CONFIG_FILE::read(FOLDER& f, const char* key, char* value_out)
{
    set_error_code(ERRCODE_NONE, "");
    if (!key || !*key || !value_out) {
        report(ERRCODE_CONFIG_BAD_ID, nullptr, __LINE__);
        return false;
    }
    char wanted[80];
    clean_key(key, wanted);
    if (!wanted[0]) {
        report(ERRCODE_CONFIG_BAD_ID, nullptr, __LINE__);
        return false;
    }
    if (cached) {
        if (!ensure_table(f, 1)) {
            return false;
        }
        CONFIG_KEY* entry = find_cached(wanted);
        if (!entry) {
            report(ERRCODE_CONFIG_ENTRY_NOT_FOUND, key, __LINE__);
            return false;
        }
        std::memcpy(value_out, entry->value, sizeof entry->value);
        return true;
    }
    TEXT_FILE* in = open_for_reading(f);
    if (!in) {
        return false;
    }
    CONFIG_KEY entry;
    bool found = false;
    while (read_key(in, &entry, nullptr)) {
        if (std::strcmp(entry.key, wanted) == 0) {
            std::memcpy(value_out, entry.value, sizeof entry.value);
            found = true;
            break;
        }
    }
    f.close(in);
    if (found) {
        return true;
    }
    if (current_error_code == ERRCODE_NONE) {
        report(ERRCODE_CONFIG_ENTRY_NOT_FOUND, key, __LINE__);
    }
    return false;
}

bool CONFIG_FILE::read(FOLDER& f, const char* key, INT_U32& number, INT_U8 hex)
{
    char value[256];
    if (!read(f, key, value)) {
        return false;
    }
    if (hex) {
        unsigned int v;
        if (std::sscanf(value, "%X", &v) == 1) {
            number = v;
        }
    } else {
        int v;
        if (std::sscanf(value, "%d", &v) == 1) {
            number = static_cast<INT_U32>(v);
        }
    }
    return true;
}

bool CONFIG_FILE::write(FOLDER& f, const char* key, INT_U32 number, INT_U8 hex)
{
    char value[16];
    if (hex) {
        std::snprintf(value, sizeof value, "%X", static_cast<unsigned int>(number));
    } else {
        std::snprintf(value, sizeof value, "%d", static_cast<int>(number));
    }
    return write(f, key, value);
}

bool CONFIG_FILE::write(FOLDER& f, const char* key, const char* value)
{
    set_error_code(ERRCODE_NONE, "");
    char k[80];
    if (key) {
        clean_key(key, k);
    }
    // A key starting with '#' would be read back as a comment and shift
    // every later entry by one line.
    if (!key || !k[0] || k[0] == '#') {
        report(ERRCODE_CONFIG_BAD_ID, nullptr, __LINE__);
        return false;
    }
    char v[256];
    clean_value(value, v);
    SETTINGS_LOCK lock(f.get_path_string(filename));
    if (!cached) {
        return write_streaming(f, k, v);
    }

    // Read again under the lock: another program may have written since.
    if (!read_all_keys(f, 0)) {
        return false;
    }
    if (CONFIG_KEY* found = find_cached(k)) {
        std::memcpy(found->value, v, sizeof v);
    } else {
        CONFIG_KEY* entry = keys.count < MAX_ENTRIES ? new (std::nothrow) CONFIG_KEY : nullptr;
        if (!entry) {
            report(ERRCODE_CONFIG_NO_MEMORY, nullptr, __LINE__);
            return false;
        }
        entry->id = static_cast<INT_U16>(keys.count);
        std::memcpy(entry->key, k, sizeof entry->key);
        std::memcpy(entry->value, v, sizeof entry->value);
        if (!keys.add(entry)) {
            delete entry;
            report(ERRCODE_CONFIG_NO_MEMORY, nullptr, __LINE__);
            return false;
        }
        keys.sort(compare_keys, nullptr);
    }
    return write_table(f);
}

// The file is written whole, with the old one as its source: a failed write
// leaves the old file as it was.
bool CONFIG_FILE::write_streaming(FOLDER& f, const char* key, const char* value)
{
    TEXT_FILE* in = nullptr;
    if (f.file_exists(filename, 0)) {
        in = f.open_text_file(filename, fm_read, 0);
        if (!in) {
            report(ERRCODE_CONFIG_OPEN, filename, __LINE__);
            return false;
        }
    }
    TEXT_FILE* out = f.open_text_file(filename, fm_write, 0);
    if (!out) {
        f.close(in);
        report(ERRCODE_CONFIG_OPEN, filename, __LINE__);
        return false;
    }
    bool ok = true;
    bool found = false;
    if (in) {
        CONFIG_KEY entry;
        while (read_key(in, &entry, out)) {
            if (std::strcmp(entry.key, key) == 0) {
                found = true;
                ok = write_entry(out, entry.key, value) && ok;
            } else {
                ok = write_entry(out, entry.key, entry.value) && ok;
            }
        }
        f.close(in);
    }
    if (!found) {
        ok = write_entry(out, key, value) && ok;
    }
    if (!f.close(out) || !ok) {
        report(ERRCODE_CONFIG_OPEN, filename, __LINE__);
        return false;
    }
    return true;
}

bool CONFIG_FILE::read_all(FOLDER& f, READ_ALL_CALLBACK callback, void* user)
{
    set_error_code(ERRCODE_NONE, "");
    if (!callback) {
        report(ERRCODE_CONFIG_NO_CALLBACK, nullptr, __LINE__);
        return false;
    }
    if (cached) {
        if (!ensure_table(f, 1)) {
            return false;
        }
        for (long i = 0; i < keys.count; ++i) {
            CONFIG_KEY* k = static_cast<CONFIG_KEY*>(keys.data[i]);
            callback(k->key, k->value, user);
        }
        return true;
    }
    TEXT_FILE* in = open_for_reading(f);
    if (!in) {
        return false;
    }
    CONFIG_KEY entry;
    while (read_key(in, &entry, nullptr)) {
        callback(entry.key, entry.value, user);
    }
    f.close(in);
    return true;
}

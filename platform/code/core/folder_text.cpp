// Text files opened by name in a folder, with the encoding found from the
// first two bytes: FF FE is UTF-16 little-endian, FE FF big-endian,
// anything else 8-bit text read as UTF-8.
#include "folder.h"

#include "text_file.h"

#include <cstdio>
#include <new>

namespace {

// The first two bytes of a stream, -1 for each that is missing.
void read_signature(FILE* fp, int& a, int& b)
{
    a = std::fgetc(fp);
    b = a == EOF ? EOF : std::fgetc(fp);
}

} // namespace

bool FOLDER::open_text_file(const char* name, FILE_MODE mode, INT_U8 unicode, TEXT_FILE* file)
{
    if (!name || !name[0] || !file || file->stream) {
        return false;
    }
    FILE* fp = nullptr;
    INT_U8 utf16 = 0;
    INT_U8 swap = 0;
    int a, b;
    switch (mode) {
    case fm_write:
        fp = open_file(name, unicode ? "wb" : "w");
        if (!fp) {
            return false;
        }
        if (unicode) {
            utf16 = 1;
            if (std::fputc(0xFF, fp) == EOF || std::fputc(0xFE, fp) == EOF) {
                finish_file(fp, false);
                return false;
            }
        }
        break;
    case fm_read:
        fp = open_file(name, "rb");
        if (!fp) {
            return false;
        }
        read_signature(fp, a, b);
        if (a == 0xFF && b == 0xFE) {
            utf16 = 1;
        } else if (a == 0xFE && b == 0xFF) {
            utf16 = 1;
            swap = 1;
        } else {
            std::fclose(fp);
            fp = open_file(name, "r");
            if (!fp) {
                return false;
            }
        }
        break;
    case fm_update:
        fp = open_file(name, "r+b");
        if (!fp) {
            return false;
        }
        read_signature(fp, a, b);
        if (a == 0xFF && b == 0xFE) {
            utf16 = 1;
            std::fseek(fp, 0, SEEK_END);
        } else if (a == 0xFE && b == 0xFF) {
            // big-endian text cannot be appended to: writing is little-endian
            std::fclose(fp);
            return false;
        } else if (a == EOF && unicode) {
            utf16 = 1;
            std::fseek(fp, 0, SEEK_SET);
            if (std::fputc(0xFF, fp) == EOF || std::fputc(0xFE, fp) == EOF) {
                std::fclose(fp);
                return false;
            }
        } else {
            std::fclose(fp);
            fp = open_file(name, "a+");
            if (!fp) {
                return false;
            }
        }
        break;
    default: return false;
    }
    file->stream = fp;
    file->mode = mode;
    file->line_end = 0;
    file->pushback[0] = file->pushback[1] = file->pushback[2] = 0;
    // A stream may reuse the address of one closed earlier: nothing read
    // ahead from that one may be delivered from this one.
    file->held = 0;
    file->in_stream = nullptr;
    file->utf16 = utf16;
    file->swap = swap;
    file->utf8 = 1;
    file->folder = *this;
    file->name = name;
    return true;
}

TEXT_FILE* FOLDER::open_text_file(const char* name, FILE_MODE mode, INT_U8 unicode)
{
    if (!name || !name[0]) {
        return nullptr;
    }
    TEXT_FILE* file = new (std::nothrow) TEXT_FILE;
    if (!file) {
        return nullptr;
    }
    if (!open_text_file(name, mode, unicode, file)) {
        delete file;
        return nullptr;
    }
    return file;
}

bool FOLDER::close(TEXT_FILE*& file)
{
    if (!file) {
        return true;
    }
    bool ok = close_file(file->stream);
    file->stream = nullptr;
    delete file;
    file = nullptr;
    return ok;
}

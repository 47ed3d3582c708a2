// Data files opened by name in a folder.
#include "folder.h"

#include "data_file.h"

#include <cstdio>
#include <new>

bool FOLDER::open_data_file(const char* name, FILE_MODE mode, char byte_order, DATA_FILE* file, INT_U8 gzip)
{
    const char* smode = DATA_FILE::stdio_mode(mode);
    if (!name || !name[0] || !file || !smode || file->is_open()) {
        return false;
    }
    FILE* fp = open_file(name, smode);
    if (!fp) {
        return false;
    }
    // The data file owns the stream from here on, failure included.
    if (!file->open(fp, mode, byte_order, gzip)) {
        return false;
    }
    std::snprintf(file->folder, sizeof(file->folder), "%s", path());
    file->name = name;
    return true;
}

DATA_FILE* FOLDER::open_data_file(const char* name, FILE_MODE mode, char byte_order, INT_U8 gzip)
{
    if (!name || !name[0] || !DATA_FILE::stdio_mode(mode)) {
        return nullptr;
    }
    DATA_FILE* file = new (std::nothrow) DATA_FILE(-1);
    if (!file) {
        return nullptr;
    }
    if (!open_data_file(name, mode, byte_order, file, gzip)) {
        delete file;
        return nullptr;
    }
    return file;
}

bool FOLDER::close(DATA_FILE*& file)
{
    if (!file) {
        return true;
    }
    bool ok = file->close();
    delete file;
    file = nullptr;
    return ok;
}

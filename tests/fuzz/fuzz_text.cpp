// The text reader in every encoding against arbitrary files (UTF-16 by its
// signature, else UTF-8 or plain 8-bit as the first byte's top bit says).
// The first byte also picks the line buffer size (8 to 71 bytes); every
// read must make progress, so the number of calls is bounded by the size.
#include "folder.h"
#include "fuzz_support.h"
#include "text_file.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    kivo_fuzz::install_quiet_host(false);
    const INT_S16 line_size = static_cast<INT_S16>(8 + data[0] % 64);
    const INT_U8 utf8 = data[0] & 0x80 ? 0 : 1;
    if (!kivo_fuzz::write_scratch("text", data + 1, size - 1)) {
        return 0;
    }
    FOLDER folder;
    folder.set_from_path_string(kivo_fuzz::scratch_dir().c_str());
    const size_t bound = 2 * size + 16;
    std::vector<char> line(static_cast<size_t>(line_size));

    TEXT_FILE* f = folder.open_text_file("text", fm_read, 0);
    if (!f) {
        return 0;
    }
    f->utf8 = utf8;
    size_t calls = 0;
    while (f->read_line(line.data(), line_size)) {
        if (++calls > bound) {
            __builtin_trap();
        }
    }
    folder.close(f);

    f = folder.open_text_file("text", fm_read, 0);
    if (!f) {
        return 0;
    }
    f->line_max = line_size;
    f->utf8 = utf8;
    calls = 0;
    while (*f >> line.data()) {
        if (++calls > bound) {
            __builtin_trap();
        }
    }
    folder.close(f);

    f = folder.open_text_file("text", fm_read, 0);
    if (!f) {
        return 0;
    }
    calls = 0;
    while (f->read_char() != -1) {
        if (++calls > bound) {
            __builtin_trap();
        }
    }
    folder.close(f);
    return 0;
}

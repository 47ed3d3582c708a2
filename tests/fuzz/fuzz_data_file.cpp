// The data file layer against a model of its bytes. The input is a program
// of writes, seeks and reads on a small-cache data file, plain (written,
// then updated in place, then read) and compressed (written, then read
// back); every read and the file left on disk must match the model. The
// input as a whole is also read as a compressed file.
#include "data_file.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Reads the program's bytes; 0 once they run out.
struct Program
{
    const INT_U8* p;
    size_t n;
    INT_U8 u8() { return n ? (--n, *p++) : 0; }
    INT_U16 u16() { return static_cast<INT_U16>(u8() | u8() << 8); }
    bool done() const { return n == 0; }
};

constexpr long kMaxPos = 1 << 16; // keeps files small

// A mismatch names its line before it stops the run.
#define check(ok)                                                                                                      \
    do {                                                                                                               \
        if (!(ok)) {                                                                                                   \
            std::fprintf(stderr, "data file differs from its model at line %d\n", __LINE__);                           \
            __builtin_trap();                                                                                          \
        }                                                                                                              \
    } while (0)

std::vector<INT_U8> file_bytes(const std::string& path, bool order_byte)
{
    std::vector<INT_U8> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF) {
            bytes.push_back(static_cast<INT_U8>(c));
        }
        std::fclose(f);
    }
    if (order_byte && !bytes.empty()) {
        bytes.erase(bytes.begin());
    }
    return bytes;
}

void model_write(std::vector<INT_U8>& model, long& pos, const std::vector<INT_U8>& bytes)
{
    if (bytes.empty()) {
        return; // an empty write moves nothing, not even the length
    }
    if (model.size() < static_cast<size_t>(pos) + bytes.size()) {
        model.resize(static_cast<size_t>(pos) + bytes.size(), 0);
    }
    std::copy(bytes.begin(), bytes.end(), model.begin() + pos);
    pos += static_cast<long>(bytes.size());
}

std::vector<INT_U8> take(Program& prog, size_t len)
{
    std::vector<INT_U8> bytes;
    for (size_t i = 0; i < len; ++i) {
        bytes.push_back(prog.u8());
    }
    return bytes;
}

// How the file is open: written (writes and seeks), updated (writes, seeks
// and reads, from its end) or read (seeks and reads, from its start).
enum class Use
{
    write,
    update,
    read,
};

// Writes, seeks (forward only when compressed) and reads, as the use allows.
void run(Program& prog, DATA_FILE& file, std::vector<INT_U8>& model, Use use, bool gzip)
{
    const bool can_read = use != Use::write;
    long pos = use == Use::update ? static_cast<long>(model.size()) : 0;
    const long size = static_cast<long>(model.size());
    check(file.get_pos() == pos);
    for (int ops = 0; ops < 64 && !prog.done(); ++ops) {
        const INT_U8 op = prog.u8() % 3;
        if (op == 0) {
            std::vector<INT_U8> bytes = take(prog, prog.u16() % 3000);
            if (use == Use::read || pos + static_cast<long>(bytes.size()) > kMaxPos) {
                continue;
            }
            check(file.write_data_block(bytes.data(), static_cast<long>(bytes.size())) ==
                  static_cast<long>(bytes.size()));
            model_write(model, pos, bytes);
        } else if (op == 1) {
            long target = prog.u16() % kMaxPos;
            if (gzip && target < pos) {
                continue;
            }
            check(file.set_pos(target, 0) == target);
            pos = target; // like a plain file, only a write after it fills the gap
            if (use == Use::read) {
                check(target >= size || !file.is_at_end());
            }
        } else if (can_read) {
            long len = prog.u16() % 3000;
            std::vector<INT_U8> got(static_cast<size_t>(len) + 1);
            long n = file.read_data_block(got.data(), len);
            long expect = std::max(0L, std::min(len, static_cast<long>(model.size()) - pos));
            if (len < 1) {
                expect = 0;
            }
            check(n == expect);
            if (n > 0) {
                check(std::equal(got.begin(), got.begin() + n, model.begin() + pos));
            }
            pos += n;
            // Read from: at the end once a read came short, never before it.
            if (use == Use::read && len > 0) {
                check(n == len || file.is_at_end());
                check(pos >= size || !file.is_at_end());
            }
        }
        check(file.get_pos() == pos);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    kivo_fuzz::install_quiet_host(false);
    const std::string path = kivo_fuzz::scratch_dir() + "/data";
    Program prog{data, size};
    const INT_U8 flags = prog.u8();
    const int order = flags & 1 ? -1 : 0;

    // Plain: written, then updated in place.
    std::vector<INT_U8> model;
    {
        DATA_FILE file(1024);
        check(file.open(path.c_str(), fm_write, order, 0));
        run(prog, file, model, Use::write, false);
        check(file.close());
        check(file_bytes(path, order == -1) == model);
        check(file.open(path.c_str(), fm_update, order, 0));
        run(prog, file, model, Use::update, false);
        check(file.close());
        check(file_bytes(path, order == -1) == model);
        // Read from, by a program of its own: the input again from its
        // start, so that every input reads.
        Program again{size > 0 ? data + 1 : data, size > 0 ? size - 1 : 0};
        check(file.open(path.c_str(), fm_read, order, 0));
        run(again, file, model, Use::read, false);
        check(file.close());
    }

    // Compressed: written, then read back whole.
    model.clear();
    {
        DATA_FILE file(1024);
        check(file.open(path.c_str(), fm_write, order, 1));
        run(prog, file, model, Use::write, true);
        check(file.close());
        check(file.open(path.c_str(), fm_read, order, 1));
        std::vector<INT_U8> back(model.size() + 1);
        check(file.read_data_block(back.data(), static_cast<long>(back.size())) == static_cast<long>(model.size()));
        check(std::equal(model.begin(), model.end(), back.begin()));
        file.close();
    }

    // The input itself as a compressed file.
    if (kivo_fuzz::write_scratch("raw", data, size)) {
        DATA_FILE file(1024);
        if (file.open((kivo_fuzz::scratch_dir() + "/raw").c_str(), fm_read, order, 1)) {
            INT_U8 buf[4096];
            for (int i = 0; i < 256 && file.read_data_block(buf, sizeof buf) > 0; ++i) {
            }
            file.close();
        }
    }
    return 0;
}

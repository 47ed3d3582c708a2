// Reading a 160k-line text file line by line through TEXT_FILE::read_line
// against std::getline on a std::ifstream and POSIX getline on a FILE*.
// Two files: plain ASCII, and UTF-8 with a signature, accented letters and
// the odd character above U+00FF. The references only split bytes at '\n';
// read_line also decodes UTF-8 into the system's 8-bit text and escape
// runs, so the UTF-8 pairs compare more work with less. Every side opens
// the file once per iteration and reads it to the end.
#include "bench_ratio.h"
#include "folder.h"
#include "text_file.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const int LINES = 160000;

// Lines of 10 to 80 characters of words and spaces; with `utf8`, about one
// word in six carries an accented letter (two bytes) and one line in
// sixteen a character above U+00FF (three bytes), after a signature.
std::string make_text(bool utf8)
{
    std::string out = utf8 ? "\xEF\xBB\xBF" : "";
    unsigned seed = 7;
    auto next = [&seed](unsigned n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int i = 0; i < LINES; ++i) {
        int length = 10 + static_cast<int>(next(71));
        int chars = 0;
        while (chars < length) {
            if (chars > 0 && next(6) == 0) {
                out += ' ';
            } else if (utf8 && next(24) == 0) {
                out += "\xC3\xA9"; // U+00E9
            } else if (utf8 && next(200) == 0) {
                out += "\xE2\x98\xBA"; // U+263A
            } else {
                out += static_cast<char>('a' + next(26));
            }
            ++chars;
        }
        out += '\n';
    }
    return out;
}

struct Files
{
    std::string dir;
    FOLDER folder;

    Files()
    {
        char pattern[] = "/tmp/kivo_text_file_bench_XXXXXX";
        if (!mkdtemp(pattern)) {
            std::fprintf(stderr, "text_file_bench: cannot make a temporary folder\n");
            std::exit(1);
        }
        dir = pattern;
        folder.set_from_path_string(dir.c_str());
        for (int utf8 = 0; utf8 < 2; ++utf8) {
            std::string text = make_text(utf8 != 0);
            std::FILE* f = std::fopen(path(utf8 != 0).c_str(), "wb");
            bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
            ok = f && std::fclose(f) == 0 && ok;
            if (!ok) {
                std::fprintf(stderr, "text_file_bench: cannot write %s\n", path(utf8 != 0).c_str());
                std::exit(1);
            }
        }
    }
    ~Files()
    {
        std::remove(path(false).c_str());
        std::remove(path(true).c_str());
        rmdir(dir.c_str());
    }
    static const char* name(bool utf8) { return utf8 ? "utf8.txt" : "ascii.txt"; }
    std::string path(bool utf8) const { return dir + "/" + name(utf8); }
};

Files& files()
{
    static Files f;
    return f;
}

// Every benchmark checks it saw every line: a reader that stops early
// would otherwise look fast.
void check_lines(benchmark::State& state, long lines)
{
    if (lines != LINES) {
        state.SkipWithError("wrong number of lines");
    }
}

void read_ours(benchmark::State& state, bool utf8)
{
    char buffer[256];
    for (auto _ : state) {
        TEXT_FILE* t = files().folder.open_text_file(Files::name(utf8), fm_read, 0);
        long lines = 0;
        INT_U8 whole = 0;
        while (t && t->read_line(buffer, sizeof buffer, &whole)) {
            lines += whole;
            benchmark::DoNotOptimize(buffer);
        }
        files().folder.close(t);
        check_lines(state, lines);
    }
}

void read_std_getline(benchmark::State& state, bool utf8)
{
    std::string path = files().path(utf8);
    std::string line;
    for (auto _ : state) {
        std::ifstream in(path);
        long lines = 0;
        long bytes = 0;
        while (std::getline(in, line)) {
            ++lines;
            bytes += static_cast<long>(line.size());
        }
        benchmark::DoNotOptimize(bytes);
        check_lines(state, lines);
    }
}

void read_posix_getline(benchmark::State& state, bool utf8)
{
    std::string path = files().path(utf8);
    char* line = nullptr;
    size_t capacity = 0;
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "r");
        long lines = 0;
        long bytes = 0;
        ssize_t n;
        while (f && (n = getline(&line, &capacity, f)) >= 0) {
            ++lines;
            bytes += n;
        }
        if (f) {
            std::fclose(f);
        }
        benchmark::DoNotOptimize(bytes);
        check_lines(state, lines);
    }
    std::free(line);
}

void BM_read_line_ascii(benchmark::State& state)
{
    read_ours(state, false);
}
void BM_std_getline_ascii(benchmark::State& state)
{
    read_std_getline(state, false);
}
void BM_posix_getline_ascii(benchmark::State& state)
{
    read_posix_getline(state, false);
}
void BM_read_line_utf8(benchmark::State& state)
{
    read_ours(state, true);
}
void BM_std_getline_utf8(benchmark::State& state)
{
    read_std_getline(state, true);
}
void BM_posix_getline_utf8(benchmark::State& state)
{
    read_posix_getline(state, true);
}

BENCHMARK(BM_read_line_ascii)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_std_getline_ascii)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_posix_getline_ascii)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_read_line_utf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_std_getline_utf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_posix_getline_utf8)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    files();
    return kivo_bench::run_with_ratios(
        argc, argv,
        {{"160k ASCII lines: TEXT_FILE::read_line vs std::getline on std::ifstream", "BM_read_line_ascii",
          "BM_std_getline_ascii"},
         {"160k ASCII lines: TEXT_FILE::read_line vs POSIX getline on FILE*", "BM_read_line_ascii",
          "BM_posix_getline_ascii"},
         {"160k UTF-8 lines: TEXT_FILE::read_line (decoding) vs std::getline (bytes only)", "BM_read_line_utf8",
          "BM_std_getline_utf8"},
         {"160k UTF-8 lines: TEXT_FILE::read_line (decoding) vs POSIX getline (bytes only)", "BM_read_line_utf8",
          "BM_posix_getline_utf8"}});
}

// The test tree's stand-in for the fuzzing engine: feeds every file of the
// folders (or the files) named on the command line to the target once, in
// name order, each in a buffer of exactly its size so that a read past the
// end is caught. A folder that does not exist is passed over; a crash,
// a sanitizer report or a trap ends the run with a failure, after the name
// of the input that caused it.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Defined by the targets that need a set-up before the first input.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool is_folder(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The regular files of a folder, sorted; hidden files (.gitkeep) left out.
std::vector<std::string> files_in(const std::string& folder)
{
    std::vector<std::string> files;
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        return files;
    }
    while (const dirent* e = readdir(dir)) {
        std::string path = folder + "/" + e->d_name;
        struct stat st;
        if (e->d_name[0] != '.' && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            files.push_back(path);
        }
    }
    closedir(dir);
    std::sort(files.begin(), files.end());
    return files;
}

bool read_file(const std::string& path, std::vector<std::uint8_t>& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return false;
    }
    bytes.clear();
    std::uint8_t block[65536];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) {
        bytes.insert(bytes.end(), block, block + n);
    }
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder or file>...\n", argv[0]);
        return 2;
    }
    if (LLVMFuzzerInitialize) {
        LLVMFuzzerInitialize(&argc, &argv);
    }
    int fed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::string> inputs;
        if (is_folder(argv[i])) {
            inputs = files_in(argv[i]);
        } else if (struct stat st; stat(argv[i], &st) == 0) {
            inputs.push_back(argv[i]);
        } else {
            std::printf("%s: none\n", argv[i]);
            continue;
        }
        for (const std::string& path : inputs) {
            std::vector<std::uint8_t> bytes;
            if (!read_file(path, bytes)) {
                std::fprintf(stderr, "%s: cannot read\n", path.c_str());
                return 1;
            }
            std::printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
            std::fflush(stdout);
            // A copy of exactly the input's size: the sanitizer sees any
            // byte read beyond it (an empty input gets no bytes at all).
            std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size()]);
            std::copy(bytes.begin(), bytes.end(), copy.get());
            LLVMFuzzerTestOneInput(copy.get(), bytes.size());
            ++fed;
        }
    }
    std::printf("%d inputs replayed\n", fed);
    // No input at all means the seeds were not written: that is a failure
    // of the set-up, not a pass.
    return fed > 0 ? 0 : 1;
}

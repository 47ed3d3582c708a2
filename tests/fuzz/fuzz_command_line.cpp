// The framework's command line: the input is the arguments, NUL-separated.
// Ending the program (usage, channel list, unknown option) is an allowed
// outcome.
#include "fuzz_support.h"
#include "utils.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    kivo_fuzz::install_quiet_host(true);
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args{"tollbeck"};
    for (size_t start = 0; start <= text.size() && args.size() < 64;) {
        size_t end = text.find('\0', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        args.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    int new_argc = 0;
    char** new_argv = nullptr;
    try {
        handle_command_line_args(static_cast<int>(args.size()), argv.data(), new_argc, new_argv);
        for (int i = 0; i < new_argc; ++i) {
            if (!new_argv[i]) {
                __builtin_trap();
            }
        }
    } catch (const kivo_fuzz::ProgramEnded&) {
    }
    handle_command_line_args(0, nullptr, new_argc, new_argv);
    return 0;
}

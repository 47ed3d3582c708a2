// A folder's ".hidden" list, read from the disk: a name put in or taken
// out changes its own lines and keeps every other one. The input is a
// name, a newline, then the list.
#include "file_system_catalog_internal.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The list's lines; a last line without its newline is one too.
std::vector<std::string> lines_of(const std::string& list)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < list.size()) {
        std::size_t end = list.find('\n', at);
        if (end == std::string::npos) {
            end = list.size();
        }
        lines.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

std::vector<std::string> without(std::vector<std::string> lines, const std::string& name)
{
    std::vector<std::string> kept;
    for (std::string& l : lines) {
        if (l != name) {
            kept.push_back(std::move(l));
        }
    }
    return kept;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    if (newline == 0 || newline == std::string::npos) {
        return 0;
    }
    const std::string name = input.substr(0, newline), list = input.substr(newline + 1);
    const std::vector<std::string> before = lines_of(list), others = without(before, name);
    const bool listed = before.size() != others.size();

    std::string hidden = list;
    if (fs_edit_hidden_list(hidden, name, true) == listed) {
        std::abort(); // changed exactly when the name was not there
    }
    std::vector<std::string> after = lines_of(hidden);
    if (without(after, name) != others ||
        after.size() - others.size() != (listed ? before.size() - others.size() : 1)) {
        std::abort();
    }
    if (!listed && (hidden.compare(0, list.size(), list) != 0 || hidden.back() != '\n')) {
        std::abort(); // the old bytes first, as they were
    }
    std::string shown = hidden;
    if (!fs_edit_hidden_list(shown, name, false) || lines_of(shown) != others ||
        fs_edit_hidden_list(shown, name, false)) {
        std::abort();
    }
    return 0;
}

// The names of the program's messages, read from the layout and written as
// a header.
#include "pages_names.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

const unsigned long MAX_MESSAGE = 0x7FFFFFFF;

bool is_capital(char c)
{
    return c >= 'A' && c <= 'Z';
}

bool is_name(const std::string& name)
{
    if (name.empty() || !is_capital(name[0])) {
        return false;
    }
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return is_capital(c) || (c >= '0' && c <= '9') || c == '_'; });
}

// Decimal, or hex after 0x; digits only, so no sign or space slips in.
bool message_number(const std::string& text, unsigned long& out)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [hex](char c) {
            return hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : c >= '0' && c <= '9';
        })) {
        return false;
    }
    errno = 0;
    out = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
    return errno == 0 && out <= MAX_MESSAGE;
}

const char* kind_of(bool creation)
{
    return creation ? "a creation" : "an action";
}

} // namespace

std::string PAGE_MESSAGE_NAMES::start_page(const std::string& page_name)
{
    std::string space;
    bool gap = false;
    for (char c : page_name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u) && u < 128) {
            if (gap && !space.empty()) {
                space += '_';
            }
            space += static_cast<char>(std::tolower(u));
            gap = false;
        } else {
            gap = true;
        }
    }
    if (space.empty() || !std::isalpha(static_cast<unsigned char>(space[0]))) {
        return "the page's name must start with a letter to name its messages";
    }
    space += "_messages";
    for (const PAGE& p : pages) {
        if (p.space == space) {
            return "the page's messages would share " + space + " with the page \"" + p.page_name + "\"";
        }
    }
    pages.push_back({page_name, space, {}});
    return "";
}

std::string PAGE_MESSAGE_NAMES::add(const std::string& word, bool creation, INT_U32& number)
{
    number = 0;
    if (word == "0") {
        return "";
    }
    const size_t eq = word.find('=');
    if (eq == std::string::npos) {
        return std::string("the message \"") + word + "\" needs a name: NAME=" + word;
    }
    const std::string name = word.substr(0, eq);
    unsigned long value = 0;
    if (!is_name(name)) {
        return "the message name \"" + name + "\" is not capitals, digits and '_' from a capital";
    }
    if (!message_number(word.substr(eq + 1), value) || value == 0) {
        return "the message " + name + " needs a number from 1 to 0x7FFFFFFF";
    }
    if (pages.empty()) {
        return "a message needs a page before it";
    }
    const INT_U32 n = static_cast<INT_U32>(value);
    PAGE& page = pages.back();
    for (const NAME& known : page.names) {
        if (known.name == name && (known.number != n || known.creation != creation)) {
            return name + " is already " + kind_of(known.creation) + " " + std::to_string(known.number) +
                   " of this page";
        }
        if (known.number == n && known.name != name) {
            return std::to_string(n) + " is already " + kind_of(known.creation) + " of this page, named " + known.name;
        }
    }
    // Widgets sharing a message (two buttons doing one thing) list it once.
    if (std::none_of(page.names.begin(), page.names.end(), [&](const NAME& k) { return k.name == name; })) {
        page.names.push_back({name, n, creation});
    }
    number = n;
    return "";
}

std::string PAGE_MESSAGE_NAMES::header() const
{
    std::ostringstream out;
    out << "// The names of the program's messages, one namespace per page. Made by\n"
           "// pages_gen from the layout at build time: change the layout, not this.\n"
           "#ifndef TOLLBECK_PAGE_MESSAGES_H\n"
           "#define TOLLBECK_PAGE_MESSAGES_H\n\n"
           "#include \"kivo_types.h\"\n";
    const struct
    {
        bool creation;
        const char* comment;
        const char* type;
    } kinds[] = {{false, "What its widgets send when used.", "ACTION"},
                 {true, "What its widgets send once built, to be remembered or filled in.", "CREATION"}};
    for (const PAGE& page : pages) {
        std::vector<NAME> names = page.names;
        std::sort(names.begin(), names.end(), [](const NAME& a, const NAME& b) { return a.number < b.number; });
        out << "\n// The page \"" << page.page_name << "\".\n"
            << "namespace " << page.space << " {\n";
        for (const auto& kind : kinds) {
            out << "// " << kind.comment << "\n"
                << "enum " << kind.type << " : INT_U32\n{\n";
            for (const NAME& n : names) {
                if (n.creation == kind.creation) {
                    out << "    " << n.name << " = " << n.number << ",\n";
                }
            }
            out << "};\n";
        }
        out << "} // namespace " << page.space << "\n";
    }
    out << "\n#endif\n";
    return out.str();
}

bool write_file_if_changed(const std::string& path, const std::string& text)
{
    {
        std::ifstream old(path, std::ios::binary);
        std::ostringstream held;
        if (old && held << old.rdbuf() && held.str() == text) {
            return true;
        }
    }
    const std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            std::remove(part.c_str());
            return false;
        }
    }
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        std::remove(part.c_str());
        return false;
    }
    return true;
}

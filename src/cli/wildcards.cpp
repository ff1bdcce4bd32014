#include "cli/wildcards.h"

#include "ulit_dat/platform.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace rawdat::cli {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool hasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

} // namespace

bool matchesWildcard(const std::string& pattern, const std::string& name)
{
    // Greedy with one point of return: the last `*` seen.
    std::size_t p = 0, n = 0, star = std::string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
            // A `?` takes one character; a UTF-8 sequence is one character.
            if (pattern[p] == '?')
                while (n + 1 < name.size() && (static_cast<unsigned char>(name[n + 1]) & 0xC0) == 0x80)
                    ++n;
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::vector<std::string> expandWildcards(const std::vector<std::string>& args)
{
    std::vector<std::string> out;
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options && a == "--")
            options = false;
        const std::size_t slash = a.find_last_of("/\\");
        const std::string folder = slash == std::string::npos ? std::string() : a.substr(0, slash + 1);
        const std::string pattern = a.substr(folder.size());
        if (i == 0 || (options && !a.empty() && a[0] == '-') || !hasWildcard(pattern) || hasWildcard(folder)) {
            out.push_back(a);
            continue;
        }
        std::vector<std::string> names;
        std::error_code ec;
        const fs::path dir = folder.empty() ? fs::path(".") : platform::fsPath(folder);
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = platform::utf8(it->path().filename());
            // Hidden entries only when asked for by name, as shells do.
            if ((name[0] != '.' || pattern[0] == '.') && matchesWildcard(pattern, name))
                names.push_back(name);
        }
        if (names.empty()) {
            out.push_back(a); // refused by the conversion: no Windows name holds * or ?
            continue;
        }
        std::sort(names.begin(), names.end());
        for (const std::string& n : names)
            out.push_back(folder + n);
    }
    return out;
}

} // namespace rawdat::cli

#include "ulit_dat/names.h"

namespace rawdat {

std::string replaceExtension(const std::string& name, std::string_view ext, std::string_view suffix)
{
#ifdef _WIN32
    constexpr const char* kSeparators = "/\\";
#else
    constexpr const char* kSeparators = "/";
#endif
    const std::size_t slash = name.find_last_of(kSeparators);
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = name.rfind('.');
    const std::size_t keep = (dot != std::string::npos && dot > nameStart) ? dot : name.size();
    std::string out = name.substr(0, keep);
    out += suffix;
    out += '.';
    out += ext;
    return out;
}

} // namespace rawdat

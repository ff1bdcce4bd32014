// Wildcards in file arguments, for systems whose shell leaves them to the program (Windows).
#pragma once

#include <string>
#include <vector>

namespace rawdat::cli {

// Each argument whose last component holds `*` or `?` becomes the names of the entries of its
// folder that match (ignoring ASCII letter case, as Windows names do), sorted by name; one that
// matches nothing, an option, and argv[0] stay as they are.
std::vector<std::string> expandWildcards(const std::vector<std::string>& args);

// Whether `name` matches `pattern` (`*` any run of characters, `?` one), ignoring ASCII case.
bool matchesWildcard(const std::string& pattern, const std::string& name);

} // namespace rawdat::cli

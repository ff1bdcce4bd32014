// The one rule by which outputs are named after their input.
#pragma once

#include <string>
#include <string_view>

namespace rawdat {

// The input's path with its last extension (the text after the last dot of the file name, when
// the name has one that is not its first character) replaced by `suffix` + "." + `ext`, or with
// that appended: "sub/ab" -> "sub/ab.RAW", "run.2024/scan" -> "run.2024/scan.RAW", "x.dat" ->
// "x.RAW"; with suffix "_2": "x.raw" -> "x_2.TXT".
std::string replaceExtension(const std::string& name, std::string_view ext, std::string_view suffix = {});

} // namespace rawdat

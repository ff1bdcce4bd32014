// F1B files and scan parameter files for tests, built line by line.
#pragma once

#include "ulit_dat/numtext.h"

#include <cmath>
#include <cstdint>
#include <string>

namespace rawdat::test {

// `text` placed in columns a.. of `line` (from 1), the line padded with blanks as needed.
inline void place(std::string& line, std::size_t a, const std::string& text)
{
    if (line.size() < a - 1 + text.size())
        line.resize(a - 1 + text.size(), ' ');
    line.replace(a - 1, text.size(), text);
}

inline std::string rightAligned(const std::string& s, std::size_t w) { return std::string(w - s.size(), ' ') + s; }

// Count c of scan k.
inline std::int32_t countOf(int k, int c) { return 1000 * k + c; }

struct F1bSpec {
    int n = 1280;
    int scans = 3;
    std::string step = "0.010000";   // s, columns 78-85 of the first block's line 3
    std::string wavelength = "1.540560";
    std::string comment = "12/03/2021 10:11:12 sample run seven";
    std::string label = "  SCAN00001";
};

// An F1B file of layout.scans blocks, each line ended by LF.
inline std::string makeF1b(const F1bSpec& layout)
{
    const int nl = static_cast<int>(std::nearbyint(layout.n / 10.0));
    std::string text = "F1B title line\n";
    for (int k = 1; k <= layout.scans; ++k) {
        text += (k == 1 ? layout.comment : "block " + std::to_string(k)) + "\n";
        text += layout.label.substr(0, layout.label.size() - 1) + std::to_string(k) + "\n";
        std::string l3;
        place(l3, 2, rightAligned(fixedText(0.5 * k, 4), 12));     // Extra52
        place(l3, 15, rightAligned(fixedText(60.0 + k, 2), 8));    // AcqTime
        if (k == 1) {
            place(l3, 69, layout.wavelength);
            place(l3, 78, layout.step);
        }
        text += l3 + "\n";
        text += (k == 1 ? rightAligned(std::to_string(layout.n), 4) : std::string("----")) + "\n";
        for (int i = 1; i <= nl; ++i) {
            std::string line;
            for (int j = 1; j <= 10; ++j)
                line += "  " + rightAligned(std::to_string(countOf(k, 10 * (i - 1) + j)), 8);
            text += line + "\n";
        }
        text += "end of block\n";
    }
    return text;
}

// Parameter line k: values 10 k + 1 .. 10 k + 7.
inline std::string makeParams(int lines)
{
    std::string text;
    for (int k = 1; k <= lines; ++k) {
        std::string line = "scan " + std::to_string(k);
        for (int j = 1; j <= 7; ++j)
            place(line, static_cast<std::size_t>(10 + 9 * (j - 1)), rightAligned(fixedText(10.0 * k + j, 3), 8));
        text += line + "\r\n";
    }
    return text;
}

} // namespace rawdat::test

// The reflections of a line-position standard: the cubic standards rawdat knows (LaB6, Si,
// CeO2, with the cell edges of their current certificates) and lists of d-spacings read from a
// text file for any other.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rawdat::calib {

struct Reflection {
    std::string label; // "110", "300+221" (indices of 10 and more spaced: "10 0 0"), or "d=1.23456"
    double d = 0.0;    // spacing, angstroms
};

// The names accepted for --standard: "lab6", "si", "ceo2" (any letter case).
bool isStandardName(std::string_view name);
// The reflections of a known standard whose spacing is at least dMin, from the largest spacing
// down. Reflections that share h^2 + k^2 + l^2 fall on one line, labelled with every hkl.
std::vector<Reflection> standardReflections(std::string_view name, double dMin);
// The standard's display name: "LaB6", "Si", "CeO2".
std::string standardTitle(std::string_view name);
// A list of d-spacings, one number in angstroms a line; '#' starts a comment, blank lines are
// skipped. Refuses (naming `file`) a line that holds anything else or a spacing that is not
// positive, and a list without any spacing.
std::vector<Reflection> readLines(const std::string& text, const std::string& file);

} // namespace rawdat::calib

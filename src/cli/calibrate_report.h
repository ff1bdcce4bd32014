// The report of `rawdat-convert calibrate` on one file: lines of text, or JSON Lines.
#pragma once

#include "calibrate/calibrate.h"

#include <string>
#include <vector>

namespace rawdat::cli {

// `file` as it is to be shown, `standard` the standard's name ("LaB6") or the --lines file.
std::vector<std::string> calibrationReport(const std::string& file, const std::string& standard,
                                           const calib::Result& r, bool json);

} // namespace rawdat::cli

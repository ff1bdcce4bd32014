// Short readable summaries of the FDT, DTB and CAL files, one line of text each, for front ends
// that show what a file holds. Errors are those of the readers (InOutError, Refusal).
#pragma once

#include <string>
#include <vector>

namespace rawdat {

// Scans, channels, comments, date, wavelength, step per channel, the stored calibration name,
// and one line per scan: label, counting time, theta, total and highest count.
std::vector<std::string> describeFdt(const std::string& path);
// Entry type and count, the header values, and the pairs of the first entries.
std::vector<std::string> describeDtb(const std::string& path);
// Wavelength, the kind of calibration, its coefficients or its knots.
std::vector<std::string> describeCal(const std::string& path);

} // namespace rawdat

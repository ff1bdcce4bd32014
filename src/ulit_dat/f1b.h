// F1B multi-scan text file and its scan parameter file, converted by TLitdat::lect_F1B (f1b.cpp)
// into an FDT scan file (fdt.h) and a calibration file.
//
// F1B file: lines end with LF (a CR before it stays in the line); the end of the file or a byte
// 26 ends the last line. Columns count from 1; a field shorter than its columns is what there is.
//   line 1           title, not used
//   then one block of nl + 5 lines per scan (N channels, nl = Round(N / 10)):
//     block line 1   first block: the whole line is Comment1, columns 1-20 the Date
//     block line 2   columns 3-11: the scan label (Source), padded with up to five blanks
//     block line 3   columns 2-13: Extra52; 15-22: AcqTime;
//                    first block: 69-76 Wavelength, 78-85 the step per channel s (ExtraReal0)
//     block line 4   first block: columns 1-4: N
//     lines 5..4+nl  ten counts a line: count j of a line in columns 10 (j - 1) + 3 .. + 10
//     line 5 + nl    not used
//   The scan count is Round((T - 1) / (N / 10 + 5)), T the number of lines (at least 6).
//
// Scan parameter file: CR LF lines, line k for scan k. Seven values in columns 10-17, 19-26,
// 28-35, 37-44, 46-53, 55-62, 64-71 go to Extra20 (also the calibration's offset b), Theta,
// Axis1, Axis2, Axis3, Extra40, Axis4. A missing line gives seven zeros.
//
// Numeric fields: leading blanks skipped, then the leading number; an empty field is 0.
#pragma once

#include <cstdint>
#include <string>

namespace rawdat {

// The per-scan shape that a channel count N gives.
struct F1bShape {
    std::int32_t dataLines = 0;  // nl = Round(N / 10)
    std::int16_t kChannels = 0;  // Round(N / 1024), at least 1
};

// The shape of a scan of `n` channels; refuses N below 2 and an N whose 1024 KChannels or 10 nl
// counts Data cannot hold.
F1bShape f1bShape(const std::string& file, std::int32_t n);

// The files lect_F1B writes for the F1B file `f1bFile`: NAME.fdt and NAME.cal, NAME being its
// path with its extension taken off (replaceExtension); the FDT header's CalName is NAME.CAL.
struct F1bOutputs {
    std::string fdt;
    std::string cal;
};
F1bOutputs f1bOutputs(const std::string& f1bFile);

} // namespace rawdat

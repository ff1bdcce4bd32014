// A detector calibration from a measured line-position standard: the peaks of the pattern are
// fitted, matched to the standard's reflections without knowing the detector's zero or scale,
// and the channels of the matched peaks become the knots of a spline calibration (MakeCalibration)
// that can be written as a CAL file.
#pragma once

#include "calibrate/peaks.h"
#include "calibrate/standard.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/records.h"

#include <string>
#include <vector>

namespace rawdat::calib {

// Fewer matched reflections than this, or match residuals above kMaxResidual degrees, and no
// calibration is made.
inline constexpr int kMinMatched = 5;
inline constexpr double kMaxResidual = 0.05;
// Nor when more than kMaxStrongUnmatched of the kStrongest highest peaks match no reflection, or
// fewer than two thirds of the standard's reflections between the first and last knots have a
// peak: the pattern is not the standard's at this wavelength.
inline constexpr int kStrongest = 8;
inline constexpr int kMaxStrongUnmatched = 2;

struct Matched {
    Reflection line;
    PeakFit peak;
    double expected = 0.0;   // the reflection's 2-theta at the K-alpha-1 wavelength, degrees
    double fitted = 0.0;     // the new calibration's 2-theta at the peak's centre
    double residual = 0.0;   // fitted - expected
    double leaveOut = 0.0;   // the same from a calibration made without this knot
    double fwhm = 0.0;       // profile width at half height, degrees
};

// Two neighbouring knots farther apart than an eighth of the detector.
struct Gap {
    double fromChannel, toChannel, fromAngle, toAngle;
};

struct Result {
    double wavelength = 0.0;
    std::string anode;       // the anode whose K-alpha-1 the wavelength is ("Cu"), or empty
    bool doublets = false;   // profiles fitted as K-alpha-1/K-alpha-2 pairs
    int found = 0;           // peaks found
    int reflections = 0;     // reflections matched (also when refused)
    std::vector<Matched> matched;       // in channel order; the knots of `cal` (none when refused)
    std::vector<double> unmatched;      // centres (channels) of the other peaks found
    double rms = 0.0, maxAbs = 0.0, leaveOutRms = 0.0;
    double fromAngle = 0.0, toAngle = 0.0;     // 2-theta of the first and last knots
    double fromChannel = 0.0, toChannel = 0.0;
    double linesFrom = 0.0, linesTo = 0.0;     // the standard's lines on the detector
    double coverage = 0.0;                     // (toAngle - fromAngle) / (linesTo - linesFrom)
    std::vector<Gap> gaps;
    int linesInRange = 0;    // the standard's lines between the first and last knots
    int linesWithPeak = 0;   // those a peak found or fitted matches (overlapping ones included)
    int strongUnmatched = 0; // of the kStrongest highest peaks, those no line explains
    TCalibration cal;        // valid when refusal is empty
    std::string refusal;     // why no calibration is made
};

// Calibrates the detector from the counts of a standard measured at `wavelength` (angstroms).
Result calibrate(const Counts& y, const std::vector<Reflection>& lines, double wavelength);

// The anode row of the RAW writer's table whose K-alpha-1 is `wavelength` to the thousandth;
// 0 when none.
int anodeOf(double wavelength);

// Writes `cal` to `target` through one output group (NoClobber: an existing file is never
// replaced, fsio::TargetExists).
void writeCal(const std::string& target, const TCalibration& cal, fsio::OutputGroup::Placement placement);

} // namespace rawdat::calib

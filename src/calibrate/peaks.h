// Peaks of a detector pattern: where they are (a smoothed second derivative), and each one's
// centre, width and height from a least-squares fit of a pseudo-Voigt profile, or of a
// K-alpha-1/K-alpha-2 pair, on a local straight background.
#pragma once

#include <vector>

namespace rawdat::calib {

// Counts[i] is the count of channel i + 1; positions below are channel numbers (from 1).
using Counts = std::vector<double>;

struct PeakGuess {
    double channel = 0.0;      // the channel of the filtered maximum
    double fwhm = 0.0;         // channels, from the filter's zero crossings
    double significance = 0.0; // filtered height over its counting noise
};

// The local maxima of the smoothed negative second derivative whose significance reaches
// `minSignificance`, in channel order.
std::vector<PeakGuess> findPeaks(const Counts& y, double minSignificance);

struct PeakFit {
    bool ok = false;       // converged, centre inside its window, width plausible
    double centre = 0.0;   // K-alpha-1 centre, channels
    double sigma = 0.0;    // its standard uncertainty, channels
    double fwhm = 0.0;     // channels
    double eta = 0.0;      // Lorentzian fraction, 0..1
    double height = 0.0;   // counts above the background (K-alpha-1 component)
    double chi2 = 0.0;     // weighted sum of squares at the solution
    int points = 0;        // channels fitted
};

// Fits one peak near `guess`. With `ka2Offset` non-zero, the profile is a pair: a second
// component of the same shape `ka2Offset` channels from the first and `ka2Ratio` times as high.
PeakFit fitPeak(const Counts& y, const PeakGuess& guess, double ka2Offset = 0.0, double ka2Ratio = 0.0);

} // namespace rawdat::calib

// Synthetic standards measured on a detector whose calibration only the generator knows: 4096
// channels over about 120 degrees, a smooth departure from a straight line, pseudo-Voigt peaks
// 2 to 6 channels wide (optionally with their K-alpha-2 line), background and Poisson noise.
#pragma once

#include "calibrate/peaks.h"

#include <cstdint>
#include <string>

namespace rawdat::test {

struct StandardRecipe {
    std::string standard = "lab6";
    double wavelength = 1.54056;  // K-alpha-1
    bool ka2 = false;             // add the anode's K-alpha-2 line at half height
    double bend = 0.3;            // degrees: the calibration's departure from a straight line
    double height = 20000.0;      // counts at the top of the strongest peak
    double background = 300.0;
    std::uint32_t seed = 1;
    int channels = 4096;
};

struct Synthetic {
    StandardRecipe recipe;
    calib::Counts counts;
    // The hidden calibration: 2-theta of a channel.
    double trueAngle(double channel) const;
};

Synthetic makeStandard(const StandardRecipe& recipe);

} // namespace rawdat::test

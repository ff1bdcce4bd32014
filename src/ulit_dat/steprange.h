// The number of points of a constant-step range, as the text writers count them.
#pragma once

#include <string>

namespace rawdat {

// Points of start, start + step, ... up to stop: q = (stop - start) / step in extended precision,
// taken as the whole number it lies within 1e-6 of (a quotient a hair below a whole number
// through rounding still counts its last point), then Trunc(q + 1). A result of 0 or less means
// no point. Refuses, naming `file`, a step of 0, a range that is not finite, and more points than
// the 32767 values a work array holds.
double stepPointCount(const std::string& file, double start, double step, double stop);

} // namespace rawdat

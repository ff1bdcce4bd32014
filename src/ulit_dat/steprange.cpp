#include "ulit_dat/steprange.h"

#include "ulit_dat/errors.h"
#include "ulit_dat/numtext.h"
#include "ulit_dat/records.h"

#include <cmath>

namespace rawdat {

double stepPointCount(const std::string& file, double start, double step, double stop)
{
    if (step == 0.0 || !std::isfinite(step) || !std::isfinite(start) || !std::isfinite(stop))
        throw Refusal(file, "the scan's step is 0 or its range is not finite; no points to write");
    long double q = (static_cast<long double>(stop) - start) / step;
    const long double nearest = std::nearbyint(q);
    if (std::fabs(q - nearest) <= 1e-6L)
        q = nearest;
    const long double points = std::trunc(q + 1);
    if (points > kDataCapacity)
        throw Refusal(file, "the range holds " + fixedText(static_cast<double>(points), 0) +
                                " points; at most " + intText(kDataCapacity) + " can be written");
    return static_cast<double>(points) + 0.0; // never -0
}

} // namespace rawdat

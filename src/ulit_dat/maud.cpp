// Step-scan text export: Ecr_MAUD. Every line, the last included, ends with a lone CR (13).
//   line 1       first 30 characters of Comment1
//   line 2       count, " ", step (5.3), " ", start (7.3), " ", Wavelength (8.6), " 1"
//   lines 3..    one intensity per line, rounded to a whole number
// count = Trunc((end - start) / step + 1), the quotient taken as the whole number it lies within
// 1e-6 of, as the TXT writer counts its points.
#include "ulit_dat/errors.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/numtext.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace rawdat {

namespace {

std::int64_t pointCount(const std::string& file, double start, double step, double stop)
{
    if (step == 0.0)
        throw Refusal(file, "the step is 0");
    long double q = (static_cast<long double>(stop) - start) / step;
    if (!std::isfinite(q) || q + 1 <= std::numeric_limits<std::int32_t>::min())
        throw Refusal(file, "the range from " + fixedText(start, 3) + " to " + fixedText(stop, 3) +
                                " gives no point count");
    const long double whole = std::nearbyint(q);
    if (std::fabs(q - whole) <= 1e-6L)
        q = whole;
    const long double count = std::trunc(q + 1);
    if (count > kDataCapacity)
        throw Refusal(file, "the range from " + fixedText(start, 3) + " to " + fixedText(stop, 3) +
                                " by " + fixedText(step, 3) + " holds " + fixedText(static_cast<double>(count), 0) +
                                " points, more than the " + intText(kDataCapacity) + " values it can take");
    return static_cast<std::int64_t>(count);
}

} // namespace

void TLitdat::Ecr_MAUD(const std::string& FileName, const TScanHeader& Header, const TScanParams&,
                       const TReal48Array& Values, double Start, double Step, double Stop)
{
    const std::int64_t count = pointCount(FileName, Start, Step, Stop);
    std::string out;
    out.reserve(64 + 12 * static_cast<std::size_t>(count > 0 ? count : 0));
    out += Header.Comment1.view().substr(0, 30);
    out += '\r';
    out += intText(count);
    out += ' ';
    appendFixed(out, Step, 3, 5);
    out += ' ';
    appendFixed(out, Start, 3, 7);
    out += ' ';
    appendFixed(out, Header.Wavelength, 6, 8);
    out += " 1\r";
    for (std::int64_t i = 1; i <= count; ++i) {
        appendFixed(out, Values[static_cast<int>(i)].value(), 0, 1);
        out += '\r';
    }
    fsio::writeFileAtomic(FileName, out);
}

} // namespace rawdat

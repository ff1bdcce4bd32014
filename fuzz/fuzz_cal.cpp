// Lect_CAL on any bytes: a defined result or a RawdatError with the record untouched; a spline
// record it accepts is usable (1..100 knots, increasing, finite); what it reads is written again
// by Ecr_CAL and read back bit for bit.
#include "harness.h"
#include "ulit_dat/litdat.h"

#include <cmath>

using namespace rawdat;
using namespace rawdat::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Scratch& scratch = freshScratch();
    const std::string path = scratch.write("in.CAL", data, size);
    TLitdat lit;
    const TCalibration before = markedCalibration();
    TCalibration cal = before;

    bool opened = false;
    if (!succeeds([&] { opened = lit.Lect_CAL(path, cal); })) {
        if (!sameCalibration(cal, before))
            fault("Lect_CAL failed and changed the record");
        return 0;
    }
    if (!opened)
        fault("Lect_CAL returned false for a file that exists");
    if (cal.SplineFlag != 0) {
        if (cal.KnotCount < 1 || cal.KnotCount > kMaxKnots)
            fault("Lect_CAL accepted a spline of " + std::to_string(cal.KnotCount) + " knots");
        for (int i = 1; i <= cal.KnotCount; ++i) {
            for (double v :
                 {cal.KnotPos[i], cal.KnotAngle[i], cal.SplineB[i], cal.SplineC[i], cal.SplineD[i]})
                if (!std::isfinite(v))
                    fault("Lect_CAL accepted a knot that is not finite");
            if (i > 1 && !(cal.KnotPos[i] > cal.KnotPos[i - 1]))
                fault("Lect_CAL accepted knots that do not increase");
        }
    }

    const std::string again = scratch.path("again.CAL");
    if (!succeeds([&] { lit.Ecr_CAL(again, cal); }))
        fault("Ecr_CAL refused what Lect_CAL read");
    TCalibration back = before;
    if (!succeeds([&] { opened = lit.Lect_CAL(again, back); }) || !opened)
        fault("Lect_CAL failed on what Ecr_CAL wrote");
    if (!sameCalibration(back, cal))
        fault("a calibration changed through Ecr_CAL and Lect_CAL");
    return 0;
}

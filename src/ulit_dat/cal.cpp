// CAL calibration file.
//
//  offset  size  content
//  0       2     bytes 0x4B, 0x64 (skipped by the reader)
//  2       8     CalWavelength (Double)
//  10      4     CalExtra
//  14      88    PolyCoef 1..11 (Doubles)
//  102     2     bytes 0x64, 0x81 (skipped)
//  104     2     SplineFlag; 0 (polynomial) ends the file here: 106 bytes
//  106     2     KnotCount
//  108     4062  500 Doubles in running order r = 1..500, two filler bytes (zero from the writer)
//                before every r that is a multiple of 16: r = 1..100 are KnotPos 1..100, then knot
//                by knot KnotAngle, SplineB, SplineC, SplineD. Value r starts at
//                108 + 8 (r - 1) + 2 (r div 16).
//  4170    2     bytes 0x64, 0x81 (skipped); a spline file is 4172 bytes
//
// All 100 knots are stored whatever KnotCount says. The reader checks a spline record (knot count
// 1..100, strictly increasing positions, finite values) and fills the caller's record only when
// the whole file has been read and checked.
#include "ulit_dat/litdat.h"

#include "ulit_dat/binio.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/numtext.h"

#include <cmath>

namespace rawdat {

namespace {

constexpr int kRunningValues = 500;

// The field that running value r (1..500) of a spline record fills.
template <class Cal>
auto& runningValue(Cal& c, int r)
{
    if (r <= kMaxKnots)
        return c.KnotPos[r];
    const int j = (r - kMaxKnots - 1) / 4 + 1;
    switch ((r - kMaxKnots - 1) % 4) {
    case 0: return c.KnotAngle[j];
    case 1: return c.SplineB[j];
    case 2: return c.SplineC[j];
    default: return c.SplineD[j];
    }
}

void checkSpline(const TCalibration& c, const std::string& file)
{
    const int n = c.KnotCount;
    if (n < 1 || n > kMaxKnots)
        throw Refusal(file, "spline calibration with " + intText(n) + " knots; 1 to 100 expected");
    for (int i = 1; i <= n; ++i) {
        for (double v : {c.KnotPos[i], c.KnotAngle[i], c.SplineB[i], c.SplineC[i], c.SplineD[i]})
            if (!std::isfinite(v))
                throw Refusal(file, "knot " + intText(i) + " of the spline calibration holds a value that is not a finite number");
        if (i > 1 && !(c.KnotPos[i] > c.KnotPos[i - 1]))
            throw Refusal(file, "knot positions of the spline calibration do not increase (knot " + intText(i) +
                                    " at " + fixedText(c.KnotPos[i], 4) + " after " + fixedText(c.KnotPos[i - 1], 4) +
                                    ")");
    }
}

} // namespace

bool TLitdat::Lect_CAL(const std::string& FileName, TCalibration& Cal)
{
    const auto bytes = fsio::tryReadFile(FileName, {kCalMaxSize, "CAL"});
    if (!bytes)
        return false;
    ByteReader r(*bytes, FileName);
    TCalibration c = Cal; // fields the file does not hold keep their values
    r.skip(2);
    c.CalWavelength = r.f64(); // offset 2
    c.CalExtra = r.u32();      // offset 10
    for (int k = 1; k <= 11; ++k)
        c.PolyCoef[k] = r.f64(); // offset 14
    r.skip(2);
    c.SplineFlag = r.i16(); // offset 104
    if (c.SplineFlag != 0) {
        c.KnotCount = r.i16(); // offset 106
        for (int v = 1; v <= kRunningValues; ++v) {
            if (v % 16 == 0)
                r.skip(2);
            runningValue(c, v) = r.f64();
        }
        r.skip(2); // offset 4170
        checkSpline(c, FileName);
    }
    Cal = c;
    return true;
}

void TLitdat::Ecr_CAL(const std::string& FileName, const TCalibration& Cal)
{
    fsio::writeFileAtomic(FileName, calBytes(Cal));
}

Bytes TLitdat::calBytes(const TCalibration& Cal) const
{
    ByteWriter w(kCalMaxSize);
    w.u8(0x4B);
    w.u8(0x64);
    w.f64(Cal.CalWavelength);
    w.u32(Cal.CalExtra);
    for (int k = 1; k <= 11; ++k)
        w.f64(Cal.PolyCoef[k]);
    w.u8(0x64);
    w.u8(0x81);
    w.i16(Cal.SplineFlag);
    if (Cal.SplineFlag != 0) {
        w.i16(Cal.KnotCount);
        for (int v = 1; v <= kRunningValues; ++v) {
            if (v % 16 == 0)
                w.u16(0);
            w.f64(runningValue(Cal, v));
        }
        w.u8(0x64);
        w.u8(0x81);
    }
    return w.take();
}

} // namespace rawdat

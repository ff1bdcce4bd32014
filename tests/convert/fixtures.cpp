#include "fixtures.h"

#include <cmath>

namespace rawdat::test {

TCalibration lineCalibration(double firstChannel, double lastChannel, double offset, double slope, int knots)
{
    TCalibration c;
    c.CalWavelength = 1.54056;
    c.SplineFlag = 1;
    c.KnotCount = static_cast<std::int16_t>(knots);
    for (int i = 1; i <= knots; ++i) {
        const double ch = firstChannel + (lastChannel - firstChannel) * (i - 1) / (knots - 1);
        c.KnotPos[i] = ch / 1000.0;
        c.KnotAngle[i] = offset + slope * ch;
        c.SplineB[i] = slope * 1000.0;
    }
    return c;
}

DatScan datScan(int size, const std::string& calName)
{
    DatScan s;
    s.h.Size = size;
    s.h.Date = "12/03/98 14:25:36";
    s.h.Comment1 = "Si standard";
    s.h.Comment2 = "line two";
    s.h.Comment3 = "line three";
    s.h.CalName = calName;
    s.h.Voltage = "40";
    s.h.Current = "30";
    s.h.Wavelength = 1.54056;
    s.p.AcqTime = 600.0f;
    for (int i = 1; i <= size; ++i)
        s.d[i] = 100 + static_cast<int>(5000.0 * std::exp(-std::pow((i - size / 2.0) / 15.0, 2)));
    return s;
}

} // namespace rawdat::test

// The patterns drawn over the one in view: read through the conversion layer as the commands read
// them, with a state of their own, and never converted.
#pragma once

#include <qcustomplot.h>

#include <QString>
#include <QVector>

namespace rawdat {

struct OverlayPattern {
    QVector<QCPGraphData> points; // 2-theta (or channel) and counts, as the command plots them
    double wavelength = 0;        // angstroms; 0 when the header holds none
    bool channels = false;        // a DAT file without its calibration: x are channel numbers
};

// Reads the DAT or RAW file `path`; throws std::exception with the message to show when it cannot
// be read, and for a file that is neither.
OverlayPattern readOverlayPattern(const QString& path);

} // namespace rawdat

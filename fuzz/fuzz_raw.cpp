// Lect_RAW on any bytes: a defined result or a RawdatError with the records and the module
// untouched; the scan it reads is written again by Ecr_RAW and read back the same.
// (Entries of Data beyond Size are not part of the scan: a file of several ranges leaves the
// earlier ranges' counts there.)
#include "raw_checks.h"

#include <cmath>

using namespace rawdat;
using namespace rawdat::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static ScanRecords scan;
    static ScanRecords back;
    const Scratch& scratch = freshScratch();
    const std::string path = scratch.write("in.RAW", data, size);
    RawModule m;
    if (!readRaw(path, scan, m))
        return 0;
    if (!std::isfinite(m.RangeInfo.Start) || !std::isfinite(m.RangeInfo.Step))
        fault("Lect_RAW accepted a start or step that is not finite");
    // Written again (the wavelength of a RAW1 file may not fit the Single of RAW2: a defined error).
    checkRewrite(scratch, scan, m.RangeInfo, back);
    return 0;
}

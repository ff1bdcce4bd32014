// Lect_RAW on any bytes: a defined result or a RawdatError with the records and the module's
// RangeInfo untouched; the scan it reads is written again by Ecr_RAW and read back the same.
// (Entries of Data beyond Size are not part of the scan: a file of several ranges leaves the
// earlier ranges' counts there.)
#include "fmt_raw/raw.h"
#include "harness.h"

#include <cmath>

using namespace rawdat;
using namespace rawdat::fuzz;

namespace {

bool sameModule(const RawModule& a, const RawModule& b)
{
    return sameBits(a.RangeInfo.Start, b.RangeInfo.Start) && sameBits(a.RangeInfo.Stop, b.RangeInfo.Stop) &&
           sameBits(a.RangeInfo.Step, b.RangeInfo.Step) &&
           sameBits(a.RangeInfo.StepTime, b.RangeInfo.StepTime) && a.AnodeIndex == b.AnodeIndex;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static ScanRecords scan;
    static ScanRecords back;
    const Scratch& scratch = freshScratch();
    const std::string path = scratch.write("in.RAW", data, size);
    const RawModule markedModule{{-99.5f, -99.5f, -99.5f, -99.5f}, -7};
    RawModule m = markedModule;
    const bool read = readScan("Lect_RAW", scan, false, [&](ScanRecords& r) {
        Lect_RAW(m, path, r.h, r.p, r.d);
        return true;
    });
    if (!read) {
        if (!sameModule(m, markedModule))
            fault("Lect_RAW failed and changed RangeInfo");
        return 0;
    }
    const int n = scan.h.Size;
    if (!std::isfinite(m.RangeInfo.Start) || !std::isfinite(m.RangeInfo.Step))
        fault("Lect_RAW accepted a start or step that is not finite");

    // Written again (the wavelength of a RAW1 file may not fit the Single of RAW2: a defined error).
    const std::string again = scratch.path("again.RAW");
    if (!succeeds([&] { Ecr_RAW(m, again, scan.h, scan.d); }))
        return 0;
    RawModule mBack;
    back = marked();
    if (!succeeds([&] { Lect_RAW(mBack, again, back.h, back.p, back.d); }))
        fault("Lect_RAW failed on what Ecr_RAW wrote");
    if (back.h.Size != n || !sameCounts(back.d, scan.d, 1, n))
        fault("the counts of a RAW file changed through Ecr_RAW and Lect_RAW");
    if (!sameBits(mBack.RangeInfo.Start, m.RangeInfo.Start) ||
        !sameBits(mBack.RangeInfo.Step, m.RangeInfo.Step))
        fault("the start or step of a RAW file changed through Ecr_RAW and Lect_RAW");
    return 0;
}

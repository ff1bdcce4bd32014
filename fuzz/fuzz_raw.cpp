// Lect_RAW on any bytes: a defined result or a RawdatError with the records and the module's
// RangeInfo untouched; the scan it reads is written again by Ecr_RAW and read back the same.
// (Entries of Data beyond Size are not part of the scan: a file of several ranges leaves the
// earlier ranges' counts there.)
#include "harness.h"
#include "fmt_raw/raw.h"

#include <cmath>

using namespace rawdat;
using namespace rawdat::fuzz;

namespace {

bool sameModule(const RawModule& a, const RawModule& b)
{
    return sameBits(a.RangeInfo.Start, b.RangeInfo.Start) && sameBits(a.RangeInfo.Stop, b.RangeInfo.Stop) &&
           sameBits(a.RangeInfo.Step, b.RangeInfo.Step) && sameBits(a.RangeInfo.StepTime, b.RangeInfo.StepTime) &&
           a.AnodeIndex == b.AnodeIndex;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const ScanRecords marked = markedRecords();
    static ScanRecords scan;
    static ScanRecords back;
    const Scratch& scratch = freshScratch();
    const std::string path = scratch.write("in.RAW", data, size);
    const RawModule markedModule{{-99.5f, -99.5f, -99.5f, -99.5f}, -7};
    RawModule m = markedModule;
    scan = marked;

    if (!succeeds([&] { Lect_RAW(m, path, scan.h, scan.p, scan.d); })) {
        if (!sameRecords(scan, marked) || !sameModule(m, markedModule))
            fault("Lect_RAW failed and changed the records");
        return 0;
    }
    const int n = scan.h.Size;
    if (n < 0 || n > kDataCapacity)
        fault("Lect_RAW gave Size " + std::to_string(n));
    if (!std::isfinite(m.RangeInfo.Start) || !std::isfinite(m.RangeInfo.Step))
        fault("Lect_RAW accepted a start or step that is not finite");

    // Written again (the wavelength of a RAW1 file may not fit the Single of RAW2: a defined error).
    const std::string again = scratch.path("again.RAW");
    if (!succeeds([&] { Ecr_RAW(m, again, scan.h, scan.d); }))
        return 0;
    RawModule mBack;
    back = marked;
    if (!succeeds([&] { Lect_RAW(mBack, again, back.h, back.p, back.d); }))
        fault("Lect_RAW failed on what Ecr_RAW wrote");
    if (back.h.Size != n || !sameCounts(back.d, scan.d, 1, n))
        fault("the counts of a RAW file changed through Ecr_RAW and Lect_RAW");
    if (!sameBits(mBack.RangeInfo.Start, m.RangeInfo.Start) || !sameBits(mBack.RangeInfo.Step, m.RangeInfo.Step))
        fault("the start or step of a RAW file changed through Ecr_RAW and Lect_RAW");
    return 0;
}
